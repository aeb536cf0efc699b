// Exhausted memory in masking calls: every allocation of a streaming call
// failed in turn must change nothing, so that passing the same chunk again
// gives what an unfailed call would have given.

#include <gtest/gtest.h>

#include "support/masker_access.h"
#include "support/recording_allocator.h"

namespace hush::core::testing {
namespace {

struct Observed {
  std::uint64_t state;
  std::int64_t last_match_end;
  std::uint64_t last_match_len;
  std::uint64_t run_len;
  Bytes held;
  bool operator==(const Observed &) const = default;
};

Observed observe(const Handle &handle) {
  const Masker &masker = internals(handle);
  return {masker.state, masker.last_match_end, masker.last_match_len, masker.run_len, reminder_of(handle)};
}

TEST(MaskFailure, EveryFailedRequestOfAStreamLeavesTheHandleAsItWas) {
  const std::vector<Bytes> secrets = {"abab", "abcd", "xyz"};
  const std::vector<Bytes> chunks = {"..ab", "a", "", "bab.ab", "cd..xy", "z", "abab"};
  const std::uint64_t max_stars = 3;

  // The outputs of an unfailed stream, call by call.
  Handle reference = make_built(secrets);
  std::vector<Bytes> expected;
  for (const Bytes &chunk : chunks) expected.push_back(mask(reference, chunk, max_stars, true).output);
  const Bytes expected_tail = reminder_of(reference);

  for (std::uint64_t k = 1;; ++k) {
    RecordingAllocator allocator;  // outlives the handle that uses it
    Handle handle = make_built(secrets);
    allocator.install(handle.get());
    allocator.fail_request(k);
    for (std::size_t c = 0; c < chunks.size(); ++c) {
      const Observed before = observe(handle);
      MaskCall call = mask(handle, chunks[c], max_stars, true);
      if (call.status != 0) {
        ASSERT_EQ(call.status, -1);
        EXPECT_EQ(observe(handle), before) << "request " << k << ", chunk " << c;
        call = mask(handle, chunks[c], max_stars, true);
        ASSERT_EQ(call.status, 0);
      }
      EXPECT_EQ(call.output, expected[c]) << "request " << k << ", chunk " << c;
    }
    EXPECT_EQ(reminder_of(handle), expected_tail);
    EXPECT_TRUE(allocator.errors.empty()) << allocator.errors.front();
    if (allocator.failures() == 0) break;
  }
}

TEST(MaskFailure, FailedWholeTextResetsTheWalkAndReportsNothing) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_built({"abcd"});
  allocator.install(handle.get());
  ASSERT_EQ(mask(handle, "xxab", 3, true).output, "xx");
  allocator.fail_request(1);
  std::uint8_t *out = reinterpret_cast<std::uint8_t *>(0x1);
  std::uint64_t out_len = 77;
  const Bytes text = "cd";
  EXPECT_EQ(hush_mask(handle.get(), reinterpret_cast<const std::uint8_t *>(text.data()), text.size(), 3, 0, &out,
                      &out_len),
            -1);
  EXPECT_EQ(out, reinterpret_cast<std::uint8_t *>(0x1));
  EXPECT_EQ(out_len, 77u);
  EXPECT_EQ(reminder_of(handle), "");
  EXPECT_EQ(internals(handle).state, 0u);
}

TEST(MaskFailure, LengthOverflowIsRefusedWithNothingChanged) {
  Handle handle = make_built({"abcd"});
  ASSERT_EQ(mask(handle, "xxab", 3, true).output, "xx");
  const Observed before = observe(handle);
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  const std::uint8_t byte = 'c';
  // Two held-back bytes plus 2^64 - 1 does not fit; the text is not read.
  EXPECT_EQ(hush_mask(handle.get(), &byte, UINT64_MAX, 3, 1, &out, &out_len), -1);
  EXPECT_EQ(observe(handle), before);
}

}  // namespace
}  // namespace hush::core::testing
