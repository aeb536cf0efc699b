// The C heap binding: plain blocks for small alignments, over-aligned blocks
// carved from a larger heap block, growth in place when the heap has room,
// and sizes that would overflow refused rather than wrapped.

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>

#include "alloc/allocator.h"

namespace hush::core {
namespace {

const AllocatorVTable &heap = *c_heap_allocator.vtable;

void *raw_of(void *block) {
  void *raw = nullptr;
  std::memcpy(&raw, static_cast<char *>(block) - sizeof(void *), sizeof(void *));
  return raw;
}

TEST(CHeapAllocator, SmallPlainBlockGrowsToSixteenBytesInPlace) {
  void *block = heap.alloc(nullptr, 1, 0, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(malloc_usable_size(block), 16u);
  EXPECT_TRUE(heap.resize(nullptr, block, 1, 0, 16, 0));
  EXPECT_EQ(heap.remap(nullptr, block, 1, 0, 16, 0), block);
  // Shrinking never calls the heap, down to 0 included.
  EXPECT_TRUE(heap.resize(nullptr, block, 16, 0, 0, 0));
  EXPECT_EQ(heap.remap(nullptr, block, 16, 0, 3, 0), block);
  heap.free(nullptr, block, 16, 0, 0);
}

TEST(CHeapAllocator, PlainRemapBeyondRoomMovesAndKeepsContents) {
  auto *block = static_cast<char *>(heap.alloc(nullptr, 40, 3, 0));
  ASSERT_NE(block, nullptr);
  std::memcpy(block, "0123456789", 10);
  auto *moved = static_cast<char *>(heap.remap(nullptr, block, 40, 3, 1 << 20, 0));
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(std::memcmp(moved, "0123456789", 10), 0);
  EXPECT_FALSE(heap.resize(nullptr, moved, 1 << 20, 3, std::uint64_t{1} << 40, 0));
  heap.free(nullptr, moved, 1 << 20, 3, 0);
}

TEST(CHeapAllocator, OverAlignedBlocksAreAlignedAndReleasedWhole) {
  for (std::uint8_t exp = 5; exp <= 12; ++exp) {
    const std::uintptr_t alignment = std::uintptr_t{1} << exp;
    for (std::uint64_t len : {1u, 7u, 100u, 4096u}) {
      auto *block = static_cast<char *>(heap.alloc(nullptr, len, exp, 0));
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u) << "exp " << int(exp);
      char *raw = static_cast<char *>(raw_of(block));
      EXPECT_GE(block - raw, 8);
      EXPECT_LT(block - raw, static_cast<std::ptrdiff_t>(8 + alignment));
      std::memset(block, 0x5A, len);  // the whole length is usable
      // Room up to the end of the heap block: resize within it succeeds,
      // remap beyond it refuses and leaves the block valid.
      const std::uint64_t room = malloc_usable_size(raw) - static_cast<std::uint64_t>(block - raw);
      EXPECT_TRUE(heap.resize(nullptr, block, len, exp, room, 0));
      EXPECT_FALSE(heap.resize(nullptr, block, len, exp, room + 1, 0));
      EXPECT_EQ(heap.remap(nullptr, block, len, exp, room, 0), block);
      EXPECT_EQ(heap.remap(nullptr, block, len, exp, room + 1, 0), nullptr);
      EXPECT_EQ(static_cast<unsigned char>(block[len - 1]), 0x5A);
      heap.free(nullptr, block, len, exp, 0);  // the sanitizers catch a partial free
    }
  }
}

TEST(CHeapAllocator, OnlyTheLowSixExponentBitsCount) {
  // 0x43 acts as 3 (a plain block), 0x85 as 5 (over-aligned), 0xC0 as 0.
  void *plain = heap.alloc(nullptr, 24, 0x43, 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_GE(malloc_usable_size(plain), 24u);
  heap.free(nullptr, plain, 24, 0x43, 0);

  auto *aligned = static_cast<char *>(heap.alloc(nullptr, 24, 0x85, 0));
  ASSERT_NE(aligned, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 32, 0u);
  EXPECT_EQ(heap.remap(nullptr, aligned, 24, 0x85, 1 << 20, 0), nullptr);
  heap.free(nullptr, aligned, 24, 0x05, 0);

  void *small = heap.alloc(nullptr, 5, 0xC0, 0);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(heap.remap(nullptr, small, 5, 0xC0, 16, 0), small);
  heap.free(nullptr, small, 16, 0, 0);
}

TEST(CHeapAllocator, SizesThatOverflowAreRefused) {
  // length + A + 7 must not wrap into a small request.
  EXPECT_EQ(heap.alloc(nullptr, UINT64_MAX - 20, 5, 0), nullptr);
  EXPECT_EQ(heap.alloc(nullptr, 1, 63, 0), nullptr);
  EXPECT_EQ(heap.alloc(nullptr, UINT64_MAX, 0, 0), nullptr);
  void *block = heap.alloc(nullptr, 8, 0, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(heap.remap(nullptr, block, 8, 0, UINT64_MAX, 0), nullptr);
  heap.free(nullptr, block, 8, 0, 0);
}

}  // namespace
}  // namespace hush::core
