// The exported shell: each function turns the public handle into the
// Masker record, captures its own return address for the allocator and
// delegates.  Nothing here throws; every failure is a status.

#include <cstdlib>
#include <cstring>

#include "api/masker.h"
#include "automaton/complete.h"
#include "automaton/insert.h"
#include "automaton/node_store.h"
#include "hushmask.h"
#include "mask/carry_over.h"
#include "mask/mask_pass.h"
#include "mask/prefilter/prefilter.h"

namespace {
// hush_new gives the array room for five records before the first growth.
constexpr std::uint64_t INITIAL_NODE_CAPACITY = 5;
}  // namespace

extern "C" {

HUSHMASK_API hush_masker *hush_new(void) noexcept {
  // The record and its first node array come straight from the C heap; the
  // array is later grown and released through the allocator at alignment
  // exponent 3, which the C heap binding serves with plain heap blocks.
  auto *masker = static_cast<hush::core::Masker *>(std::malloc(sizeof(hush::core::Masker)));
  if (masker == nullptr) return nullptr;
  auto *nodes = static_cast<hush::core::Node *>(std::malloc(INITIAL_NODE_CAPACITY * sizeof(hush::core::Node)));
  if (nodes == nullptr) {
    std::free(masker);
    return nullptr;
  }
  nodes[0] = hush::core::Node{};
  masker->allocator = hush::core::c_heap_allocator;
  masker->nodes = nodes;
  masker->node_count = 1;
  masker->node_capacity = INITIAL_NODE_CAPACITY;
  masker->pattern_count = 0;
  masker->last_node_id = 0;
  masker->last_match_end = -1;
  masker->last_match_len = 0;
  masker->run_len = 0;
  masker->reminder = nullptr;
  masker->reminder_len = 0;
  masker->state = 0;
  std::memset(masker->root_next, 0, sizeof(masker->root_next));
  masker->prefilter = nullptr;
  return hush::core::to_handle(masker);
}

HUSHMASK_API int32_t hush_insert(hush_masker *handle, const uint8_t *secret, uint64_t len) noexcept {
  hush::core::Masker &masker = *hush::core::to_masker(handle);
  const hush::core::CallerAddress caller = HUSH_CALLER_ADDRESS();
  // The filter describes the secrets of the last build; from here on the
  // walk uses the trie as it stands, without it.
  if (len != 0) hush::core::drop_prefilter(masker, caller);
  return static_cast<int32_t>(hush::core::insert_secret(masker, secret, len, caller));
}

HUSHMASK_API int32_t hush_build(hush_masker *handle) noexcept {
  hush::core::Masker &masker = *hush::core::to_masker(handle);
  const hush::core::CallerAddress caller = HUSH_CALLER_ADDRESS();
  hush::core::drop_prefilter(masker, caller);
  const hush::core::Status status = hush::core::complete_automaton(masker, caller);
  // Built from the completed automaton only; a handle without a filter
  // masks the same, so its absence is never a failure.
  if (!hush::core::failed(status)) hush::core::build_prefilter(masker, caller);
  return static_cast<int32_t>(status);
}

HUSHMASK_API int32_t hush_mask(hush_masker *handle, const uint8_t *text, uint64_t text_len, uint64_t max_stars,
                               uint8_t streaming, uint8_t **out, uint64_t *out_len) noexcept {
  return static_cast<int32_t>(hush::core::mask_text(*hush::core::to_masker(handle), text, text_len, max_stars,
                                                    streaming, out, out_len, HUSH_CALLER_ADDRESS()));
}

HUSHMASK_API void hush_free(uint8_t *buffer, uint64_t len) noexcept {
  // Output buffers are alignment-0 blocks, which the C heap binding serves
  // with plain malloc blocks; the length is only the host's receipt.
  if (buffer == nullptr || len == 0) return;
  std::free(buffer);
}

HUSHMASK_API const uint8_t *hush_get_reminder(const hush_masker *handle, uint64_t *len) noexcept {
  const hush::core::Masker &masker = *hush::core::to_masker(handle);
  if (masker.reminder == nullptr) {
    *len = 0;
    return nullptr;
  }
  *len = masker.reminder_len;
  return masker.reminder;
}

HUSHMASK_API void hush_reset_reminder(hush_masker *handle) noexcept {
  hush::core::drop_reminder(*hush::core::to_masker(handle), HUSH_CALLER_ADDRESS());
}

HUSHMASK_API void hush_destroy(hush_masker *handle) noexcept {
  if (handle == nullptr) return;
  hush::core::Masker &masker = *hush::core::to_masker(handle);
  const hush::core::CallerAddress caller = HUSH_CALLER_ADDRESS();
  hush::core::drop_reminder(masker, caller);
  hush::core::release_nodes(masker, caller);
  hush::core::drop_prefilter(masker, caller);
  std::free(&masker);
}

}  // extern "C"
