// Nibble filter, 64 positions at a time; bitset filter, 32 at a time with
// two 16-lane gathers; sampled bitset, 128 bytes at a time (AVX-512BW).

#include "mask/prefilter_kernels.h"

#if HUSH_PREFILTER_X86
// GCC 12's AVX-512 intrinsics start many results from an undefined vector
// and then warn that it may be used uninitialized (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace hush {
namespace {

// As the 16- and 32-lane kernels: per offset, the nibbles of each lane's
// byte select bucket masks, and a lane that keeps a bucket is a candidate.
template <unsigned WINDOW>
[[gnu::target("avx512f,avx512bw")]] std::uint64_t nibble_search(const Prefilter &filter, const std::uint8_t *text,
                                                                std::uint64_t from, std::uint64_t limit) noexcept {
  const __m512i nibble = _mm512_set1_epi8(0x0F);
  __m512i low[WINDOW];
  __m512i high[WINDOW];
  for (unsigned o = 0; o < WINDOW; ++o) {
    low[o] = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i *>(filter.nibble_low[o])));
    high[o] = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i *>(filter.nibble_high[o])));
  }
  std::uint64_t p = from;
  while (limit - p >= 64) {
    __m512i buckets = _mm512_set1_epi8(-1);
    for (unsigned o = 0; o < WINDOW; ++o) {
      const __m512i bytes = _mm512_loadu_si512(text + p + o);
      const __m512i low_half = _mm512_and_si512(bytes, nibble);
      const __m512i high_half = _mm512_and_si512(_mm512_srli_epi16(bytes, 4), nibble);
      buckets = _mm512_and_si512(buckets, _mm512_and_si512(_mm512_shuffle_epi8(low[o], low_half),
                                                           _mm512_shuffle_epi8(high[o], high_half)));
    }
    const __mmask64 kept = _mm512_test_epi8_mask(buckets, buckets);
    if (kept != 0) return p + static_cast<unsigned>(__builtin_ctzll(kept));
    p += 64;
  }
  for (; p < limit; ++p) {
    if (nibble_passes(filter, text + p)) return p;
  }
  return limit;
}

// Sixteen positions of the bitset filter: the 32 bytes at p are spread so
// that 128-bit lane k holds bytes p+4k .. p+4k+15, a byte shuffle puts the
// window of position p+4k+j into 32-bit element j of lane k, and the rest
// is the 8-lane kernel twice as wide.
struct BitsetLanes {
  __m512i dwords;
  __m512i spread;
  __m512i mask;
  __m512i multiplier;
  __m128i shift;
  __m512i low_five;
  const int *words;
};

[[gnu::target("avx512f,avx512bw")]] inline __m512i bitset_sixteen(const BitsetLanes &lanes,
                                                                 const std::uint8_t *at) noexcept {
  const __m512i first_dwords = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(0x00FF), at);  // 32 bytes
  const __m512i bytes = _mm512_permutexvar_epi32(lanes.dwords, first_dwords);
  const __m512i windows = _mm512_and_si512(_mm512_shuffle_epi8(bytes, lanes.spread), lanes.mask);
  const __m512i bits = _mm512_srl_epi32(_mm512_mullo_epi32(windows, lanes.multiplier), lanes.shift);
  const __m512i words = _mm512_i32gather_epi32(_mm512_srli_epi32(bits, 5), lanes.words, 4);
  return _mm512_srlv_epi32(words, _mm512_and_si512(bits, lanes.low_five));
}

template <unsigned WINDOW>
[[gnu::target("avx512f,avx512bw")]] std::uint64_t bitset_search(const Prefilter &filter, const std::uint8_t *text,
                                                                std::uint64_t from, std::uint64_t limit) noexcept {
  const __m512i spread_lane = _mm512_set4_epi32(0x06050403, 0x05040302, 0x04030201, 0x03020100);
  const BitsetLanes lanes{_mm512_setr_epi32(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6),
                          spread_lane,
                          _mm512_set1_epi32(static_cast<int>(window_mask(WINDOW))),
                          _mm512_set1_epi32(static_cast<int>(filter.hash_multiplier)),
                          _mm_cvtsi32_si128(static_cast<int>(filter.hash_shift)),
                          _mm512_set1_epi32(31),
                          reinterpret_cast<const int *>(bitset_of(filter))};
  const __m512i one = _mm512_set1_epi32(1);
  const std::uint64_t text_end = limit + WINDOW - 1;
  std::uint64_t p = from;
  // Thirty-two positions a round; the second load reads bytes p+16 .. p+47.
  while (limit - p >= 32 && text_end - p >= 48) {
    const __m512i hits = _mm512_or_si512(bitset_sixteen(lanes, text + p), bitset_sixteen(lanes, text + p + 16));
    if (_mm512_test_epi32_mask(hits, one) != 0) break;
    p += 32;
  }
  return search_bitset_scalar(filter, text, p, limit);
}

// Sixteen tested positions of the sampled bitset: the 64 bytes at `at`.
[[gnu::target("avx512f,avx512bw")]] inline __m512i sampled_sixteen(const BitsetLanes &lanes,
                                                                  const std::uint8_t *at) noexcept {
  const __m512i windows = _mm512_loadu_si512(at);
  const __m512i bits = _mm512_srl_epi32(_mm512_mullo_epi32(windows, lanes.multiplier), lanes.shift);
  const __m512i words = _mm512_i32gather_epi32(_mm512_srli_epi32(bits, 5), lanes.words, 4);
  return _mm512_srlv_epi32(words, _mm512_and_si512(bits, lanes.low_five));
}

[[gnu::target("avx512f,avx512bw")]] std::uint64_t sampled_search(const Prefilter &filter, const std::uint8_t *text,
                                                                std::uint64_t from, std::uint64_t limit) noexcept {
  const BitsetLanes lanes{_mm512_setzero_si512(),
                          _mm512_setzero_si512(),
                          _mm512_setzero_si512(),
                          _mm512_set1_epi32(static_cast<int>(filter.hash_multiplier)),
                          _mm_cvtsi32_si128(static_cast<int>(filter.hash_shift)),
                          _mm512_set1_epi32(31),
                          reinterpret_cast<const int *>(bitset_of(filter))};
  const __m512i one = _mm512_set1_epi32(1);
  const std::uint64_t text_end = limit + SAMPLED_WINDOW - 1;
  std::uint64_t q = from;
  while (text_end - q >= 128) {
    const __m512i hits = _mm512_or_si512(sampled_sixteen(lanes, text + q), sampled_sixteen(lanes, text + q + 64));
    if (_mm512_test_epi32_mask(hits, one) != 0) break;
    q += 128;
  }
  return search_sampled_tail(filter, text, from, q, limit);
}

}  // namespace

std::uint64_t search_sampled_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  return sampled_search(filter, text, from, limit);
}

std::uint64_t search_bitset_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  if (from >= limit) return limit;
  switch (filter.window) {
    case 1: return bitset_search<1>(filter, text, from, limit);
    case 2: return bitset_search<2>(filter, text, from, limit);
    case 3: return bitset_search<3>(filter, text, from, limit);
    default: return bitset_search<4>(filter, text, from, limit);
  }
}

std::uint64_t search_nibble_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return nibble_search<1>(filter, text, from, limit);
    case 2: return nibble_search<2>(filter, text, from, limit);
    default: return nibble_search<3>(filter, text, from, limit);
  }
}

}  // namespace hush
#endif
