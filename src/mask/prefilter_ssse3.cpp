// Nibble filter, 16 positions at a time (SSSE3 byte shuffle).

#include "mask/prefilter_kernels.h"

#if HUSH_PREFILTER_X86
#include <immintrin.h>

namespace hush::core {
namespace {

// For each offset o of the window: the byte at p + o of every lane, split
// into its nibbles, selects one bucket mask from each table; a lane whose
// AND over all offsets keeps a bucket is a candidate.
template <unsigned WINDOW>
[[gnu::target("ssse3")]] std::uint64_t nibble_search(const Prefilter &filter, const std::uint8_t *text,
                                                     std::uint64_t from, std::uint64_t limit) noexcept {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  __m128i low[WINDOW];
  __m128i high[WINDOW];
  for (unsigned o = 0; o < WINDOW; ++o) {
    low[o] = _mm_load_si128(reinterpret_cast<const __m128i *>(filter.nibble_low[o]));
    high[o] = _mm_load_si128(reinterpret_cast<const __m128i *>(filter.nibble_high[o]));
  }
  std::uint64_t p = from;
  while (limit - p >= 16) {
    __m128i buckets = _mm_set1_epi8(-1);
    for (unsigned o = 0; o < WINDOW; ++o) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + p + o));
      const __m128i low_half = _mm_and_si128(bytes, nibble);
      const __m128i high_half = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
      buckets = _mm_and_si128(buckets,
                              _mm_and_si128(_mm_shuffle_epi8(low[o], low_half), _mm_shuffle_epi8(high[o], high_half)));
    }
    const auto empty = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(buckets, _mm_setzero_si128())));
    if (empty != 0xFFFF) return p + static_cast<unsigned>(__builtin_ctz(~empty));
    p += 16;
  }
  for (; p < limit; ++p) {
    if (nibble_passes(filter, text + p)) return p;
  }
  return limit;
}

}  // namespace

std::uint64_t search_nibble_ssse3(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return nibble_search<1>(filter, text, from, limit);
    case 2: return nibble_search<2>(filter, text, from, limit);
    default: return nibble_search<3>(filter, text, from, limit);
  }
}

}  // namespace hush::core
#endif
