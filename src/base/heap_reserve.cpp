#include "base/heap_reserve.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

namespace tracemill {
namespace {

// Below this a record is built with few enough faults that tuning is not worth it.
constexpr std::size_t kWorthwhile = std::size_t{8} << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kOwnAllocator = false;
#else
constexpr bool kOwnAllocator = true;
#endif
#else
constexpr bool kOwnAllocator = true;
#endif

}  // namespace

void reserve_heap(std::size_t bytes) {
  if (!kOwnAllocator || bytes < kWorthwhile) return;
  // Every block comes from the one contiguous heap, and nothing is given back to the system,
  // so the region prepared below is what later allocations are carved from.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, -1);
  void* block = std::malloc(bytes);
  if (block == nullptr) return;
  auto begin = (reinterpret_cast<std::uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHugePage - 1);
  if (end > begin) {
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
  std::free(block);
}

void reserve_heap_for_input(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) return;
  auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > SIZE_MAX / 4) return;
  reserve_heap(static_cast<std::size_t>(2 * size));
}

}  // namespace tracemill
