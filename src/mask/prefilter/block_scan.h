// The block kernels of the prefilter, written once and compiled once per
// instruction set.  An instruction-set file defines HUSH_PREFILTER_TARGET
// (its target attribute) and a `Vec` ops type in its own anonymous
// namespace, then includes this file there, so that each copy is compiled
// for its own instruction set and none can leak into another:
//
//   struct Vec {
//     using V = ...; using Mask = ...;      // a register of LANES bytes; a lane mask
//     static constexpr unsigned LANES;
//     static V load(const std::uint8_t *);  // unaligned
//     static V table(const std::uint8_t *); // 16 bytes, in every 16-byte lane
//     static V splat(std::uint8_t);
//     static V both(V, V);                  // bitwise and
//     static V low_nibbles(V), high_nibbles(V);
//     static V lookup(V table, V nibbles);  // byte shuffle within 16-byte lanes
//     static Mask nonzero(V);               // lanes whose byte is not 0
//     static Mask equal(V, V);
//     static Mask all(Mask, Mask);          // and of two masks
//     static std::uint64_t bits(Mask);      // lane i in bit i
//     static constexpr bool ALIGNED_BLOCKS; // see scan_blocks
//     // With ALIGNED_BLOCKS only: an aligned load, and bytes by .. by +
//     // LANES - 1 of the two blocks `block` and `next` read as one.
//     static V load_aligned(const std::uint8_t *);
//     static V shifted(V block, V next, unsigned by);
//   };
//
// A test reads a block's bytes through a block view: `at(o)` is the
// vector of the bytes o .. o + LANES - 1 from the block's start, for o
// below LANES.  Written against the view, one test body serves blocks
// loaded at any address and blocks kept in registers.
//
// (No include guard: it is meant to be included once per instruction set.)

// A block read by unaligned loads from memory.
struct LoadedBlock {
  const std::uint8_t *start;
  HUSH_PREFILTER_TARGET typename Vec::V at(unsigned o) const noexcept { return Vec::load(start + o); }
};

// A block and the one after it, both loaded from aligned addresses: the
// bytes past the block come from the registers, not from a load that
// straddles two cache lines.  (On the EPYC of family 1Ah, 64-lane kernels
// that loaded every window byte unaligned lost to the 32-lane ones; from
// aligned loads they win: see DESIGN.md.)  Ops is Vec, a parameter so that
// instruction sets without these operations never look them up.
template <typename Ops>
struct RegisterBlock {
  typename Ops::V block;
  typename Ops::V next;
  HUSH_PREFILTER_TARGET typename Ops::V at(unsigned o) const noexcept {
    return o == 0 ? block : Ops::shifted(block, next, o);
  }
};

// The first position in [from, limit) whose block test passes, or limit.
// `test(block)` returns the lanes of positions start .. start + LANES - 1
// that pass, reading the view's bytes 0 .. LANES + window - 2.  With
// ALIGNED_BLOCKS, a stretch of four blocks or more is tested from aligned
// loads: one block at `from` by unaligned loads, then blocks from the next
// aligned address on, each with the one after it in a register.  The last,
// partial block is not left to a scalar loop: it is tested as one more
// block that ends at limit, backed up over positions already known to
// fail, or, where the whole text is shorter than a block, as a zero-padded
// copy whose lanes past limit are ignored.  So a short write costs one or
// two block tests.  Reads nothing outside text[0 .. limit + window - 1).
template <typename Test, typename Ops = Vec>
HUSH_PREFILTER_TARGET inline std::uint64_t scan_blocks(const std::uint8_t *text, std::uint64_t from,
                                                       std::uint64_t limit, unsigned window,
                                                       const Test &test) noexcept {
  constexpr unsigned LANES = Vec::LANES;
  std::uint64_t p = from;
  if constexpr (Ops::ALIGNED_BLOCKS) {
    // A round tests the blocks at p and p + LANES and loads the one at p +
    // 2 LANES, which the next round tests: it reads text[p .. p + 3 LANES),
    // all of it below limit.
    if (limit - p >= 4 * LANES) {
      const auto misaligned = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(text + p) % LANES);
      if (misaligned != 0) {
        const std::uint64_t hits = test(LoadedBlock{text + p});
        if (hits != 0) return p + static_cast<unsigned>(__builtin_ctzll(hits));
        p += LANES - misaligned;
      }
      typename Ops::V block = Ops::load_aligned(text + p);
      for (; limit - p >= 3 * LANES; p += 2 * LANES) {
        for (unsigned line = 0; line < 2 * LANES; line += 64) prefetch_text(text + p + line);
        const typename Ops::V second = Ops::load_aligned(text + p + LANES);
        const typename Ops::V third = Ops::load_aligned(text + p + 2 * LANES);
        const std::uint64_t first_hits = test(RegisterBlock<Ops>{block, second});
        const std::uint64_t second_hits = test(RegisterBlock<Ops>{second, third});
        if ((first_hits | second_hits) != 0) {
          return first_hits != 0 ? p + static_cast<unsigned>(__builtin_ctzll(first_hits))
                                 : p + LANES + static_cast<unsigned>(__builtin_ctzll(second_hits));
        }
        block = third;
      }
    }
  } else {
    // Two blocks a round: their tests do not wait for each other, and one
    // branch serves both.
    for (; limit - p >= 2 * LANES; p += 2 * LANES) {
      for (unsigned line = 0; line < 2 * LANES; line += 64) prefetch_text(text + p + line);
      const std::uint64_t first = test(LoadedBlock{text + p});
      const std::uint64_t second = test(LoadedBlock{text + p + LANES});
      if ((first | second) != 0) {
        return first != 0 ? p + static_cast<unsigned>(__builtin_ctzll(first))
                          : p + LANES + static_cast<unsigned>(__builtin_ctzll(second));
      }
    }
  }
  for (; limit - p >= LANES; p += LANES) {
    const std::uint64_t hits = test(LoadedBlock{text + p});
    if (hits != 0) return p + static_cast<unsigned>(__builtin_ctzll(hits));
  }
  if (p == limit) return limit;
  std::uint64_t hits;
  if (limit >= LANES) {
    const std::uint64_t base = limit - LANES;
    hits = test(LoadedBlock{text + base}) >> (p - base);
  } else {
    static_assert(NIBBLE_WINDOW_MAX <= LITERAL_WINDOW_MAX && BUCKET_WINDOW <= LITERAL_WINDOW_MAX,
                  "the copy holds a block and the longest window");
    alignas(64) std::uint8_t copy[LANES + LITERAL_WINDOW_MAX] = {};
    std::memcpy(copy, text, limit + window - 1);
    hits = (test(LoadedBlock{copy}) & ((std::uint64_t{1} << limit) - 1)) >> p;
  }
  return hits != 0 ? p + static_cast<unsigned>(__builtin_ctzll(hits)) : limit;
}

