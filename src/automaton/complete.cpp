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

}  // namespace

Status complete_automaton(Masker &masker, CallerAddress caller) noexcept {
  // root_next must be whole before any link is computed: the failure walk
  // ends with one read of it instead of searching the root's edge set.
  for (unsigned byte = 0; byte < 256; ++byte) {
    masker.root_next[byte] = find_edge(masker.nodes[0], static_cast<std::uint8_t>(byte));
  }

  const Allocator allocator = masker.allocator;
  NodeQueue queue{};
  queue.capacity = grown_capacity(1, QUEUE_ENTRY_BYTES);
  queue.buffer = static_cast<std::uint64_t *>(
      allocator.vtable->alloc(allocator.context, queue.capacity * QUEUE_ENTRY_BYTES, ALIGN_ARRAY, caller));
  if (queue.buffer == nullptr) return Status::failed;
  queue.buffer[queue.length++] = 0;

  while (queue.read_position < queue.length) {
    const auto parent = static_cast<NodeIndex>(queue.buffer[queue.read_position++]);
    for (unsigned value = 0; value < 256; ++value) {
      const auto byte = static_cast<std::uint8_t>(value);
      const NodeIndex child = find_edge(masker.nodes[parent], byte);
      if (child == 0) continue;
      // Depth-1 nodes keep the 0 they were made with.
      Node &node = masker.nodes[child];
      if (parent != 0) node.fail = failure_link(masker, parent, byte);
      // The link is shallower, so it was reached earlier in this order and
      // already holds its own value.
      node.suffix_pattern_len = node.pattern_id != 0 ? node.pattern_len : masker.nodes[node.fail].suffix_pattern_len;
      if (failed(push(allocator, queue, child, caller))) return Status::failed;
    }
  }
  release_queue(allocator, queue, caller);
  assert_automaton_invariants(masker);
  return Status::ok;
}

}  // namespace hush::core
