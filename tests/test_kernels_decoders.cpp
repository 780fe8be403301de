// The passive and the active decoder: the matrix values of steady sources, the
// variants, the SSE2 back end against the scalar one, and the decoders as the
// engine runs them for modes 1 and 2.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/BackendCompare.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string BackendName(const ::testing::TestParamInfo<int>& info) { return info.param ? "Sse2" : "Scalar"; }

// A chunk of `frames` frames of a constant stereo source as the 2-channel
// conversions leave it: l and r in lanes 0 and 1, zeros in 2 to 5.
OwnedChunk StereoChunk(uint32_t frames, float l, float r) {
  OwnedChunk c(frames);
  for (uint32_t i = 0; i < frames; ++i) c[i] = SNCHUNK_INTCHUNK{{l, r, 0, 0, 0, 0, kNaN, kNaN}};
  return c;
}

// --- Passive decoder ----------------------------------------------------------

struct PassiveCase {
  const char* name;
  float l, r;
  float L, R, C, S;
};

const PassiveCase kPassiveCases[] = {
    {"Mono", 0.5f, 0.5f, 0.707f * 0.5f, 0.707f * 0.5f, 0.5f, 0.0f},
    {"AntiPhase", 0.5f, -0.5f, 0.707f * 0.5f, -0.707f * 0.5f, 0.0f, 0.5f},
    {"LeftOnly", 0.25f, 0.0f, 0.707f * 0.25f, 0.0f, 0.125f, 0.125f},
    {"RightOnly", 0.0f, 0.25f, 0.0f, 0.707f * 0.25f, 0.125f, -0.125f},
};

class PassiveTest : public EngineFixture, public ::testing::WithParamInterface<int> {};

TEST_P(PassiveTest, FixedMatrix) {
  for (const PassiveCase& pc : kPassiveCases) {
    OwnedChunk c = StereoChunk(7, pc.l, pc.r);
    c[3].lane[3] = 0.25f;  // the LFE lane is cleared whatever it held
    Backend(GetParam()).DecodePassive(c.buf);
    for (uint32_t i = 0; i < c.size(); ++i) {
      const float* f = c[i].lane;
      EXPECT_EQ(f[0], pc.L) << pc.name;
      EXPECT_EQ(f[1], pc.R) << pc.name;
      EXPECT_EQ(f[2], pc.C) << pc.name;
      EXPECT_EQ(f[3], 0.0f) << pc.name;
      EXPECT_EQ(f[4], pc.S) << pc.name;
      EXPECT_EQ(f[5], pc.S) << pc.name;
    }
  }
}

TEST_P(PassiveTest, EmptyChunk) {
  OwnedChunk c(0);
  Backend(GetParam()).DecodePassive(c.buf);
  EXPECT_EQ(c.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, PassiveTest, ::testing::Values(0, 1), BackendName);

// --- Active decoder -----------------------------------------------------------

class ActiveTest : public EngineFixture, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    cfg_.SurroundMode = 0;  // Movie: no centre weight
    Recalc();
  }
  CSNFn& K() { return Backend(GetParam()); }

  // Feeds one second of the constant source in 576-frame chunks and returns
  // the last frame.
  SNCHUNK_INTCHUNK Settle(float l, float r) {
    SNCHUNK_INTCHUNK last{};
    for (int chunk = 0; chunk < 48000 / 576; ++chunk) {
      OwnedChunk c = StereoChunk(576, l, r);
      CSNLib::DecodeActive(K(), c.buf);
      last = c[575];
    }
    return last;
  }
};

struct SettledCase {
  const char* name;
  float l, r;
  float L, R, C, SL, SR;  // per unit of input
};

// Settled steering: the dominant side's gain is exp(-0.839 ln 10) = 0.1449.
const SettledCase kSettled[] = {
    {"Mono", 1, 1, 0.1034f, 0.1034f, 1.356f, 0.0362f, -0.0362f},
    {"LeftOnly", 1, 0, 0.9586f, 0.0f, 0.0734f, 0.0887f, 0.0515f},
    {"RightOnly", 0, 1, 0.0f, 0.9586f, 0.0734f, -0.0515f, -0.0887f},
    {"AntiPhase", 1, -1, 0.1034f, -0.1034f, 0.0f, 1.308f, 1.308f},
};

