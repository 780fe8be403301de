// Once Open has returned, the audio path allocates nothing: this program
// replaces the global allocation functions (and, on glibc without sanitizers,
// malloc itself, which the FFT library would use) and counts the calls made on
// every thread while a stream plays through the exported record, in every mode
// and back end, across a Flush, a mode change, setting changes, a back-end
// switch, a Write longer than an engine chunk and the end of the stream played
// out (with the slave short of room, and again after more data).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "support/CountingAllocator.h"
#include "support/HostHarness.h"

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
  void TearDown() override {
    Sonavel.SetChunkHookForTest(nullptr);
    HostFixture::TearDown();
  }
  int WriteBlock(int frames) {
    pcm_.resize(static_cast<size_t>(frames) * GetParam().channels * 2);
    for (size_t i = 0; i < pcm_.size(); ++i) pcm_[i] = static_cast<char>((i * 2654435761u) >> 13);
    return rec_->Write(pcm_.data(), static_cast<int>(pcm_.size()));
  }
  std::vector<char> pcm_;
};

TEST_P(HostAlloc, SteadyStreamAllocatesNothingOnTheAudioPath) {
  const AllocCase& c = GetParam();
  if (c.sse2 && !CSNLib::IsSSE2Supported()) GTEST_SKIP() << "no SSE2 on this machine";
  InitModule();
  // The audio path's threads: this one (the player's) and the DSP thread.
  CountThisThread();
  Sonavel.SetChunkHookForTest(&CountThisThread);
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
  // The end of the stream: first with no room at the slave, then with some.
  slave_->canWriteBytes = 0;
  const int waitedForRoom = rec_->IsPlaying();
  slave_->canWriteBytes = 65536;
  int polls = 0;
  while (rec_->IsPlaying() && polls < 100) ++polls;
  refused += WriteBlock(3000);
  while (rec_->IsPlaying() && polls < 200) ++polls;
  g_counting.store(false);

  EXPECT_EQ(refused, 0);
  EXPECT_EQ(g_allocations.exchange(0), 0);
  EXPECT_EQ(polls, 0);
  // Headphones and the delayed L line hold something at the end.
  EXPECT_EQ(waitedForRoom, 1);
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
