// Building the prefilter from the completed automaton, choosing its kind,
// its offset and its size, and releasing it.  Only reads the automaton.

#include <cstddef>
#include <cstring>

#include "mask/prefilter/kernels.h"
#include "mask/prefilter/prefilter.h"

namespace hush::core {
namespace {

// The nibble filter keeps up to this many windows.  With eight buckets a
// bucket then holds at most two, and a byte passes a bucket's tables for at
// most 2 x 2 of 256 nibble pairs per offset.
constexpr std::uint64_t NIBBLE_MAX_WINDOWS = 16;
constexpr unsigned NIBBLE_BUCKETS = 8;
// The bucket filter keeps up to this many windows of BUCKET_WINDOW bytes,
// sixteen to a bucket.  Each bucket's byte sets are then small enough that
// the CI log passes about one position in 10,000 beside the windows it
// holds (100 random secrets: 4 per 64 KiB, of which 2 are real), where at
// 200 windows it passes 1%.
constexpr std::uint64_t BUCKET_MAX_WINDOWS = 128;
// Few windows standing for many secrets are a shared prefix, which the log
// likely holds too: the nibble and literal filters, which cannot reach past
// their 3 bytes, are then left to the sampled bitset's 7-byte windows.
constexpr std::uint64_t MAX_SECRETS_PER_WINDOW = 4;

// Bitsets of hashed words: about this many bits per window, so that about
// one position in a thousand passes by collision, within 512 bytes and
// 512 KiB.  Larger bitsets leave the second-level cache and the lookups
// slow down more than the fewer collisions save (DESIGN.md).
constexpr std::uint64_t BITSET_BITS_PER_WINDOW = 1024;
constexpr unsigned BITSET_MIN_LOG2 = 12;
constexpr unsigned BITSET_MAX_LOG2 = 22;
// Beyond this many hashed words one bit each would pass over 0.4% of the
// tested words at the cap, and the confirmations, each a few probes of a
// window table that no longer fits in the first caches, cost more than a
// second bit: such sets hash twice (two bits of one block), 32 bits per
// word, up to 2^27 bits (16 MiB: a million secrets, beside an automaton of
// a gigabyte).  (From 2,048 words instead, 1,000 secrets ran 30% slower:
// 32 bits a word is then far fewer than one probe's 1,024.)
constexpr std::uint64_t SINGLE_PROBE_MAX_WORDS = std::uint64_t{1} << 14;
constexpr std::uint64_t TWO_PROBE_BITS_PER_WORD = 32;
constexpr unsigned TWO_PROBE_MAX_LOG2 = 27;
// The sampled filter's 5-byte keys cost a third load and multiply per
// eight tested keys, and pay where 4-byte keys collide with the text's
// own words (64 KiB writes of the CI log, 4-byte against 5-byte keys:
// 10,000 secrets 14.9 against 20.5 ms, 100,000 29.1 against 24.3, a
// million 176 against 84).
constexpr std::uint64_t WIDE_KEY_MIN_WORDS = std::uint64_t{1} << 17;
constexpr unsigned SMALL_BITSET_LOG2 = 18;  // 32 KiB
constexpr std::uint64_t SMALL_BITS_PER_WORD = 256;
constexpr std::uint32_t HASH_MULTIPLIER = 0x9E3779B1u;  // 2^32 / golden ratio, odd
constexpr std::uint32_t BIT_MULTIPLIER = 0x85EBCA77u;   // another odd constant with mixed bits

// A filter that passes more than this share of all windows costs more than
// its skips save: the handle then masks without one.
constexpr std::uint64_t MAX_FILL_NUMERATOR = 1;
constexpr std::uint64_t MAX_FILL_DENOMINATOR = 4;

// Offsets tried for the windows, and how the trie's shape is read: the
// number of distinct bytes at each depth of the first SHAPE_DEPTH, counted
// up to SPREAD_CAP (past that a byte is as good as random).
constexpr unsigned MAX_OFFSET = 16;
constexpr unsigned SHAPE_DEPTH = MAX_OFFSET + SAMPLED_WIDE_WINDOW;
constexpr unsigned SPREAD_CAP = 16;

// Calls `visit(word, end, parent)` with the little-endian word of bytes
// [offset, window) of every trie path of exactly `window` bytes below
// `node` (which stands `depth` bytes deep, below `parent`, and has the word
// `word` so far), the node the path ends at and the one before it.
// Recursion stops at depth `window`; window - offset is at most 8.
template <typename Visit>
void for_each_window(const Masker &masker, NodeIndex node, NodeIndex parent, unsigned depth, unsigned offset,
                     unsigned window, std::uint64_t word, Visit &visit) noexcept {
  if (depth == window) {
    visit(word, node, parent);
    return;
  }
  const Node &record = masker.nodes[node];
  auto descend = [&](unsigned key, NodeIndex child) {
    const std::uint64_t next = depth < offset ? 0 : word | static_cast<std::uint64_t>(key) << (8 * (depth - offset));
    for_each_window(masker, child, node, depth + 1, offset, window, next, visit);
  };
  for_each_edge(record, descend);
}

template <typename Visit>
void for_each_window(const Masker &masker, unsigned offset, unsigned window, Visit &visit) noexcept {
  for_each_window(masker, 0, 0, 0, offset, offset + window, 0, visit);
}

// Length of the shortest secret, 0 when there is none.
std::uint64_t shortest_secret(const Masker &masker) noexcept {
  std::uint64_t shortest = 0;
  for (std::uint64_t index = 1; index < masker.node_count; ++index) {
    const Node &node = masker.nodes[index];
    if (node.pattern_id != 0 && (shortest == 0 || node.pattern_len < shortest)) shortest = node.pattern_len;
  }
  return shortest;
}

// How many distinct bytes the secrets have at each of their first depths:
// 1 where they all share a byte, many where they differ.
struct TrieShape {
  std::uint64_t shortest;
  unsigned depth;                      // depths measured
  unsigned spread[SHAPE_DEPTH];        // distinct bytes at each, at most SPREAD_CAP
  std::uint64_t seen[SHAPE_DEPTH][4];  // the bytes at each, one bit per value
};

void mark_spread(const Masker &masker, NodeIndex node, unsigned depth, unsigned limit,
                 std::uint64_t (&seen)[SHAPE_DEPTH][4]) noexcept {
  if (depth == limit) return;
  const Node &record = masker.nodes[node];
  auto descend = [&](unsigned key, NodeIndex child) {
    seen[depth][key >> 6] |= std::uint64_t{1} << (key & 63);
    mark_spread(masker, child, depth + 1, limit, seen);
  };
  for_each_edge(record, descend);
}

TrieShape trie_shape(const Masker &masker, std::uint64_t shortest) noexcept {
  TrieShape shape{};
  shape.shortest = shortest;
  shape.depth = static_cast<unsigned>(shortest < SHAPE_DEPTH ? shortest : SHAPE_DEPTH);
  mark_spread(masker, 0, 0, shape.depth, shape.seen);
  for (unsigned d = 0; d < shape.depth; ++d) {
    unsigned count = 0;
    for (const std::uint64_t bits : shape.seen[d]) count += static_cast<unsigned>(__builtin_popcountll(bits));
    shape.spread[d] = count < SPREAD_CAP ? count : SPREAD_CAP;
  }
  return shape;
}

// How selective windows of `window` bytes at `offset` are, by the bytes they
// hold: the product of the spreads, over the window, or over the weakest of
// the four keys of a sampled window.
std::uint64_t spread_of(const TrieShape &shape, unsigned from, unsigned len) noexcept {
  std::uint64_t product = 1;
  for (unsigned d = from; d < from + len; ++d) product *= shape.spread[d];
  return product;
}

std::uint64_t window_score(const TrieShape &shape, unsigned offset, unsigned window) noexcept {
  if (window < SAMPLED_WINDOW) return spread_of(shape, offset, window);
  std::uint64_t weakest = UINT64_MAX;
  for (unsigned o = 0; o < SAMPLE_STRIDE; ++o) {
    const std::uint64_t word = spread_of(shape, offset + o, window - (SAMPLE_STRIDE - 1));
    if (word < weakest) weakest = word;
  }
  return weakest;
}

// The first offset whose windows are the most selective, from 0 to where
// they still fit in the shortest secret.  Random secrets score the same at
// every offset and keep 0, which re-walks least.
unsigned best_offset(const TrieShape &shape, unsigned window) noexcept {
  unsigned best = 0;
  std::uint64_t best_score = 0;
  for (unsigned offset = 0; offset <= MAX_OFFSET && offset + window <= shape.depth; ++offset) {
    const std::uint64_t score = window_score(shape, offset, window);
    if (score > best_score) {
      best = offset;
      best_score = score;
    }
  }
  return best;
}

std::uint64_t count_windows(const Masker &masker, unsigned offset, unsigned window) noexcept {
  std::uint64_t count = 0;
  auto visit = [&](std::uint64_t, NodeIndex, NodeIndex) { ++count; };
  for_each_window(masker, offset, window, visit);
  return count;
}

// Up to MAX distinct windows into `windows`; returns their number, or
// MAX + 1 when there are more.  Paths that share a window past the offset
// give it once.
template <typename Word, std::size_t MAX>
std::uint64_t distinct_windows(const Masker &masker, unsigned offset, unsigned window, Word (&windows)[MAX]) noexcept {
  std::uint64_t filled = 0;
  auto collect = [&](std::uint64_t word, NodeIndex, NodeIndex) {
    if (filled > MAX) return;
    for (std::uint64_t i = 0; i < filled && i < MAX; ++i) {
      if (windows[i] == static_cast<Word>(word)) return;
    }
    if (filled < MAX) windows[filled] = static_cast<Word>(word);
    ++filled;
  };
  for_each_window(masker, offset, window, collect);
  return filled;
}

// Sorts the `count` window words (little-endian, `filter.window` bytes) by
// their bytes, first byte most significant, so that neighbours, which
// share leading bytes, share a bucket; cuts them into eight buckets and
// sets each bucket's byte sets (Prefilter::byte_buckets).
template <typename Word>
void fill_buckets(Prefilter &filter, Word *windows, std::uint64_t count) noexcept {
  auto byte_order = [](Word word) { return __builtin_bswap64(static_cast<std::uint64_t>(word)); };
  for (std::uint64_t i = 1; i < count; ++i) {
    const Word word = windows[i];
    std::uint64_t j = i;
    for (; j > 0 && byte_order(windows[j - 1]) > byte_order(word); --j) windows[j] = windows[j - 1];
    windows[j] = word;
  }
  filter.seven_bit_windows = 1;
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto bucket_bit = static_cast<std::uint8_t>(1u << (i * NIBBLE_BUCKETS / count));
    for (unsigned o = 0; o < filter.window && o < BUCKET_WINDOW; ++o) {
      const auto byte = static_cast<std::uint8_t>(static_cast<std::uint64_t>(windows[i]) >> (8 * o));
      if (byte >= 0x80) filter.seven_bit_windows = 0;
      filter.byte_buckets[o][byte] |= bucket_bit;
    }
  }
}

Prefilter *obtain_block(const Masker &masker, std::uint64_t bitset_words, CallerAddress caller,
                        std::uint64_t window_slots = 0, std::uint64_t node_words = 0) noexcept {
  const std::uint64_t block_len =
      sizeof(Prefilter) + (bitset_words + window_slots + node_words) * sizeof(std::uint64_t);
  const Allocator allocator = masker.allocator;
  void *block = allocator.vtable->alloc(allocator.context, block_len, ALIGN_PREFILTER, caller);
  if (block == nullptr) return nullptr;
  std::memset(block, 0, block_len);
  auto *filter = static_cast<Prefilter *>(block);
  filter->block_len = block_len;
  filter->bitset_words = bitset_words;
  filter->window_slots = window_slots;
  filter->probes = 1;
  return filter;
}

// How common a byte is in ordinary text (logs, source code, prose), as its
// place in this list, most common first; bytes not listed (control bytes
// other than these and bytes from 0x80 on) are the rarest.  A rough
// ordering is enough: it only has to keep the literal filter off the
// letters and separators that fill a log.
constexpr char COMMON_FIRST[] =
    " \netaoinsrlcduhmp-./_:012fg=b,vwyxk\"'()TESARINOCLD3456789PMFUBHG><[]{};#*+$jzqKVWXYZJQ|@!?%&~^`\t\r\\";

unsigned byte_rarity(std::uint8_t byte) noexcept {
  constexpr unsigned listed = sizeof COMMON_FIRST - 1;
  for (unsigned place = 0; place < listed; ++place) {
    if (static_cast<std::uint8_t>(COMMON_FIRST[place]) == byte) return place + 1;
  }
  return listed + 1;
}

// The one byte every secret has at depth `d`, when they share one.
bool shared_byte(const TrieShape &shape, unsigned d, std::uint8_t &byte) noexcept {
  if (shape.spread[d] != 1) return false;
  for (unsigned part = 0; part < 4; ++part) {
    if (shape.seen[d][part] != 0) {
      byte = static_cast<std::uint8_t>(64 * part + static_cast<unsigned>(__builtin_ctzll(shape.seen[d][part])));
      return true;
    }
  }
  return false;
}

// The literal filter: of the depths at which every secret has the same
// byte, the two whose bytes are rarest together, at most
// LITERAL_WINDOW_MAX bytes apart; on a tie the pair that ends first, which
// re-walks least; a single shared byte where no two are.  At least one
// depth is shared (the caller found a single window).  The secret's first
// three bytes instead pass wherever it begins with a common word:
// 64 KiB writes of 34 MB of this project's documents and sources, one
// secret, 'the_password' 7.82 against 1.09 ms, 'secret-token-value' 3.35
// against 1.06, 'hunter2-password' 1.31 against 0.91; a secret of one
// repeated letter, whose adjacent pair passes more often than a run of
// three, 1.09 against 1.31.
Prefilter *build_literal(const Masker &masker, const TrieShape &shape, CallerAddress caller) noexcept {
  const unsigned depths = shape.depth < MAX_OFFSET + LITERAL_WINDOW_MAX ? shape.depth : MAX_OFFSET + LITERAL_WINDOW_MAX;
  unsigned best_first = 0, best_last = 0, best_score = 0;
  std::uint8_t best_bytes[2] = {0, 0};
  for (unsigned first = 0; first < depths && first <= MAX_OFFSET; ++first) {
    std::uint8_t a = 0;
    if (!shared_byte(shape, first, a)) continue;
    for (unsigned last = first; last < depths && last < first + LITERAL_WINDOW_MAX; ++last) {
      std::uint8_t b = 0;
      if (!shared_byte(shape, last, b)) continue;
      // One byte alone (first == last) is compared twice; any pair beats it.
      const unsigned score = byte_rarity(a) + (last == first ? 0 : byte_rarity(b));
      if (score > best_score || (score == best_score && last < best_last)) {
        best_first = first;
        best_last = last;
        best_score = score;
        best_bytes[0] = a;
        best_bytes[1] = b;
      }
    }
  }
  if (best_score == 0) return nullptr;
  Prefilter *filter = obtain_block(masker, 0, caller);
  if (filter == nullptr) return nullptr;
  filter->kind = PrefilterKind::literal;
  filter->window = static_cast<std::uint8_t>(best_last - best_first + 1);
  filter->offset = static_cast<std::uint8_t>(best_first);
  filter->literal[0] = best_bytes[0];
  filter->literal[1] = best_bytes[1];
  return filter;
}

// The offset for a handful of windows: of those whose windows span at
// least half the best spread (so a shared prefix never wins), the one
// whose windows pass least often, estimated from the bytes' ranks as a sum
// over the windows of the product of 1 / rank^2 over their bytes.  By the
// spread alone, ten passwords that begin with common words were looked for
// at every 'the' and 'pas' of the text (64 KiB writes of 34 MB of this
// project's documents: 6.65 against 2.51 ms); ten random secrets over the
// bench's CI log 4.43 against 3.99 ms, one write per line 42.9 against
// 35.8 ns (hushset_write).  `spread_offset` is best_offset's choice.
unsigned rarest_offset(const Masker &masker, const TrieShape &shape, unsigned window, unsigned spread_offset) noexcept {
  const std::uint64_t best_spread = window_score(shape, spread_offset, window);
  unsigned best = spread_offset;
  double best_pass = -1;
  for (unsigned offset = 0; offset <= MAX_OFFSET && offset + window <= shape.depth; ++offset) {
    if (2 * window_score(shape, offset, window) < best_spread) continue;
    std::uint32_t windows[NIBBLE_MAX_WINDOWS];
    const std::uint64_t count = distinct_windows(masker, offset, window, windows);
    if (count > NIBBLE_MAX_WINDOWS) continue;
    double pass = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
      double product = 1;
      for (unsigned o = 0; o < window; ++o) {
        const double rank = byte_rarity(static_cast<std::uint8_t>(windows[i] >> (8 * o)));
        product /= rank * rank;
      }
      pass += product;
    }
    if (best_pass < 0 || pass < best_pass) {
      best = offset;
      best_pass = pass;
    }
  }
  return best;
}

