// Encoded forms of a secret, checked against an independent base64 encoder
// and against hand-written escapes.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "encodings.h"

namespace {

using hushcli::base64_inner;

// Textbook base64: groups of three bytes, "=" padding.
std::string reference_base64(const std::string &bytes, std::string_view alphabet) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = 0;
    const std::size_t take = std::min<std::size_t>(3, bytes.size() - i);
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < take ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      out += j <= take ? alphabet[(group >> (18 - 6 * j)) & 63u] : '=';
    }
  }
  return out;
}

std::string random_bytes(std::mt19937 &rng, std::size_t length) {
  std::string bytes;
  for (std::size_t i = 0; i < length; ++i) bytes += static_cast<char>(rng() & 0xFFu);
  return bytes;
}

// The inner form is exactly what every surrounding agrees on: encode the
// secret between neighbours whose bits are all 0 and all 1; the characters
// that agree (padding aside) are the secret's own, and they must be one
// contiguous stretch equal to base64_inner.  Any surrounding then contains it.
TEST(Base64Inner, IsTheStretchEverySurroundingAgreesOn) {
  std::mt19937 rng(1208);
  for (std::string_view alphabet : {hushcli::BASE64_ALPHABET, hushcli::BASE64URL_ALPHABET}) {
    for (std::size_t length = 0; length <= 13; ++length) {
      for (unsigned alignment = 0; alignment < 3; ++alignment) {
        const std::string secret = random_bytes(rng, length);
        const std::string inner = base64_inner(secret, alignment, alphabet);
        const std::string zeros = reference_base64(std::string(alignment, '\0') + secret + std::string(2, '\0'), alphabet);
        const std::string ones = reference_base64(std::string(alignment, '\xff') + secret + std::string(2, '\xff'), alphabet);
        std::size_t first = zeros.size(), last = 0;
        for (std::size_t i = 0; i < zeros.size(); ++i) {
          if (zeros[i] == ones[i] && zeros[i] != '=') {
            first = std::min(first, i);
            last = i + 1;
          }
        }
        const std::string agreed = first < last ? zeros.substr(first, last - first) : std::string();
        EXPECT_EQ(inner, agreed) << "length " << length << " alignment " << alignment;

        for (int trial = 0; trial < 4; ++trial) {
          const std::string prefix = random_bytes(rng, alignment + 3 * (rng() % 3));
          const std::string suffix = random_bytes(rng, rng() % 4);
          EXPECT_NE(reference_base64(prefix + secret + suffix, alphabet).find(inner), std::string::npos);
        }
      }
    }
  }
}

TEST(PercentEncode, EscapesAllButUnreservedInEitherCase) {
  struct Case {
    std::string secret, upper, lower;
  };
  const Case cases[] = {
      {"plain-Text_0.9~", "plain-Text_0.9~", "plain-Text_0.9~"},
      {"a b/c:d@e%", "a%20b%2Fc%3Ad%40e%25", "a%20b%2fc%3ad%40e%25"},
      {std::string("\0\xff\n", 3), "%00%FF%0A", "%00%ff%0a"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(hushcli::percent_encode(c.secret, true), c.upper);
    EXPECT_EQ(hushcli::percent_encode(c.secret, false), c.lower);
  }
}

TEST(JsonEscape, WritesTheSecretAsInsideAJsonString) {
  struct Case {
    std::string secret, escaped, slash_escaped;
  };
  const Case cases[] = {
      {"plain", "plain", "plain"},
      {"a\"b\\c/d", "a\\\"b\\\\c/d", "a\\\"b\\\\c\\/d"},
      {"\b\f\n\r\t", "\\b\\f\\n\\r\\t", "\\b\\f\\n\\r\\t"},
      {std::string("\0\x1f\x7f\xc3\xa9", 5), "\\u0000\\u001f\x7f\xc3\xa9", "\\u0000\\u001f\x7f\xc3\xa9"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(hushcli::json_escape(c.secret, false), c.escaped);
    EXPECT_EQ(hushcli::json_escape(c.secret, true), c.slash_escaped);
  }
}

TEST(DeriveForms, FollowsTheSelectedEncodings) {
  using namespace hushcli;
  const struct {
    unsigned encodings;
    std::size_t count;
  } cases[] = {{0, 0}, {ENCODE_BASE64, 3}, {ENCODE_BASE64URL, 3}, {ENCODE_URL, 2}, {ENCODE_JSON, 2},
               {DEFAULT_ENCODINGS, 7}, {ENCODE_BASE64 | ENCODE_BASE64URL | ENCODE_URL | ENCODE_JSON, 10}};
  for (const auto &c : cases) {
    const auto forms = derive_forms("a/b c\"d", c.encodings);
    EXPECT_EQ(forms.size(), c.count) << c.encodings;
    for (const auto &form : forms) EXPECT_FALSE(form.kind.empty());
  }
}

}  // namespace
