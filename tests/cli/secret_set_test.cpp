// The set of registered strings: lines, encoded forms, minimum length and
// repeats.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "encodings.h"
#include "secret_set.h"

namespace {

using hushcli::SecretSet;

SecretSet make_set(unsigned encodings, std::uint64_t min_length) {
  SecretSet set;
  set.encodings = encodings;
  set.min_length = min_length;
  return set;
}

std::vector<std::string> registered(const SecretSet &set) {
  std::vector<std::string> bytes;
  for (const auto &secret : set.secrets) bytes.push_back(secret.bytes);
  return bytes;
}

TEST(AddSecret, MultiLineSecretIsRegisteredWholeAndByLine) {
  SecretSet set = make_set(0, 4);
  hushcli::add_secret(set, "first-line\r\nsecond-line\n\nxy\nthird-line\n", "src");
  EXPECT_EQ(registered(set), (std::vector<std::string>{"first-line\r\nsecond-line\n\nxy\nthird-line\n", "first-line",
                                                       "second-line", "third-line"}));
  EXPECT_EQ(set.secrets[2].source, "line 2 of src");
  EXPECT_EQ(set.secrets[3].source, "line 5 of src");
  ASSERT_EQ(set.warnings.size(), 1u);
  EXPECT_EQ(set.warnings[0], "line 4 of src is 2 bytes long, shorter than --min-length 4: not masked");
}

TEST(AddSecret, EncodedFormsAreAddedOnceAndShortOnesWarned) {
  SecretSet set = make_set(hushcli::DEFAULT_ENCODINGS, 6);
  hushcli::add_secret(set, "plain-secret", "a");
  // Nothing to escape: url and json forms equal the secret and are dropped,
  // leaving the secret and its three base64 forms.
  EXPECT_EQ(set.secrets.size(), 4u);
  hushcli::add_secret(set, "plain-secret", "b");
  EXPECT_EQ(set.secrets.size(), 4u);

  SecretSet short_secret = make_set(hushcli::ENCODE_BASE64, 6);
  hushcli::add_secret(short_secret, "abcde", "short");  // too short: no forms, one warning
  ASSERT_EQ(short_secret.warnings.size(), 1u);
  EXPECT_EQ(short_secret.warnings[0], "short is 5 bytes long, shorter than --min-length 6: not masked");
  EXPECT_EQ(registered(short_secret), std::vector<std::string>{});
}

// No encoded form is shorter than its secret (base64 drops up to three edge
// characters but encodes four characters per three bytes), so a secret that
// is long enough never has a form left out.
TEST(AddSecret, EncodedFormsOfALongEnoughSecretAreNeverTooShort) {
  const unsigned all = hushcli::ENCODE_BASE64 | hushcli::ENCODE_BASE64URL | hushcli::ENCODE_URL | hushcli::ENCODE_JSON;
  for (std::size_t length = 2; length <= 24; ++length) {
    SecretSet set = make_set(all, length);
    hushcli::add_secret(set, std::string(length, '\xfb'), "s");
    EXPECT_EQ(set.warnings, std::vector<std::string>{}) << length;
  }
}

}  // namespace
