#pragma once
#include <cstdint>

namespace hush::core {

// Asks the kernel to back the whole 2 MiB pages inside [block, block +
// len) with huge pages, for large arrays read at random: one fault and one
// TLB entry per 2 MiB instead of per 4 KiB.  A hint only: it changes no
// byte, and where the platform has no such advice, or refuses it, nothing
// happens.  The one place that knows the platform's call.
void advise_huge_pages(void *block, std::uint64_t len) noexcept;

}  // namespace hush::core
