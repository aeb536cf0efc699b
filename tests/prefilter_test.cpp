// The prefilter: which filter a secret set gets, every kernel against the
// portable one and against the windows themselves, and masking with long
// skipped stretches compared with the reference masker and with the same
// automaton walked byte by byte, for every kernel this CPU runs.  Texts use
// a large alphabet with rare secret material, so most bytes are skipped.

#include "mask/prefilter/prefilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "support/masker_access.h"
#include "support/recording_allocator.h"
#include "support/reference_masker.h"

namespace hush::core::testing {
namespace {

const char *kernel_name(PrefilterKernel kernel) {
  switch (kernel) {
    case PrefilterKernel::scalar: return "scalar";
    case PrefilterKernel::ssse3: return "ssse3";
    case PrefilterKernel::avx2: return "avx2";
    case PrefilterKernel::avx512: return "avx512";
  }
  return "?";
}

std::vector<PrefilterKernel> kernels_for(PrefilterKind kind) {
  std::vector<PrefilterKernel> kernels;
  for (unsigned rank = 0; rank < PREFILTER_KERNELS; ++rank) {
    const auto kernel = static_cast<PrefilterKernel>(rank);
    if (prefilter_search(kind, kernel) != nullptr) kernels.push_back(kernel);
  }
  return kernels;
}

// Runs `check` once per kernel the CPU runs for the handle's filter, with
// that kernel in force (once, with no filter, when the handle has none).
template <typename Check>
void for_each_kernel(const Handle &handle, Check check) {
  Prefilter *filter = internals(handle).prefilter;
  if (filter == nullptr) {
    check("no filter");
    return;
  }
  const PrefilterKernel chosen = filter->kernel;
  for (PrefilterKernel kernel : kernels_for(filter->kind)) {
    ASSERT_TRUE(force_prefilter_kernel(*filter, kernel));
    check(kernel_name(kernel));
  }
  ASSERT_TRUE(force_prefilter_kernel(*filter, chosen));
}

Handle without_prefilter(const std::vector<Bytes> &secrets) {
  Handle handle = make_built(secrets);
  drop_prefilter(internals(handle), 0);
  return handle;
}

// Printable ASCII, and now and then 0x00 or 0xFF.
char random_byte(std::mt19937_64 &random) {
  const std::uint64_t roll = random() % 200;
  if (roll == 0) return '\0';
  if (roll == 1) return '\xFF';
  return static_cast<char>(0x20 + roll % 95);
}

Bytes random_bytes(std::mt19937_64 &random, std::size_t len) {
  Bytes bytes(len, ' ');
  for (char &byte : bytes) byte = random_byte(random);
  return bytes;
}

std::size_t shortest(const std::vector<Bytes> &secrets) {
  std::size_t result = SIZE_MAX;
  for (const Bytes &secret : secrets) result = std::min(result, secret.size());
  return result;
}

// --- which filter ----------------------------------------------------------

TEST(Prefilter, EachKindOfSecretSetGetsItsFilter) {
  std::mt19937_64 random(3);
  auto secrets_of = [&](std::size_t count, std::size_t len) {
    std::vector<Bytes> secrets;
    for (std::size_t i = 0; i < count; ++i) secrets.push_back(random_bytes(random, len));
    return secrets;
  };
  std::vector<Bytes> every_byte;
  for (int byte = 0; byte < 256; byte += 2) every_byte.push_back(Bytes(1, static_cast<char>(byte)));
  const bool vector_nibble = best_prefilter_kernel(PrefilterKind::nibble) != PrefilterKernel::scalar;
  const bool vector_buckets = best_prefilter_kernel(PrefilterKind::buckets) != PrefilterKernel::scalar;

  auto prefixed = [&](std::size_t count, const Bytes &prefix) {
    std::vector<Bytes> secrets;
    for (std::size_t i = 0; i < count; ++i) secrets.push_back(prefix + random_bytes(random, 12));
    return secrets;
  };

  struct KindCase {
    const char *name;
    std::vector<Bytes> secrets;
    bool few_windows;             // the literal or nibble filter's share, where a vector kernel runs it
                                  // (up to 128 windows of secrets of 7 bytes or more: the bucket filter's)
    std::size_t offset_at_least;  // where the windows must begin: past a shared prefix
  };
  const std::vector<KindCase> cases = {
      {"one secret", {"hunter2-password"}, true, 0},
      {"ten secrets", secrets_of(10, 12), true, 0},
      {"one-byte secret among long ones", {"token-123456", bytes({0})}, true, 0},
      {"two-byte secrets", {"ab", bytes({0xFF, 0})}, true, 0},
      {"ten secrets sharing a prefix", prefixed(10, "tok_"), true, 4},
      {"forty secrets", secrets_of(40, 9), false, 0},
      {"128 secrets", secrets_of(128, 9), false, 0},
      {"129 secrets", secrets_of(129, 9), false, 0},
      {"forty six-byte secrets", secrets_of(40, 6), false, 0},
      {"a thousand secrets", secrets_of(1000, 16), false, 0},
      {"a thousand secrets sharing a prefix", prefixed(1000, "glpat-k9"), false, 8},
      {"thirty three-byte secrets", secrets_of(30, 3), false, 0},
      {"thirty two-byte secrets", secrets_of(30, 2), false, 0},
  };
  for (const KindCase &test : cases) {
    Handle handle = make_built(test.secrets);
    const Prefilter *filter = internals(handle).prefilter;
    ASSERT_NE(filter, nullptr) << test.name;
    const std::size_t least = shortest(test.secrets);
    EXPECT_GE(filter->offset, test.offset_at_least) << test.name;
    EXPECT_LE(filter->offset + filter->window, least) << test.name;
    if (test.few_windows && vector_nibble && test.secrets.size() == 1) {
      // Two bytes of the secret, at most LITERAL_WINDOW_MAX apart.
      EXPECT_EQ(filter->kind, PrefilterKind::literal) << test.name;
      EXPECT_LE(filter->window, LITERAL_WINDOW_MAX) << test.name;
      EXPECT_EQ(static_cast<std::uint8_t>(test.secrets[0][filter->offset]), filter->literal[0]) << test.name;
      EXPECT_EQ(static_cast<std::uint8_t>(test.secrets[0][filter->offset + filter->window - 1u]), filter->literal[1])
          << test.name;
    } else if (test.few_windows && vector_nibble) {
      EXPECT_EQ(filter->kind, PrefilterKind::nibble) << test.name;
      EXPECT_EQ(filter->window, std::min<std::size_t>(NIBBLE_WINDOW_MAX, least)) << test.name;
    } else if (least >= SAMPLED_WINDOW && vector_buckets && test.secrets.size() <= 128) {
      EXPECT_EQ(filter->kind, PrefilterKind::buckets) << test.name;
      EXPECT_EQ(filter->window, BUCKET_WINDOW) << test.name;
    } else if (least >= SAMPLED_WINDOW) {
      EXPECT_EQ(filter->kind, PrefilterKind::sampled) << test.name;
      EXPECT_EQ(filter->window, SAMPLED_WINDOW) << test.name;
    } else {
      EXPECT_EQ(filter->kind, PrefilterKind::bitset) << test.name;
      EXPECT_EQ(filter->window, std::min<std::size_t>(BITSET_WINDOW_MAX, least)) << test.name;
    }
    EXPECT_EQ(filter->probes, 1) << test.name;
    EXPECT_EQ(filter->kernel, best_prefilter_kernel(filter->kind)) << test.name;
  }

  // The literal filter tests the rare bytes of a secret made of common ones.
  if (vector_nibble) {
    Handle rare = make_built({"eeee eeeQeee eZeeeee"});
    const Prefilter *filter = internals(rare).prefilter;
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->kind, PrefilterKind::literal);
    EXPECT_EQ(filter->offset, 8);
    EXPECT_EQ(filter->window, 7);
    EXPECT_EQ(Bytes(filter->literal, filter->literal + 2), "QZ");
  }

