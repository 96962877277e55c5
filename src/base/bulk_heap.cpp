#include "base/bulk_heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace tracemill {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(TRACEMILL_NO_ALLOC_HOOK)
constexpr bool kOwnAllocator = false;
#else
constexpr bool kOwnAllocator = true;
#endif

constexpr int kHeapStep = 32 << 20;
bool started = false;
std::uintptr_t advised_end = 0;

std::uintptr_t page_up(std::uintptr_t address) {
  auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return (address + page - 1) / page * page;
}

// glibc answers sbrk(0) from its cached break, without a system call.
std::uintptr_t current_break() { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); }

}  // namespace

void begin_bulk_heap() {
  if (!kOwnAllocator || started) return;
  started = true;
  // Blocks up to the step come from the heap too, so that they share its huge pages.
  ::mallopt(M_TOP_PAD, kHeapStep);
  ::mallopt(M_MMAP_THRESHOLD, kHeapStep);
  ::mallopt(M_TRIM_THRESHOLD, -1);
  advised_end = page_up(current_break());
}

void advise_new_heap() {
  if (!started) return;
  std::uintptr_t end = page_up(current_break());
  if (end <= advised_end) return;
  ::madvise(reinterpret_cast<void*>(advised_end), end - advised_end, MADV_HUGEPAGE);
  advised_end = end;
}

}  // namespace tracemill
