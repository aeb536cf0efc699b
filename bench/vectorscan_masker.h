#pragma once
// The raw multi-literal peer: a Vectorscan block-mode scan of the whole text
// for every secret as a literal, collecting match intervals, followed by the
// shared interval masking into an output buffer.
//
// The database is compiled without start-of-match tracking: every pattern is
// a literal, so a match's start is its end minus the length of the pattern
// its id names, which costs the scan nothing.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "interval_masker.h"

struct hs_database;
struct hs_scratch;

namespace hush_bench {

struct VectorscanMasker {
  hs_database *database;
  hs_scratch *scratch;
  std::vector<std::uint64_t> lengths;  // pattern id -> literal length
  std::vector<Interval> matches;       // scratch space reused by every scan
};

// Compiles the secrets; on failure returns false with `error` set and
// nothing to release.
bool compile_vectorscan(const std::vector<std::string> &secrets, VectorscanMasker &masker, std::string &error);

void release_vectorscan(VectorscanMasker &masker);

// Bytes the compiled database and the scan scratch take.
std::size_t vectorscan_database_bytes(const VectorscanMasker &masker);

// `out` has room for text.size() bytes.  A failed scan returns runs ==
// UINT64_MAX.
MaskResult vectorscan_mask(VectorscanMasker &masker, std::string_view text, std::uint64_t max_stars,
                           std::uint8_t *out);

}  // namespace hush_bench