  // A handful of secrets that begin with common words get windows past them
  // when the bytes there are as varied.
  if (vector_nibble) {
    Handle words = make_built({"the-QZ", "and:XJ", "for=KV"});
    const Prefilter *filter = internals(words).prefilter;
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->kind, PrefilterKind::nibble);
    EXPECT_EQ(filter->offset, 3);
  }

  // No filter: nothing to find, or a filter most bytes would pass.
  EXPECT_EQ(internals(make_built({})).prefilter, nullptr);
  EXPECT_EQ(internals(make_built(every_byte)).prefilter, nullptr);
  Handle unbuilt = make_handle();
  ASSERT_EQ(insert(unbuilt, "secret"), 0);
  EXPECT_EQ(internals(unbuilt).prefilter, nullptr);
}

// --- kernels ---------------------------------------------------------------

// Every kernel reports the same position as the portable one, and none
// passes over a position whose window starts a secret.  Texts are blocks
// of exactly their size, so a sanitizer sees any read past the end.
// Every kernel reports the same position as the portable one, and none
// passes over a position whose window is a window of a secret (bytes offset
// .. offset + window of it).  Texts are blocks of exactly their size, so a
// sanitizer sees any read past the end; ranges start anywhere, so the block
// kernels' last blocks are backed up or copied.
void check_kernels_against_portable(const std::vector<Bytes> &secrets, std::mt19937_64 &random,
                                    const std::string &where) {
  Handle handle = make_built(secrets);
  Prefilter *filter = internals(handle).prefilter;
  if (filter == nullptr) return;
  const unsigned window = filter->window;
  std::set<Bytes> windows;
  for (const Bytes &secret : secrets) windows.insert(secret.substr(filter->offset, window));

  // Filler with windows sprinkled in, at every offset of a vector block;
  // some texts are long enough for the kernels' rounds over long stretches.
  Bytes text = random_bytes(random, random() % 1200);
  for (std::size_t at = random() % 40; at + window <= text.size(); at += 1 + random() % 180) {
    text.replace(at, window, *std::next(windows.begin(), static_cast<long>(random() % windows.size())));
  }
  if (text.size() < window) return;
  const std::vector<std::uint8_t> exact(text.begin(), text.end());
  const std::uint8_t *bytes = exact.data();
  const std::uint64_t limit = text.size() - window + 1;
  const CandidateSearch portable = prefilter_search(filter->kind, PrefilterKernel::scalar);
  for (int trial = 0; trial < 20; ++trial) {
    const std::uint64_t from = random() % limit;
    const std::uint64_t to = from + 1 + random() % (limit - from);
    const std::uint64_t expected = portable(*filter, bytes, from, to);
    // The sampled filter's wide windows are confirmed on their first 7 bytes.
    const std::size_t confirmed = filter->kind == PrefilterKind::sampled ? SAMPLED_WINDOW : window;
    std::set<Bytes> prefixes;
    for (const Bytes &listed : windows) prefixes.insert(listed.substr(0, confirmed));
    std::uint64_t first_window = from;
    while (first_window < to && prefixes.count(text.substr(first_window, confirmed)) == 0) ++first_window;
    ASSERT_LE(expected, first_window) << where;
    ASSERT_GE(expected, from);
    // The sampled filter confirms each hit against the windows: exact.  The
    // literal one reports exactly where the window's first and last bytes are.
    if (filter->kind == PrefilterKind::sampled) {
      ASSERT_EQ(expected, first_window) << where;
    }
    if (filter->kind == PrefilterKind::literal) {
      std::uint64_t first_pair = from;
      while (first_pair < to && !(static_cast<std::uint8_t>(text[first_pair]) == filter->literal[0] &&
                                  static_cast<std::uint8_t>(text[first_pair + window - 1]) == filter->literal[1])) {
        ++first_pair;
      }
      ASSERT_EQ(expected, first_pair) << where;
    }
    for (PrefilterKernel kernel : kernels_for(filter->kind)) {
      ASSERT_EQ(prefilter_search(filter->kind, kernel)(*filter, bytes, from, to), expected)
          << kernel_name(kernel) << ", " << where << ", from " << from << " to " << to;
    }
  }
}

