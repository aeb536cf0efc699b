#include <cstdlib>
#include <cstring>

#include "alloc/allocator.h"
#include "alloc/size_math.h"
#include "alloc/usable_size.h"

namespace hush::core {
namespace {

// Every C heap block is aligned to at least 16 bytes, so exponents 0 to 4 are
// served by plain blocks; only larger alignments need the raw-address word.
constexpr std::uint8_t MAX_PLAIN_EXP = 4;
constexpr std::uint64_t MIN_HEAP_REQUEST = 16;

std::uint8_t effective_exp(std::uint8_t align_exp) noexcept { return align_exp & 0x3F; }

void *stored_raw_address(void *block) noexcept {
  void *raw = nullptr;
  std::memcpy(&raw, static_cast<unsigned char *>(block) - sizeof(void *), sizeof(void *));
  return raw;
}

// Bytes from `block` to the end of the C heap block behind it.
std::uint64_t usable_room(void *block, std::uint8_t exp) noexcept {
  if (exp <= MAX_PLAIN_EXP) return heap_usable_size(block);
  void *raw = stored_raw_address(block);
  const auto offset =
      static_cast<std::uint64_t>(static_cast<unsigned char *>(block) - static_cast<unsigned char *>(raw));
  return heap_usable_size(raw) - offset;
}

void *heap_alloc(void *, std::uint64_t len, std::uint8_t align_exp, CallerAddress) noexcept {
  const std::uint8_t exp = effective_exp(align_exp);
  // A request of 1 to 16 bytes takes a 16-byte block, so a small buffer can
  // later grow to 16 bytes in place.
  if (exp <= MAX_PLAIN_EXP) {
    const std::uint64_t request = len > MIN_HEAP_REQUEST ? len : MIN_HEAP_REQUEST;
    if (request > SIZE_MAX) return nullptr;
    return std::malloc(static_cast<std::size_t>(request));
  }
  // The handed-out address can lie up to 8 + A - 1 bytes after the raw one;
  // with exponents up to 63, A itself may not fit: then no block can serve.
  const std::uint64_t alignment = std::uint64_t{1} << exp;
  const std::optional<std::uint64_t> padded = checked_add(len, alignment);
  const std::optional<std::uint64_t> request = padded ? checked_add(*padded, 7) : std::nullopt;
  if (!request || *request > SIZE_MAX) return nullptr;
  auto *raw = static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(*request)));
  if (raw == nullptr) return nullptr;
  const auto raw_address = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (raw_address + 8 + (alignment - 1)) & ~static_cast<std::uintptr_t>(alignment - 1);
  unsigned char *block = raw + (aligned - raw_address);
  std::memcpy(block - sizeof(void *), &raw, sizeof(void *));
  return block;
}

bool heap_resize(void *, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                 CallerAddress) noexcept {
  if (new_len <= old_len) return true;  // shrinking never calls the heap
  return new_len <= usable_room(block, effective_exp(align_exp));
}

void *heap_remap(void *, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                 CallerAddress) noexcept {
  const std::uint8_t exp = effective_exp(align_exp);
  if (new_len <= old_len) return block;
  if (new_len <= usable_room(block, exp)) return block;
  // realloc could not keep an over-aligned block aligned; the caller falls
  // back to alloc, copy and free.
  if (exp > MAX_PLAIN_EXP) return nullptr;
  const std::uint64_t request = new_len > MIN_HEAP_REQUEST ? new_len : MIN_HEAP_REQUEST;
  if (request > SIZE_MAX) return nullptr;
  return std::realloc(block, static_cast<std::size_t>(request));
}

void heap_free(void *, void *block, std::uint64_t, std::uint8_t align_exp, CallerAddress) noexcept {
  if (effective_exp(align_exp) <= MAX_PLAIN_EXP) {
    std::free(block);
  } else {
    std::free(stored_raw_address(block));
  }
}

constexpr AllocatorVTable c_heap_vtable{heap_alloc, heap_resize, heap_remap, heap_free};

}  // namespace

const Allocator c_heap_allocator{nullptr, &c_heap_vtable};

}  // namespace hush::core
