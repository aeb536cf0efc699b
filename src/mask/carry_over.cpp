#include "mask/carry_over.h"

#include <cstring>

namespace hush::core {

WalkSnapshot take_walk_snapshot(const Masker &masker) noexcept {
  return {masker.state, masker.last_match_end, masker.last_match_len, masker.run_len};
}

void restore_walk(Masker &masker, const WalkSnapshot &snapshot) noexcept {
  masker.state = snapshot.state;
  masker.last_match_end = snapshot.last_match_end;
  masker.last_match_len = snapshot.last_match_len;
  masker.run_len = snapshot.run_len;
}

void drop_reminder(Masker &masker, CallerAddress caller) noexcept {
  if (masker.reminder == nullptr) return;
  if (masker.reminder_len != 0) {
    masker.allocator.vtable->free(masker.allocator.context, masker.reminder, masker.reminder_len, ALIGN_BYTES, caller);
  }
  masker.reminder = nullptr;
  masker.reminder_len = 0;
}

void reset_walk(Masker &masker, CallerAddress caller) noexcept {
  drop_reminder(masker, caller);
  masker.state = 0;
  masker.last_match_end = -1;
  masker.last_match_len = 0;
  masker.run_len = 0;
}

std::uint64_t carried_count(const Masker &masker) noexcept {
  return masker.reminder == nullptr ? 0 : masker.reminder_len;
}

std::uint64_t held_back_count(const Masker &masker, std::uint64_t produced) noexcept {
  const std::uint64_t depth = masker.nodes[masker.state].depth;
  return depth < produced ? depth : produced;
}

Status replace_reminder(Masker &masker, const std::uint8_t *output, std::uint64_t produced, std::uint64_t held,
                        CallerAddress caller) noexcept {
  std::uint8_t *block = nullptr;
  if (held != 0) {
    block = static_cast<std::uint8_t *>(
        masker.allocator.vtable->alloc(masker.allocator.context, held, ALIGN_BYTES, caller));
    if (block == nullptr) return Status::failed;
    std::memcpy(block, output + (produced - held), held);
  }
  drop_reminder(masker, caller);
  masker.reminder = block;
  masker.reminder_len = held;
  return Status::ok;
}

}  // namespace hush::core