TEST_P(ActiveTest, SettledOutputsOfSteadySources) {
  const float a = 0.5f;
  for (uint32_t rate : {44100u, 48000u}) {
    for (const SettledCase& sc : kSettled) {
      SCOPED_TRACE(rate);
      CSNLib::ResetDSP();
      Recalc(rate);
      const SNCHUNK_INTCHUNK f = Settle(a * sc.l, a * sc.r);
      // The values are rounded to four places below 1 and three above; VecLog
      // and VecExp add about 1e-5.
      auto tol = [&](float v) { return a * ((std::fabs(v) >= 1.0f ? 5e-4 : 5e-5) + 2e-5); };
      EXPECT_NEAR(f.lane[0], a * sc.L, tol(sc.L)) << sc.name << " L";
      EXPECT_NEAR(f.lane[1], a * sc.R, tol(sc.R)) << sc.name << " R";
      EXPECT_NEAR(f.lane[2], a * sc.C, tol(sc.C)) << sc.name << " C";
      EXPECT_EQ(f.lane[3], 0.0f) << sc.name << " LFE";
      EXPECT_NEAR(f.lane[4], a * sc.SL, tol(sc.SL)) << sc.name << " SL";
      EXPECT_NEAR(f.lane[5], a * sc.SR, tol(sc.SR)) << sc.name << " SR";
    }
  }
}

// Unsteered (fresh state, first frame): L = 0.708 l, R = 0.708 r,
// C = 0.501 (l + r), SL = 0.612 l - 0.3542 r, SR = 0.3542 l - 0.612 r.
TEST_P(ActiveTest, FirstFrameIsTheUnsteeredMatrix) {
  const float l = 0.3f, r = -0.1f;
  OwnedChunk c = StereoChunk(1, l, r);
  CSNLib::DecodeActive(K(), c.buf);
  const double tol = 1e-6;  // the smoother has moved by b0 x 1e-5 or less
  EXPECT_NEAR(c[0].lane[0], 0.708 * l, tol);
  EXPECT_NEAR(c[0].lane[1], 0.708 * r, tol);
  EXPECT_NEAR(c[0].lane[2], 0.501 * (l + r), tol);
  EXPECT_NEAR(c[0].lane[4], 0.612 * l - 0.3542 * r, tol);
  EXPECT_NEAR(c[0].lane[5], 0.3542 * l - 0.612 * r, tol);
}

// The steering smoother settles on its input: ln 10 for a one-sided source,
// and back to 0 (the unsteered matrix) after the source stops.
TEST_P(ActiveTest, SteeringSettlesAndDecays) {
  Settle(0.5f, 0.0f);
  const SNBuffer<float>& lr = Dsp.DecoderBuffers.SteerLR1;
  const SNBuffer<float>& cs = Dsp.DecoderBuffers.SteerCS1;
  ASSERT_EQ(lr.count, 576u);
  EXPECT_NEAR(lr.data[575], std::log(10.0), 2e-4);
  EXPECT_NEAR(cs.data[575], 0.0, 2e-4);
  const SNCHUNK_INTCHUNK silent = Settle(0.0f, 0.0f);
  EXPECT_NEAR(lr.data[575], 0.0, 1e-4);
  for (int l = 0; l < 6; ++l) EXPECT_EQ(silent.lane[l], 0.0f);
}

TEST_P(ActiveTest, LfeLanePassesUntouched) {
  std::mt19937 rng(5);
  const OwnedChunk in = RandomChunk(rng, 333);
  OwnedChunk out = in;
  CSNLib::DecodeActive(K(), out.buf);
  for (uint32_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i].lane[3], in[i].lane[3]) << "frame " << i;
}

// Music moves (1 - w) / 2 of the decoded centre into L and R and keeps w of it;
// Movie leaves the centre alone.
TEST_P(ActiveTest, MusicCentreWeight) {
  struct Weight {
    int32_t percent;
    float w, spill;
  };
  const Weight weights[] = {{100, 1.0f, 0.0f}, {50, 0.7403627f, 0.1298186f}, {0, 0.0f, 0.5f}};
  std::mt19937 rng(21);
  const OwnedChunk in = RandomChunk(rng, 2001);
  OwnedChunk movie = in;
  CSNLib::DecodeActive(K(), movie.buf);
  for (const Weight& wt : weights) {
    CSNLib::ResetDSP();
    cfg_.SurroundMode = 1;
    cfg_.CentreWeight = wt.percent;
    Recalc();
    OwnedChunk music = in;
    CSNLib::DecodeActive(K(), music.buf);
    for (uint32_t i = 0; i < in.size(); ++i) {
      const float* m = music[i].lane;
      const float* v = movie[i].lane;
      ASSERT_NEAR(m[0], v[0] + wt.spill * v[2], 1e-6) << wt.percent << "% frame " << i;
      ASSERT_NEAR(m[1], v[1] + wt.spill * v[2], 1e-6) << wt.percent << "% frame " << i;
      ASSERT_NEAR(m[2], wt.w * v[2], 1e-6) << wt.percent << "% frame " << i;
      ASSERT_EQ(m[4], v[4]);
      ASSERT_EQ(m[5], v[5]);
    }
  }
}

