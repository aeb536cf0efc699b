#include "interval_masker.h"

#include <algorithm>
#include <cstring>

namespace hush_bench {
namespace {

struct OutputCursor {
  std::string_view text;
  std::uint8_t *out;
  std::uint64_t copied;  // text bytes up to here are in the output
  std::uint64_t written;
};

// Copies the text before the run, then the run's stars.
void emit_run(OutputCursor &cursor, const Interval &run, std::uint64_t max_stars) {
  const std::uint64_t keep = run.begin - cursor.copied;
  std::memcpy(cursor.out + cursor.written, cursor.text.data() + cursor.copied, keep);
  cursor.written += keep;
  const std::uint64_t stars = std::min(run.end - run.begin, max_stars);
  std::memset(cursor.out + cursor.written, '*', stars);
  cursor.written += stars;
  cursor.copied = run.end;
}

}  // namespace

MaskResult mask_intervals(std::string_view text, std::vector<Interval> &matches, std::uint64_t max_stars,
                          std::uint8_t *out) {
  std::sort(matches.begin(), matches.end(), [](const Interval &a, const Interval &b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
  });
  OutputCursor cursor{text, out, 0, 0};
  std::uint64_t runs = 0;
  bool open = false;
  Interval run{0, 0};
  for (const Interval &match : matches) {
    if (open && match.begin < run.end) {
      run.end = std::max(run.end, match.end);
      continue;
    }
    if (open) emit_run(cursor, run, max_stars);
    run = match;
    open = true;
    ++runs;
  }
  if (open) emit_run(cursor, run, max_stars);
  std::memcpy(out + cursor.written, text.data() + cursor.copied, text.size() - cursor.copied);
  cursor.written += text.size() - cursor.copied;
  return {cursor.written, runs};
}

std::uint64_t count_star_runs(const std::uint8_t *bytes, std::uint64_t len, bool &in_run) {
  std::uint64_t runs = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    const bool star = bytes[i] == '*';
    runs += static_cast<std::uint64_t>(star && !in_run);
    in_run = star;
  }
  return runs;
}

}  // namespace hush_bench
