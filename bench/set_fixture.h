#pragma once
// Everything the benchmarks of one workload (a corpus and a secret set)
// share, made once and reused: the secrets, the text with them embedded, a
// completed hushmask handle, a built hushset set of the raw secrets, the
// Vectorscan databases in block and stream mode, pre-faulted output buffers,
// and the two reference outputs every engine is compared with byte for
// byte: hush_mask's (its longest-match rule) and hushset_mask's (every
// occurrence).  Where the secret set has no secret inside another at a
// non-zero offset the two rules agree, and every engine must give the same
// bytes.
//
// Only one workload is held at a time (a text is up to 64 MiB and a set of a
// million secrets takes gigabytes); the benchmarks are registered workload by
// workload, so each is made once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hushmask.h"
#include "hushset.h"
#include "log_corpus.h"
#if HUSHMASK_BENCH_VECTORSCAN
#include "vectorscan_masker.h"
#endif

namespace hush_bench {

// Every run is shown as at most three stars, as CI runners do.
inline constexpr std::uint64_t MAX_STARS = 3;

// The texts: "ci" is the 64 MiB CI log; the others are 16 MiB.
enum class Corpus { ci, prefix4, prefix8, random, base64 };
inline constexpr std::size_t SMALL_CORPUS_BYTES = std::size_t{16} << 20;

const char *corpus_name(Corpus corpus);

struct SetFixture {
  Corpus corpus;
  std::size_t secret_count;
  std::vector<std::string> secrets;
  std::string text;
  std::uint64_t embedded;                   // secret occurrences placed in the text
  hush_masker *masker;                      // completed over `secrets`
  hushset *set;                             // built over `secrets`, no derived forms
  std::vector<std::uint8_t> reference;      // hush_mask, one non-streaming call
  std::vector<std::uint8_t> set_reference;  // hushset_mask over the whole text
  bool rules_agree;                         // reference == set_reference
  std::vector<std::uint8_t> out;            // text-sized plus room for a hold, already touched
#if HUSHMASK_BENCH_VECTORSCAN
  bool block_ready;
  bool stream_ready;
  VectorscanMasker block;
  VectorscanMasker stream;
#endif
  std::string error;  // why the workload cannot be measured, if it cannot
};

// The fixture of the workload, made on first use (dropping the previous one's).
SetFixture &fixture_for(Corpus corpus, std::size_t secret_count);

// The secrets of a workload, as fixture_for makes them.
std::vector<std::string> secrets_for(Corpus corpus, std::size_t secret_count);

hushset *build_set(const std::vector<std::string> &secrets, std::uint32_t forms);

}  // namespace hush_bench
