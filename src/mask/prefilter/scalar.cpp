// The portable kernels: every build has them, and they are what runs where
// no vector kernel can.

#include <cstring>

#include "mask/prefilter/kernels.h"

namespace hush::core {

std::uint64_t search_buckets_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  for (std::uint64_t p = from; p < limit; ++p) {
    if (buckets_pass(filter, text + p)) return p;
  }
  return limit;
}

// The first byte by memchr, which the C library vectorises on every
// architecture, then the last.
std::uint64_t search_literal_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  const unsigned last_offset = filter.window - 1u;
  for (std::uint64_t p = from; p < limit;) {
    const void *found = std::memchr(text + p, filter.literal[0], limit - p);
    if (found == nullptr) break;
    p = static_cast<std::uint64_t>(static_cast<const std::uint8_t *>(found) - text);
    if (text[p + last_offset] == filter.literal[1]) return p;
    ++p;
  }
  return limit;
}

namespace {

// One position's test without a branch: bit 0 of the result.
template <unsigned PROBES>
struct BitsetProbe {
  const std::uint64_t *words;
  std::uint32_t multiplier;
  std::uint32_t shift;
  std::uint32_t bit_multiplier;

  explicit BitsetProbe(const Prefilter &filter) noexcept
      : words(bitset_of(filter)),
        multiplier(filter.hash_multiplier),
        shift(filter.hash_shift),
        bit_multiplier(filter.bit_multiplier) {}

  [[nodiscard]] std::uint64_t operator()(std::uint32_t word) const noexcept {
    if constexpr (PROBES == 1) {
      const std::uint32_t bit = bitset_bit(word, multiplier, shift);
      return words[bit >> 6] >> (bit & 63);
    } else {
      const TwoProbes probes = two_probes(word, multiplier, shift, bit_multiplier);
      // A 32-bit block lies in one 64-bit word: its half, by the block's parity.
      const std::uint64_t block = words[probes.block >> 1] >> (32 * (probes.block & 1));
      return (block >> probes.first) & (block >> probes.second);
    }
  }
};

template <unsigned WINDOW, unsigned PROBES>
std::uint64_t bitset_search(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                            std::uint64_t limit) noexcept {
  const BitsetProbe<PROBES> probe(filter);
  const std::uint32_t mask = window_mask(WINDOW);
  const std::uint64_t text_end = limit + WINDOW - 1;
  std::uint64_t p = from;
  // Eight positions a round from two 8-byte loads (bytes p .. p+11), tested
  // without a branch each; a hit is then located one position at a time.
  while (limit - p >= 8 && text_end - p >= 12) {
    const std::uint64_t low = load_le64(text + p);
    const std::uint64_t high = load_le64(text + p + 4);
    const std::uint64_t hits =
        probe(static_cast<std::uint32_t>(low) & mask) | probe(static_cast<std::uint32_t>(low >> 8) & mask) |
        probe(static_cast<std::uint32_t>(low >> 16) & mask) | probe(static_cast<std::uint32_t>(low >> 24) & mask) |
        probe(static_cast<std::uint32_t>(high) & mask) | probe(static_cast<std::uint32_t>(high >> 8) & mask) |
        probe(static_cast<std::uint32_t>(high >> 16) & mask) | probe(static_cast<std::uint32_t>(high >> 24) & mask);
    if ((hits & 1) != 0) break;
    p += 8;
  }
  for (; p < limit; ++p) {
    const std::uint32_t word = text_end - p >= 4 ? load_le32(text + p) & mask : window_word(text + p, WINDOW);
    if ((probe(word) & 1) != 0) return p;
  }
  return limit;
}

template <unsigned PROBES, unsigned KEY>
std::uint64_t sampled_tail(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from, std::uint64_t q,
                           std::uint64_t limit) noexcept {
  const BitsetProbe<PROBES> probe(filter);
  const std::uint64_t text_end = limit + filter.window - 1;
  // Four tested positions a round, without a branch each; a hit is then
  // confirmed position by position.
  for (; text_end - q >= 4 * SAMPLE_STRIDE + KEY - 4; q += 4 * SAMPLE_STRIDE) {
    const std::uint64_t hits =
        (probe(sampled_key<KEY>(text + q)) & 1) | (probe(sampled_key<KEY>(text + q + 4)) & 1) << 1 |
        (probe(sampled_key<KEY>(text + q + 8)) & 1) << 2 | (probe(sampled_key<KEY>(text + q + 12)) & 1) << 3;
    const std::uint64_t found = first_confirmed(filter, text, from, q, hits, limit);
    if (found != NO_CANDIDATE) return found;
  }
  for (; text_end - q >= KEY && q < limit + SAMPLE_STRIDE - 1; q += SAMPLE_STRIDE) {
    if ((probe(sampled_key<KEY>(text + q)) & 1) == 0) continue;
    const std::uint64_t found = confirm_sampled_hit(filter, text, from, q, limit);
    if (found != NO_CANDIDATE) return found;
  }
  return limit;
}

template <unsigned PROBES>
std::uint64_t bitset_by_window(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                               std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return bitset_search<1, PROBES>(filter, text, from, limit);
    case 2: return bitset_search<2, PROBES>(filter, text, from, limit);
    case 3: return bitset_search<3, PROBES>(filter, text, from, limit);
    default: return bitset_search<4, PROBES>(filter, text, from, limit);
  }
}

}  // namespace

std::uint64_t search_sampled_tail(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                  std::uint64_t q, std::uint64_t limit) noexcept {
  if (filter.window == SAMPLED_WIDE_WINDOW) {
    return filter.probes == 1 ? sampled_tail<1, 5>(filter, text, from, q, limit)
                              : sampled_tail<2, 5>(filter, text, from, q, limit);
  }
  return filter.probes == 1 ? sampled_tail<1, 4>(filter, text, from, q, limit)
                            : sampled_tail<2, 4>(filter, text, from, q, limit);
}

std::uint64_t search_sampled_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                    std::uint64_t limit) noexcept {
  return search_sampled_tail(filter, text, from, from, limit);
}

std::uint64_t search_bitset_scalar(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                   std::uint64_t limit) noexcept {
  return filter.probes == 1 ? bitset_by_window<1>(filter, text, from, limit)
                            : bitset_by_window<2>(filter, text, from, limit);
}

}  // namespace hush::core
