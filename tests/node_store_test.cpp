// The node array and the edge sets: the growth rule, the remap-then-copy
// fallback, the promotions at the 2nd and 17th edge, failures that keep the
// old edge set whole, and lookups that never see unused list slots.

#include <gtest/gtest.h>

#include <vector>

#include "automaton/node_store.h"
#include "support/masker_access.h"
#include "support/recording_allocator.h"

namespace hush::core::testing {
namespace {

const CallerAddress CALLER = 0x1234;

TEST(NodeStore, CapacitiesFollowTheGrowthRule) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  allocator.install(handle.get());
  std::vector<std::uint64_t> capacities{masker.node_capacity};
  for (int i = 0; i < 70; ++i) {
    ASSERT_EQ(append_node(masker, 1, CALLER), Status::ok);
    if (masker.node_capacity != capacities.back()) capacities.push_back(masker.node_capacity);
  }
  EXPECT_EQ(capacities, (std::vector<std::uint64_t>{5, 13, 25, 43, 70, 110}));
  EXPECT_EQ(masker.node_count, 71u);
  for (std::uint64_t index = 1; index < masker.node_count; ++index) {
    EXPECT_EQ(masker.nodes[index].depth, 1u);
    EXPECT_EQ(masker.nodes[index].edge_kind, EDGE_NONE);
  }
  EXPECT_TRUE(allocator.errors.empty());
}

TEST(NodeStore, RefusedRemapCopiesOnlyTheRecordsInUse) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  allocator.install(handle.get());
  allocator.refuse_remap = true;
  for (std::uint32_t depth = 1; depth <= 5; ++depth) ASSERT_EQ(append_node(masker, depth, CALLER), Status::ok);

  ASSERT_EQ(masker.node_capacity, 13u);
  const std::vector<AllocatorCall> &calls = allocator.calls;
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].op, Op::remap);
  EXPECT_EQ(calls[0].len, 5 * sizeof(Node));
  EXPECT_EQ(calls[0].new_len, 13 * sizeof(Node));
  EXPECT_EQ(calls[1].op, Op::alloc);
  EXPECT_EQ(calls[1].len, 13 * sizeof(Node));
  EXPECT_EQ(calls[1].align_exp, ALIGN_ARRAY);
  EXPECT_EQ(calls[2].op, Op::free);
  EXPECT_EQ(calls[2].len, 5 * sizeof(Node));
  EXPECT_EQ(calls[2].align_exp, ALIGN_ARRAY);
  // Five records were in use when the sixth was appended; the fresh block
  // keeps its fill pattern after them except for the appended record.
  for (std::uint32_t index = 0; index < 6; ++index) EXPECT_EQ(masker.nodes[index].depth, index);
  const auto *tail = reinterpret_cast<const unsigned char *>(&masker.nodes[6]);
  for (std::size_t byte = 0; byte < 7 * sizeof(Node); ++byte) ASSERT_EQ(tail[byte], 0xAB);
}

TEST(NodeStore, FailedGrowthChangesNothing) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  allocator.install(handle.get());
  for (int i = 0; i < 4; ++i) ASSERT_EQ(append_node(masker, 1, CALLER), Status::ok);
  Node *before = masker.nodes;
  allocator.fail_request(1);  // the remap
  allocator.fail_request(2);  // the fallback alloc
  EXPECT_EQ(append_node(masker, 1, CALLER), Status::failed);
  EXPECT_EQ(masker.nodes, before);
  EXPECT_EQ(masker.node_count, 5u);
  EXPECT_EQ(masker.node_capacity, 5u);
  // A size that does not fit 64 bits is refused before any request.
  const std::uint64_t requests = allocator.requests();
  EXPECT_EQ(grow_nodes(masker, UINT64_MAX / 16), Status::failed);
  EXPECT_EQ(allocator.requests(), requests);
  EXPECT_EQ(append_node(masker, 1, CALLER), Status::ok);
  EXPECT_EQ(masker.node_capacity, 13u);
}

// Builds a root with `count` children for the given keys.
void add_children(Masker &masker, const std::vector<std::uint8_t> &keys) {
  for (std::uint8_t key : keys) {
    ASSERT_EQ(append_node(masker, 1, CALLER), Status::ok);
    ASSERT_EQ(add_edge(masker, 0, key, static_cast<NodeIndex>(masker.node_count - 1), CALLER), Status::ok);
  }
}