Prefilter *build_nibble(const Masker &masker, unsigned offset, unsigned window, std::uint32_t (&windows)[16],
                        std::uint64_t count, CallerAddress caller) noexcept {
  Prefilter *filter = obtain_block(masker, 0, caller);
  if (filter == nullptr) return nullptr;
  filter->kind = PrefilterKind::nibble;
  filter->window = static_cast<std::uint8_t>(window);
  filter->offset = static_cast<std::uint8_t>(offset);
  fill_buckets(*filter, windows, count);
  // The same buckets a nibble at a time.
  for (unsigned o = 0; o < window; ++o) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      filter->nibble_low[o][byte & 15] |= filter->byte_buckets[o][byte];
      filter->nibble_high[o][byte >> 4] |= filter->byte_buckets[o][byte];
    }
  }
  return filter;
}

unsigned ceil_log2(std::uint64_t value) noexcept {
  unsigned log = 0;
  while (log < 63 && (std::uint64_t{1} << log) < value) ++log;
  return log;
}

// The bitset for `words` hashed words: one probe and about
// BITSET_BITS_PER_WINDOW bits each within the bounds, or, for many words,
// two probes and TWO_PROBE_BITS_PER_WORD bits each.
struct BitsetSize {
  unsigned log2_bits;
  std::uint8_t probes;
};

