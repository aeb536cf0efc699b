// Building the prefilter from the completed automaton, choosing its kind,
// and releasing it.  Only reads the automaton.

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

// Bitsets of hashed words: about this many bits per window, so that about
// one position in a thousand passes by collision, within 512 bytes and
// 512 KiB.  Larger bitsets leave the second-level cache and the lookups
// slow down more than the fewer collisions save (DESIGN.md).
constexpr std::uint64_t BITSET_BITS_PER_WINDOW = 1024;
constexpr unsigned BITSET_MIN_LOG2 = 12;
constexpr unsigned BITSET_MAX_LOG2 = 22;
constexpr std::uint32_t HASH_MULTIPLIER = 0x9E3779B1u;  // 2^32 / golden ratio, odd

// A filter that passes more than this share of all windows costs more than
// its skips save: the handle then masks without one.
constexpr std::uint64_t MAX_FILL_NUMERATOR = 1;
constexpr std::uint64_t MAX_FILL_DENOMINATOR = 4;

// Calls `visit` with the little-endian word of every trie path of exactly
// `window` bytes below `node` (which stands `depth` bytes deep and has the
// word `word` so far).  Recursion stops at depth `window`, at most 8.
template <typename Visit>
void for_each_window(const Masker &masker, NodeIndex node, unsigned depth, unsigned window, std::uint64_t word,
                     Visit &visit) noexcept {
  if (depth == window) {
    visit(word);
    return;
  }
  const Node &record = masker.nodes[node];
  auto descend = [&](unsigned key, NodeIndex child) {
    for_each_window(masker, child, depth + 1, window, word | static_cast<std::uint64_t>(key) << (8 * depth), visit);
  };
  switch (record.edge_kind & 3) {
    case EDGE_SINGLE: descend(single_edge_key(record.edges), single_edge_target(record.edges)); break;
    case EDGE_LIST: {
      const EdgeList &list = *edge_list_of(record);
      for (unsigned slot = 0; slot < list.count; ++slot) descend(list.keys[slot], list.targets[slot]);
      break;
    }
    case EDGE_TABLE: {
      const EdgeTable &table = *edge_table_of(record);
      for (unsigned key = 0; key < 256; ++key) {
        if (table.targets[key] != 0) descend(key, table.targets[key]);
      }
      break;
    }
    default: break;
  }
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

std::uint64_t count_windows(const Masker &masker, unsigned window) noexcept {
  std::uint64_t count = 0;
  auto visit = [&](std::uint64_t) { ++count; };
  for_each_window(masker, 0, 0, window, 0, visit);
  return count;
}

// Window words in the order of their bytes (first byte most significant),
// so that neighbours, which share leading bytes, share a bucket.
std::uint32_t byte_order_key(std::uint32_t word) noexcept { return __builtin_bswap32(word); }

Prefilter *obtain_block(const Masker &masker, std::uint64_t bitset_words, CallerAddress caller,
                        std::uint64_t window_slots = 0) noexcept {
  const std::uint64_t block_len = sizeof(Prefilter) + (bitset_words + window_slots) * sizeof(std::uint64_t);
  const Allocator allocator = masker.allocator;
  void *block = allocator.vtable->alloc(allocator.context, block_len, ALIGN_PREFILTER, caller);
  if (block == nullptr) return nullptr;
  std::memset(block, 0, block_len);
  auto *filter = static_cast<Prefilter *>(block);
  filter->block_len = block_len;
  filter->bitset_words = bitset_words;
  filter->window_slots = window_slots;
  return filter;
}

Prefilter *build_nibble(const Masker &masker, unsigned window, std::uint64_t count, CallerAddress caller) noexcept {
  std::uint32_t windows[NIBBLE_MAX_WINDOWS];
  std::uint64_t filled = 0;
  auto collect = [&](std::uint64_t word) { windows[filled++] = static_cast<std::uint32_t>(word); };
  for_each_window(masker, 0, 0, window, 0, collect);
  // Insertion sort by byte order; at most 16 entries.
  for (std::uint64_t i = 1; i < count; ++i) {
    const std::uint32_t word = windows[i];
    std::uint64_t j = i;
    for (; j > 0 && byte_order_key(windows[j - 1]) > byte_order_key(word); --j) windows[j] = windows[j - 1];
    windows[j] = word;
  }

  Prefilter *filter = obtain_block(masker, 0, caller);
  if (filter == nullptr) return nullptr;
  filter->kind = PrefilterKind::nibble;
  filter->window = static_cast<std::uint8_t>(window);
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto bucket_bit = static_cast<std::uint8_t>(1u << (i * NIBBLE_BUCKETS / count));
    for (unsigned o = 0; o < window; ++o) {
      const auto byte = static_cast<std::uint8_t>(windows[i] >> (8 * o));
      filter->nibble_low[o][byte & 15] |= bucket_bit;
      filter->nibble_high[o][byte >> 4] |= bucket_bit;
    }
  }
  return filter;
}