TEST(Prefilter, EveryKernelFindsWhatThePortableOneFinds) {
  std::mt19937_64 random(5);
  for (int round = 0; round < 240; ++round) {
    std::vector<Bytes> secrets;
    const std::size_t count = round % 3 == 0 ? 1 + random() % 12 : 1 + random() % 150;
    const std::size_t min_len = 1 + random() % 9;
    // Every fourth round the secrets share a prefix, which moves the windows.
    const Bytes prefix = round % 4 == 1 ? random_bytes(random, 1 + random() % 6) : Bytes();
    for (std::size_t i = 0; i < count; ++i) secrets.push_back(prefix + random_bytes(random, min_len + random() % 6));
    // Every fifth round only 7-bit secrets, in text of every byte value:
    // the block kernels then take bytes of 0x80 and above unmasked.
    if (round % 5 == 3) {
      for (Bytes &secret : secrets) {
        for (char &byte : secret) byte = static_cast<char>(byte & 0x7F);
      }
    }
    check_kernels_against_portable(secrets, random, "round " + std::to_string(round));
  }
}

// --- masking with skips ----------------------------------------------------

struct Observed {
  Bytes output;
  Bytes held;
  std::uint64_t state;
  std::int64_t last_match_end;
  std::uint64_t last_match_len;
  std::uint64_t run_len;
  bool operator==(const Observed &) const = default;
  friend void PrintTo(const Observed &seen, std::ostream *os) {
    *os << "output '" << seen.output << "', held '" << seen.held << "', state " << seen.state << ", last match end "
        << seen.last_match_end << " len " << seen.last_match_len << ", run " << seen.run_len;
  }
};

