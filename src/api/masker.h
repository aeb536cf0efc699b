#pragma once
// The handle record behind the public opaque pointer.  Everything the library
// keeps between calls lives here; there is no global mutable state.

#include <cstdint>

#include "alloc/allocator.h"
#include "automaton/node.h"

// The public header names the handle `struct hush_masker`; the record is the
// library's Masker, so the two names denote one type.
struct hush_masker;

// Internals live in hush::core: a program that links the static library and
// uses the C++ layer (hushmask.hpp, whose handle class is hush::Masker) must
// never see two different types under one name.
namespace hush::core {

struct Prefilter;  // mask/prefilter/prefilter.h

struct Masker {
  Allocator allocator;          // source of every block obtained after creation
  Node *nodes;                  // the trie; index 0 is the root
  std::uint64_t node_count;     // records in use, root included; never below 1
  std::uint64_t node_capacity;  // records the array has room for
  std::uint64_t pattern_count;  // distinct secrets registered; the last pattern_id handed out
  std::uint64_t last_node_id;   // index of the node made last; always node_count - 1
  // Run bookkeeping of the masking pass.  Between calls last_match_end counts
  // from the first byte of the next chunk; -1 means "just before it".
  std::int64_t last_match_end;
  std::uint64_t last_match_len;
  std::uint64_t run_len;
  std::uint8_t *reminder;  // held-back output bytes; null exactly when reminder_len is 0
  std::uint64_t reminder_len;
  std::uint64_t state;       // node at which the walk stands
  NodeIndex root_next[256];  // the root's transitions; 0 leads back to the root
  // Acceleration beside the automaton: built by hush_build, dropped by
  // hush_insert, released by hush_destroy; null when the handle has none.
  Prefilter *prefilter;
};

[[nodiscard]] inline Masker *to_masker(hush_masker *handle) noexcept { return reinterpret_cast<Masker *>(handle); }
[[nodiscard]] inline const Masker *to_masker(const hush_masker *handle) noexcept {
  return reinterpret_cast<const Masker *>(handle);
}
[[nodiscard]] inline hush_masker *to_handle(Masker *masker) noexcept { return reinterpret_cast<hush_masker *>(masker); }

}  // namespace hush::core
