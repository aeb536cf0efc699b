#pragma once
// The prefilter: an acceleration structure beside the completed automaton
// that lets the masking pass jump over text in which no secret can begin.
//
// It looks at windows of `window` bytes, w, taken `offset` bytes, k, into
// the secrets, with k + w no longer than the shortest secret.  Position j of
// a chunk is a candidate when text[j+k .. j+k+w) equals bytes k .. k+w of
// some secret; the filter may report more positions than those (false
// positives only cost time), never fewer.  Positions whose window does not
// fit in the chunk are candidates by definition: their bytes cannot be seen
// yet.  Call r = k + w - 1 the filter's reach.
//
// Why the walk may jump.  After index i the walk stands at the node of the
// longest suffix of the text that is a trie path.  A path that begins at a
// non-candidate position j is at most r bytes long: a path of k + w or more
// bytes begins with the first k + w bytes of some secret, which would make j
// a candidate.  Paths never begin earlier than the one under way: if the
// walk's path at index i begins at s = i - depth, every later path begins at
// s or after.  So when no position in [s, n) is a candidate, the path at n
// begins at n - r or later, and walking from the root over text[n-r .. n)
// reaches exactly the state a byte-by-byte walk has at n.  No match ends in
// the skipped stretch or in those r bytes (it would begin at a candidate),
// the run bookkeeping counts chunk indices and sees the same matches, and
// since the last r positions of a chunk count as candidates, its last bytes
// are always walked: the final state, and with it the carry-over, is the
// byte-by-byte one.
//
// The re-walk keeps the state exact at every byte the walk visits.  A jump
// to the chunk's last r positions needs none: no position before them is a
// candidate, so the path that ends the chunk begins among them, no match
// ends in them (no secret is shorter than k + w), and walking them from the
// root gives the byte-by-byte final state.  (Elsewhere a state that skipped
// it would differ only by a path of at most r bytes that can never complete
// a secret; were windows longer than some secret, the re-walk would be what
// keeps a secret nested in a partial match from being reported, as with
// secrets 'xyz' and 'y' and the text 'xyw'.  The build never makes such
// windows.)
//
// The offset is where the secrets differ.  Token formats share their first
// bytes ('ghp_', 'xoxb-', 'AKIA'), and a log full of such tokens passes any
// window taken from those bytes at every token; windows past the shared
// prefix pass only where a secret may really begin.
//
// The filter is built by hush_build after completion, dropped by every
// hush_insert (the walk then uses the trie as it stands) and released by
// hush_destroy after the node array.  Its one block comes from the
// Masker's allocator; when that block cannot be obtained the handle simply
// has no filter and masks as before.

#include <cstdint>

#include "alloc/allocator.h"
#include "api/masker.h"

