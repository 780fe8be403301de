// Each processing mode end to end: PCM in through the exported record, the
// engine on the DSP thread, six-channel PCM out at the recording slave.
// (Passive decoding and the headphone framing run in test_module_record, on
// Linux and under Wine.)
#include <cmath>
#include <functional>
#include <vector>

#include "config/Config.h"
#include "engine/BinauralTable.h"
#include "host/Sonavel.h"
#include "support/HostHarness.h"

namespace sn {
namespace {

constexpr double kIn = 0.707;  // full-scale headroom of the input conversion

class HostModeTest : public test::HostFixture, public ::testing::WithParamInterface<int> {
 protected:
  // Opens a 48 kHz 16-bit stream of `channels`, writes `frames` frames of
  // value(frame, channel) in the player's 576-frame blocks, and closes.
  void Play(int mode, int channels, int frames, const std::function<int(int, int)>& value) {
    InitModule();
    CfgSet(Sonavel.m_Config.Mode, int32_t{mode});
    CfgSet(Sonavel.m_Config.SSE2Enable, int32_t{GetParam()});
    // Music with its default 0 ms surround delay and full centre weight: no
    // delay or centre spill to account for.
    CfgSet(Sonavel.m_Config.SurroundMode, int32_t{1});
    ASSERT_EQ(rec_->Open(48000, channels, 16, 2000, 500), 0);
    for (int at = 0; at < frames; at += 576) {
      const int n = std::min(576, frames - at);
      auto pcm = Pcm16(n, channels, [&](int f, int c) { return value(at + f, c); });
      ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
    }
    rec_->Close();
  }
  // Root mean square of output channel c over frames [from, to), in codes.
  double Rms(int c, int from, int to) const {
    double sum = 0.0;
    for (int f = from; f < to; ++f) sum += static_cast<double>(OutSample(f, c)) * OutSample(f, c);
    return std::sqrt(sum / (to - from));
  }
};

TEST_P(HostModeTest, ActiveDecoderSteersAMonoSourceToTheCentre) {
  // One second of a steady in-phase pair: the 7.95 Hz steering has settled.
  Play(kModeActive, 2, 48000, [](int, int) { return 10000; });
  ASSERT_EQ(OutFrames(), 48000);
  const double x = 10000 * kIn;
  const int last = 47999;
  EXPECT_NEAR(OutSample(last, 0), 0.1034 * x, 0.002 * x);
  EXPECT_NEAR(OutSample(last, 1), 0.1034 * x, 0.002 * x);
  EXPECT_NEAR(OutSample(last, 2), 1.356 * x, 0.005 * x);
  EXPECT_EQ(OutSample(last, 3), 0);
  EXPECT_NEAR(OutSample(last, 4), 0.0362 * x, 0.002 * x);
  EXPECT_NEAR(OutSample(last, 5), -0.0362 * x, 0.002 * x);
  // Unsteered at the start: the centre begins at half of l + r.
  EXPECT_NEAR(OutSample(0, 2), 0.501 * 2 * x, 0.01 * x);
}

TEST_P(HostModeTest, EncoderFoldsCentreAndLfeIntoBothSides) {
  Play(kModeEncoder, 6, 1000, [](int, int c) { return c == 2 ? 8000 : (c == 3 ? 2000 : 0); });
  ASSERT_EQ(OutFrames(), 1000);
  const double expect = (0.707 * 8000 + 2.235 * 2000) * kIn;
  for (int f : {0, 500, 999}) {
    EXPECT_NEAR(OutSample(f, 0), expect, 2.0);
    EXPECT_NEAR(OutSample(f, 1), expect, 2.0);
    for (int c = 2; c < 6; ++c) EXPECT_EQ(OutSample(f, c), 0);
  }
}

TEST_P(HostModeTest, EncoderMixesASurroundLeftToBothSidesInOppositeRatio) {
  // A 1 kHz tone on SL of a five-channel source: well inside the 100 Hz to 7 kHz band.
  Play(kModeEncoder, 5, 9600, [](int f, int c) {
    return c == 3 ? static_cast<int>(std::lround(12000 * std::sin(2 * M_PI * 1000.0 * f / 48000.0))) : 0;
  });
  ASSERT_EQ(OutFrames(), 9600);
  const double l = Rms(0, 4800, 9600);
  const double r = Rms(1, 4800, 9600);
  EXPECT_NEAR(l / r, 0.8165 / 0.5774, 0.03);
  EXPECT_NEAR(l, 0.8165 * 12000 * kIn / std::sqrt(2.0), 0.05 * l);
}

struct Unprocessed {
  int mode;
  int channels;
};

TEST_P(HostModeTest, ModesWithoutAKernelForTheSourcePassItThrough) {
  const Unprocessed cases[] = {{kModePassive, 6}, {kModeActive, 5}, {kModeActive, 1}, {kModeEncoder, 2},
                               {kModeEncoder, 1}, {kModeBypass, 6}};
  for (const Unprocessed& u : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << u.mode << ", " << u.channels << " channels");
    *slave_ = RecSlaveState{};
    Play(u.mode, u.channels, 600, [](int f, int c) { return 1000 * (c + 1) + f; });
    rec_->Quit();
    ASSERT_EQ(OutFrames(), 600);
    // Source channel order per count, mapped to output lanes.
    const std::vector<int> lanes = u.channels == 1   ? std::vector<int>{2}
                                   : u.channels == 2 ? std::vector<int>{0, 1}
                                   : u.channels == 5 ? std::vector<int>{0, 1, 2, 4, 5}
                                                     : std::vector<int>{0, 1, 2, 3, 4, 5};
    for (int f : {0, 321, 599}) {
      std::vector<double> want(6, 0.0);
      for (size_t c = 0; c < lanes.size(); ++c) want[lanes[c]] = (1000.0 * (c + 1) + f) * kIn;
      for (int c = 0; c < 6; ++c) EXPECT_NEAR(OutSample(f, c), want[c], 1.01) << "frame " << f << " lane " << c;
    }
  }
}

TEST_P(HostModeTest, BassRedirectionMovesFrontBassIntoTheLfe) {
  InitModule();
  CfgSet(Sonavel.m_Config.LFERedir, int32_t{1});
  Play(kModeBypass, 2, 48000, [](int, int c) { return c == 0 ? 20000 : 0; });
  ASSERT_EQ(OutFrames(), 48000);
  const double x = 20000 * kIn;
  EXPECT_NEAR(OutSample(47999, 0), 0, 2);
  EXPECT_NEAR(OutSample(47999, 3), 0.316 * x, 2);
  EXPECT_EQ(OutSample(47999, 4), 0);
}

TEST_P(HostModeTest, HeadphonesTakeEveryBlockAndKeepTheFrameTotalWhenLeft) {
  InitModule();
  CfgSet(Sonavel.m_Config.Mode, int32_t{kModeHeadphones});
  CfgSet(Sonavel.m_Config.SSE2Enable, int32_t{GetParam()});
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  auto pcm = Pcm16(576, 2, [](int f, int c) { return c == 0 ? (f * 97) % 20000 - 10000 : 0; });
  int written = 0;
  for (int b = 0; b < 20; ++b) written += rec_->Write(pcm.data(), static_cast<int>(pcm.size())) == 0;
  EXPECT_EQ(written, 20);
  EXPECT_EQ(OutFrames(), 8192);  // 11520 frames in, one whole block out
  // A left-only source sounds louder in the left ear (the room evens it out).
  EXPECT_GT(Rms(0, 2000, 8192), 1.15 * Rms(1, 2000, 8192));
  // Leaving headphone mode: the new block, then the held frames as silence.
  CfgSet(Sonavel.m_Config.Mode, int32_t{kModeBypass});
  ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
  EXPECT_EQ(OutFrames(), 20 * 576 + 576);
  for (int f = 0; f < 576; ++f) ASSERT_NEAR(OutSample(8192 + f, 0), ((f * 97) % 20000 - 10000) * kIn, 1.01) << f;
  for (int f = 8192 + 576; f < 21 * 576; ++f) ASSERT_EQ(OutSample(f, 0), 0) << f;
}

TEST_P(HostModeTest, CloseAfterAShortHeadphoneStreamDropsTheHeldFrames) {
  Play(kModeHeadphones, 2, 3000, [](int, int) { return 20000; });
  EXPECT_EQ(OutFrames(), 0);
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  auto quiet = Pcm16(8192, 2, [](int, int) { return 0; });
  ASSERT_EQ(rec_->Write(quiet.data(), static_cast<int>(quiet.size())), 0);
  ASSERT_EQ(OutFrames(), 8192);
  for (int f = 0; f < 8192; ++f) ASSERT_EQ(OutSample(f, 0), 0) << f;
}

INSTANTIATE_TEST_SUITE_P(BackEnds, HostModeTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& i) { return i.param ? "SSE2" : "x87"; });

}  // namespace
}  // namespace sn
