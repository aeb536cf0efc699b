// hush::Masker: the wrapper passes every argument through to the C interface
// unchanged, owns exactly one handle, and maps failure to std::bad_alloc.
#include <gtest/gtest.h>

#include <array>
#include <hushmask.hpp>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

using namespace std::string_literals;

static_assert(!std::is_copy_constructible_v<hush::Masker>);
static_assert(!std::is_copy_assignable_v<hush::Masker>);
static_assert(std::is_nothrow_move_constructible_v<hush::Masker>);
static_assert(std::is_nothrow_move_assignable_v<hush::Masker>);
// A lone string is not a list of secrets: it must not be split into bytes.
static_assert(!std::is_constructible_v<hush::Masker, const char *>);
static_assert(!std::is_constructible_v<hush::Masker, std::string>);

struct MaskCase {
  const char *name;
  std::vector<std::string> secrets;
  std::string text;
  std::uint64_t max_stars;
  std::string expected;
};

TEST(Masker, MasksLikeTheCInterface) {
  const std::vector<MaskCase> cases = {
      {"no secrets", {}, "plain text", 3, "plain text"},
      {"one secret", {"hunter2"}, "pw=hunter2;", 3, "pw=***;"},
      {"short run keeps its length", {"ab"}, "xaby", 3, "x**y"},
      {"max_stars 0 removes", {"hunter2"}, "pw=hunter2;", 0, "pw=;"},
      {"overlapping matches form one run", {"abc", "cde"}, "-abcde-", 10, "-*****-"},
      {"touching matches form two runs", {"ab", "cd"}, "abcd", 1, "**"},
      {"embedded NUL bytes", {"a\0b"s}, "xa\0by"s, 3, "x***y"},
      {"empty text", {"abc"}, "", 3, ""},
      {"empty secret ignored", {"", "abc"}, "abc", 2, "**"},
  };
  for (const MaskCase &c : cases) {
    SCOPED_TRACE(c.name);
    hush::Masker masker(c.secrets);
    EXPECT_EQ(masker.mask(c.text, c.max_stars), c.expected);
  }
}

TEST(Masker, MaxStarsDefaultsToThree) {
  hush::Masker masker({"hunter2"});
  EXPECT_EQ(masker.mask("pw=hunter2;"), "pw=***;");
  hush::Stream stream(masker);
  std::string out = stream.mask("pw=hunt");
  out += stream.mask("er2;");
  EXPECT_EQ(out + stream.finish(), "pw=***;");
}

TEST(Masker, ConstructorsRegisterAndBuild) {
  hush::Masker from_list({"alpha", "beta"});
  EXPECT_EQ(from_list.mask("alpha beta gamma", 1), "* * gamma");

  const std::array<std::string_view, 1> secrets = {"gamma"};
  hush::Masker from_array(secrets);
  EXPECT_EQ(from_array.mask("alpha beta gamma", 1), "alpha beta *");

  hush::Masker by_hand;
  by_hand.insert("beta");
  EXPECT_EQ(by_hand.mask("beta", 1), "beta") << "nothing is masked before build()";
  by_hand.build();
  EXPECT_EQ(by_hand.mask("beta", 1), "*");
}

TEST(Masker, MoveTransfersTheHandle) {
  hush::Masker first({"secret"});
  hush_masker *const handle = first.native_handle();

  hush::Masker second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): moved-from state is the point
  EXPECT_TRUE(second);
  EXPECT_EQ(second.native_handle(), handle);
  EXPECT_EQ(second.mask("a secret", 1), "a *");

  // Assigning over a live masker releases its old handle (LeakSanitizer
  // checks that) and takes the other one's secrets with it.
  hush::Masker third({"other"});
  third = std::move(second);
  EXPECT_FALSE(second);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(third.native_handle(), handle);
  EXPECT_EQ(third.mask("a secret, other", 1), "a *, other");

  // A moved-from masker can be given a handle again.
  first = hush::Masker({"x"});
  EXPECT_EQ(first.mask("xyx", 1), "*y*");

  auto &self = third;
  third = std::move(self);
  EXPECT_EQ(third.native_handle(), handle) << "self-move keeps the handle";
}

TEST(ErrorMapping, FailureStatusBecomesBadAlloc) {
  EXPECT_NO_THROW(hush::detail::throw_if_failed(0));
  EXPECT_THROW(hush::detail::throw_if_failed(-1), std::bad_alloc);
}

}  // namespace
