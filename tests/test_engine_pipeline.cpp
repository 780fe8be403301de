// The engine's dispatch: which conversion runs for a source format, which
// kernels run for a mode, and what happens around them.
#include <cstring>
#include <ostream>
#include <vector>

#include "support/KernelTest.h"

namespace sn {
namespace {

using test::EngineFixture;
using test::OwnedChunk;

struct FormatCase {
  int channels;
  int bits;
  bool supported;
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c) {
  return os << c.channels << " channels, " << c.bits << " bits";
}

class ConvertDispatchTest : public EngineFixture, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ConvertDispatchTest, SupportedFormatsConvertOthersBecomeSilence) {
  const FormatCase& c = GetParam();
  constexpr uint32_t kFrames = 9;
  // Every byte 0x40: non-zero in every supported format.
  std::vector<uint8_t> src(kFrames * 8 * 4, 0x40);
  OwnedChunk chunk(3);
  for (uint32_t i = 0; i < 3; ++i)
    for (float& v : chunk[i].lane) v = 99.0f;
  CSNLib engine;
  EXPECT_EQ(engine.ConvertToInternal(c.channels, c.bits, src.data(), kFrames, chunk.buf), c.supported);
  ASSERT_EQ(chunk.size(), kFrames);
  EXPECT_EQ(chunk.buf.position, 0);
  bool anySignal = false;
  for (uint32_t i = 0; i < kFrames; ++i)
    for (int l = 0; l < 6; ++l) anySignal |= chunk[i].lane[l] != 0.0f;
  EXPECT_EQ(anySignal, c.supported);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ConvertDispatchTest,
    ::testing::Values(FormatCase{1, 8, true}, FormatCase{1, 16, true}, FormatCase{1, 24, true},
                      FormatCase{1, 32, true}, FormatCase{2, 8, true}, FormatCase{2, 16, true},
                      FormatCase{2, 24, true}, FormatCase{2, 32, true}, FormatCase{5, 16, true},
                      FormatCase{5, 24, true}, FormatCase{5, 32, true}, FormatCase{6, 16, true},
                      FormatCase{6, 24, true}, FormatCase{6, 32, true}, FormatCase{5, 8, false},
                      FormatCase{6, 8, false}, FormatCase{3, 16, false}, FormatCase{4, 16, false},
                      FormatCase{7, 16, false}, FormatCase{2, 12, false}, FormatCase{2, 0, false},
                      FormatCase{2, 64, false}));

TEST_F(EngineFixture, KernelChoiceFollowsTheSettingPerCall) {
  cfg_.SSE2Enable = 1;
  EXPECT_EQ(&CSNLib::ActiveKernels(), CSNLib::IsSSE2Supported() ? &test::Sse2Kernels() : &test::ScalarKernels());
  cfg_.SSE2Enable = 0;
  EXPECT_EQ(&CSNLib::ActiveKernels(), &test::ScalarKernels());
}

// Frames with lanes 0..5 set to (lane + 1) / 10 and lanes 6, 7 NaN.
OwnedChunk Ramp(uint32_t frames) {
  OwnedChunk c(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    for (int l = 0; l < 6; ++l) c[i].lane[l] = static_cast<float>(l + 1) / 10.0f;
    c[i].lane[6] = c[i].lane[7] = std::numeric_limits<float>::quiet_NaN();
  }
  return c;
}

struct PassCase {
  int mode;
  int channels;
};

std::ostream& operator<<(std::ostream& os, const PassCase& c) {
  return os << "mode " << c.mode << ", " << c.channels << " channels";
}

class NoKernelTest : public EngineFixture, public ::testing::WithParamInterface<PassCase> {};

// Where a mode finds no kernel for the source, the frames pass to the room
// stages as converted; with unit gains and no delays they come out unchanged.
TEST_P(NoKernelTest, FramesPassUnchanged) {
  cfg_.Mode = GetParam().mode;
  Recalc();
  OwnedChunk c = Ramp(37);
  CSNLib engine;
  engine.ProcessChunk(GetParam().channels, c.buf);
  ASSERT_EQ(c.size(), 37u);
  for (uint32_t i = 0; i < 37; ++i)
    for (int l = 0; l < 6; ++l) ASSERT_EQ(c[i].lane[l], static_cast<float>(l + 1) / 10.0f) << i << " " << l;
}

INSTANTIATE_TEST_SUITE_P(Table, NoKernelTest,
                         ::testing::Values(PassCase{0, 1}, PassCase{0, 2}, PassCase{0, 6}, PassCase{1, 1},
                                           PassCase{1, 5}, PassCase{1, 6}, PassCase{2, 1}, PassCase{2, 5},
                                           PassCase{2, 6}, PassCase{4, 1}, PassCase{4, 2}));

// Without binaural filters for the rate, the source is folded to the two ears
// (centre and surrounds at -3 dB, the LFE left out) and carries the master gain.
TEST_F(EngineFixture, HeadphonesAtAnUnsupportedRateFoldEverythingToBothEars) {
  cfg_.Mode = kModeHeadphones;
  cfg_.MasterGain = -6;
  cfg_.TrimL = 6;  // trims do not apply in headphone mode
  Recalc(32000);
  OwnedChunk c = Ramp(11);
  CSNLib engine;
  engine.ProcessChunk(6, c.buf);
  ASSERT_EQ(c.size(), 11u);
  const double g = 0.501187205, h = std::sqrt(0.5);
  for (uint32_t i = 0; i < 11; ++i) {
    EXPECT_NEAR(c[i].lane[0], (0.1 + h * (0.3 + 0.5)) * g, 1e-6);
    EXPECT_NEAR(c[i].lane[1], (0.2 + h * (0.3 + 0.6)) * g, 1e-6);
    for (int l = 2; l < 6; ++l) EXPECT_EQ(c[i].lane[l], 0.0f);
  }
}

TEST_F(EngineFixture, LeavingHeadphonesWithFramesHeldKeepsTheFrameTotal) {
  cfg_.Mode = kModePassive;
  Recalc();
  Dsp.HeadphoneFill.store(3000);
  OwnedChunk c = Ramp(576);
  CSNLib engine;
  engine.ProcessChunk(5, c.buf);
  ASSERT_EQ(c.size(), 3576u);
  EXPECT_EQ(Dsp.HeadphoneFill.load(), 0u);
  EXPECT_EQ(c[575].lane[5], 0.6f);
  for (uint32_t i = 576; i < 3576; ++i)
    for (int l = 0; l < 6; ++l) ASSERT_EQ(c[i].lane[l], 0.0f) << i;
  // Only once.
  OwnedChunk d = Ramp(10);
  engine.ProcessChunk(5, d.buf);
  EXPECT_EQ(d.size(), 10u);
}

TEST_F(EngineFixture, BypassStillRunsTheRoomStages) {
  cfg_.Mode = kModeBypass;
  cfg_.MasterGain = 6;
  cfg_.TrimC = -6;
  cfg_.DelayR = 1;  // 48 frames
  Recalc();
  OwnedChunk c = Ramp(100);
  CSNLib engine;
  engine.ProcessChunk(6, c.buf);
  const float master = 1.99526238f;
  EXPECT_NEAR(c[0].lane[0], 0.1f * master, 1e-6f);
  EXPECT_NEAR(c[0].lane[2], 0.3f * master * 0.501187205f, 1e-6f);
  EXPECT_EQ(c[47].lane[1], 0.0f);
  EXPECT_NEAR(c[48].lane[1], 0.2f * master, 1e-6f);
}

TEST_F(EngineFixture, AfterAResetTheDelaysStartFromSilenceWithTheirLengthsKept) {
  cfg_.Mode = kModeBypass;
  cfg_.DelayL = 1;
  Recalc();
  CSNLib engine;
  OwnedChunk a = Ramp(100);
  engine.ProcessChunk(2, a.buf);
  CSNLib::ResetDSP();
  OwnedChunk b = Ramp(100);
  engine.ProcessChunk(2, b.buf);
  EXPECT_EQ(b[47].lane[0], 0.0f);
  EXPECT_EQ(b[48].lane[0], 0.1f);
}

TEST(SNBufferExtend, KeepsFramesAndZeroesTheAddedOnes) {
  SNChunk c{};
  c.Resize(3);
  for (uint32_t i = 0; i < 3; ++i)
    for (float& v : c.data[i].lane) v = static_cast<float>(i + 1);
  c.Extend(5);
  ASSERT_EQ(c.count, 8u);
  EXPECT_EQ(c.capacity, 8u);
  EXPECT_EQ(c.data[2].lane[4], 3.0f);
  for (uint32_t i = 3; i < 8; ++i)
    for (float v : c.data[i].lane) EXPECT_EQ(v, 0.0f);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c.data) % 16, 0u);
  c.Extend(0);
  EXPECT_EQ(c.count, 8u);
  c.Release();
  EXPECT_EQ(c.data, nullptr);
  EXPECT_EQ(c.capacity, 0u);
}

TEST(SNBufferResize, GrowsOnlyPastCountAndCapacity) {
  SNBuffer<float> v{};
  float* first = v.Resize(100, true);
  ASSERT_NE(first, nullptr);
  v.position = 7;
  EXPECT_EQ(v.Resize(40, false), first);  // smaller: storage reused
  EXPECT_EQ(v.count, 40u);
  EXPECT_EQ(v.capacity, 100u);
  EXPECT_EQ(v.position, 0);
  EXPECT_EQ(v.Resize(100, false), first);
  v.Resize(101, true);
  EXPECT_EQ(v.capacity, 101u);
  for (uint32_t i = 0; i < 101; ++i) EXPECT_EQ(v.data[i], 0.0f);
  v.Release();
}

}  // namespace
}  // namespace sn
