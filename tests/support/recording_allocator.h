#pragma once
// A test allocator that records every call, tracks the blocks it handed out,
// and fails chosen requests.  Put into a Masker's `allocator` field with
// install(); blocks are real C heap blocks (served by the C heap binding), so
// output buffers stay releasable with hush_free.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "alloc/allocator.h"
#include "hushmask.h"

namespace hush::core::testing {

enum class Op { alloc, resize, remap, free };

struct AllocatorCall {
  Op op;
  void *block;               // the block passed in (null for alloc)
  std::uint64_t len;         // alloc: length; resize/remap: old length; free: length
  std::uint8_t align_exp;
  std::uint64_t new_len;     // resize/remap only
  void *result;              // what alloc/remap returned
  CallerAddress caller;
  std::vector<std::uint8_t> freed_contents;  // free of an alignment-3 block: its bytes, for queue inspection
};

class RecordingAllocator {
 public:
  RecordingAllocator();
  RecordingAllocator(const RecordingAllocator &) = delete;
  RecordingAllocator &operator=(const RecordingAllocator &) = delete;

  [[nodiscard]] Allocator interface() noexcept { return {this, &vtable_}; }
  // Makes the masker obtain, resize and release its blocks through this
  // allocator from now on.  The first node array came from malloc; it is
  // adopted as a live block of the masker's current capacity.
  void install(hush_masker *masker);

  // Failing: requests (alloc and remap calls) are numbered from 1 in the
  // order they arrive.  fail_request(k) fails the k-th one counted from now;
  // fail_from(k) fails it and every later one; refuse_remap makes every
  // remap that would need the heap return null.
  void fail_request(std::uint64_t k);
  void fail_from(std::uint64_t k);
  void fail_randomly(std::uint32_t one_in, std::uint64_t seed);
  void stop_failing();
  bool refuse_remap = false;
  // Keep the contents of every released block, not only of alignment-3
  // ones (to check that blocks are wiped before they go).
  bool keep_all_freed_contents = false;

  [[nodiscard]] std::uint64_t requests() const noexcept { return requests_; }
  [[nodiscard]] std::uint64_t failures() const noexcept { return failures_; }
  std::vector<AllocatorCall> calls;
  void clear_calls() { calls.clear(); }

  // Live blocks and accounting errors (a release with a length or alignment
  // other than the block was obtained with, or of a block never handed out).
  [[nodiscard]] std::size_t live_blocks() const noexcept { return live_.size(); }
  [[nodiscard]] std::uint64_t live_bytes() const noexcept;
  std::vector<std::string> errors;

  // Output buffers leave the allocator's books when the host takes them.
  void forget(const void *block);
  // Releases an output of hush_mask the way a host does, and forgets it.
  void release_output(std::uint8_t *block, std::uint64_t len);

 private:
  struct LiveBlock {
    std::uint64_t len;
    std::uint8_t align_exp;
  };
  bool should_fail();
  void note_release(void *block, std::uint64_t len, std::uint8_t align_exp, const char *what);

  static void *do_alloc(void *, std::uint64_t, std::uint8_t, CallerAddress) noexcept;
  static bool do_resize(void *, void *, std::uint64_t, std::uint8_t, std::uint64_t, CallerAddress) noexcept;
  static void *do_remap(void *, void *, std::uint64_t, std::uint8_t, std::uint64_t, CallerAddress) noexcept;
  static void do_free(void *, void *, std::uint64_t, std::uint8_t, CallerAddress) noexcept;

  AllocatorVTable vtable_;
  std::map<const void *, LiveBlock> live_;
  std::uint64_t requests_ = 0;
  std::set<std::uint64_t> fail_once_;
  std::uint64_t fail_from_ = 0;  // 0: off
  std::uint32_t random_one_in_ = 0;
  std::uint64_t random_state_ = 0;
  std::uint64_t failures_ = 0;
};

}  // namespace hush::core::testing
