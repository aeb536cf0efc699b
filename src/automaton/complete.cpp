#include "automaton/complete.h"

#include <cstring>

#include "alloc/size_math.h"
#include "automaton/invariants.h"

namespace hush::core {
namespace {

// Breadth-first work list.  Entries are never removed: after a complete
// traversal the buffer holds every visited node in visiting order.
struct NodeQueue {
  std::uint64_t *buffer;
  std::uint64_t length;
  std::uint64_t capacity;
  std::uint64_t read_position;
};

constexpr std::uint64_t QUEUE_ENTRY_BYTES = sizeof(std::uint64_t);
constexpr std::uint64_t MAX_QUEUE_ENTRIES = UINT64_MAX / QUEUE_ENTRY_BYTES;  // 2^61 - 1

void release_queue(const Allocator &allocator, NodeQueue &queue, CallerAddress caller) noexcept {
  allocator.vtable->free(allocator.context, queue.buffer, queue.capacity * QUEUE_ENTRY_BYTES, ALIGN_ARRAY, caller);
  queue.buffer = nullptr;
  queue.capacity = 0;
}

// Appends one entry, growing the buffer by the shared growth rule.  When the
// growth fails the buffer is released here, so the caller only returns.
Status push(const Allocator &allocator, NodeQueue &queue, NodeIndex node, CallerAddress caller) noexcept {
  if (queue.length == queue.capacity) {
    const std::uint64_t wanted = grown_capacity(queue.length + 1, QUEUE_ENTRY_BYTES);
    void *grown = nullptr;
    if (wanted <= MAX_QUEUE_ENTRIES) {
      grown = allocator.vtable->remap(allocator.context, queue.buffer, queue.capacity * QUEUE_ENTRY_BYTES, ALIGN_ARRAY,
                                      wanted * QUEUE_ENTRY_BYTES, caller);
      if (grown == nullptr) {
        grown = allocator.vtable->alloc(allocator.context, wanted * QUEUE_ENTRY_BYTES, ALIGN_ARRAY, caller);
        if (grown != nullptr) {
          std::memcpy(grown, queue.buffer, queue.length * QUEUE_ENTRY_BYTES);
          allocator.vtable->free(allocator.context, queue.buffer, queue.capacity * QUEUE_ENTRY_BYTES, ALIGN_ARRAY,
                                 caller);
        }
      }
    }
    if (grown == nullptr) {
      release_queue(allocator, queue, caller);
      return Status::failed;
    }
    queue.buffer = static_cast<std::uint64_t *>(grown);
    queue.capacity = wanted;
  }
  queue.buffer[queue.length++] = node;
  return Status::ok;
}

// The deepest proper suffix of child (= u's string + byte) that is in the
// trie.  The chain starts at u's own link: u itself is the child's parent.
// Links were stored for every shallower node earlier in breadth-first order.
NodeIndex failure_link(const Masker &masker, NodeIndex parent, std::uint8_t byte) noexcept {
  NodeIndex candidate = masker.nodes[parent].fail;
  while (candidate != 0) {
    const NodeIndex next = find_edge(masker.nodes[candidate], byte);
    if (next != 0) return next;
    candidate = masker.nodes[candidate].fail;
  }
  return masker.root_next[byte];
}

// Calls `visit(byte, child)` for every edge of `node` in ascending byte
// order, the order in which probing all 256 byte values would meet them,
// and stops at the first failure.  A list's keys are in insertion order, so
// they are sorted here; a table is read slot by slot.  (Probing all 256
// values of every node was what completion cost: 58 s of the 1,000,000
// secrets' build; see DESIGN.md.)
template <typename Visit>
Status for_each_edge_ascending(const Node &node, Visit &visit) noexcept {
  switch (node.edge_kind & 3) {
    case EDGE_SINGLE: return visit(single_edge_key(node.edges), single_edge_target(node.edges));
    case EDGE_LIST: {
      const EdgeList &list = *edge_list_of(node);
      std::uint8_t keys[EDGE_LIST_SLOTS];
      NodeIndex targets[EDGE_LIST_SLOTS];
      const unsigned count = list.count;
      for (unsigned slot = 0; slot < count; ++slot) {
        unsigned at = slot;
        for (; at > 0 && keys[at - 1] > list.keys[slot]; --at) {
          keys[at] = keys[at - 1];
          targets[at] = targets[at - 1];
        }
        keys[at] = list.keys[slot];
        targets[at] = list.targets[slot];
      }
      for (unsigned slot = 0; slot < count; ++slot) {
        if (failed(visit(keys[slot], targets[slot]))) return Status::failed;
      }
      return Status::ok;
    }
    case EDGE_TABLE: {
      const EdgeTable &table = *edge_table_of(node);
      for (unsigned key = 0; key < 256; ++key) {
        if (table.targets[key] != 0 && failed(visit(static_cast<std::uint8_t>(key), table.targets[key]))) {
          return Status::failed;
        }
      }
      return Status::ok;
    }
    default: return Status::ok;
  }
}

}  // namespace

Status complete_automaton(Masker &masker, CallerAddress caller, std::uint64_t first_capacity) noexcept {
  // root_next must be whole before any link is computed: the failure walk
  // ends with one read of it instead of searching the root's edge set.
  for (unsigned byte = 0; byte < 256; ++byte) {
    masker.root_next[byte] = find_edge(masker.nodes[0], static_cast<std::uint8_t>(byte));
  }

  const Allocator allocator = masker.allocator;
  NodeQueue queue{};
  queue.capacity = first_capacity != 0 && first_capacity <= MAX_QUEUE_ENTRIES ? first_capacity
                                                                              : grown_capacity(1, QUEUE_ENTRY_BYTES);
  queue.buffer = static_cast<std::uint64_t *>(
      allocator.vtable->alloc(allocator.context, queue.capacity * QUEUE_ENTRY_BYTES, ALIGN_ARRAY, caller));
  if (queue.buffer == nullptr) return Status::failed;
  queue.buffer[queue.length++] = 0;

  while (queue.read_position < queue.length) {
    const auto parent = static_cast<NodeIndex>(queue.buffer[queue.read_position++]);
    auto visit = [&](std::uint8_t byte, NodeIndex child) {
      // Depth-1 nodes keep the 0 they were made with.
      Node &node = masker.nodes[child];
      if (parent != 0) node.fail = failure_link(masker, parent, byte);
      // The link is shallower, so it was reached earlier in this order and
      // already holds its own value.
      node.suffix_pattern_len = node.pattern_id != 0 ? node.pattern_len : masker.nodes[node.fail].suffix_pattern_len;
      return push(allocator, queue, child, caller);
    };
    if (failed(for_each_edge_ascending(masker.nodes[parent], visit))) return Status::failed;
  }
  release_queue(allocator, queue, caller);
  assert_automaton_invariants(masker);
  return Status::ok;
}

}  // namespace hush::core
