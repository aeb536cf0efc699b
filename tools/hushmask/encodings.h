// Encoded forms of a secret, as they appear in logs that print the secret
// inside base64 blobs, URLs or JSON documents.
#ifndef HUSHMASK_CLI_ENCODINGS_H
#define HUSHMASK_CLI_ENCODINGS_H

#include <string>
#include <string_view>
#include <vector>

namespace hushcli {

// Bits of the --encodings set.
enum Encoding : unsigned {
  ENCODE_BASE64 = 1u << 0,
  ENCODE_BASE64URL = 1u << 1,
  ENCODE_URL = 1u << 2,
  ENCODE_JSON = 1u << 3,
};
inline constexpr unsigned DEFAULT_ENCODINGS = ENCODE_BASE64 | ENCODE_URL | ENCODE_JSON;

inline constexpr std::string_view BASE64_ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr std::string_view BASE64URL_ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The base64 characters that `secret` alone decides when it starts
// `alignment` (0, 1 or 2) bytes into a 3-byte group of a longer text.  The
// characters that also carry bits of the neighbouring bytes are left out at
// both ends, and so is padding: whatever surrounds the secret, its encoding
// contains this string.  It is empty for secrets of a byte or two.
std::string base64_inner(std::string_view secret, unsigned alignment, std::string_view alphabet);

// Percent-encoding: every byte outside the unreserved set A-Z a-z 0-9 - . _ ~
// becomes "%" and two hex digits, upper or lower case.
std::string percent_encode(std::string_view secret, bool upper_hex);

// The secret as it stands between the quotes of a JSON string: '"' and '\'
// and the control bytes escaped ("\n" and the other short forms, else
// "\u00xx"), every other byte as it is.  With `escape_slash`, "/" is written
// "\/" as some serialisers do.
std::string json_escape(std::string_view secret, bool escape_slash);

struct DerivedForm {
  std::string bytes;
  std::string kind;  // names the encoding, e.g. "base64 form at byte offset 1"
};

// Every encoded form of `secret` selected by `encodings` (bits of Encoding),
// in a fixed order.  A form may equal the secret or another form (a secret
// with nothing to escape) or be empty; the caller removes those.
std::vector<DerivedForm> derive_forms(std::string_view secret, unsigned encodings);

}  // namespace hushcli

#endif
