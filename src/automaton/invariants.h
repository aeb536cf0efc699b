#pragma once
#include "api/masker.h"

namespace hush::core {

// Checks, in builds with assertions, what completion and the masking pass
// rely on: edge targets non-zero, below node_count and one level deeper than
// their source; keys distinct; reachable nodes' failure links pointing to a
// shallower node.  Compiled to nothing when NDEBUG is defined.
#ifdef NDEBUG
inline void assert_trie_invariants(const Masker &) noexcept {}
inline void assert_automaton_invariants(const Masker &) noexcept {}
#else
void assert_trie_invariants(const Masker &masker) noexcept;
void assert_automaton_invariants(const Masker &masker) noexcept;
#endif

}  // namespace hush::core
