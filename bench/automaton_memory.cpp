#include "automaton_memory.h"

#include <algorithm>

#include "api/masker.h"
#include "automaton/node.h"
#include "mask/prefilter/prefilter.h"

namespace hush_bench {
namespace {

AllocationCount &counter_of(void *context) { return *static_cast<AllocationCount *>(context); }

void note_live(AllocationCount &count, std::uint64_t live) {
  count.live_bytes = live;
  count.peak_bytes = std::max(count.peak_bytes, live);
  ++count.calls;
}

void *counted_alloc(void *context, std::uint64_t len, std::uint8_t align_exp, hush::core::CallerAddress caller) {
  void *block = hush::core::c_heap_allocator.vtable->alloc(nullptr, len, align_exp, caller);
  AllocationCount &count = counter_of(context);
  if (block != nullptr) note_live(count, count.live_bytes + len);
  return block;
}

bool counted_resize(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                    hush::core::CallerAddress caller) {
  const bool resized = hush::core::c_heap_allocator.vtable->resize(nullptr, block, old_len, align_exp, new_len, caller);
  AllocationCount &count = counter_of(context);
  if (resized) note_live(count, count.live_bytes - old_len + new_len);
  return resized;
}

void *counted_remap(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                    hush::core::CallerAddress caller) {
  void *moved = hush::core::c_heap_allocator.vtable->remap(nullptr, block, old_len, align_exp, new_len, caller);
  AllocationCount &count = counter_of(context);
  if (moved != nullptr) note_live(count, count.live_bytes - old_len + new_len);
  return moved;
}

void counted_free(void *context, void *block, std::uint64_t len, std::uint8_t align_exp,
                  hush::core::CallerAddress caller) {
  hush::core::c_heap_allocator.vtable->free(nullptr, block, len, align_exp, caller);
  AllocationCount &count = counter_of(context);
  note_live(count, count.live_bytes - len);
}

constexpr hush::core::AllocatorVTable COUNTING_VTABLE{counted_alloc, counted_resize, counted_remap, counted_free};

}  // namespace

AutomatonWalk walk_automaton(const hush_masker *handle) {
  const hush::core::Masker &masker = *hush::core::to_masker(handle);
  AutomatonWalk walk{masker.node_count,
                     masker.node_capacity * sizeof(hush::core::Node),
                     0,
                     0,
                     0,
                     masker.prefilter != nullptr ? masker.prefilter->block_len : 0};
  for (std::uint64_t index = 0; index < masker.node_count; ++index) {
    switch (masker.nodes[index].edge_kind & 3) {
      case hush::core::EDGE_LIST: ++walk.edge_lists; break;
      case hush::core::EDGE_TABLE: ++walk.edge_tables; break;
      default: break;
    }
  }
  walk.edge_set_bytes =
      walk.edge_lists * sizeof(hush::core::EdgeList) + walk.edge_tables * sizeof(hush::core::EdgeTable);
  return walk;
}

void install_counting_allocator(hush_masker *handle, AllocationCount &count) {
  hush::core::Masker &masker = *hush::core::to_masker(handle);
  count = {masker.node_capacity * sizeof(hush::core::Node), masker.node_capacity * sizeof(hush::core::Node), 0};
  masker.allocator = hush::core::Allocator{&count, &COUNTING_VTABLE};
}

hush::core::Allocator counting_allocator(AllocationCount &count) {
  count = {};
  return hush::core::Allocator{&count, &COUNTING_VTABLE};
}

}  // namespace hush_bench
