#include "automaton/invariants.h"

#ifndef NDEBUG
#include <cassert>

namespace hush::core {

void assert_trie_invariants(const Masker &masker) noexcept {
  assert(masker.node_count >= 1 && masker.node_count <= masker.node_capacity);
  assert(masker.last_node_id == masker.node_count - 1);
  for (std::uint64_t index = 0; index < masker.node_count; ++index) {
    const Node &node = masker.nodes[index];
    unsigned edges = 0;
    for (unsigned value = 0; value < 256; ++value) {
      const NodeIndex target = find_edge(node, static_cast<std::uint8_t>(value));
      if (target == 0) continue;
      ++edges;
      assert(target < masker.node_count);
      assert(masker.nodes[target].depth == node.depth + 1);
    }
    switch (node.edge_kind & 3) {
      case EDGE_NONE: assert(edges == 0); break;
      case EDGE_SINGLE: assert(edges == 1); break;
      case EDGE_LIST: assert(edges == edge_list_of(node)->count && edges >= 2 && edges <= 16); break;
      default: assert(edges >= 17); break;
    }
  }
}

void assert_automaton_invariants(const Masker &masker) noexcept {
  assert_trie_invariants(masker);
  for (std::uint64_t index = 1; index < masker.node_count; ++index) {
    const Node &node = masker.nodes[index];
    assert(node.fail < masker.node_count);
    assert(node.fail == 0 || masker.nodes[node.fail].depth < node.depth);
    assert(node.suffix_pattern_len ==
           (node.pattern_id != 0 ? node.pattern_len : masker.nodes[node.fail].suffix_pattern_len));
  }
  for (unsigned value = 0; value < 256; ++value) assert(masker.root_next[value] < masker.node_count);
}

}  // namespace hush::core
#endif
