#pragma once
// Derived forms: the byte strings a secret turns into when a program prints
// it through an encoder (base64 blobs, URLs, JSON strings, XML and HTML
// text, shell traces) or line by line.  A set registers each of them beside
// the secret, so that the secret is masked in whichever form it shows up.
//
// Pure byte transformations: no automaton, no masking.  Working memory comes
// from the allocator the caller passes (the set's wiping allocator, so that
// scratch copies of a secret never outlive the call).

#include <cstdint>

#include "alloc/allocator.h"
#include "alloc/status.h"

namespace hush::set {

// Receives the forms of one secret, one call each, in a fixed order.  `form`
// is the HUSHSET_FORM_* bit of the encoder that made the string
// (HUSHSET_FORM_LINES for a line, or for the whole value with its line ends
// rewritten), 0 for the secret itself.  The bytes are lent for the duration
// of the call.  The same bytes may arrive more than once (a secret with
// nothing to escape is its own JSON form); empty strings never arrive.  A
// failed `form` call stops the derivation, whose status it becomes.
struct FormSink {
  void *context;
  core::Status (*form)(void *context, std::uint32_t form, const std::uint8_t *bytes, std::uint64_t len) noexcept;
  // A whitespace-only line of a multi-line secret was left out; `len` is its
  // length in bytes.
  void (*blank_line)(void *context, std::uint64_t len) noexcept;
};

// Passes `secret` itself and every derived form of it that `forms` (bits of
// HUSHSET_FORM_*) enables to `sink`.  Every block obtained from `allocator`
// is released before the call returns, on every path.  Returns the first
// failure of the allocator or of the sink, else ok.
[[nodiscard]] core::Status derive_forms(const core::Allocator &allocator, const std::uint8_t *secret, std::uint64_t len,
                                        std::uint32_t forms, const FormSink &sink) noexcept;

}  // namespace hush::set
