#include "alloc/huge_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace hush::core {

void advise_huge_pages(void *block, std::uint64_t len) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  if (len > UINTPTR_MAX - address) return;
  const std::uintptr_t first = (address + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t end = (address + static_cast<std::uintptr_t>(len)) & ~(HUGE_PAGE - 1);
  // Refused where huge pages are off or the memory is not anonymous; the
  // block works the same either way.
  if (end > first) static_cast<void>(madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE));
#else
  static_cast<void>(block);
  static_cast<void>(len);
#endif
}

}  // namespace hush::core
