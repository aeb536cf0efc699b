#include "guard_page_allocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/masker.h"

namespace hush::core::fuzzing {
namespace {

std::size_t page_size() {
  static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

[[noreturn]] void harness_failure(const char *what) {
  std::fprintf(stderr, "guard page allocator: %s\n", what);
  std::abort();
}

bool is_byte_buffer(std::uint8_t align_exp) noexcept { return (align_exp & 0x3F) == ALIGN_BYTES; }

}  // namespace

GuardedBlock map_guarded(std::uint64_t len, Flush flush) {
  const std::size_t page = page_size();
  const std::size_t data_pages = static_cast<std::size_t>((len + page - 1) / page);
  const std::size_t mapping_len = (data_pages + 2) * page;
  void *mapping = mmap(nullptr, mapping_len, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) harness_failure("mmap failed");
  auto *first_data_page = static_cast<std::uint8_t *>(mapping) + page;
  if (data_pages != 0 && mprotect(first_data_page, data_pages * page, PROT_READ | PROT_WRITE) != 0) {
    harness_failure("mprotect failed");
  }
  GuardedBlock block;
  block.mapping = mapping;
  block.mapping_len = mapping_len;
  block.bytes = flush == Flush::start ? first_data_page : first_data_page + data_pages * page - len;
  return block;
}

void unmap_guarded(const GuardedBlock &block) {
  if (munmap(block.mapping, block.mapping_len) != 0) harness_failure("munmap failed");
}

GuardedCopy::GuardedCopy(const std::string &bytes, Flush flush) : block_(map_guarded(bytes.size(), flush)) {
  if (!bytes.empty()) std::memcpy(block_.bytes, bytes.data(), bytes.size());
}

GuardedCopy::~GuardedCopy() { unmap_guarded(block_); }

GuardPageAllocator::GuardPageAllocator(std::uint64_t seed) noexcept
    : vtable_{do_alloc, do_resize, do_remap, do_free}, random_state_(seed | 1) {}

GuardPageAllocator::~GuardPageAllocator() {
  for (const auto &[pointer, live] : live_) unmap_guarded(live.block);
}

void GuardPageAllocator::install(hush_masker *masker) noexcept { to_masker(masker)->allocator = {this, &vtable_}; }

Flush GuardPageAllocator::next_flush() noexcept {
  random_state_ ^= random_state_ << 13;
  random_state_ ^= random_state_ >> 7;
  random_state_ ^= random_state_ << 17;
  // Mostly the end: that is where a masking pass writes and where an off-by-
  // one in a length would land.
  return random_state_ % 4 == 0 ? Flush::start : Flush::end;
}

void *GuardPageAllocator::place(std::uint64_t len) noexcept {
  if (len == 0) harness_failure("a block of 0 bytes was requested");
  const GuardedBlock block = map_guarded(len, next_flush());
  // A fresh block holds a pattern, never what the caller might expect.
  std::memset(block.bytes, 0xAB, static_cast<std::size_t>(len));
  live_[block.bytes] = {block, len};
  return block.bytes;
}

void GuardPageAllocator::release(void *block, std::uint64_t len, bool check_len) noexcept {
  const auto found = live_.find(block);
  if (found == live_.end()) harness_failure("release of a block not handed out");
  if (check_len && found->second.len != len) harness_failure("release with a length other than the block's");
  unmap_guarded(found->second.block);
  live_.erase(found);
}

// The length an output was handed out with may be shorter than its block
// (the masker may hand out its working buffer untrimmed), so the block's own
// record decides what is unmapped.
void GuardPageAllocator::release_output(std::uint8_t *block) noexcept {
  if (block != nullptr) release(block, 0, false);
}

void *GuardPageAllocator::do_alloc(void *context, std::uint64_t len, std::uint8_t align_exp,
                                   CallerAddress caller) noexcept {
  auto &self = *static_cast<GuardPageAllocator *>(context);
  if (!is_byte_buffer(align_exp)) return c_heap_allocator.vtable->alloc(nullptr, len, align_exp, caller);
  return self.place(len);
}

// A guarded block never grows or shrinks in place: its end would leave the
// guard page.
bool GuardPageAllocator::do_resize(void *, void *block, std::uint64_t old_len, std::uint8_t align_exp,
                                   std::uint64_t new_len, CallerAddress caller) noexcept {
  if (!is_byte_buffer(align_exp)) {
    return c_heap_allocator.vtable->resize(nullptr, block, old_len, align_exp, new_len, caller);
  }
  return new_len == old_len;
}

// Growing or shrinking moves the bytes to a new block of exactly the new
// length, so the trimmed output of a masking pass is flush with its guard.
void *GuardPageAllocator::do_remap(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp,
                                   std::uint64_t new_len, CallerAddress caller) noexcept {
  auto &self = *static_cast<GuardPageAllocator *>(context);
  if (!is_byte_buffer(align_exp)) {
    return c_heap_allocator.vtable->remap(nullptr, block, old_len, align_exp, new_len, caller);
  }
  if (new_len == old_len) return block;
  void *moved = self.place(new_len);
  std::memcpy(moved, block, static_cast<std::size_t>(old_len < new_len ? old_len : new_len));
  self.release(block, old_len, true);
  return moved;
}

void GuardPageAllocator::do_free(void *context, void *block, std::uint64_t len, std::uint8_t align_exp,
                                 CallerAddress caller) noexcept {
  auto &self = *static_cast<GuardPageAllocator *>(context);
  if (!is_byte_buffer(align_exp)) {
    c_heap_allocator.vtable->free(nullptr, block, len, align_exp, caller);
    return;
  }
  self.release(block, len, true);
}

}  // namespace hush::core::fuzzing