// The surround low-pass runs whenever the shelf is on, in Movie too, on the
// surround lanes only, with the first decoder state block.
TEST_P(ActiveTest, SurroundShelfLowPassesTheSurrounds) {
  std::mt19937 rng(8);
  const OwnedChunk in = RandomChunk(rng, 1001);
  OwnedChunk plain = in;
  CSNLib::DecodeActive(K(), plain.buf);
  CSNLib::ResetDSP();
  cfg_.MusicSurroundShelf = 1;
  OwnedChunk shelved = in;
  CSNLib::DecodeActive(K(), shelved.buf);
  BiquadState lp{};
  OwnedChunk expect = plain;
  ScalarKernels().FilterSurround(Dsp.K().SurroundLp7000, lp, expect.buf);
  EXPECT_LE(MaxLaneDiff(shelved.buf, expect.buf), 2e-6);
  EXPECT_LE(MaxStateDiff(Dsp.DecoderState[0], lp, 4, 5), 2e-6);
  EXPECT_GT(MaxLaneDiff(shelved.buf, plain.buf), 1e-2);
}

TEST_P(ActiveTest, EmptyChunkLeavesStateUnchanged) {
  Settle(0.4f, 0.1f);
  cfg_.MusicSurroundShelf = 1;
  const FilterStates before = FilterStates::Capture();
  OwnedChunk empty(0);
  CSNLib::DecodeActive(K(), empty.buf);
  EXPECT_TRUE(FilterStates::Capture() == before);
}

INSTANTIATE_TEST_SUITE_P(Backends, ActiveTest, ::testing::Values(0, 1), BackendName);

// --- SSE2 against the scalar back end -----------------------------------------

struct DecoderCase {
  const char* name;
  int32_t surroundMode, centreWeight, shelf;
  void (*op)(CSNFn&, SNChunk&);
  double tolerance;
};
void PrintTo(const DecoderCase& c, std::ostream* os) { *os << c.name; }

void RunPassive(CSNFn& k, SNChunk& c) { k.DecodePassive(c); }
void RunActive(CSNFn& k, SNChunk& c) { CSNLib::DecodeActive(k, c); }
// The smoothed steering values go to lanes 2 and 3 of the chunk for comparison.
void RunSteering(CSNFn& k, SNChunk& c) {
  DecoderBufferSet& b = Dsp.DecoderBuffers;
  k.ComputeSteering(Dsp.K().SteerLp795, Dsp.DecoderState[4], Dsp.DecoderState[3], c, b.SteerLR1, b.SteerCS1);
  for (uint32_t i = 0; i < c.count; ++i) {
    c.data[i].lane[2] = b.SteerLR1.data[i];
    c.data[i].lane[3] = b.SteerCS1.data[i];
  }
}

// Steered material: r is made from l as a panned, in-phase or anti-phase copy
// (or left independent), the pattern changing after every ten chunks (about
// 3000 frames, time for the steering to settle), so the stream sweeps the
// steering through both signs of both values, not just the near-neutral
// steering of independent noise.
void Steerable(OwnedChunk& c, uint32_t n) {
  static constexpr float kPan[] = {1.0f, 0.1f, -1.0f, 0.0f, 3.0f, -0.2f, 2.0f};
  const float pan = kPan[(n / 10) % std::size(kPan)];
  for (uint32_t i = 0; i < c.size(); ++i) {
    float* f = c[i].lane;
    if (pan > 1.0f)
      f[0] = f[1] / pan;  // right-heavy
    else if (pan != 0.0f)
      f[1] = pan * f[0];
  }
}

// Tolerances. Passive: one rounding, identical in both. Steering: VecLog is
// within 2^-11 of ln, the smoother (gain 1, 4 % overshoot) keeps that.
// Decoder: a steering difference of 5e-4 and the VecExp error (2^-11) move a
// gain by at most 7e-4; the gains' coefficients sum to under 2 per input, so
// with |l|, |r| <= 0.707 an output moves by at most 2e-3. A wrong matrix entry
// or slope moves outputs by 1e-2 and more.
const DecoderCase kDecoders[] = {
    {"Passive", 0, 100, 0, RunPassive, 0.0},
    {"Steering", 0, 100, 0, RunSteering, 5e-4},
    {"ActiveMovie", 0, 100, 0, RunActive, 2e-3},
    {"ActiveMusicWeight30", 1, 30, 0, RunActive, 2e-3},
    {"ActiveMusicShelf", 1, 100, 1, RunActive, 2e-3},
};

class DecoderCompare : public EngineFixture, public ::testing::WithParamInterface<DecoderCase> {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    cfg_.SurroundMode = GetParam().surroundMode;
    cfg_.CentreWeight = GetParam().centreWeight;
    cfg_.MusicSurroundShelf = GetParam().shelf;
    Recalc();
  }
};