// The nibble filter over blocks: for each offset o of the window, the byte
// at p + o of every lane, split into its nibbles, selects one bucket mask
// from each table; a lane whose AND over all offsets keeps a bucket passes
// (and is then confirmed on the byte sets).
// With SEVEN_BIT (no window has a byte of 0x80 or above) the low-nibble
// lookup takes the bytes unmasked: a byte shuffle gives 0 for an index
// with bit 7 set, which rejects exactly the bytes no window has.
template <unsigned WINDOW, bool SEVEN_BIT>
struct NibbleTest {
  static constexpr bool EXACT = false;  // passes more than the byte sets
  typename Vec::V low[WINDOW];
  typename Vec::V high[WINDOW];

  HUSH_PREFILTER_TARGET explicit NibbleTest(const Prefilter &filter) noexcept {
    for (unsigned o = 0; o < WINDOW; ++o) {
      low[o] = Vec::table(filter.nibble_low[o]);
      high[o] = Vec::table(filter.nibble_high[o]);
    }
  }
  template <typename Block>
  HUSH_PREFILTER_TARGET std::uint64_t operator()(const Block &block) const noexcept {
    typename Vec::V buckets = Vec::splat(0xFF);
    for (unsigned o = 0; o < WINDOW; ++o) {
      const typename Vec::V bytes = block.at(o);
      const typename Vec::V low_index = SEVEN_BIT ? bytes : Vec::low_nibbles(bytes);
      buckets =
          Vec::both(buckets, Vec::both(Vec::lookup(low[o], low_index), Vec::lookup(high[o], Vec::high_nibbles(bytes))));
    }
    return Vec::bits(Vec::nonzero(buckets));
  }
};

template <unsigned WINDOW>
using NibbleTestAnyByte = NibbleTest<WINDOW, false>;
template <unsigned WINDOW>
using NibbleTestSevenBit = NibbleTest<WINDOW, true>;

// The literal filter: the window's first and last bytes.  (A third
// compare of the byte between cost more than the candidates it saved: 64
// KiB writes of the CI log, 1 secret, 2.28 against 2.06 ms.)
struct LiteralTest {
  typename Vec::V first;
  typename Vec::V last;
  unsigned last_offset;

  HUSH_PREFILTER_TARGET explicit LiteralTest(const Prefilter &filter) noexcept
      : first(Vec::splat(filter.literal[0])), last(Vec::splat(filter.literal[1])), last_offset(filter.window - 1u) {}
  template <typename Block>
  HUSH_PREFILTER_TARGET std::uint64_t operator()(const Block &block) const noexcept {
    return Vec::bits(Vec::all(Vec::equal(block.at(0), first), Vec::equal(block.at(last_offset), last)));
  }
};

// The first position in [from, limit) that `test` passes and the byte
// sets confirm, or limit.  Tests that look bytes up whole pass exactly
// what the byte sets pass and need no confirmation.
template <typename Test>
HUSH_PREFILTER_TARGET std::uint64_t scan_confirmed(const Prefilter &filter, const std::uint8_t *text,
                                                   std::uint64_t from, std::uint64_t limit, unsigned window,
                                                   const Test &test) noexcept {
  for (;;) {
    const std::uint64_t found = scan_blocks(text, from, limit, window, test);
    if (Test::EXACT || found == limit || buckets_pass(filter, text + found)) return found;
    from = found + 1;
  }
}

template <template <unsigned> class Test>
HUSH_PREFILTER_TARGET std::uint64_t search_with(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                                std::uint64_t limit) noexcept {
  switch (filter.window) {
    case 1: return scan_confirmed(filter, text, from, limit, 1, Test<1>(filter));
    case 2: return scan_confirmed(filter, text, from, limit, 2, Test<2>(filter));
    default: return scan_confirmed(filter, text, from, limit, 3, Test<3>(filter));
  }
}

// The entry points.  An instruction set with a better way to apply the
// nibble tables passes its own tests, which must pass the same positions.
template <template <unsigned> class SevenBit = NibbleTestSevenBit,
          template <unsigned> class AnyByte = NibbleTestAnyByte>
HUSH_PREFILTER_TARGET std::uint64_t nibble_entry(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                                 std::uint64_t limit) noexcept {
  return filter.seven_bit_windows != 0 ? search_with<SevenBit>(filter, text, from, limit)
                                       : search_with<AnyByte>(filter, text, from, limit);
}

HUSH_PREFILTER_TARGET std::uint64_t literal_entry(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                                  std::uint64_t limit) noexcept {
  return scan_blocks(text, from, limit, filter.window, LiteralTest(filter));
}
