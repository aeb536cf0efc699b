// The block kernels (nibble and literal filters), 16 positions at a time
// with SSSE3 byte shuffles.

#include "mask/prefilter/kernels.h"

#if HUSH_PREFILTER_X86
#include <immintrin.h>

#include <cstring>

namespace hush::core {
namespace {

#define HUSH_PREFILTER_TARGET [[gnu::target("ssse3")]]

struct Vec {
  using V = __m128i;
  using Mask = std::uint64_t;
  static constexpr unsigned LANES = 16;
  HUSH_PREFILTER_TARGET static V load(const std::uint8_t *at) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
  }
  HUSH_PREFILTER_TARGET static V table(const std::uint8_t *at) noexcept {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(at));
  }
  HUSH_PREFILTER_TARGET static V splat(std::uint8_t byte) noexcept { return _mm_set1_epi8(static_cast<char>(byte)); }
  HUSH_PREFILTER_TARGET static V both(V a, V b) noexcept { return _mm_and_si128(a, b); }
  HUSH_PREFILTER_TARGET static V low_nibbles(V a) noexcept { return _mm_and_si128(a, _mm_set1_epi8(0x0F)); }
  HUSH_PREFILTER_TARGET static V high_nibbles(V a) noexcept {
    return _mm_and_si128(_mm_srli_epi16(a, 4), _mm_set1_epi8(0x0F));
  }
  HUSH_PREFILTER_TARGET static V lookup(V table, V nibbles) noexcept { return _mm_shuffle_epi8(table, nibbles); }
  HUSH_PREFILTER_TARGET static Mask nonzero(V a) noexcept {
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128()))) & 0xFFFFu;
  }
  HUSH_PREFILTER_TARGET static Mask equal(V a, V b) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
  }
  HUSH_PREFILTER_TARGET static Mask all(Mask a, Mask b) noexcept { return a & b; }
  HUSH_PREFILTER_TARGET static std::uint64_t bits(Mask a) noexcept { return a; }
  static constexpr bool ALIGNED_BLOCKS = false;  // a byte shift across registers needs an immediate count
};

#include "mask/prefilter/block_scan.h"

}  // namespace

std::uint64_t search_nibble_ssse3(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t limit) noexcept {
  return nibble_entry(filter, text, from, limit);
}

std::uint64_t search_literal_ssse3(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  return literal_entry(filter, text, from, limit);
}

}  // namespace hush::core
#endif
