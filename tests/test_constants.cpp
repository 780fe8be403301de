// The derived constants against reference values computed independently.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>

#include "engine/Constants.h"
#include "support/KernelTest.h"

namespace sn {
namespace {

struct DesignCase {
  uint32_t fs;
  float f;
  bool highPass;
  float warp, b0, b1, a1, a2;
};

class DesignTest : public ::testing::TestWithParam<DesignCase> {};

TEST_P(DesignTest, MatchesReferenceCoefficients) {
  const DesignCase& c = GetParam();
  const ButterworthCoeffs k = DesignButterworth(c.f, c.highPass, c.fs);
  // The references are printed to 9 significant digits: equal to within one
  // float step, which any error in the formula would exceed by far.
  auto near = [](float got, float want) { return std::fabs(got - want) <= std::fabs(want) * 2e-7f + 1e-12f; };
  EXPECT_PRED2(near, k.warp, c.warp);
  EXPECT_PRED2(near, k.b0, c.b0);
  EXPECT_PRED2(near, k.b1, c.b1);
  EXPECT_PRED2(near, k.a1, c.a1);
  EXPECT_PRED2(near, k.a2, c.a2);
}

INSTANTIATE_TEST_SUITE_P(
    Reference, DesignTest,
    ::testing::Values(DesignCase{48000, 1200.0f, true, 0.0787017122f, 0.894858599f, -1.7897172f, -1.77863181f,
                                 0.800802648f},
                      DesignCase{48000, 7000.0f, false, 2.02779913f, 0.125317827f, 0.250635654f, -0.779970467f,
                                 0.281241804f},
                      DesignCase{44100, 120.0f, true, 0.00854875986f, 0.987983286f, -1.97596657f, -1.97582221f,
                                 0.976110995f},
                      DesignCase{44100, 7.95f, false, 1765.71887f, 3.20485981e-07f, 6.40971962e-07f, -1.99839807f,
                                 0.998399436f}));

TEST(Design, ZeroCutoffHighPassDegeneratesExactly) {
  const ButterworthCoeffs k = DesignButterworth(0.0f, true, 44100);
  EXPECT_EQ(k.warp, 0.0f);
  EXPECT_EQ(k.b0, 1.0f);
  EXPECT_EQ(k.b1, -2.0f);
  EXPECT_EQ(k.a1, -2.0f);
  EXPECT_EQ(k.a2, 1.0f);
}

TEST(Design, SectionHasUnitGainInItsPassBand) {
  // An independent check of the design: evaluate |H| at DC and Nyquist in double.
  for (uint32_t fs : {44100u, 48000u}) {
    const ButterworthCoeffs lp = DesignButterworth(7000.0f, false, fs);
    const ButterworthCoeffs hp = DesignButterworth(1200.0f, true, fs);
    const double lpDc = (2.0 * lp.b0 + lp.b1) / (1.0 + lp.a1 + lp.a2);
    const double hpNyq = (2.0 * hp.b0 - hp.b1) / (1.0 - hp.a1 + hp.a2);
    EXPECT_NEAR(lpDc, 1.0, 1e-6);
    EXPECT_NEAR(hpNyq, 1.0, 1e-6);
  }
}

TEST(Scale, InputFactorsHaveTheirBitPatterns) {
  EXPECT_EQ(std::bit_cast<uint32_t>(FDIV8), 0x3BB4FDF4u);
  EXPECT_EQ(std::bit_cast<uint32_t>(FDIV16), 0x37B4FDF4u);
  EXPECT_EQ(std::bit_cast<uint32_t>(FDIV32), 0x2FB4FDF4u);
  EXPECT_EQ(static_cast<float>(1.0 / (128.0 * static_cast<double>(kInputDiv))), FDIV8);
  EXPECT_EQ(static_cast<float>(1.0 / (32768.0 * static_cast<double>(kInputDiv))), FDIV16);
  EXPECT_EQ(static_cast<float>(1.0 / (2147483648.0 * static_cast<double>(kInputDiv))), FDIV32);
}

TEST(Delays, TruncateAndMatchIntegerQuotient) {
  EXPECT_EQ(DelaySamples(44100, 100), 4410u);
  EXPECT_EQ(DelaySamples(44100, 200), 8820u);
  EXPECT_EQ(DelaySamples(48000, 200), 9600u);
  EXPECT_EQ(DelaySamples(44100, 1), 44u);
  for (uint32_t fs : {8000u, 11025u, 22050u, 32000u, 44100u, 48000u, 88200u, 96000u, 192000u})
    for (uint32_t ms = 0; ms <= 200; ++ms)
      ASSERT_EQ(DelaySamples(fs, ms), static_cast<uint32_t>(uint64_t{fs} * ms / 1000)) << fs << " " << ms;
}

TEST(Gains, DecibelsToLinear) {
  EXPECT_EQ(DbToGain(0), 1.0f);
  EXPECT_FLOAT_EQ(DbToGain(-6), 0.501187205f);
  EXPECT_FLOAT_EQ(DbToGain(6), 1.99526238f);
  for (int db = -12; db <= 12; ++db) EXPECT_NEAR(DbToGain(db), std::pow(10.0, db / 20.0), 2e-7 * 4.0) << db;
}

using ConstantsTest = test::EngineFixture;

TEST_F(ConstantsTest, SettingsBecomeDelaysGainsAndCentreWeight) {
  cfg_.DelayL = 1;
  cfg_.DelayR = 2;
  cfg_.DelayC = 3;
  cfg_.DelaySub = 4;
  cfg_.DelaySL = 100;
  cfg_.DelaySR = 5;
  cfg_.SurroundDelayMovie = 100;
  cfg_.SurroundDelayMusic = 7;
  cfg_.TrimSub = -6;
  cfg_.LFEInvert = 1;
  cfg_.MasterGain = 6;
  cfg_.CentreWeight = 50;
  Recalc(44100);
  const DspConstants& k = Dsp.K();
  EXPECT_EQ(k.SampleRate, 44100u);
  const uint32_t movie[6] = {44, 88, 132, 176, 8820, 4630};
  const uint32_t music[6] = {44, 88, 132, 176, 4718, 529};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(k.DelaySamplesMovie[i], movie[i]) << i;
    EXPECT_EQ(k.DelaySamplesMusic[i], music[i]) << i;
  }
  EXPECT_EQ(k.SurroundDelaySamplesMovie, 4410u);
  EXPECT_EQ(k.SurroundDelaySamplesMusic, 308u);
  EXPECT_FLOAT_EQ(k.TrimGain[3], -0.501187205f);
  EXPECT_EQ(k.TrimGain[0], 1.0f);
  EXPECT_FLOAT_EQ(k.MasterGainLinear, 1.99526238f);
  EXPECT_FLOAT_EQ(k.CentreWeightFactor, 0.7403627f);
  EXPECT_FLOAT_EQ(k.CentreSpill, 0.1298186f);

