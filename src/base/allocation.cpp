// Global allocation functions: running out of memory prints
// "memory allocation of <N> bytes failed" and aborts instead of throwing; the nothrow forms
// return null.
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

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <new>

#include "base/sink.h"

namespace {

[[noreturn]] void allocation_failed(std::size_t size) {
  static constexpr char kHead[] = "memory allocation of ";
  static constexpr char kTail[] = " bytes failed\n";
  // Room for the texts and the 20 digits of the largest size.
  char line[sizeof kHead + 20 + sizeof kTail];
  char* p = std::copy(kHead, kHead + sizeof kHead - 1, line);
  p = std::to_chars(p, p + 20, size).ptr;
  p = std::copy(kTail, kTail + sizeof kTail - 1, p);
  tracemill::stdout_sink().flush_lines();
  ssize_t ignored = ::write(2, line, static_cast<std::size_t>(p - line));
  (void)ignored;
  std::abort();
}

void* try_allocate(std::size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }

void* try_allocate_aligned(std::size_t size, std::align_val_t align) noexcept {
  auto alignment = static_cast<std::size_t>(align);
  // aligned_alloc wants a multiple of the alignment; a size too close to the maximum to round
  // up cannot be met.
  std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  if (rounded < size) return nullptr;
  return std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
}

void* allocate(std::size_t size) {
  void* p = try_allocate(size);
  if (p == nullptr) allocation_failed(size);
  return p;
}

void* allocate_aligned(std::size_t size, std::align_val_t align) {
  void* p = try_allocate_aligned(size, align);
  if (p == nullptr) allocation_failed(size);
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate_aligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocate_aligned(size, a); }
// The nothrow forms answer a failed request with null, as their callers expect.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return try_allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return try_allocate_aligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return try_allocate_aligned(size, a);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

#endif
