// Exhausted memory, end to end: one fixed scenario (secrets with shared
// prefixes under more than sixteen first bytes, a build, secrets added and a
// second build, whole texts, two streams) is run again and again with the
// k-th allocator request failed, for k = 1, 2, ... until a run meets no
// failure.  Every failure must come back as -1 from the call that met it,
// leave the handle usable (the same call, repeated, succeeds; a failed chunk
// leaves the held-back bytes as they were), and change nothing in the end:
// the outputs equal those of the run that never failed.  Every block goes
// back with the length and alignment it was obtained with, and nothing is
// left behind (LeakSanitizer checks the C heap in the sanitizer build).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hushmask.h"
#include "support/recording_allocator.h"
#include "support/reference_masker.h"

namespace hush::core::testing {
namespace {

struct Stream {
  std::vector<Bytes> chunks;
  std::uint64_t max_stars;
};

struct Scenario {
  std::vector<Bytes> first_secrets;  // inserted before the first build
  std::vector<Bytes> later_secrets;  // inserted after it, then built again
  std::vector<Bytes> whole_texts;
  std::uint64_t whole_max_stars;
  std::vector<Stream> streams;
};

struct Outputs {
  std::vector<Bytes> whole;
  std::vector<Bytes> streamed;
  bool operator==(const Outputs &) const = default;
};

Bytes concatenated(const std::vector<Bytes> &chunks) {
  Bytes text;
  for (const Bytes &chunk : chunks) text += chunk;
  return text;
}

// Cuts a text into chunks whose lengths cycle through `lengths` (0 gives an
// empty chunk).
std::vector<Bytes> cut(const Bytes &text, const std::vector<std::size_t> &lengths) {
  std::vector<Bytes> chunks;
  std::size_t next = 0;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t length = std::min(lengths[next++ % lengths.size()], text.size() - from);
    chunks.push_back(text.substr(from, length));
    from += length;
  }
  return chunks;
}

Scenario make_scenario() {
  Scenario scenario;
  // Twenty first bytes (0x00 and 0xFF among them) give the root more than
  // sixteen children; "Z" gets as many below it.  Shared prefixes make
  // nodes grow from one edge to a list.
  const Bytes firsts = Bytes("ABCDEFGHIJKLMNOPQR") + Bytes("\x00\xFF", 2);
  for (char first : firsts) {
    for (const char *tail : {"key", "key-1", "key-22", "keyring"}) scenario.first_secrets.push_back(first + Bytes(tail));
  }
  for (char second = 'a'; second <= 't'; ++second) scenario.later_secrets.push_back(Bytes("Z") + second + "##");
  scenario.later_secrets.insert(scenario.later_secrets.end(), {"abab", "bab", "Akey-1Bkey"});

  scenario.whole_texts = {"", "nothing to hide here", "Akey Bkey-1 Ckey-22Dkeyring", "abababab Zq## Zt#",
                          Bytes("\xFFkey\x00key-1", 11) + "Akey-1Bkey-22"};
  scenario.whole_max_stars = 3;
  const Bytes first_stream = "log: Akeyring Bkey-2 Ckey-22 ZaZa## ababab Qkey Rkey-1Rkey-1 end";
  const Bytes second_stream = Bytes("\x00key-22\xFFkeyring", 15) + " Akey-1Bkey Za## xx abab";
  scenario.streams.push_back({cut(first_stream, {1, 0, 3, 7, 2}), 4});
  scenario.streams.push_back({cut(second_stream, {5, 1, 0, 2}), 0});
  return scenario;
}

// Runs one call; when it fails, checks that the failure was one the
// allocator caused, and repeats the call, which must then succeed.
template <typename Call>
void until_done(RecordingAllocator &allocator, std::uint64_t &failures_met, Call call) {
  const std::uint64_t failures_before = allocator.failures();
  std::int32_t status = call();
  if (status == 0) return;
  ASSERT_EQ(status, -1);
  ASSERT_GT(allocator.failures(), failures_before) << "a failure nobody caused";
  ++failures_met;
  ASSERT_EQ(call(), 0) << "the handle did not recover";
}

Bytes held_back(hush_masker *masker) {
  std::uint64_t len = 0;
  const std::uint8_t *held = hush_get_reminder(masker, &len);
  return held == nullptr ? Bytes{} : Bytes(reinterpret_cast<const char *>(held), len);
}

// One masking call; the output, when there is one, is appended to `result`
// and released the way a host does.
std::int32_t mask_into(RecordingAllocator &allocator, hush_masker *masker, const Bytes &text,
                       std::uint64_t max_stars, bool streaming, Bytes &result) {
  std::uint8_t *out = reinterpret_cast<std::uint8_t *>(0x1);
  std::uint64_t out_len = 77;
  const std::int32_t status = hush_mask(masker, reinterpret_cast<const std::uint8_t *>(text.data()), text.size(),
                                        max_stars, streaming ? 1 : 0, &out, &out_len);
  if (status != 0) {
    EXPECT_EQ(out, reinterpret_cast<std::uint8_t *>(0x1)) << "a failed call wrote its out-parameter";
    EXPECT_EQ(out_len, 77u) << "a failed call wrote its out-parameter";
    return status;
  }
  result.append(reinterpret_cast<const char *>(out), out_len);
  allocator.release_output(out, out_len);
  return status;
}

struct RunResult {
  Outputs outputs;
  std::uint64_t failures_met = 0;
  std::uint64_t failures_caused = 0;
};

// The scenario on a fresh handle whose allocator fails its `fail_at`-th
// request (none when 0).
RunResult run(const Scenario &scenario, std::uint64_t fail_at, bool refuse_remap) {
  RunResult result;
  RecordingAllocator allocator;  // outlives the handle that uses it
  allocator.refuse_remap = refuse_remap;
  hush_masker *masker = hush_new();
  EXPECT_NE(masker, nullptr);
  if (masker == nullptr) return result;
  allocator.install(masker);
  if (fail_at != 0) allocator.fail_request(fail_at);

  auto insert_all = [&](const std::vector<Bytes> &secrets) {
    for (const Bytes &secret : secrets) {
      until_done(allocator, result.failures_met, [&] {
        return hush_insert(masker, reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size());
      });
    }
  };
  auto build = [&] { until_done(allocator, result.failures_met, [&] { return hush_build(masker); }); };

  insert_all(scenario.first_secrets);
  build();
  Bytes early;
  until_done(allocator, result.failures_met,
             [&] { return mask_into(allocator, masker, scenario.whole_texts[2], 2, false, early); });
  result.outputs.whole.push_back(early);
  insert_all(scenario.later_secrets);
  build();

  for (const Bytes &text : scenario.whole_texts) {
    Bytes output;
    until_done(allocator, result.failures_met,
               [&] { return mask_into(allocator, masker, text, scenario.whole_max_stars, false, output); });
    result.outputs.whole.push_back(output);
  }

  for (const Stream &stream : scenario.streams) {
    Bytes ignored;
    // An empty whole-text call starts the stream from the walk's start; it
    // obtains nothing, so it cannot fail.
    EXPECT_EQ(mask_into(allocator, masker, "", stream.max_stars, false, ignored), 0);
    Bytes streamed;
    for (const Bytes &chunk : stream.chunks) {
      const Bytes held_before = held_back(masker);
      until_done(allocator, result.failures_met, [&] {
        const std::int32_t status = mask_into(allocator, masker, chunk, stream.max_stars, true, streamed);
        if (status != 0) {
          EXPECT_EQ(held_back(masker), held_before) << "a failed chunk changed the held-back bytes";
        }
        return status;
      });
    }
    streamed += held_back(masker);
    hush_reset_reminder(masker);
    result.outputs.streamed.push_back(streamed);
  }

  hush_destroy(masker);
  EXPECT_TRUE(allocator.errors.empty()) << allocator.errors.front();
  EXPECT_EQ(allocator.live_blocks(), 0u) << "blocks left behind";
  result.failures_caused = allocator.failures();
  return result;
}

TEST(FaultSweep, EveryFailedRequestIsReportedRecoveredAndChangesNothing) {
  const Scenario scenario = make_scenario();
  ASSERT_GT(scenario.first_secrets.size(), 16u * 4);

  for (const bool refuse_remap : {false, true}) {
    SCOPED_TRACE(refuse_remap ? "remap refused: growth moves blocks" : "remap allowed");
    const RunResult clean = run(scenario, 0, refuse_remap);
    ASSERT_EQ(clean.failures_caused, 0u);

    // The failure-free run itself agrees with the naive masker.
    std::vector<Bytes> all_secrets = scenario.first_secrets;
    all_secrets.insert(all_secrets.end(), scenario.later_secrets.begin(), scenario.later_secrets.end());
    EXPECT_EQ(clean.outputs.whole[0], reference_mask(scenario.first_secrets, scenario.whole_texts[2], 2).output);
    for (std::size_t t = 0; t < scenario.whole_texts.size(); ++t) {
      EXPECT_EQ(clean.outputs.whole[t + 1],
                reference_mask(all_secrets, scenario.whole_texts[t], scenario.whole_max_stars).output);
    }
    for (std::size_t s = 0; s < scenario.streams.size(); ++s) {
      const Stream &stream = scenario.streams[s];
      EXPECT_EQ(clean.outputs.streamed[s],
                reference_mask(all_secrets, concatenated(stream.chunks), stream.max_stars).output);
    }

    std::uint64_t fail_at = 1;
    std::uint64_t calls_failed = 0;
    for (;; ++fail_at) {
      const RunResult failed = run(scenario, fail_at, refuse_remap);
      if (failed.failures_caused == 0) break;
      // A refused remap is not a failed call (growth falls back to a new
      // block), so calls may meet fewer failures than were caused.
      ASSERT_LE(failed.failures_met, failed.failures_caused);
      if (failed.failures_met != 0) ++calls_failed;
      ASSERT_EQ(failed.outputs, clean.outputs) << "request " << fail_at << " failed";
      if (::testing::Test::HasFailure()) FAIL() << "request " << fail_at << " failed";
    }
    // The sweep must have reached every kind of block: node array growth,
    // edge sets, the completion queue, working, output and held-back
    // buffers.
    EXPECT_GT(fail_at, 100u);
    EXPECT_GT(calls_failed, fail_at / 2);
  }
}

}  // namespace
}  // namespace hush::core::testing
