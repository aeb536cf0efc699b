#include "set/form_encoders.h"

namespace hush::set {

namespace {

constexpr char STANDARD_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char URL_SAFE_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Think of the value as starting `alignment` bytes into a 3-byte group of a
// longer blob: the text T is `alignment` unknown bytes, then the value.
// Character j of T's encoding is 6-bit piece j % 4 of group j / 4.  The
// pieces before index `alignment + 1` (none for alignment 0) hold bits of the
// unknown bytes; the last piece that is all value bits ends at or before the
// 8 * |T|-th bit, so there are floor(8 |T| / 6) characters in all.  Working
// by groups and pieces rather than by bit offsets keeps every index below
// |T| + 2, which cannot wrap.
std::uint64_t encode_inner(std::uint32_t alignment, const std::uint8_t *in, std::uint64_t len, const char *alphabet,
                           std::uint8_t *out) noexcept {
  const std::uint64_t text_len = alignment + len;
  const std::uint64_t first = alignment == 0 ? 0 : alignment + 1;
  const std::uint64_t end = text_len / 3 * 4 + text_len % 3 * 4 / 3;
  auto byte_at = [&](std::uint64_t index) -> std::uint32_t {
    // Unknown bytes and bytes past the value only feed pieces left out.
    if (index < alignment || index - alignment >= len) return 0;
    return in[index - alignment];
  };
  std::uint64_t written = 0;
  for (std::uint64_t j = first; j < end; ++j) {
    const std::uint64_t group = 3 * (j / 4);
    const std::uint32_t group_bits = (byte_at(group) << 16) | (byte_at(group + 1) << 8) | byte_at(group + 2);
    const std::uint32_t piece = (group_bits >> (18 - 6 * (j % 4))) & 63u;
    out[written++] = static_cast<std::uint8_t>(alphabet[piece]);
  }
  return written;
}

}  // namespace

std::uint64_t encode_base64(std::uint32_t style, const std::uint8_t *in, std::uint64_t len,
                            std::uint8_t *out) noexcept {
  return encode_inner(style, in, len, STANDARD_ALPHABET, out);
}

std::uint64_t encode_base64url(std::uint32_t style, const std::uint8_t *in, std::uint64_t len,
                               std::uint8_t *out) noexcept {
  return encode_inner(style, in, len, URL_SAFE_ALPHABET, out);
}

}  // namespace hush::set