BitsetSize bitset_size(std::uint64_t words) noexcept {
  if (words > SINGLE_PROBE_MAX_WORDS) {
    const unsigned log2_bits = ceil_log2(words * TWO_PROBE_BITS_PER_WORD);
    return {log2_bits > TWO_PROBE_MAX_LOG2 ? TWO_PROBE_MAX_LOG2 : log2_bits, 2};
  }
  unsigned log2_bits = ceil_log2(words * BITSET_BITS_PER_WINDOW);
  // A bitset that fits the first-level cache with a quarter of the bits
  // takes them: its gathers then hit that cache (100 secrets: 10.6 against
  // 11.8 ms), and a few times more collisions cost less.
  if (log2_bits > SMALL_BITSET_LOG2 && ceil_log2(words * SMALL_BITS_PER_WORD) <= SMALL_BITSET_LOG2) {
    log2_bits = ceil_log2(words * SMALL_BITS_PER_WORD);
  }
  if (log2_bits < BITSET_MIN_LOG2) return {BITSET_MIN_LOG2, 1};
  return {log2_bits > BITSET_MAX_LOG2 ? BITSET_MAX_LOG2 : log2_bits, 1};
}

// A bitset of 2^log2_bits bits, hashed (multiplier and shift) or, for
// windows of one or two bytes, indexed by the window itself.
Prefilter *obtain_bitset(const Masker &masker, PrefilterKind kind, unsigned offset, unsigned window, BitsetSize size,
                         bool hashed, CallerAddress caller, std::uint64_t window_slots = 0,
                         std::uint64_t node_words = 0) noexcept {
  const std::uint64_t bits = std::uint64_t{1} << size.log2_bits;
  Prefilter *filter = obtain_block(masker, (bits + 63) / 64, caller, window_slots, node_words);
  if (filter == nullptr) return nullptr;
  filter->kind = kind;
  filter->window = static_cast<std::uint8_t>(window);
  filter->offset = static_cast<std::uint8_t>(offset);
  filter->hash_multiplier = hashed ? HASH_MULTIPLIER : 1;
  filter->hash_shift = hashed ? 32 - size.log2_bits : 0;
  filter->probes = size.probes;
  filter->bit_multiplier = size.probes == 2 ? BIT_MULTIPLIER : 0;
  return filter;
}

