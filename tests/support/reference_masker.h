#pragma once
// A naive masker written from the observable rule, not from the automaton:
// at each position take the longest suffix of the text so far that is a
// prefix of some secret; a match ends there when that suffix is itself a
// secret.  Matches that overlap by at least one byte form a run, and each run
// becomes min(run length, max_stars) bytes '*'.

#include <cstdint>
#include <string>
#include <vector>

namespace hush::core::testing {

using Bytes = std::string;

struct ReferenceResult {
  Bytes output;
  std::uint64_t runs = 0;
};

[[nodiscard]] ReferenceResult reference_mask(const std::vector<Bytes> &secrets, const Bytes &text,
                                             std::uint64_t max_stars);

}  // namespace hush::core::testing
