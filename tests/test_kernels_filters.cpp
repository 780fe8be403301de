// Filter primitives (phase network, second-order section on a float vector, on
// the surround lanes and as a band split) and the SSE2 back end's VecLog and
// VecExp: impulse responses against double-precision references, the published
// reference points, and the SSE2 back end checked against the scalar one.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/sse2/VecMath.h"
#include "support/BackendCompare.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// y[n] = b0 x[n] + b1 x[n-1] + b0 x[n-2] - a1 y[n-1] - a2 y[n-2], all in double.
std::vector<double> ReferenceBiquad(const ButterworthCoeffs& c, const std::vector<double>& x) {
  std::vector<double> y(x.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    y[n] = c.b0 * x[n] + c.b1 * x1 + c.b0 * x2 - c.a1 * y1 - c.a2 * y2;
    x2 = x1;
    x1 = x[n];
    y2 = y1;
    y1 = y[n];
  }
  return y;
}

// The phase network in double: four stages y = k (x + y2) - x2 that all shift
// one shared state set.
std::vector<double> ReferencePhaseNetwork(const std::vector<double>& x) {
  const double k[4] = {0.1617585f, 0.73302895f, 0.9453497f, 0.99059916f};
  std::vector<double> out(x.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    double v = x[n];
    for (double ks : k) {
      const double y = ks * (v + y2) - x2;
      x2 = x1;
      x1 = v;
      y2 = y1;
      y1 = y;
      v = y;
    }
    out[n] = v;
  }
  return out;
}

std::vector<double> Impulse(size_t n) {
  std::vector<double> x(n, 0.0);
  x[0] = 1.0;
  return x;
}

// A chunk holding `signal` in lane `lane`, zeros in the other channel lanes and
// NaN in lanes 6 and 7.
OwnedChunk LaneChunk(const std::vector<double>& signal, int lane) {
  OwnedChunk c(static_cast<uint32_t>(signal.size()));
  for (uint32_t i = 0; i < c.size(); ++i) {
    for (int l = 0; l < 6; ++l) c[i].lane[l] = 0.0f;
    c[i].lane[6] = c[i].lane[7] = kNaN;
    c[i].lane[lane] = static_cast<float>(signal[i]);
  }
  return c;
}

struct OwnedFloats {
  SNBuffer<float> buf{};
  explicit OwnedFloats(const std::vector<double>& v) {
    buf.Init();
    buf.Resize(static_cast<uint32_t>(v.size()));
    for (size_t i = 0; i < v.size(); ++i) buf.data[i] = static_cast<float>(v[i]);
  }
  ~OwnedFloats() { buf.Release(); }
};

class FilterTest : public EngineFixture, public ::testing::WithParamInterface<int> {
 protected:
  CSNFn& K() { return Backend(GetParam()); }
  BiquadState state_{};
};

std::string BackendName(const ::testing::TestParamInfo<int>& info) { return info.param ? "Sse2" : "Scalar"; }

