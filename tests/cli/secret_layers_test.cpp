// Splitting the registered strings into masking passes, and the search for
// strings inside other strings that it rests on, checked against a naive
// substring search.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "encodings.h"
#include "nesting.h"
#include "secret_layers.h"
#include "secret_set.h"

namespace {

using hushcli::RegisteredSecret;
using hushcli::SecretLayers;

std::vector<RegisteredSecret> plain_secrets(const std::vector<std::string> &bytes) {
  std::vector<RegisteredSecret> secrets;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    secrets.push_back(RegisteredSecret{bytes[i], "secret #" + std::to_string(i + 1), i});
  }
  return secrets;
}

// Every (inner, outer) pair with one entry per offset > 0, the slow way.
std::map<std::pair<std::size_t, std::size_t>, int> naive_nested_pairs(const std::vector<std::string> &strings) {
  std::map<std::pair<std::size_t, std::size_t>, int> pairs;
  for (std::size_t inner = 0; inner < strings.size(); ++inner) {
    if (strings[inner].empty()) continue;
    for (std::size_t outer = 0; outer < strings.size(); ++outer) {
      for (std::size_t at = strings[outer].find(strings[inner], 1); at != std::string::npos;
           at = strings[outer].find(strings[inner], at + 1)) {
        ++pairs[{inner, outer}];
      }
    }
  }
  return pairs;
}

// The layer of a string is one below its deepest container, capped; the
// slow way, by repeated relaxation until nothing changes.
std::vector<std::size_t> naive_layers(const std::vector<std::string> &strings, std::size_t max_layers) {
  std::vector<std::size_t> layers(strings.size(), 0);
  const auto pairs = naive_nested_pairs(strings);
  for (bool changed = true; changed;) {
    changed = false;
    for (const auto &[pair, count] : pairs) {
      const std::size_t wanted = std::min(layers[pair.second] + 1, max_layers - 1);
      if (wanted > layers[pair.first]) {
        layers[pair.first] = wanted;
        changed = true;
      }
    }
  }
  return layers;
}

std::string random_string(std::mt19937 &rng, std::string_view alphabet, std::size_t min_len, std::size_t max_len) {
  std::string bytes(std::uniform_int_distribution<std::size_t>(min_len, max_len)(rng), '\0');
  for (char &c : bytes) c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
  return bytes;
}

TEST(VisitNestedPairs, MatchesANaiveSearchOnRandomSets) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    // Two- and three-letter alphabets nest a lot, with repeats at several
    // offsets; the byte 0 and 0xff take part like any other.
    const std::string_view alphabet = round % 3 == 0 ? std::string_view("ab") : std::string_view("a\0\xff", 3);
    std::vector<std::string> strings;
    const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 12)(rng);
    for (std::size_t i = 0; i < count; ++i) strings.push_back(random_string(rng, alphabet, 0, 9));
    const std::vector<std::string_view> views(strings.begin(), strings.end());

    std::map<std::pair<std::size_t, std::size_t>, int> visited;
    std::size_t previous_outer_length = SIZE_MAX;
    const bool searched = hushcli::visit_nested_pairs(views, hushcli::NESTING_SEARCH_BUDGET,
                                                      [&](std::size_t inner, std::size_t outer) {
                                                        EXPECT_LE(strings[outer].size(), previous_outer_length);
                                                        previous_outer_length = strings[outer].size();
                                                        ++visited[{inner, outer}];
                                                      });
    ASSERT_TRUE(searched);
    EXPECT_EQ(visited, naive_nested_pairs(strings)) << "round " << round;
  }
}

TEST(VisitNestedPairs, RefusesASetOverTheBudgetWithoutVisiting) {
  const std::vector<std::string_view> strings = {"abcdef", "bcd", "cd"};
  int visits = 0;
  // Work: length 3 scans 6 bytes, length 2 scans 6 + 3.
  EXPECT_FALSE(hushcli::visit_nested_pairs(strings, 14, [&](std::size_t, std::size_t) { ++visits; }));
  EXPECT_EQ(visits, 0);
  EXPECT_TRUE(hushcli::visit_nested_pairs(strings, 15, [&](std::size_t, std::size_t) { ++visits; }));
  EXPECT_EQ(visits, 3);
}

