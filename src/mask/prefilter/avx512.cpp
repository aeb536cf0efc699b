// The block kernels (nibble and literal filters), 64 positions at a time
// (AVX-512BW).  (Gather kernels for the bitsets lost to the AVX2 ones here:
// see DESIGN.md.)

#include "mask/prefilter/kernels.h"

#if HUSH_PREFILTER_X86
// GCC 12's AVX-512 intrinsics start many results from an undefined vector
// and then warn that it may be used uninitialized (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstring>

namespace hush::core {
namespace {

#define HUSH_PREFILTER_TARGET [[gnu::target("avx512f,avx512bw")]]

struct Vec {
  using V = __m512i;
  using Mask = __mmask64;
  static constexpr unsigned LANES = 64;
  HUSH_PREFILTER_TARGET static V load(const std::uint8_t *at) noexcept { return _mm512_loadu_si512(at); }
  HUSH_PREFILTER_TARGET static V table(const std::uint8_t *at) noexcept {
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i *>(at)));
  }
  HUSH_PREFILTER_TARGET static V splat(std::uint8_t byte) noexcept { return _mm512_set1_epi8(static_cast<char>(byte)); }
  HUSH_PREFILTER_TARGET static V both(V a, V b) noexcept { return _mm512_and_si512(a, b); }
  HUSH_PREFILTER_TARGET static V low_nibbles(V a) noexcept { return _mm512_and_si512(a, _mm512_set1_epi8(0x0F)); }
  HUSH_PREFILTER_TARGET static V high_nibbles(V a) noexcept {
    return _mm512_and_si512(_mm512_srli_epi16(a, 4), _mm512_set1_epi8(0x0F));
  }
  HUSH_PREFILTER_TARGET static V lookup(V table, V nibbles) noexcept { return _mm512_shuffle_epi8(table, nibbles); }
  HUSH_PREFILTER_TARGET static Mask nonzero(V a) noexcept { return _mm512_test_epi8_mask(a, a); }
  HUSH_PREFILTER_TARGET static Mask equal(V a, V b) noexcept { return _mm512_cmpeq_epi8_mask(a, b); }
  HUSH_PREFILTER_TARGET static Mask all(Mask a, Mask b) noexcept { return a & b; }
  HUSH_PREFILTER_TARGET static std::uint64_t bits(Mask a) noexcept { return a; }
};

#include "mask/prefilter/block_scan.h"

}  // namespace

std::uint64_t search_nibble_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  return nibble_entry(filter, text, from, limit);
}

std::uint64_t search_literal_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  return literal_entry(filter, text, from, limit);
}

}  // namespace hush::core
#endif
