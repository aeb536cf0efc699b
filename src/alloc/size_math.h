#pragma once
// Size arithmetic that never wraps: every block size is computed here, and an
// answer that does not fit in 64 bits is reported as such so that the caller
// turns it into an allocation failure instead of a short block.

#include <cstdint>
#include <optional>

namespace hush::core {

[[nodiscard]] constexpr std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) noexcept {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

[[nodiscard]] constexpr std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) noexcept {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

// Capacity of a growable array that must hold `needed` entries of
// `entry_size` bytes: about one and a half times, plus 128 bytes' worth of
// entries so that small arrays do not grow one entry at a time.  Saturates at
// 2^64 - 1; the byte size is checked separately by the caller.
[[nodiscard]] constexpr std::uint64_t grown_capacity(std::uint64_t needed, std::uint64_t entry_size) noexcept {
  return checked_add(needed, needed / 2 + 128 / entry_size).value_or(UINT64_MAX);
}

}  // namespace hush::core
