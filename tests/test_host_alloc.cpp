// Once Open has returned, the audio path allocates nothing: this program
// replaces the global allocation functions (and, on glibc without sanitizers,
// malloc itself, which the FFT library would use) and counts the calls made on
// every thread while a stream plays through the exported record, in every mode
// and back end, across a Flush, a mode change, setting changes, a back-end
// switch and a Write longer than an engine chunk.
#if defined(__GNUC__) && !defined(__clang__)
// The replacements below pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "support/HostHarness.h"

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

struct AllocCase {
  const char* name;
  int mode;
  int channels;
  int sse2;
  int otherMode;  // the mode switched to half way
  friend void PrintTo(const AllocCase& c, std::ostream* os) { *os << c.name; }
};

class HostAlloc : public HostFixture, public ::testing::WithParamInterface<AllocCase> {
 protected:
  int WriteBlock(int frames) {
    pcm_.resize(static_cast<size_t>(frames) * GetParam().channels * 2);
    for (size_t i = 0; i < pcm_.size(); ++i) pcm_[i] = static_cast<char>((i * 2654435761u) >> 13);
    return rec_->Write(pcm_.data(), static_cast<int>(pcm_.size()));
  }
  std::vector<char> pcm_;
};

TEST_P(HostAlloc, SteadyStreamAllocatesNothingOnAnyThread) {
  const AllocCase& c = GetParam();
  if (c.sse2 && !CSNLib::IsSSE2Supported()) GTEST_SKIP() << "no SSE2 on this machine";
  InitModule();
  CfgSet(Sonavel.m_Config.Mode, int32_t{c.mode});
  CfgSet(Sonavel.m_Config.SSE2Enable, int32_t{c.sse2});
  CfgSet(Sonavel.m_Config.DelayL, int32_t{20});
  CfgSet(Sonavel.m_Config.LFERedir, int32_t{1});
  ASSERT_EQ(rec_->Open(48000, c.channels, 16, 2000, 500), 0);
  // The recording slave keeps what it gets: room for all of it beforehand.
  slave_->calls.reserve(1 << 16);
  slave_->writeSizes.reserve(1 << 16);
  slave_->data.reserve(64u << 20);
  WriteBlock(20000);  // the block buffer of this test grows here, not below
  int refused = 0;

  g_counting.store(true);
  for (int i = 0; i < 120; ++i) {
    refused += WriteBlock(576);
    if (i == 30) rec_->Flush(0);
    if (i == 50) Sonavel.SetSetting(&Config::Mode, c.otherMode);
    if (i == 60) Sonavel.SetSetting(&Config::DelaySR, 35);
    if (i == 70) Sonavel.SetSetting(&Config::SSE2Enable, c.sse2 ^ 1);
    if (i == 80) Sonavel.SetSetting(&Config::Mode, c.mode);
    if (i == 90) Sonavel.SetSetting(&Config::MasterGain, -3);
    rec_->CanWrite();
    rec_->GetOutputTime();
  }
  refused += WriteBlock(20000);
  rec_->Pause(1);
  rec_->Pause(0);
  g_counting.store(false);

  EXPECT_EQ(refused, 0);
  EXPECT_EQ(g_allocations.exchange(0), 0);
  EXPECT_GT(OutFrames(), 48000);
  rec_->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HostAlloc,
    ::testing::Values(AllocCase{"BypassX87", kModeBypass, 2, 0, kModeHeadphones},
                      AllocCase{"PassiveSse2", kModePassive, 2, 1, kModeActive},
                      AllocCase{"ActiveX87", kModeActive, 2, 0, kModeHeadphones},
                      AllocCase{"ActiveSse2", kModeActive, 2, 1, kModeEncoder},
                      AllocCase{"HeadphonesX87", kModeHeadphones, 6, 0, kModeActive},
                      AllocCase{"HeadphonesSse2", kModeHeadphones, 2, 1, kModeBypass},
                      AllocCase{"EncoderSse2", kModeEncoder, 6, 1, kModeHeadphones}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sn::test
