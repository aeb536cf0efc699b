#pragma once
// Test-side conveniences over the public hushset calls: sets built from a
// list of forms (no derived forms, no minimum length, so that the forms are
// exactly the strings given), whole-text masking and streams cut at given
// points, each with output buffers of exactly the documented size.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hushset.h"
#include "support/occurrence_reference.h"

namespace hush::set::testing {

using Bytes = std::string;
using core::testing::OccurrenceRun;

struct SetDeleter {
  void operator()(hushset *set) const noexcept { hushset_destroy(set); }
};
struct StreamDeleter {
  void operator()(hushset_stream *stream) const noexcept { hushset_stream_destroy(stream); }
};
using SetHandle = std::unique_ptr<hushset, SetDeleter>;
using StreamHandle = std::unique_ptr<hushset_stream, StreamDeleter>;

[[nodiscard]] inline const std::uint8_t *data_of(const Bytes &bytes) {
  return reinterpret_cast<const std::uint8_t *>(bytes.data());
}

[[nodiscard]] inline hushset_options raw_options(std::uint64_t max_stars) {
  hushset_options options;
  hushset_options_init(&options);
  options.forms = 0;
  options.min_length = 1;
  options.max_stars = max_stars;
  return options;
}

// Adds every form and builds; fails the test on any status but OK.
[[nodiscard]] inline SetHandle make_set(const std::vector<Bytes> &forms, std::uint64_t max_stars) {
  const hushset_options options = raw_options(max_stars);
  SetHandle set(hushset_new(&options));
  EXPECT_NE(set, nullptr);
  for (const Bytes &form : forms) EXPECT_EQ(hushset_add(set.get(), data_of(form), form.size()), HUSHSET_OK);
  EXPECT_EQ(hushset_build(set.get()), HUSHSET_OK);
  return set;
}

[[nodiscard]] inline Bytes mask_whole(const hushset *set, const Bytes &text) {
  Bytes out(text.size(), '\0');
  std::uint64_t out_len = 0;
  EXPECT_EQ(
      hushset_mask(set, data_of(text), text.size(), reinterpret_cast<std::uint8_t *>(out.data()), out.size(), &out_len),
      HUSHSET_OK);
  out.resize(out_len);
  return out;
}

// One write with an output buffer of exactly the size the stream asks for
// (len + H, learned from a call with no buffer); appends the output.
inline void write_exact(hushset_stream *stream, const std::uint8_t *text, std::uint64_t len, Bytes &output) {
  std::uint64_t needed = 0;
  const std::int32_t probe = hushset_write(stream, text, len, nullptr, 0, &needed);
  if (probe == HUSHSET_OK) {
    ASSERT_EQ(needed, 0u);  // nothing to write and nothing held: done
    return;
  }
  ASSERT_EQ(probe, HUSHSET_SHORT_BUFFER);
  Bytes out(needed, '\0');
  std::uint64_t out_len = 0;
  ASSERT_EQ(hushset_write(stream, text, len, reinterpret_cast<std::uint8_t *>(out.data()), out.size(), &out_len),
            HUSHSET_OK);
  ASSERT_LE(out_len, needed);
  output.append(out, 0, out_len);
}

inline void finish_exact(hushset_stream *stream, Bytes &output) {
  std::uint64_t needed = 0;
  const std::int32_t probe = hushset_finish(stream, nullptr, 0, &needed);
  if (probe == HUSHSET_OK) return;
  ASSERT_EQ(probe, HUSHSET_SHORT_BUFFER);
  Bytes out(needed, '\0');
  std::uint64_t out_len = 0;
  ASSERT_EQ(hushset_finish(stream, reinterpret_cast<std::uint8_t *>(out.data()), out.size(), &out_len), HUSHSET_OK);
  ASSERT_EQ(out_len, needed);
  output.append(out);
}

// What one stream hands out, and the runs it reports.
struct StreamRecord {
  Bytes output;
  std::vector<OccurrenceRun> runs;
};

inline void record_runs(hushset_stream *stream, StreamRecord &record) {
  hushset_stream_report(
      stream,
      [](void *context, std::uint64_t start, std::uint64_t span) {
        static_cast<StreamRecord *>(context)->runs.push_back({start, span});
      },
      &record);
}

// Feeds `text` cut at `cuts` (ascending offsets; repeats make empty writes)
// to `stream`, then finishes it.
inline StreamRecord stream_through(hushset_stream *stream, const Bytes &text, const std::vector<std::size_t> &cuts) {
  StreamRecord record;
  record_runs(stream, record);
  std::size_t from = 0;
  for (const std::size_t cut : cuts) {
    write_exact(stream, data_of(text) + from, cut - from, record.output);
    from = cut;
  }
  write_exact(stream, data_of(text) + from, text.size() - from, record.output);
  finish_exact(stream, record.output);
  hushset_stream_report(stream, nullptr, nullptr);
  return record;
}

}  // namespace hush::set::testing
