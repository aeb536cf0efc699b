#pragma once
// Byte buffers placed flush against an inaccessible page, so that touching
// one byte past either end of a buffer faults at once, in any build and
// without a sanitizer's help (a C heap block usually has slack after its
// end that no tool sees, e.g. the 16 bytes every small output gets).
//
// Each guarded block has its own mapping: one PROT_NONE page, the pages that
// hold the bytes, one more PROT_NONE page.  The bytes sit either at the very
// end of the middle pages (a read or write past the end faults) or at their
// very start (one before the start faults).

#include <cstdint>
#include <map>
#include <string>

#include "alloc/allocator.h"
#include "hushmask.h"

namespace hush::core::fuzzing {

enum class Flush { end, start };

struct GuardedBlock {
  std::uint8_t *bytes = nullptr;  // the first byte handed out
  void *mapping = nullptr;
  std::size_t mapping_len = 0;
};

// Never fails: a harness that cannot map memory stops the run.
[[nodiscard]] GuardedBlock map_guarded(std::uint64_t len, Flush flush);
void unmap_guarded(const GuardedBlock &block);

// A copy of some bytes placed against a guard page; for an empty string the
// pointer sits right on the inaccessible page, so reading it faults.
class GuardedCopy {
 public:
  GuardedCopy(const std::string &bytes, Flush flush);
  GuardedCopy(const GuardedCopy &) = delete;
  GuardedCopy &operator=(const GuardedCopy &) = delete;
  ~GuardedCopy();
  [[nodiscard]] const std::uint8_t *data() const noexcept { return block_.bytes; }

 private:
  GuardedBlock block_;
};

// An Allocator for a Masker whose byte buffers (alignment exponent 0: the
// working, output and held-back buffers) are guarded blocks; other blocks
// (node array, edge sets, queue) go to the C heap binding as usual.  Which
// end each block is flush with is drawn from a seed.
//
// hush_free hands outputs to the C heap, which did not make these blocks:
// outputs of a masker using this allocator go back through release_output.
class GuardPageAllocator {
 public:
  explicit GuardPageAllocator(std::uint64_t seed) noexcept;
  GuardPageAllocator(const GuardPageAllocator &) = delete;
  GuardPageAllocator &operator=(const GuardPageAllocator &) = delete;
  ~GuardPageAllocator();

  void install(hush_masker *masker) noexcept;
  void release_output(std::uint8_t *block) noexcept;
  [[nodiscard]] std::size_t live_blocks() const noexcept { return live_.size(); }

 private:
  void *place(std::uint64_t len) noexcept;
  void release(void *block, std::uint64_t len, bool check_len) noexcept;
  Flush next_flush() noexcept;

  static void *do_alloc(void *, std::uint64_t, std::uint8_t, CallerAddress) noexcept;
  static bool do_resize(void *, void *, std::uint64_t, std::uint8_t, std::uint64_t, CallerAddress) noexcept;
  static void *do_remap(void *, void *, std::uint64_t, std::uint8_t, std::uint64_t, CallerAddress) noexcept;
  static void do_free(void *, void *, std::uint64_t, std::uint8_t, CallerAddress) noexcept;

  struct Live {
    GuardedBlock block;
    std::uint64_t len;
  };
  AllocatorVTable vtable_;
  std::map<const void *, Live> live_;
  std::uint64_t random_state_;
};

}  // namespace hush::core::fuzzing
