// Counts the allocations a program makes while g_counting is set: it replaces
// the global allocation functions (and, on glibc without sanitizers, malloc
// itself, which libraries would use), on the threads of the audio path: those
// that called CountThisThread (the player's, and the DSP thread through the
// host's chunk hook). The user-interface thread, which handles the icon and
// the balloon checks at its own pace, is not one of them.
//
// The replacements are definitions: include this header in exactly one source
// file of a test program.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
// The replacements below pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Set to count; g_allocations holds the count.
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};
thread_local bool t_counted = false;

// Marks the calling thread as one of the audio path's.
void CountThisThread() { t_counted = true; }

void Tally() {
  if (g_counting.load(std::memory_order_relaxed) && t_counted) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

void* Allocate(std::size_t n, std::size_t align) {
  Tally();
  if (n == 0) n = 1;
  if (align <= alignof(std::max_align_t)) return std::malloc(n);
  return std::aligned_alloc(align, (n + align - 1) / align * align);
}

}  // namespace

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) noexcept {
  Tally();
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) noexcept {
  Tally();
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) noexcept {
  Tally();
  return __libc_realloc(p, n);
}
}
#endif

void* operator new(std::size_t n) {
  if (void* p = Allocate(n, 0)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) {
  if (void* p = Allocate(n, static_cast<std::size_t>(a))) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) { return operator new(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