Observed observe_call(const Handle &handle, const Bytes &chunk, std::uint64_t max_stars) {
  const MaskCall call = mask(handle, chunk, max_stars, true);
  EXPECT_EQ(call.status, 0);
  const Masker &masker = internals(handle);
  return {call.output, reminder_of(handle), masker.state, masker.last_match_end, masker.last_match_len, masker.run_len};
}

// Streams `text` cut at `cuts` through both handles and checks that every
// call leaves the same output, held-back bytes and walk; returns the joined
// output of the filtered handle.  Both handles start at the root.
Bytes stream_both(const Handle &filtered, const Handle &plain, const Bytes &text, const std::vector<std::size_t> &cuts,
                  std::uint64_t max_stars, const std::string &where) {
  for (const Handle *handle : {&filtered, &plain}) EXPECT_EQ(mask(*handle, "", max_stars, false).status, 0);
  Bytes joined;
  std::size_t from = 0;
  for (std::size_t c = 0; c <= cuts.size(); ++c) {
    const std::size_t to = c < cuts.size() ? cuts[c] : text.size();
    const Bytes chunk = text.substr(from, to - from);
    const Observed got = observe_call(filtered, chunk, max_stars);
    EXPECT_EQ(got, observe_call(plain, chunk, max_stars)) << where << ", chunk [" << from << ", " << to << ")";
    joined += got.output;
    from = to;
  }
  return joined + reminder_of(filtered);
}

