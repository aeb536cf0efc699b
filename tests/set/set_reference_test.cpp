// hushset against the naive every-occurrence reference on thousands of
// seeded random cases with small alphabets (so forms nest and overlap
// everywhere), whole and streamed; and against hush_mask where the two
// rules agree.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "hushmask.h"
#include "set/set_support.h"
#include "support/occurrence_reference.h"

namespace hush::set::testing {
namespace {

struct RandomCase {
  std::vector<Bytes> forms;
  Bytes text;
  std::uint64_t max_stars;
};

// Two to four letters, sometimes 0x00 and 0xFF among them; every fourth
// case adds forms over 20 more first bytes, so that tables and lists of
// edges are walked too, and one in eight a long form that nests others.
RandomCase random_case(std::mt19937_64 &random, int round) {
  std::vector<char> alphabet;
  for (int i = 0; i < 2 + round % 3; ++i) alphabet.push_back(static_cast<char>('a' + i));
  if (round % 5 == 0) alphabet.push_back('\0');
  if (round % 7 == 0) alphabet.push_back('\xFF');
  auto pick = [&] { return alphabet[random() % alphabet.size()]; };
  auto word = [&](std::size_t len) {
    Bytes bytes;
    for (std::size_t i = 0; i < len; ++i) bytes.push_back(pick());
    return bytes;
  };
  RandomCase result;
  const std::size_t count = 1 + random() % 8;
  for (std::size_t i = 0; i < count; ++i) result.forms.push_back(word(1 + random() % 7));
  if (round % 4 == 3) {
    for (int first = 0; first < 20; ++first) {
      alphabet.push_back(static_cast<char>('A' + first));
      result.forms.push_back(Bytes(1, static_cast<char>('A' + first)) + pick() + pick());
    }
  }
  if (round % 8 == 5) result.forms.push_back(word(12 + random() % 20));
  result.text = word(random() % 48);
  result.max_stars = random() % 12;
  return result;
}

std::string describe(const RandomCase &test) {
  std::string text = "max_stars " + std::to_string(test.max_stars) + ", text '" + test.text + "', forms";
  for (const Bytes &form : test.forms) text += " '" + form + "'";
  return text;
}

TEST(SetReference, WholeTextsEqualTheReference) {
  std::mt19937_64 random(20261209);
  for (int round = 0; round < 6000; ++round) {
    const RandomCase test = random_case(random, round);
    const SetHandle set = make_set(test.forms, test.max_stars);
    const auto expected = core::testing::every_occurrence_mask(test.forms, test.text, test.max_stars);
    ASSERT_EQ(mask_whole(set.get(), test.text), expected.output) << describe(test);
  }
}

// Every single cut, then random cuts with empty writes; the outputs and the
// reported runs are the whole text's, and a second text on the same stream
// after hushset_finish starts afresh.
TEST(SetReference, StreamsEqualTheReferenceAtEveryCut) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 1500; ++round) {
    const RandomCase test = random_case(random, round);
    const SetHandle set = make_set(test.forms, test.max_stars);
    const StreamHandle stream(hushset_stream_new(set.get()));
    ASSERT_NE(stream, nullptr);
    const auto expected = core::testing::every_occurrence_mask(test.forms, test.text, test.max_stars);
    for (std::size_t cut = 0; cut <= test.text.size(); ++cut) {
      const StreamRecord record = stream_through(stream.get(), test.text, {cut});
      ASSERT_EQ(record.output, expected.output) << describe(test) << ", cut at " << cut;
      ASSERT_EQ(record.runs, expected.runs) << describe(test) << ", cut at " << cut;
    }
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<std::size_t> cuts;
      for (std::size_t n = random() % 8; n > 0; --n) cuts.push_back(random() % (test.text.size() + 1));
      std::sort(cuts.begin(), cuts.end());
      const StreamRecord record = stream_through(stream.get(), test.text, cuts);
      ASSERT_EQ(record.output, expected.output) << describe(test);
      ASSERT_EQ(record.runs, expected.runs) << describe(test);
    }
  }
}

