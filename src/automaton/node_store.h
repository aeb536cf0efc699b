#pragma once
// The node array and the edge sets: growth, appending, adding edges and the
// final release.  Nodes are held by index everywhere, since appending may
// move the array: re-read `masker.nodes` after every append_node.

#include <cstdint>

#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"

namespace hush::core {

// Enlarges the node array to at least `wanted` records: remap first, so the
// block can grow in place, then alloc + copy of the records in use + free.
// On failure the array and both counters are untouched.
Status grow_nodes(Masker &masker, std::uint64_t wanted) noexcept;

// Appends one zeroed record of the given depth at index node_count.
Status append_node(Masker &masker, std::uint32_t depth, CallerAddress caller) noexcept;

// Adds the edge `key` -> `target` to node `from`, promoting the edge set at
// the 2nd and 17th edge.  Requires find_edge(from, key) == 0 and target != 0.
// On failure the old edge set is kept as it was.
Status add_edge(Masker &masker, NodeIndex from, std::uint8_t key, NodeIndex target, CallerAddress caller) noexcept;

// Makes `to`, which owns no nodes (node_capacity 0), an exact copy of the
// trie of `from`: the same records at the same indices, with edge sets of
// its own obtained through `to.allocator`, and the same counters.  Failure
// links, the root table and the filter are not copied; complete the copy.
// Node indices keep their meaning, which lets a stream of the old trie go
// on in the copy.  On failure `to` owns nothing.
Status copy_trie(const Masker &from, Masker &to, CallerAddress caller) noexcept;

// Releases every edge set of nodes 0 .. node_count - 1 in index order, then
// the array itself.  Leaves the masker without nodes.
void release_nodes(Masker &masker, CallerAddress caller) noexcept;

}  // namespace hush::core
