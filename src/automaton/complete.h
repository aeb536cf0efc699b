#pragma once
#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"

namespace hush::core {

// Fills root_next for all 256 bytes and the failure link of every node
// reachable from the root, by breadth-first traversal.  Changes nothing else.
// On failure root_next is rewritten already and some links may be rewritten;
// a later successful call leaves the same state as one that never failed.
// The queue's first block holds `first_capacity` entries, or as many as
// the growth rule gives one entry when that is 0: a caller that knows the
// node count sizes it once (the traversal queues every node exactly once).
Status complete_automaton(Masker &masker, CallerAddress caller, std::uint64_t first_capacity = 0) noexcept;

}  // namespace hush::core
