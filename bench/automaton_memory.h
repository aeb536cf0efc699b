#pragma once
// What a completed automaton costs in memory, measured two independent ways
// that must agree:
// - by walking the node array: the array's capacity in records plus every
//   EdgeList and EdgeTable block a node points to, plus the prefilter block
//   hush_build adds beside the automaton (see DESIGN.md);
// - by a counting allocator placed in the Masker's `allocator` field before
//   the first insertion, which also sees the peak during completion (the
//   breadth-first queue lives only while hush_build runs).

#include <cstdint>

#include "alloc/allocator.h"
#include "hushmask.h"

namespace hush_bench {

struct AutomatonWalk {
  std::uint64_t nodes;             // records in use, root included
  std::uint64_t node_array_bytes;  // capacity * sizeof(Node)
  std::uint64_t edge_lists;
  std::uint64_t edge_tables;
  std::uint64_t edge_set_bytes;   // lists and tables together
  std::uint64_t prefilter_bytes;  // 0 when the handle has no prefilter
};

AutomatonWalk walk_automaton(const hush_masker *handle);

// Live and peak bytes of every block obtained through the allocator, by the
// lengths the library states; the C heap does the real work.
struct AllocationCount {
  std::uint64_t live_bytes;
  std::uint64_t peak_bytes;
  std::uint64_t calls;
};

// Puts a counting allocator (with `count` as its context) into a fresh
// handle.  The node array the handle was created with came from the C heap
// directly; its bytes are counted as live from here on, since the library
// grows and releases it through the allocator.
void install_counting_allocator(hush_masker *handle, AllocationCount &count);

// A counting allocator over the C heap, for a set's blocks.
hush::core::Allocator counting_allocator(AllocationCount &count);

}  // namespace hush_bench