// Sets large enough for two probes per word, of both bitset kinds.  (In
// the MaskReference suite, which the valgrind run leaves out: slow.)
TEST(MaskReference, TwoProbeBitsetsFindWhatThePortableOneFindsAndMaskLikeTheReference) {
  std::mt19937_64 random(21);
  // 40,000 secrets of 8 bytes take the sampled filter's 5-byte keys.
  const std::pair<std::size_t, std::size_t> sets[] = {{9, 20'000}, {5, 20'000}, {8, 40'000}};
  for (const auto &[len, count] : sets) {
    std::vector<Bytes> secrets;
    for (std::size_t i = 0; i < count; ++i) secrets.push_back(random_bytes(random, len));
    Handle handle = make_built(secrets);
    const Prefilter *filter = internals(handle).prefilter;
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->probes, 2) << len;
    EXPECT_EQ(filter->window, len == 9 ? SAMPLED_WINDOW : len == 8 ? SAMPLED_WIDE_WINDOW : BITSET_WINDOW_MAX) << len;
    for (int round = 0; round < 4; ++round) check_kernels_against_portable(secrets, random, std::to_string(len));
    Bytes text = random_bytes(random, 3000);
    for (int i = 0; i < 6; ++i) text.replace(random() % 2900, len, secrets[random() % secrets.size()]);
    for (int i = 0; i < 6; ++i) text.replace(random() % 2900, len - 1, secrets[random() % secrets.size()], 0, len - 1);
    const Bytes expected = reference_mask(secrets, text, 3).output;
    const Handle plain = without_prefilter(secrets);
    for_each_kernel(handle, [&](const char *kernel) {
      EXPECT_EQ(mask(handle, text, 3, false).output, expected) << kernel;
      for (std::size_t cut = 0; cut <= text.size(); cut += 1 + random() % 13) {
        ASSERT_EQ(stream_both(handle, plain, text, {cut}, 3, kernel), expected) << kernel << ", cut " << cut;
      }
    });
  }
}

struct SkipCase {
  std::vector<Bytes> secrets;
  Bytes text;
  std::uint64_t max_stars;
};

// Secret sets of every filter kind and window; texts of printable filler
// in which secrets, their prefixes (walks that go deep and fail) and
// overlapping pairs appear now and then.
SkipCase skip_case(std::mt19937_64 &random, int round) {
  static const std::size_t set_sizes[] = {1, 2, 5, 12, 40, 300};
  SkipCase result;
  const std::size_t count = set_sizes[static_cast<std::size_t>(round % 6)];
  const auto min_len = static_cast<std::size_t>(1 + (round / 6) % 8);
  // Every third round the secrets share a prefix, so the windows lie past it.
  const Bytes prefix = round % 3 == 2 ? random_bytes(random, 1 + random() % 8) : Bytes();
  for (std::size_t i = 0; i < count; ++i) {
    result.secrets.push_back(prefix + random_bytes(random, min_len + random() % 8));
  }
  const std::size_t target = 100 + random() % 400;
  while (result.text.size() < target) {
    result.text += random_bytes(random, random() % 120);
    const Bytes &secret = result.secrets[random() % count];
    if (!prefix.empty() && random() % 2 == 0) result.text += prefix;  // the prefix alone, as token logs have it
    switch (random() % 4) {
      case 0: result.text += secret; break;
      case 1: result.text += secret.substr(0, 1 + random() % secret.size()); break;
      case 2: result.text += secret + secret.substr(random() % secret.size()); break;
      default: break;
    }
  }
  result.max_stars = random() % 6;
  return result;
}

// (In the MaskReference suite, which the valgrind run leaves out: slow.)
TEST(MaskReference, SkippingMasksLikeTheReferenceAndLeavesTheSameWalk) {
  std::mt19937_64 random(9);
  for (int round = 0; round < 90; ++round) {
    const SkipCase test = skip_case(random, round);
    const Bytes expected = reference_mask(test.secrets, test.text, test.max_stars).output;
    Handle filtered = make_built(test.secrets);
    Handle plain = without_prefilter(test.secrets);
    for_each_kernel(filtered, [&](const char *kernel) {
      const std::string where = std::string(kernel) + ", round " + std::to_string(round);
      ASSERT_EQ(mask(filtered, test.text, test.max_stars, false).output, expected) << where;
      // Cut at every position on some rounds, at a few elsewhere; then
      // random sets of cuts, empty chunks included.
      const std::size_t step = round % 5 == 0 ? 1 : 1 + test.text.size() / 16;
      for (std::size_t cut = 0; cut <= test.text.size(); cut += step) {
        ASSERT_EQ(stream_both(filtered, plain, test.text, {cut}, test.max_stars, where), expected) << where;
      }
      for (int trial = 0; trial < 4; ++trial) {
        std::vector<std::size_t> cuts(1 + random() % 12);
        for (std::size_t &cut : cuts) cut = random() % (test.text.size() + 1);
        std::sort(cuts.begin(), cuts.end());
        ASSERT_EQ(stream_both(filtered, plain, test.text, cuts, test.max_stars, where), expected) << where;
      }
    });
  }
}

// A long text streamed in fixed chunks, with a secret (or a prefix of one)
// placed across every chunk boundary at a different offset: long skipped
// stretches end in carried-over walks again and again.
TEST(MaskReference, LongStreamWithSecretsAcrossEveryChunkEdge) {
  std::mt19937_64 random(17);
  const std::vector<std::vector<Bytes>> sets = {
      {"correct-horse-battery"},                       // nibble
      {"k1", "passw0rd-xyz", bytes({0xFF, 0, 0xFF})},  // nibble, window 2
  };
  std::vector<Bytes> many;  // sampled
  for (int i = 0; i < 50; ++i) many.push_back(random_bytes(random, 8 + random() % 10));
  std::vector<Bytes> short_many;  // bitset, window 3
  for (int i = 0; i < 50; ++i) short_many.push_back(random_bytes(random, 3 + random() % 10));
  const std::size_t chunk = 1024;
  for (const std::vector<Bytes> &secrets : {sets[0], sets[1], many, short_many}) {
    Bytes text = random_bytes(random, 24 * chunk);
    for (std::size_t edge = chunk; edge + 64 < text.size(); edge += chunk) {
      const Bytes &secret = secrets[random() % secrets.size()];
      const Bytes piece = random() % 4 == 0 ? secret.substr(0, 1 + random() % secret.size()) : secret;
      const std::size_t back = random() % (piece.size() + 1);
      text.replace(edge - back, piece.size(), piece);
    }
    std::vector<std::size_t> cuts;
    for (std::size_t edge = chunk; edge < text.size(); edge += chunk) cuts.push_back(edge);
    const Bytes expected = reference_mask(secrets, text, 3).output;
    Handle filtered = make_built(secrets);
    ASSERT_NE(internals(filtered).prefilter, nullptr);
    Handle plain = without_prefilter(secrets);
    for_each_kernel(filtered, [&](const char *kernel) {
      EXPECT_EQ(stream_both(filtered, plain, text, cuts, 3, kernel), expected) << kernel;
    });
  }
}

// Secrets that begin with the last one or two bytes of another, written
// back to back and streamed with a cut at every position: a chunk then
// often begins inside a secret whose first bytes were held back, masked
// or not, which the walk may only forget when they cannot begin one.
TEST(MaskReference, SecretsChainedByTheirLastBytesAcrossEveryCut) {
  std::mt19937_64 random(29);
  std::vector<Bytes> secrets;
  for (int i = 0; i < 50; ++i) secrets.push_back(random_bytes(random, 8 + random() % 10));
  Bytes text = random_bytes(random, 40);
  for (std::size_t chain = 0; chain < 6; ++chain) {
    const Bytes first = random_bytes(random, 8 + random() % 5);
    const std::size_t shared = 1 + chain % 2;
    const Bytes second = first.substr(first.size() - shared) + random_bytes(random, 8);
    secrets.push_back(first);
    secrets.push_back(second);
    text += first + second.substr(shared) + random_bytes(random, 20 + random() % 20);
  }
  Handle filtered = make_built(secrets);
  ASSERT_NE(internals(filtered).prefilter, nullptr);
  ASSERT_NE(internals(filtered).prefilter->tail_prefix_log2, 0);
  Handle plain = without_prefilter(secrets);
  for (const std::uint64_t max_stars : {std::uint64_t{0}, std::uint64_t{3}}) {
    const Bytes expected = reference_mask(secrets, text, max_stars).output;
    for_each_kernel(filtered, [&](const char *kernel) {
      for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        ASSERT_EQ(stream_both(filtered, plain, text, {cut}, max_stars, kernel), expected) << kernel << ", cut " << cut;
      }
    });
  }
}