TEST_P(FilterTest, MonoImpulseResponseIsTheSecondOrderSection) {
  const ButterworthCoeffs c = Dsp.K().SteerHp1200;
  const std::vector<double> x = Impulse(200);
  OwnedFloats v(x);
  K().FilterMono(c, state_, v.buf);
  EXPECT_EQ(v.buf.data[0], c.b0);
  EXPECT_NEAR(v.buf.data[1], static_cast<double>(c.b1) - static_cast<double>(c.a1) * c.b0, 1e-7);
  const std::vector<double> ref = ReferenceBiquad(c, x);
  for (size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(v.buf.data[n], ref[n], 1e-6) << "sample " << n;
}

// b2 is not stored: it is b0, so a pass-through b0 = 1 gives x[n] + x[n-2].
TEST_P(FilterTest, SecondFeedForwardTapIsB0) {
  const ButterworthCoeffs c{0.0f, 1.0f, 0.0f, 0.0f, 0.0f};
  OwnedFloats v({1.0, 0.0, 0.0, 0.0, 0.5, 0.0, 0.0});
  K().FilterMono(c, state_, v.buf);
  const float expect[] = {1.0f, 0.0f, 1.0f, 0.0f, 0.5f, 0.0f, 0.5f};
  for (int n = 0; n < 7; ++n) EXPECT_EQ(v.buf.data[n], expect[n]) << "sample " << n;
}

TEST_P(FilterTest, ZeroStateAndZeroInputGiveZero) {
  OwnedFloats v(std::vector<double>(37, 0.0));
  K().FilterMono(Dsp.K().SteerLp795, state_, v.buf);
  for (uint32_t n = 0; n < v.buf.count; ++n) EXPECT_EQ(v.buf.data[n], 0.0f);
  OwnedChunk c = LaneChunk(std::vector<double>(37, 0.0), 4);
  K().FilterSurround(Dsp.K().SurroundHp100, state_, c.buf);
  K().SurroundPhaseShift(state_, c.buf);
  for (uint32_t n = 0; n < c.size(); ++n)
    for (int l = 0; l < 6; ++l) EXPECT_EQ(c[n].lane[l], 0.0f);
}

// The shared-state network: not the product of the coefficients and not four
// independent all-pass sections.
TEST_P(FilterTest, PhaseNetworkImpulseResponse) {
  for (int lane : {4, 5}) {
    BiquadState st{};
    const std::vector<double> x = Impulse(512);
    OwnedChunk c = LaneChunk(x, lane);
    K().SurroundPhaseShift(st, c.buf);
    EXPECT_NEAR(c[0].lane[lane], -0.7724, 5e-5);
    EXPECT_NEAR(c[1].lane[lane], 0.00496, 5e-6);
    EXPECT_NEAR(c[2].lane[lane], 0.4062, 5e-5);
    EXPECT_NEAR(c[3].lane[lane], 0.00350, 5e-6);
    const std::vector<double> ref = ReferencePhaseNetwork(x);
    for (uint32_t n = 0; n < c.size(); ++n) {
      ASSERT_NEAR(c[n].lane[lane], ref[n], 2e-6) << "frame " << n;
      for (int l = 0; l < 6; ++l) {
        if (l == lane) continue;
        ASSERT_EQ(c[n].lane[l], 0.0f) << "frame " << n << " lane " << l;
      }
    }
  }
}

// Near-unity gain up to 0.4 fs, phase through -180 degrees near fs / 4.
TEST_P(FilterTest, PhaseNetworkIsAllPassLike) {
  const size_t n = 8192;
  OwnedChunk c = LaneChunk(Impulse(n), 4);
  K().SurroundPhaseShift(state_, c.buf);
  auto response = [&](double f) {
    std::complex<double> h = 0;
    for (size_t i = 0; i < n; ++i) h += static_cast<double>(c[i].lane[4]) * std::polar(1.0, -2.0 * M_PI * f * i);
    return h;
  };
  for (double f = 0.01; f <= 0.4; f += 0.01) EXPECT_NEAR(std::abs(response(f)), 1.0, 0.0025) << "f/fs " << f;
  // The unwrapped phase passes -180 degrees between 0.2 and 0.3 fs.
  double phase = 0, last = std::arg(response(0.0));
  double crossing = -1;
  for (double f = 0.001; f <= 0.4; f += 0.001) {
    const double p = std::arg(response(f));
    double step = p - last;
    if (step > M_PI) step -= 2 * M_PI;
    if (step < -M_PI) step += 2 * M_PI;
    phase += step;
    last = p;
    if (crossing < 0 && phase <= -M_PI) crossing = f;
    ASSERT_LE(step, 1e-9) << "phase rises at f/fs " << f;
  }
  EXPECT_GT(crossing, 0.2);
  EXPECT_LT(crossing, 0.3);
}

TEST_P(FilterTest, SurroundFilterRunsOnSurroundLanesOnly) {
  std::mt19937 rng(7);
  const OwnedChunk in = RandomChunk(rng, 301);
  OwnedChunk out = in;
  const ButterworthCoeffs c = Dsp.K().SurroundLp7000;
  K().FilterSurround(c, state_, out.buf);
  for (int lane : {4, 5}) {
    std::vector<double> x(in.size());
    for (uint32_t i = 0; i < in.size(); ++i) x[i] = in[i].lane[lane];
    const std::vector<double> ref = ReferenceBiquad(c, x);
    for (uint32_t i = 0; i < in.size(); ++i) ASSERT_NEAR(out[i].lane[lane], ref[i], 2e-6) << "frame " << i;
  }
  for (uint32_t i = 0; i < in.size(); ++i)
    for (int l = 0; l < 4; ++l) ASSERT_EQ(out[i].lane[l], in[i].lane[l]);
}

TEST_P(FilterTest, SplitFrontBandsAddUpToTheSource) {
  std::mt19937 rng(11);
  const OwnedChunk in = RandomChunk(rng, 257);
  OwnedChunk src = in, band, rest;
  const ButterworthCoeffs c = Dsp.K().SteerHp1200;
  K().SplitFront(c, state_, src.buf, band.buf, rest.buf);
  ASSERT_EQ(band.size(), in.size());
  ASSERT_EQ(rest.size(), in.size());
  EXPECT_EQ(MaxLaneDiff(src.buf, in.buf), 0.0);
  for (int lane : {0, 1}) {
    std::vector<double> x(in.size());
    for (uint32_t i = 0; i < in.size(); ++i) x[i] = in[i].lane[lane];
    const std::vector<double> ref = ReferenceBiquad(c, x);
    for (uint32_t i = 0; i < in.size(); ++i) {
      ASSERT_NEAR(band[i].lane[lane], ref[i], 2e-6) << "frame " << i;
      ASSERT_NEAR(band[i].lane[lane] + rest[i].lane[lane], in[i].lane[lane], 2e-7) << "frame " << i;
    }
  }
  // A shorter chunk reuses the outputs' storage.
  const SNCHUNK_INTCHUNK* storage = band.buf.data;
  src.buf.count = 5;
  K().SplitFront(c, state_, src.buf, band.buf, rest.buf);
  EXPECT_EQ(band.buf.data, storage);
  EXPECT_EQ(band.size(), 5u);
  EXPECT_EQ(rest.size(), 5u);
}

TEST_P(FilterTest, EmptyChunkLeavesStatesUnchanged) {
  std::mt19937 rng(3);
  OwnedChunk warm = RandomChunk(rng, 64);
  const ButterworthCoeffs c = Dsp.K().SurroundLp7000;
  K().FilterSurround(c, state_, warm.buf);
  K().SurroundPhaseShift(state_, warm.buf);
  OwnedChunk band, rest;
  K().SplitFront(c, state_, warm.buf, band.buf, rest.buf);  // fills columns 0 and 1 too
  OwnedChunk empty(0);
  OwnedFloats none(std::vector<double>{});
  const BiquadState before = state_;
  K().FilterSurround(c, state_, empty.buf);
  K().SurroundPhaseShift(state_, empty.buf);
  K().SplitFront(c, state_, empty.buf, band.buf, rest.buf);
  K().FilterMono(c, state_, none.buf);
  EXPECT_EQ(std::memcmp(&before, &state_, sizeof(state_)), 0);
  EXPECT_EQ(band.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, FilterTest, ::testing::Values(0, 1), BackendName);

// --- VecLog and VecExp -------------------------------------------------------

float Log1(float x) { return _mm_cvtss_f32(vecmath::VecLog(_mm_set1_ps(x))); }
float Exp1(float x) { return _mm_cvtss_f32(vecmath::VecExp(_mm_set1_ps(x))); }

TEST(VecMath, LogReferencePoints) {
  EXPECT_EQ(Log1(1.0f), 0.0f);
  EXPECT_NEAR(Log1(0.0f), -87.3365, 1e-4);
  EXPECT_NEAR(Log1(-1.0f), -87.3365, 1e-4);
  EXPECT_NEAR(Log1(kNaN), -87.3365, 1e-4);
  EXPECT_EQ(Log1(0.0f), Log1(std::bit_cast<float>(0x00800000u)));
  // Powers of two are e x ln 2 with the constant's own bits.
  for (int e = -126; e <= 127; e += 11) EXPECT_EQ(Log1(std::ldexp(1.0f, e)), static_cast<float>(e) * 0.6931472f);
}

TEST(VecMath, ExpReferencePoints) {
  EXPECT_EQ(Exp1(0.0f), 1.0f);
  EXPECT_EQ(Exp1(-100.0f), 0.0f);
  EXPECT_EQ(Exp1(-88.37626f), 0.0f);
  // The decoder's gain selection relies on 0 <= e^x <= 1 for x <= 0.
  for (float x = -90.0f; x <= 0.0f; x += 0.0009765625f) {
    const float e = Exp1(x);
    ASSERT_GE(e, 0.0f) << x;
    ASSERT_LE(e, 1.0f) << x;
  }
  for (float x = -1e-3f; x < -1e-30f; x *= 0.99f) ASSERT_LE(Exp1(x), 1.0f) << x;
}

// About 12 bits: the approximate reciprocal bounds the error.
TEST(VecMath, AccurateToTwelveBits) {
  double worstLog = 0, worstExp = 0;
  for (double x = 1e-30; x < 1e30; x *= 1.0137) {
    const float xf = static_cast<float>(x);
    worstLog = std::max(worstLog, std::fabs(Log1(xf) - std::log(static_cast<double>(xf))));
  }
  for (float x = 0.5f; x < 2.0f; x += 1.0f / 4096) worstLog = std::max(worstLog, std::fabs(Log1(x) - std::log(static_cast<double>(x))));
  for (double x = -87.0; x < 88.0; x += 0.00731) {
    const float xf = static_cast<float>(x);
    const double ref = std::exp(static_cast<double>(xf));
    worstExp = std::max(worstExp, std::fabs(Exp1(xf) - ref) / ref);
  }
  EXPECT_LT(worstLog, std::ldexp(1.0, -11));
  EXPECT_LT(worstExp, std::ldexp(1.0, -11));
  // Far better than that would mean the reciprocal is not the approximate one
  // the back ends' tolerances are set for; far worse, a wrong constant.
  EXPECT_GT(worstLog, 1e-7);
  std::printf("VecLog abs error %.3g, VecExp rel error %.3g\n", worstLog, worstExp);
}

TEST(VecMath, LanesAreIndependent) {
  const __m128 in = _mm_setr_ps(1.0f, 2.0f, 0.25f, 10.0f);
  alignas(16) float out[4];
  _mm_store_ps(out, vecmath::VecLog(in));
  EXPECT_EQ(out[0], Log1(1.0f));
  EXPECT_EQ(out[1], Log1(2.0f));
  EXPECT_EQ(out[2], Log1(0.25f));
  EXPECT_EQ(out[3], Log1(10.0f));
  _mm_store_ps(out, vecmath::VecExp(_mm_setr_ps(0.0f, -1.0f, 1.5f, -100.0f)));
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[1], Exp1(-1.0f));
  EXPECT_EQ(out[2], Exp1(1.5f));
  EXPECT_EQ(out[3], 0.0f);
}


}  // namespace
}  // namespace sn::test
