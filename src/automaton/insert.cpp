#include "automaton/insert.h"

#include "automaton/node_store.h"

namespace hush::core {

Status insert_secret(Masker &masker, const std::uint8_t *secret, std::uint64_t len, CallerAddress caller) noexcept {
  if (len == 0) return Status::ok;
  NodeIndex current = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    const std::uint8_t byte = secret[i];
    const NodeIndex next = find_edge(masker.nodes[current], byte);
    if (next != 0) {
      current = next;
      continue;
    }
    if (masker.last_node_id >= MAX_NODE_INDEX) return Status::failed;
    if (failed(append_node(masker, masker.nodes[current].depth + 1, caller))) return Status::failed;
    ++masker.last_node_id;
    const auto child = static_cast<NodeIndex>(masker.last_node_id);
    // The new node stays at the end of the array even if the edge to it
    // cannot be added: unreachable, it owns nothing and never matches.
    if (failed(add_edge(masker, current, byte, child, caller))) return Status::failed;
    current = child;
  }
  Node &end = masker.nodes[current];
  if (end.pattern_id != 0) return Status::ok;  // registered before
  ++masker.pattern_count;
  // Every secret ends at its own node, so both values fit 32 bits: there are
  // at most 2^32 - 1 such nodes and pattern_len equals the node's depth.
  end.pattern_id = static_cast<std::uint32_t>(masker.pattern_count);
  end.pattern_len = static_cast<std::uint32_t>(len);
  return Status::ok;
}

}  // namespace hush::core
