#include "set/form_encoders.h"
#include "set/utf8.h"

namespace hush::set {

namespace {

// What sets one serialiser's strings apart from another's.  Every style
// escapes '"', '\\' and the control bytes (\n \r \t short, the others as
// \u00XX); bytes that are not valid UTF-8 are copied, since encoders that
// accept them either pass them through or replace them with U+FFFD, and a
// replacement keeps nothing of the secret to find.
struct JsonStyle {
  bool escape_slash;  // "/" as "\/"
  bool ascii_only;    // non-ASCII as \uXXXX (surrogate pairs above U+FFFF), DEL as \u007f
  bool upper_hex;     // \u001F rather than \u001f
  bool html_safe;     // < > & U+2028 U+2029 as \u003c \u003e \u0026 \u2028 \u2029
  bool short_b_f;     // backspace and form feed as \b \f; else \u0008 \u000c
};

constexpr JsonStyle JSON_STYLE_TABLE[JSON_STYLES] = {
    // JSON.stringify, Python with ensure_ascii=False, serde_json.
    {false, false, false, false, true},
    // The same with "\/", as PHP with JSON_UNESCAPED_UNICODE.
    {true, false, false, false, true},
    // Python's json.dumps by default.
    {false, true, false, false, true},
    // PHP's json_encode by default.
    {true, true, false, false, true},
    // ASCII-only with upper-case hex, as Jackson escaping non-ASCII.
    {false, true, true, false, true},
    // Jackson by default: control bytes in upper-case hex.
    {false, false, true, false, true},
    // Go's encoding/json by default, from Go 1.22 on.
    {false, false, false, true, true},
    // Go's encoding/json by default before Go 1.22, which had no \b or \f.
    {false, false, false, true, false},
};

std::uint64_t put_u_escape(std::uint8_t *out, std::uint32_t unit, const char *digits) noexcept {
  out[0] = '\\';
  out[1] = 'u';
  out[2] = static_cast<std::uint8_t>(digits[(unit >> 12) & 15u]);
  out[3] = static_cast<std::uint8_t>(digits[(unit >> 8) & 15u]);
  out[4] = static_cast<std::uint8_t>(digits[(unit >> 4) & 15u]);
  out[5] = static_cast<std::uint8_t>(digits[unit & 15u]);
  return 6;
}

std::uint64_t put_short_escape(std::uint8_t *out, char letter) noexcept {
  out[0] = '\\';
  out[1] = static_cast<std::uint8_t>(letter);
  return 2;
}

}  // namespace

std::uint64_t encode_json(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept {
  const JsonStyle &chosen = JSON_STYLE_TABLE[style];
  const char *digits = chosen.upper_hex ? "0123456789ABCDEF" : "0123456789abcdef";
  std::uint64_t written = 0;
  std::uint64_t i = 0;
  while (i < len) {
    const std::uint8_t byte = in[i];
    if (byte >= 0x80) {
      const Utf8Char c = decode_utf8(in + i, len - i);
      if (c.length == 0) {
        out[written++] = byte;
        ++i;
        continue;
      }
      const bool line_separator = c.code_point == 0x2028 || c.code_point == 0x2029;
      if (chosen.ascii_only && c.code_point > 0xFFFF) {
        // UTF-16 surrogate pair.
        const std::uint32_t above = c.code_point - 0x10000;
        written += put_u_escape(out + written, 0xD800 + (above >> 10), digits);
        written += put_u_escape(out + written, 0xDC00 + (above & 0x3FFu), digits);
      } else if (chosen.ascii_only || (chosen.html_safe && line_separator)) {
        written += put_u_escape(out + written, c.code_point, digits);
      } else {
        for (std::uint32_t k = 0; k < c.length; ++k) out[written + k] = in[i + k];
        written += c.length;
      }
      i += c.length;
      continue;
    }
    switch (byte) {
      case '"': written += put_short_escape(out + written, '"'); break;
      case '\\': written += put_short_escape(out + written, '\\'); break;
      case '\n': written += put_short_escape(out + written, 'n'); break;
      case '\r': written += put_short_escape(out + written, 'r'); break;
      case '\t': written += put_short_escape(out + written, 't'); break;
      case '\b':
        written += chosen.short_b_f ? put_short_escape(out + written, 'b') : put_u_escape(out + written, byte, digits);
        break;
      case '\f':
        written += chosen.short_b_f ? put_short_escape(out + written, 'f') : put_u_escape(out + written, byte, digits);
        break;
      case '/':
        if (chosen.escape_slash) {
          written += put_short_escape(out + written, '/');
        } else {
          out[written++] = byte;
        }
        break;
      default: {
        const bool escaped = byte < 0x20 || (byte == 0x7F && chosen.ascii_only) ||
                             (chosen.html_safe && (byte == '<' || byte == '>' || byte == '&'));
        if (escaped) {
          written += put_u_escape(out + written, byte, digits);
        } else {
          out[written++] = byte;
        }
      }
    }
    ++i;
  }
  return written;
}

}  // namespace hush::set
