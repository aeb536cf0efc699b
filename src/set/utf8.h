#pragma once
// Strict UTF-8 decoding for the encoders that treat characters, not bytes:
// JSON's \uXXXX escapes and the shell's printable-character test.  Strict as
// the encoders themselves are: overlong sequences, surrogates and code points
// above U+10FFFF are not characters, and those bytes are left to the caller
// (who copies them one by one, as encoders that pass invalid bytes through).

#include <cstdint>

namespace hush::set {

struct Utf8Char {
  std::uint32_t code_point;
  std::uint32_t length;  // bytes taken, 1 to 4; 0 when no valid character starts here
};

// The character starting at `bytes`, of which `avail` (at least 1) bytes
// may be read.
[[nodiscard]] constexpr Utf8Char decode_utf8(const std::uint8_t *bytes, std::uint64_t avail) noexcept {
  const std::uint32_t lead = bytes[0];
  if (lead < 0x80) return {lead, 1};
  // The lead byte gives the length, its payload bits and the smallest code
  // point of that length; 0x80..0xC1 and 0xF5..0xFF never start one.
  std::uint32_t length = 4;
  std::uint32_t code_point = lead & 0x07u;
  std::uint32_t smallest = 0x10000;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
    smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
    smallest = 0x800;
  } else if (lead < 0xF0 || lead > 0xF4) {
    return {0, 0};
  }
  if (avail < length) return {0, 0};
  for (std::uint32_t i = 1; i < length; ++i) {
    const std::uint32_t next = bytes[i];
    if ((next & 0xC0u) != 0x80u) return {0, 0};
    code_point = (code_point << 6) | (next & 0x3Fu);
  }
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < smallest || code_point > 0x10FFFF || surrogate) return {0, 0};
  return {code_point, length};
}

}  // namespace hush::set