TEST(NodeStore, EdgeSetsPromoteAtTheSecondAndSeventeenthEdge) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  allocator.install(handle.get());
  std::vector<std::uint8_t> keys;
  for (int i = 0; i < 256; ++i) keys.push_back(static_cast<std::uint8_t>((i * 7 + 255) % 256));  // 255 first, 0 included

  for (std::size_t n = 1; n <= keys.size(); ++n) {
    add_children(masker, {keys[n - 1]});
    const std::uint8_t expected_kind = n == 1 ? EDGE_SINGLE : n <= 16 ? EDGE_LIST : EDGE_TABLE;
    ASSERT_EQ(masker.nodes[0].edge_kind, expected_kind) << n << " edges";
    if (expected_kind == EDGE_LIST) {
      const EdgeList &list = *edge_list_of(masker.nodes[0]);
      EXPECT_EQ(list.count, n);
      for (std::size_t slot = n; slot < 16; ++slot) EXPECT_EQ(list.keys[slot], 0);
    }
    // Every edge added so far is found; every other byte finds nothing.
    std::vector<NodeIndex> expected(256, 0);
    for (std::size_t k = 0; k < n; ++k) expected[keys[k]] = static_cast<NodeIndex>(k + 1);
    for (std::size_t byte = 0; byte < 256; ++byte) {
      ASSERT_EQ(find_edge(masker.nodes[0], static_cast<std::uint8_t>(byte)), expected[byte]) << n << " edges, byte " << byte;
    }
  }
  // The list made at the 2nd edge was released when the table replaced it.
  std::size_t lists = 0, tables = 0, list_frees = 0;
  for (const AllocatorCall &call : allocator.calls) {
    if (call.op == Op::alloc && call.len == sizeof(EdgeList)) ++lists;
    if (call.op == Op::alloc && call.len == sizeof(EdgeTable)) ++tables;
    if (call.op == Op::free && call.len == sizeof(EdgeList) && call.align_exp == ALIGN_EDGES) ++list_frees;
  }
  EXPECT_EQ(lists, 1u);
  EXPECT_EQ(tables, 1u);
  EXPECT_EQ(list_frees, 1u);
  EXPECT_TRUE(allocator.errors.empty());
}

TEST(NodeStore, ByteZeroNeverMatchesAnUnusedListSlot) {
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  add_children(masker, {0x41, 0x42});
  EXPECT_EQ(find_edge(masker.nodes[0], 0), 0u);
  EXPECT_EQ(find_edge(masker.nodes[0], 0x42), 2u);
  add_children(masker, {0x00});  // a real edge for byte 0 in slot 2
  EXPECT_EQ(find_edge(masker.nodes[0], 0), 3u);
}

TEST(NodeStore, FailedPromotionKeepsEveryOldEdge) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  allocator.install(handle.get());
  add_children(masker, {'a'});
  ASSERT_EQ(append_node(masker, 1, CALLER), Status::ok);
  allocator.fail_request(1);
  EXPECT_EQ(add_edge(masker, 0, 'b', 2, CALLER), Status::failed);
  EXPECT_EQ(masker.nodes[0].edge_kind, EDGE_SINGLE);
  EXPECT_EQ(find_edge(masker.nodes[0], 'a'), 1u);
  EXPECT_EQ(find_edge(masker.nodes[0], 'b'), 0u);

  ASSERT_EQ(add_edge(masker, 0, 'b', 2, CALLER), Status::ok);
  std::vector<std::uint8_t> more;
  for (std::uint8_t key = 'c'; more.size() < 14; ++key) more.push_back(key);
  add_children(masker, more);
  ASSERT_EQ(edge_list_of(masker.nodes[0])->count, 16);
  ASSERT_EQ(append_node(masker, 1, CALLER), Status::ok);
  allocator.fail_request(1);
  EXPECT_EQ(add_edge(masker, 0, 'z', static_cast<NodeIndex>(masker.node_count - 1), CALLER), Status::failed);
  EXPECT_EQ(masker.nodes[0].edge_kind, EDGE_LIST);
  for (NodeIndex target = 1; target <= 16; ++target) {
    const auto key = static_cast<std::uint8_t>('a' + target - 1);
    EXPECT_EQ(find_edge(masker.nodes[0], key), target);
  }
  EXPECT_EQ(find_edge(masker.nodes[0], 'z'), 0u);
  EXPECT_TRUE(allocator.errors.empty());
}

}  // namespace
}  // namespace hush::core::testing
