#pragma once
// The candidate searches, one set per instruction set, each in its own
// file (the block kernels written once, in block_scan.h, and compiled in
// each); dispatch.cpp is the only place that picks among them.
// Every kernel of one kind reports exactly the same positions; only the
// number of positions tested at once differs.

#include <cstdint>

#include "mask/prefilter/prefilter.h"

namespace hush::core {

// A window's bytes as a little-endian word, the form both the build and the
// bitset kernels hash.  Compilers turn these into single loads.
[[nodiscard]] inline std::uint32_t load_le32(const std::uint8_t *bytes) noexcept {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
[[nodiscard]] inline std::uint64_t load_le64(const std::uint8_t *bytes) noexcept {
  return static_cast<std::uint64_t>(load_le32(bytes)) | static_cast<std::uint64_t>(load_le32(bytes + 4)) << 32;
}

// The window word of the `window` bytes at `bytes`, read one by one: for
// the last positions of a chunk, where a 4-byte load would pass its end.
[[nodiscard]] inline std::uint32_t window_word(const std::uint8_t *bytes, unsigned window) noexcept {
  std::uint32_t word = 0;
  for (unsigned o = 0; o < window; ++o) word |= static_cast<std::uint32_t>(bytes[o]) << (8 * o);
  return word;
}

[[nodiscard]] inline std::uint32_t window_mask(unsigned window) noexcept {
  return window >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * window)) - 1;
}

// The bit of the bitset that a window word selects: the build sets it, the
// kernels test it.
[[nodiscard]] inline std::uint32_t bitset_bit(std::uint32_t word, std::uint32_t multiplier,
                                              std::uint32_t shift) noexcept {
  return static_cast<std::uint32_t>(word * multiplier) >> shift;
}

// The block and the two bits of it that a word selects in a two-probe
// bitset (see Prefilter::probes).
struct TwoProbes {
  std::uint32_t block;  // index of a 32-bit block of the bitset
  std::uint32_t first;  // bit positions in it
  std::uint32_t second;
};

[[nodiscard]] inline TwoProbes two_probes(std::uint32_t word, std::uint32_t multiplier, std::uint32_t shift,
                                          std::uint32_t bit_multiplier) noexcept {
  const auto bits = static_cast<std::uint32_t>(word * bit_multiplier);
  return {static_cast<std::uint32_t>(word * multiplier) >> (shift + 5), bits >> 27, (bits >> 22) & 31};
}

// The slot of the window table where the probe for a 7-byte window starts.
[[nodiscard]] inline std::uint64_t window_home_slot(std::uint64_t window, unsigned slots_log2) noexcept {
  return (window * WINDOW_TABLE_MULTIPLIER) >> (64 - slots_log2);
}

// Whether the window at `bytes` has, for some bucket, every byte in the
// bucket's byte set at its offset: what the nibble and bucket filters pass
// (the scalar form of every kernel of both).
[[nodiscard]] inline bool buckets_pass(const Prefilter &filter, const std::uint8_t *bytes) noexcept {
  unsigned buckets = 0xFF;
  for (unsigned o = 0; o < filter.window; ++o) buckets &= filter.byte_buckets[o][bytes[o]];
  return buckets != 0;
}

// The 7 bytes at `bytes` as a window of the sampled filter, little-endian.
// `room` is the number of text bytes from `bytes` on (at least 7).
[[nodiscard]] inline std::uint64_t window_at(const std::uint8_t *bytes, std::uint64_t room) noexcept {
  return room >= 8 ? load_le64(bytes) & 0x00FFFFFFFFFFFFFFu
                   : static_cast<std::uint64_t>(window_word(bytes, 4)) |
                         static_cast<std::uint64_t>(window_word(bytes + 4, 3)) << 32;
}

inline constexpr std::uint64_t NOT_LISTED = UINT64_MAX;

// The slot of the sampled filter's table that holds `window`, probing from
// `slot`, its home slot; NOT_LISTED when none does.
[[nodiscard]] inline std::uint64_t listed_slot(const Prefilter &filter, std::uint64_t window,
                                               std::uint64_t slot) noexcept {
  const std::uint64_t key = window | WINDOW_PRESENT;
  const std::uint64_t *slots = window_table_of(filter);
  const std::uint64_t mask = filter.window_slots - 1;
  for (;; slot = (slot + 1) & mask) {
    if (slots[slot] == key) return slot;
    if (slots[slot] == 0) return NOT_LISTED;
  }
}

[[nodiscard]] inline bool window_listed(const Prefilter &filter, std::uint64_t window, std::uint64_t slot) noexcept {
  return listed_slot(filter, window, slot) != NOT_LISTED;
}

// The bit of the tail-prefix bitset that the 3 bytes `word` (little-endian)
// select.
[[nodiscard]] inline std::uint32_t tail_prefix_bit(const Prefilter &filter, std::uint32_t word) noexcept {
  return bitset_bit(word, TAIL_PREFIX_MULTIPLIER, 32 - filter.tail_prefix_log2);
}

