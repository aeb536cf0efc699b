// Every allocation of a set's life failed in turn: adds, builds, stream
// creation, writes and a rebuild in mid-stream.  Each failed call must
// report HUSHSET_NOMEM (or null) and change nothing, so that retrying it
// gives exactly the unfailed run's output; nothing may leak, and every
// block must be wiped before it is released.

#include <gtest/gtest.h>

#include <algorithm>

#include "set/set.h"
#include "set/set_support.h"
#include "support/recording_allocator.h"

namespace hush::set::testing {
namespace {

using core::testing::RecordingAllocator;

struct ScenarioRun {
  Bytes output;
  std::uint64_t failed_calls = 0;
};

// One life of a set with forms derived and a stream cut in pieces, over
// `allocator`.  A call that fails is retried once, with failing stopped.
ScenarioRun run_scenario(RecordingAllocator &allocator, std::uint32_t forms) {
  ScenarioRun run;
  const core::Allocator inner = allocator.interface();
  hushset_options options = raw_options(3);
  options.forms = forms;
  options.min_length = 4;
  Set *set = nullptr;
  for (int attempt = 0; set == nullptr && attempt < 2; ++attempt) {
    set = create_set(options, inner);
    if (set == nullptr) ++run.failed_calls, allocator.stop_failing();
  }
  EXPECT_NE(set, nullptr);
  auto *handle = reinterpret_cast<hushset *>(set);
  auto retry = [&](auto call) {
    std::int32_t status = call();
    if (status == HUSHSET_NOMEM) {
      ++run.failed_calls;
      allocator.stop_failing();
      status = call();
    }
    EXPECT_EQ(status, HUSHSET_OK);
  };
  auto add = [&](const Bytes &secret) { retry([&] { return hushset_add(handle, data_of(secret), secret.size()); }); };
  add("hunter2-hunter2");
  add("line one\nline two\r\n  indented line\n");
  add("pa/ss wd:42 \"q\"");
  retry([&] { return hushset_build(handle); });

  hushset_stream *stream = nullptr;
  for (int attempt = 0; stream == nullptr && attempt < 2; ++attempt) {
    stream = hushset_stream_new(handle);
    if (stream == nullptr) ++run.failed_calls, allocator.stop_failing();
  }
  const Bytes text = "log: hunter2-hunter2 and line two, indented line; la";
  const Bytes more = "ter: minted-token-99 pa/ss wd:42 \"q\" hunter2-hun";
  auto write = [&](const Bytes &piece) {
    Bytes out(piece.size() + hushset_hold_limit(handle), '\0');
    std::uint64_t out_len = 0;
    retry([&] {
      return hushset_write(stream, data_of(piece), piece.size(), reinterpret_cast<std::uint8_t *>(out.data()),
                           out.size(), &out_len);
    });
    run.output.append(out, 0, out_len);
  };
  for (std::size_t at = 0; at < text.size(); at += 7) write(text.substr(at, 7));
  // A secret minted mid-stream, while bytes are held back.
  add("minted-token-99");
  retry([&] { return hushset_build(handle); });
  write(more.substr(0, 1));
  write(more.substr(1));
  Bytes tail(hushset_hold_limit(handle), '\0');
  std::uint64_t tail_len = 0;
  EXPECT_EQ(hushset_finish(stream, reinterpret_cast<std::uint8_t *>(tail.data()), tail.size(), &tail_len), HUSHSET_OK);
  run.output.append(tail, 0, tail_len);
  hushset_stream_destroy(stream);
  hushset_destroy(handle);
  return run;
}

TEST(SetFailure, EveryAllocationFailedInTurn) {
  for (const std::uint32_t forms : {0u, static_cast<std::uint32_t>(HUSHSET_FORMS_ALL)}) {
    RecordingAllocator clean;
    const ScenarioRun expected = run_scenario(clean, forms);
    ASSERT_EQ(expected.failed_calls, 0u);
    ASSERT_EQ(clean.live_blocks(), 0u);
    const std::uint64_t requests = clean.requests();
    ASSERT_GT(requests, 5u);
    for (std::uint64_t k = 1; k <= requests; ++k) {
      RecordingAllocator allocator;
      allocator.fail_request(k);
      const ScenarioRun run = run_scenario(allocator, forms);
      // The filter is optional: a build that cannot have one succeeds without.
      ASSERT_LE(run.failed_calls, 1u) << "request " << k;
      ASSERT_EQ(run.output, expected.output) << "request " << k;
      ASSERT_EQ(allocator.live_blocks(), 0u) << "request " << k;
      ASSERT_TRUE(allocator.errors.empty()) << allocator.errors.front();
    }
  }
}

TEST(SetFailure, EveryBlockIsWipedBeforeRelease) {
  RecordingAllocator allocator;
  allocator.keep_all_freed_contents = true;
  const ScenarioRun run = run_scenario(allocator, HUSHSET_FORMS_ALL);
  EXPECT_NE(run.output.find("***"), Bytes::npos);
  std::size_t released = 0;
  for (const auto &call : allocator.calls) {
    if (call.op != core::testing::Op::free) continue;
    ++released;
    EXPECT_TRUE(
        std::all_of(call.freed_contents.begin(), call.freed_contents.end(), [](std::uint8_t b) { return b == 0; }))
        << "a block of " << call.len << " bytes was released unwiped";
  }
  EXPECT_GT(released, 5u);
}

}  // namespace
}  // namespace hush::set::testing
