// Property: any sequence of the eight calls, in or out of the expected order
// (secrets inserted after a build, a build or reset in the middle of a
// stream, whole-text calls inside a stream, empty chunks, handles destroyed
// with outputs still held), with the allocator failing calls at random,
// stays within its contract: statuses are only 0 and -1; a failed mask call
// writes neither out-parameter and, when streaming, leaves the held-back
// bytes as they were; every output and the held-back bytes can be read
// whole; every block goes back to the allocator with the length and
// alignment it was obtained with, and nothing leaks.
//
// Input: a header (failure rate, its seed, alphabet), then one byte per
// call choosing the call, followed by that call's arguments.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "hushmask.h"
#include "support/recording_allocator.h"

namespace {

using hush::core::fuzzing::FuzzInput;
using hush::core::testing::RecordingAllocator;

constexpr std::size_t MAX_SECRET_LEN = 10;
constexpr std::size_t MAX_TEXT_LEN = 64;

struct Output {
  std::uint8_t *block;
  std::uint64_t len;
};

// Every byte of a buffer, touched so that a sanitizer sees a short block.
std::uint64_t read_whole(const std::uint8_t *bytes, std::uint64_t len) {
  std::uint64_t sum = 0;
  for (std::uint64_t i = 0; i < len; ++i) sum += bytes[i];
  return sum;
}

std::string held_back(const hush_masker *masker) {
  std::uint64_t len = 12345;
  const std::uint8_t *held = hush_get_reminder(masker, &len);
  FUZZ_CHECK((held == nullptr) == (len == 0));
  (void)read_whole(held, len);
  return std::string(reinterpret_cast<const char *>(held), len);
}

class Session {
 public:
  Session(std::uint32_t fail_one_in, std::uint64_t seed) : fail_one_in_(fail_one_in), seed_(seed) { open(); }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  ~Session() {
    close();
    for (const Output &output : outputs_) hush_free(output.block, output.len);
  }

  // hush_destroy, then a fresh handle; outputs handed out stay valid.
  void reopen() {
    close();
    open();
  }

  void insert(const std::string &secret) {
    const std::int32_t status =
        hush_insert(masker_, reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size());
    FUZZ_CHECK(status == 0 || status == -1);
    // Even a failed insertion may leave trie nodes behind, so the walk can
    // reach that deep.
    longest_ = std::max(longest_, secret.size());
  }

  void build() {
    const std::int32_t status = hush_build(masker_);
    FUZZ_CHECK(status == 0 || status == -1);
  }

  // Only bit 0 of `streaming_byte` may count; the others come from the input.
  void mask(const std::string &text, std::uint64_t max_stars, std::uint8_t streaming_byte, bool null_when_empty) {
    const bool streaming = (streaming_byte & 1) != 0;
    const std::string held_before = held_back(masker_);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    if (text.empty() && null_when_empty) bytes = nullptr;
    auto *const untouched = reinterpret_cast<std::uint8_t *>(0x1);
    std::uint8_t *out = untouched;
    std::uint64_t out_len = 0xDEADBEEF;
    const std::int32_t status = hush_mask(masker_, bytes, text.size(), max_stars, streaming_byte, &out, &out_len);
    FUZZ_CHECK(status == 0 || status == -1);
    if (status == -1) {
      FUZZ_CHECK(out == untouched && out_len == 0xDEADBEEF);
      if (streaming) FUZZ_CHECK(held_back(masker_) == held_before);
      return;
    }
    FUZZ_CHECK((out == nullptr) == (out_len == 0));
    FUZZ_CHECK(out_len <= text.size() + (streaming ? held_before.size() : 0));
    (void)read_whole(out, out_len);
    // The host owns the block from here on.
    allocator_->forget(out);
    if (out != nullptr) outputs_.push_back({out, out_len});
    FUZZ_CHECK(held_back(masker_).size() <= longest_);
  }

  void read_held_back() { FUZZ_CHECK(held_back(masker_).size() <= longest_); }

  void reset_held_back() {
    hush_reset_reminder(masker_);
    FUZZ_CHECK(held_back(masker_).empty());
  }

  // Outputs go back in any order, before or after their handle is gone.
  void release_output(std::size_t pick) {
    if (outputs_.empty()) {
      hush_free(nullptr, 0);
      return;
    }
    const std::size_t index = pick % outputs_.size();
    hush_free(outputs_[index].block, outputs_[index].len);
    outputs_.erase(outputs_.begin() + static_cast<std::ptrdiff_t>(index));
  }

 private:
  void open() {
    masker_ = hush_new();
    FUZZ_CHECK(masker_ != nullptr);
    allocator_ = std::make_unique<RecordingAllocator>();
    allocator_->install(masker_);
    if (fail_one_in_ != 0) allocator_->fail_randomly(fail_one_in_, seed_++);
    longest_ = 0;
  }

  void close() {
    hush_destroy(masker_);
    masker_ = nullptr;
    FUZZ_CHECK(allocator_->errors.empty());
    FUZZ_CHECK(allocator_->live_blocks() == 0);
  }

  std::uint32_t fail_one_in_;
  std::uint64_t seed_;
  hush_masker *masker_ = nullptr;
  std::unique_ptr<RecordingAllocator> allocator_;  // outlives the handle that uses it
  std::size_t longest_ = 0;
  std::vector<Output> outputs_;
};

std::uint64_t max_stars_from(std::uint8_t choice) { return choice == 7 ? UINT64_MAX : choice; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t header = input.byte();
  // 0: no failures; otherwise one request in 2 to 16 fails.
  const std::uint32_t fail_one_in = (header & 0x0F) == 0 ? 0 : 1u + (header & 0x0F);
  const bool narrow = (header & 0x10) != 0;
  const std::uint64_t seed = input.byte();

  auto text_of = [&](std::size_t max_len) {
    std::string text = input.sized_bytes(max_len);
    if (narrow) hush::core::fuzzing::narrow_to_abc(text);
    return text;
  };

  Session session(fail_one_in, seed);
  while (!input.empty()) {
    const std::uint8_t call = input.byte();
    switch (call % 11) {
      case 0:
      case 1: session.insert(text_of(MAX_SECRET_LEN)); break;
      case 2: session.build(); break;
      case 3:
      case 4:
      case 5: {
        // Low bits: max_stars; high bits: noise in the streaming byte,
        // whose bit 0 is set for two of the three choices.
        const std::uint8_t choice = input.byte();
        const auto streaming_byte = static_cast<std::uint8_t>((choice & 0xF0) | (call % 11 != 5 ? 1 : 0));
        session.mask(text_of(MAX_TEXT_LEN), max_stars_from(choice & 7), streaming_byte, false);
        break;
      }
      // Empty chunks, streaming or not, with a null text pointer.
      case 6: session.mask(std::string(), 3, (call & 0x80) != 0 ? 0xFF : 0xFE, true); break;
      case 7: session.read_held_back(); break;
      case 8: session.reset_held_back(); break;
      case 9: session.release_output(input.byte()); break;
      default: session.reopen(); break;
    }
  }
  return 0;
}
