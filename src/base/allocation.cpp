// Global allocation functions: running out of memory prints
// "memory allocation of <N> bytes failed" and aborts instead of throwing.
//
// The sanitizer builds keep their own allocator, which reports more than this one could.
#if !defined(__SANITIZE_ADDRESS__) && !defined(TRACEMILL_NO_ALLOC_HOOK)
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRACEMILL_NO_ALLOC_HOOK
#endif
#endif
#endif

#ifndef TRACEMILL_NO_ALLOC_HOOK

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void allocation_failed(std::size_t size) {
  char line[64] = "memory allocation of ";
  char* p = line + 21;
  p = std::to_chars(p, line + 40, size).ptr;
  static constexpr char kTail[] = " bytes failed\n";
  for (char c : kTail) {
    if (c != '\0') *p++ = c;
  }
  ssize_t ignored = ::write(2, line, static_cast<std::size_t>(p - line));
  (void)ignored;
  std::abort();
}

void* allocate(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) allocation_failed(size);
  return p;
}

void* allocate_aligned(std::size_t size, std::align_val_t align) {
  auto alignment = static_cast<std::size_t>(align);
  std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  if (rounded < size) allocation_failed(size);
  void* p = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
  if (p == nullptr) allocation_failed(size);
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate_aligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocate_aligned(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

#endif
