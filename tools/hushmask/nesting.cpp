#include "nesting.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace hushcli {
namespace {

// Polynomial hash of a byte string, mod 2^64.  Bytes count from 1 so that
// strings of zero bytes of different lengths differ.  Collisions only cost a
// byte comparison: every hit is checked against the bytes themselves.
constexpr std::uint64_t HASH_BASE = 0x100000001b3u;

std::uint64_t byte_value(char c) { return std::uint64_t{static_cast<unsigned char>(c)} + 1; }

std::uint64_t hash_bytes(std::string_view bytes) {
  std::uint64_t hash = 0;
  for (char c : bytes) hash = hash * HASH_BASE + byte_value(c);
  return hash;
}

// The strings of one length, by hash, behind a bitmap of hash bits that turns
// most windows away with one load.  The bitmap has at least 64 bits per
// string, so about one window in 64 reaches the map.
struct LengthGroup {
  std::size_t length = 0;
  std::uint64_t top_power = 1;  // HASH_BASE^length: the weight of the bytes before a window
  std::unordered_multimap<std::uint64_t, std::size_t> by_hash;
  std::vector<std::uint64_t> bitmap;
  unsigned bitmap_shift = 0;  // 64 - log2(bits in the bitmap)
};

std::size_t bitmap_slot(const LengthGroup &group, std::uint64_t hash) {
  // Mixing first: the low bits of a polynomial hash depend on few bytes.
  return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15u) >> group.bitmap_shift);
}

bool bitmap_has(const LengthGroup &group, std::uint64_t hash) {
  const std::size_t slot = bitmap_slot(group, hash);
  return (group.bitmap[slot / 64] >> (slot % 64)) & 1u;
}

LengthGroup make_group(std::span<const std::string_view> strings, std::span<const std::size_t> members) {
  LengthGroup group;
  group.length = strings[members.front()].size();
  for (std::size_t i = 0; i < group.length; ++i) group.top_power *= HASH_BASE;
  unsigned log_bits = 12;
  while (log_bits < 40 && (std::uint64_t{1} << log_bits) < 64 * std::uint64_t{members.size()}) ++log_bits;
  group.bitmap.assign(std::size_t{1} << (log_bits - 6), 0);
  group.bitmap_shift = 64 - log_bits;
  for (std::size_t index : members) {
    const std::uint64_t hash = hash_bytes(strings[index]);
    group.by_hash.emplace(hash, index);
    const std::size_t slot = bitmap_slot(group, hash);
    group.bitmap[slot / 64] |= std::uint64_t{1} << (slot % 64);
  }
  return group;
}

// Visits every member of `group` found in `outer` at an offset > 0.
// prefix[i] is the hash of the first i bytes of the outer string, so the
// window at `start` hashes to prefix[start + L] - prefix[start] * BASE^L.
void scan_windows(std::span<const std::string_view> strings, const LengthGroup &group, std::size_t outer,
                  std::span<const std::uint64_t> prefix,
                  const std::function<void(std::size_t, std::size_t)> &visit) {
  const std::string_view text = strings[outer];
  for (std::size_t start = 1; start + group.length <= text.size(); ++start) {
    const std::uint64_t hash = prefix[start + group.length] - prefix[start] * group.top_power;
    if (!bitmap_has(group, hash)) continue;
    const auto [first, last] = group.by_hash.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      if (strings[it->second] == text.substr(start, group.length)) visit(it->second, outer);
    }
  }
}

}  // namespace

bool visit_nested_pairs(std::span<const std::string_view> strings, std::uint64_t budget,
                        const std::function<void(std::size_t inner, std::size_t outer)> &visit) {
  std::vector<std::size_t> by_length(strings.size());
  std::iota(by_length.begin(), by_length.end(), std::size_t{0});
  std::stable_sort(by_length.begin(), by_length.end(),
                   [&](std::size_t a, std::size_t b) { return strings[a].size() > strings[b].size(); });

  // Counted before anything is built, so that an oversized set is refused
  // whole: every string is scanned once for each distinct shorter length.
  std::uint64_t work = 0;
  std::uint64_t longer_bytes = 0;  // bytes of the strings before the current length
  for (std::size_t i = 0; i < by_length.size(); ++i) {
    const std::size_t length = strings[by_length[i]].size();
    if (i > 0 && strings[by_length[i - 1]].size() != length) {
      work += longer_bytes;
      if (work > budget) return false;
    }
    longer_bytes += length;
  }

  // One group per distinct non-zero length, longest first.
  std::vector<LengthGroup> groups;
  for (std::size_t start = 0; start < by_length.size();) {
    std::size_t end = start;
    while (end < by_length.size() && strings[by_length[end]].size() == strings[by_length[start]].size()) ++end;
    if (strings[by_length[start]].empty()) break;
    groups.push_back(make_group(strings, std::span<const std::size_t>(by_length.data() + start, end - start)));
    start = end;
  }

  // Outer strings longest first, so that every pair with a given outer
  // string comes after the pairs in which it is the inner one.  Each outer
  // string stays in cache while every shorter length is looked up in it; the
  // other loop order (a length, then every longer string) ran about four
  // times slower on sets of tens of thousands of strings.
  std::vector<std::uint64_t> prefix;
  std::size_t first_shorter = 0;  // index of the first group shorter than the current outer string
  for (std::size_t outer : by_length) {
    const std::string_view text = strings[outer];
    while (first_shorter < groups.size() && groups[first_shorter].length >= text.size()) ++first_shorter;
    if (first_shorter == groups.size()) break;  // this and every later string is the shortest
    prefix.assign(text.size() + 1, 0);
    for (std::size_t i = 0; i < text.size(); ++i) prefix[i + 1] = prefix[i] * HASH_BASE + byte_value(text[i]);
    for (std::size_t g = first_shorter; g < groups.size(); ++g) scan_windows(strings, groups[g], outer, prefix, visit);
  }
  return true;
}

}  // namespace hushcli
