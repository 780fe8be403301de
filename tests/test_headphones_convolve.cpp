// The CPU block convolver behind the headphone renderer's seam, checked against
// time-domain convolution in double.
//
// Tolerance: errors are measured against the Cauchy-Schwarz bound of an output
// value, 16384 x |x|_2 x |h|_2 summed over the feeds, the largest that value can
// be. Single-precision transforms of 16384 points stay within about 1e-8 of that
// scale on random blocks and 4e-8 on impulses (whose outputs reach the bound);
// the tests allow 1e-7 and 2.5e-7. A shifted, circular, mis-scaled or
// wrong-filter result errs by 1e-2 of the scale or more (random outputs are
// typically 1/90 of the bound).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/BinauralTable.h"
#include "engine/CpuConvolver.h"
#include "support/HeadphoneReference.h"

namespace sn::test {
namespace {

constexpr double kRelTol = 1e-7;
constexpr double kImpulseTol = 2.5e-7;
constexpr uint32_t kN = kConvolverOut;
constexpr uint32_t kBlock = kConvolverBlock;

const float* Table(uint32_t rate = 44100) { return BinauralTableFor(rate); }

class HeadphoneConvolve : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(conv_.Prepare({Table(), kBinauralTaps}));
    for (auto& f : feeds_) f.assign(kBlock, 0.0f);
    earL_.assign(kN + 4, kGuard);
    earR_.assign(kN + 4, kGuard);
  }
  bool Run(int set) {
    const float* in[kConvolverFeeds];
    for (int f = 0; f < kConvolverFeeds; ++f) in[f] = feeds_[f].data();
    return conv_.ConvolveBlock(set, in, earL_.data(), earR_.data());
  }
  const float* Ear(int ear) const { return ear == 0 ? earL_.data() : earR_.data(); }
  // Nothing past the 16384 values of an ear is written.
  bool GuardsIntact() const {
    for (uint32_t i = kN; i < kN + 4; ++i)
      if (earL_[i] != kGuard || earR_[i] != kGuard) return false;
    return true;
  }

  static constexpr float kGuard = 12345.0f;
  CpuBlockConvolver conv_;
  std::vector<float> feeds_[kConvolverFeeds];
  std::vector<float> earL_, earR_;
};

// A unit impulse at block position p of one feed gives 16384 times that feed's
// responses, shifted by p: with the 44100 Hz table, then with the 48000 Hz one
// prepared over it (the spectra rebuilt in place).
TEST_F(HeadphoneConvolve, ImpulseGivesTheScaledResponseAtItsPosition) {
  struct Case {
    uint32_t rate;
    int set;
    int feed;
    uint32_t position;
  };
  const Case cases[] = {{44100, 0, 0, 0},    {44100, 0, 2, 1},    {44100, 1, 4, 0},    {44100, 1, 1, 4095},
                        {44100, 0, 3, 8191}, {48000, 1, 2, 8191}, {48000, 0, 0, 0},    {48000, 1, 4, 17},
                        {48000, 0, 3, 4096}, {44100, 1, 2, 8191}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, set " << c.set << " feed " << c.feed << " at "
                                      << c.position);
    ASSERT_TRUE(conv_.Prepare({Table(c.rate), kBinauralTaps}));
    for (auto& f : feeds_) std::fill(f.begin(), f.end(), 0.0f);
    feeds_[c.feed][c.position] = 1.0f;
    ASSERT_TRUE(Run(c.set));
    EXPECT_TRUE(GuardsIntact());
    for (int ear = 0; ear < 2; ++ear) {
      const float* h = TableResponse(c.set, c.feed, ear, c.rate);
      const double tol = kImpulseTol * kN * Norm2(h, kResponseTaps);
      const float* y = Ear(ear);
      double worst = 0.0;
      for (uint32_t n = 0; n < kN; ++n) {
        double want = 0.0;
        if (n >= c.position && n - c.position < kResponseTaps) want = double(kN) * h[n - c.position];
        // Beyond the transforms' share, the output itself is rounded to float.
        worst = std::max(worst, std::fabs(y[n] - want) - 0x1p-23 * std::fabs(want));
      }
      EXPECT_LE(worst, tol) << "ear " << ear;
      // Shape check independent of the tolerance: the peak lands where the response's does.
      const auto peak = std::max_element(y, y + kN, [](float a, float b) { return std::fabs(a) < std::fabs(b); }) - y;
      const auto hPeak = std::max_element(h, h + kResponseTaps,
                                          [](float a, float b) { return std::fabs(a) < std::fabs(b); }) - h;
      EXPECT_EQ(peak, static_cast<long>(c.position + hPeak)) << "ear " << ear;
    }
  }
}

