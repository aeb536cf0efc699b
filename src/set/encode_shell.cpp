#include <cstring>

#include "set/form_encoders.h"
#include "set/utf8.h"

namespace hush::set {

namespace {

enum ShellStyle : std::uint32_t {
  // 'it'\''s': ${V@Q} of a printable value, and set -x for any value with a
  // blank or another shell metacharacter, control bytes and all.
  single_quoted,
  // 'it'"'"'s': the same quoting as programs write it that build shell
  // command lines (Python's shlex.quote and shlex.join among them).
  single_quoted_double_quote,
  // it\'s: printf %q of a printable value.
  backslashed,
  // $'it\'s\n': ${V@Q}, printf %q, and set -x without metacharacters, for a
  // value that is not printable in the locale; one spelling for the C locale
  // (every byte above 0x7F in octal) and one for a UTF-8 locale (printable
  // characters as they are).
  ansi_c_locale,
  ansi_utf8_locale,
};
static_assert(ansi_utf8_locale + 1 == SHELL_STYLES);

// Whether the C library of a UTF-8 locale counts the character as printable.
// It does not for the C1 controls, the line and paragraph separators, the
// noncharacters, nor for code points that are unassigned; the last would
// take the Unicode tables to tell, so they count as printable here, and a
// value holding one misses only its UTF-8 $'...' spelling.
constexpr bool printable_code_point(std::uint32_t code_point) noexcept {
  if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) return false;
  if (code_point == 0x2028 || code_point == 0x2029) return false;
  if (code_point >= 0xFDD0 && code_point <= 0xFDEF) return false;
  return (code_point & 0xFFFEu) != 0xFFFEu;
}

bool printable_ascii(const std::uint8_t *in, std::uint64_t len) noexcept {
  for (std::uint64_t i = 0; i < len; ++i) {
    if (in[i] < 0x20 || in[i] >= 0x7F) return false;
  }
  return true;
}

bool printable_utf8(const std::uint8_t *in, std::uint64_t len) noexcept {
  std::uint64_t i = 0;
  while (i < len) {
    const Utf8Char c = decode_utf8(in + i, len - i);
    if (c.length == 0 || !printable_code_point(c.code_point)) return false;
    i += c.length;
  }
  return true;
}

// A value inside single quotes, each quote in it written as `quote`: the
// quotes close, a quote stands on its own, the quotes open again.
std::uint64_t quote_single(const std::uint8_t *in, std::uint64_t len, const char *quote, std::uint8_t *out) noexcept {
  const std::size_t quote_len = std::strlen(quote);
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    if (in[i] == '\'') {
      std::memcpy(out + written, quote, quote_len);
      written += quote_len;
    } else {
      out[written++] = in[i];
    }
  }
  return written;
}

bool holds_quote(const std::uint8_t *in, std::uint64_t len) noexcept {
  return len != 0 && std::memchr(in, '\'', static_cast<std::size_t>(len)) != nullptr;
}

// The bytes printf %q escapes wherever they stand: blanks, quotes, and the
// characters of operators, globs, expansions and brace lists.
constexpr char BACKSLASHED[] = " '\"\\|&;()<>!{}*[?]^$`,";

// printf %q also escapes '~' where tilde expansion could see it: at the start of
// the word and after '=' or ':'; and '#' at the start.  The form stands for
// the value anywhere inside an argument, so its first byte is left bare: the
// escaped spelling of a whole argument still contains it.
std::uint64_t quote_backslash(const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept {
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    const std::uint8_t byte = in[i];
    bool escaped = byte != 0 && std::strchr(BACKSLASHED, byte) != nullptr;
    if (byte == '~') escaped = i > 0 && (in[i - 1] == '=' || in[i - 1] == ':');
    if (escaped) out[written++] = '\\';
    out[written++] = byte;
  }
  return written;
}

std::uint64_t quote_ansi_c(const std::uint8_t *in, std::uint64_t len, bool utf8_locale, std::uint8_t *out) noexcept {
  std::uint64_t written = 0;
  std::uint64_t i = 0;
  while (i < len) {
    const std::uint8_t byte = in[i];
    char letter = 0;
    switch (byte) {
      case 0x1B: letter = 'E'; break;
      case '\a': letter = 'a'; break;
      case '\b': letter = 'b'; break;
      case '\f': letter = 'f'; break;
      case '\n': letter = 'n'; break;
      case '\r': letter = 'r'; break;
      case '\t': letter = 't'; break;
      case '\v': letter = 'v'; break;
      case '\\': letter = '\\'; break;
      case '\'': letter = '\''; break;
      default: break;
    }
    if (letter != 0) {
      out[written++] = '\\';
      out[written++] = static_cast<std::uint8_t>(letter);
      ++i;
      continue;
    }
    if (byte >= 0x80 && utf8_locale) {
      const Utf8Char c = decode_utf8(in + i, len - i);
      if (c.length != 0 && printable_code_point(c.code_point)) {
        for (std::uint32_t k = 0; k < c.length; ++k) out[written + k] = in[i + k];
        written += c.length;
        i += c.length;
        continue;
      }
    }
    if (byte < 0x20 || byte >= 0x7F) {
      // Byte by byte, also inside a character that is not printable: the
      // shell does the same.
      out[written++] = '\\';
      out[written++] = static_cast<std::uint8_t>('0' + (byte >> 6));
      out[written++] = static_cast<std::uint8_t>('0' + ((byte >> 3) & 7u));
      out[written++] = static_cast<std::uint8_t>('0' + (byte & 7u));
    } else {
      out[written++] = byte;
    }
    ++i;
  }
  return written;
}

}  // namespace

std::uint64_t encode_shell(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept {
  // The shell picks $'...' when some character is not printable in its
  // locale, and plain or backslash quoting otherwise; a spelling it would
  // not pick for this value is not registered.
  switch (style) {
    case single_quoted: return quote_single(in, len, "'\\''", out);
    case single_quoted_double_quote: return holds_quote(in, len) ? quote_single(in, len, "'\"'\"'", out) : 0;
    case backslashed: return printable_utf8(in, len) ? quote_backslash(in, len, out) : 0;
    case ansi_c_locale: return printable_ascii(in, len) ? 0 : quote_ansi_c(in, len, false, out);
    case ansi_utf8_locale: return printable_utf8(in, len) ? 0 : quote_ansi_c(in, len, true, out);
    default: return 0;
  }
}

}  // namespace hush::set
