#pragma once
// Everything the benchmarks of one secret set share, made once and reused:
// the secrets, the log with them embedded, a completed hushmask handle, the
// Vectorscan database, a pre-faulted output buffer for the baselines, and
// hushmask's own non-streaming output, against which every other engine's
// output is compared byte for byte.
//
// Only one set is held at a time (the log alone is 64 MiB); the benchmarks
// are registered set by set, so each set is made once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hushmask.h"
#include "log_corpus.h"
#if HUSHMASK_BENCH_VECTORSCAN
#include "vectorscan_masker.h"
#endif

namespace hush_bench {

// Every run is shown as at most three stars, as CI runners do.
inline constexpr std::uint64_t MAX_STARS = 3;

struct SetFixture {
  std::size_t secret_count;
  std::vector<std::string> secrets;
  CiLog log;
  hush_masker *masker;                    // completed over `secrets`
  std::vector<std::uint8_t> reference;    // hushmask, one non-streaming call
  std::uint64_t reference_runs;           // '*' runs in `reference`
  std::vector<std::uint8_t> out;          // text-sized, already touched
#if HUSHMASK_BENCH_VECTORSCAN
  bool vectorscan_ready;
  VectorscanMasker vectorscan;
#endif
  std::string error;                      // why the set cannot be measured, if it cannot
};

// The fixture of the set with `secret_count` secrets, made on first use
// (dropping the previous set's).
SetFixture &fixture_for(std::size_t secret_count);

}  // namespace hush_bench