// Random blocks on all five feeds: each ear against the sum of the five
// time-domain convolutions, at every 11th value and at both ends of each half.
// The feeds are read only.
TEST_F(HeadphoneConvolve, RandomBlocksMatchTheSumOfDirectConvolutions) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
  std::vector<uint32_t> at;
  for (uint32_t n = 0; n < kN; n += 11) at.push_back(n);
  for (uint32_t n : {1u, 8190u, 8191u, 8192u, 8193u, 16382u, 16383u}) at.push_back(n);

  for (int set = 0; set < 2; ++set) {
    for (auto& f : feeds_)
      for (float& v : f) v = dist(rng);
    std::vector<float> copies[kConvolverFeeds];
    for (int k = 0; k < kConvolverFeeds; ++k) copies[k] = feeds_[k];
    ASSERT_TRUE(Run(set));
    EXPECT_TRUE(GuardsIntact());
    for (int k = 0; k < kConvolverFeeds; ++k) EXPECT_EQ(copies[k], feeds_[k]);
    for (int ear = 0; ear < 2; ++ear) {
      double scale = 0.0;
      for (int k = 0; k < kConvolverFeeds; ++k)
        scale += double(kN) * Norm2(feeds_[k].data(), kBlock) * Norm2(TableResponse(set, k, ear, 44100), kResponseTaps);
      double worst = 0.0;
      for (uint32_t n : at) {
        double want = 0.0;
        for (int k = 0; k < kConvolverFeeds; ++k)
          want += double(kN) * DirectConvolutionAt(feeds_[k].data(), kBlock, TableResponse(set, k, ear, 44100), n);
        worst = std::max(worst, std::fabs(Ear(ear)[n] - want));
      }
      EXPECT_LE(worst / scale, kRelTol) << "set " << set << " ear " << ear;
    }
  }
}

TEST_F(HeadphoneConvolve, SilentAndMissingFeedsGiveZeros) {
  std::fill(earL_.begin(), earL_.begin() + kN, 1.0f);
  std::fill(earR_.begin(), earR_.begin() + kN, -1.0f);
  feeds_[3][0] = -0.0f;
  const float* in[kConvolverFeeds] = {feeds_[0].data(), nullptr, feeds_[2].data(), feeds_[3].data(), nullptr};
  ASSERT_TRUE(conv_.ConvolveBlock(1, in, earL_.data(), earR_.data()));
  EXPECT_TRUE(std::all_of(earL_.begin(), earL_.begin() + kN, [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::all_of(earR_.begin(), earR_.begin() + kN, [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(GuardsIntact());
}

TEST_F(HeadphoneConvolve, LifecycleAndBadFilters) {
  EXPECT_TRUE(conv_.Ready());
  EXPECT_TRUE(conv_.Prepare({Table(), kBinauralTaps})) << "preparing again with the same filters";
  conv_.Release();
  EXPECT_FALSE(conv_.Ready());
  EXPECT_FALSE(Run(0)) << "an unprepared convolver refuses the block";
  EXPECT_FALSE(conv_.Prepare({nullptr, kBinauralTaps}));
  EXPECT_FALSE(conv_.Prepare({Table(), 0}));
  EXPECT_FALSE(conv_.Prepare({Table(), static_cast<int>(kBlock) + 1}));
  EXPECT_FALSE(conv_.Ready());
  EXPECT_TRUE(conv_.Prepare({Table(), kBinauralTaps}));
  feeds_[0][0] = 1.0f;
  EXPECT_TRUE(Run(0));
}

}  // namespace
}  // namespace sn::test
