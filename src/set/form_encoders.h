#pragma once
// The encoder families behind the derived forms.  Each family writes a value
// the way one kind of encoder prints it, in a few fixed styles: one style per
// common encoder behaviour, never one per combination of choices, so a value
// full of special bytes still gets only a handful of forms per family.
//
// Every style function has the same shape: it writes the encoding of the
// `len` bytes at `in` into `out` and returns its length.  `out` must hold
// MAX_ENCODED_PER_BYTE * len bytes.  A return of 0 means the style has
// nothing to give for this value (a shell quoting that the shell would not
// choose for it, base64 of a byte or two); the caller passes nothing on then.
//
// The caller guarantees that MAX_ENCODED_PER_BYTE * len fits in 64 bits, so
// the position arithmetic inside the styles cannot wrap.

#include <cstdint>

namespace hush::set {

// The largest number of output bytes any style writes for one input byte:
// a control byte as a JSON "\u00XX", or '"' as the XML "&quot;".  Base64 writes
// at most 4 for 3, percent-encoding 3, the shell quotings 4 ("'\''", "\302").
inline constexpr std::uint64_t MAX_ENCODED_PER_BYTE = 6;

using EncodeStyle = std::uint64_t (*)(std::uint32_t style, const std::uint8_t *in, std::uint64_t len,
                                      std::uint8_t *out) noexcept;

// Base64 at byte alignment `style` (0, 1 or 2), without the characters that
// carry bits of neighbouring bytes and without padding: whatever surrounds
// the value in a longer blob, the blob's encoding contains this string.
inline constexpr std::uint32_t BASE64_STYLES = 3;
std::uint64_t encode_base64(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept;
std::uint64_t encode_base64url(std::uint32_t style, const std::uint8_t *in, std::uint64_t len,
                               std::uint8_t *out) noexcept;

// Percent-encoding: five sets of bytes kept as they are, each with upper-
// and lower-case hex (even styles upper).
inline constexpr std::uint32_t URL_STYLES = 10;
std::uint64_t encode_url(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept;

// The inside of a JSON string literal, as eight families of serialisers
// write it.
inline constexpr std::uint32_t JSON_STYLES = 8;
std::uint64_t encode_json(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept;

// XML and HTML text and attribute escaping, nine entity spellings.
inline constexpr std::uint32_t MARKUP_STYLES = 9;
std::uint64_t encode_markup(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept;

// What bash prints for the value inside one argument, without the outer
// quotes: single-quoted, backslash-escaped, and $'...' in the C and in a
// UTF-8 locale.
inline constexpr std::uint32_t SHELL_STYLES = 5;
std::uint64_t encode_shell(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept;

}  // namespace hush::set
