// Adding a secret: its forms are derived and appended to the pending list,
// which the next build compiles.
//
// An add is all or nothing.  Its records go to the end of the pending list
// as they are derived, and a failure cuts the list back to where it was.
// Forms left out (too short, blank lines) are recorded there too, so that
// their diagnostics are given once the add has succeeded, never twice for a
// retried add.  Then the list is compacted over them.

#include <cstring>

#include "alloc/size_math.h"
#include "alloc/wiping_allocator.h"
#include "automaton/node.h"
#include "set/forms.h"
#include "set/pending.h"
#include "set/set.h"

namespace hush::set {
namespace {

using core::Status;

std::uint64_t fnv1a(const std::uint8_t *bytes, std::uint64_t len) noexcept {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (std::uint64_t i = 0; i < len; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3u;
  return hash;
}

// Appends one record; the pending block grows by obtain, copy and release
// (the wiping allocator overwrites the old block).
Status append_record(const core::Allocator &allocator, PendingForms &pending, const RecordHeader &header,
                     const std::uint8_t *bytes) noexcept {
  const std::uint64_t payload = payload_of(header);
  const std::optional<std::uint64_t> length = core::checked_add(sizeof(RecordHeader), payload);
  const std::optional<std::uint64_t> needed = length ? core::checked_add(pending.used, *length) : std::nullopt;
  if (!needed) return Status::failed;
  if (*needed > pending.capacity) {
    const std::optional<std::uint64_t> doubled = core::checked_mul(*needed, 2);
    const std::uint64_t capacity = doubled ? *doubled : *needed;
    auto *block = static_cast<std::uint8_t *>(
        allocator.vtable->alloc(allocator.context, capacity, core::ALIGN_BYTES, HUSH_CALLER_ADDRESS()));
    if (block == nullptr) return Status::failed;
    if (pending.used != 0) std::memcpy(block, pending.bytes, pending.used);
    if (pending.capacity != 0) {
      allocator.vtable->free(allocator.context, pending.bytes, pending.capacity, core::ALIGN_BYTES,
                             HUSH_CALLER_ADDRESS());
    }
    pending.bytes = block;
    pending.capacity = capacity;
  }
  std::memcpy(pending.bytes + pending.used, &header, sizeof(header));
  // A blank line's record has no bytes, and is given none.
  if (bytes != nullptr && payload != 0) std::memcpy(pending.bytes + pending.used + sizeof(header), bytes, payload);
  pending.used = *needed;
  return Status::ok;
}

// Whether the automaton already has `bytes` as a form.
bool registered(const core::Masker *automaton, const std::uint8_t *bytes, std::uint64_t len) noexcept {
  if (automaton == nullptr) return false;
  core::NodeIndex node = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    node = core::find_edge(automaton->nodes[node], bytes[i]);
    if (node == 0) return false;
  }
  return automaton->nodes[node].pattern_id != 0;
}

// The forms of one secret on their way into the pending list.
struct AddSession {
  Set &set;
  std::uint64_t first_record;  // offset of this add's first record
  bool failed;                 // a blank line could not be recorded

  // Offsets (plus one; 0 is empty) of this add's records, one slot per
  // hash: a direct-mapped memory of what was recorded, so that telling a
  // repeat costs one comparison however many forms a secret has (a key
  // of thousands of lines has tens of thousands).  A repeat it misses is
  // recorded twice, which only costs room: the trie keeps one.
  static constexpr std::uint64_t RECENT_SLOTS = 512;
  std::uint64_t recent[RECENT_SLOTS];

  // Whether this add has recorded the same bytes, with the same verdict.
  bool recorded_before(const RecordHeader &header, const std::uint8_t *bytes) const noexcept {
    const std::uint64_t slot = recent[header.hash % RECENT_SLOTS];
    if (slot == 0) return false;
    const std::uint8_t *record = set.pending.bytes + (slot - 1);
    const RecordHeader seen = header_at(record);
    return seen.kind == header.kind && seen.len == header.len && seen.hash == header.hash &&
           std::memcmp(record + sizeof(RecordHeader), bytes, header.len) == 0;
  }

  Status take_form(std::uint32_t form, const std::uint8_t *bytes, std::uint64_t len) noexcept {
    const RecordKind kind = len < set.min_length ? RecordKind::too_short : RecordKind::form;
    const RecordHeader header{len, fnv1a(bytes, len), form, kind};
    if (recorded_before(header, bytes)) return Status::ok;
    if (kind == RecordKind::form && registered(set.automaton, bytes, len)) return Status::ok;
    const std::uint64_t at = set.pending.used;
    if (core::failed(append_record(set.allocator, set.pending, header, bytes))) return Status::failed;
    recent[header.hash % RECENT_SLOTS] = at + 1;
    return Status::ok;
  }

  void take_blank_line(std::uint64_t len) noexcept {
    const RecordHeader header{len, 0, HUSHSET_FORM_LINES, RecordKind::blank_line};
    if (core::failed(append_record(set.allocator, set.pending, header, nullptr))) failed = true;
  }
};

// Gives the diagnostics of this add's left-out records and closes the list
// over them.
void settle(AddSession &session) noexcept {
  Set &set = session.set;
  PendingForms &pending = set.pending;
  std::uint64_t kept_to = session.first_record;
  for (std::uint64_t at = session.first_record; at < pending.used;) {
    const RecordHeader header = header_at(pending.bytes + at);
    const std::uint64_t length = record_len(header);
    if (header.kind == RecordKind::form) {
      if (kept_to != at) std::memmove(pending.bytes + kept_to, pending.bytes + at, length);
      kept_to += length;
      ++pending.count;
    } else if (set.diagnostic != nullptr) {
      const std::int32_t code = header.kind == RecordKind::too_short ? HUSHSET_DIAG_TOO_SHORT : HUSHSET_DIAG_BLANK_LINE;
      set.diagnostic(set.diagnostic_context, code, header.form, header.len);
    }
    at += length;
  }
  core::wipe_bytes(pending.bytes + kept_to, pending.used - kept_to);
  pending.used = kept_to;
}

}  // namespace

Status add_secret(Set &set, const std::uint8_t *secret, std::uint64_t len) noexcept {
  if (len == 0) {
    if (set.diagnostic != nullptr) set.diagnostic(set.diagnostic_context, HUSHSET_DIAG_TOO_SHORT, 0, 0);
    return Status::ok;
  }
  AddSession session{set, set.pending.used, false, {}};
  const FormSink sink{
      &session,
      [](void *context, std::uint32_t form, const std::uint8_t *bytes, std::uint64_t form_len) noexcept {
        return static_cast<AddSession *>(context)->take_form(form, bytes, form_len);
      },
      [](void *context, std::uint64_t line_len) noexcept {
        static_cast<AddSession *>(context)->take_blank_line(line_len);
      }};
  if (failed(derive_forms(set.allocator, secret, len, set.forms, sink)) || session.failed) {
    core::wipe_bytes(set.pending.bytes + session.first_record, set.pending.used - session.first_record);
    set.pending.used = session.first_record;
    return Status::failed;
  }
  settle(session);
  return Status::ok;
}

}  // namespace hush::set