// The one window's bytes, compared at every position.
Prefilter *build_literal(const Masker &masker, unsigned window, CallerAddress caller) noexcept {
  std::uint64_t word = 0;
  auto collect = [&](std::uint64_t found) { word = found; };
  for_each_window(masker, 0, 0, window, 0, collect);
  Prefilter *filter = obtain_block(masker, 0, caller);
  if (filter == nullptr) return nullptr;
  filter->kind = PrefilterKind::literal;
  filter->window = static_cast<std::uint8_t>(window);
  for (unsigned o = 0; o < window; ++o) filter->literal[o] = static_cast<std::uint8_t>(word >> (8 * o));
  return filter;
}

unsigned ceil_log2(std::uint64_t value) noexcept {
  unsigned log = 0;
  while (log < 63 && (std::uint64_t{1} << log) < value) ++log;
  return log;
}

// The bitset's size for `count` windows: about BITSET_BITS_PER_WINDOW bits
// each, within the bounds.
unsigned bitset_log2(std::uint64_t count) noexcept {
  const unsigned log2_bits = ceil_log2(count * BITSET_BITS_PER_WINDOW);
  if (log2_bits < BITSET_MIN_LOG2) return BITSET_MIN_LOG2;
  return log2_bits > BITSET_MAX_LOG2 ? BITSET_MAX_LOG2 : log2_bits;
}

// A bitset of 2^log2_bits bits, hashed (multiplier and shift) or, for
// windows of one or two bytes, indexed by the window itself.
Prefilter *obtain_bitset(const Masker &masker, PrefilterKind kind, unsigned window, unsigned log2_bits, bool hashed,
                         CallerAddress caller, std::uint64_t window_slots = 0) noexcept {
  const std::uint64_t bits = std::uint64_t{1} << log2_bits;
  Prefilter *filter = obtain_block(masker, (bits + 63) / 64, caller, window_slots);
  if (filter == nullptr) return nullptr;
  filter->kind = kind;
  filter->window = static_cast<std::uint8_t>(window);
  filter->hash_multiplier = hashed ? HASH_MULTIPLIER : 1;
  filter->hash_shift = hashed ? 32 - log2_bits : 0;
  return filter;
}

void set_bit(Prefilter &filter, std::uint32_t word) noexcept {
  const std::uint32_t bit = bitset_bit(word, filter.hash_multiplier, filter.hash_shift);
  bitset_of(filter)[bit >> 6] |= std::uint64_t{1} << (bit & 63);
}

Prefilter *build_bitset(const Masker &masker, unsigned window, CallerAddress caller) noexcept {
  // Windows of one or two bytes: one bit per window value, no hashing.
  const bool hashed = window > 2;
  const unsigned log2_bits = hashed ? bitset_log2(count_windows(masker, window)) : 8 * window;
  Prefilter *filter = obtain_bitset(masker, PrefilterKind::bitset, window, log2_bits, hashed, caller);
  if (filter == nullptr) return nullptr;
  auto insert = [&](std::uint64_t word) { set_bit(*filter, static_cast<std::uint32_t>(word)); };
  for_each_window(masker, 0, 0, window, 0, insert);
  return filter;
}

