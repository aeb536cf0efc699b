// Soak: a generated stream (1 GiB unless told otherwise, never stored)
// through one handle in chunks of 0 to 1 MiB.  The output must equal the
// stream's known masked form byte for byte, and resident memory must stay
// flat: after a warm-up, neither the resident set nor its peak may grow by
// more than a few chunks' worth, however long the stream runs.
//
// Usage: hushmask_soak [stream bytes] [seed]

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <chrono>

#include "hushmask.h"
#include "soak_stream.h"

namespace {

constexpr std::uint64_t MiB = 1u << 20;
constexpr std::size_t LARGEST_CHUNK = 1u << 20;
// Growth allowed after the warm-up: a few largest chunks (chunk, working
// buffer, expected output) plus the heap's own slack.
constexpr std::uint64_t ALLOWED_GROWTH = 16 * MiB;

struct Memory {
  std::uint64_t resident = 0;  // VmRSS
  std::uint64_t peak = 0;      // VmHWM
};

Memory read_memory() {
  Memory memory;
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    std::uint64_t kib = 0;
    if (key == "VmRSS:" && status >> kib) memory.resident = kib * 1024;
    if (key == "VmHWM:" && status >> kib) memory.peak = kib * 1024;
  }
  return memory;
}

std::uint64_t next_random(std::uint64_t &state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

// Mostly anywhere from 0 to 1 MiB; one chunk in four tiny, so that secrets
// are cut at every kind of place and the held-back bytes carry across many
// calls in a row.
std::size_t chunk_size(std::uint64_t &state) {
  const std::uint64_t value = next_random(state);
  if (value % 4 == 0) return static_cast<std::size_t>((value >> 8) % 65);
  return static_cast<std::size_t>((value >> 8) % (LARGEST_CHUNK + 1));
}

bool fail(const char *what) {
  std::fprintf(stderr, "soak: %s\n", what);
  return false;
}

struct Checker {
  hush::core::soak::Bytes expected;  // masked form of the stream, ahead of the output
  std::size_t checked = 0;     // bytes of `expected` already matched

  bool take(const std::uint8_t *output, std::uint64_t len) {
    if (len > expected.size() - checked) return fail("more output than the stream's masked form");
    if (len != 0 && std::memcmp(expected.data() + checked, output, len) != 0) return fail("output differs");
    checked += len;
    // Drop what is checked now and then, so the expected output stays as
    // small as the stream ahead of the output.
    if (checked > 4 * MiB) {
      expected.erase(0, checked);
      checked = 0;
    }
    return true;
  }
};

bool mask_chunk(hush_masker *masker, const std::uint8_t *chunk, std::size_t len, std::uint64_t max_stars,
                Checker &checker) {
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  if (hush_mask(masker, chunk, len, max_stars, 1, &out, &out_len) != 0) return fail("a chunk failed");
  const bool ok = checker.take(out, out_len);
  hush_free(out, out_len);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  const std::uint64_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 0) : 1024 * MiB;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 0) : 20240601;
  hush::core::soak::SoakStream stream(seed, 6);

  hush_masker *masker = hush_new();
  if (masker == nullptr) return 1;
  std::size_t longest = 0;
  for (const hush::core::soak::Bytes &secret : stream.secrets()) {
    if (hush_insert(masker, reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size()) != 0) return 1;
    longest = std::max(longest, secret.size());
  }
  if (hush_build(masker) != 0) return 1;

  std::vector<std::uint8_t> chunk(LARGEST_CHUNK);
  Checker checker;
  std::uint64_t random_state = seed * 2 + 1;
  std::uint64_t fed = 0;
  std::uint64_t calls = 0;
  const Memory at_start = read_memory();
  Memory warm;
  bool ok = true;
  const auto started = std::chrono::steady_clock::now();

  while (ok && fed < total) {
    const std::size_t len =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size(random_state), total - fed));
    stream.next(chunk.data(), len, checker.expected);
    ok = mask_chunk(masker, chunk.data(), len, stream.max_stars(), checker);
    fed += len;
    ++calls;
    std::uint64_t held = 0;
    (void)hush_get_reminder(masker, &held);
    if (held > longest) ok = fail("held-back bytes outgrew the longest secret");
    if (warm.resident == 0 && fed >= total / 8) warm = read_memory();
  }
  // End where a piece ends, so the whole expected output is due.
  const std::size_t last = stream.left_in_piece();
  stream.next(chunk.data(), last, checker.expected);
  ok = ok && mask_chunk(masker, chunk.data(), last, stream.max_stars(), checker);
  fed += last;
  std::uint64_t held_len = 0;
  const std::uint8_t *held = hush_get_reminder(masker, &held_len);
  ok = ok && checker.take(held, held_len);
  hush_reset_reminder(masker);
  hush_destroy(masker);
  if (ok && checker.checked != checker.expected.size()) ok = fail("output ended early");

  const Memory at_end = read_memory();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("soak: %llu bytes in %llu calls, %.1f s (%.0f MiB/s)\n", static_cast<unsigned long long>(fed),
              static_cast<unsigned long long>(calls), seconds, static_cast<double>(fed) / MiB / seconds);
  std::printf("soak: resident MiB start %.1f, after warm-up %.1f (peak %.1f), end %.1f (peak %.1f)\n",
              static_cast<double>(at_start.resident) / MiB, static_cast<double>(warm.resident) / MiB,
              static_cast<double>(warm.peak) / MiB, static_cast<double>(at_end.resident) / MiB,
              static_cast<double>(at_end.peak) / MiB);
  if (warm.resident == 0) ok = fail("no warm-up reading");
  if (at_end.resident > warm.resident + ALLOWED_GROWTH) ok = fail("resident memory grew with the stream");
  if (at_end.peak > warm.peak + ALLOWED_GROWTH) ok = fail("peak resident memory grew with the stream");
  std::printf("soak: %s\n", ok ? "passed" : "FAILED");
  return ok ? 0 : 1;
}
