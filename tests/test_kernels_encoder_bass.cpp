// The matrix encoder and bass redirection: the fold-down ratios, the surround
// band limits, the bass conservation rule, the SSE2 back end against the
// scalar one, and both stages as the engine runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "support/BackendCompare.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string BackendName(const ::testing::TestParamInfo<int>& info) { return info.param ? "Sse2" : "Scalar"; }

// Random values in the listed lanes, zeros in the other channel lanes, NaN in
// lanes 6 and 7.
OwnedChunk OnlyLanes(std::mt19937& rng, uint32_t frames, std::initializer_list<int> lanes) {
  OwnedChunk c = RandomChunk(rng, frames);
  for (uint32_t i = 0; i < frames; ++i)
    for (int l = 0; l < 6; ++l)
      if (std::find(lanes.begin(), lanes.end(), l) == lanes.end()) c[i].lane[l] = 0.0f;
  return c;
}

OwnedChunk Constant(uint32_t frames, const float (&lanes)[6]) {
  OwnedChunk c(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    std::memcpy(c[i].lane, lanes, sizeof(lanes));
    c[i].lane[6] = c[i].lane[7] = kNaN;
  }
  return c;
}

double Energy(const OwnedChunk& c, int lane) {
  double e = 0;
  for (uint32_t i = 0; i < c.size(); ++i) e += static_cast<double>(c[i].lane[lane]) * c[i].lane[lane];
  return e;
}

// --- Matrix encoder -----------------------------------------------------------

class EncoderTest : public EngineFixture, public ::testing::WithParamInterface<int> {
 protected:
  CSNFn& K() { return Backend(GetParam()); }
};

TEST_P(EncoderTest, FrontChannelsFoldIntoBoth) {
  struct Case {
    int lane;
    float gain;
  };
  for (const Case& fc : {Case{2, 0.707f}, Case{3, 2.235f}}) {
    std::mt19937 rng(fc.lane);
    const OwnedChunk in = OnlyLanes(rng, 101, {fc.lane});
    OwnedChunk out = in;
    CSNLib::EncodeMatrix(K(), out.buf);
    for (uint32_t i = 0; i < in.size(); ++i) {
      const float expect = fc.gain * in[i].lane[fc.lane];
      ASSERT_FLOAT_EQ(out[i].lane[0], expect) << "lane " << fc.lane << " frame " << i;
      ASSERT_FLOAT_EQ(out[i].lane[1], expect) << "lane " << fc.lane << " frame " << i;
      for (int l = 2; l < 6; ++l) ASSERT_EQ(out[i].lane[l], 0.0f);
    }
  }
}

TEST_P(EncoderTest, LeftAndRightPassStraight) {
  std::mt19937 rng(9);
  const OwnedChunk in = OnlyLanes(rng, 55, {0, 1});
  OwnedChunk out = in;
  CSNLib::EncodeMatrix(K(), out.buf);
  EXPECT_EQ(MaxLaneDiff(out.buf, in.buf), 0.0);
}

// A surround channel reaches L and R with opposite signs in a fixed ratio:
// SL 0.8165 : -0.5774, SR 0.5774 : -0.8165.
TEST_P(EncoderTest, SurroundRatios) {
  struct Case {
    int lane;
    double toL, toR;
  };
  for (const Case& sc : {Case{4, 0.8165, -0.5774}, Case{5, 0.5774, -0.8165}}) {
    CSNLib::ResetDSP();
    std::mt19937 rng(sc.lane);
    const OwnedChunk in = OnlyLanes(rng, 2000, {sc.lane});
    OwnedChunk out = in;
    CSNLib::EncodeMatrix(K(), out.buf);
    for (uint32_t i = 0; i < in.size(); ++i) {
      // L / toL and R / toR are the same filtered surround sample.
      ASSERT_NEAR(out[i].lane[0] / sc.toL, out[i].lane[1] / sc.toR, 1e-6) << "lane " << sc.lane << " frame " << i;
    }
    EXPECT_GT(Energy(out, 0), 0.2 * Energy(in, sc.lane) * sc.toL * sc.toL);
  }
}

