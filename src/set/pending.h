#pragma once
// The pending list: forms added since the last build, waiting for the next
// one.  One block of records, each a RecordHeader and then the form's bytes.
// While an add runs, its records may also stand for forms it leaves out
// (their diagnostics are given once the add has succeeded); once it has
// settled, only kept forms remain.

#include <cstdint>
#include <cstring>

namespace hush::set {

struct PendingForms {
  std::uint8_t *bytes;
  std::uint64_t used;
  std::uint64_t capacity;
  std::uint64_t count;  // kept forms
};

enum class RecordKind : std::uint32_t { form = 0, too_short = 1, blank_line = 2 };

struct RecordHeader {
  std::uint64_t len;   // the form's length; its bytes follow, but for a blank line
  std::uint64_t hash;  // of the bytes, to tell repeats apart quickly
  std::uint32_t form;  // HUSHSET_FORM_* bit, 0 for the secret itself
  RecordKind kind;
};
static_assert(sizeof(RecordHeader) == 24);

[[nodiscard]] inline RecordHeader header_at(const std::uint8_t *record) noexcept {
  RecordHeader header;
  std::memcpy(&header, record, sizeof(header));
  return header;
}

[[nodiscard]] inline std::uint64_t payload_of(const RecordHeader &header) noexcept {
  return header.kind == RecordKind::blank_line ? 0 : header.len;
}

[[nodiscard]] inline std::uint64_t record_len(const RecordHeader &header) noexcept {
  return sizeof(RecordHeader) + payload_of(header);
}

}  // namespace hush::set
