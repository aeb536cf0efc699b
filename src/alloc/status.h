#pragma once
// Outcome of every internal routine that can run out of resources.  The only
// failures the library knows are exhausted heap memory and an exhausted node
// index space; both surface to the host as -1.

#include <cstdint>

namespace hush::core {

// clang-format misreads an attributed enum as a braced initialiser.
// clang-format off
enum class [[nodiscard]] Status : std::int32_t { ok = 0, failed = -1 };
// clang-format on

[[nodiscard]] constexpr bool failed(Status status) noexcept { return status != Status::ok; }

}  // namespace hush::core