// The surrounds pass 100 Hz high-pass, 7000 Hz low-pass and the phase network,
// in that order and each with its own state block, before the fold-down.
TEST_P(EncoderTest, SurroundsAreBandLimitedAndShifted) {
  std::mt19937 rng(17);
  const OwnedChunk in = OnlyLanes(rng, 777, {4, 5});
  OwnedChunk out = in;
  CSNLib::EncodeMatrix(K(), out.buf);
  OwnedChunk ref = in;
  BiquadState hp{}, lp{}, ps{};
  ScalarKernels().FilterSurround(Dsp.K().SurroundHp100, hp, ref.buf);
  ScalarKernels().FilterSurround(Dsp.K().SurroundLp7000, lp, ref.buf);
  ScalarKernels().SurroundPhaseShift(ps, ref.buf);
  for (uint32_t i = 0; i < in.size(); ++i) {
    const double sl = ref[i].lane[4], sr = ref[i].lane[5];
    ASSERT_NEAR(out[i].lane[0], 0.8165 * sl + 0.5774 * sr, 3e-4) << "frame " << i;
    ASSERT_NEAR(out[i].lane[1], -0.5774 * sl - 0.8165 * sr, 3e-4) << "frame " << i;
  }
  EXPECT_LE(MaxStateDiff(Dsp.EncoderState[2], hp, 4, 5), 3e-4);
  EXPECT_LE(MaxStateDiff(Dsp.EncoderState[1], lp, 4, 5), 3e-4);
  EXPECT_LE(MaxStateDiff(Dsp.EncoderState[0], ps, 4, 5), 3e-4);
}

TEST_P(EncoderTest, SteadySurroundContributesNothing) {
  const float lanes[6] = {0, 0, 0, 0, 0.5f, -0.3f};
  OwnedChunk out;
  for (int c = 0; c < 48000 / 576; ++c) {
    out = Constant(576, lanes);
    CSNLib::EncodeMatrix(K(), out.buf);
  }
  EXPECT_NEAR(out[575].lane[0], 0.0, 1e-5);
  EXPECT_NEAR(out[575].lane[1], 0.0, 1e-5);
}

TEST_P(EncoderTest, EmptyChunkLeavesStateUnchanged) {
  std::mt19937 rng(2);
  OwnedChunk warm = RandomChunk(rng, 99);
  CSNLib::EncodeMatrix(K(), warm.buf);
  const FilterStates before = FilterStates::Capture();
  OwnedChunk empty(0);
  CSNLib::EncodeMatrix(K(), empty.buf);
  EXPECT_TRUE(FilterStates::Capture() == before);
}

INSTANTIATE_TEST_SUITE_P(Backends, EncoderTest, ::testing::Values(0, 1), BackendName);

// --- Bass redirection ---------------------------------------------------------

class BassTest : public EngineFixture, public ::testing::WithParamInterface<int> {
 protected:
  CSNFn& K() { return Backend(GetParam()); }
  void Redirect(OwnedChunk& c) { K().RedirectBass(Dsp.K().LfeCrossoverHp, Dsp.BassState, c.buf); }
};

// DC of 0.5 on L alone: L decays to 0, the LFE lane settles at 0.316 x 0.5.
TEST_P(BassTest, DirectCurrentMovesToLfe) {
  const float lanes[6] = {0.5f, 0, 0, 0, 0, 0};
  OwnedChunk out;
  for (int c = 0; c < 48000 / 576; ++c) {
    out = Constant(576, lanes);
    Redirect(out);
  }
  EXPECT_NEAR(out[575].lane[0], 0.0, 1e-5);
  EXPECT_NEAR(out[575].lane[3], 0.158, 1e-5);
  EXPECT_EQ(out[575].lane[1], 0.0f);
  EXPECT_EQ(out[575].lane[2], 0.0f);
}

// Per frame, what a front lane lost arrives in the LFE lane at 0.316; the LFE
// lane keeps its own content; the surrounds are not touched.
TEST_P(BassTest, ConservesWhatItMoves) {
  const std::initializer_list<int> sets[] = {{0, 3}, {1, 3}, {2, 3}, {0, 1, 2, 3, 4, 5}};
  for (const auto& set : sets) {
    CSNLib::ResetDSP();
    std::mt19937 rng(static_cast<uint32_t>(set.size()) * 7 + *set.begin());
    const OwnedChunk in = OnlyLanes(rng, 1500, set);
    OwnedChunk out = in;
    Redirect(out);
    double moved = 0;
    for (uint32_t i = 0; i < in.size(); ++i) {
      const float* a = in[i].lane;
      const float* b = out[i].lane;
      const double before = static_cast<double>(a[0]) + a[1] + a[2];
      const double after = static_cast<double>(b[0]) + b[1] + b[2] + (static_cast<double>(b[3]) - a[3]) / 0.316f;
      ASSERT_NEAR(after, before, 5e-6) << "frame " << i;
      ASSERT_EQ(b[4], a[4]);
      ASSERT_EQ(b[5], a[5]);
      moved += std::fabs(static_cast<double>(b[3]) - a[3]);
    }
    EXPECT_GT(moved, 1.0);
  }
}

