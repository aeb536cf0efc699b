#pragma once
#include <cstdint>

namespace hush::core {

// Usable bytes of a block from malloc/realloc: at least what was asked for.
// The one place that knows the platform's name for it.
[[nodiscard]] std::uint64_t heap_usable_size(void *block) noexcept;

}  // namespace hush::core
