// No filter state decays into subnormal numbers: loud noise, then a minute of
// silence through every filtered path of the engine, in both back ends, on a
// thread without flush-to-zero (as the x87 unit computes). Every state word
// must end as zero or a normal number. And the DSP thread's mode: flush-to-zero
// and denormals-are-zero set by SetDenormalMode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "engine/SNLib.h"
#include "support/Checkasm.h"
#include "support/KernelTest.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace sn::test {
namespace {

struct PathCase {
  const char* name;
  int mode;
  int channels;
  int sse2;
  friend void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }
};

class Denormals : public EngineFixture, public ::testing::WithParamInterface<PathCase> {};

int SubnormalFloats(const BiquadState& s) {
  int n = 0;
  for (const float* row : {s.x1, s.x2, s.y1, s.y2})
    for (int c = 0; c < 8; ++c) n += std::fpclassify(row[c]) == FP_SUBNORMAL;
  return n;
}

int SubnormalDoubles(const BiquadState& s) {
  int n = 0;
  for (const float* row : {s.x1, s.x2, s.y1, s.y2}) {
    double d;
    std::memcpy(&d, row, sizeof d);
    n += std::fpclassify(d) == FP_SUBNORMAL || (d != 0.0 && std::fabs(d) < 1e-30);
  }
  return n;
}

TEST_P(Denormals, SilenceAfterLoudNoiseLeavesNoSubnormalState) {
  const PathCase& c = GetParam();
  SN_SKIP_UNLESS_AVAILABLE(c.sse2 ? test::BackEnd::Sse2 : test::BackEnd::X87);
  cfg_.Mode = c.mode;
  cfg_.SSE2Enable = c.sse2;
  cfg_.LFERedir = 1;
  cfg_.SurroundMode = 1;
  cfg_.MusicSurroundShelf = 1;
  Recalc(48000);
  CSNLib engine;
  std::mt19937 rng(99);
  OwnedChunk chunk;
  for (int i = 0; i < 50; ++i) {
    chunk = RandomChunk(rng, 576, 0.707f, 0.0f);
    engine.ProcessChunk(c.channels, chunk.buf);
  }
  OwnedChunk silence(576);
  for (int i = 0; i < 60 * 48000 / 576; ++i) {
    chunk = silence;
    FillLanes(chunk.buf, 0.0f);
    engine.ProcessChunk(c.channels, chunk.buf);
  }
  int subnormal = SubnormalFloats(Dsp.BassState);
  for (const BiquadState& s : Dsp.EncoderState) subnormal += SubnormalFloats(s);
  for (int i : {0, 1, 2, 5}) subnormal += SubnormalFloats(Dsp.DecoderState[i]);
  for (int i : {3, 4}) subnormal += SubnormalDoubles(Dsp.DecoderState[i]);
  EXPECT_EQ(subnormal, 0);
  for (uint32_t i = 0; i < chunk.size(); ++i)
    for (int l = 0; l < 6; ++l) ASSERT_EQ(chunk[i].lane[l], 0.0f) << "silence out, frame " << i << " lane " << l;
}

INSTANTIATE_TEST_SUITE_P(Paths, Denormals,
                         ::testing::Values(PathCase{"ActiveShelfBassX87", kModeActive, 2, 0},
                                           PathCase{"ActiveShelfBassSse2", kModeActive, 2, 1},
                                           PathCase{"EncoderBassX87", kModeEncoder, 6, 0},
                                           PathCase{"EncoderBassSse2", kModeEncoder, 6, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Snapping replaces only what is below about -300 dB.
TEST_F(EngineFixture, SnapKeepsAudibleStatesAndZeroesTinyOnes) {
  Dsp.BassState.y1[0] = 1e-16f;
  Dsp.BassState.y1[1] = 3e-10f;  // a 32-bit source's smallest step
  Dsp.EncoderState[2].x2[5] = -1e-20f;
  double tiny = 1e-31, small = 1e-12;
  std::memcpy(Dsp.DecoderState[3].y1, &tiny, sizeof tiny);
  std::memcpy(Dsp.DecoderState[4].y1, &small, sizeof small);
  CSNLib::SnapFilterStates();
  EXPECT_EQ(Dsp.BassState.y1[0], 0.0f);
  EXPECT_EQ(Dsp.BassState.y1[1], 3e-10f);
  EXPECT_EQ(Dsp.EncoderState[2].x2[5], 0.0f);
  double d;
  std::memcpy(&d, Dsp.DecoderState[3].y1, sizeof d);
  EXPECT_EQ(d, 0.0);
  std::memcpy(&d, Dsp.DecoderState[4].y1, sizeof d);
  EXPECT_EQ(d, 1e-12);
}

#if defined(__x86_64__) || defined(__i386__)
TEST(DenormalMode, SetsFlushToZeroAndDenormalsAreZeroOnTheCallingThread) {
  unsigned before = 0, after = 0;
  std::thread t([&] {
    before = _mm_getcsr();
    CSNLib::SetDenormalMode();
    after = _mm_getcsr();
    volatile float tiny = 1e-30f;
    volatile float product = tiny * 1e-10f;  // subnormal without flush-to-zero
    EXPECT_EQ(product, 0.0f);
  });
  t.join();
  EXPECT_EQ(before & 0x8040u, 0u) << "a new thread starts without the mode";
  EXPECT_EQ(after & 0x8040u, 0x8040u);
}
#endif

}  // namespace
}  // namespace sn::test
