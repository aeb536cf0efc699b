#pragma once
// The masker most CI runners ship: one substring search per secret over the
// whole text, then the shared interval masking.  Quadratic in nothing, but
// linear in the number of secrets, which is what the benchmark shows.

#include <string>
#include <string_view>
#include <vector>

#include "interval_masker.h"

namespace hush_bench {

// `matches` is scratch space, reused between calls to keep allocation out of
// the measurement.  `out` has room for text.size() bytes.
MaskResult naive_mask(std::string_view text, const std::vector<std::string> &secrets, std::uint64_t max_stars,
                      std::vector<Interval> &matches, std::uint8_t *out);

}  // namespace hush_bench
