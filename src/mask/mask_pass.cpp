#include "mask/mask_pass.h"

#include <cstring>

#include "alloc/size_math.h"
#include "mask/carry_over.h"
#include "mask/walk.h"

namespace hush::core {
namespace {

constexpr std::uint8_t MASK_BYTE = '*';
constexpr std::uint64_t ALL = UINT64_MAX;

// The run bookkeeping of one call, held in locals while the walk runs and
// written back to the Masker at the end.
struct RunBookkeeping {
  std::int64_t last_match_end;  // position of the last masked byte, from the chunk's first byte
  std::uint64_t last_match_len;
  std::uint64_t run_len;
};

// Records a match of `len` bytes ending at chunk index `index` whose bytes
// are the last ones written, at output[*p - 1] and before.  Positions below
// 0 in the working buffer are output the host already owns (or that was
// dropped); they are never touched, which only ever skips writing stars over
// bytes that are stars already or no longer exist.
void apply_match(RunBookkeeping &run, std::uint8_t *output, std::uint64_t &p, std::uint64_t index, std::uint64_t len,
                 std::uint64_t max_stars) noexcept {
  // The one signed comparison: does the match begin after the last masked
  // byte?  Both sides may be negative (positions in earlier chunks).
  const bool new_run = static_cast<std::int64_t>(index - len) >= run.last_match_end;
  const std::uint64_t gap = new_run ? ALL : index - static_cast<std::uint64_t>(run.last_match_end);
  const std::uint64_t run_len = new_run ? len : run.run_len + gap;
  run.run_len = run_len;

  // Bytes of this match not yet covered by the run's stars that must leave
  // the output because the run already shows (or now reaches) max_stars.
  std::uint64_t drop = 0;
  if (run_len > max_stars) drop = gap < run_len - max_stars ? gap : run_len - max_stars;
  std::uint64_t stars = len - drop;
  if (!new_run) {
    // An extension stars only its new bytes, and none once the previous
    // match already brought the run to max_stars stars.
    stars = run.last_match_len < max_stars ? (stars < gap ? stars : gap) : 0;
  }
  const std::uint64_t dropped_here = drop < p ? drop : p;
  p -= dropped_here;
  if (stars > p) stars = p;
  std::memset(output + (p - stars), MASK_BYTE, stars);

  run.last_match_end = static_cast<std::int64_t>(index);
  run.last_match_len = len;
}

// Brings the working buffer down to its final `length` bytes and stores the
// result.  If the heap can neither shrink it nor give a smaller block, the
// working buffer itself is handed out: it holds at least `length` bytes and
// hush_free releases it all the same, so no output is ever lost here.
void hand_out(const Allocator &allocator, std::uint8_t *buffer, std::uint64_t capacity, std::uint64_t length,
              std::uint8_t **out, std::uint64_t *out_len, CallerAddress caller) noexcept {
  std::uint8_t *result = buffer;
  if (length == 0) {
    if (capacity != 0) allocator.vtable->free(allocator.context, buffer, capacity, ALIGN_BYTES, caller);
    result = nullptr;
  } else if (length != capacity) {
    void *shrunk = allocator.vtable->remap(allocator.context, buffer, capacity, ALIGN_BYTES, length, caller);
    if (shrunk != nullptr) {
      result = static_cast<std::uint8_t *>(shrunk);
    } else if (void *fresh = allocator.vtable->alloc(allocator.context, length, ALIGN_BYTES, caller)) {
      std::memcpy(fresh, buffer, length);
      allocator.vtable->free(allocator.context, buffer, capacity, ALIGN_BYTES, caller);
      result = static_cast<std::uint8_t *>(fresh);
    }
  }
  *out = result;
  *out_len = length;
}

// The engine's rule: only the node reached is examined.  It stands for the
// longest trie path ending at the byte, so every reported match begins at
// or after the first byte of the previous one, which the run bookkeeping
// relies on.
struct LongestMatchRule {
  RunBookkeeping &run;
  std::uint64_t max_stars;

  static std::uint32_t match_len(const Node &reached) noexcept {
    return reached.pattern_id != 0 ? reached.pattern_len : 0;
  }

  // Matches are rare next to the bytes walked; keeping them out of line
  // keeps the walk's loop small.
  [[gnu::noinline]] void take(Output &out, const std::uint8_t *text, std::uint64_t index,
                              const Node &reached) noexcept {
    flush(out, text, index + 1);
    apply_match(run, out.buffer, out.p, index, reached.pattern_len, max_stars);
  }
};

// The held-back bytes as input, when they are: the last masked byte lies
// before them, so they were copied from the text unchanged.
Preceding unmasked_reminder(const Masker &masker) noexcept {
  const auto held = static_cast<std::int64_t>(masker.reminder_len);
  if (masker.last_match_end >= -held) return {nullptr, 0};
  return {masker.reminder, masker.reminder_len};
}

}  // namespace

Status mask_text(Masker &masker, const std::uint8_t *text, std::uint64_t text_len, std::uint64_t max_stars,
                 std::uint8_t streaming, std::uint8_t **out, std::uint64_t *out_len, CallerAddress caller) noexcept {
  const bool is_streaming = (streaming & 1) != 0;
  if (!is_streaming) reset_walk(masker, caller);
  const WalkSnapshot before = take_walk_snapshot(masker);

  const std::uint64_t carried = carried_count(masker);
  const std::optional<std::uint64_t> capacity = checked_add(carried, text_len);
  if (!capacity) return Status::failed;
  const Allocator allocator = masker.allocator;
  std::uint8_t *buffer = nullptr;
  if (*capacity != 0) {
    buffer = static_cast<std::uint8_t *>(allocator.vtable->alloc(allocator.context, *capacity, ALIGN_BYTES, caller));
    if (buffer == nullptr) return Status::failed;
  }
  if (carried != 0) std::memcpy(buffer, masker.reminder, carried);

  RunBookkeeping run{masker.last_match_end, masker.last_match_len, masker.run_len};
  Output output{buffer, carried, 0, carried};
  LongestMatchRule rule{run, max_stars};
  const NodeIndex state = walk_chunk(automaton_of(masker), static_cast<NodeIndex>(masker.state),
                                     unmasked_reminder(masker), text, text_len, output, rule);
  const std::uint64_t p = output.p;

  masker.state = state;
  masker.last_match_len = run.last_match_len;
  masker.run_len = run.run_len;
  // After every call last_match_end counts from the first byte of whatever
  // chunk comes next, so a streaming call always sees a position before its
  // own first byte, whatever call came before it.
  masker.last_match_end = static_cast<std::int64_t>(static_cast<std::uint64_t>(run.last_match_end) - text_len);

  std::uint64_t held = 0;
  if (is_streaming) {
    held = held_back_count(masker, p);
    if (failed(replace_reminder(masker, buffer, p, held, caller))) {
      if (*capacity != 0) allocator.vtable->free(allocator.context, buffer, *capacity, ALIGN_BYTES, caller);
      restore_walk(masker, before);
      return Status::failed;
    }
  }
  hand_out(allocator, buffer, *capacity, p - held, out, out_len, caller);
  return Status::ok;
}

}  // namespace hush::core
