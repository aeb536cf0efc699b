// Nibble filter, 32 positions at a time; bitset filter, 16 at a time with
// two 8-lane gathers; sampled bitset, 64 bytes at a time (AVX2).

#include "mask/prefilter_kernels.h"

#if HUSH_PREFILTER_X86
#include <immintrin.h>

namespace hush::core {
namespace {

// For each offset o of the window: the byte at p + o of every lane, split
// into its nibbles, selects one bucket mask from each table; a lane whose
// AND over all offsets keeps a bucket is a candidate.
template <unsigned WINDOW>
[[gnu::target("avx2")]] std::uint64_t nibble_search(const Prefilter &filter, const std::uint8_t *text,
                                                    std::uint64_t from, std::uint64_t limit) noexcept {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  __m256i low[WINDOW];
  __m256i high[WINDOW];
  for (unsigned o = 0; o < WINDOW; ++o) {
    low[o] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(filter.nibble_low[o])));
    high[o] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(filter.nibble_high[o])));
  }
  std::uint64_t p = from;
  while (limit - p >= 32) {
    __m256i buckets = _mm256_set1_epi8(-1);
    for (unsigned o = 0; o < WINDOW; ++o) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + p + o));
      const __m256i low_half = _mm256_and_si256(bytes, nibble);
      const __m256i high_half = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble);
      buckets = _mm256_and_si256(
          buckets, _mm256_and_si256(_mm256_shuffle_epi8(low[o], low_half), _mm256_shuffle_epi8(high[o], high_half)));
    }
    const auto empty = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(buckets, _mm256_setzero_si256())));
    if (empty != 0xFFFFFFFFu) return p + static_cast<unsigned>(__builtin_ctz(~empty));
    p += 32;
  }
  for (; p < limit; ++p) {
    if (nibble_passes(filter, text + p)) return p;
  }
  return limit;
}

// Eight positions of the bitset filter: the windows at p .. p+7 spread into
// 32-bit lanes by one byte shuffle of the 16 bytes at p (present in both
// halves), hashed as the scalar kernel does, and their bits fetched with
// one gather from the bitset read as 32-bit words.  Bit 0 of a lane is the
// position's result.
struct BitsetLanes {
  __m256i spread;
  __m256i mask;
  __m256i multiplier;
  __m128i shift;
  __m256i low_five;
  const int *words;
};

[[gnu::target("avx2")]] inline __m256i bitset_eight(const BitsetLanes &lanes, const std::uint8_t *at) noexcept {
  const __m256i bytes = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)));
  const __m256i windows = _mm256_and_si256(_mm256_shuffle_epi8(bytes, lanes.spread), lanes.mask);
  const __m256i bits = _mm256_srl_epi32(_mm256_mullo_epi32(windows, lanes.multiplier), lanes.shift);
  const __m256i words = _mm256_i32gather_epi32(lanes.words, _mm256_srli_epi32(bits, 5), 4);
  return _mm256_srlv_epi32(words, _mm256_and_si256(bits, lanes.low_five));
}

template <unsigned WINDOW>
[[gnu::target("avx2")]] std::uint64_t bitset_search(const Prefilter &filter, const std::uint8_t *text,
                                                    std::uint64_t from, std::uint64_t limit) noexcept {
  const BitsetLanes lanes{
      _mm256_setr_epi8(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6, 4, 5, 6, 7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10),
      _mm256_set1_epi32(static_cast<int>(window_mask(WINDOW))),
      _mm256_set1_epi32(static_cast<int>(filter.hash_multiplier)),
      _mm_cvtsi32_si128(static_cast<int>(filter.hash_shift)),
      _mm256_set1_epi32(31),
      reinterpret_cast<const int *>(bitset_of(filter))};
  const __m256i one = _mm256_set1_epi32(1);
  const std::uint64_t text_end = limit + WINDOW - 1;
  std::uint64_t p = from;
  // Sixteen positions a round; the second load reads bytes p+8 .. p+23.
  while (limit - p >= 16 && text_end - p >= 24) {
    const __m256i hits =
        _mm256_and_si256(_mm256_or_si256(bitset_eight(lanes, text + p), bitset_eight(lanes, text + p + 8)), one);
    if (!_mm256_testz_si256(hits, hits)) break;
    p += 16;
  }
  return search_bitset_scalar(filter, text, p, limit);
}

// Eight tested positions of the sampled bitset: the 32 bytes at `at` are
// the eight words themselves.
[[gnu::target("avx2")]] inline __m256i sampled_eight(const BitsetLanes &lanes, const std::uint8_t *at) noexcept {
  const __m256i windows = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
  const __m256i bits = _mm256_srl_epi32(_mm256_mullo_epi32(windows, lanes.multiplier), lanes.shift);
  const __m256i words = _mm256_i32gather_epi32(lanes.words, _mm256_srli_epi32(bits, 5), 4);
  return _mm256_srlv_epi32(words, _mm256_and_si256(bits, lanes.low_five));
}

[[gnu::target("avx2")]] std::uint64_t sampled_search(const Prefilter &filter, const std::uint8_t *text,
                                                     std::uint64_t from, std::uint64_t limit) noexcept {
  const BitsetLanes lanes{_mm256_setzero_si256(),
                          _mm256_setzero_si256(),
                          _mm256_set1_epi32(static_cast<int>(filter.hash_multiplier)),
                          _mm_cvtsi32_si128(static_cast<int>(filter.hash_shift)),
                          _mm256_set1_epi32(31),
                          reinterpret_cast<const int *>(bitset_of(filter))};
  const __m256i one = _mm256_set1_epi32(1);
  const std::uint64_t text_end = limit + SAMPLED_WINDOW - 1;
  std::uint64_t q = from;
  for (; text_end - q >= 64; q += 64) {
    const __m256i low = _mm256_and_si256(sampled_eight(lanes, text + q), one);
    const __m256i high = _mm256_and_si256(sampled_eight(lanes, text + q + 32), one);
    const __m256i either = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(either, either)) continue;
    auto lanes_hit = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(low, one)))) |
                     static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(high, one)))) << 8;
    for (; lanes_hit != 0; lanes_hit &= lanes_hit - 1) {
      const std::uint64_t hit = q + SAMPLE_STRIDE * static_cast<unsigned>(__builtin_ctz(lanes_hit));
      const std::uint64_t found = confirm_sampled_hit(filter, text, from, hit, limit);
      if (found != NO_CANDIDATE) return found;
    }
  }
  return search_sampled_tail(filter, text, from, q, limit);
}

}  // namespace

std::uint64_t search_sampled_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept {
  return sampled_search(filter, text, from, limit);
}

std::uint64_t search_bitset_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                 std::uint64_t limit) noexcept {
  if (from >= limit) return limit;
  switch (filter.window) {
    case 1: return bitset_search<1>(filter, text, from, limit);
    case 2: return bitset_search<2>(filter, text, from, limit);
    case 3: return bitset_search<3>(filter, text, from, limit);
    default: return bitset_search<4>(filter, text, from, limit);
  }
}

std::uint64_t search_nibble_avx2(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                 std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return nibble_search<1>(filter, text, from, limit);
    case 2: return nibble_search<2>(filter, text, from, limit);
    default: return nibble_search<3>(filter, text, from, limit);
  }
}

}  // namespace hush::core
#endif
