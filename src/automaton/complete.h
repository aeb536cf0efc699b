#pragma once
#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"

namespace hush::core {

// Fills root_next for all 256 bytes and the failure link of every node
// reachable from the root, by breadth-first traversal.  Changes nothing else.
// On failure root_next is rewritten already and some links may be rewritten;
// a later successful call leaves the same state as one that never failed.
Status complete_automaton(Masker &masker, CallerAddress caller) noexcept;

}  // namespace hush::core
