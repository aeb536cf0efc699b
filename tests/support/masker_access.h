#pragma once
// Test-side views of a handle's internals and small conveniences over the
// public calls, so tests read as tables.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/masker.h"
#include "hushmask.h"

namespace hush::core::testing {

using Bytes = std::string;

struct HandleDeleter {
  void operator()(hush_masker *masker) const noexcept { hush_destroy(masker); }
};
using Handle = std::unique_ptr<hush_masker, HandleDeleter>;

[[nodiscard]] Handle make_handle();
[[nodiscard]] inline Masker &internals(const Handle &handle) { return *to_masker(handle.get()); }

[[nodiscard]] std::int32_t insert(const Handle &handle, const Bytes &secret);
// Inserts every secret and builds; fails the test on a non-zero status.
[[nodiscard]] Handle make_built(const std::vector<Bytes> &secrets);

// The node a byte string leads to along trie edges, if any.
[[nodiscard]] std::optional<NodeIndex> node_of(const Masker &masker, const Bytes &path);

struct MaskCall {
  std::int32_t status;
  Bytes output;
};
// One hush_mask call whose output is copied and released.
[[nodiscard]] MaskCall mask(const Handle &handle, const Bytes &text, std::uint64_t max_stars, bool streaming);
[[nodiscard]] Bytes reminder_of(const Handle &handle);

// Streams `text` cut at `cuts` (ascending offsets), then appends the
// held-back bytes and drops them: what a host following the stream protocol
// ends up with.  Fails the test if a call fails.
[[nodiscard]] Bytes stream_through(const Handle &handle, const Bytes &text, const std::vector<std::size_t> &cuts,
                                   std::uint64_t max_stars, std::size_t *longest_reminder = nullptr);

inline Bytes bytes(std::initializer_list<int> values) {
  Bytes result;
  for (int value : values) result.push_back(static_cast<char>(value));
  return result;
}

}  // namespace hush::core::testing
