#include "alloc/usable_size.h"

#if defined(__GLIBC__) || defined(__linux__)
#include <malloc.h>
#elif defined(__APPLE__)
#include <malloc/malloc.h>
#elif defined(_WIN32)
#include <malloc.h>
#endif

namespace hush::core {

std::uint64_t heap_usable_size(void *block) noexcept {
#if defined(__APPLE__)
  return malloc_size(block);
#elif defined(_WIN32)
  return _msize(block);
#else
  return malloc_usable_size(block);
#endif
}

}  // namespace hush::core
