#pragma once
#include <cstdint>

#include "alloc/allocator.h"
#include "alloc/status.h"
#include "api/masker.h"

namespace hush::core {

// One masking call: walks `text` through the automaton, writes the chunk
// (after any carried bytes) into a new working buffer with every run of
// matched bytes shown as at most `max_stars` stars, and hands out the final
// part of it.  Only bit 0 of `streaming` is read.  On failure neither out
// parameter is written and a streaming call leaves the handle unchanged.
Status mask_text(Masker &masker, const std::uint8_t *text, std::uint64_t text_len, std::uint64_t max_stars,
                 std::uint8_t streaming, std::uint8_t **out, std::uint64_t *out_len, CallerAddress caller) noexcept;

}  // namespace hush::core