// Each 7-byte window enters the bitset with its four words at offsets 0 to
// 3, and the window table as itself.  The table is at most half full.
Prefilter *build_sampled(const Masker &masker, CallerAddress caller) noexcept {
  const std::uint64_t count = count_windows(masker, SAMPLED_WINDOW);
  const unsigned slots_log2 = ceil_log2(2 * count) < 4 ? 4 : ceil_log2(2 * count);
  Prefilter *filter = obtain_bitset(masker, PrefilterKind::sampled, SAMPLED_WINDOW, bitset_log2(count), true, caller,
                                    std::uint64_t{1} << slots_log2);
  if (filter == nullptr) return nullptr;
  filter->window_slots_log2 = slots_log2;
  std::uint64_t *slots = window_table_of(*filter);
  const std::uint64_t slot_mask = filter->window_slots - 1;
  auto insert = [&](std::uint64_t word) {
    for (unsigned offset = 0; offset < SAMPLE_STRIDE; ++offset) {
      set_bit(*filter, static_cast<std::uint32_t>(word >> (8 * offset)));
    }
    std::uint64_t slot = window_home_slot(word, slots_log2);
    while (slots[slot] != 0) slot = (slot + 1) & slot_mask;  // windows are distinct trie paths
    slots[slot] = word | WINDOW_PRESENT;
  };
  for_each_window(masker, 0, 0, SAMPLED_WINDOW, 0, insert);
  return filter;
}

// Share of set bits above the limit: most positions would pass.
bool too_full(const Prefilter &filter) noexcept {
  std::uint64_t set = 0;
  const std::uint64_t *words = bitset_of(filter);
  for (std::uint64_t i = 0; i < filter.bitset_words; ++i)
    set += static_cast<std::uint64_t>(__builtin_popcountll(words[i]));
  const std::uint64_t bits = filter.bitset_words * 64;
  return set * MAX_FILL_DENOMINATOR > bits * MAX_FILL_NUMERATOR;
}

}  // namespace

void build_prefilter(Masker &masker, CallerAddress caller) noexcept {
  const std::uint64_t shortest = shortest_secret(masker);
  if (shortest == 0) return;

  Prefilter *filter = nullptr;
  const unsigned nibble_window = shortest < NIBBLE_WINDOW_MAX ? static_cast<unsigned>(shortest) : NIBBLE_WINDOW_MAX;
  const std::uint64_t nibble_windows = count_windows(masker, nibble_window);
  if (nibble_windows == 1 && best_prefilter_kernel(PrefilterKind::literal) != PrefilterKernel::scalar) {
    filter = build_literal(masker, nibble_window, caller);
  } else if (nibble_windows <= NIBBLE_MAX_WINDOWS &&
             best_prefilter_kernel(PrefilterKind::nibble) != PrefilterKernel::scalar) {
    filter = build_nibble(masker, nibble_window, nibble_windows, caller);
  } else {
    if (shortest >= SAMPLED_WINDOW) {
      filter = build_sampled(masker, caller);
    } else {
      filter = build_bitset(masker, static_cast<unsigned>(shortest < BITSET_WINDOW_MAX ? shortest : BITSET_WINDOW_MAX),
                            caller);
    }
    if (filter != nullptr && too_full(*filter)) {
      masker.allocator.vtable->free(masker.allocator.context, filter, filter->block_len, ALIGN_PREFILTER, caller);
      filter = nullptr;
    }
  }
  if (filter == nullptr) return;
  filter->kernel = best_prefilter_kernel(filter->kind);
  filter->search = prefilter_search(filter->kind, filter->kernel);
  masker.prefilter = filter;
}

void drop_prefilter(Masker &masker, CallerAddress caller) noexcept {
  Prefilter *filter = masker.prefilter;
  if (filter == nullptr) return;
  masker.prefilter = nullptr;
  masker.allocator.vtable->free(masker.allocator.context, filter, filter->block_len, ALIGN_PREFILTER, caller);
}

}  // namespace hush::core
