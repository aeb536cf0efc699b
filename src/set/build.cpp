// Creating, building and releasing a set.
//
// A build never touches the automaton in use.  It copies that automaton's
// trie (same nodes at the same indices), inserts the pending forms into the
// copy, completes it, and only then puts it in place of the old one.  So a
// failed build leaves the set masking as before, and a stream that stands
// at some node of the old trie stands at the node of the same string in the
// new one: it goes on at its next write with nothing to translate.  (A
// stream so moved may miss an occurrence of a new form that began before
// the build; every occurrence that begins after it is found.)

#include <cstring>

#include "alloc/huge_pages.h"
#include "alloc/size_math.h"
#include "alloc/wiping_allocator.h"
#include "automaton/complete.h"
#include "automaton/insert.h"
#include "automaton/node_store.h"
#include "mask/prefilter/prefilter.h"
#include "set/set.h"

namespace hush::set {
namespace {

using core::Masker;
using core::Status;

// A record made by the array of a fresh trie: the root alone.
constexpr std::uint64_t FIRST_NODE_CAPACITY = 5;

void release_automaton(Masker *automaton, core::CallerAddress caller) noexcept {
  if (automaton == nullptr) return;
  const core::Allocator allocator = automaton->allocator;
  core::drop_prefilter(*automaton, caller);
  core::release_nodes(*automaton, caller);
  allocator.vtable->free(allocator.context, automaton, sizeof(Masker), core::ALIGN_ARRAY, caller);
}

// A Masker record holding a copy of `from`'s trie, or a trie of the root
// alone when there is none; walk fields at their start.
Masker *start_automaton(const core::Allocator &allocator, const Masker *from, core::CallerAddress caller) noexcept {
  auto *automaton =
      static_cast<Masker *>(allocator.vtable->alloc(allocator.context, sizeof(Masker), core::ALIGN_ARRAY, caller));
  if (automaton == nullptr) return nullptr;
  std::memset(static_cast<void *>(automaton), 0, sizeof(Masker));
  automaton->allocator = allocator;
  automaton->last_match_end = -1;
  if (from != nullptr) {
    if (core::failed(core::copy_trie(*from, *automaton, caller))) {
      allocator.vtable->free(allocator.context, automaton, sizeof(Masker), core::ALIGN_ARRAY, caller);
      return nullptr;
    }
    return automaton;
  }
  auto *nodes = static_cast<core::Node *>(
      allocator.vtable->alloc(allocator.context, FIRST_NODE_CAPACITY * sizeof(core::Node), core::ALIGN_ARRAY, caller));
  if (nodes == nullptr) {
    allocator.vtable->free(allocator.context, automaton, sizeof(Masker), core::ALIGN_ARRAY, caller);
    return nullptr;
  }
  nodes[0] = core::Node{};
  automaton->nodes = nodes;
  automaton->node_count = 1;
  automaton->node_capacity = FIRST_NODE_CAPACITY;
  return automaton;
}

// Calls `visit(bytes, len)` for every pending form (only kept forms remain
// once an add has settled).
template <typename Visit>
Status for_each_pending(const PendingForms &pending, Visit visit) noexcept {
  for (std::uint64_t at = 0; at < pending.used;) {
    const RecordHeader header = header_at(pending.bytes + at);
    if (failed(visit(pending.bytes + at + sizeof(RecordHeader), header.len))) return Status::failed;
    at += record_len(header);
  }
  return Status::ok;
}

// Room in the node array for every pending form's bytes as new nodes, the
// most they can add, in huge pages where the system gives them.  Grown 1.5
// times at a time instead, the array was copied and faulted in afresh
// about twice over (the set's allocator never remaps, so that no copy is
// left unwiped): 41% of the command's start-up with default forms at
// 10,000 secrets.  Forms that share their first bytes leave records
// unused, which are never touched before the wipe at release.  Best
// effort: when the room cannot be had, the inserts grow the array as they
// go.
void reserve_pending_nodes(Masker &automaton, const PendingForms &pending) noexcept {
  std::uint64_t bytes = 0;
  static_cast<void>(for_each_pending(pending, [&](const std::uint8_t *, std::uint64_t len) {
    bytes += len;
    return Status::ok;
  }));
  const std::optional<std::uint64_t> wanted = core::checked_add(automaton.node_count, bytes);
  if (!wanted || failed(core::grow_nodes(automaton, *wanted))) return;
  core::advise_huge_pages(automaton.nodes, automaton.node_capacity * sizeof(core::Node));
}

}  // namespace

Set *create_set(const hushset_options &options, const core::Allocator &inner) noexcept {
  if (options.size != sizeof(hushset_options) || (options.forms & ~HUSHSET_FORMS_ALL) != 0) return nullptr;
  // The record itself comes from the inner allocator: the wiping one keeps a
  // pointer into it.
  auto *set =
      static_cast<Set *>(inner.vtable->alloc(inner.context, sizeof(Set), core::ALIGN_ARRAY, HUSH_CALLER_ADDRESS()));
  if (set == nullptr) return nullptr;
  *set = Set{};
  set->inner = inner;
  set->allocator = core::wiping_allocator(&set->inner);
  set->forms = options.forms;
  set->max_stars = options.max_stars;
  set->min_length = options.min_length;
  set->diagnostic = options.diagnostic;
  set->diagnostic_context = options.context;
  return set;
}

void destroy_set(Set *set) noexcept {
  const core::CallerAddress caller = HUSH_CALLER_ADDRESS();
  release_automaton(set->automaton, caller);
  if (set->pending.capacity != 0) {
    set->allocator.vtable->free(set->allocator.context, set->pending.bytes, set->pending.capacity, core::ALIGN_BYTES,
                                caller);
  }
  // The record holds no secret bytes, but goes out wiped like every block of
  // the set, so that no block a set ever had is left with its contents.
  const core::Allocator inner = set->inner;
  core::wipe_bytes(set, sizeof(Set));
  inner.vtable->free(inner.context, set, sizeof(Set), core::ALIGN_ARRAY, caller);
}

Status build_set(Set &set) noexcept {
  if (set.automaton != nullptr && set.pending.count == 0) return Status::ok;
  const core::CallerAddress caller = HUSH_CALLER_ADDRESS();
  Masker *automaton = start_automaton(set.allocator, set.automaton, caller);
  if (automaton == nullptr) return Status::failed;

  reserve_pending_nodes(*automaton, set.pending);
  std::uint64_t hold_limit = set.hold_limit;
  std::uint64_t shortest = set.shortest;
  const Status inserted = for_each_pending(set.pending, [&](const std::uint8_t *bytes, std::uint64_t len) {
    if (len > hold_limit) hold_limit = len;
    if (shortest == 0 || len < shortest) shortest = len;
    return core::insert_secret(*automaton, bytes, len, caller);
  });
  if (failed(inserted) || failed(core::complete_automaton(*automaton, caller, automaton->node_count))) {
    release_automaton(automaton, caller);
    return Status::failed;
  }
  // A set without a filter masks the same, only slower.  Large sets read
  // theirs at random, as they do the node array.
  core::build_prefilter(*automaton, caller);
  if (automaton->prefilter != nullptr) core::advise_huge_pages(automaton->prefilter, automaton->prefilter->block_len);

  release_automaton(set.automaton, caller);
  set.automaton = automaton;
  set.hold_limit = hold_limit;
  set.shortest = shortest;
  // The forms live on in the trie; the list's copy goes.
  if (set.pending.capacity != 0) {
    set.allocator.vtable->free(set.allocator.context, set.pending.bytes, set.pending.capacity, core::ALIGN_BYTES,
                               caller);
  }
  set.pending = PendingForms{};
  return Status::ok;
}

}  // namespace hush::set
