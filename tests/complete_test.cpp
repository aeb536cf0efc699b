// Completion: root_next, failure links checked against their definition on
// random tries, the visiting order, the queue's growth and its failures.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/masker_access.h"
#include "support/recording_allocator.h"

namespace hush::core::testing {
namespace {

// Byte string of every node reachable from the root, by index.
std::map<NodeIndex, Bytes> paths_of(const Masker &masker) {
  std::map<NodeIndex, Bytes> paths{{0, ""}};
  std::vector<NodeIndex> pending{0};
  while (!pending.empty()) {
    const NodeIndex node = pending.back();
    pending.pop_back();
    for (int byte = 0; byte < 256; ++byte) {
      const NodeIndex child = find_edge(masker.nodes[node], static_cast<std::uint8_t>(byte));
      if (child == 0) continue;
      paths[child] = paths[node] + static_cast<char>(byte);
      pending.push_back(child);
    }
  }
  return paths;
}

// The definition: the deepest node whose string is a proper suffix.
void expect_links_match_definition(const Masker &masker, const std::string &context) {
  const auto paths = paths_of(masker);
  for (const auto &[node, path] : paths) {
    if (node == 0) continue;
    NodeIndex expected = 0;
    for (std::size_t drop = 1; drop < path.size(); ++drop) {
      if (auto suffix = node_of(masker, path.substr(drop))) {
        expected = *suffix;
        break;
      }
    }
    ASSERT_EQ(masker.nodes[node].fail, expected) << context << " node '" << path << "'";
  }
}

TEST(Complete, FailureLinksMatchTheirDefinitionOnRandomTries) {
  std::mt19937_64 random(20261208);
  for (int round = 0; round < 300; ++round) {
    const int alphabet = 2 + round % 3;
    const int secrets = 1 + static_cast<int>(random() % 12);
    Handle handle = make_handle();
    for (int s = 0; s < secrets; ++s) {
      Bytes secret;
      const std::size_t len = 1 + random() % 9;
      for (std::size_t i = 0; i < len; ++i) secret.push_back(static_cast<char>('a' + random() % static_cast<unsigned>(alphabet)));
      ASSERT_EQ(insert(handle, secret), 0);
    }
    ASSERT_EQ(hush_build(handle.get()), 0);
    const Masker &masker = internals(handle);
    for (int byte = 0; byte < 256; ++byte) {
      ASSERT_EQ(masker.root_next[byte], find_edge(masker.nodes[0], static_cast<std::uint8_t>(byte)));
    }
    expect_links_match_definition(masker, "round " + std::to_string(round));
  }
}

struct LinkCase {
  const char *name;
  std::vector<Bytes> secrets;
  std::vector<std::pair<Bytes, Bytes>> links;  // node -> its failure link ("" is the root)
};

TEST(Complete, NamedExamples) {
  const std::vector<LinkCase> cases = {
      {"suffix is a secret", {"xy", "y"}, {{"xy", "y"}}},
      {"two branches", {"pqrs", "qrt"}, {{"pq", "q"}, {"pqr", "qr"}, {"pqrs", ""}, {"qr", ""}, {"qrt", ""}}},
      {"walk passes a node without the edge",
       {"pqrx", "qry", "rx"},
       {{"pqrx", "rx"}, {"qr", "r"}, {"qry", ""}}},
      {"four secrets",
       {"he", "she", "his", "hers"},
       {{"sh", "h"}, {"his", "s"}, {"she", "he"}, {"hers", "s"}, {"he", ""}, {"hi", ""}, {"her", ""}}},
      {"repeated byte", {"aaaa"}, {{"a", ""}, {"aa", "a"}, {"aaa", "aa"}, {"aaaa", "aaa"}}},
      {"prefix and duplicate", {"abab", "ab", "abab"}, {{"aba", "a"}, {"abab", "ab"}, {"ab", ""}}},
  };
  for (const LinkCase &test : cases) {
    Handle handle = make_built(test.secrets);
    const Masker &masker = internals(handle);
    for (const auto &[node, link] : test.links) {
      EXPECT_EQ(masker.nodes[*node_of(masker, node)].fail, *node_of(masker, link)) << test.name << ": " << node;
    }
  }
}

// Live blocks other than the prefilter, which hush_build adds after
// completion has done its work.
std::size_t blocks_besides_prefilter(const RecordingAllocator &allocator, const Masker &masker) {
  return allocator.live_blocks() - (masker.prefilter != nullptr ? 1 : 0);
}

// The queue's contents when completion released it: the visiting order.
std::vector<std::uint64_t> visiting_order(const RecordingAllocator &allocator) {
  for (const AllocatorCall &call : allocator.calls) {
    if (call.op != Op::free || call.align_exp != ALIGN_ARRAY) continue;
    std::vector<std::uint64_t> entries(call.freed_contents.size() / 8);
    std::memcpy(entries.data(), call.freed_contents.data(), entries.size() * 8);
    return entries;
  }
  return {};
}

TEST(Complete, VisitsBreadthFirstInByteOrder) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  for (const char *secret : {"he", "she", "his", "hers"}) ASSERT_EQ(insert(handle, secret), 0);
  allocator.install(handle.get());
  ASSERT_EQ(hush_build(handle.get()), 0);
  const Masker &masker = internals(handle);
  std::vector<std::uint64_t> expected;
  for (const char *node : {"", "h", "s", "he", "hi", "sh", "her", "his", "she", "hers"}) {
    expected.push_back(*node_of(masker, node));
  }
  std::vector<std::uint64_t> order = visiting_order(allocator);
  order.resize(expected.size());
  EXPECT_EQ(order, expected);
  EXPECT_EQ(blocks_besides_prefilter(allocator, masker), 1u);  // only the node array remains
}

TEST(Complete, NoSecretsAndOneByteSecrets) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle empty = make_handle();
  allocator.install(empty.get());
  ASSERT_EQ(hush_build(empty.get()), 0);
  for (NodeIndex next : internals(empty).root_next) EXPECT_EQ(next, 0u);
  ASSERT_EQ(allocator.calls.size(), 2u);  // queue of 17 entries, then its release
  EXPECT_EQ(allocator.calls[0].len, 17u * 8);
  EXPECT_EQ(allocator.calls[0].align_exp, ALIGN_ARRAY);

