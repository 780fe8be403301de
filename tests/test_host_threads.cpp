// The plug-in's threads at their edges: an Init that fails half way leaves
// nothing running and the next Init starts cleanly; a DSP step that outlasts
// the hand-off's time-out is answered as "not written" and its late
// acknowledgement is not taken for the next chunk's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "support/HostHarness.h"

namespace sn::test {
namespace {

std::atomic<int> g_starts{0};
std::atomic<int> g_failAt{-1};

platform::Thread* FlakyStarter(platform::ThreadProc proc, void* arg) {
  if (g_starts.fetch_add(1) == g_failAt.load()) return nullptr;
  return platform::StartThread(proc, arg);
}

class HostThreads : public HostFixture {
 protected:
  void TearDown() override {
    Sonavel.SetThreadStarterForTest(nullptr);
    Sonavel.SetHandOffTimeoutForTest(0);
    Sonavel.SetChunkHookForTest(nullptr);
    HostFixture::TearDown();
  }
};

TEST_F(HostThreads, FailedInitLeavesNothingRunningAndTheNextInitWorks) {
  for (int failAt : {0, 1}) {  // the user-interface thread, then the DSP thread
    SCOPED_TRACE(failAt ? "DSP thread refused" : "user-interface thread refused");
    g_starts = 0;
    g_failAt = failAt;
    Sonavel.SetThreadStarterForTest(&FlakyStarter);
    EXPECT_NE(Sonavel.Init(), nullptr);
    EXPECT_FALSE(Sonavel.ThreadsRunning());

    g_failAt = -1;
    EXPECT_EQ(Sonavel.Init(), nullptr);
    EXPECT_TRUE(Sonavel.ThreadsRunning());
    SetSlavePath(Sonavel.m_Config, platform::FromUtf8(slavePath_).c_str());
    CfgSet(Sonavel.m_Config.Mode, int32_t{kModeBypass});
    ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
    auto pcm = Pcm16(576, 2, [](int, int) { return 1000; });
    EXPECT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0) << "the DSP thread answers";
    EXPECT_EQ(OutFrames(), 576);
    rec_->Close();
    rec_->Quit();
    slave_->Clear();
  }
}

std::atomic<int> g_slowChunks{0};
std::atomic<bool> g_slowDone{false};

void SlowOnce() {
  if (g_slowChunks.fetch_sub(1) > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_slowDone = true;
  }
}

TEST_F(HostThreads, ALateChunkIsNotWrittenAndItsAcknowledgementIsNotReused) {
  InitModule();
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  Sonavel.SetHandOffTimeoutForTest(50);
  g_slowChunks = 1;
  g_slowDone = false;
  Sonavel.SetChunkHookForTest(&SlowOnce);

  auto late = Pcm16(576, 2, [](int, int) { return 2000; });
  auto next = Pcm16(100, 2, [](int f, int c) { return c == 0 ? f : -f; });
  EXPECT_EQ(rec_->Write(late.data(), static_cast<int>(late.size())), 1) << "timed out: not written";
  EXPECT_EQ(rec_->Write(next.data(), static_cast<int>(next.size())), 1) << "the late chunk still holds the buffer";
  EXPECT_TRUE(slave_->data.empty());
  while (!g_slowDone) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  // The late acknowledgement is still signalled; the next Write must wait for
  // its own chunk, not take that one and send the late chunk's frames.
  EXPECT_EQ(rec_->Write(next.data(), static_cast<int>(next.size())), 0);
  ASSERT_EQ(OutFrames(), 100);
  for (int f = 0; f < 100; f += 33) {
    EXPECT_NEAR(OutSample(f, 0), f * 0.707, 1.0) << f;
    EXPECT_NEAR(OutSample(f, 1), -f * 0.707, 1.0) << f;
  }
  EXPECT_EQ(rec_->Write(next.data(), static_cast<int>(next.size())), 0);
  EXPECT_EQ(OutFrames(), 200);
  rec_->Close();
}

}  // namespace
}  // namespace sn::test
