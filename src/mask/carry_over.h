#pragma once
// The carry-over between streamed chunks: the tail of a chunk's output that a
// secret completing in the next chunk may still overwrite or drop.  It holds
// output bytes (runs already shown as stars), never more than the depth of
// the node at which the walk stands, and is put in front of the next
// streaming call's output.

#include <cstdint>

#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"

namespace hush::core {

// Everything a masking call changes in the walk; kept so that a streaming
// call that fails can put the handle back exactly as it found it.
struct WalkSnapshot {
  std::uint64_t state;
  std::int64_t last_match_end;
  std::uint64_t last_match_len;
  std::uint64_t run_len;
};

[[nodiscard]] WalkSnapshot take_walk_snapshot(const Masker &masker) noexcept;
void restore_walk(Masker &masker, const WalkSnapshot &snapshot) noexcept;

// Releases the held-back block, if any, and leaves no carry-over.
void drop_reminder(Masker &masker, CallerAddress caller) noexcept;

// Start of a non-streaming call: the held-back bytes are dropped unread and
// the walk goes back to the root with the run bookkeeping reset.
void reset_walk(Masker &masker, CallerAddress caller) noexcept;

// Bytes a streaming call puts in front of its chunk.
[[nodiscard]] std::uint64_t carried_count(const Masker &masker) noexcept;

// How many of the last `produced` output bytes must be held back after the
// walk stopped at `state`.
[[nodiscard]] std::uint64_t held_back_count(const Masker &masker, std::uint64_t produced) noexcept;

// Replaces the carry-over by `output[produced - held .. produced)`.  The new
// block is obtained before the old one is released, so on failure the old
// carry-over is intact and the call can be undone.
Status replace_reminder(Masker &masker, const std::uint8_t *output, std::uint64_t produced, std::uint64_t held,
                        CallerAddress caller) noexcept;

}  // namespace hush::core
