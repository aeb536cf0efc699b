// Property: for forms, max_stars, a text and a cutting of it drawn from the
// input, hushset_mask gives exactly what the naive every-occurrence
// reference gives; a stream fed the same text in those pieces, each write
// with an output buffer of exactly the size it asks for, hands out the same
// bytes and reports the same runs, never holding back more than the hold
// limit.  With the derived forms switched on, the reference is given the
// forms the set derives (longer than min_length), so the forms code runs
// under the sanitizers too.  Optionally more forms are added and the set is
// rebuilt at one cut of the stream; the reference then counts a new form's
// occurrence only where the rebuilt set can see it (see
// tests/set/set_reference_test.cpp, FormsAddedMidStream).
//
// Input: a header byte (max_stars, alphabet, derived forms on or off), a
// byte of form counts (first batch, second batch), the forms as
// length-prefixed strings, the rebuild cut, a count and list of piece
// lengths (used round-robin; 0 is an empty write), then the text.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "hushset.h"
#include "set/forms.h"
#include "support/occurrence_reference.h"

namespace {

using hush::core::fuzzing::FuzzInput;

constexpr std::size_t MAX_FORMS = 8;
constexpr std::size_t MAX_FORM_LEN = 16;
constexpr std::size_t MAX_PIECE_LENGTHS = 16;
constexpr std::size_t MAX_TEXT_LEN = 4096;

const std::uint8_t *data_of(const std::string &bytes) { return reinterpret_cast<const std::uint8_t *>(bytes.data()); }

// The forms a set with these options registers for `secret`.
void derived_forms(const std::string &secret, std::uint32_t forms, std::uint64_t min_length,
                   std::vector<std::string> &out) {
  hush::set::FormSink sink{&out,
                           [](void *context, std::uint32_t, const std::uint8_t *bytes, std::uint64_t len) noexcept {
                             static_cast<std::vector<std::string> *>(context)->emplace_back(
                                 reinterpret_cast<const char *>(bytes), len);
                             return hush::core::Status::ok;
                           },
                           [](void *, std::uint64_t) noexcept {}};
  const std::size_t first = out.size();
  FUZZ_CHECK(!hush::core::failed(
      hush::set::derive_forms(hush::core::c_heap_allocator, data_of(secret), secret.size(), forms, sink)));
  out.erase(std::remove_if(out.begin() + static_cast<long>(first), out.end(),
                           [&](const std::string &form) { return form.size() < min_length; }),
            out.end());
}

struct Output {
  std::string bytes;
  std::vector<hush::core::testing::OccurrenceRun> runs;
};

void write_exact(hushset_stream *stream, const std::uint8_t *text, std::uint64_t len, const hushset *set,
                 Output &output) {
  std::uint64_t needed = 0;
  const std::int32_t probe = hushset_write(stream, text, len, nullptr, 0, &needed);
  if (probe == HUSHSET_OK) {
    FUZZ_CHECK(needed == 0);
    return;
  }
  FUZZ_CHECK(probe == HUSHSET_SHORT_BUFFER && needed >= len && needed - len <= hushset_hold_limit(set));
  std::string out(needed, '\0');
  std::uint64_t out_len = 0;
  FUZZ_CHECK(hushset_write(stream, text, len, reinterpret_cast<std::uint8_t *>(out.data()), out.size(), &out_len) ==
             HUSHSET_OK);
  FUZZ_CHECK(out_len <= needed);
  output.bytes.append(out, 0, out_len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t header = input.byte();
  const std::uint64_t max_stars = header & 7;
  const bool narrow = (header & 8) == 0;
  const bool derive = (header & 16) != 0;
  const std::uint8_t counts = input.byte();
  const std::size_t first_batch = 1 + counts % MAX_FORMS;
  const std::size_t second_batch = (counts >> 4) % 4;

  std::vector<std::string> secrets;
  for (std::size_t i = 0; i < first_batch + second_batch; ++i) {
    std::string secret = input.sized_bytes(MAX_FORM_LEN);
    if (narrow) hush::core::fuzzing::narrow_to_abc(secret);
    secrets.push_back(secret);
  }
  const std::size_t rebuild_at = input.below(MAX_TEXT_LEN + 1);
  std::vector<std::size_t> pieces;
  for (std::size_t n = input.below(MAX_PIECE_LENGTHS + 1); n > 0; --n) pieces.push_back(input.below(64));
  std::string text = input.bytes(MAX_TEXT_LEN);
  if (narrow) hush::core::fuzzing::narrow_to_abc(text);

  hushset_options options;
  hushset_options_init(&options);
  options.max_stars = max_stars;
  options.forms = derive ? HUSHSET_FORMS_ALL : 0;
  options.min_length = derive ? 4 : 1;
  // The forms of each secret, tagged with its batch.
  std::vector<std::string> forms;
  std::vector<bool> late;
  for (std::size_t i = 0; i < secrets.size(); ++i) {
    if (derive) {
      derived_forms(secrets[i], options.forms, options.min_length, forms);
    } else if (!secrets[i].empty()) {
      forms.push_back(secrets[i]);
    }
    late.resize(forms.size(), i >= first_batch);
  }

  hushset *set = hushset_new(&options);
  FUZZ_CHECK(set != nullptr);
  for (std::size_t i = 0; i < first_batch; ++i) {
    FUZZ_CHECK(hushset_add(set, data_of(secrets[i]), secrets[i].size()) == HUSHSET_OK);
  }
  FUZZ_CHECK(hushset_build(set) == HUSHSET_OK);

  // Whole text, first batch only.
  std::vector<std::string> early_forms;
  for (std::size_t f = 0; f < forms.size(); ++f) {
    if (!late[f]) early_forms.push_back(forms[f]);
  }
  const auto whole = hush::core::testing::every_occurrence_mask(early_forms, text, max_stars);
  {
    std::string out(text.size(), '\0');
    std::uint64_t out_len = 0;
    FUZZ_CHECK(hushset_mask(set, data_of(text), text.size(), reinterpret_cast<std::uint8_t *>(out.data()), out.size(),
                            &out_len) == HUSHSET_OK);
    FUZZ_CHECK(out.substr(0, out_len) == whole.output);
  }

  // The stream, with the second batch added at `cut`.
  const std::size_t cut = second_batch == 0 ? text.size() : std::min(rebuild_at, text.size());
  std::size_t path = 0;
  for (std::size_t len = 1; len <= cut; ++len) {
    for (const std::string &form : early_forms) {
      if (form.compare(0, len, text, cut - len, len) == 0) path = len;
    }
  }
  const auto expected =
      hush::core::testing::every_occurrence_mask(forms, text, max_stars, [&](std::size_t f, std::size_t start) {
        return !late[f] || (start >= cut - path && start + forms[f].size() > cut);
      });
  hushset_stream *stream = hushset_stream_new(set);
  FUZZ_CHECK(stream != nullptr);
  Output output;
  hushset_stream_report(
      stream,
      [](void *context, std::uint64_t start, std::uint64_t span) {
        static_cast<Output *>(context)->runs.push_back({start, span});
      },
      &output);
  std::size_t at = 0;
  // Pieces of length 0 are empty writes; a list without a longer one (or no
  // list) gives one write of the rest.
  const bool moves = std::any_of(pieces.begin(), pieces.end(), [](std::size_t len) { return len != 0; });
  auto feed_to = [&](std::size_t end) {
    for (std::size_t piece = 0; at < end; ++piece) {
      const std::size_t len = moves ? std::min(pieces[piece % pieces.size()], end - at) : end - at;
      write_exact(stream, data_of(text) + at, len, set, output);
      at += len;
    }
  };
  feed_to(cut);
  for (std::size_t i = first_batch; i < secrets.size(); ++i) {
    FUZZ_CHECK(hushset_add(set, data_of(secrets[i]), secrets[i].size()) == HUSHSET_OK);
  }
  FUZZ_CHECK(hushset_build(set) == HUSHSET_OK);
  feed_to(text.size());
  std::uint64_t held = 0;
  if (hushset_finish(stream, nullptr, 0, &held) == HUSHSET_SHORT_BUFFER) {
    FUZZ_CHECK(held <= hushset_hold_limit(set));
    std::string tail(held, '\0');
    std::uint64_t tail_len = 0;
    FUZZ_CHECK(hushset_finish(stream, reinterpret_cast<std::uint8_t *>(tail.data()), tail.size(), &tail_len) ==
               HUSHSET_OK);
    output.bytes += tail;
  }
  FUZZ_CHECK(output.bytes == expected.output);
  FUZZ_CHECK(output.runs == expected.runs);
  hushset_stream_destroy(stream);
  hushset_destroy(set);
  return 0;
}
