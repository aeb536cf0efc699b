// The block kernels (nibble and literal filters), 32 positions at a time;
// the bitset filter, 16 at a time with two 8-lane gathers; the sampled
// bitset, 64 bytes at a time (AVX2).

#include "mask/prefilter/kernels.h"

#if HUSH_PREFILTER_X86
#include <immintrin.h>

#include <cstring>

namespace hush::core {
namespace {

#define HUSH_PREFILTER_TARGET [[gnu::target("avx2")]]

struct Vec {
  using V = __m256i;
  using Mask = std::uint64_t;
  static constexpr unsigned LANES = 32;
  HUSH_PREFILTER_TARGET static V load(const std::uint8_t *at) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
  }
  HUSH_PREFILTER_TARGET static V table(const std::uint8_t *at) noexcept {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(at)));
  }
  HUSH_PREFILTER_TARGET static V splat(std::uint8_t byte) noexcept { return _mm256_set1_epi8(static_cast<char>(byte)); }
  HUSH_PREFILTER_TARGET static V both(V a, V b) noexcept { return _mm256_and_si256(a, b); }
  HUSH_PREFILTER_TARGET static V low_nibbles(V a) noexcept { return _mm256_and_si256(a, _mm256_set1_epi8(0x0F)); }
  HUSH_PREFILTER_TARGET static V high_nibbles(V a) noexcept {
    return _mm256_and_si256(_mm256_srli_epi16(a, 4), _mm256_set1_epi8(0x0F));
  }
  HUSH_PREFILTER_TARGET static V lookup(V table, V nibbles) noexcept { return _mm256_shuffle_epi8(table, nibbles); }
  HUSH_PREFILTER_TARGET static Mask nonzero(V a) noexcept {
    return ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, _mm256_setzero_si256())));
  }
  HUSH_PREFILTER_TARGET static Mask equal(V a, V b) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
  }
  HUSH_PREFILTER_TARGET static Mask all(Mask a, Mask b) noexcept { return a & b; }
  HUSH_PREFILTER_TARGET static std::uint64_t bits(Mask a) noexcept { return a; }
  // Half the 32-byte loads at most straddle a cache line, and a byte shift
  // across two registers would need an immediate count.
  static constexpr bool ALIGNED_BLOCKS = false;
};

#include "mask/prefilter/block_scan.h"

// The bitset kernels hash eight 32-bit words per register, as the scalar
// kernel does, and fetch each word's block with one gather from the bitset
// read as 32-bit blocks; bit 0 of a lane is the word's result.
struct BitsetLanes {
  __m256i multiplier;
  __m256i bit_multiplier;
  __m128i shift;
  __m128i block_shift;
  const int *blocks;
};

HUSH_PREFILTER_TARGET inline BitsetLanes bitset_lanes(const Prefilter &filter) noexcept {
  return {_mm256_set1_epi32(static_cast<int>(filter.hash_multiplier)),
          _mm256_set1_epi32(static_cast<int>(filter.bit_multiplier)),
          _mm_cvtsi32_si128(static_cast<int>(filter.hash_shift)),
          _mm_cvtsi32_si128(static_cast<int>(filter.hash_shift + 5)), reinterpret_cast<const int *>(bitset_of(filter))};
}

// Lanes outside `valid` are not fetched and come out 0.
template <unsigned PROBES>
HUSH_PREFILTER_TARGET inline __m256i probe_lanes(const BitsetLanes &lanes, __m256i words, __m256i valid) noexcept {
  const __m256i hashed = _mm256_mullo_epi32(words, lanes.multiplier);
  const __m256i index = _mm256_srl_epi32(hashed, lanes.block_shift);
  const __m256i block = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), lanes.blocks, index, valid, 4);
  if constexpr (PROBES == 1) {
    const __m256i bit = _mm256_and_si256(_mm256_srl_epi32(hashed, lanes.shift), _mm256_set1_epi32(31));
    return _mm256_srlv_epi32(block, bit);
  } else {
    const __m256i bits = _mm256_mullo_epi32(words, lanes.bit_multiplier);
    const __m256i first = _mm256_srli_epi32(bits, 27);
    const __m256i second = _mm256_and_si256(_mm256_srli_epi32(bits, 22), _mm256_set1_epi32(31));
    return _mm256_and_si256(_mm256_srlv_epi32(block, first), _mm256_srlv_epi32(block, second));
  }
}