void set_bit(std::uint64_t *words, std::uint64_t bit) noexcept { words[bit >> 6] |= std::uint64_t{1} << (bit & 63); }

void insert_word(Prefilter &filter, std::uint32_t word) noexcept {
  if (filter.probes == 1) {
    set_bit(bitset_of(filter), bitset_bit(word, filter.hash_multiplier, filter.hash_shift));
    return;
  }
  const TwoProbes probes = two_probes(word, filter.hash_multiplier, filter.hash_shift, filter.bit_multiplier);
  set_bit(bitset_of(filter), std::uint64_t{probes.block} * 32 + probes.first);
  set_bit(bitset_of(filter), std::uint64_t{probes.block} * 32 + probes.second);
}

Prefilter *build_bitset(const Masker &masker, unsigned offset, unsigned window, CallerAddress caller) noexcept {
  // Windows of one or two bytes: one bit per window value, no hashing.
  const bool hashed = window > 2;
  const BitsetSize size = hashed ? bitset_size(count_windows(masker, offset, window)) : BitsetSize{8 * window, 1};
  Prefilter *filter = obtain_bitset(masker, PrefilterKind::bitset, offset, window, size, hashed, caller);
  if (filter == nullptr) return nullptr;
  auto insert = [&](std::uint64_t word, NodeIndex, NodeIndex) {
    insert_word(*filter, static_cast<std::uint32_t>(word));
  };
  for_each_window(masker, offset, window, insert);
  return filter;
}

