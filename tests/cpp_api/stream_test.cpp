// hush::Stream: a text cut anywhere, masked chunk by chunk and finished, gives
// exactly the whole-text result; a stream always starts fresh and leaves the
// masker fresh behind it.
#include <gtest/gtest.h>

#include <cstddef>
#include <hushmask.hpp>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

using namespace std::string_literals;

static_assert(!std::is_copy_constructible_v<hush::Stream>);
static_assert(std::is_nothrow_move_constructible_v<hush::Stream>);
static_assert(std::is_nothrow_move_assignable_v<hush::Stream>);

struct Scenario {
  const char *name;
  std::vector<std::string> secrets;
  std::string text;
};

// Secrets that share prefixes and suffixes, nest, overlap and repeat, so that
// cuts land inside matches, between overlapping matches and inside a prefix
// that never completes.
const std::vector<Scenario> &scenarios() {
  static const std::vector<Scenario> all = {
      {"overlapping and nested", {"abcab", "bca", "cabx", "b"}, "xxabcabcabxabcaby abcab-abca cabx bbbb abcabcab"},
      {"prefix that never completes", {"password", "pass"}, "passwor passw password passpassword"},
      {"repeated single letter", {"aaa"}, "aa aaaa aaaaaaa a aaa"},
      {"binary bytes", {"\0\1\0"s, "\xff\xff"s}, "\0\1\0\1\0\xff\xff\xff\0\0\1"s},
      {"no secret in text", {"zzzz"}, "zzz yyy zzz zz z"},
  };
  return all;
}

// Masks the last chunk and finishes, in that order (the operands of a + are
// evaluated in no fixed order).
std::string mask_and_finish(hush::Stream &stream, std::string_view last_chunk) {
  std::string out = stream.mask(last_chunk);
  return out + stream.finish();
}

std::string mask_in_pieces(hush::Stream &stream, std::string_view text, const std::vector<std::size_t> &cuts) {
  std::string result;
  std::size_t begin = 0;
  for (std::size_t cut : cuts) {
    result += stream.mask(text.substr(begin, cut - begin));
    begin = cut;
  }
  result += stream.mask(text.substr(begin));
  result += stream.finish();
  return result;
}

TEST(Stream, EveryCutGivesTheWholeTextResult) {
  for (const Scenario &s : scenarios()) {
    for (std::uint64_t max_stars : {0u, 1u, 3u, 100u}) {
      SCOPED_TRACE(std::string(s.name) + ", max_stars " + std::to_string(max_stars));
      hush::Masker masker(s.secrets);
      const std::string whole = masker.mask(s.text, max_stars);
      // One stream object serves every cutting: finish() must reset it.
      hush::Stream stream(masker, max_stars);
      const std::size_t n = s.text.size();
      for (std::size_t i = 0; i <= n; ++i) {
        for (std::size_t j = i; j <= n; ++j) {
          ASSERT_EQ(mask_in_pieces(stream, s.text, {i, j}), whole) << "cuts at " << i << ", " << j;
        }
      }
      for (std::size_t width = 1; width <= n; ++width) {
        std::vector<std::size_t> cuts;
        for (std::size_t cut = width; cut < n; cut += width) {
          cuts.push_back(cut);
        }
        ASSERT_EQ(mask_in_pieces(stream, s.text, cuts), whole) << "chunks of " << width;
      }
    }
  }
}

TEST(Stream, StartsFreshAfterWholeTextMasking) {
  hush::Masker masker({"abc"});
  // A whole-text call leaves the walk standing after "ab"; a new stream must
  // not continue it, or the lone "c" below would be taken for a secret.
  EXPECT_EQ(masker.mask("ab", 3), "ab");
  hush::Stream stream(masker, 3);
  EXPECT_EQ(mask_and_finish(stream, "c"), "c");
}

TEST(Stream, AbandonedStreamLeavesNothingBehind) {
  hush::Masker masker({"abc"});
  {
    hush::Stream stream(masker, 3);
    EXPECT_EQ(stream.mask("xab"), "x");  // "ab" is held back
  }
  EXPECT_EQ(masker.mask("c", 3), "c");
  {
    hush::Stream stream(masker, 3);
    EXPECT_EQ(stream.mask("ab"), "");
  }
  hush::Stream next(masker, 3);
  EXPECT_EQ(mask_and_finish(next, "c"), "c") << "held-back 'ab' must not leak into a new stream";
}

TEST(Stream, MoveKeepsTheStreamGoing) {
  hush::Masker masker({"secret"});
  hush::Stream first(masker, 1);
  std::string out = first.mask("a sec");

  hush::Stream second(std::move(first));
  EXPECT_EQ(second.max_stars(), 1u);
  out += second.mask("ret b");

  // Move-assigning over a live stream abandons the target's stream (its
  // masker is reset) and carries on with the source's.
  hush::Masker other_masker({"key"});
  hush::Stream third(other_masker, 2);
  EXPECT_EQ(third.mask("ke"), "");
  third = std::move(second);
  out += mask_and_finish(third, " c");
  EXPECT_EQ(out, "a * b c");

  hush::Stream after(other_masker, 2);
  EXPECT_EQ(mask_and_finish(after, "y"), "y") << "the abandoned 'ke' was dropped";
}

TEST(Stream, MaskerMayMoveUnderALiveStream) {
  hush::Masker masker({"token"});
  hush::Masker moved({"unused"});  // declared first: must outlive the stream
  hush::Stream stream(masker, 3);
  std::string out = stream.mask("my tok");
  moved = std::move(masker);
  out += mask_and_finish(stream, "en!");
  EXPECT_EQ(out, "my ***!");
}

}  // namespace
