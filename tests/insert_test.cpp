// Secret insertion: the trie it builds, secret numbering, the node-index
// limit, and every allocation of a sequence of insertions failed in turn.

#include <gtest/gtest.h>

#include <random>

#include "automaton/insert.h"
#include "support/masker_access.h"
#include "support/recording_allocator.h"

namespace hush::core::testing {
namespace {

TEST(Insert, BuildsTheTrieAndNumbersSecrets) {
  Handle handle = make_handle();
  const Masker &masker = internals(handle);
  EXPECT_EQ(hush_insert(handle.get(), nullptr, 0), 0);  // empty: pointer not read
  EXPECT_EQ(masker.node_count, 1u);

  ASSERT_EQ(insert(handle, "abc"), 0);
  EXPECT_EQ(masker.node_count, 4u);
  EXPECT_EQ(masker.last_node_id, 3u);
  EXPECT_EQ(masker.pattern_count, 1u);
  for (NodeIndex node = 0; node < 3; ++node) EXPECT_EQ(masker.nodes[node].edge_kind, EDGE_SINGLE);
  for (std::uint32_t depth = 1; depth <= 3; ++depth) EXPECT_EQ(masker.nodes[depth].depth, depth);
  EXPECT_EQ(masker.nodes[3].pattern_id, 1u);
  EXPECT_EQ(masker.nodes[3].pattern_len, 3u);

  ASSERT_EQ(insert(handle, "abc"), 0);  // again: nothing changes
  EXPECT_EQ(masker.pattern_count, 1u);
  EXPECT_EQ(masker.node_count, 4u);

  ASSERT_EQ(insert(handle, "ab"), 0);  // a prefix: marked, no node
  EXPECT_EQ(masker.node_count, 4u);
  EXPECT_EQ(masker.nodes[2].pattern_id, 2u);
  EXPECT_EQ(masker.nodes[2].pattern_len, 2u);

  ASSERT_EQ(insert(handle, "abcd"), 0);  // an extension: one node below
  EXPECT_EQ(masker.node_count, 5u);
  EXPECT_EQ(masker.nodes[4].depth, 4u);
  EXPECT_EQ(masker.nodes[3].pattern_id, 1u);

  ASSERT_EQ(insert(handle, "abd"), 0);  // a sibling: node 'ab' becomes a list
  ASSERT_EQ(masker.nodes[2].edge_kind, EDGE_LIST);
  const EdgeList &list = *edge_list_of(masker.nodes[2]);
  EXPECT_EQ(list.keys[0], 'c');
  EXPECT_EQ(list.keys[1], 'd');
  EXPECT_EQ(list.targets[1], 5u);

  // Bytes 0x00 and 0xFF are ordinary keys.
  ASSERT_EQ(insert(handle, bytes({0})), 0);
  ASSERT_EQ(insert(handle, bytes({0xFF, 0, 0xFF})), 0);
  EXPECT_EQ(masker.nodes[*node_of(masker, bytes({0}))].pattern_id, 5u);
  EXPECT_EQ(masker.nodes[*node_of(masker, bytes({0xFF, 0, 0xFF}))].pattern_len, 3u);
  EXPECT_EQ(masker.pattern_count, 6u);
}

TEST(Insert, RootPromotesAtSixteenAndSeventeenFirstBytes) {
  Handle sixteen = make_handle();
  Handle seventeen = make_handle();
  for (int first = 0; first < 17; ++first) {
    const Bytes secret = Bytes(1, static_cast<char>(first * 15)) + "tail";
    if (first < 16) {
      ASSERT_EQ(insert(sixteen, secret), 0);
    }
    ASSERT_EQ(insert(seventeen, secret), 0);
  }
  EXPECT_EQ(internals(sixteen).nodes[0].edge_kind, EDGE_LIST);
  EXPECT_EQ(edge_list_of(internals(sixteen).nodes[0])->count, 16);
  EXPECT_EQ(internals(seventeen).nodes[0].edge_kind, EDGE_TABLE);
}

TEST(Insert, FiveOneByteSecretsGrowTheArrayDuringTheFifth) {
  Handle handle = make_handle();
  for (char secret = 'a'; secret < 'e'; ++secret) ASSERT_EQ(insert(handle, Bytes(1, secret)), 0);
  EXPECT_EQ(internals(handle).node_capacity, 5u);
  ASSERT_EQ(insert(handle, "e"), 0);
  EXPECT_EQ(internals(handle).node_capacity, 13u);
}

TEST(Insert, NodeIndexLimitRefusesNewNodesOnly) {
  Handle handle = make_handle();
  Masker &masker = internals(handle);
  ASSERT_EQ(insert(handle, "abc"), 0);
  masker.last_node_id = MAX_NODE_INDEX;
  EXPECT_EQ(insert(handle, "abd"), -1);
  EXPECT_EQ(masker.node_count, 4u);
  EXPECT_EQ(insert(handle, "abc"), 0);  // registered before
  EXPECT_EQ(insert(handle, "ab"), 0);   // a prefix still registers
  EXPECT_EQ(masker.nodes[2].pattern_id, 2u);
  EXPECT_EQ(masker.pattern_count, 2u);
}

// Everything insertion decides, independent of where blocks lie: for every
// byte string in the trie, its depth, secret length and whether a secret
// ends there.
std::map<Bytes, std::pair<std::uint32_t, std::uint32_t>> trie_shape(const Masker &masker) {
  std::map<Bytes, std::pair<std::uint32_t, std::uint32_t>> shape;
  std::vector<std::pair<NodeIndex, Bytes>> pending{{0, ""}};
  while (!pending.empty()) {
    auto [node, path] = pending.back();
    pending.pop_back();
    shape[path] = {masker.nodes[node].depth, masker.nodes[node].pattern_len};
    for (int byte = 0; byte < 256; ++byte) {
      const NodeIndex child = find_edge(masker.nodes[node], static_cast<std::uint8_t>(byte));
      if (child != 0) pending.emplace_back(child, path + static_cast<char>(byte));
    }
  }
  return shape;
}

TEST(Insert, EveryFailedAllocationLeavesAUsableHandle) {
  // Shared prefixes, 17+ first bytes and 17+ second bytes under one node:
  // array growth, lists and tables are all needed.
  std::vector<Bytes> secrets;
  for (int i = 0; i < 20; ++i) secrets.push_back(Bytes(1, static_cast<char>('A' + i)) + "secret");
  for (int i = 0; i < 20; ++i) secrets.push_back(Bytes("A") + static_cast<char>('a' + i) + "xyz");
  secrets.push_back(bytes({0, 0xFF, 0}));

  Handle reference = make_handle();
  for (const Bytes &secret : secrets) ASSERT_EQ(insert(reference, secret), 0);
  const auto expected = trie_shape(internals(reference));

  for (std::uint64_t k = 1;; ++k) {
    RecordingAllocator allocator;  // outlives the handle that uses it
    Handle handle = make_handle();
    Masker &masker = internals(handle);
    allocator.install(handle.get());
    allocator.fail_request(k);
    for (const Bytes &secret : secrets) {
      const std::uint64_t count_before = masker.pattern_count;
      const auto shape_before = trie_shape(masker);
      const std::int32_t status = insert(handle, secret);
      if (status != 0) {
        ASSERT_EQ(status, -1);
        EXPECT_EQ(masker.pattern_count, count_before);
        for (const auto &[path, info] : trie_shape(masker)) {
          const auto was = shape_before.find(path);
          EXPECT_EQ(info.second, was == shape_before.end() ? 0u : was->second.second) << "k " << k;
        }
        ASSERT_EQ(insert(handle, secret), 0) << "retry after failure " << k;
      }
    }
    EXPECT_EQ(trie_shape(masker), expected) << "k " << k;
    EXPECT_EQ(masker.pattern_count, secrets.size());
    EXPECT_TRUE(allocator.errors.empty());
    if (allocator.failures() == 0) break;  // k is past the last request
  }
}

}  // namespace
}  // namespace hush::core::testing
