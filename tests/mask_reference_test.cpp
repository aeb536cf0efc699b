// hush_mask against the naive reference masker on thousands of seeded random
// cases, whole and streamed: cut at every single position and at random
// sets of cut points (empty chunks included).

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/masker_access.h"
#include "support/reference_masker.h"

namespace hush::core::testing {
namespace {

struct RandomCase {
  std::vector<Bytes> secrets;
  Bytes text;
  std::uint64_t max_stars;
};

// Small alphabets make overlaps, shared suffixes and failure chains common;
// byte 0x00 and 0xFF are letters like any other; every fourth case spreads
// first bytes over 20+ values so the root and inner nodes use tables.
RandomCase random_case(std::mt19937_64 &random, int round) {
  std::vector<char> alphabet;
  const int letters = 2 + round % 3;
  for (int i = 0; i < letters; ++i) alphabet.push_back(static_cast<char>('a' + i));
  if (round % 5 == 0) alphabet.push_back('\0');
  if (round % 7 == 0) alphabet.push_back('\xFF');
  auto pick = [&] { return alphabet[random() % alphabet.size()]; };

  RandomCase result;
  const std::size_t secrets = 1 + random() % 10;
  std::size_t longest = 1;
  for (std::size_t s = 0; s < secrets; ++s) {
    Bytes secret;
    const std::size_t len = 1 + random() % 8;
    for (std::size_t i = 0; i < len; ++i) secret.push_back(pick());
    longest = std::max(longest, len);
    result.secrets.push_back(secret);
  }
  if (round % 4 == 3) {
    for (int first = 0; first < 20; ++first) {
      result.secrets.push_back(Bytes(1, static_cast<char>('A' + first)) + pick() + pick());
      alphabet.push_back(static_cast<char>('A' + first));
    }
  }
  const std::size_t text_len = random() % 40;
  for (std::size_t i = 0; i < text_len; ++i) result.text.push_back(pick());
  result.max_stars = random() % 11;
  return result;
}

std::string describe(const RandomCase &test) {
  std::string text = "max_stars " + std::to_string(test.max_stars) + ", text '" + test.text + "', secrets";
  for (const Bytes &secret : test.secrets) text += " '" + secret + "'";
  return text;
}

std::size_t longest_secret(const std::vector<Bytes> &secrets) {
  std::size_t longest = 0;
  for (const Bytes &secret : secrets) longest = std::max(longest, secret.size());
  return longest;
}

TEST(MaskReference, WholeTextsMatchTheReference) {
  std::mt19937_64 random(1);
  for (int round = 0; round < 4000; ++round) {
    const RandomCase test = random_case(random, round);
    Handle handle = make_built(test.secrets);
    const MaskCall call = mask(handle, test.text, test.max_stars, false);
    ASSERT_EQ(call.status, 0);
    ASSERT_EQ(call.output, reference_mask(test.secrets, test.text, test.max_stars).output) << describe(test);
  }
}

TEST(MaskReference, StreamsCutAnywhereMatchTheWholeText) {
  std::mt19937_64 random(2);
  for (int round = 0; round < 1500; ++round) {
    const RandomCase test = random_case(random, round);
    const Bytes expected = reference_mask(test.secrets, test.text, test.max_stars).output;
    const std::size_t longest = longest_secret(test.secrets);
    Handle handle = make_built(test.secrets);

    // One cut at every position, then every byte on its own.
    for (std::size_t cut = 0; cut <= test.text.size(); ++cut) {
      std::size_t held = 0;
      ASSERT_EQ(stream_through(handle, test.text, {cut}, test.max_stars, &held), expected)
          << describe(test) << ", cut at " << cut;
      ASSERT_LE(held, longest);
      // A non-streaming empty text starts the next stream from the root.
      ASSERT_EQ(mask(handle, "", test.max_stars, false).status, 0);
    }
    std::vector<std::size_t> every;
    for (std::size_t cut = 1; cut < test.text.size(); ++cut) every.push_back(cut);
    ASSERT_EQ(stream_through(handle, test.text, every, test.max_stars), expected) << describe(test) << ", bytewise";
    ASSERT_EQ(mask(handle, "", test.max_stars, false).status, 0);

    // Random cut sets, repeated offsets giving empty chunks.
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<std::size_t> cuts(random() % 8);
      for (std::size_t &cut : cuts) cut = test.text.empty() ? 0 : random() % (test.text.size() + 1);
      std::sort(cuts.begin(), cuts.end());
      std::size_t held = 0;
      ASSERT_EQ(stream_through(handle, test.text, cuts, test.max_stars, &held), expected) << describe(test);
      ASSERT_LE(held, longest);
      ASSERT_EQ(mask(handle, "", test.max_stars, false).status, 0);
    }
  }
}

}  // namespace
}  // namespace hush::core::testing
