#pragma once
// The records behind the public hushset and hushset_stream handles.
//
// A Set owns the secrets added to it and the automaton compiled from them;
// once built, the automaton is only read while text is masked, so one Set
// serves any number of streams and whole-text calls at once.  A Stream owns
// what changes per write: the node at which its walk stands, the runs that
// may still grow, and the bytes it holds back.  Everything is obtained
// through the set's wiping allocator, since all of it may hold secret bytes.

#include <cstdint>

#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"
#include "hushset.h"
#include "set/pending.h"
#include "set/run_stack.h"

namespace hush::set {

struct Set {
  core::Allocator inner;      // where blocks come from: the C heap, or a test's allocator
  core::Allocator allocator;  // wipes every block on its way back to `inner`
  std::uint32_t forms;        // HUSHSET_FORM_* bits
  std::uint64_t max_stars;
  std::uint64_t min_length;
  void (*diagnostic)(void *context, std::int32_t code, std::uint32_t form, std::uint64_t length);
  void *diagnostic_context;
  // The compiled automaton of the last successful build (root table,
  // failure links, filter and every node's suffix_pattern_len in place),
  // or null before the first.  Only its trie fields are used: the walk
  // state of a stream lives in the Stream.
  core::Masker *automaton;
  std::uint64_t hold_limit;  // longest form of `automaton`
  std::uint64_t shortest;    // shortest form of `automaton`, 0 without forms
  PendingForms pending;
};

struct Stream {
  const Set *set;
  core::NodeIndex state;   // node at which the walk stands, in the set's automaton
  std::uint64_t consumed;  // input bytes of the current text walked so far
  RunStack runs;           // runs that a later match may still join
  // The held-back bytes: output that may still be starred or dropped, in
  // held[held_begin .. held_begin + held_len).  The stream appends to the
  // block and hands bytes out from its front, so a long hold is never
  // copied per write; bytes before held_begin are spent.
  std::uint8_t *held;
  std::uint64_t held_capacity;
  std::uint64_t held_begin;
  std::uint64_t held_len;
  void (*report)(void *context, std::uint64_t start, std::uint64_t span);
  void *report_context;
};

[[nodiscard]] inline Set *to_set(hushset *handle) noexcept { return reinterpret_cast<Set *>(handle); }
[[nodiscard]] inline const Set *to_set(const hushset *handle) noexcept { return reinterpret_cast<const Set *>(handle); }
[[nodiscard]] inline Stream *to_stream(hushset_stream *handle) noexcept { return reinterpret_cast<Stream *>(handle); }

// Creation and release of a set with blocks from `inner` (the exported
// hushset_new passes the C heap; tests pass a recording allocator).  Null
// when the options are invalid or memory is exhausted.
[[nodiscard]] Set *create_set(const hushset_options &options, const core::Allocator &inner) noexcept;
void destroy_set(Set *set) noexcept;

// hushset_add and hushset_build (set/add.cpp, set/build.cpp).
[[nodiscard]] core::Status add_secret(Set &set, const std::uint8_t *secret, std::uint64_t len) noexcept;
[[nodiscard]] core::Status build_set(Set &set) noexcept;

// Streams and masking (set/stream.cpp).
[[nodiscard]] Stream *create_stream(const Set &set) noexcept;
void destroy_stream(Stream *stream) noexcept;
[[nodiscard]] std::int32_t write_stream(Stream &stream, const std::uint8_t *text, std::uint64_t len, std::uint8_t *out,
                                        std::uint64_t out_cap, std::uint64_t *out_len) noexcept;
[[nodiscard]] std::int32_t finish_stream(Stream &stream, std::uint8_t *out, std::uint64_t out_cap,
                                         std::uint64_t *out_len) noexcept;
[[nodiscard]] std::int32_t mask_whole(const Set &set, const std::uint8_t *text, std::uint64_t len, std::uint8_t *out,
                                      std::uint64_t out_cap, std::uint64_t *out_len) noexcept;

}  // namespace hush::set
