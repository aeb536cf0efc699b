#include "mask/mask_pass.h"

#include <cassert>
#include <cstring>

#include "alloc/size_math.h"
#include "mask/carry_over.h"
#include "mask/prefilter.h"

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

// The automaton step out of a node other than the root: its edge set, then
// failure links on a miss.  Links lead to strictly shallower nodes, so the
// loop ends at the root at latest, which answers from its table.
inline NodeIndex inner_transition(const Node *nodes, const NodeIndex *root_next, NodeIndex state,
                                  std::uint8_t byte) noexcept {
  do {
    const Node &node = nodes[state];
    const NodeIndex next = find_edge(node, byte);
    if (next != 0) return next;
    state = node.fail;
  } while (state != 0);
  return root_next[byte];
}

// First index from `i` on whose byte leads out of the root, or `end`.  Four
// independent table reads per test: at the root the walk depends on nothing
// but the byte, so there is no chain from one read to the next.
inline std::uint64_t leave_root(const NodeIndex *root_next, const std::uint8_t *text, std::uint64_t i,
                                std::uint64_t end) noexcept {
  while (end - i >= 4 &&
         (root_next[text[i]] | root_next[text[i + 1]] | root_next[text[i + 2]] | root_next[text[i + 3]]) == 0) {
    i += 4;
  }
  while (i < end && root_next[text[i]] == 0) ++i;
  return i;
}

// The output side of the walk: the working buffer, its write position and
// the chunk index up to which the text is in it.  Unmasked stretches are
// copied in bulk: a stretch is flushed only when a match needs its bytes in
// place, and once more at the end.
struct Output {
  std::uint8_t *buffer;
  std::uint64_t p;
  std::uint64_t copied;
};

void flush(Output &out, const std::uint8_t *text, std::uint64_t end) noexcept {
  std::memcpy(out.buffer + out.p, text + out.copied, end - out.copied);
  out.p += end - out.copied;
  out.copied = end;
}

// Matches are rare next to the bytes walked; keeping them out of line keeps
// the walk's loop small.
[[gnu::noinline]] void take_match(Output &out, RunBookkeeping &run, const std::uint8_t *text, std::uint64_t index,
                                  std::uint64_t len, std::uint64_t max_stars) noexcept {
  flush(out, text, index + 1);
  apply_match(run, out.buffer, out.p, index, len, max_stars);
}

// One automaton step from any node.
inline NodeIndex step(const Node *nodes, const NodeIndex *root_next, NodeIndex state, std::uint8_t byte) noexcept {
  return state == 0 ? root_next[byte] : inner_transition(nodes, root_next, state, byte);
}

// The walk over the whole chunk from `state`; returns the node it stops at.
// Only the node reached is examined: it stands for the longest trie path
// ending at the byte, so every reported match begins at or after the first
// byte of the previous one, which the run bookkeeping relies on.
NodeIndex walk(const Masker &masker, NodeIndex state, const std::uint8_t *text, std::uint64_t text_len,
               std::uint64_t max_stars, Output &out, RunBookkeeping &run) noexcept {
  const Node *nodes = masker.nodes;
  const NodeIndex *root_next = masker.root_next;
  std::uint64_t i = 0;
  while (i < text_len) {
    if (state == 0) {
      i = leave_root(root_next, text, i, text_len);
      if (i == text_len) break;
      state = root_next[text[i]];
    } else {
      state = inner_transition(nodes, root_next, state, text[i]);
    }
    const Node &reached = nodes[state];
    if (reached.pattern_id != 0) take_match(out, run, text, i, reached.pattern_len, max_stars);
    ++i;
  }
  return state;
}

// When a search lets the walk jump nothing, the next one waits this many
// bytes more, doubling up to this bound, and a jump resets the wait: where
// candidates are dense (text made of secret material) the walk then pays
// for one search every few hundred bytes instead of one per byte.
constexpr std::uint64_t MAX_SEARCH_PAUSE = 255;

// The same walk, jumping from where the trie path under way begins to the
// next position the prefilter reports (see mask/prefilter.h for why the
// state after the jump is exact).  A search always starts where the current
// path begins, so when and how often to search is free: `searched_to` only
// keeps from searching the same stretch twice (a search is made once the
// path begins at or after it, past the candidate found last) and from
// searching where it did not pay.  Indices before the chunk (a path carried
// over from the previous call) cannot be searched: the walk goes on byte by
// byte until its path lies inside the chunk.
NodeIndex walk_filtered(const Masker &masker, const Prefilter &filter, NodeIndex state, const std::uint8_t *text,
                        std::uint64_t text_len, std::uint64_t max_stars, Output &out, RunBookkeeping &run) noexcept {
  const Node *nodes = masker.nodes;
  const NodeIndex *root_next = masker.root_next;
  const std::uint64_t reach = filter.window - 1u;  // bytes re-walked before a candidate
  // Positions from `limit` on have no whole window in the chunk: candidates.
  const std::uint64_t limit = text_len > reach ? text_len - reach : 0;
  std::uint64_t searched_to = 0;
  std::uint64_t pause = 0;
  std::uint64_t depth = nodes[state].depth;
  for (std::uint64_t i = 0; i < text_len; ++i) {
    if (i >= searched_to + depth) {
      const std::uint64_t path_start = i - depth;
      const std::uint64_t next = path_start < limit ? filter.search(filter, text, path_start, limit) : path_start;
      if (next > i && next - i >= reach) {
        state = 0;
        for (std::uint64_t p = next - reach; p < next; ++p) {
          state = step(nodes, root_next, state, text[p]);
          assert(nodes[state].pattern_id == 0 && "a secret ending here would begin at a skipped position");
        }
        i = next;
        pause = 0;
        if (i == text_len) break;  // one-byte windows: no candidate left in the chunk
      } else {
        pause = pause < MAX_SEARCH_PAUSE ? 2 * pause + 1 : MAX_SEARCH_PAUSE;
      }
      searched_to = next + 1 + pause;
    }
    state = step(nodes, root_next, state, text[i]);
    const Node &reached = nodes[state];
    depth = reached.depth;
    if (reached.pattern_id != 0) take_match(out, run, text, i, reached.pattern_len, max_stars);
  }
  return state;
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
  Output output{buffer, carried, 0};
  const auto start = static_cast<NodeIndex>(masker.state);
  const NodeIndex state = masker.prefilter != nullptr
                              ? walk_filtered(masker, *masker.prefilter, start, text, text_len, max_stars, output, run)
                              : walk(masker, start, text, text_len, max_stars, output, run);
  if (output.copied < text_len) flush(output, text, text_len);
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
