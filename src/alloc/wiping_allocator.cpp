#include "alloc/wiping_allocator.h"

#include <cstring>

namespace hush::core {
namespace {

const Allocator &inner_of(void *context) noexcept { return *static_cast<const Allocator *>(context); }

void *wiping_alloc(void *context, std::uint64_t len, std::uint8_t align_exp, CallerAddress caller) noexcept {
  const Allocator &inner = inner_of(context);
  return inner.vtable->alloc(inner.context, len, align_exp, caller);
}

// Growing in place keeps the bytes where they are, so nothing is left behind.
bool wiping_resize(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                   CallerAddress caller) noexcept {
  const Allocator &inner = inner_of(context);
  return inner.vtable->resize(inner.context, block, old_len, align_exp, new_len, caller);
}

void *wiping_remap(void *, void *, std::uint64_t, std::uint8_t, std::uint64_t, CallerAddress) noexcept {
  return nullptr;
}

void wiping_free(void *context, void *block, std::uint64_t len, std::uint8_t align_exp, CallerAddress caller) noexcept {
  wipe_bytes(block, len);
  const Allocator &inner = inner_of(context);
  inner.vtable->free(inner.context, block, len, align_exp, caller);
}

constexpr AllocatorVTable wiping_vtable{wiping_alloc, wiping_resize, wiping_remap, wiping_free};

}  // namespace

void wipe_bytes(void *block, std::uint64_t len) noexcept {
  if (len == 0) return;
  std::memset(block, 0, static_cast<std::size_t>(len));
  // The empty statement claims to read the block through memory, so the
  // stores above cannot be treated as dead.
  __asm__ __volatile__("" : : "r"(block) : "memory");
}

Allocator wiping_allocator(const Allocator *inner) noexcept { return {const_cast<Allocator *>(inner), &wiping_vtable}; }

}  // namespace hush::core