  Handle single = make_built({"x", bytes({0}), bytes({0xFF})});
  const Masker &masker = internals(single);
  EXPECT_EQ(masker.root_next[std::uint8_t{'x'}], *node_of(masker, "x"));
  EXPECT_EQ(masker.root_next[0], *node_of(masker, bytes({0})));
  EXPECT_EQ(masker.root_next[0xFF], *node_of(masker, bytes({0xFF})));
  EXPECT_EQ(masker.root_next[std::uint8_t{'y'}], 0u);
}

TEST(Complete, QueueGrowsBy17_43_82AndRebuildIsIdentical) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  // 60 reachable nodes besides the root: 60 one-byte secrets.
  for (int byte = 0; byte < 60; ++byte) ASSERT_EQ(insert(handle, Bytes(1, static_cast<char>(byte * 4))), 0);
  allocator.install(handle.get());
  ASSERT_EQ(hush_build(handle.get()), 0);
  std::vector<std::uint64_t> sizes;
  for (const AllocatorCall &call : allocator.calls) {
    if (call.align_exp != ALIGN_ARRAY) continue;  // the prefilter's block
    if (call.op == Op::alloc) sizes.push_back(call.len);
    if (call.op == Op::remap) sizes.push_back(call.new_len);
  }
  EXPECT_EQ(sizes, (std::vector<std::uint64_t>{17 * 8, 43 * 8, 82 * 8}));

  Masker &masker = internals(handle);
  std::vector<NodeIndex> root_before(std::begin(masker.root_next), std::end(masker.root_next));
  std::vector<NodeIndex> fails_before;
  for (std::uint64_t node = 0; node < masker.node_count; ++node) fails_before.push_back(masker.nodes[node].fail);
  ASSERT_EQ(hush_build(handle.get()), 0);
  EXPECT_EQ(std::vector<NodeIndex>(std::begin(masker.root_next), std::end(masker.root_next)), root_before);
  for (std::uint64_t node = 0; node < masker.node_count; ++node) EXPECT_EQ(masker.nodes[node].fail, fails_before[node]);
}

TEST(Complete, QueueFailuresReleaseTheBufferAndARetrySucceeds) {
  std::vector<Bytes> secrets;
  for (int i = 0; i < 30; ++i) secrets.push_back(Bytes(1, static_cast<char>('0' + i)) + "ab" + static_cast<char>('a' + i % 5));
  Handle reference = make_built(secrets);
  for (std::uint64_t k = 1;; ++k) {
    RecordingAllocator allocator;  // outlives the handle that uses it
    Handle handle = make_handle();
    for (const Bytes &secret : secrets) ASSERT_EQ(insert(handle, secret), 0);
    allocator.install(handle.get());
    allocator.refuse_remap = k % 2 == 0;  // exercise both growth paths
    allocator.fail_request(k);
    const std::int32_t status = hush_build(handle.get());
    const Masker &masker = internals(handle);
    EXPECT_EQ(blocks_besides_prefilter(allocator, masker), 1u) << "queue released, k " << k;
    if (status != 0) {
      EXPECT_EQ(status, -1);
      // root_next is complete even when the queue fails.
      for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(masker.root_next[byte], internals(reference).root_next[byte]);
      }
      allocator.stop_failing();
      ASSERT_EQ(hush_build(handle.get()), 0);
    }
    for (std::uint64_t node = 0; node < masker.node_count; ++node) {
      EXPECT_EQ(masker.nodes[node].fail, internals(reference).nodes[node].fail) << "k " << k;
    }
    EXPECT_TRUE(allocator.errors.empty());
    if (allocator.failures() == 0) break;
  }
}

TEST(Complete, UnreachableNodeAndLateInsertion) {
  RecordingAllocator allocator;  // outlives the handle that uses it
  Handle handle = make_handle();
  ASSERT_EQ(insert(handle, "ab"), 0);
  allocator.install(handle.get());
  allocator.fail_request(1);  // the list for 'ac' under 'a'
  ASSERT_EQ(insert(handle, "ac"), -1);
  allocator.stop_failing();
  const Masker &masker = internals(handle);
  const NodeIndex orphan = static_cast<NodeIndex>(masker.node_count - 1);
  ASSERT_EQ(insert(handle, "bab"), 0);
  ASSERT_EQ(hush_build(handle.get()), 0);
  EXPECT_EQ(masker.nodes[orphan].fail, 0u);
  EXPECT_EQ(masker.nodes[*node_of(masker, "ba")].fail, *node_of(masker, "a"));

  // After completion, a new root edge is not in root_next until the next build.
  ASSERT_EQ(insert(handle, "zz"), 0);
  EXPECT_EQ(masker.root_next[std::uint8_t{'z'}], 0u);
  EXPECT_EQ(mask(handle, "zz", 3, false).output, "zz");
  ASSERT_EQ(hush_build(handle.get()), 0);
  EXPECT_EQ(mask(handle, "zz", 3, false).output, "**");
}

}  // namespace
}  // namespace hush::core::testing
