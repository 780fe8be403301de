// Headphone rendering allocates nothing once its data is built and a block's
// worth of buffers exists: this program replaces the global allocation
// functions (and, on glibc without sanitizers, malloc itself, which the FFT
// library would use) to count the calls made while a steady stream is processed.
#if defined(__GNUC__) && !defined(__clang__)
// The replacements below pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "engine/DspState.h"
#include "engine/SNLib.h"
#include "support/KernelTest.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};

void* Allocate(std::size_t n, std::size_t align) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
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
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) noexcept {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) noexcept {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
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

namespace sn::test {
namespace {

class HeadphoneAlloc : public EngineFixture, public ::testing::WithParamInterface<bool> {};

// A 6-channel 48 kHz stream in 576-frame chunks, as the host hands them over:
// after the first completed block, nothing on the way allocates.
TEST_P(HeadphoneAlloc, SteadyStreamAllocatesNothing) {
  if (GetParam() && !CSNLib::IsSSE2Supported()) GTEST_SKIP() << "no SSE2";
  CfgSet(cfg_.Mode, static_cast<int32_t>(kModeHeadphones));
  CfgSet(cfg_.SSE2Enable, static_cast<int32_t>(GetParam()));
  Recalc(48000);
  CSNLib engine;
  std::mt19937 rng(1);
  const OwnedChunk source = RandomChunk(rng, 576);
  OwnedChunk chunk;
  uint32_t emitted = 0;
  for (int i = 0; i < 200; ++i) {
    if (i == 20) g_counting.store(true);  // 11520 frames in: one block returned
    chunk.buf.Resize(576);
    std::memcpy(static_cast<void*>(chunk.buf.data), source.buf.data, 576 * sizeof(SNCHUNK_INTCHUNK));
    engine.ProcessChunk(6, chunk.buf);
    emitted += chunk.buf.count;
  }
  g_counting.store(false);
  EXPECT_EQ(emitted, 200u * 576 / kHeadphoneBlock * kHeadphoneBlock);
  EXPECT_EQ(g_allocations.exchange(0), 0);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, HeadphoneAlloc, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "sse2" : "x87"; });

}  // namespace
}  // namespace sn::test
