#include "encodings.h"

#include <cstdint>

namespace hushcli {

std::string base64_inner(std::string_view secret, unsigned alignment, std::string_view alphabet) {
  // Think of the text as `alignment` unknown bytes followed by the secret.
  // Character i of its encoding holds bits 6i .. 6i+5 of that text.  The
  // first character made of secret bits only is the one starting at or after
  // bit 8 * alignment; the last is the one ending at or before the secret's
  // last bit.
  const std::uint64_t lead_bits = 8u * std::uint64_t{alignment};
  const std::uint64_t end_bits = lead_bits + 8u * secret.size();
  const std::uint64_t first = (lead_bits + 5) / 6;
  const std::uint64_t last = end_bits / 6;  // one past the last character
  auto byte_at = [&](std::uint64_t index) -> unsigned {
    if (index < alignment) return 0;  // never read: those characters are skipped
    index -= alignment;
    return index < secret.size() ? static_cast<unsigned char>(secret[index]) : 0u;
  };
  std::string encoded;
  if (last > first) encoded.reserve(last - first);
  for (std::uint64_t i = first; i < last; ++i) {
    const std::uint64_t bit = 6 * i;
    const std::uint64_t byte = bit / 8;
    // The 6 bits start `bit % 8` bits into a 16-bit window of two bytes.
    const unsigned window = (byte_at(byte) << 8) | byte_at(byte + 1);
    const unsigned value = (window >> (10 - bit % 8)) & 63u;
    encoded += alphabet[value];
  }
  return encoded;
}

std::string percent_encode(std::string_view secret, bool upper_hex) {
  const char *digits = upper_hex ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string encoded;
  encoded.reserve(secret.size());
  for (char c : secret) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                            byte == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += digits[byte >> 4];
      encoded += digits[byte & 15u];
    }
  }
  return encoded;
}

std::string json_escape(std::string_view secret, bool escape_slash) {
  std::string escaped;
  escaped.reserve(secret.size());
  for (char c : secret) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"': escaped += "\\\""; break;
      case '\\': escaped += "\\\\"; break;
      case '\b': escaped += "\\b"; break;
      case '\f': escaped += "\\f"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\t': escaped += "\\t"; break;
      case '/':
        escaped += escape_slash ? "\\/" : "/";
        break;
      default:
        if (byte < 0x20) {
          escaped += "\\u00";
          escaped += "0123456789abcdef"[byte >> 4];
          escaped += "0123456789abcdef"[byte & 15u];
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

std::vector<DerivedForm> derive_forms(std::string_view secret, unsigned encodings) {
  std::vector<DerivedForm> forms;
  auto add_base64 = [&](std::string_view alphabet, std::string_view name) {
    for (unsigned alignment = 0; alignment < 3; ++alignment) {
      forms.push_back({base64_inner(secret, alignment, alphabet),
                       std::string(name) + " form at byte offset " + std::to_string(alignment)});
    }
  };
  if (encodings & ENCODE_BASE64) add_base64(BASE64_ALPHABET, "base64");
  if (encodings & ENCODE_BASE64URL) add_base64(BASE64URL_ALPHABET, "base64url");
  if (encodings & ENCODE_URL) {
    forms.push_back({percent_encode(secret, true), "url form (upper-case hex)"});
    forms.push_back({percent_encode(secret, false), "url form (lower-case hex)"});
  }
  if (encodings & ENCODE_JSON) {
    forms.push_back({json_escape(secret, false), "json form"});
    forms.push_back({json_escape(secret, true), "json form with \\/"});
  }
  return forms;
}

}  // namespace hushcli
