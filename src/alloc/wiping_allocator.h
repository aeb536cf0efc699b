#pragma once
// An allocator for blocks that hold secret bytes.  It serves blocks from an
// inner allocator and overwrites every block, over the whole length it was
// obtained with, before giving it back.  It never moves a block in place of
// its owner: `remap` always refuses, so growth goes through alloc, copy and
// free, and the old block is wiped on its way out like any other (realloc
// would leave the old copy behind unwiped).

#include <cstdint>

#include "alloc/allocator.h"

namespace hush::core {

// Overwrites `len` bytes at `block` with zeros in a way the compiler may not
// drop, even though the block is about to be released.
void wipe_bytes(void *block, std::uint64_t len) noexcept;

// The wiping allocator over `*inner`, which must outlive every block.
[[nodiscard]] Allocator wiping_allocator(const Allocator *inner) noexcept;

}  // namespace hush::core