// Stretches with no candidate longer than one search (4 KiB) before each
// secret: the walk searches on slice after slice and must not lose or
// repeat a byte where slices meet, whole or streamed.
TEST(MaskReference, SecretsAfterStretchesLongerThanOneSearch) {
  std::mt19937_64 random(23);
  std::vector<Bytes> many;
  for (int i = 0; i < 50; ++i) many.push_back(random_bytes(random, 8 + random() % 10));
  for (const std::vector<Bytes> &secrets : std::vector<std::vector<Bytes>>{{"correct-horse-battery"}, many}) {
    Bytes text;
    for (int piece = 0; piece < 6; ++piece) {
      text += random_bytes(random, 4096 * (1 + random() % 3) + random() % 64);
      text += secrets[random() % secrets.size()];
    }
    const Bytes expected = reference_mask(secrets, text, 3).output;
    Handle filtered = make_built(secrets);
    ASSERT_NE(internals(filtered).prefilter, nullptr);
    Handle plain = without_prefilter(secrets);
    for_each_kernel(filtered, [&](const char *kernel) {
      EXPECT_EQ(mask(filtered, text, 3, false).output, expected) << kernel;
      for (int trial = 0; trial < 4; ++trial) {
        std::vector<std::size_t> cuts(1 + random() % 3);
        for (std::size_t &cut : cuts) cut = random() % (text.size() + 1);
        std::sort(cuts.begin(), cuts.end());
        EXPECT_EQ(stream_both(filtered, plain, text, cuts, 3, kernel), expected) << kernel;
      }
    });
  }
}