// The tail-prefix bitset: 64 bits per 3-byte prefix, within 2^9 and 2^18
// bits (32 KiB, so that it stays in the first-level cache), and none when
// that leaves fewer than 16 bits per prefix (about one tested position in
// sixteen would pass by collision).
unsigned tail_prefix_bits_log2(std::uint64_t prefixes) noexcept {
  constexpr unsigned MIN_LOG2 = 9;
  constexpr unsigned MAX_LOG2 = 18;
  const unsigned wanted = ceil_log2(prefixes * 64);
  const unsigned log2 = wanted < MIN_LOG2 ? MIN_LOG2 : wanted > MAX_LOG2 ? MAX_LOG2 : wanted;
  return (std::uint64_t{1} << log2) < prefixes * 16 ? 0 : log2;
}

// The tail-prefix bitset of `2^log2` bits, `at` words after the bitset's
// start (nothing when log2 is 0).
void mark_tail_prefixes(const Masker &masker, Prefilter &filter, unsigned log2, std::uint64_t at) noexcept {
  if (log2 == 0) return;
  filter.tail_prefix_log2 = static_cast<std::uint8_t>(log2);
  filter.tail_prefix_at = at;
  std::uint64_t *tail = bitset_of(filter) + at;
  auto mark = [&](std::uint64_t word, NodeIndex, NodeIndex) {
    set_bit(tail, tail_prefix_bit(filter, static_cast<std::uint32_t>(word)));
  };
  for_each_window(masker, 0, TAIL_PREFIX, mark);
}