TEST_P(BassTest, EmptyChunkLeavesStateUnchanged) {
  std::mt19937 rng(6);
  OwnedChunk warm = RandomChunk(rng, 99);
  Redirect(warm);
  const FilterStates before = FilterStates::Capture();
  OwnedChunk empty(0);
  Redirect(empty);
  EXPECT_TRUE(FilterStates::Capture() == before);
}

INSTANTIATE_TEST_SUITE_P(Backends, BassTest, ::testing::Values(0, 1), BackendName);


// --- Through the engine: mode 4 and the bass stage ----------------------------

class RoomEngineTest : public EnginePerBackend {
 protected:
  CSNLib engine_;
};

TEST_P(RoomEngineTest, EncoderModeFoldsSixChannels) {
  cfg_.Mode = kModeEncoder;
  std::mt19937 rng(31);
  OwnedChunk expect[3], got[3];
  for (int c = 0; c < 3; ++c) {
    got[c] = expect[c] = RandomChunk(rng, 576);
    engine_.ProcessChunk(6, got[c].buf);
  }
  CSNLib::ResetDSP();
  for (int c = 0; c < 3; ++c) {
    CSNLib::EncodeMatrix(Backend(GetParam()), expect[c].buf);
    EXPECT_EQ(MaxLaneDiff(got[c].buf, expect[c].buf), 0.0) << "chunk " << c;
    for (uint32_t i = 0; i < 576; ++i)
      for (int l = 2; l < 6; ++l) ASSERT_EQ(got[c][i].lane[l], 0.0f);
  }
  EXPECT_GT(Energy(got[2], 0), 1.0);
  EXPECT_GT(Energy(got[2], 1), 1.0);
}

TEST_P(RoomEngineTest, EncoderModePassesOtherSources) {
  cfg_.Mode = kModeEncoder;
  std::mt19937 rng(32);
  for (int channels : {1, 2}) {
    const OwnedChunk in = RandomChunk(rng, 577);
    OwnedChunk out = in;
    engine_.ProcessChunk(channels, out.buf);
    EXPECT_EQ(MaxLaneDiff(out.buf, in.buf), 0.0) << channels << " channels";
  }
}

// In the encoder mode the C lane is already 0 when bass redirection runs, so
// only L and R feed the LFE lane (itself 0 after the encoder).
TEST_P(RoomEngineTest, BassRedirectionAfterTheEncoder) {
  cfg_.Mode = kModeEncoder;
  cfg_.LFERedir = 1;
  std::mt19937 rng(33);
  const OwnedChunk in = RandomChunk(rng, 576);
  OwnedChunk out = in;
  engine_.ProcessChunk(6, out.buf);
  CSNLib::ResetDSP();
  OwnedChunk encoded = in;
  CSNLib::EncodeMatrix(Backend(GetParam()), encoded.buf);
  for (uint32_t i = 0; i < in.size(); ++i) {
    const float* e = encoded[i].lane;
    const float* o = out[i].lane;
    ASSERT_EQ(o[2], 0.0f);
    ASSERT_NEAR(static_cast<double>(o[0]) + o[1] + o[3] / 0.316f, static_cast<double>(e[0]) + e[1], 1e-5);
  }
  EXPECT_GT(Energy(out, 3), 1e-3);
}

// Bypass still redirects bass when asked; without it the frames pass as they are.
TEST_P(RoomEngineTest, BypassRedirectsOnlyWhenAsked) {
  cfg_.Mode = kModeBypass;
  std::mt19937 rng(34);
  const OwnedChunk in = RandomChunk(rng, 576);
  OwnedChunk plain = in;
  engine_.ProcessChunk(6, plain.buf);
  EXPECT_EQ(MaxLaneDiff(plain.buf, in.buf), 0.0);
  EXPECT_TRUE(FilterStates::Capture() == FilterStates{});

  cfg_.LFERedir = 1;
  OwnedChunk redirected = in, expect = in;
  engine_.ProcessChunk(6, redirected.buf);
  BiquadState st{};
  Backend(GetParam()).RedirectBass(Dsp.K().LfeCrossoverHp, st, expect.buf);
  EXPECT_EQ(MaxLaneDiff(redirected.buf, expect.buf), 0.0);
  EXPECT_GT(MaxLaneDiff(redirected.buf, in.buf), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Backends, RoomEngineTest, ::testing::Values(0, 1), BackendName);

}  // namespace
}  // namespace sn::test
