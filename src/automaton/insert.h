#pragma once
#include <cstdint>

#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"

namespace hush::core {

// Largest node index; a trie holds at most 2^32 nodes, root included.
inline constexpr std::uint64_t MAX_NODE_INDEX = 0xFFFFFFFFu;

// Walks the trie along `secret`, makes the missing nodes and marks the last
// one with the next secret number.  An empty secret changes nothing.  On
// failure the secret is not registered; nodes made so far stay as a path
// that ends at no secret, and a retry continues from it.
Status insert_secret(Masker &masker, const std::uint8_t *secret, std::uint64_t len, CallerAddress caller) noexcept;

}  // namespace hush::core
