#pragma once
// The walk of text through a completed automaton, shared by every masking
// rule.  It reads the automaton only and writes the text, as it goes, into
// an output buffer; what a match does to that output is the rule's own.
//
// A rule is a type with two members:
//   static std::uint32_t match_len(const Node &reached)
//       the length of the match ending at the node just reached, 0 for none;
//   void take(Output &out, const std::uint8_t *text, std::uint64_t index,
//             const Node &reached)
//       called for every byte at which match_len is not 0, with the text up
//       to `index` not yet necessarily copied (flush it first).
// Both walks below are written once and instantiated per rule, so that the
// per-byte path of each rule is the same code.

#include <cassert>
#include <cstdint>
#include <cstring>

#include "automaton/node.h"
#include "mask/prefilter/kernels.h"
#include "mask/prefilter/prefilter.h"

namespace hush::core {

// What a walk needs of an automaton: the node array, the root's table and
// the filter, if any.  All read-only while text is walked.
struct Automaton {
  const Node *nodes;
  const NodeIndex *root_next;
  const Prefilter *prefilter;
};

[[nodiscard]] inline Automaton automaton_of(const Masker &masker) noexcept {
  return {masker.nodes, masker.root_next, masker.prefilter};
}

// The output side of the walk: the working buffer, its write position, the
// chunk index up to which the text is in it, and the highest position ever
// written (bytes up to there may hold text that a run later took back).
// Unmasked stretches are copied in bulk: a stretch is flushed only when a
// match needs its bytes in place, and once more at the end.
struct Output {
  std::uint8_t *buffer;
  std::uint64_t p;
  std::uint64_t copied;
  std::uint64_t written;
};

inline void flush(Output &out, const std::uint8_t *text, std::uint64_t end) noexcept {
  std::memcpy(out.buffer + out.p, text + out.copied, end - out.copied);
  out.p += end - out.copied;
  out.copied = end;
  if (out.p > out.written) out.written = out.p;
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

// One automaton step from any node.
inline NodeIndex step(const Node *nodes, const NodeIndex *root_next, NodeIndex state, std::uint8_t byte) noexcept {
  return state == 0 ? root_next[byte] : inner_transition(nodes, root_next, state, byte);
}

// The node a walk from the root over text[from, to) ends at (for checks).
inline NodeIndex walked_state(const Automaton &automaton, const std::uint8_t *text, std::uint64_t from,
                              std::uint64_t to) noexcept {
  NodeIndex state = 0;
  for (std::uint64_t p = from; p < to; ++p) state = step(automaton.nodes, automaton.root_next, state, text[p]);
  return state;
}

// The node the walk stands at after the chunk's last r positions
// [limit, end), when no path begins before them, without walking them: the
// longest suffix of those bytes that is a trie path.  One of 3 bytes or
// more begins where the tail-prefix bitset lists the 3 bytes; where none
// of [limit, end - 3] is listed, the path is the last 2 bytes or the last
// one, if either is one.  Returns false, leaving `state`, when some
// position is listed: the walk then walks the bytes.  One write per log
// line at 1,000 secrets walked about r = 6 bytes there, through nodes of
// depth 2 and 3 scattered over a megabyte.
inline bool tail_state(const Automaton &automaton, const Prefilter &filter, const std::uint8_t *text,
                       std::uint64_t limit, std::uint64_t end, NodeIndex &state) noexcept {
  for (std::uint64_t s = limit; s + TAIL_PREFIX <= end; ++s) {
    if (tail_prefix_listed(filter, text + s)) return false;
  }
  const NodeIndex last = automaton.root_next[text[end - 1]];
  const NodeIndex before = automaton.root_next[text[end - 2]];
  const NodeIndex pair = before != 0 ? find_edge(automaton.nodes[before], text[end - 1]) : 0;
  state = pair != 0 ? pair : last;
  return true;
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

// The walk over the whole chunk from `state`, byte by byte; returns the node
// it stops at.  The node reached after each byte stands for the longest
// suffix of the text that is a trie path.
template <typename Rule>
NodeIndex walk(const Automaton &automaton, NodeIndex state, const std::uint8_t *text, std::uint64_t text_len,
               Output &out, Rule &rule) noexcept {
  const Node *nodes = automaton.nodes;
  const NodeIndex *root_next = automaton.root_next;
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
    if (Rule::match_len(reached) != 0) rule.take(out, text, i, reached);
    ++i;
  }
  return state;
}

// Cache lines of node records asked for after a landing.  A million
// secrets, 64 KiB writes: 60 -> 52 ms; 10,000: 13.1 -> 12.9.
inline constexpr std::uintptr_t LANDING_PREFETCH_LINES = 8;

// The node of the window at the candidate `at` (see landing_node).  A
// secret's own nodes lie in a row from where its path left the ones it
// shares, so the records after it are asked for before the walk needs
// them (a prefetch never faults, past the array's end neither).
inline NodeIndex land_on_window(const Automaton &automaton, const Prefilter &filter, const std::uint8_t *text,
                                std::uint64_t at) noexcept {
  const NodeIndex node = landing_node(filter, text + at);
  const auto record = reinterpret_cast<std::uintptr_t>(automaton.nodes + node);
  for (std::uintptr_t line = 1; line <= LANDING_PREFETCH_LINES; ++line) {
    __builtin_prefetch(reinterpret_cast<const void *>(record + 64 * line));
  }
  return node;
}

// Where the walk resumes in a jump to the chunk's last r positions
// [limit, end): after the last byte that no path of at most r bytes holds
// (see Prefilter::reach_bytes), since the walk stands at the root after
// it, or at limit.
inline std::uint64_t after_last_out_of_reach(const Prefilter &filter, const std::uint8_t *text, std::uint64_t limit,
                                             std::uint64_t end) noexcept {
  for (std::uint64_t q = end; q > limit; --q) {
    if (!in_reach(filter, text[q - 1])) return q;
  }
  return limit;
}

// When a search lets the walk jump nothing, the next one waits this many
// bytes more, doubling up to this bound, and a jump resets the wait: where
// candidates are dense (text made of secret material) the walk then pays
// for one search every few hundred bytes instead of one per byte.
inline constexpr std::uint64_t MAX_SEARCH_PAUSE = 255;

// The longest stretch one search covers.  A stretch with no candidate is
// then copied into the output at once: 64 KiB writes had the filter read
// the chunk out of the first-level cache before the copy read it again.
inline constexpr std::uint64_t SEARCH_SLICE = 4096;

// The first candidate at or after `path_start` (where the walk's trie path
// begins), or `limit`, searched a slice at a time.  A slice with no
// candidate goes into the output at once and the search goes on from its
// end: no match the walk reports later can end before the next candidate,
// so those bytes are final text, and the walk need not stand at the
// slice's end.  (Jumping there instead cost a re-walk of r bytes per 4 KiB,
// through nodes that at 10,000 secrets are rarely in any cache.)
inline std::uint64_t next_candidate(const Prefilter &filter, const std::uint8_t *text, std::uint64_t path_start,
                                    std::uint64_t limit, Output &out) noexcept {
  const std::uint64_t offset = filter.offset;
  for (std::uint64_t from = path_start;;) {
    const std::uint64_t slice_end = limit - from > SEARCH_SLICE ? from + SEARCH_SLICE : limit;
    const std::uint64_t next = filter.search(filter, text, from + offset, slice_end + offset) - offset;
    if (next < slice_end || slice_end == limit) return next;
    if (slice_end > out.copied) flush(out, text, slice_end);
    from = slice_end;
  }
}

// The same walk, jumping from where the trie path under way begins to the
// next position the prefilter reports (see mask/prefilter/prefilter.h for why the
// state after the jump is exact).  A search always starts where the current
// path begins, so when and how often to search is free: `searched_to` only
// keeps from searching the same stretch twice (a search is made once the
// path begins at or after it, past the candidate found last) and from
// searching where it did not pay.  Indices before the chunk (a path carried
// over from the previous call) cannot be searched: the walk goes on byte by
// byte until its path lies inside the chunk.
//
// Every match of either rule lies inside the trie path at the byte where it
// ends, and every such path begins at a candidate, so a rule sees the same
// matches with or without the jumps.
template <typename Rule>
NodeIndex walk_filtered(const Automaton &automaton, const Prefilter &filter, NodeIndex state, const std::uint8_t *text,
                        std::uint64_t text_len, Output &out, Rule &rule) noexcept {
  const Node *nodes = automaton.nodes;
  const NodeIndex *root_next = automaton.root_next;
  const std::uint64_t offset = filter.offset;
  const std::uint64_t reach = offset + filter.window - 1u;  // bytes re-walked before a candidate
  // Positions from `limit` on have no whole window in the chunk: candidates.
  const std::uint64_t limit = text_len > reach ? text_len - reach : 0;
  std::uint64_t searched_to = 0;
  std::uint64_t pause = 0;
  std::uint64_t depth = nodes[state].depth;
  for (std::uint64_t i = 0; i < text_len; ++i) {
    if (i >= searched_to + depth) {
      const std::uint64_t path_start = i - depth;
      const std::uint64_t next = path_start < limit ? next_candidate(filter, text, path_start, limit, out) : path_start;
      // A jump to limit needs no re-walk: no candidate is left before the
      // chunk's last r positions, so the path that ends the chunk begins
      // among them and no match ends in them (see prefilter.h).  For a
      // short write that is most of the work saved.
      //
      // There the walk resumes after the last byte that no path of at most
      // r bytes holds (see Prefilter::reach_bytes): the walk stands at the
      // root after it.  One write per log line at 1,000 secrets walked
      // about r bytes of a trie larger than the second-level cache.
      if (next > i && (next == limit || next - i >= reach)) {
        state = 0;
        std::uint64_t resume = next;
        if (next == limit) {
          if (filter.tail_prefix_log2 != 0 && tail_state(automaton, filter, text, limit, text_len, state)) {
            assert(state == walked_state(automaton, text, limit, text_len) && "tail off the byte-by-byte walk");
            break;
          }
          resume = after_last_out_of_reach(filter, text, limit, text_len);
        } else if (filter.landing_nodes != 0) {
          // Straight onto the node of the candidate's window, on its last
          // byte: no re-walk, no walk of the window.
          state = land_on_window(automaton, filter, text, next);
          resume = next + SAMPLED_WINDOW;
          assert(state == walked_state(automaton, text, next - reach, resume) && "landing off the byte-by-byte walk");
          const Node &landed = nodes[state];
          if (Rule::match_len(landed) != 0) rule.take(out, text, resume - 1, landed);
        } else {
          for (std::uint64_t p = next - reach; p < next; ++p) {
            state = step(nodes, root_next, state, text[p]);
            assert(Rule::match_len(nodes[state]) == 0 && "a secret ending here would begin at a skipped position");
          }
        }
        i = resume;
        pause = 0;
        if (i == text_len) break;  // no candidate left in the chunk
        if (resume - out.copied >= SEARCH_SLICE) flush(out, text, resume);
      } else {
        pause = pause < MAX_SEARCH_PAUSE ? 2 * pause + 1 : MAX_SEARCH_PAUSE;
      }
      searched_to = next + 1 + pause;
    }
    state = step(nodes, root_next, state, text[i]);
    const Node &reached = nodes[state];
    depth = reached.depth;
    if (Rule::match_len(reached) != 0) rule.take(out, text, i, reached);
  }
  return state;
}

// The input bytes just before a chunk, as far as the caller knows them
// (held-back output that no run has masked); len 0 when it knows none.
struct Preceding {
  const std::uint8_t *bytes;  // the len bytes that end where the chunk begins
  std::uint64_t len;
};

// Whether a path carried into the chunk can be dropped before the walk
// begins.  It can when it is at most 2 bytes long, its bytes are known, and
// none of its positions begins a listed 3-byte prefix together with the
// chunk's first bytes: every path begun there then ends by the chunk's
// first byte, where no match ends (every secret has 7 bytes or more), so
// from the chunk's second byte on a walk from the root stands where the
// carried one would.  One write per log line carried a path of a byte or
// two into most writes, and walking it cost a chain of cache misses
// through nodes scattered over the trie.
inline bool carried_path_ends(const Automaton &automaton, const Prefilter &filter, NodeIndex state, Preceding before,
                              const std::uint8_t *text, std::uint64_t text_len) noexcept {
  const std::uint64_t depth = automaton.nodes[state].depth;
  if (filter.tail_prefix_log2 == 0 || depth > 2 || before.len < depth || text_len < 2) return false;
  std::uint8_t joined[4];  // the path's bytes, then the chunk's first two
  std::memcpy(joined, before.bytes + (before.len - depth), depth);
  joined[depth] = text[0];
  joined[depth + 1] = text[1];
  for (std::uint64_t s = 0; s < depth; ++s) {
    if (tail_prefix_listed(filter, joined + s)) return false;
  }
  return true;
}

// Walks the chunk with the automaton's filter when it has one, and copies
// the rest of the text into the output.
template <typename Rule>
NodeIndex walk_chunk(const Automaton &automaton, NodeIndex state, Preceding before, const std::uint8_t *text,
                     std::uint64_t text_len, Output &out, Rule &rule) noexcept {
  if (automaton.prefilter != nullptr) {
    const Prefilter &filter = *automaton.prefilter;
    if (state != 0 && carried_path_ends(automaton, filter, state, before, text, text_len)) {
      assert(step(automaton.nodes, automaton.root_next, step(automaton.nodes, automaton.root_next, state, text[0]),
                  text[1]) == walked_state(automaton, text, 0, 2) &&
             "a dropped path still alive after the chunk's second byte");
      state = 0;
    }
    state = walk_filtered(automaton, filter, state, text, text_len, out, rule);
  } else {
    state = walk(automaton, state, text, text_len, out, rule);
  }
  if (out.copied < text_len) flush(out, text, text_len);
  return state;
}

}  // namespace hush::core
