#include "base/heap_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace tracemill {

namespace {

constexpr int kHeapStep = 32 << 20;
bool g_started = false;
std::uintptr_t g_advised_end = 0;

std::uintptr_t page_up(std::uintptr_t address) {
  auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return (address + page - 1) / page * page;
}

std::uintptr_t current_break() { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); }

}  // namespace

void begin_bulk_heap() {
  if (g_started) return;
  g_started = true;
  // Blocks up to the step come from the heap too, so they share its huge pages.
  ::mallopt(M_TOP_PAD, kHeapStep);
  ::mallopt(M_MMAP_THRESHOLD, kHeapStep);
  g_advised_end = page_up(current_break());
}

void advise_new_heap() {
  if (!g_started) return;
  std::uintptr_t end = page_up(current_break());  // sbrk(0) makes no system call
  if (end <= g_advised_end) return;
  // Advice is only a hint: a kernel without huge pages refuses it and nothing changes.
  ::madvise(reinterpret_cast<void*>(g_advised_end), end - g_advised_end, MADV_HUGEPAGE);
  g_advised_end = end;
}

}  // namespace tracemill