namespace hush::core {

// 64-byte alignment: each nibble table is one aligned 16-byte load and the
// bitset starts on a cache line.
inline constexpr std::uint8_t ALIGN_PREFILTER = 6;

inline constexpr unsigned NIBBLE_WINDOW_MAX = 3;
inline constexpr unsigned BUCKET_WINDOW = 6;
inline constexpr unsigned LITERAL_WINDOW_MAX = 8;
inline constexpr unsigned BITSET_WINDOW_MAX = 4;
// The sampled bitset's window and stride: it looks at every fourth 4-byte
// word of the text, so it needs windows of 4 + 4 - 1 bytes.  Large sets
// whose secrets allow it look at 5-byte keys instead, in windows of
// 5 + 4 - 1 bytes (see Prefilter::window).
inline constexpr unsigned SAMPLE_STRIDE = 4;
inline constexpr unsigned SAMPLED_WINDOW = BITSET_WINDOW_MAX + SAMPLE_STRIDE - 1;
inline constexpr unsigned SAMPLED_WIDE_WINDOW = SAMPLED_WINDOW + 1;

// The filters.  `nibble` keeps eight buckets of windows as per-byte nibble
// tables, tested 16 to 64 positions at a time with a byte shuffle; it suits
// a handful of windows.  `bitset` keeps one bit per hashed window (exact
// for windows of one or two bytes) and suits many.  `sampled` is a bitset
// of the four 4-byte words at offsets 0 to 3 of every 7-byte window, tested
// only at every fourth position of the text: whatever the phase, a 7-byte
// window that occurs has one of its four words at a tested position, so a
// hit at position q stands for a candidate in [q - 3, q].  It reads the
// text as plain vector loads of aligned-in-phase words, with a quarter of
// the hashing and lookups per byte of `bitset`; it needs secrets of at
// least 7 bytes.  Each hit is then confirmed against a table of the 7-byte
// windows themselves, so the search reports exact candidates only and the
// walk never starts at a hash collision.
// `literal` is the one-window case: two bytes that every secret has at the
// same depths, the window's first and last, compared at every position;
// two vector compares per block, cheaper than the nibble tables' shuffles.
// The build takes the two that are rarest in ordinary text (see
// byte_rarity in build.cpp), so a window may span bytes it does not test.
enum class PrefilterKind : std::uint8_t { nibble = 0, bitset = 1, sampled = 2, literal = 3, buckets = 4 };

// Instruction sets a kernel may be written for, in order of preference.
enum class PrefilterKernel : std::uint8_t { scalar = 0, ssse3 = 1, avx2 = 2, avx512 = 3 };
inline constexpr unsigned PREFILTER_KERNELS = 4;

struct Prefilter;

// The first position q in [from, limit) whose window text[q .. q + window)
// passes, or `limit` when there is none (the walk maps window positions to
// candidates by the offset).  Requires from < limit; reads nothing outside
// text[0 .. limit + window - 1): the block kernels may test a last block
// that begins before `from`.
using CandidateSearch = std::uint64_t (*)(const Prefilter &filter, const std::uint8_t *text, std::uint64_t from,
                                          std::uint64_t limit) noexcept;

// The block's header.  A bitset's words follow it directly.
struct alignas(64) Prefilter {
  // Nibble filter, a nibble at a time: bit b of low[o][n] is set when a
  // window of bucket b has a byte with low nibble n at offset o; high[]
  // likewise for the high nibble (see byte_buckets).
  std::uint8_t nibble_low[NIBBLE_WINDOW_MAX][16];
  std::uint8_t nibble_high[NIBBLE_WINDOW_MAX][16];
  CandidateSearch search;   // the kernel in use
  std::uint64_t block_len;  // bytes of the whole block, for its release
  // Bitset filter: a window's bytes, read little-endian into a word w,
  // select bit (w * hash_multiplier mod 2^32) >> hash_shift.  Windows of up
  // to two bytes use multiplier 1 and shift 0: one bit per window value.
  std::uint32_t hash_multiplier;
  std::uint32_t hash_shift;
  std::uint64_t bitset_words;  // 64-bit words after the header
  // Sampled filter: the windows as an open-addressed table after the bitset,
  // `window_slots` (a power of two) 64-bit slots, each 0 or a window's 7
  // bytes little-endian with bit 63 set; a window starts probing at slot
  // (bytes * WINDOW_TABLE_MULTIPLIER) >> (64 - log2 of the slot count) and
  // goes on to the next slot, cyclically, up to the first empty one.
  std::uint64_t window_slots;
  std::uint32_t window_slots_log2;
  // Sampled filter at offset 0: 1 when the table is followed by one 32-bit
  // node index per slot, the trie node at the end of the slot's 7 bytes
  // (see landing_node).
  std::uint8_t landing_nodes;
  // Sampled filter: log2 of the bits of a bitset of the secrets' first
  // TAIL_PREFIX bytes (hashed as a bitset filter hashes a window), stored
  // tail_prefix_at 64-bit words after the bitset's start; 0 for none.  It
  // lets a chunk's last window be resolved without walking it (see
  // tail_state in mask/walk.h).
  std::uint8_t tail_prefix_log2;
  std::uint64_t tail_prefix_at;
  PrefilterKind kind;
  PrefilterKernel kernel;
  // w: up to NIBBLE_WINDOW_MAX, LITERAL_WINDOW_MAX or BITSET_WINDOW_MAX,
  // BUCKET_WINDOW for the bucket filter; for the sampled
  // filter SAMPLED_WINDOW (4-byte keys) or SAMPLED_WIDE_WINDOW (5-byte keys,
  // hits confirmed on the window's first 7 bytes).  A million random
  // secrets of an alphabet of 64 fill a fifth of its 4-byte words, so every
  // eleventh tested word of the CI log passes and is confirmed; of the
  // 5-byte words they fill 0.4%.
  std::uint8_t window;
  std::uint8_t offset;      // k: where in the secrets the windows are taken
  std::uint8_t literal[2];  // literal filter: the window's first and last bytes
  // Bitsets of large sets hash each word twice: `probes` 2 sets two bits of
  // one 32-bit block (the block from hash_multiplier, the two bit positions
  // from the top bits of word * bit_multiplier), and a position passes when
  // both are set.  One block is one load, as for a single bit, while the
  // share of positions that pass by collision falls with its square: a
  // million secrets keep 0.7% of tested words passing in 16 MiB, where one
  // bit per word would pass 3% in the same room.  `probes` 1: one bit,
  // (word * hash_multiplier) >> hash_shift.
  std::uint8_t probes;
  std::uint32_t bit_multiplier;
  // Nibble and bucket filters: 1 when no window has a byte of 0x80 or
  // above, which lets the block kernels skip a mask (see block_scan.h).
  std::uint8_t seven_bit_windows;
  // The bytes at depths below the reach of any trie path, one bit per
  // value.  After a byte that is none of them the walk stands at the root
  // (no path of at most reach bytes holds it), so a jump to the chunk's
  // last reach positions walks only those after the last such byte.
  std::uint64_t reach_bytes[4];
  // Nibble and bucket filters: bit b of byte_buckets[o][v] is set when a
  // window of bucket b has byte v at offset o.  A position passes when,
  // for some bucket, every offset's byte has the bucket's bit.  The nibble
  // tables above stand for the same buckets a nibble at a time, which lets
  // 16- and 32-lane kernels test a byte with two shuffles; they pass some
  // more bytes (a bucket's nibbles combine across its windows), so those
  // kernels confirm each position on these sets.  Every kernel of both
  // kinds passes exactly the same positions.
  alignas(64) std::uint8_t byte_buckets[BUCKET_WINDOW][256];
};
static_assert(sizeof(Prefilter) % 64 == 0, "the bitset after the header starts on a cache line");

[[nodiscard]] inline bool in_reach(const Prefilter &filter, std::uint8_t byte) noexcept {
  return ((filter.reach_bytes[byte >> 6] >> (byte & 63)) & 1) != 0;
}

[[nodiscard]] inline const std::uint64_t *bitset_of(const Prefilter &filter) noexcept {
  return reinterpret_cast<const std::uint64_t *>(&filter + 1);
}
[[nodiscard]] inline std::uint64_t *bitset_of(Prefilter &filter) noexcept {
  return reinterpret_cast<std::uint64_t *>(&filter + 1);
}
[[nodiscard]] inline const std::uint64_t *window_table_of(const Prefilter &filter) noexcept {
  return bitset_of(filter) + filter.bitset_words;
}
[[nodiscard]] inline std::uint64_t *window_table_of(Prefilter &filter) noexcept {
  return bitset_of(filter) + filter.bitset_words;
}

[[nodiscard]] inline const NodeIndex *landing_nodes_of(const Prefilter &filter) noexcept {
  return reinterpret_cast<const NodeIndex *>(window_table_of(filter) + filter.window_slots);
}
[[nodiscard]] inline NodeIndex *landing_nodes_of(Prefilter &filter) noexcept {
  return reinterpret_cast<NodeIndex *>(window_table_of(filter) + filter.window_slots);
}

inline constexpr unsigned TAIL_PREFIX = 3;
inline constexpr std::uint32_t TAIL_PREFIX_MULTIPLIER = 0x9E3779B1u;  // 2^32 / golden ratio, odd

inline constexpr std::uint64_t WINDOW_TABLE_MULTIPLIER = 0x9E3779B97F4A7C15u;  // 2^64 / golden ratio, odd
inline constexpr std::uint64_t WINDOW_PRESENT = std::uint64_t{1} << 63;

// Builds the filter from the completed automaton, or leaves the handle
// without one when it would not pay or its block cannot be obtained; never
// fails.  Expects no filter in place.
void build_prefilter(Masker &masker, CallerAddress caller) noexcept;

// Releases the filter, if any.
void drop_prefilter(Masker &masker, CallerAddress caller) noexcept;

// For a filter with landing_nodes: the node the trie path of the 7 text
// bytes at `window` ends at when they are a listed window, else 0.  At a
// candidate p that is listed, the byte-by-byte walk stands on exactly this
// node after byte p + 6, whatever came before p: a trie path that begins
// at a position that is not a candidate is at most 6 bytes long (its first
// 7 bytes are no window), so every path begun before p has ended by then,
// and no longer path than p's own ends there.  Nor does any match end at
// p .. p + 5: it would begin at a candidate before p, or be shorter than
// the 7 bytes every secret reaches.  So the walk may land there instead of
// re-walking r bytes and walking 7 more, each a likely cache miss in a
// large trie.
[[nodiscard]] NodeIndex landing_node(const Prefilter &filter, const std::uint8_t *window) noexcept;

// Kernel choice, made in one place (prefilter_dispatch.cpp).  The search of
// `kernel` for filters of `kind`, or null when this build or this CPU
// cannot run it.
[[nodiscard]] CandidateSearch prefilter_search(PrefilterKind kind, PrefilterKernel kernel) noexcept;
// The fastest kernel for `kind` that this CPU runs.
[[nodiscard]] PrefilterKernel best_prefilter_kernel(PrefilterKind kind) noexcept;
// For tests: makes `filter` search with `kernel`; false (and nothing
// changed) when that kernel cannot run here.
bool force_prefilter_kernel(Prefilter &filter, PrefilterKernel kernel) noexcept;

}  // namespace hush::core