  cfg_.CentreWeight = 0;
  cfg_.LFEInvert = 0;
  Recalc(44100);
  EXPECT_NEAR(Dsp.K().CentreWeightFactor, 0.0f, 1e-7f);
  EXPECT_NEAR(Dsp.K().CentreSpill, 0.5f, 1e-7f);
  EXPECT_FLOAT_EQ(Dsp.K().TrimGain[3], 0.501187205f);
  cfg_.CentreWeight = 100;
  Recalc(44100);
  EXPECT_EQ(Dsp.K().CentreWeightFactor, 1.0f);
  EXPECT_EQ(Dsp.K().CentreSpill, 0.0f);
}

TEST_F(ConstantsTest, RateZeroChangesNothingAndRepeatsAreBitIdentical) {
  Recalc(48000);
  DspConstants before = Dsp.K();
  Recalc(0);
  EXPECT_EQ(std::memcmp(&before, &Dsp.K(), sizeof before), 0);
  Recalc(48000);
  EXPECT_EQ(std::memcmp(&before, &Dsp.K(), sizeof before), 0);
}

TEST_F(ConstantsTest, AChunkSeesOneWholeSetPublishedBetweenChunks) {
  cfg_.MasterGain = 0;
  Recalc(48000);
  cfg_.MasterGain = 6;
  CSNLib::CalcStaticConstants(44100);
  // Not latched yet: the chunk in progress keeps the whole old set.
  EXPECT_EQ(Dsp.K().SampleRate, 48000u);
  EXPECT_EQ(Dsp.K().MasterGainLinear, 1.0f);
  Dsp.Constants.Latch();
  EXPECT_EQ(Dsp.K().SampleRate, 44100u);
  EXPECT_FLOAT_EQ(Dsp.K().MasterGainLinear, 1.99526238f);
}

}  // namespace
}  // namespace sn