std::uint64_t tail_prefix_words(unsigned log2) noexcept { return log2 == 0 ? 0 : (std::uint64_t{1} << log2) / 64; }

// Eight buckets of windows (see fill_buckets), and the tail-prefix bitset
// after the header, as for the sampled filter.
Prefilter *build_buckets(const Masker &masker, unsigned offset, std::uint64_t (&windows)[BUCKET_MAX_WINDOWS],
                         std::uint64_t count, CallerAddress caller) noexcept {
  const unsigned tail_log2 = tail_prefix_bits_log2(count_windows(masker, 0, TAIL_PREFIX));
  Prefilter *filter = obtain_block(masker, 0, caller, 0, tail_prefix_words(tail_log2));
  if (filter == nullptr) return nullptr;
  mark_tail_prefixes(masker, *filter, tail_log2, 0);
  filter->kind = PrefilterKind::buckets;
  filter->window = static_cast<std::uint8_t>(BUCKET_WINDOW);
  filter->offset = static_cast<std::uint8_t>(offset);
  fill_buckets(*filter, windows, count);
  return filter;
}

// Each window enters the bitset with its four keys at offsets 0 to 3, and
// the window table with its first 7 bytes, once.  The table is at most half
// full.
Prefilter *build_sampled(const Masker &masker, unsigned offset, unsigned window, std::uint64_t count,
                         CallerAddress caller) noexcept {
  const unsigned slots_log2 = ceil_log2(2 * count) < 4 ? 4 : ceil_log2(2 * count);
  const std::uint64_t slot_count = std::uint64_t{1} << slots_log2;
  const bool landing = offset == 0;
  const std::uint64_t landing_words = landing ? slot_count / 2 : 0;
  const unsigned tail_log2 = tail_prefix_bits_log2(count_windows(masker, 0, TAIL_PREFIX));
  const std::uint64_t tail_words = tail_prefix_words(tail_log2);
  const BitsetSize size = bitset_size(SAMPLE_STRIDE * count);
  Prefilter *filter = obtain_bitset(masker, PrefilterKind::sampled, offset, window, size, true, caller, slot_count,
                                    landing_words + tail_words);
  if (filter == nullptr) return nullptr;
  filter->window_slots_log2 = slots_log2;
  filter->landing_nodes = landing ? 1 : 0;
  mark_tail_prefixes(masker, *filter, tail_log2, filter->bitset_words + slot_count + landing_words);
  std::uint64_t *slots = window_table_of(*filter);
  NodeIndex *landing_nodes = landing ? landing_nodes_of(*filter) : nullptr;
  const std::uint64_t slot_mask = filter->window_slots - 1;
  auto insert = [&](std::uint64_t word, NodeIndex end, NodeIndex parent) {
    std::uint8_t bytes[8];
    for (unsigned o = 0; o < 8; ++o) bytes[o] = static_cast<std::uint8_t>(word >> (8 * o));
    for (unsigned o = 0; o < SAMPLE_STRIDE; ++o) {
      insert_word(*filter, window == SAMPLED_WINDOW ? sampled_key<4>(bytes + o) : sampled_key<5>(bytes + o));
    }
    const std::uint64_t listed = (word & 0x00FFFFFFFFFFFFFFu) | WINDOW_PRESENT;
    std::uint64_t slot = window_home_slot(listed & ~WINDOW_PRESENT, slots_log2);
    for (; slots[slot] != 0; slot = (slot + 1) & slot_mask) {
      if (slots[slot] == listed) return;  // paths that share the first 7 bytes past the offset
    }
    slots[slot] = listed;
    if (landing_nodes != nullptr) landing_nodes[slot] = window == SAMPLED_WINDOW ? end : parent;
  };
  for_each_window(masker, offset, window, insert);
  return filter;
}

