#include "vectorscan_masker.h"

#include <hs.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace hush_bench {
namespace {

int collect_match(unsigned int id, unsigned long long, unsigned long long to, unsigned int, void *context) {
  auto &masker = *static_cast<VectorscanMasker *>(context);
  masker.matches.push_back({to - masker.lengths[id], to});
  return 0;  // keep scanning
}

}  // namespace

bool compile_vectorscan(const std::vector<std::string> &secrets, bool streaming, VectorscanMasker &masker,
                        std::string &error) {
  std::vector<const char *> expressions;
  std::vector<std::size_t> lengths;
  std::vector<unsigned> flags(secrets.size(), 0);
  std::vector<unsigned> ids;
  for (std::size_t i = 0; i < secrets.size(); ++i) {
    expressions.push_back(secrets[i].data());
    lengths.push_back(secrets[i].size());
    ids.push_back(static_cast<unsigned>(i));
  }
  hs_compile_error_t *compile_error = nullptr;
  hs_database_t *database = nullptr;
  if (hs_compile_lit_multi(expressions.data(), flags.data(), ids.data(), lengths.data(),
                           static_cast<unsigned>(secrets.size()), streaming ? HS_MODE_STREAM : HS_MODE_BLOCK, nullptr,
                           &database, &compile_error) != HS_SUCCESS) {
    error = compile_error != nullptr ? compile_error->message : "hs_compile_lit_multi failed";
    hs_free_compile_error(compile_error);
    return false;
  }
  hs_scratch_t *scratch = nullptr;
  if (hs_alloc_scratch(database, &scratch) != HS_SUCCESS) {
    hs_free_database(database);
    error = "hs_alloc_scratch failed";
    return false;
  }
  masker.streaming = streaming;
  masker.database = database;
  masker.scratch = scratch;
  masker.lengths.assign(lengths.begin(), lengths.end());
  masker.matches.clear();
  masker.matches.reserve(1 << 16);
  return true;
}

void release_vectorscan(VectorscanMasker &masker) {
  hs_free_scratch(masker.scratch);
  hs_free_database(masker.database);
  masker.scratch = nullptr;
  masker.database = nullptr;
}

std::size_t vectorscan_database_bytes(const VectorscanMasker &masker) {
  std::size_t database = 0;
  std::size_t scratch = 0;
  std::size_t stream = 0;
  hs_database_size(masker.database, &database);
  hs_scratch_size(masker.scratch, &scratch);
  if (masker.streaming) hs_stream_size(masker.database, &stream);
  return database + scratch + stream;
}

MaskResult vectorscan_mask(VectorscanMasker &masker, std::string_view text, std::uint64_t max_stars,
                           std::uint8_t *out) {
  masker.matches.clear();
  if (hs_scan(masker.database, text.data(), static_cast<unsigned>(text.size()), 0, masker.scratch, collect_match,
              &masker) != HS_SUCCESS) {
    return {0, UINT64_MAX};
  }
  return mask_intervals(text, masker.matches, max_stars, out);
}