// Eight positions of the bitset filter: the windows at p .. p+7 spread into
// 32-bit lanes by one byte shuffle of the 16 bytes at p (present in both
// halves).
template <unsigned WINDOW, unsigned PROBES>
HUSH_PREFILTER_TARGET inline __m256i bitset_eight(const BitsetLanes &lanes, const std::uint8_t *at) noexcept {
  const __m256i spread =
      _mm256_setr_epi8(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6, 4, 5, 6, 7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10);
  const __m256i bytes = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)));
  const __m256i windows =
      _mm256_and_si256(_mm256_shuffle_epi8(bytes, spread), _mm256_set1_epi32(static_cast<int>(window_mask(WINDOW))));
  return probe_lanes<PROBES>(lanes, windows, _mm256_set1_epi32(-1));
}

template <unsigned WINDOW, unsigned PROBES>
HUSH_PREFILTER_TARGET std::uint64_t bitset_search(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                                  std::uint64_t limit) noexcept {
  const BitsetLanes lanes = bitset_lanes(filter);
  const __m256i one = _mm256_set1_epi32(1);
  const std::uint64_t text_end = limit + WINDOW - 1;
  std::uint64_t p = from;
  // Sixteen positions a round; the second load reads bytes p+8 .. p+23.
  while (limit - p >= 16 && text_end - p >= 24) {
    if (((p - from) & 63) == 0) prefetch_text(text + p);
    const __m256i hits = _mm256_and_si256(_mm256_or_si256(bitset_eight<WINDOW, PROBES>(lanes, text + p),
                                                          bitset_eight<WINDOW, PROBES>(lanes, text + p + 8)),
                                          one);
    if (!_mm256_testz_si256(hits, hits)) break;
    p += 16;
  }
  return search_bitset_scalar(filter, text, p, limit);
}

template <unsigned PROBES>
HUSH_PREFILTER_TARGET std::uint64_t bitset_by_window(const Prefilter &filter, const std::uint8_t *text,
                                                     std::uint64_t from, std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return bitset_search<1, PROBES>(filter, text, from, limit);
    case 2: return bitset_search<2, PROBES>(filter, text, from, limit);
    case 3: return bitset_search<3, PROBES>(filter, text, from, limit);
    default: return bitset_search<4, PROBES>(filter, text, from, limit);
  }
}

// The lanes whose bit 0 is set, as bits 0 to 7.
HUSH_PREFILTER_TARGET inline unsigned hit_lanes(__m256i hits) noexcept {
  return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(hits, 31))));
}

// The eight tested keys of the sampled bitset at q, q + 4, ... q + 28: the
// 32 bytes at q themselves, or for 5-byte keys folded with the 32 bytes at
// q + 1 as sampled_key folds them.  Lanes outside `valid` read nothing.
template <unsigned KEY>
HUSH_PREFILTER_TARGET inline __m256i sampled_keys(const std::uint8_t *at, __m256i valid) noexcept {
  const __m256i words = _mm256_maskload_epi32(reinterpret_cast<const int *>(at), valid);
  if constexpr (KEY == 4) {
    return words;
  } else {
    const __m256i next = _mm256_maskload_epi32(reinterpret_cast<const int *>(at + 1), valid);
    return _mm256_add_epi32(words, _mm256_mullo_epi32(next, _mm256_set1_epi32(static_cast<int>(KEY_FOLD_MULTIPLIER))));
  }
}

template <unsigned KEY>
HUSH_PREFILTER_TARGET inline __m256i sampled_keys(const std::uint8_t *at) noexcept {
  const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
  if constexpr (KEY == 4) {
    return words;
  } else {
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 1));
    return _mm256_add_epi32(words, _mm256_mullo_epi32(next, _mm256_set1_epi32(static_cast<int>(KEY_FOLD_MULTIPLIER))));
  }
}

