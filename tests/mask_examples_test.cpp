// Hand-worked masking cases: whole texts as a table, streams as sequences of
// chunks with the output and held-back bytes expected after each call.

#include <gtest/gtest.h>

#include "support/masker_access.h"
#include "support/recording_allocator.h"

namespace hush::core::testing {
namespace {

struct WholeCase {
  const char *name;
  std::vector<Bytes> secrets;
  Bytes text;
  std::uint64_t max_stars;
  Bytes expected;
};

TEST(MaskExamples, WholeTexts) {
  const Bytes binary_secret = bytes({0, 0xFF, 0});
  const std::vector<WholeCase> cases = {
      {"stars 0 removes", {"abc"}, "xxabcxx", 0, "xxxx"},
      {"stars 1", {"abc"}, "xxabcxx", 1, "xx*xx"},
      {"stars 2", {"abc"}, "xxabcxx", 2, "xx**xx"},
      {"stars 3", {"abc"}, "xxabcxx", 3, "xx***xx"},
      {"stars 9", {"abc"}, "xxabcxx", 9, "xx***xx"},
      {"overlap chain, 3", {"abab"}, "ababab", 3, "***"},
      {"overlap chain, 5", {"abab"}, "ababab", 5, "*****"},
      {"overlap chain, 6", {"abab"}, "ababab", 6, "******"},
      {"overlap chain, 60", {"abab"}, "ababab", 60, "******"},
      {"touching matches are two runs", {"ab", "cd"}, "abcd", 1, "**"},
      {"touching matches removed", {"ab", "cd"}, "abcd", 0, ""},
      {"three-secret chain, 2", {"abc", "cde", "efg"}, "xabcdefgx", 2, "x**x"},
      {"three-secret chain, 5", {"abc", "cde", "efg"}, "xabcdefgx", 5, "x*****x"},
      {"three-secret chain, 10", {"abc", "cde", "efg"}, "xabcdefgx", 10, "x*******x"},
      {"single byte twice", {"a"}, "aa", 1, "**"},
      {"single byte removed", {"a"}, "aa", 0, ""},
      {"run of three, 1", {"aa"}, "aaa", 1, "*"},
      {"run of three, 2", {"aa"}, "aaa", 2, "**"},
      {"run of three, 3", {"aa"}, "aaa", 3, "***"},
      {"found through a failure link", {"bcd", "abce"}, "abcd", 3, "a***"},
      {"nested secret inside a partial match", {"abcd", "bc"}, "abce", 3, "abce"},
      {"nested secret alone", {"abcd", "bc"}, "xbcx", 2, "x**x"},
      {"binary bytes", {binary_secret}, bytes({1, 0, 0xFF, 0, 1}), 3, bytes({1, '*', '*', '*', 1})},
      {"nothing to mask", {"secret"}, "plain text", 3, "plain text"},
      {"whole text removed", {"secret"}, "secret", 0, ""},
      {"empty text", {"secret"}, "", 3, ""},
      {"no secrets", {}, "abc", 3, "abc"},
  };
  for (const WholeCase &test : cases) {
    Handle handle = make_built(test.secrets);
    const MaskCall call = mask(handle, test.text, test.max_stars, false);
    EXPECT_EQ(call.status, 0) << test.name;
    EXPECT_EQ(call.output, test.expected) << test.name;
    EXPECT_EQ(reminder_of(handle), "") << test.name;
  }
}

TEST(MaskExamples, NothingIsMaskedBeforeBuild) {
  Handle handle = make_handle();
  ASSERT_EQ(insert(handle, "abc"), 0);
  EXPECT_EQ(mask(handle, "xabcx", 3, false).output, "xabcx");
  EXPECT_EQ(mask(handle, "xabcx", 3, true).output, "xabcx");
}

struct Step {
  Bytes chunk;
  bool streaming;
  Bytes output;
  Bytes held_after;
};

struct StreamCase {
  const char *name;
  std::vector<Bytes> secrets;
  std::uint64_t max_stars;
  std::vector<Step> steps;
};

TEST(MaskExamples, Streams) {
  const std::vector<StreamCase> cases = {
      {"secret across two chunks", {"abcd"}, 10, {{"xxab", true, "xx", "ab"}, {"cdyy", true, "****yy", ""}}},
      {"across two chunks, 2 stars", {"abcd"}, 2, {{"xxab", true, "xx", "ab"}, {"cdyy", true, "**yy", ""}}},
      {"across four chunks",
       {"abcd"},
       10,
       {{"xa", true, "x", "a"}, {"b", true, "", "ab"}, {"c", true, "", "abc"}, {"dy", true, "****y", ""}}},
      {"chunk ends where the secret ends", {"abcd"}, 10, {{"abcd", true, "", "****"}, {"zz", true, "****zz", ""}}},
      {"held bytes reach before a shortened run", {"abcdef"}, 1, {{"xyzabcdef", true, "", "xyz*"}}},
      {"streaming then whole text", {"abcd"}, 10, {{"xxab", true, "xx", "ab"}, {"cdyy", false, "cdyy", ""}}},
      {"run across chunk boundaries",
       {"abab"},
       3,
       {{"xaba", true, "x", "aba"}, {"bab", true, "", "***"}, {"y", true, "***y", ""}}},
      {"empty chunk keeps the held bytes", {"abcd"}, 10, {{"xab", true, "x", "ab"}, {"", true, "", "ab"}}},
      {"empty chunk holding nothing", {"abcd"}, 10, {{"", true, "", ""}}},
      {"empty whole text resets", {"abcd"}, 10, {{"xab", true, "x", "ab"}, {"", false, "", ""}, {"cd", true, "cd", ""}}},
      // The second chunk extends a run whose stars were partly handed out
      // already; the extension must not write before its own buffer.
      {"extension over stars already handed out",
       {"aaa", "aaba"},
       4,
       {{"aabaa", true, "***", "*a"}, {"aba", true, "", "*"}}},
  };
  for (const StreamCase &test : cases) {
    Handle handle = make_built(test.secrets);
    for (std::size_t s = 0; s < test.steps.size(); ++s) {
      const Step &step = test.steps[s];
      const MaskCall call = mask(handle, step.chunk, test.max_stars, step.streaming);
      EXPECT_EQ(call.status, 0) << test.name << " step " << s;
      EXPECT_EQ(call.output, step.output) << test.name << " step " << s;
      EXPECT_EQ(reminder_of(handle), step.held_after) << test.name << " step " << s;
    }
  }
}

TEST(MaskExamples, StreamAfterDroppedHeldBytesStaysInsideItsBuffer) {
  // The host drops the held-back 'ab' mid-stream; the secret completes in
  // the next chunk and may only star what that chunk's buffer holds.
  Handle handle = make_built({"abcd"});
  EXPECT_EQ(mask(handle, "xxab", 10, true).output, "xx");
  hush_reset_reminder(handle.get());
  EXPECT_EQ(mask(handle, "cdyy", 10, true).output, "**yy");
  // After a whole text that stops inside a secret, a stream keeps the walk.
  EXPECT_EQ(mask(handle, "xxab", 2, false).output, "xxab");
  EXPECT_EQ(mask(handle, "cdyy", 2, true).output, "yy");
  EXPECT_EQ(reminder_of(handle), "");
}

TEST(MaskExamples, TrimmingUsesRemapAndFallsBackWithoutLosingOutput) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_built({"secret"});
  allocator.install(handle.get());