// A set in which no form occurs inside another at a non-zero offset: both
// rules see the same matches, so hushset must give what hush_mask gives.
TEST(SetReference, AgreesWithTheEngineWithoutNesting) {
  std::mt19937_64 random(99);
  int compared = 0;
  for (int round = 0; compared < 2000; ++round) {
    RandomCase test = random_case(random, round);
    std::vector<Bytes> kept;
    for (const Bytes &form : test.forms) {
      auto nests = [&](const Bytes &inner, const Bytes &outer) {
        for (std::size_t at = outer.find(inner, 1); at != Bytes::npos; at = outer.find(inner, at + 1)) return true;
        return false;
      };
      if (std::none_of(kept.begin(), kept.end(),
                       [&](const Bytes &other) { return nests(form, other) || nests(other, form); })) {
        kept.push_back(form);
      }
    }
    test.forms = kept;
    ++compared;
    const SetHandle set = make_set(test.forms, test.max_stars);
    hush_masker *engine = hush_new();
    for (const Bytes &form : test.forms) ASSERT_EQ(hush_insert(engine, data_of(form), form.size()), 0);
    ASSERT_EQ(hush_build(engine), 0);
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    ASSERT_EQ(hush_mask(engine, data_of(test.text), test.text.size(), test.max_stars, 0, &out, &out_len), 0);
    const Bytes engine_output(reinterpret_cast<const char *>(out), out_len);
    hush_free(out, out_len);
    hush_destroy(engine);
    ASSERT_EQ(mask_whole(set.get(), test.text), engine_output) << describe(test);
  }
}

// A stream cut at c, with more forms added and the set rebuilt there.  The
// walk goes on from the node of its path u (the longest suffix of
// text[0, c) that begins an old form), so every old occurrence is masked,
// and a new one exactly when it ends at or after c (its last byte is walked
// by the rebuilt set) and begins at or after c - |u| (inside what the
// stream still held).
TEST(SetReference, FormsAddedMidStream) {
  std::mt19937_64 random(4242);
  for (int round = 0; round < 1500; ++round) {
    RandomCase test = random_case(random, round);
    const std::size_t old_count = 1 + random() % test.forms.size();
    const std::vector<Bytes> old_forms(test.forms.begin(), test.forms.begin() + static_cast<long>(old_count));
    const std::size_t cut = random() % (test.text.size() + 1);
    std::size_t path = 0;
    for (std::size_t len = 1; len <= cut; ++len) {
      const Bytes suffix = test.text.substr(cut - len, len);
      for (const Bytes &form : old_forms) {
        if (form.compare(0, len, suffix) == 0) path = len;
      }
    }
    const auto expected = core::testing::every_occurrence_mask(
        test.forms, test.text, test.max_stars, [&](std::size_t form, std::size_t start) {
          return form < old_count || (start >= cut - path && start + test.forms[form].size() > cut);
        });

    const SetHandle set = make_set(old_forms, test.max_stars);
    const StreamHandle stream(hushset_stream_new(set.get()));
    StreamRecord record;
    record_runs(stream.get(), record);
    write_exact(stream.get(), data_of(test.text), cut, record.output);
    for (std::size_t f = old_count; f < test.forms.size(); ++f) {
      ASSERT_EQ(hushset_add(set.get(), data_of(test.forms[f]), test.forms[f].size()), HUSHSET_OK);
    }
    ASSERT_EQ(hushset_build(set.get()), HUSHSET_OK);
    write_exact(stream.get(), data_of(test.text) + cut, test.text.size() - cut, record.output);
    finish_exact(stream.get(), record.output);
    ASSERT_EQ(record.output, expected.output) << describe(test) << ", " << old_count << " old forms, cut at " << cut;
    ASSERT_EQ(record.runs, expected.runs) << describe(test) << ", " << old_count << " old forms, cut at " << cut;
  }
}

}  // namespace
}  // namespace hush::set::testing
