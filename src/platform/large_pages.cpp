#include "platform/large_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void AdviseLargePages(void* begin, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t first = (uintptr_t(begin) + LargePageSize - 1) & ~uintptr_t(LargePageSize - 1);
  const uintptr_t end = (uintptr_t(begin) + bytes) & ~uintptr_t(LargePageSize - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)begin;
  (void)bytes;
#endif
}