// Sets of more than WIDE_KEY_MIN_WORDS words take 5-byte keys where their
// secrets reach one byte further past the offset.  At a million secrets
// 4-byte keys pass 9% of the CI log's tested words (a fifth of the
// alphanumeric ones) and each is confirmed in a 16 MiB table.
Prefilter *build_sampled(const Masker &masker, const TrieShape &shape, CallerAddress caller) noexcept {
  const unsigned offset = best_offset(shape, SAMPLED_WINDOW);
  const std::uint64_t count = count_windows(masker, offset, SAMPLED_WINDOW);
  if (SAMPLE_STRIDE * count > WIDE_KEY_MIN_WORDS && shape.shortest >= SAMPLED_WIDE_WINDOW) {
    const unsigned wide_offset = best_offset(shape, SAMPLED_WIDE_WINDOW);
    return build_sampled(masker, wide_offset, SAMPLED_WIDE_WINDOW,
                         count_windows(masker, wide_offset, SAMPLED_WIDE_WINDOW), caller);
  }
  return build_sampled(masker, offset, SAMPLED_WINDOW, count, caller);
}

// Share of positions that would pass above the limit.  One probe: the share
// of set bits; two probes: the mean over blocks of the square of each
// block's share of set bits.
bool too_full(const Prefilter &filter) noexcept {
  const std::uint64_t *words = bitset_of(filter);
  const std::uint64_t bits = filter.bitset_words * 64;
  if (filter.probes == 1) {
    std::uint64_t set = 0;
    for (std::uint64_t i = 0; i < filter.bitset_words; ++i) {
      set += static_cast<std::uint64_t>(__builtin_popcountll(words[i]));
    }
    return set * MAX_FILL_DENOMINATOR > bits * MAX_FILL_NUMERATOR;
  }
  std::uint64_t squares = 0;  // sum over 32-bit blocks of (set bits)^2, out of blocks * 32^2
  for (std::uint64_t i = 0; i < filter.bitset_words; ++i) {
    const auto low = static_cast<std::uint64_t>(__builtin_popcount(static_cast<std::uint32_t>(words[i])));
    const auto high = static_cast<std::uint64_t>(__builtin_popcount(static_cast<std::uint32_t>(words[i] >> 32)));
    squares += low * low + high * high;
  }
  return squares * MAX_FILL_DENOMINATOR > (bits / 32) * 32 * 32 * MAX_FILL_NUMERATOR;
}

bool vector_kernel(PrefilterKind kind) noexcept { return best_prefilter_kernel(kind) != PrefilterKernel::scalar; }

