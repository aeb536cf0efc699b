#pragma once
// The allocator interface through which a Masker obtains every block after
// its creation.  A plain record of a context word and a table of four
// operations, so that tests can put a recording or failing allocator in its
// place and a host-facing binding never needs more than the C heap.
//
// Conventions shared by the four operations:
// - `align_exp` is a base-2 exponent; only its low 6 bits are read.
// - `caller` identifies the call site: the library passes the return address
//   of the routine that makes the call.  It is for tracing allocators only.
// - No caller ever asks for 0 bytes; a buffer of length 0 owns no block.
// - `resize`, `remap` and `free` get the alignment the block was obtained
//   with, and as old length the last length it was obtained or remapped to.

#include <cstdint>

namespace hush::core {

using CallerAddress = std::uintptr_t;

struct AllocatorVTable {
  // A block of at least `len` bytes at alignment 2^align_exp, or null.
  void *(*alloc)(void *context, std::uint64_t len, std::uint8_t align_exp, CallerAddress caller);
  // Whether the block can hold `new_len` bytes where it is; never moves it.
  bool (*resize)(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                 CallerAddress caller);
  // The block holding `new_len` bytes (the same pointer, or a new one with
  // the contents kept and the old block released), or null with the old
  // block untouched.
  void *(*remap)(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp, std::uint64_t new_len,
                 CallerAddress caller);
  void (*free)(void *context, void *block, std::uint64_t len, std::uint8_t align_exp, CallerAddress caller);
};

struct Allocator {
  void *context;
  const AllocatorVTable *vtable;
};

// Alignment exponents the library uses, one per kind of block.
inline constexpr std::uint8_t ALIGN_BYTES = 0;  // working, output and carry-over buffers
inline constexpr std::uint8_t ALIGN_EDGES = 2;  // EdgeList and EdgeTable
inline constexpr std::uint8_t ALIGN_ARRAY = 3;  // node array and completion queue

// The one binding: the C heap.  Blocks of alignment up to 16 bytes are plain
// C heap blocks (so hush_free can hand output buffers straight to free());
// larger alignments are carved out of a bigger C heap block whose address is
// stored in the word just before the handed-out pointer.
extern const Allocator c_heap_allocator;

// The return address of the function this appears in, as a caller address.
#define HUSH_CALLER_ADDRESS() (reinterpret_cast<::hush::core::CallerAddress>(__builtin_return_address(0)))

}  // namespace hush::core