TEST(Prefilter, HandPickedSkips) {
  const Bytes filler(300, '.');
  struct HandCase {
    const char *name;
    std::vector<Bytes> secrets;
    Bytes text;
    std::uint64_t max_stars;
    Bytes expected;
  };
  const std::vector<HandCase> cases = {
      // The walk stands at 'xy' when 'y' comes by: 'y' is not reported.
      {"nested secret inside a partial match after a skip",
       {"xyz", "y"},
       filler + "xyw" + filler,
       3,
       filler + "xyw" + filler},
      {"same, the short secret alone", {"xyz", "y"}, filler + "ayb" + filler, 3, filler + "a*b" + filler},
      {"secret at the very end", {"secret"}, filler + "secret", 2, filler + "**"},
      {"secret at the very start", {"secret"}, "secret" + filler, 9, "******" + filler},
      {"window at the end cut short", {"secret"}, filler + "secre", 3, filler + "secre"},
      {"binary secret in text", {bytes({0, 0xFF, 0})}, filler + bytes({0, 0xFF, 0}) + filler, 1, filler + "*" + filler},
      {"overlapping run across filler", {"abab"}, filler + "ababab" + filler, 3, filler + "***" + filler},
      {"found through a failure link after a skip",
       {"bcde", "abcx"},
       filler + "abcde" + filler,
       4,
       filler + "a****" + filler},
  };
  for (const HandCase &test : cases) {
    ASSERT_EQ(reference_mask(test.secrets, test.text, test.max_stars).output, test.expected) << test.name;
    Handle handle = make_built(test.secrets);
    ASSERT_NE(internals(handle).prefilter, nullptr) << test.name;
    for_each_kernel(handle, [&](const char *kernel) {
      EXPECT_EQ(mask(handle, test.text, test.max_stars, false).output, test.expected) << test.name << ", " << kernel;
    });
  }
}

// A long skipped stretch ends in a secret's beginning: the held-back bytes
// are exactly those a byte-by-byte walk holds, and the secret completes in
// the next chunk.
TEST(Prefilter, CarryOverAfterASkippedStretchIsExact) {
  const std::vector<Bytes> secrets = {"opensesame", "sesamestreet", "hunter2"};
  Handle filtered = make_built(secrets);
  Handle plain = without_prefilter(secrets);
  const Bytes filler(1000, '-');
  for_each_kernel(filtered, [&](const char *kernel) {
    for (std::size_t held = 0; held < 10; ++held) {
      const Bytes first = filler + Bytes("opensesame").substr(0, held);
      const Bytes second = Bytes("opensesame").substr(held) + "street" + filler;
      const Bytes expected = filler + "**" + filler;
      EXPECT_EQ(stream_both(filtered, plain, first + second, {first.size()}, 2, kernel), expected) << held;
      EXPECT_EQ(mask(filtered, "", 2, false).status, 0);
      EXPECT_EQ(observe_call(filtered, first, 2).held, Bytes("opensesame").substr(0, held)) << kernel;
    }
  });
}

