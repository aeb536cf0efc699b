#pragma once
// The every-occurrence rule on top of the shared walk.
//
// At each byte the walk stands at the node of the longest suffix of the text
// that is a trie path, and that node's suffix_pattern_len L is the length of
// the longest form ending at the byte.  Every occurrence ending there lies
// inside that one, so one match [e - L + 1, e] per byte stands for all of
// them, and the union of these matches is the union of all occurrences.
//
// Runs are the groups of matches joined by shared bytes.  A match may begin
// before the run under way and swallow it, and runs before it too:
//
//   forms 'x', 'z', 'wxyz'; text 'wxyz'
//   after 'x':  run [1,1]            output 'w*'
//   after 'z':  match [0,3] joins it output '***'  (max_stars 3)
//
// so the rule keeps a stack of the runs that a later match may still join.
// A later match lies inside the trie path at its end, and paths begin at
// non-decreasing positions, so a run that ends before the current path
// begins can never be joined again: it is final, leaves the stack and is
// reported.  Every run left on the stack but the lowest lies inside the
// current path, is at least as long as the shortest form, and is separate
// from its neighbours, so the stack never holds more than
// hold limit / shortest form + 2 runs (run_stack_bound).
//
// Output positions of runs are not stored: between runs the output is the
// input copied, and each run shows min(span, max_stars) stars, so walking
// down the stack from the write position gives every run's place.  A merge
// rewrites the output from the merged run's first star on, which lies in
// the current path (or, for a run that began before it, only appends stars
// behind those already shown); that is why holding back the last
// min(depth, produced) output bytes is enough for streams, exactly as for
// the engine's own rule.

#include <cassert>
#include <cstdint>
#include <cstring>

#include "mask/walk.h"

namespace hush::set {

// One run: the first and last input positions it covers, counted from the
// start of the text.
struct RunSpan {
  std::uint64_t start;
  std::uint64_t end;
};

// Runs in ascending order in entries[first .. end); entries below `first`
// are retired.
struct RunStack {
  RunSpan *entries;
  std::uint64_t first;
  std::uint64_t end;
  std::uint64_t capacity;
};

using RunReport = void (*)(void *context, std::uint64_t start, std::uint64_t span);

// Entries a stack needs for an automaton whose forms are `shortest` to
// `hold_limit` bytes long (see above).
[[nodiscard]] constexpr std::uint64_t run_stack_bound(std::uint64_t hold_limit, std::uint64_t shortest) noexcept {
  return (shortest == 0 ? 0 : hold_limit / shortest) + 2;
}

// Reports and drops the runs that end before `path_start`: no later match
// can reach them.
inline void retire_runs(RunStack &runs, std::uint64_t path_start, RunReport report, void *context) noexcept {
  while (runs.first < runs.end && runs.entries[runs.first].end < path_start) {
    const RunSpan &run = runs.entries[runs.first];
    if (report != nullptr) report(context, run.start, run.end - run.start + 1);
    ++runs.first;
  }
  if (runs.first == runs.end) runs.first = runs.end = 0;
}

inline void retire_all_runs(RunStack &runs, RunReport report, void *context) noexcept {
  retire_runs(runs, UINT64_MAX, report, context);
}

struct EveryOccurrenceRule {
  RunStack &runs;
  std::uint64_t base;  // input position of the chunk's first byte
  std::uint64_t max_stars;
  RunReport report;
  void *report_context;

  static std::uint32_t match_len(const core::Node &reached) noexcept { return reached.suffix_pattern_len; }

  [[gnu::noinline]] void take(core::Output &out, const std::uint8_t *text, std::uint64_t index,
                              const core::Node &reached) noexcept {
    core::flush(out, text, index + 1);
    const std::uint64_t end = base + index;
    const std::uint64_t start = end + 1 - reached.suffix_pattern_len;
    retire_runs(runs, end + 1 - reached.depth, report, report_context);

    // Pop the runs the match shares a byte with, finding each one's output
    // place from the write position down.  `in` and `at` are a boundary in
    // input and its place in the output; an output place below 0 lies in
    // output already handed out, whose stars stay as they are.
    std::uint64_t in = end + 1;
    auto at = static_cast<std::int64_t>(out.p);
    while (runs.end > runs.first && runs.entries[runs.end - 1].end >= start) {
      const RunSpan run = runs.entries[--runs.end];
      const std::int64_t run_out_end = at - static_cast<std::int64_t>(in - (run.end + 1));
      at = run_out_end - static_cast<std::int64_t>(shown(run.end - run.start + 1));
      in = run.start;
    }
    const std::uint64_t run_start = in < start ? in : start;
    const std::int64_t run_out = at - static_cast<std::int64_t>(in - run_start);
    const std::uint64_t stars = shown(end - run_start + 1);

    // The merged run never needs more room than its parts had, so the
    // write position only moves back.
    const std::int64_t stars_from = run_out < 0 ? 0 : run_out;
    const std::int64_t stars_to = run_out + static_cast<std::int64_t>(stars);
    assert(stars_to >= 0 && static_cast<std::uint64_t>(stars_to) <= out.p);
    if (stars_to > stars_from) {
      std::memset(out.buffer + stars_from, '*', static_cast<std::size_t>(stars_to - stars_from));
    }
    out.p = static_cast<std::uint64_t>(stars_to);

    if (runs.end == runs.capacity) {
      // Only retired entries lie below `first`: move the live ones down.
      std::memmove(runs.entries, runs.entries + runs.first, (runs.end - runs.first) * sizeof(RunSpan));
      runs.end -= runs.first;
      runs.first = 0;
    }
    runs.entries[runs.end++] = RunSpan{run_start, end};
  }

  [[nodiscard]] std::uint64_t shown(std::uint64_t span) const noexcept { return span < max_stars ? span : max_stars; }
};

}  // namespace hush::set
