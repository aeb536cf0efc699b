#pragma once
// A naive masker for the every-occurrence rule, written from the rule and
// not from any automaton: find every occurrence of every form by brute
// force, join occurrences that share a byte into runs, star each run.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hush::core::testing {

struct OccurrenceRun {
  std::uint64_t start;
  std::uint64_t span;
  bool operator==(const OccurrenceRun &) const = default;
};

struct OccurrenceResult {
  std::string output;
  std::vector<OccurrenceRun> runs;  // in order
};

// With `counts`, an occurrence of forms[f] at `start` counts only if
// counts(f, start) says so.
[[nodiscard]] OccurrenceResult every_occurrence_mask(
    const std::vector<std::string> &forms, const std::string &text, std::uint64_t max_stars,
    const std::function<bool(std::size_t form, std::size_t start)> &counts = nullptr);

}  // namespace hush::core::testing