namespace {

// Matches of one stream write, as absolute input intervals.
int collect_stream_match(unsigned int id, unsigned long long, unsigned long long to, unsigned int, void *context) {
  auto &stream = *static_cast<VectorscanStream *>(context);
  stream.masker->matches.push_back({to - stream.masker->lengths[id], to});
  return 0;
}

// The input bytes [from, to) of the stream, which lie in the held bytes
// and then in the current write (`text`, beginning at input offset
// `text_from`).
void copy_input(const VectorscanStream &stream, const std::uint8_t *text, std::uint64_t text_from, std::uint64_t from,
                std::uint64_t to, std::uint8_t *out) {
  if (from < text_from) {
    const std::uint64_t end = std::min(to, text_from);
    std::memcpy(out, stream.held.data() + (from - stream.held_from), end - from);
    out += end - from;
    from = end;
  }
  if (from < to) std::memcpy(out, text + (from - text_from), to - from);
}

// Writes out the input up to `cut` with the runs before it masked, and
// keeps the rest.  `runs` are sorted, merged and all begin at or after
// held_from.
std::uint64_t write_out(VectorscanStream &stream, const std::uint8_t *text, std::uint64_t text_from,
                        std::vector<Interval> &runs, std::uint64_t cut, std::uint64_t max_stars, std::uint8_t *out) {
  std::uint64_t at = stream.held_from;
  std::uint64_t written = 0;
  std::size_t kept = 0;
  for (const Interval &run : runs) {
    if (run.begin >= cut) {
      runs[kept++] = run;
      continue;
    }
    copy_input(stream, text, text_from, at, run.begin, out + written);
    written += run.begin - at;
    const std::uint64_t stars = std::min(run.end - run.begin, max_stars);
    std::memset(out + written, '*', stars);
    written += stars;
    at = run.end;
    ++stream.runs;
  }
  runs.resize(kept);
  copy_input(stream, text, text_from, at, cut, out + written);
  written += cut - at;
  stream.next_held.resize(stream.consumed - cut);
  copy_input(stream, text, text_from, cut, stream.consumed, stream.next_held.data());
  stream.held.swap(stream.next_held);
  stream.held_from = cut;
  return written;
}

// Sorts the new matches in with the open runs and merges runs that share a
// byte.
void merge_runs(std::vector<Interval> &runs, std::vector<Interval> &found) {
  runs.insert(runs.end(), found.begin(), found.end());
  found.clear();
  std::sort(runs.begin(), runs.end(), [](const Interval &a, const Interval &b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
  });
  std::size_t merged = 0;
  for (const Interval &run : runs) {
    if (merged != 0 && run.begin < runs[merged - 1].end) {
      runs[merged - 1].end = std::max(runs[merged - 1].end, run.end);
    } else {
      runs[merged++] = run;
    }
  }
  runs.resize(merged);
}

}  // namespace

bool open_vectorscan_stream(VectorscanMasker &masker, VectorscanStream &stream) {
  stream = VectorscanStream{};
  stream.masker = &masker;
  for (const std::uint64_t length : masker.lengths) stream.longest = std::max(stream.longest, length);
  stream.held.reserve(1 << 12);
  stream.next_held.reserve(1 << 12);
  return hs_open_stream(masker.database, 0, &stream.stream) == HS_SUCCESS;
}

std::uint64_t vectorscan_write(VectorscanStream &stream, const std::uint8_t *text, std::uint64_t len,
                               std::uint64_t max_stars, std::uint8_t *out) {
  VectorscanMasker &masker = *stream.masker;
  masker.matches.clear();
  if (hs_scan_stream(stream.stream, reinterpret_cast<const char *>(text), static_cast<unsigned>(len), 0, masker.scratch,
                     collect_stream_match, &stream) != HS_SUCCESS) {
    return UINT64_MAX;
  }
  const std::uint64_t text_from = stream.consumed;
  stream.consumed += len;
  if (!masker.matches.empty()) merge_runs(stream.open, masker.matches);
  // A later match begins at consumed - longest + 1 or after: bytes before
  // that are final unless a run that may still grow covers them.
  std::uint64_t cut = stream.consumed - std::min(stream.consumed, stream.longest - 1);
  cut = std::max(cut, stream.held_from);
  for (const Interval &run : stream.open) {
    if (run.end > cut) {
      cut = std::min(cut, run.begin);
      break;
    }
  }
  return write_out(stream, text, text_from, stream.open, cut, max_stars, out);
}

std::uint64_t vectorscan_finish(VectorscanStream &stream, std::uint64_t max_stars, std::uint8_t *out) {
  hs_close_stream(stream.stream, stream.masker->scratch, nullptr, nullptr);
  stream.stream = nullptr;
  return write_out(stream, nullptr, stream.consumed, stream.open, stream.consumed, max_stars, out);
}

}  // namespace hush_bench
