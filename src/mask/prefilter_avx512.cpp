// Nibble filter, 64 positions at a time (AVX-512BW).  (Gather kernels for
// the bitsets lost to the AVX2 ones here: see DESIGN.md.)

#include "mask/prefilter_kernels.h"

#if HUSH_PREFILTER_X86
// GCC 12's AVX-512 intrinsics start many results from an undefined vector
// and then warn that it may be used uninitialized (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace hush::core {
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
      buckets = _mm512_and_si512(
          buckets, _mm512_and_si512(_mm512_shuffle_epi8(low[o], low_half), _mm512_shuffle_epi8(high[o], high_half)));
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

}  // namespace

std::uint64_t search_nibble_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return nibble_search<1>(filter, text, from, limit);
    case 2: return nibble_search<2>(filter, text, from, limit);
    default: return nibble_search<3>(filter, text, from, limit);
  }
}

}  // namespace hush::core
#endif
