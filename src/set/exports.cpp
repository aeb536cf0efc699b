// The exported shell of the set layer: argument checks, then the set's own
// routines.  Nothing here throws; every failure is a status.

#include "alloc/allocator.h"
#include "hushset.h"
#include "set/set.h"

namespace {

using hush::set::to_set;
using hush::set::to_stream;

std::int32_t status_of(hush::core::Status status) noexcept {
  return hush::core::failed(status) ? HUSHSET_NOMEM : HUSHSET_OK;
}

}  // namespace

extern "C" {

HUSHSET_API void hushset_options_init(hushset_options *options) noexcept {
  if (options == nullptr) return;
  *options = hushset_options{};
  options->size = sizeof(hushset_options);
  options->forms = HUSHSET_FORMS_DEFAULT;
  options->max_stars = 3;
  options->min_length = 4;
}

HUSHSET_API hushset *hushset_new(const hushset_options *options) noexcept {
  hushset_options defaults;
  if (options == nullptr) {
    hushset_options_init(&defaults);
    options = &defaults;
  }
  return reinterpret_cast<hushset *>(hush::set::create_set(*options, hush::core::c_heap_allocator));
}

HUSHSET_API int32_t hushset_add(hushset *set, const uint8_t *secret, uint64_t len) noexcept {
  if (set == nullptr || (secret == nullptr && len != 0)) return HUSHSET_INVALID;
  return status_of(hush::set::add_secret(*to_set(set), secret, len));
}

HUSHSET_API int32_t hushset_build(hushset *set) noexcept {
  if (set == nullptr) return HUSHSET_INVALID;
  return status_of(hush::set::build_set(*to_set(set)));
}

HUSHSET_API uint64_t hushset_hold_limit(const hushset *set) noexcept {
  return set == nullptr ? 0 : to_set(set)->hold_limit;
}

HUSHSET_API int32_t hushset_mask(const hushset *set, const uint8_t *text, uint64_t len, uint8_t *out, uint64_t out_cap,
                                 uint64_t *out_len) noexcept {
  if (set == nullptr) return HUSHSET_INVALID;
  return hush::set::mask_whole(*to_set(set), text, len, out, out_cap, out_len);
}

HUSHSET_API hushset_stream *hushset_stream_new(const hushset *set) noexcept {
  if (set == nullptr) return nullptr;
  return reinterpret_cast<hushset_stream *>(hush::set::create_stream(*to_set(set)));
}

HUSHSET_API int32_t hushset_write(hushset_stream *stream, const uint8_t *text, uint64_t len, uint8_t *out,
                                  uint64_t out_cap, uint64_t *out_len) noexcept {
  if (stream == nullptr) return HUSHSET_INVALID;
  return hush::set::write_stream(*to_stream(stream), text, len, out, out_cap, out_len);
}

HUSHSET_API int32_t hushset_finish(hushset_stream *stream, uint8_t *out, uint64_t out_cap, uint64_t *out_len) noexcept {
  if (stream == nullptr) return HUSHSET_INVALID;
  return hush::set::finish_stream(*to_stream(stream), out, out_cap, out_len);
}

HUSHSET_API void hushset_stream_report(hushset_stream *stream,
                                       void (*run)(void *context, uint64_t start, uint64_t span),
                                       void *context) noexcept {
  if (stream == nullptr) return;
  to_stream(stream)->report = run;
  to_stream(stream)->report_context = context;
}

HUSHSET_API void hushset_stream_destroy(hushset_stream *stream) noexcept {
  if (stream != nullptr) hush::set::destroy_stream(to_stream(stream));
}

HUSHSET_API void hushset_destroy(hushset *set) noexcept {
  if (set != nullptr) hush::set::destroy_set(to_set(set));
}

}  // extern "C"