  // No masked byte: the working buffer is handed over untrimmed.
  ASSERT_EQ(mask(handle, "plain", 3, false).output, "plain");
  ASSERT_EQ(allocator.calls.size(), 1u);
  EXPECT_EQ(allocator.calls[0].op, Op::alloc);
  allocator.forget(allocator.calls[0].result);

  // A shortened output is trimmed through remap.
  allocator.clear_calls();
  ASSERT_EQ(mask(handle, "a secret", 1, false).output, "a *");
  ASSERT_EQ(allocator.calls.size(), 2u);
  EXPECT_EQ(allocator.calls[1].op, Op::remap);
  EXPECT_EQ(allocator.calls[1].len, 8u);
  EXPECT_EQ(allocator.calls[1].new_len, 3u);
  allocator.forget(allocator.calls[1].result);

  // remap and the fallback alloc both refused: the working buffer itself
  // is handed out with the right length.
  allocator.clear_calls();
  allocator.fail_request(2);
  allocator.fail_request(3);
  ASSERT_EQ(mask(handle, "a secret", 1, false).output, "a *");
  allocator.forget(allocator.calls[0].result);

  // Only the remap refused: a fresh block, the working buffer released.
  allocator.clear_calls();
  allocator.fail_request(2);
  ASSERT_EQ(mask(handle, "a secret", 1, false).output, "a *");
  ASSERT_EQ(allocator.calls.size(), 4u);
  EXPECT_EQ(allocator.calls[2].op, Op::alloc);
  EXPECT_EQ(allocator.calls[2].len, 3u);
  EXPECT_EQ(allocator.calls[3].op, Op::free);
  allocator.forget(allocator.calls[2].result);

  // An output that ends up empty releases the working buffer.
  allocator.clear_calls();
  ASSERT_EQ(mask(handle, "secret", 0, false).output, "");
  ASSERT_EQ(allocator.calls.size(), 2u);
  EXPECT_EQ(allocator.calls[1].op, Op::free);
  // The node array, and the prefilter when the handle has one.
  EXPECT_EQ(allocator.live_blocks(), internals(handle).prefilter != nullptr ? 2u : 1u);
  EXPECT_TRUE(allocator.errors.empty());
}

}  // namespace
}  // namespace hush::core::testing
