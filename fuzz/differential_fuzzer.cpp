// Property: for secrets, max_stars, a text and a chunking all drawn from the
// input, one whole-text call gives exactly what the naive reference masker
// gives, and streaming the same text in those chunks (outputs in order, then
// the held-back bytes) gives exactly the whole-text output.  Held-back bytes
// never outgrow the longest secret.  The secrets may be registered in two
// batches with a build after each; the text is then also masked between
// the builds, against the reference for the first batch.
//
// Input: a header byte (max_stars choice, alphabet, secret count), the
// number of secrets in the first batch, the secrets as length-prefixed
// strings, a count and list of chunk lengths (used round-robin; 0 is an
// empty chunk), then the text.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "hushmask.h"
#include "support/reference_masker.h"

namespace {

using hush::core::fuzzing::FuzzInput;

constexpr std::size_t MAX_SECRETS = 8;
constexpr std::size_t MAX_SECRET_LEN = 12;
constexpr std::size_t MAX_CHUNK_LENGTHS = 16;
// The reference masker is quadratic; longer texts only slow the search.
constexpr std::size_t MAX_TEXT_LEN = 4096;

std::uint64_t max_stars_from(std::uint8_t choice) {
  switch (choice) {
    case 13: return 100;
    case 14: return std::uint64_t{1} << 32;
    case 15: return UINT64_MAX;
    default: return choice;
  }
}

std::string take_output(std::int32_t status, std::uint8_t *out, std::uint64_t out_len) {
  FUZZ_CHECK(status == 0);
  FUZZ_CHECK((out == nullptr) == (out_len == 0));
  std::string result(reinterpret_cast<const char *>(out), out_len);
  hush_free(out, out_len);
  return result;
}

std::string mask(hush_masker *masker, const std::string &text, std::uint64_t max_stars, bool streaming) {
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  const std::int32_t status = hush_mask(masker, reinterpret_cast<const std::uint8_t *>(text.data()), text.size(),
                                        max_stars, streaming ? 1 : 0, &out, &out_len);
  return take_output(status, out, out_len);
}

std::string held_back(const hush_masker *masker) {
  std::uint64_t len = 0;
  const std::uint8_t *held = hush_get_reminder(masker, &len);
  FUZZ_CHECK((held == nullptr) == (len == 0));
  return std::string(reinterpret_cast<const char *>(held), len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t header = input.byte();
  const std::uint64_t max_stars = max_stars_from(header & 0x0F);
  const bool narrow = (header & 0x10) != 0;
  const std::size_t secret_count = 1 + (header >> 5) % MAX_SECRETS;
  // All of them (no second batch) as often as any other split.
  const std::size_t first_batch = input.below(secret_count + 1);

  std::vector<std::string> secrets;
  std::size_t longest = 0;
  for (std::size_t s = 0; s < secret_count; ++s) {
    secrets.push_back(input.sized_bytes(MAX_SECRET_LEN));
    if (narrow) hush::core::fuzzing::narrow_to_abc(secrets.back());
    longest = std::max(longest, secrets.back().size());
  }
  std::vector<std::size_t> chunk_lengths(input.below(MAX_CHUNK_LENGTHS + 1));
  std::size_t chunk_total = 0;
  for (std::size_t &length : chunk_lengths) {
    length = input.byte();
    chunk_total += length;
  }
  if (chunk_total == 0) chunk_lengths.push_back(1);  // empty chunks alone would never finish
  std::string text = input.bytes(MAX_TEXT_LEN);
  if (narrow) hush::core::fuzzing::narrow_to_abc(text);

  hush_masker *masker = hush_new();
  FUZZ_CHECK(masker != nullptr);
  auto insert_and_build = [&](std::size_t from, std::size_t to) {
    for (std::size_t s = from; s < to; ++s) {
      const auto *bytes = reinterpret_cast<const std::uint8_t *>(secrets[s].data());
      FUZZ_CHECK(hush_insert(masker, bytes, secrets[s].size()) == 0);
    }
    FUZZ_CHECK(hush_build(masker) == 0);
  };
  if (first_batch < secrets.size()) {
    insert_and_build(0, first_batch);
    const std::vector<std::string> registered(secrets.begin(),
                                              secrets.begin() + static_cast<std::ptrdiff_t>(first_batch));
    const std::string expected = hush::core::testing::reference_mask(registered, text, max_stars).output;
    FUZZ_CHECK(mask(masker, text, max_stars, false) == expected);
  }
  insert_and_build(first_batch < secrets.size() ? first_batch : 0, secrets.size());

  const std::string whole = mask(masker, text, max_stars, false);
  FUZZ_CHECK(whole == hush::core::testing::reference_mask(secrets, text, max_stars).output);

  // An empty whole-text call puts the walk back at its start: the stream
  // below begins as on a fresh handle.
  FUZZ_CHECK(mask(masker, std::string(), max_stars, false).empty());
  std::string streamed;
  std::size_t next_length = 0;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t length = std::min(chunk_lengths[next_length++ % chunk_lengths.size()], text.size() - from);
    streamed += mask(masker, text.substr(from, length), max_stars, true);
    FUZZ_CHECK(held_back(masker).size() <= longest);
    from += length;
  }
  streamed += held_back(masker);
  hush_reset_reminder(masker);
  FUZZ_CHECK(held_back(masker).empty());
  FUZZ_CHECK(streamed == whole);

  hush_destroy(masker);
  return 0;
}
