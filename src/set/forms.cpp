#include "set/forms.h"

#include <cstring>

#include "alloc/size_math.h"
#include "hushset.h"
#include "set/form_encoders.h"

namespace hush::set {

namespace {

struct Encoder {
  std::uint32_t form;
  std::uint32_t styles;
  EncodeStyle encode;
};

// In the order their forms are passed.
constexpr Encoder ENCODERS[] = {
    {HUSHSET_FORM_BASE64, BASE64_STYLES, encode_base64}, {HUSHSET_FORM_BASE64URL, BASE64_STYLES, encode_base64url},
    {HUSHSET_FORM_URL, URL_STYLES, encode_url},          {HUSHSET_FORM_JSON, JSON_STYLES, encode_json},
    {HUSHSET_FORM_XML, MARKUP_STYLES, encode_markup},    {HUSHSET_FORM_SHELL, SHELL_STYLES, encode_shell},
};

struct Derivation {
  const FormSink &sink;
  std::uint32_t forms;
  // Room for MAX_ENCODED_PER_BYTE times the longest plain value; reused by
  // every style, since the sink copies what it keeps.
  std::uint8_t *encoded;
};

constexpr bool is_line_end(std::uint8_t byte) noexcept { return byte == '\n' || byte == '\r'; }

// ASCII whitespace that can stand inside a line (CR and LF end it).
constexpr bool is_blank(std::uint8_t byte) noexcept {
  return byte == ' ' || byte == '\t' || byte == '\v' || byte == '\f';
}

// Passes one plain value (the secret, one of its lines, the value with its
// line ends rewritten) as `form`, then every enabled encoding of it.
core::Status pass_plain(const Derivation &derivation, std::uint32_t form, const std::uint8_t *bytes,
                        std::uint64_t len) noexcept {
  const FormSink &sink = derivation.sink;
  if (core::failed(sink.form(sink.context, form, bytes, len))) return core::Status::failed;
  for (const Encoder &encoder : ENCODERS) {
    if ((derivation.forms & encoder.form) == 0) continue;
    for (std::uint32_t style = 0; style < encoder.styles; ++style) {
      const std::uint64_t encoded_len = encoder.encode(style, bytes, len, derivation.encoded);
      if (encoded_len == 0) continue;
      if (core::failed(sink.form(sink.context, encoder.form, derivation.encoded, encoded_len))) {
        return core::Status::failed;
      }
    }
  }
  return core::Status::ok;
}

// One line, and the line trimmed when trimming changes it.  A line of
// whitespace only is left out and reported; an empty one (between two line
// ends, or after a final line end as most secret files have) is left out
// silently: it held nothing that could have been meant as part of the secret.
core::Status pass_line(const Derivation &derivation, const std::uint8_t *line, std::uint64_t len) noexcept {
  if (len == 0) return core::Status::ok;
  std::uint64_t first = 0;
  while (first < len && is_blank(line[first])) ++first;
  if (first == len) {
    if (derivation.sink.blank_line != nullptr) derivation.sink.blank_line(derivation.sink.context, len);
    return core::Status::ok;
  }
  std::uint64_t end = len;
  while (is_blank(line[end - 1])) --end;  // stops at line[first] at the latest
  if (core::failed(pass_plain(derivation, HUSHSET_FORM_LINES, line, len))) return core::Status::failed;
  if (first == 0 && end == len) return core::Status::ok;
  return pass_plain(derivation, HUSHSET_FORM_LINES, line + first, end - first);
}

// Lines end at CRLF, LF or a lone CR.
core::Status pass_lines(const Derivation &derivation, const std::uint8_t *secret, std::uint64_t len) noexcept {
  std::uint64_t start = 0;
  for (;;) {
    std::uint64_t end = start;
    while (end < len && !is_line_end(secret[end])) ++end;
    if (core::failed(pass_line(derivation, secret + start, end - start))) return core::Status::failed;
    if (end == len) return core::Status::ok;
    start = end + 1;
    if (secret[end] == '\r' && start < len && secret[start] == '\n') ++start;
  }
}

// The value with every line end written as LF, or as CRLF, into `out`
// (room for twice the value); returns its length.
std::uint64_t rewrite_line_ends(const std::uint8_t *secret, std::uint64_t len, bool crlf, std::uint8_t *out) noexcept {
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    if (!is_line_end(secret[i])) {
      out[written++] = secret[i];
      continue;
    }
    if (secret[i] == '\r' && i + 1 < len && secret[i + 1] == '\n') ++i;
    if (crlf) out[written++] = '\r';
    out[written++] = '\n';
  }
  return written;
}

core::Status pass_rewrites(const Derivation &derivation, const std::uint8_t *secret, std::uint64_t len,
                           std::uint8_t *rewritten) noexcept {
  for (const bool crlf : {false, true}) {
    const std::uint64_t rewritten_len = rewrite_line_ends(secret, len, crlf, rewritten);
    // A value whose line ends are all of that kind already went out first.
    if (rewritten_len == len && std::memcmp(rewritten, secret, len) == 0) continue;
    if (core::failed(pass_plain(derivation, HUSHSET_FORM_LINES, rewritten, rewritten_len))) {
      return core::Status::failed;
    }
  }
  return core::Status::ok;
}

}  // namespace

core::Status derive_forms(const core::Allocator &allocator, const std::uint8_t *secret, std::uint64_t len,
                          std::uint32_t forms, const FormSink &sink) noexcept {
  if (len == 0) return core::Status::ok;
  bool multi_line = false;
  if ((forms & HUSHSET_FORM_LINES) != 0) {
    for (std::uint64_t i = 0; i < len && !multi_line; ++i) multi_line = is_line_end(secret[i]);
  }
  bool encoded = false;
  for (const Encoder &encoder : ENCODERS) encoded = encoded || (forms & encoder.form) != 0;

  // One block: the rewritten value (at most twice the secret, when every
  // line end is a lone LF or CR that becomes CRLF), then the encoding area
  // for the longest plain value, which that rewrite is.
  std::uint64_t rewrite_cap = 0;
  std::uint64_t longest = len;
  if (multi_line) {
    const auto doubled = core::checked_mul(len, 2);
    if (!doubled) return core::Status::failed;
    rewrite_cap = *doubled;
    longest = *doubled;
  }
  std::uint64_t encode_cap = 0;
  if (encoded) {
    const auto cap = core::checked_mul(longest, MAX_ENCODED_PER_BYTE);
    if (!cap) return core::Status::failed;
    encode_cap = *cap;
  }
  const auto block_len = core::checked_add(rewrite_cap, encode_cap);
  if (!block_len) return core::Status::failed;

  std::uint8_t *block = nullptr;
  if (*block_len != 0) {
    block = static_cast<std::uint8_t *>(
        allocator.vtable->alloc(allocator.context, *block_len, core::ALIGN_BYTES, HUSH_CALLER_ADDRESS()));
    if (block == nullptr) return core::Status::failed;
  }
  const Derivation derivation{sink, forms, block + rewrite_cap};
  core::Status status = pass_plain(derivation, 0, secret, len);
  if (!core::failed(status) && multi_line) status = pass_lines(derivation, secret, len);
  if (!core::failed(status) && multi_line) status = pass_rewrites(derivation, secret, len, block);
  // The allocator is the set's wiping one: the copies of the secret in the
  // block do not outlive the call.
  if (block != nullptr) {
    allocator.vtable->free(allocator.context, block, *block_len, core::ALIGN_BYTES, HUSH_CALLER_ADDRESS());
  }
  return status;
}

}  // namespace hush::set
