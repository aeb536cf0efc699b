#pragma once
// The raw multi-literal peer, Vectorscan, in its two modes:
// - block mode: one scan of the whole text for every secret as a literal,
//   collecting match intervals, followed by the shared interval masking
//   into an output buffer;
// - stream mode: the text as a stream of writes, each scanned with
//   hs_scan_stream and masked at once into the caller's buffer by a masker
//   that holds back what a later match may still reach (the last longest - 1
//   input bytes, or more while a run reaches into them), as a host that
//   masks a stream with it must.
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
struct hs_stream;

namespace hush_bench {

struct VectorscanMasker {
  bool streaming;  // compiled in stream mode
  hs_database *database;
  hs_scratch *scratch;
  std::vector<std::uint64_t> lengths;  // pattern id -> literal length
  std::vector<Interval> matches;       // scratch space reused by every scan
};

// Compiles the secrets in block or stream mode; on failure returns false
// with `error` set and nothing to release.
bool compile_vectorscan(const std::vector<std::string> &secrets, bool streaming, VectorscanMasker &masker,
                        std::string &error);

void release_vectorscan(VectorscanMasker &masker);

// Bytes the compiled database and the scan scratch take.
std::size_t vectorscan_database_bytes(const VectorscanMasker &masker);

// `out` has room for text.size() bytes.  A failed scan returns runs ==
// UINT64_MAX.
MaskResult vectorscan_mask(VectorscanMasker &masker, std::string_view text, std::uint64_t max_stars, std::uint8_t *out);

// One stream over a stream-mode database.  `held` are the input bytes not
// yet written out, from input offset `held_from` on; `open` the merged runs
// (absolute input intervals) that begin there or later.
struct VectorscanStream {
  VectorscanMasker *masker;
  hs_stream *stream;
  std::uint64_t longest;
  std::uint64_t consumed;
  std::uint64_t held_from;
  std::vector<std::uint8_t> held;
  std::vector<std::uint8_t> next_held;
  std::vector<Interval> open;
  std::uint64_t runs;  // runs written out so far
};

bool open_vectorscan_stream(VectorscanMasker &masker, VectorscanStream &stream);
// Masks one write into `out`, which has room for len + stream.held.size()
// bytes; returns the bytes written, or UINT64_MAX when the scan failed.
std::uint64_t vectorscan_write(VectorscanStream &stream, const std::uint8_t *text, std::uint64_t len,
                               std::uint64_t max_stars, std::uint8_t *out);
// Ends the stream: writes out the held bytes and closes it.
std::uint64_t vectorscan_finish(VectorscanStream &stream, std::uint64_t max_stars, std::uint8_t *out);

}  // namespace hush_bench
