#pragma once
// The masking step the baselines share: given every match of every secret as
// a byte interval of the text, in any order, write the text with each run
// (a maximal chain of intervals overlapping by at least one byte; intervals
// that only touch stay separate runs) shown as min(run length, max_stars)
// bytes '*'.  This is the result hushmask promises, computed the obvious way.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace hush_bench {

struct Interval {
  std::uint64_t begin;  // first matched byte
  std::uint64_t end;    // one past the last matched byte
};

struct MaskResult {
  std::uint64_t out_len;
  std::uint64_t runs;
};

// Sorts `matches` in place.  `out` has room for text.size() bytes.
MaskResult mask_intervals(std::string_view text, std::vector<Interval> &matches, std::uint64_t max_stars,
                          std::uint8_t *out);

// Number of maximal '*' runs in `bytes`, counted across calls: `in_run`
// says whether the previous call ended inside a run.
std::uint64_t count_star_runs(const std::uint8_t *bytes, std::uint64_t len, bool &in_run);

}  // namespace hush_bench
