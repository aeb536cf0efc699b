// Property: no call touches a byte outside its buffers.  Every secret and
// text the masker reads, and every byte buffer it obtains (working buffer,
// output, held-back bytes), lies flush against an inaccessible page, so a
// read or write one byte past an end faults; empty texts and secrets are
// passed as a pointer right onto such a page, so reading them faults too.
// The calls come in any order, the risky ones included: a stream continued
// after its held-back bytes were dropped or after a whole-text call, a
// build or new secrets in the middle of a stream, runs longer than
// max_stars straddling chunks.  Outputs and held-back bytes are read whole.
//
// Input: a header (placement seed, alphabet), then one byte per call
// choosing the call and the side its input is flush with, followed by the
// call's arguments.

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "guard_page_allocator.h"
#include "hushmask.h"

namespace {

using hush::core::fuzzing::Flush;
using hush::core::fuzzing::FuzzInput;
using hush::core::fuzzing::GuardedCopy;
using hush::core::fuzzing::GuardPageAllocator;

constexpr std::size_t MAX_SECRET_LEN = 12;
// Long enough for the widest vector kernels to take several full steps and
// a tail.
constexpr std::size_t MAX_TEXT_LEN = 320;

std::uint64_t read_whole(const std::uint8_t *bytes, std::uint64_t len) {
  std::uint64_t sum = 0;
  for (std::uint64_t i = 0; i < len; ++i) sum += static_cast<const volatile std::uint8_t *>(bytes)[i];
  return sum;
}

std::uint64_t max_stars_from(std::uint8_t choice) {
  switch (choice & 7) {
    case 6: return 100;
    case 7: return UINT64_MAX;
    default: return choice & 7;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t header = input.byte();
  const bool narrow = (header & 1) != 0;
  GuardPageAllocator allocator(header);  // outlives the handle that uses it
  hush_masker *masker = hush_new();
  FUZZ_CHECK(masker != nullptr);
  allocator.install(masker);

  auto text_of = [&](std::size_t max_len) {
    std::string text = input.sized_bytes(max_len);
    if (narrow) hush::core::fuzzing::narrow_to_abc(text);
    return text;
  };

  while (!input.empty()) {
    const std::uint8_t call = input.byte();
    const Flush flush = (call & 0x80) != 0 ? Flush::start : Flush::end;
    switch (call % 8) {
      case 0:
      case 1: {
        const std::string secret = text_of(MAX_SECRET_LEN);
        const GuardedCopy guarded(secret, flush);
        FUZZ_CHECK(hush_insert(masker, guarded.data(), secret.size()) == 0);
        break;
      }
      case 2: FUZZ_CHECK(hush_build(masker) == 0); break;
      case 3:
      case 4:
      case 5: {
        // Streaming for two of the three choices.
        const std::uint8_t streaming = call % 8 != 5 ? 1 : 0;
        const std::uint64_t max_stars = max_stars_from(input.byte());
        const std::string text = text_of(MAX_TEXT_LEN);
        const GuardedCopy guarded(text, flush);
        std::uint8_t *out = nullptr;
        std::uint64_t out_len = 0;
        FUZZ_CHECK(hush_mask(masker, guarded.data(), text.size(), max_stars, streaming, &out, &out_len) == 0);
        FUZZ_CHECK((out == nullptr) == (out_len == 0));
        (void)read_whole(out, out_len);
        allocator.release_output(out);
        break;
      }
      case 6: hush_reset_reminder(masker); break;
      default: {
        std::uint64_t len = 0;
        (void)read_whole(hush_get_reminder(masker, &len), len);
        break;
      }
    }
  }

  hush_destroy(masker);
  FUZZ_CHECK(allocator.live_blocks() == 0);
  return 0;
}
