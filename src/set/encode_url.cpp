#include "set/form_encoders.h"

namespace hush::set {

namespace {

// The sets of bytes that percent-encoders keep as they are.  Letters and
// digits are always kept.
enum class UrlKeep : std::uint8_t {
  unreserved,  // - . _ ~ : quoting with no safe characters, rawurlencode, EscapeDataString
  path,        // unreserved and / : the default of Python's quote
  component,   // unreserved and ! ' ( ) * : encodeURIComponent
  form,        // unreserved, space as + : quote_plus, urlencode, Go's QueryEscape
  html_form,   // - . _ * , space as + (~ escaped) : browsers' form submission, Java's URLEncoder
};

struct UrlStyle {
  UrlKeep keep;
  bool upper_hex;
};

constexpr UrlStyle URL_STYLE_TABLE[URL_STYLES] = {
    {UrlKeep::unreserved, true}, {UrlKeep::unreserved, false}, {UrlKeep::path, true}, {UrlKeep::path, false},
    {UrlKeep::component, true},  {UrlKeep::component, false},  {UrlKeep::form, true}, {UrlKeep::form, false},
    {UrlKeep::html_form, true},  {UrlKeep::html_form, false},
};

constexpr bool is_alphanumeric(std::uint8_t byte) noexcept {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
}

constexpr bool kept(UrlKeep keep, std::uint8_t byte) noexcept {
  if (is_alphanumeric(byte) || byte == '-' || byte == '.' || byte == '_') return true;
  switch (keep) {
    case UrlKeep::unreserved:
    case UrlKeep::form: return byte == '~';
    case UrlKeep::path: return byte == '~' || byte == '/';
    case UrlKeep::component:
      return byte == '~' || byte == '!' || byte == '\'' || byte == '(' || byte == ')' || byte == '*';
    case UrlKeep::html_form: return byte == '*';
  }
  return false;
}

}  // namespace

std::uint64_t encode_url(std::uint32_t style, const std::uint8_t *in, std::uint64_t len, std::uint8_t *out) noexcept {
  const UrlStyle &chosen = URL_STYLE_TABLE[style];
  const char *digits = chosen.upper_hex ? "0123456789ABCDEF" : "0123456789abcdef";
  const bool space_as_plus = chosen.keep == UrlKeep::form || chosen.keep == UrlKeep::html_form;
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    const std::uint8_t byte = in[i];
    if (kept(chosen.keep, byte)) {
      out[written++] = byte;
    } else if (byte == ' ' && space_as_plus) {
      out[written++] = '+';
    } else {
      out[written++] = '%';
      out[written++] = static_cast<std::uint8_t>(digits[byte >> 4]);
      out[written++] = static_cast<std::uint8_t>(digits[byte & 15u]);
    }
  }
  return written;
}

}  // namespace hush::set