// The filter for the set, or null: one window, a handful, or many.
Prefilter *choose_and_build(const Masker &masker, const TrieShape &shape, CallerAddress caller) noexcept {
  const std::uint64_t shortest = shape.shortest;
  const unsigned few_window = shortest < NIBBLE_WINDOW_MAX ? static_cast<unsigned>(shortest) : NIBBLE_WINDOW_MAX;
  unsigned few_offset = best_offset(shape, few_window);
  std::uint32_t windows[NIBBLE_MAX_WINDOWS];
  std::uint64_t distinct = distinct_windows(masker, few_offset, few_window, windows);
  const bool shared_prefix = distinct <= NIBBLE_MAX_WINDOWS && shortest >= SAMPLED_WINDOW &&
                             count_windows(masker, few_offset, few_window) > MAX_SECRETS_PER_WINDOW * distinct;
  if (!shared_prefix) {
    if (distinct == 1 && vector_kernel(PrefilterKind::literal)) {
      return build_literal(masker, shape, caller);
    }
    // A handful of windows: the offset where they pass least often.  (Not
    // a shared prefix, so at most four paths per window reach those depths,
    // or the secrets are shorter than 7 bytes and no offset passes 3:
    // weighing every offset is cheap.)
    if (distinct <= NIBBLE_MAX_WINDOWS) {
      const unsigned rarest = rarest_offset(masker, shape, few_window, few_offset);
      if (rarest != few_offset) distinct = distinct_windows(masker, rarest, few_window, windows);
      few_offset = rarest;
    }
    if (distinct <= NIBBLE_MAX_WINDOWS && vector_kernel(PrefilterKind::nibble)) {
      return build_nibble(masker, few_offset, few_window, windows, distinct, caller);
    }
  }
  // More windows, but not too many for eight buckets of whole-byte sets
  // (a kernel that looks bytes up whole runs): those, unless few stand for
  // many secrets, a prefix the sampled filter's windows reach past.
  if (shortest >= SAMPLED_WINDOW && vector_kernel(PrefilterKind::buckets)) {
    const unsigned offset = best_offset(shape, BUCKET_WINDOW);
    std::uint64_t words[BUCKET_MAX_WINDOWS];
    const std::uint64_t count = distinct_windows(masker, offset, BUCKET_WINDOW, words);
    if (count <= BUCKET_MAX_WINDOWS && count_windows(masker, offset, BUCKET_WINDOW) <= MAX_SECRETS_PER_WINDOW * count) {
      return build_buckets(masker, offset, words, count, caller);
    }
  }
  if (shortest >= SAMPLED_WINDOW) return build_sampled(masker, shape, caller);
  const unsigned window = static_cast<unsigned>(shortest < BITSET_WINDOW_MAX ? shortest : BITSET_WINDOW_MAX);
  return build_bitset(masker, best_offset(shape, window), window, caller);
}

}  // namespace

void build_prefilter(Masker &masker, CallerAddress caller) noexcept {
  const std::uint64_t shortest = shortest_secret(masker);
  if (shortest == 0) return;
  const TrieShape shape = trie_shape(masker, shortest);
  Prefilter *filter = choose_and_build(masker, shape, caller);
  if (filter == nullptr) return;
  // Bytes of the paths a chunk's last reach positions can begin (k + w - 1
  // < shortest, so every depth below it was measured).
  const unsigned reach = filter->offset + filter->window - 1u;
  for (unsigned d = 0; d < reach; ++d) {
    for (unsigned part = 0; part < 4; ++part) filter->reach_bytes[part] |= shape.seen[d][part];
  }
  if ((filter->kind == PrefilterKind::bitset || filter->kind == PrefilterKind::sampled) && too_full(*filter)) {
    masker.allocator.vtable->free(masker.allocator.context, filter, filter->block_len, ALIGN_PREFILTER, caller);
    return;
  }
  filter->kernel = best_prefilter_kernel(filter->kind);
  filter->search = prefilter_search(filter->kind, filter->kernel);
  masker.prefilter = filter;
}

NodeIndex landing_node(const Prefilter &filter, const std::uint8_t *window) noexcept {
  const std::uint64_t bytes = window_at(window, SAMPLED_WINDOW);
  const std::uint64_t slot = listed_slot(filter, bytes, window_home_slot(bytes, filter.window_slots_log2));
  return slot == NOT_LISTED ? 0 : landing_nodes_of(filter)[slot];
}

void drop_prefilter(Masker &masker, CallerAddress caller) noexcept {
  Prefilter *filter = masker.prefilter;
  if (filter == nullptr) return;
  masker.prefilter = nullptr;
  masker.allocator.vtable->free(masker.allocator.context, filter, filter->block_len, ALIGN_PREFILTER, caller);
}

}  // namespace hush::core