// The hits of the 8 * BLOCKS tested keys at `at`, at, at + 4, ..., bit k
// for at + 4k, with the text asked for ahead; one branch for all.
template <unsigned PROBES, unsigned KEY, unsigned BLOCKS>
HUSH_PREFILTER_TARGET inline std::uint64_t sampled_hits(const BitsetLanes &lanes, const std::uint8_t *at) noexcept {
  const __m256i all = _mm256_set1_epi32(-1);
  const __m256i one = _mm256_set1_epi32(1);
  __m256i block_hits[BLOCKS];
  __m256i any = _mm256_setzero_si256();
  for (unsigned block = 0; block < BLOCKS; ++block) {
    if (block % 2 == 0) prefetch_text(at + 32 * block);
    block_hits[block] = _mm256_and_si256(probe_lanes<PROBES>(lanes, sampled_keys<KEY>(at + 32 * block), all), one);
    any = _mm256_or_si256(any, block_hits[block]);
  }
  if (_mm256_testz_si256(any, any)) return 0;
  std::uint64_t hits = 0;
  for (unsigned block = 0; block < BLOCKS; ++block) {
    hits |= static_cast<std::uint64_t>(hit_lanes(block_hits[block])) << (8 * block);
  }
  return hits;
}

inline constexpr std::uint64_t LONG_STRETCH = 512;

// The sampled bitset, sixteen tested keys a round.  Hit lanes are
// confirmed in order, so the first candidate is found.
template <unsigned PROBES, unsigned KEY>
HUSH_PREFILTER_TARGET std::uint64_t sampled_search(const Prefilter &filter, const std::uint8_t *text,
                                                   std::uint64_t from, std::uint64_t limit) noexcept {
  const BitsetLanes lanes = bitset_lanes(filter);
  const __m256i one = _mm256_set1_epi32(1);
  const std::uint64_t text_end = limit + filter.window - 1;
  std::uint64_t q = from;
  // Over long stretches four gathers a round while 128 bytes remain, then
  // two: four in flight kept the 10,000-secret set's two-probe bitset busier
  // (64 KiB writes of the CI log, 10,000 secrets: 12.6-14.2 against
  // 9.1-10.2 ms; 100,000 secrets 21.7-22.6 against 19.6-20.5; eight a
  // round lost, 12.5-12.7), while one write per log line ran 2-5% slower
  // with them.
  if (text_end - q >= LONG_STRETCH) {
    for (; text_end - q >= 128 + KEY - 4; q += 128) {
      const std::uint64_t found =
          first_confirmed(filter, text, from, q, sampled_hits<PROBES, KEY, 4>(lanes, text + q), limit);
      if (found != NO_CANDIDATE) return found;
    }
  }
  for (; text_end - q >= 64 + KEY - 4; q += 64) {
    const std::uint64_t found =
        first_confirmed(filter, text, from, q, sampled_hits<PROBES, KEY, 2>(lanes, text + q), limit);
    if (found != NO_CANDIDATE) return found;
  }
  // The last tested keys, eight at a time with masked loads: a lane reads
  // its key only when all of it lies in the text, which for a tested
  // position q is exactly q < limit + 3.  Short writes end here at once.
  const __m256i lane_index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  for (; q + KEY <= text_end; q += 32) {
    const std::uint64_t fit = (text_end - q - (KEY - 4)) / 4;
    const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(fit < 8 ? fit : 8)), lane_index);
    const __m256i hits = _mm256_and_si256(probe_lanes<PROBES>(lanes, sampled_keys<KEY>(text + q, valid), valid), one);
    const std::uint64_t found = first_confirmed(filter, text, from, q, hit_lanes(hits), limit);
    if (found != NO_CANDIDATE) return found;
  }
  return limit;
}

}  // namespace

std::uint64_t search_sampled_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept {
  if (filter.window == SAMPLED_WIDE_WINDOW) {
    return filter.probes == 1 ? sampled_search<1, 5>(filter, text, from, limit)
                              : sampled_search<2, 5>(filter, text, from, limit);
  }
  return filter.probes == 1 ? sampled_search<1, 4>(filter, text, from, limit)
                            : sampled_search<2, 4>(filter, text, from, limit);
}

std::uint64_t search_bitset_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                 std::uint64_t limit) noexcept {
  if (from >= limit) return limit;
  return filter.probes == 1 ? bitset_by_window<1>(filter, text, from, limit)
                            : bitset_by_window<2>(filter, text, from, limit);
}

std::uint64_t search_nibble_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                 std::uint64_t limit) noexcept {
  return nibble_entry(filter, text, from, limit);
}

std::uint64_t search_literal_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept {
  return literal_entry(filter, text, from, limit);
}

}  // namespace hush::core
#endif
