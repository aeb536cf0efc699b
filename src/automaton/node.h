#pragma once
// Storage of the pattern automaton: fixed-size node records addressed by a
// 32-bit index (the root is 0) and, per node, a compact set of outgoing
// edges keyed by byte value.  Index 0 is never an edge target, so a target of
// 0 anywhere means "no edge".

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hush::core {

using NodeIndex = std::uint32_t;

// The form of a node's edge set, by number of edges.  It only ever moves
// forward (none -> single -> list -> table) and is read through its low two
// bits.
inline constexpr std::uint8_t EDGE_NONE = 0;    // no edge; the edge word is 0
inline constexpr std::uint8_t EDGE_SINGLE = 1;  // one edge packed into the edge word
inline constexpr std::uint8_t EDGE_LIST = 2;    // 2 to 16 edges in an EdgeList
inline constexpr std::uint8_t EDGE_TABLE = 3;   // 17 to 256 edges in an EdgeTable

inline constexpr unsigned EDGE_LIST_SLOTS = 16;

// EDGE_SINGLE packs the whole edge into the node's 8-byte edge word: the
// target index in bits 0-31 and the key byte in bits 32-39, so that a node
// with one child (most nodes of a trie of long secrets) owns no block.
inline constexpr unsigned SINGLE_KEY_SHIFT = 32;

[[nodiscard]] constexpr std::uint64_t pack_single_edge(std::uint8_t key, NodeIndex target) noexcept {
  return (std::uint64_t{key} << SINGLE_KEY_SHIFT) | target;
}
[[nodiscard]] constexpr std::uint8_t single_edge_key(std::uint64_t word) noexcept {
  return static_cast<std::uint8_t>(word >> SINGLE_KEY_SHIFT);
}
[[nodiscard]] constexpr NodeIndex single_edge_target(std::uint64_t word) noexcept {
  return static_cast<NodeIndex>(word);
}

// The small edge set.  The 16 keys lie next to each other so that one
// unaligned 16-byte load compares all of them at once; key slots from
// `count` on hold 0, target slots from `count` on are never read.
struct EdgeList {
  NodeIndex targets[EDGE_LIST_SLOTS];
  std::uint8_t keys[EDGE_LIST_SLOTS];
  std::uint8_t count;
};
static_assert(offsetof(EdgeList, keys) == 64 && sizeof(EdgeList::keys) == 16);

// The full edge set: one target per byte value, 0 where there is no edge.
struct EdgeTable {
  NodeIndex targets[256];
};
static_assert(sizeof(EdgeTable) == 1024);

// One record of the node array.  32 bytes so that two nodes share a cache
// line and the array is addressed by a shift.
struct Node {
  std::uint64_t edges;        // edge word; meaning set by edge_kind
  std::uint8_t edge_kind;     // EDGE_NONE .. EDGE_TABLE
  NodeIndex fail;             // deepest proper-suffix node; set by completion
  std::uint32_t pattern_len;  // length of the secret ending here, 0 if none
  std::uint32_t pattern_id;   // 1-based secret number, 0 if no secret ends here
  std::uint32_t depth;        // length of the byte string the node stands for
  // Length of the longest secret that is a suffix of the node's string, its
  // own secret included; 0 when none is.  Set by completion along the
  // failure links.  The engine's own rule never reads it; the set layer's
  // every-occurrence rule reads only it: every occurrence that ends at a
  // byte lies inside the one of this length.  It fills the record's last
  // four bytes, which were padding.
  std::uint32_t suffix_pattern_len;
};
static_assert(sizeof(Node) == 32, "a Node must stay 32 bytes");
static_assert(offsetof(Node, edge_kind) == 8 && offsetof(Node, fail) == 12 && offsetof(Node, depth) == 24 &&
              offsetof(Node, suffix_pattern_len) == 28);

[[nodiscard]] inline EdgeList *edge_list_of(const Node &node) noexcept {
  return reinterpret_cast<EdgeList *>(static_cast<std::uintptr_t>(node.edges));
}
[[nodiscard]] inline EdgeTable *edge_table_of(const Node &node) noexcept {
  return reinterpret_cast<EdgeTable *>(static_cast<std::uintptr_t>(node.edges));
}

// Slot of `key` among the first `count` slots of a list, or -1.  The count
// mask keeps the zero keys of unused slots from matching byte 0.
[[nodiscard]] inline int edge_list_slot(const EdgeList &list, std::uint8_t key) noexcept {
#if defined(__SSE2__)
  const __m128i keys = _mm_loadu_si128(reinterpret_cast<const __m128i *>(list.keys));
  const __m128i probe = _mm_set1_epi8(static_cast<char>(key));
  const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(keys, probe))) & ~(~0u << list.count);
  return hits == 0 ? -1 : __builtin_ctz(hits);
#else
  for (unsigned slot = 0; slot < list.count; ++slot) {
    if (list.keys[slot] == key) return static_cast<int>(slot);
  }
  return -1;
#endif
}

// The one edge lookup, used by insertion, completion and the masking pass.
// Returns the target of the node's edge for `key`, or 0 when there is none.
[[nodiscard]] inline NodeIndex find_edge(const Node &node, std::uint8_t key) noexcept {
  switch (node.edge_kind & 3) {
    case EDGE_SINGLE: return single_edge_key(node.edges) == key ? single_edge_target(node.edges) : 0;
    case EDGE_LIST: {
      const EdgeList &list = *edge_list_of(node);
      const int slot = edge_list_slot(list, key);
      return slot < 0 ? 0 : list.targets[slot];
    }
    case EDGE_TABLE: return edge_table_of(node)->targets[key];
    default: return 0;
  }
}

// Calls `visit(key, target)` for every edge of `node`, in the order the
// edge set stores them (a list's in insertion order, a table's by byte).
template <typename Visit>
void for_each_edge(const Node &node, Visit &&visit) noexcept {
  switch (node.edge_kind & 3) {
    case EDGE_SINGLE: visit(single_edge_key(node.edges), single_edge_target(node.edges)); break;
    case EDGE_LIST: {
      const EdgeList &list = *edge_list_of(node);
      for (unsigned slot = 0; slot < list.count; ++slot) visit(list.keys[slot], list.targets[slot]);
      break;
    }
    case EDGE_TABLE: {
      const EdgeTable &table = *edge_table_of(node);
      for (unsigned key = 0; key < 256; ++key) {
        if (table.targets[key] != 0) visit(static_cast<std::uint8_t>(key), table.targets[key]);
      }
      break;
    }
    default: break;
  }
}

}  // namespace hush::core