TEST_P(DecoderCompare, Sse2MatchesScalarAcrossChunks) {
  const double worst = CompareBackends(0xdec0de, GetParam().op, 7, 0.707f, Steerable);
  std::printf("%s: largest difference %.3g\n", GetParam().name, worst);
  EXPECT_LE(worst, GetParam().tolerance);
}

TEST_P(DecoderCompare, SwitchingBackendsContinuesTheDecoder) {
  const AlternationResult r = CompareAlternating(0xa1, GetParam().op, 70, 0.707f, Steerable);
  EXPECT_LE(r.vsScalar, GetParam().tolerance);
  EXPECT_LE(r.vsSse2, GetParam().tolerance);
}

TEST_P(DecoderCompare, JunkLanesDoNotLeak) {
  EXPECT_TRUE(JunkLanesIgnored(4, GetParam().op));
}

INSTANTIATE_TEST_SUITE_P(Decoders, DecoderCompare, ::testing::ValuesIn(kDecoders),
                         [](const ::testing::TestParamInfo<DecoderCase>& i) { return std::string(i.param.name); });

// --- Through the engine: modes 1 and 2 ----------------------------------------

using DecoderEngineTest = EnginePerBackend;

OwnedChunk AsConverted(const OwnedChunk& in, int channels) {
  OwnedChunk c = in;
  for (uint32_t i = 0; i < c.size(); ++i) {
    float* f = c[i].lane;
    switch (channels) {
      case 1: f[0] = f[1] = f[3] = f[4] = f[5] = 0; break;  // mono arrives as centre
      case 2: f[2] = f[3] = f[4] = f[5] = 0; break;
      case 5: f[3] = 0; break;
      default: break;
    }
  }
  return c;
}

TEST_P(DecoderEngineTest, PassiveModeDecodesStereo) {
  cfg_.Mode = kModePassive;
  std::mt19937 rng(1);
  const OwnedChunk in = AsConverted(RandomChunk(rng, 576), 2);
  OwnedChunk out = in;
  CSNLib engine;
  engine.ProcessChunk(2, out.buf);
  for (uint32_t i = 0; i < in.size(); ++i) {
    const float l = in[i].lane[0], r = in[i].lane[1];
    const float* f = out[i].lane;
    ASSERT_EQ(f[0], 0.707f * l);
    ASSERT_EQ(f[1], 0.707f * r);
    ASSERT_EQ(f[2], 0.5f * l + 0.5f * r);
    ASSERT_EQ(f[3], 0.0f);
    ASSERT_EQ(f[4], 0.5f * l - 0.5f * r);
    ASSERT_EQ(f[5], f[4]);
  }
}

TEST_P(DecoderEngineTest, ActiveModeDecodesStereo) {
  cfg_.Mode = kModeActive;
  std::mt19937 rng(2);
  CSNLib engine;
  OwnedChunk expect[3], got[3];
  for (int c = 0; c < 3; ++c) {
    got[c] = expect[c] = AsConverted(RandomChunk(rng, 576), 2);
    engine.ProcessChunk(2, got[c].buf);
  }
  CSNLib::ResetDSP();
  for (int c = 0; c < 3; ++c) {
    CSNLib::DecodeActive(Backend(GetParam()), expect[c].buf);
    EXPECT_EQ(MaxLaneDiff(got[c].buf, expect[c].buf), 0.0) << "chunk " << c;
    for (uint32_t i = 0; i < 576; ++i) ASSERT_EQ(got[c][i].lane[3], 0.0f);
  }
  // Five channels of content out of two.
  double energy[6] = {};
  for (uint32_t i = 0; i < 576; ++i)
    for (int l = 0; l < 6; ++l) energy[l] += got[2][i].lane[l] * got[2][i].lane[l];
  for (int l : {0, 1, 2, 4, 5}) EXPECT_GT(energy[l], 1.0) << "lane " << l;
}

// Modes 1 and 2 decode only 2-channel sources; anything else passes to the
// room stages as converted.
TEST_P(DecoderEngineTest, OtherSourcesPassUnchanged) {
  std::mt19937 rng(3);
  CSNLib engine;
  for (int32_t mode : {kModePassive, kModeActive}) {
    for (int channels : {1, 5, 6}) {
      cfg_.Mode = mode;
      const OwnedChunk in = AsConverted(RandomChunk(rng, 577), channels);
      OwnedChunk out = in;
      engine.ProcessChunk(channels, out.buf);
      EXPECT_EQ(MaxLaneDiff(out.buf, in.buf), 0.0) << "mode " << mode << ", " << channels << " channels";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DecoderEngineTest, ::testing::Values(0, 1), BackendName);

}  // namespace
}  // namespace sn::test
