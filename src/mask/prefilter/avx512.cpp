// The block kernels (nibble, bucket and literal filters), 64 positions at
// a time (AVX-512BW with VBMI).  Blocks are loaded from aligned addresses
// and the bytes past a block taken from the next one by a byte permute;
// the nibble and bucket filters look each byte up whole in 128- or
// 256-entry tables.  (Gather kernels for the bitsets lost to the AVX2 ones
// here: see DESIGN.md.)

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

#define HUSH_PREFILTER_TARGET [[gnu::target("avx512f,avx512bw,avx512vbmi")]]

struct Vec {
  using V = __m512i;
  using Mask = __mmask64;
  static constexpr unsigned LANES = 64;
  static constexpr bool ALIGNED_BLOCKS = true;
  HUSH_PREFILTER_TARGET static V load(const std::uint8_t *at) noexcept { return _mm512_loadu_si512(at); }
  HUSH_PREFILTER_TARGET static V load_aligned(const std::uint8_t *at) noexcept { return _mm512_load_si512(at); }
  // Lane i takes byte i + by of block:next (by below 64).
  HUSH_PREFILTER_TARGET static V shifted(V block, V next, unsigned by) noexcept {
    const V lanes = _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43,
                                    42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22,
                                    21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    return _mm512_permutex2var_epi8(block, _mm512_add_epi8(lanes, _mm512_set1_epi8(static_cast<char>(by))), next);
  }
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

// Bucket bits by whole bytes (Prefilter::byte_buckets), for the bucket
// and nibble filters: one permute over a 128-byte table per window byte.
// With SEVEN_BIT the table holds bytes 0 .. 127 and a lane whose window has
// a byte of 0x80 or above fails (no window has one); otherwise a second
// permute over the table's upper half and a blend on the byte's top bit.
template <unsigned WINDOW, bool SEVEN_BIT>
struct ByteTableTest {
  static constexpr bool EXACT = true;
  static constexpr unsigned HALVES = SEVEN_BIT ? 2 : 4;
  __m512i table[WINDOW][HALVES];

  HUSH_PREFILTER_TARGET explicit ByteTableTest(const Prefilter &filter) noexcept {
    for (unsigned o = 0; o < WINDOW; ++o) {
      for (unsigned h = 0; h < HALVES; ++h) table[o][h] = _mm512_load_si512(filter.byte_buckets[o] + 64 * h);
    }
  }
  template <typename Block>
  HUSH_PREFILTER_TARGET std::uint64_t operator()(const Block &block) const noexcept {
    __m512i buckets = _mm512_set1_epi8(-1);
    __m512i any_high = _mm512_setzero_si512();
    // Unrolled at every optimisation level: at -O2 GCC keeps the loop over
    // six window bytes, which ran a stand-alone scan at half the speed.
#pragma GCC unroll 8
    for (unsigned o = 0; o < WINDOW; ++o) {
      const __m512i bytes = block.at(o);
      __m512i found = _mm512_permutex2var_epi8(table[o][0], bytes, table[o][1]);
      if constexpr (SEVEN_BIT) {
        any_high = _mm512_or_si512(any_high, bytes);
      } else {
        const __m512i upper = _mm512_permutex2var_epi8(table[o][2], bytes, table[o][3]);
        found = _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), found, upper);
      }
      buckets = _mm512_and_si512(buckets, found);
    }
    if constexpr (SEVEN_BIT) return _mm512_mask_test_epi8_mask(~_mm512_movepi8_mask(any_high), buckets, buckets);
    return _mm512_test_epi8_mask(buckets, buckets);
  }
};

template <unsigned WINDOW>
using ByteTableAnyByte = ByteTableTest<WINDOW, false>;
template <unsigned WINDOW>
using ByteTableSevenBit = ByteTableTest<WINDOW, true>;

// The bucket filter's scan, compiled for this instruction set as a whole.
// (Built in the exported function, which has no target attribute, the
// test's tables could not be kept in registers and the scan was not
// inlined: 64 KiB writes of the CI log, 100 secrets, 7.5 against 4.3 ms.)
HUSH_PREFILTER_TARGET std::uint64_t buckets_entry(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                                  std::uint64_t limit) noexcept {
  return filter.seven_bit_windows != 0
             ? scan_blocks(text, from, limit, BUCKET_WINDOW, ByteTableSevenBit<BUCKET_WINDOW>(filter))
             : scan_blocks(text, from, limit, BUCKET_WINDOW, ByteTableAnyByte<BUCKET_WINDOW>(filter));
}

}  // namespace

std::uint64_t search_nibble_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  return nibble_entry<ByteTableSevenBit, ByteTableAnyByte>(filter, text, from, limit);
}

std::uint64_t search_buckets_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  return buckets_entry(filter, text, from, limit);
}

std::uint64_t search_literal_avx512(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  return literal_entry(filter, text, from, limit);
}

}  // namespace hush::core
#endif
