// Handle lifecycle: creation, the order in which destroy gives blocks back,
// the held-back bytes as the host sees them, and output buffers outliving
// their handle.

#include <gtest/gtest.h>

#include "mask/prefilter/prefilter.h"
#include "support/masker_access.h"
#include "support/recording_allocator.h"

namespace hush::core::testing {
namespace {

TEST(Handle, NewHandleIsEmptyAndHoldsNothingBack) {
  Handle handle = make_handle();
  const Masker &masker = internals(handle);
  EXPECT_EQ(masker.node_count, 1u);
  EXPECT_EQ(masker.node_capacity, 5u);
  EXPECT_EQ(masker.pattern_count, 0u);
  EXPECT_EQ(masker.last_match_end, -1);
  EXPECT_EQ(masker.state, 0u);
  for (NodeIndex next : masker.root_next) EXPECT_EQ(next, 0u);
  EXPECT_EQ(masker.nodes[0].edge_kind, EDGE_NONE);

  std::uint64_t len = 7;
  EXPECT_EQ(hush_get_reminder(handle.get(), &len), nullptr);
  EXPECT_EQ(len, 0u);
  hush_reset_reminder(handle.get());
  hush_reset_reminder(handle.get());
  EXPECT_EQ(reminder_of(handle), "");

  hush_free(nullptr, 10);
  hush_free(reinterpret_cast<std::uint8_t *>(&len), 0);  // length 0 is never released
  hush_destroy(nullptr);
}

TEST(Handle, DestroyReleasesCarryOverThenEdgeSetsInNodeOrderThenArray) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  allocator.install(handle.get());
  // Root: a table (17 first bytes); node 'a': a list ('ab', 'ac');
  // node 'ab': single; the rest: none.
  for (char first = 'a'; first < 'a' + 17; ++first) ASSERT_EQ(insert(handle, Bytes(1, first) + "b"), 0);
  ASSERT_EQ(insert(handle, "ac"), 0);
  ASSERT_EQ(hush_build(handle.get()), 0);
  ASSERT_EQ(mask(handle, "xxa", 3, true).output, "xx");
  ASSERT_EQ(reminder_of(handle), "a");

  const Masker &masker = internals(handle);
  const void *reminder = masker.reminder;
  const void *array = masker.nodes;
  const std::uint64_t capacity = masker.node_capacity;
  const void *table = edge_table_of(masker.nodes[0]);
  const void *list = edge_list_of(masker.nodes[*node_of(masker, "a")]);
  const void *prefilter = masker.prefilter;
  ASSERT_NE(prefilter, nullptr);
  allocator.clear_calls();
  hush_destroy(handle.release());

  // The prefilter, an acceleration beside the automaton, goes last.
  const std::vector<AllocatorCall> &calls = allocator.calls;
  ASSERT_EQ(calls.size(), 5u);
  for (const AllocatorCall &call : calls) EXPECT_EQ(call.op, Op::free);
  EXPECT_EQ(calls[0].block, reminder);
  EXPECT_EQ(calls[0].len, 1u);
  EXPECT_EQ(calls[0].align_exp, ALIGN_BYTES);
  EXPECT_EQ(calls[1].block, table);
  EXPECT_EQ(calls[1].len, sizeof(EdgeTable));
  EXPECT_EQ(calls[1].align_exp, ALIGN_EDGES);
  EXPECT_EQ(calls[2].block, list);
  EXPECT_EQ(calls[2].len, sizeof(EdgeList));
  EXPECT_EQ(calls[2].align_exp, ALIGN_EDGES);
  EXPECT_EQ(calls[3].block, array);
  EXPECT_EQ(calls[3].len, capacity * sizeof(Node));
  EXPECT_EQ(calls[3].align_exp, ALIGN_ARRAY);
  EXPECT_EQ(calls[4].block, prefilter);
  EXPECT_EQ(calls[4].align_exp, ALIGN_PREFILTER);
  EXPECT_TRUE(allocator.errors.empty());
}

TEST(Handle, FreshHandleDestroyGivesBackTheFiveRecordArray) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  allocator.install(handle.get());
  hush_destroy(handle.release());
  ASSERT_EQ(allocator.calls.size(), 1u);
  EXPECT_EQ(allocator.calls[0].op, Op::free);
  EXPECT_EQ(allocator.calls[0].len, 5 * sizeof(Node));
  EXPECT_EQ(allocator.calls[0].align_exp, ALIGN_ARRAY);
}

TEST(Handle, OutputOutlivesItsHandleAndResetDropsHeldBytes) {
  Handle handle = make_built({"abcd"});
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  const Bytes text = "xxabcdyy";
  ASSERT_EQ(hush_mask(handle.get(), reinterpret_cast<const std::uint8_t *>(text.data()), text.size(), 10, 0, &out,
                      &out_len),
            0);
  ASSERT_EQ(mask(handle, "zzab", 10, true).output, "zz");
  EXPECT_EQ(reminder_of(handle), "ab");
  hush_reset_reminder(handle.get());
  EXPECT_EQ(reminder_of(handle), "");
  // The walk is not reset by dropping the held-back bytes.
  EXPECT_NE(internals(handle).state, 0u);
  handle.reset();
  EXPECT_EQ(Bytes(reinterpret_cast<const char *>(out), out_len), "xx****yy");
  hush_free(out, out_len);
}

}  // namespace
}  // namespace hush::core::testing
