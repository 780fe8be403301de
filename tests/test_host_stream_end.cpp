// The end of a stream through the exported record: the player's first
// IsPlaying after its last Write plays out what the engine still holds (the
// headphone renderer's held frames and its tail, what the delay lines hold)
// before the slave's IsPlaying is answered; a Close or a Flush without that
// signal discards it.
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "engine/BinauralTable.h"
#include "engine/HeadphoneRenderer.h"
#include "host/Sonavel.h"
#include "support/HeadphoneReference.h"
#include "support/HostHarness.h"

namespace sn {
namespace {

constexpr int kRate = 48000;
constexpr double kIn = 0.707;  // full-scale headroom of the input conversion
constexpr int kBlock = 8192;

// The last non-zero tap of any response of the 48 kHz table: the tail a
// stream's last frame leaves behind it.
int TailFrames() {
  int last = 0;
  const float* table = BinauralTableFor(kRate);
  for (int r = 0; r < kBinauralResponses; ++r)
    for (int i = kBinauralTaps - 1; i > last; --i)
      if (table[r * kBinauralTaps + i] != 0.0f) {
        last = i;
        break;
      }
  return last;
}

class StreamEnd : public test::HostFixture {
 protected:
  using Value = std::function<int(int frame, int channel)>;

  // Opens a 48 kHz 16-bit stream in `mode` and writes `frames` frames of
  // value(frame, channel) in the player's 576-frame blocks.
  void Write(int mode, int channels, int frames, const Value& value) {
    CfgSet(Sonavel.m_Config.Mode, int32_t{mode});
    ASSERT_EQ(rec_->Open(kRate, channels, 16, 2000, 500), 0);
    for (int at = 0; at < frames; at += 576) {
      const int n = std::min(576, frames - at);
      auto pcm = Pcm16(n, channels, [&](int f, int c) { return value(at + f, c); });
      ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
    }
  }
  // The player's wait at the end of a track: IsPlaying until it says 0.
  // Returns the number of calls that said 1.
  int WaitForEnd() {
    int busy = 0;
    while (rec_->IsPlaying() && busy < 100) ++busy;
    return busy;
  }
  // The last frame of lanes 0..5 that is not silent, or -1.
  int LastSound() const {
    for (int f = OutFrames() - 1; f >= 0; --f)
      for (int c = 0; c < 6; ++c)
        if (OutSample(f, c) != 0) return f;
    return -1;
  }
};

// ---- Headphones -------------------------------------------------------------

struct ShortStream {
  const char* name;
  int frames;
  std::vector<int> impulses;  // frames with an impulse on C, and one on SR 17 frames later
  int sse2;
};

class HeadphoneStreamEnd : public StreamEnd, public ::testing::WithParamInterface<ShortStream> {};

// Every input frame's response reaches the slave at its own frame, the last
// frames and the tail after them included: the output is the whole
// convolution, N + tail frames long, and nothing else follows.
TEST_P(HeadphoneStreamEnd, PlaysOutEveryFrameAndTheTail) {
  const ShortStream& s = GetParam();
  if (s.sse2 && !CSNLib::IsSSE2Supported()) GTEST_SKIP() << "no SSE2";
  InitModule();
  CfgSet(Sonavel.m_Config.SSE2Enable, int32_t{s.sse2});
  std::vector<float> centre(s.frames, 0.0f), sr(s.frames, 0.0f);
  for (int f : s.impulses) {
    centre[f] = static_cast<float>(20000 * kIn / 32768.0);
    if (f + 17 < s.frames) sr[f + 17] = static_cast<float>(-12000 * kIn / 32768.0);
  }
  Write(kModeHeadphones, 6, s.frames, [&](int f, int c) {
    return c == 2 ? static_cast<int>(std::lround(centre[f] * 32768.0 / kIn))
                  : (c == 5 ? static_cast<int>(std::lround(sr[f] * 32768.0 / kIn)) : 0);
  });
  EXPECT_EQ(OutFrames(), s.frames / kBlock * kBlock) << "whole blocks only before the end";

  slave_->isPlaying = 1;
  EXPECT_EQ(rec_->IsPlaying(), 1);
  const int tail = TailFrames();
  ASSERT_EQ(OutFrames(), s.frames + tail);
  slave_->isPlaying = 0;
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_EQ(OutFrames(), s.frames + tail) << "the end plays out once";

  double worst = 0.0;
  for (int t = 0; t < OutFrames(); ++t) {
    for (int ear = 0; ear < 2; ++ear) {
      const double want = kHeadphoneLevel * 32768.0 *
                          (test::DirectConvolutionAt(centre.data(), centre.size(), test::TableResponse(0, 2, ear), t) +
                           test::DirectConvolutionAt(sr.data(), sr.size(), test::TableResponse(0, 4, ear), t));
      worst = std::max(worst, std::fabs(OutSample(t, ear) - want));
    }
    for (int c = 2; c < 6; ++c) ASSERT_EQ(OutSample(t, c), 0) << t;
  }
  EXPECT_LE(worst, 1.5);
  EXPECT_GT(std::abs(OutSample(s.impulses.back(), 0)), 1000) << "the last impulse is heard";
  rec_->Close();
  EXPECT_EQ(OutFrames(), s.frames + tail);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HeadphoneStreamEnd,
    ::testing::Values(ShortStream{"ShorterThanABlock", 4800, {0, 1234, 4799}, 0},
                      ShortStream{"ShorterThanABlockSse2", 4800, {0, 4782, 4799}, 1},
                      ShortStream{"OneBlockAndALittle", kBlock + 700, {0, 8191, 8192, kBlock + 699}, 0},
                      ShortStream{"ExactlyOneBlock", kBlock, {100, kBlock - 1}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop (Close) or a seek (Flush) without the end-of-track signal discards what
// the renderer holds; the next stream starts from silence.
TEST_F(StreamEnd, CloseOrFlushWithoutTheSignalDiscardsTheEnd) {
  InitModule();
  const auto loud = [](int, int c) { return c == 2 ? 15000 : 0; };
  Write(kModeHeadphones, 6, kBlock + 700, loud);
  rec_->Close();
  EXPECT_EQ(OutFrames(), kBlock);

  slave_->Clear();
  Write(kModeHeadphones, 6, kBlock + 700, loud);
  rec_->Flush(0);
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_EQ(OutFrames(), kBlock) << "after a seek nothing is played out";
  rec_->Close();

  // The next stream: silence in, silence out, nothing left over.
  slave_->Clear();
  Write(kModeHeadphones, 6, 2 * kBlock, [](int, int) { return 0; });
  ASSERT_EQ(OutFrames(), 2 * kBlock);
  for (int f = 0; f < OutFrames(); ++f) ASSERT_EQ(OutSample(f, 0), 0) << f;
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_EQ(OutFrames(), 2 * kBlock) << "a silent end owes only silence, which is not sent";
}

// More data after the end began to play out continues the stream; its own end
// plays out at the next signal.
TEST_F(StreamEnd, WritingAfterTheSignalStartsANewEnd) {
  InitModule();
  Write(kModeHeadphones, 6, 1000, [](int f, int c) { return c == 2 && f == 999 ? 20000 : 0; });
  EXPECT_EQ(WaitForEnd(), 0);
  const int first = OutFrames();
  EXPECT_EQ(first, 1000 + TailFrames());
  auto pcm = Pcm16(576, 6, [](int f, int c) { return c == 2 && f == 0 ? 20000 : 0; });
  ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
  EXPECT_EQ(OutFrames(), first);
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_EQ(OutFrames(), first + 576 + TailFrames());
  EXPECT_GT(std::abs(OutSample(first, 0)), 1000);
  rec_->Close();
}

// The end goes to the slave only as far as its CanWrite allows: with no room
// IsPlaying says 1 and sends nothing; each Write stays within the room; a
// slave that takes nothing for the hand-off time while not paused has the
// rest dropped, so the player's wait ends.
TEST_F(StreamEnd, TheEndWaitsForRoomAtTheSlave) {
  InitModule();
  Write(kModeHeadphones, 6, 3000, [](int f, int c) { return c == 2 && f % 500 == 0 ? 20000 : 0; });
  slave_->canWriteBytes = 0;
  EXPECT_EQ(rec_->IsPlaying(), 1);
  EXPECT_EQ(rec_->IsPlaying(), 1);
  EXPECT_EQ(OutFrames(), 0);
  slave_->canWriteBytes = 12 * 1000 + 7;
  const size_t before = slave_->writeSizes.size();
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_EQ(OutFrames(), 3000 + TailFrames());
  for (size_t i = before; i < slave_->writeSizes.size(); ++i) EXPECT_LE(slave_->writeSizes[i], 12000);
  rec_->Close();

  slave_->Clear();
  slave_->canWriteBytes = 0;
  Write(kModeHeadphones, 6, 3000, [](int f, int c) { return c == 2 && f % 500 == 0 ? 20000 : 0; });
  EXPECT_EQ(rec_->IsPlaying(), 1);
  Sonavel.SetHandOffTimeoutForTest(20);
  rec_->Pause(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(rec_->IsPlaying(), 1) << "a paused slave is waited for";
  rec_->Pause(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(rec_->IsPlaying(), 0) << "a slave that takes nothing has the end dropped";
  EXPECT_EQ(OutFrames(), 0);
  Sonavel.SetHandOffTimeoutForTest(0);
  rec_->Close();
}

// ---- Delayed channels ----------------------------------------------------------

struct DelayCase {
  const char* name;
  int mode;
  int channels;
  void (*settings)(Config&);
  int frames;
  int lane;          // the output lane whose impulse is checked
  int at;            // the input frame of the impulse
  int delay;         // its delay in frames at 48 kHz
  int bits;          // output width
};

class DelayedChannelEnd : public StreamEnd, public ::testing::WithParamInterface<DelayCase> {};

// The impulse in the last chunk of a delayed channel arrives at its delayed
// frame after the end-of-track signal; the output ends with the last sound the
// delay lines held.
TEST_P(DelayedChannelEnd, ImpulseArrivesAtItsDelayedFrame) {
  const DelayCase& d = GetParam();
  InitModule();
  CfgSet(Sonavel.m_Config.SlaveRes, int32_t{d.bits});
  d.settings(Sonavel.m_Config);
  // Stereo and six-channel sources carry their channels on the lanes of the same index.
  Write(d.mode, d.channels, d.frames, [&](int f, int c) { return f == d.at && c == d.lane ? 16000 : 0; });
  EXPECT_EQ(OutFrames(d.bits), d.frames);
  EXPECT_EQ(WaitForEnd(), 0);
  ASSERT_EQ(OutFrames(d.bits), d.at + d.delay + 1);
  const double scale = d.bits == 24 ? 256.0 : 1.0;
  EXPECT_NEAR(OutSample(d.at + d.delay, d.lane, d.bits), 16000 * kIn * scale, 1.5 * scale);
  for (int f = d.frames; f < d.at + d.delay; ++f)
    for (int c = 0; c < 6; ++c) ASSERT_EQ(OutSample(f, c, d.bits), 0) << f << " " << c;
  rec_->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Lanes, DelayedChannelEnd,
    ::testing::Values(
        DelayCase{"DelayL10msBypass", kModeBypass, 2, [](Config& c) { CfgSet(c.DelayL, int32_t{10}); }, 5000, 0,
                  4999, 480, 16},
        DelayCase{"MovieSurroundDelayBypass", kModeBypass, 6, [](Config& c) { CfgSet(c.SurroundMode, int32_t{0}); },
                  3000, 4, 2900, 480, 24},
        DelayCase{"DelayC25msPassive", kModePassive, 6, [](Config& c) { CfgSet(c.DelayC, int32_t{25}); }, 1500, 2,
                  1400, 1200, 16},
        DelayCase{"DelaySub100msActiveSixChannels", kModeActive, 6, [](Config& c) { CfgSet(c.DelaySub, int32_t{100}); },
                  9000, 3, 8999, 4800, 24}),
    [](const auto& info) { return std::string(info.param.name); });

// The active decoder's Movie variant delays the surrounds by 10 ms: a stereo
// stream with anti-phase content to its end comes out 480 frames longer, its
// last 480 frames carrying the surrounds only.
TEST_F(StreamEnd, ActiveMovieSurroundsPlayOut) {
  InitModule();
  CfgSet(Sonavel.m_Config.SurroundMode, int32_t{0});
  const int n = 9600;
  Write(kModeActive, 2, n, [](int f, int c) {
    const int v = static_cast<int>(std::lround(12000 * std::sin(2 * M_PI * 440.0 * f / kRate)));
    return c == 0 ? v : -v;
  });
  EXPECT_EQ(WaitForEnd(), 0);
  ASSERT_EQ(OutFrames(), n + 480);
  double surround = 0.0;
  for (int f = n; f < n + 480; ++f) {
    surround += std::fabs(OutSample(f, 4)) + std::fabs(OutSample(f, 5));
    for (int c : {0, 1, 2}) EXPECT_NEAR(OutSample(f, c), 0, 1) << f;
  }
  EXPECT_GT(surround / 960, 2000);
  rec_->Close();
}

// Headphones decoding a stereo source: the surround delay's content goes
// through the renderer too, and the tail follows it.
TEST_F(StreamEnd, HeadphonesPlayOutTheDecodedSurroundDelay) {
  InitModule();
  CfgSet(Sonavel.m_Config.HeadphonesMode, int32_t{1});
  CfgSet(Sonavel.m_Config.HeadphonesDecodeMovie, int32_t{1});
  const int n = 5000;
  Write(kModeHeadphones, 2, n, [](int f, int c) {
    const int v = static_cast<int>(std::lround(12000 * std::sin(2 * M_PI * 440.0 * f / kRate)));
    return c == 0 ? v : -v;
  });
  EXPECT_EQ(OutFrames(), 0);
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_EQ(OutFrames(), n + 480 + TailFrames());
  EXPECT_GT(std::abs(OutSample(n + 400, 0)) + std::abs(OutSample(n + 400, 1)), 0);
  rec_->Close();
}

}  // namespace
}  // namespace sn