TEST(SplitIntoLayers, Table) {
  struct Case {
    const char *name;
    std::vector<std::string> secrets;
    std::size_t max_layers;
    std::vector<std::size_t> expected_layers;
    std::size_t expected_warnings;
  };
  const Case cases[] = {
      {"no nesting: one layer", {"alpha-1", "bravo-2", "alpha", "lpha-1x"}, 8, {0, 0, 0, 0}, 0},
      {"prefix at offset 0 stays", {"abcd", "ab", "abc"}, 8, {0, 0, 0}, 0},
      {"suffix and middle go below", {"abcd", "bc", "cd"}, 8, {0, 1, 1}, 0},
      {"repeat inside itself", {"abab", "ab"}, 8, {0, 1}, 0},
      {"inner of an inner", {"xabcd", "abcd", "bc"}, 8, {0, 1, 2}, 0},
      // Depth follows the deepest container, not the first free layer: 'c'
      // sits in 'bcd' (layer 1) as well as in 'xxc' (layer 0).
      {"deepest container wins", {"abcd", "xxc", "bcd", "c"}, 8, {0, 0, 1, 2}, 0},
      {"eight deep fits", {"abcdefghij", "bcdefghij", "cdefghij", "defghij", "efghij", "fghij", "ghij", "hij"},
       8, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
      {"nine deep warns once", {"abcdefghij", "bcdefghij", "cdefghij", "defghij", "efghij", "fghij", "ghij",
                                "hij", "ij"},
       8, {0, 1, 2, 3, 4, 5, 6, 7, 7}, 1},
      {"one pass warns for every nesting", {"abcd", "bc", "cd", "ab"}, 1, {0, 0, 0, 0}, 2},
  };
  for (const Case &c : cases) {
    const SecretLayers layers = hushcli::split_into_layers(plain_secrets(c.secrets), c.max_layers);
    EXPECT_EQ(layers.layer_of, c.expected_layers) << c.name;
    EXPECT_EQ(layers.count, *std::max_element(c.expected_layers.begin(), c.expected_layers.end()) + 1) << c.name;
    EXPECT_EQ(layers.warnings.size(), c.expected_warnings) << c.name;
  }
}

TEST(SplitIntoLayers, HandlesRegisterTheirLayerAndEveryDeeperOne) {
  const auto secrets = plain_secrets({"xabcd", "abcd", "bc", "yyyy"});
  const SecretLayers layers = hushcli::split_into_layers(secrets);
  ASSERT_EQ(layers.count, 3u);
  using Strings = std::vector<std::string_view>;
  EXPECT_EQ(hushcli::strings_of_handle(secrets, layers, 0), (Strings{"xabcd", "abcd", "bc", "yyyy"}));
  EXPECT_EQ(hushcli::strings_of_handle(secrets, layers, 1), (Strings{"abcd", "bc"}));
  EXPECT_EQ(hushcli::strings_of_handle(secrets, layers, 2), (Strings{"bc"}));
}

TEST(SplitIntoLayers, MatchesNaiveLayersOnRandomSets) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> bytes;
    const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 14)(rng);
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(random_string(rng, "ab", 1, 10));
    std::sort(bytes.begin(), bytes.end());
    bytes.erase(std::unique(bytes.begin(), bytes.end()), bytes.end());  // the set keeps strings distinct
    const std::size_t max_layers = std::uniform_int_distribution<std::size_t>(1, 4)(rng);
    const SecretLayers layers = hushcli::split_into_layers(plain_secrets(bytes), max_layers);
    const std::vector<std::size_t> expected = naive_layers(bytes, max_layers);
    EXPECT_EQ(layers.layer_of, expected) << "round " << round;
    // A warning exactly for each string left beside a container in the last layer.
    std::size_t open = 0;
    const auto pairs = naive_nested_pairs(bytes);
    for (std::size_t inner = 0; inner < bytes.size(); ++inner) {
      open += std::any_of(pairs.begin(), pairs.end(), [&](const auto &entry) {
        return entry.first.first == inner && expected[entry.first.second] == max_layers - 1;
      });
    }
    EXPECT_EQ(layers.warnings.size(), open) << "round " << round;
  }
}

// A multi-line secret puts its later lines, and their encoded forms, below
// the whole; the warning of a single pass names sources and lengths only, once
// per plain secret.
TEST(SplitIntoLayers, MultiLineSecretsAndWarningText) {
  hushcli::SecretSet set;
  set.encodings = hushcli::DEFAULT_ENCODINGS;
  set.min_length = 4;
  hushcli::add_secret(set, "-----BEGIN-----\nLINE2SECRET\n-----END-----", "key");
  const SecretLayers layers = hushcli::split_into_layers(set.secrets);
  EXPECT_EQ(layers.count, 2u);
  EXPECT_EQ(layers.warnings, std::vector<std::string>{});
  for (std::size_t i = 0; i < set.secrets.size(); ++i) {
    const std::string &source = set.secrets[i].source;
    if (source == "key" || source == "line 1 of key") {
      EXPECT_EQ(layers.layer_of[i], 0u) << source;
    } else if (source == "line 2 of key" || source == "line 3 of key") {
      EXPECT_EQ(layers.layer_of[i], 1u) << source;
    }
  }

  const SecretLayers one_pass = hushcli::split_into_layers(set.secrets, 1);
  ASSERT_EQ(one_pass.warnings.size(), 2u);
  EXPECT_EQ(one_pass.warnings[0].rfind("line 2 of key (11 bytes) occurs inside key (41 bytes) but not at its start, "
                                       "in nesting deeper than 1 level: it stays unmasked",
                                       0),
            0u)
      << one_pass.warnings[0];
  for (const std::string &warning : one_pass.warnings) {
    EXPECT_EQ(warning.find("SECRET"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("-----"), std::string::npos) << warning;
  }
}

TEST(SplitIntoLayers, ASetTooBigToSearchStaysInOneLayerWithOneWarning) {
  const SecretLayers layers = hushcli::split_into_layers(plain_secrets({"abcd", "bc", "cd"}), 8, 1);
  EXPECT_EQ(layers.count, 1u);
  EXPECT_EQ(layers.layer_of, (std::vector<std::size_t>{0, 0, 0}));
  ASSERT_EQ(layers.warnings.size(), 1u);
  EXPECT_EQ(layers.warnings[0].rfind("3 registered strings are too many", 0), 0u) << layers.warnings[0];
}

}  // namespace