// --- lifecycle -------------------------------------------------------------

TEST(Prefilter, InsertionDropsItAndTheWalkUsesTheTrieAsItStands) {
  const std::vector<Bytes> built = {"alpha-1", "bravo-2"};
  const Bytes text = "x alpha-1 y bravo-2 z charlie-3 w alpha-1charlie-3";
  Handle handle = make_built(built);
  ASSERT_NE(internals(handle).prefilter, nullptr);
  EXPECT_EQ(hush_insert(handle.get(), nullptr, 0), 0);  // an empty secret changes nothing
  EXPECT_NE(internals(handle).prefilter, nullptr);
  ASSERT_EQ(insert(handle, "charlie-3"), 0);
  EXPECT_EQ(internals(handle).prefilter, nullptr);

  // The same automaton that never had a filter answers the same.
  Handle plain = without_prefilter(built);
  ASSERT_EQ(insert(plain, "charlie-3"), 0);
  EXPECT_EQ(mask(handle, text, 3, false).output, mask(plain, text, 3, false).output);
  EXPECT_EQ(mask(handle, text, 3, false).output, "x *** y *** z charlie-3 w ***charlie-3");

  ASSERT_EQ(hush_build(handle.get()), 0);
  EXPECT_NE(internals(handle).prefilter, nullptr);
  EXPECT_EQ(mask(handle, text, 3, false).output, "x *** y *** z *** w ******");
}

// Each request of hush_build failed in turn: a failed filter block leaves a
// successful build without a filter that masks all the same, and nothing
// is lost or released twice.
TEST(Prefilter, BuildSucceedsWithoutItWhenItsBlockIsRefused) {
  std::vector<Bytes> secrets;
  std::mt19937_64 random(13);
  for (int i = 0; i < 60; ++i) secrets.push_back(random_bytes(random, 6 + random() % 6));
  const Bytes text = random_bytes(random, 2000) + secrets[7] + random_bytes(random, 500) + secrets[42];
  const Bytes expected = reference_mask(secrets, text, 3).output;
  bool refused_filter = false;
  for (std::uint64_t k = 1;; ++k) {
    RecordingAllocator allocator;  // outlives the handle that uses it
    Handle handle = make_handle();
    allocator.install(handle.get());
    for (const Bytes &secret : secrets) ASSERT_EQ(insert(handle, secret), 0);
    allocator.clear_calls();
    allocator.fail_request(k);
    const std::int32_t status = hush_build(handle.get());
    const bool failed_in_build = allocator.failures() != 0;
    allocator.stop_failing();
    const bool filter_refused =
        std::any_of(allocator.calls.begin(), allocator.calls.end(), [](const AllocatorCall &call) {
          return call.op == Op::alloc && call.align_exp == ALIGN_PREFILTER && call.result == nullptr;
        });
    if (filter_refused) {
      refused_filter = true;
      EXPECT_EQ(status, 0);
      EXPECT_EQ(internals(handle).prefilter, nullptr);
    }
    if (status != 0) {
      ASSERT_EQ(hush_build(handle.get()), 0);
    }
    EXPECT_EQ(mask(handle, text, 3, false).output, expected) << "request " << k;
    // A second build replaces the filter: the old block goes back first.
    ASSERT_EQ(hush_build(handle.get()), 0);
    EXPECT_EQ(mask(handle, text, 3, false).output, expected) << "request " << k;
    EXPECT_TRUE(allocator.errors.empty()) << allocator.errors.front();
    if (!failed_in_build) break;
  }
  EXPECT_TRUE(refused_filter);
}

}  // namespace
}  // namespace hush::core::testing
