// Streams over a set and whole-text masking: the shared walk with the
// every-occurrence rule, writing into the caller's buffer.
//
// A write needs all of its memory before it walks a byte: the run stack is
// sized to its bound and the held-back buffer to what the write can leave
// behind, so that a failure changes nothing and once the walk has begun
// nothing can fail.

#include <cstring>

#include "alloc/size_math.h"
#include "alloc/wiping_allocator.h"
#include "set/run_stack.h"
#include "set/set.h"

namespace hush::set {
namespace {

using core::Allocator;
using core::Status;

const core::Masker &automaton_of(const Set &set) noexcept { return *set.automaton; }

void release(const Allocator &allocator, void *block, std::uint64_t len, std::uint8_t align_exp) noexcept {
  if (block != nullptr && len != 0) {
    allocator.vtable->free(allocator.context, block, len, align_exp, HUSH_CALLER_ADDRESS());
  }
}

void *obtain(const Allocator &allocator, std::uint64_t len, std::uint8_t align_exp) noexcept {
  return allocator.vtable->alloc(allocator.context, len, align_exp, HUSH_CALLER_ADDRESS());
}

// Gives the stack room for `wanted` entries, keeping the live ones.
Status reserve_runs(const Allocator &allocator, RunStack &runs, std::uint64_t wanted) noexcept {
  if (runs.capacity >= wanted) return Status::ok;
  const std::optional<std::uint64_t> bytes = core::checked_mul(wanted, sizeof(RunSpan));
  if (!bytes) return Status::failed;
  auto *entries = static_cast<RunSpan *>(obtain(allocator, *bytes, core::ALIGN_ARRAY));
  if (entries == nullptr) return Status::failed;
  const std::uint64_t live = runs.end - runs.first;
  if (live != 0) std::memcpy(entries, runs.entries + runs.first, live * sizeof(RunSpan));
  release(allocator, runs.entries, runs.capacity * sizeof(RunSpan), core::ALIGN_ARRAY);
  runs = RunStack{entries, 0, live, wanted};
  return Status::ok;
}

std::uint64_t runs_needed(const Set &set) noexcept { return run_stack_bound(set.hold_limit, set.shortest); }

// Moves the held-back bytes into a block of `capacity` bytes, at its start.
Status regrow_held(const Allocator &allocator, Stream &stream, std::uint64_t capacity) noexcept {
  auto *block = static_cast<std::uint8_t *>(obtain(allocator, capacity, core::ALIGN_BYTES));
  if (block == nullptr) return Status::failed;
  if (stream.held_len != 0) std::memcpy(block, stream.held + stream.held_begin, stream.held_len);
  release(allocator, stream.held, stream.held_capacity, core::ALIGN_BYTES);
  stream.held = block;
  stream.held_capacity = capacity;
  stream.held_begin = 0;
  return Status::ok;
}

// Room for `appended` bytes after the held-back ones.  The block is
// compacted only when more than half of it is spent, which the bytes handed
// out since the last compaction pay for, and otherwise grows to twice what
// is needed: a long hold costs amortised constant time per byte.
Status reserve_behind_held(const Allocator &allocator, Stream &stream, std::uint64_t appended) noexcept {
  const std::optional<std::uint64_t> needed = core::checked_add(stream.held_len, appended);
  if (!needed) return Status::failed;
  if (stream.held_begin + *needed <= stream.held_capacity) return Status::ok;
  if (*needed <= stream.held_capacity / 2) {
    std::memmove(stream.held, stream.held + stream.held_begin, stream.held_len);
    stream.held_begin = 0;
    return Status::ok;
  }
  const std::optional<std::uint64_t> doubled = core::checked_mul(*needed, 2);
  return regrow_held(allocator, stream, doubled ? *doubled : *needed);
}

// Room for the bytes a write that walks in the caller's buffer leaves
// behind: at most the deepest path, and at most what it produces.
Status reserve_held(const Allocator &allocator, Stream &stream, std::uint64_t produced_at_most) noexcept {
  const std::uint64_t limit = stream.set->hold_limit;
  const std::uint64_t needed = produced_at_most < limit ? produced_at_most : limit;
  if (stream.held_capacity >= needed) return Status::ok;
  const std::optional<std::uint64_t> doubled = core::checked_mul(stream.held_capacity, 2);
  const std::uint64_t roomier = doubled && *doubled < limit ? *doubled : limit;
  return regrow_held(allocator, stream, roomier > needed ? roomier : needed);
}

core::NodeIndex walk_into(const Set &set, core::NodeIndex state, core::Preceding before, const std::uint8_t *text,
                          std::uint64_t len, core::Output &out, EveryOccurrenceRule &rule) noexcept {
  return core::walk_chunk(core::automaton_of(automaton_of(set)), state, before, text, len, out, rule);
}

// The held-back bytes as input, when they are: no run still on the stack
// shows stars among them (retired runs end before the path they belong to).
core::Preceding unmasked_held(const Stream &stream) noexcept {
  const RunStack &runs = stream.runs;
  const std::uint64_t from = stream.consumed - stream.held_len;
  if (runs.end > runs.first && runs.entries[runs.end - 1].end >= from) return {nullptr, 0};
  return {stream.held + stream.held_begin, stream.held_len};
}

// Overwrites output bytes the walk wrote past the final length: text that a
// run took back, or bytes now held back in the stream.
void wipe_tail(std::uint8_t *buffer, std::uint64_t final_len, std::uint64_t written) noexcept {
  if (written > final_len) core::wipe_bytes(buffer + final_len, written - final_len);
}

bool bad_buffers(const std::uint8_t *text, std::uint64_t len, const std::uint8_t *out, std::uint64_t out_cap,
                 const std::uint64_t *out_len) noexcept {
  return out_len == nullptr || (text == nullptr && len != 0) || (out == nullptr && out_cap != 0);
}

}  // namespace

Stream *create_stream(const Set &set) noexcept {
  if (set.automaton == nullptr) return nullptr;
  auto *stream = static_cast<Stream *>(obtain(set.allocator, sizeof(Stream), core::ALIGN_ARRAY));
  if (stream == nullptr) return nullptr;
  *stream = Stream{};
  stream->set = &set;
  if (failed(reserve_runs(set.allocator, stream->runs, runs_needed(set)))) {
    release(set.allocator, stream, sizeof(Stream), core::ALIGN_ARRAY);
    return nullptr;
  }
  return stream;
}

void destroy_stream(Stream *stream) noexcept {
  const Allocator allocator = stream->set->allocator;
  release(allocator, stream->runs.entries, stream->runs.capacity * sizeof(RunSpan), core::ALIGN_ARRAY);
  release(allocator, stream->held, stream->held_capacity, core::ALIGN_BYTES);
  release(allocator, stream, sizeof(Stream), core::ALIGN_ARRAY);
}

std::int32_t write_stream(Stream &stream, const std::uint8_t *text, std::uint64_t len, std::uint8_t *out,
                          std::uint64_t out_cap, std::uint64_t *out_len) noexcept {
  if (bad_buffers(text, len, out, out_cap, out_len)) return HUSHSET_INVALID;
  const Set &set = *stream.set;
  const std::uint64_t held = stream.held_len;
  const std::optional<std::uint64_t> needed = core::checked_add(len, held);
  if (!needed) return HUSHSET_NOMEM;
  if (out_cap < *needed) {
    *out_len = *needed;
    return HUSHSET_SHORT_BUFFER;
  }
  // A rebuild of the set may have raised the bound since the last write.
  if (failed(reserve_runs(set.allocator, stream.runs, runs_needed(set)))) return HUSHSET_NOMEM;

  // Writes longer than the hold walk in the caller's buffer, behind a copy
  // of the held-back bytes, and keep the new tail back afterwards; shorter
  // ones walk behind the held-back bytes in the stream's own block, so that
  // a long hold is never copied per write.
  const bool walk_in_out = held <= len;
  if (failed(walk_in_out ? reserve_held(set.allocator, stream, *needed)
                         : reserve_behind_held(set.allocator, stream, len))) {
    return HUSHSET_NOMEM;
  }
  const core::Preceding before = unmasked_held(stream);
  std::uint8_t *buffer = walk_in_out ? out : stream.held + stream.held_begin;
  if (walk_in_out && held != 0) std::memcpy(out, stream.held + stream.held_begin, held);

  EveryOccurrenceRule rule{stream.runs, stream.consumed, set.max_stars, stream.report, stream.report_context};
  core::Output output{buffer, held, 0, held};
  const core::NodeIndex state = walk_into(set, stream.state, before, text, len, output, rule);

  const std::uint64_t depth = automaton_of(set).nodes[state].depth;
  const std::uint64_t keep = depth < output.p ? depth : output.p;
  const std::uint64_t final_len = output.p - keep;
  if (walk_in_out) {
    if (keep != 0) std::memcpy(stream.held, out + final_len, keep);
    stream.held_begin = 0;
    wipe_tail(out, final_len, output.written);
  } else {
    if (final_len != 0) std::memcpy(out, buffer, final_len);
    stream.held_begin = keep == 0 ? 0 : stream.held_begin + final_len;
  }
  stream.held_len = keep;
  stream.state = state;
  stream.consumed += len;
  retire_runs(stream.runs, stream.consumed - depth, stream.report, stream.report_context);
  *out_len = final_len;
  return HUSHSET_OK;
}

std::int32_t finish_stream(Stream &stream, std::uint8_t *out, std::uint64_t out_cap, std::uint64_t *out_len) noexcept {
  if (bad_buffers(nullptr, 0, out, out_cap, out_len)) return HUSHSET_INVALID;
  const std::uint64_t held = stream.held_len;
  if (out_cap < held) {
    *out_len = held;
    return HUSHSET_SHORT_BUFFER;
  }
  if (held != 0) std::memcpy(out, stream.held + stream.held_begin, held);
  retire_all_runs(stream.runs, stream.report, stream.report_context);
  stream.state = 0;
  stream.consumed = 0;
  stream.held_begin = 0;
  stream.held_len = 0;
  *out_len = held;
  return HUSHSET_OK;
}

std::int32_t mask_whole(const Set &set, const std::uint8_t *text, std::uint64_t len, std::uint8_t *out,
                        std::uint64_t out_cap, std::uint64_t *out_len) noexcept {
  if (bad_buffers(text, len, out, out_cap, out_len) || set.automaton == nullptr) return HUSHSET_INVALID;
  if (out_cap < len) {
    *out_len = len;
    return HUSHSET_SHORT_BUFFER;
  }
  // Most sets need a handful of entries; only deeply nesting ones take a
  // block, from the set's allocator, which serves any thread.
  constexpr std::uint64_t LOCAL_RUNS = 32;
  RunSpan local[LOCAL_RUNS];
  RunStack runs{local, 0, 0, LOCAL_RUNS};
  const std::uint64_t wanted = runs_needed(set);
  if (wanted > LOCAL_RUNS) {
    runs = RunStack{};
    if (failed(reserve_runs(set.allocator, runs, wanted))) return HUSHSET_NOMEM;
  }
  EveryOccurrenceRule rule{runs, 0, set.max_stars, nullptr, nullptr};
  core::Output output{out, 0, 0, 0};
  walk_into(set, 0, core::Preceding{nullptr, 0}, text, len, output, rule);
  wipe_tail(out, output.p, output.written);
  if (runs.entries != local) release(set.allocator, runs.entries, runs.capacity * sizeof(RunSpan), core::ALIGN_ARRAY);
  *out_len = output.p;
  return HUSHSET_OK;
}

}  // namespace hush::set
