#pragma once
// The one source of randomness of the benchmark: SplitMix64 with a fixed
// seed, so that the corpus and the secret sets are the same bytes on every
// machine and standard library (the standard distributions are not specified
// bit for bit, so none of them is used).

#include <cstdint>

namespace hush_bench {

struct Prng {
  std::uint64_t state;
};

inline std::uint64_t next_u64(Prng &prng) noexcept {
  std::uint64_t z = (prng.state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// A value in [0, bound), bound > 0.  The modulo bias (below 2^-40 for the
// bounds used here) does not matter for a corpus.
inline std::uint64_t below(Prng &prng, std::uint64_t bound) noexcept { return next_u64(prng) % bound; }

// A value in [low, high].
inline std::uint64_t between(Prng &prng, std::uint64_t low, std::uint64_t high) noexcept {
  return low + below(prng, high - low + 1);
}

template <typename T, std::size_t N>
const T &pick(Prng &prng, const T (&items)[N]) noexcept {
  return items[below(prng, N)];
}

}  // namespace hush_bench