// Whether the 3 text bytes at `bytes` may begin a trie path of 3 bytes or
// more (false only when none does).
[[nodiscard]] inline bool tail_prefix_listed(const Prefilter &filter, const std::uint8_t *bytes) noexcept {
  const std::uint32_t bit = tail_prefix_bit(filter, window_word(bytes, TAIL_PREFIX));
  const std::uint64_t *tail = bitset_of(filter) + filter.tail_prefix_at;
  return ((tail[bit >> 6] >> (bit & 63)) & 1) != 0;
}

// How far ahead of the bytes it tests a kernel asks for the text, one
// cache line per 64 bytes tested.  The hardware prefetcher alone kept a
// scan of a 64 MiB log near 16 GB/s on the EPYC, against 36 when asked
// 8 KiB ahead (4 KiB: 32, 16 KiB: 33).  A prefetch never faults, so one
// past the end of the text is harmless.
inline constexpr std::uint64_t PREFETCH_AHEAD = 8192;

inline void prefetch_text(const std::uint8_t *at) noexcept { __builtin_prefetch(at + PREFETCH_AHEAD); }

// Marks no candidate among the positions a bitset hit covers.
inline constexpr std::uint64_t NO_CANDIDATE = UINT64_MAX;

// After a hit of the sampled bitset at tested position `hit`: the first
// position of [hit - 3, hit] within [from, limit) whose window (its first
// 7 bytes) is listed, or NO_CANDIDATE.  Positions before from were cleared
// by earlier tests.  (Asking for the four home slots before reading any
// did not pay at a million secrets: 179 against 176 ms.)
[[nodiscard]] inline std::uint64_t confirm_sampled_hit(const Prefilter &filter, const std::uint8_t *text,
                                                       std::uint64_t from, std::uint64_t hit,
                                                       std::uint64_t limit) noexcept {
  const std::uint64_t text_end = limit + filter.window - 1;
  std::uint64_t j = hit - from >= SAMPLE_STRIDE - 1 ? hit - (SAMPLE_STRIDE - 1) : from;
  for (; j <= hit && j < limit; ++j) {
    const std::uint64_t window = window_at(text + j, text_end - j);
    if (window_listed(filter, window, window_home_slot(window, filter.window_slots_log2))) return j;
  }
  return NO_CANDIDATE;
}

// The first candidate that the hits of tested positions q, q + 4, ...
// stand for (bit k of `hits` for q + 4k), confirmed in order, or
// NO_CANDIDATE.
[[nodiscard]] inline std::uint64_t first_confirmed(const Prefilter &filter, const std::uint8_t *text,
                                                   std::uint64_t from, std::uint64_t q, std::uint64_t hits,
                                                   std::uint64_t limit) noexcept {
  for (; hits != 0; hits &= hits - 1) {
    const std::uint64_t found = confirm_sampled_hit(
        filter, text, from, q + SAMPLE_STRIDE * static_cast<unsigned>(__builtin_ctzll(hits)), limit);
    if (found != NO_CANDIDATE) return found;
  }
  return NO_CANDIDATE;
}

// The sampled filter's tested key at `bytes`: the 4-byte word, or for
// 5-byte keys the word and the word one byte on, folded into 32 bits for
// the same hashes.  The build hashes the keys of every window with it.
inline constexpr std::uint32_t KEY_FOLD_MULTIPLIER = 0xC2B2AE35u;  // odd, mixed bits

template <unsigned KEY>
[[nodiscard]] inline std::uint32_t sampled_key(const std::uint8_t *bytes) noexcept {
  static_assert(KEY == 4 || KEY == 5);
  if constexpr (KEY == 4) {
    return load_le32(bytes);
  } else {
    return static_cast<std::uint32_t>(load_le32(bytes) + load_le32(bytes + 1) * KEY_FOLD_MULTIPLIER);
  }
}

// The nibble and bucket filters' portable kernel.
std::uint64_t search_buckets_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept;
std::uint64_t search_literal_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept;
std::uint64_t search_bitset_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept;
// The sampled bitset tests positions from, from + 4, ... while their key
// lies inside the text (up to limit + 2: the key is window - 3 bytes).
std::uint64_t search_sampled_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept;
// The same from tested position q (q - from a multiple of 4) on, positions
// from `from` to q having missed; the vector kernels finish with it.
std::uint64_t search_sampled_tail(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t q, std::uint64_t limit) noexcept;

// Vector kernels exist for x86 only.  Defining HUSH_PREFILTER_PORTABLE_ONLY (the
// `portable` preset, which CI runs the whole test suite with)
// builds the portable kernels alone, as on any other architecture, so that
// path can be compiled and tested here.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(HUSH_PREFILTER_PORTABLE_ONLY)
#define HUSH_PREFILTER_X86 1
std::uint64_t search_nibble_ssse3(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept;
std::uint64_t search_literal_ssse3(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept;
std::uint64_t search_literal_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept;
std::uint64_t search_literal_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept;
std::uint64_t search_nibble_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                 std::uint64_t limit) noexcept;
std::uint64_t search_buckets_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept;
std::uint64_t search_nibble_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept;
std::uint64_t search_bitset_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                 std::uint64_t limit) noexcept;
std::uint64_t search_sampled_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept;

#else
#define HUSH_PREFILTER_X86 0
#endif

}  // namespace hush::core
