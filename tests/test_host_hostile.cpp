// What a hostile or careless player must not break: calls from the wrong
// thread at the wrong time, calls after a stream ended or was refused, absurd
// formats and answers, and the rates and modes at the edges of what the engine
// serves.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "support/HostHarness.h"

namespace sn::test {
namespace {

using namespace std::chrono_literals;

class Hostile : public HostFixture {
 protected:
  std::vector<char> Block(int frames, int channels, int value) {
    return Pcm16(frames, channels, [value](int, int) { return value; });
  }
  int Write(std::vector<char>& pcm) { return rec_->Write(pcm.data(), static_cast<int>(pcm.size())); }
};

// Close and Quit from another thread while the player's thread is inside a
// slow slave Write: they wait for it; nothing it reads is freed under it (the
// address sanitizer build sees every such read).
TEST_F(Hostile, CloseAndQuitWaitForAWriteInsideTheSlave) {
  for (bool quit : {false, true}) {
    SCOPED_TRACE(quit ? "Quit" : "Close");
    InitModule();
    ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
    slave_->writeDelayMs = 150;
    auto pcm = Block(2000, 2, 3000);  // three slave pieces of output
    std::atomic<bool> writeDone{false};
    std::thread player([&] {
      Write(pcm);
      writeDone = true;
    });
    while (std::atomic_ref<int>(slave_->writesEntered).load() == 0 && !writeDone) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);  // the player's thread is inside the slave now
    if (quit)
      rec_->Quit();
    else
      rec_->Close();
    EXPECT_TRUE(writeDone) << "returned while a Write was still inside the slave";
    player.join();
    slave_->writeDelayMs = 0;
    if (!quit) rec_->Quit();
    slave_->Clear();
  }
}

// A Write after Close, after an Open the module refused or after one the slave
// failed is not forwarded and answers "not written"; a Close after a refused
// Open is not forwarded either.
TEST_F(Hostile, NothingReachesASlaveWithoutAnOpenStream) {
  InitModule();
  auto pcm = Block(576, 2, 1000);
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  rec_->Close();
  slave_->Clear();
  EXPECT_EQ(Write(pcm), 1);
  EXPECT_EQ(rec_->Write(pcm.data(), 0), 1);
  EXPECT_EQ(slave_->Count("Write"), 0);

  EXPECT_EQ(rec_->Open(48000, 3, 16, 2000, 500), -1);
  EXPECT_EQ(Write(pcm), 1);
  rec_->Close();
  EXPECT_EQ(slave_->Count("Write"), 0);
  EXPECT_EQ(slave_->Count("Close"), 0);

  slave_->openResult = -1;
  EXPECT_EQ(rec_->Open(48000, 2, 16, 2000, 500), -1);
  EXPECT_FALSE(Sonavel.IsOpen());
  EXPECT_EQ(Write(pcm), 1);
  rec_->Close();
  EXPECT_EQ(slave_->Count("Write"), 0);
  EXPECT_EQ(slave_->Count("Close"), 0);

  slave_->openResult = 0;
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  EXPECT_EQ(Write(pcm), 0);
  EXPECT_EQ(slave_->Count("Write"), 1);
}

// Rates outside 4 kHz to 768 kHz are refused like a channel count; negative
// buffer lengths never reach the slave.
TEST_F(Hostile, AbsurdRatesAreRefusedAndBufferLengthsClamped) {
  InitModule();
  for (int rate : {INT_MIN, -1, 0, 1, 3999, 768001, INT_MAX}) {
    EXPECT_EQ(rec_->Open(rate, 2, 16, 2000, 500), -1) << rate;
    EXPECT_EQ(slave_->Count("Open"), 0) << rate;
  }
  for (int rate : {4000, 8000, 384000, 768000}) {
    slave_->Clear();
    EXPECT_EQ(rec_->Open(rate, 6, 16, -5, INT_MIN), 0) << rate;
    EXPECT_EQ(slave_->open[3], 0);
    EXPECT_EQ(slave_->open[4], 0);
    auto pcm = Block(1000, 6, 100);
    EXPECT_EQ(Write(pcm), 0) << rate;
    EXPECT_EQ(OutFrames(), 1000) << rate;
    rec_->Close();
  }
}

// In headphone mode an ended stream leaves nothing behind: after a Write of
// nothing and a Close, a new stream of silence comes out silent.
TEST_F(Hostile, NoSampleOfAStreamIsHeardInTheNext) {
  InitModule();
  CfgSet(Sonavel.m_Config.Mode, int32_t{kModeHeadphones});
  ASSERT_EQ(rec_->Open(48000, 6, 16, 2000, 500), 0);
  auto loud = Pcm16(12000, 6, [](int f, int c) { return ((f * 7919 + c * 104729) % 60000) - 30000; });
  EXPECT_EQ(Write(loud), 0);
  EXPECT_EQ(rec_->Write(loud.data(), 0), 0);
  rec_->Close();
  ASSERT_EQ(rec_->Open(48000, 6, 16, 2000, 500), 0);
  slave_->Clear();
  auto silence = Block(20000, 6, 0);
  EXPECT_EQ(Write(silence), 0);
  ASSERT_GT(OutFrames(), 0);
  int loudSamples = 0;
  for (int f = 0; f < OutFrames(); ++f)
    for (int c = 0; c < 6; ++c) loudSamples += OutSample(f, c) != 0;
  EXPECT_EQ(loudSamples, 0);
}

// At a rate the binaural filters do not serve, both ears carry a mono source
// and every channel of 5.1 but the LFE.
TEST_F(Hostile, HeadphonesAtAnUnservedRateKeepEveryChannel) {
  InitModule();
  CfgSet(Sonavel.m_Config.Mode, int32_t{kModeHeadphones});
  const double in = 10000 * 0.707;
  ASSERT_EQ(rec_->Open(32000, 1, 16, 2000, 500), 0);
  auto mono = Block(1000, 1, 10000);
  EXPECT_EQ(Write(mono), 0);
  ASSERT_EQ(OutFrames(), 1000);
  EXPECT_NEAR(OutSample(500, 0), in * 0.7071, 2.0);
  EXPECT_NEAR(OutSample(500, 1), in * 0.7071, 2.0);
  rec_->Close();

  slave_->Clear();
  ASSERT_EQ(rec_->Open(32000, 6, 16, 2000, 500), 0);
  // C, LFE, SL and SR only: L and R of the source silent.
  auto film = Pcm16(1000, 6, [](int, int c) { return c == 2 ? 8000 : (c == 3 ? 9000 : (c == 4 ? 4000 : (c == 5 ? -4000 : 0))); });
  EXPECT_EQ(Write(film), 0);
  ASSERT_EQ(OutFrames(), 1000);
  EXPECT_NEAR(OutSample(500, 0), 0.707 * 0.7071 * (8000 + 4000), 2.0);
  EXPECT_NEAR(OutSample(500, 1), 0.707 * 0.7071 * (8000 - 4000), 2.0);
  for (int c = 2; c < 6; ++c) EXPECT_EQ(OutSample(500, c), 0);
}

// At 8 kHz every filtered mode keeps a 1 kHz tone at its level: no corner of
// the filters above the Nyquist frequency turns them unstable.
struct LowRateCase {
  const char* name;
  int mode;
  int channels;
  int lfeRedir;
  int inChannel;   // where the tone goes in
  int outChannel;  // where it is measured
  double gain;     // expected output level over input level
  friend void PrintTo(const LowRateCase& c, std::ostream* os) { *os << c.name; }
};

class HostileLowRate : public Hostile, public ::testing::WithParamInterface<LowRateCase> {};

TEST_P(HostileLowRate, ToneKeepsItsLevel) {
  const LowRateCase& c = GetParam();
  InitModule();
  CfgSet(Sonavel.m_Config.Mode, int32_t{c.mode});
  CfgSet(Sonavel.m_Config.LFERedir, int32_t{c.lfeRedir});
  CfgSet(Sonavel.m_Config.SurroundMode, int32_t{1});
  const int rate = 8000, frames = 3 * rate;
  ASSERT_EQ(rec_->Open(rate, c.channels, 16, 2000, 500), 0);
  const double amp = 8000;
  auto pcm = Pcm16(frames, c.channels, [&](int f, int ch) {
    return ch == c.inChannel ? static_cast<int>(std::lround(amp * std::sin(2 * M_PI * 1000.0 * f / rate))) : 0;
  });
  EXPECT_EQ(Write(pcm), 0);
  ASSERT_EQ(OutFrames(), frames);
  auto rms = [&](int from, int to) {
    double s = 0;
    for (int f = from; f < to; ++f) s += static_cast<double>(OutSample(f, c.outChannel)) * OutSample(f, c.outChannel);
    return std::sqrt(s / (to - from));
  };
  const double want = c.gain * 0.707 * amp / std::sqrt(2.0);
  EXPECT_NEAR(rms(rate, 2 * rate), want, 0.15 * want) << "second second";
  EXPECT_NEAR(rms(2 * rate, 3 * rate), want, 0.15 * want) << "third second";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HostileLowRate,
    ::testing::Values(LowRateCase{"EncoderSurround", kModeEncoder, 6, 0, 4, 0, 0.8165},
                      LowRateCase{"EncoderCentre", kModeEncoder, 6, 0, 2, 1, 0.707},
                      LowRateCase{"BypassBassRedirection", kModeBypass, 2, 1, 0, 0, 1.0},
                      LowRateCase{"PassiveAntiPhaseLeft", kModePassive, 2, 0, 0, 0, 0.707}),
    [](const auto& info) { return std::string(info.param.name); });

// A save that fails is reported, never silent.
TEST_F(Hostile, AFailedSaveIsReported) {
  InitModule();
  const std::string blocker = dir_ + "/not-a-directory";
  std::ofstream(blocker) << "x";
  setenv("SONAVEL_REGISTRY", (blocker + "/user.reg").c_str(), 1);
  ::testing::internal::CaptureStderr();
  rec_->Quit();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("settings could not be saved"), std::string::npos) << err;
}

}  // namespace
}  // namespace sn::test
