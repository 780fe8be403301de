// The GPU block convolver: the device choice everywhere, and where a CUDA
// device exists, the convolutions against time-domain convolution in double
// and against the CPU convolver. Without a device those tests say so and skip.
//
// Tolerance, as for the CPU convolver (tests/test_headphones_convolve.cpp):
// errors are measured against the Cauchy-Schwarz bound of an output value,
// 16384 x |x|_2 x |h|_2 summed over the feeds. The GPU runs single-precision
// transforms of the same 16384 points, and its filter spectra come from the
// same kind of transform, so its error is of the CPU's order (about 1e-8 of that
// scale on random blocks, 4e-8 on impulses); the tests allow 1e-7 and 2.5e-7,
// and the sum of both paths' allowances between GPU and CPU. A shifted,
// circular, mis-scaled or wrong-filter result errs by 1e-2 of the scale or more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "engine/BinauralTable.h"
#include "engine/CpuConvolver.h"
#include "engine/GpuConvolver.h"
#include "engine/SNLib.h"
#include "engine/cuda/CudaHelper.h"
#include "support/HeadphoneReference.h"

namespace sn::test {
namespace {

constexpr double kRelTol = 1e-7;
constexpr double kImpulseTol = 2.5e-7;
constexpr uint32_t kN = kConvolverOut;
constexpr uint32_t kBlock = kConvolverBlock;

// The table the tests convolve with: the 48 kHz one, as TableResponse reads it.
const float* Table() { return BinauralTableFor(48000); }

// ---- The device choice: the highest clockRate x multiProcessorCount, strictly.

TEST(GpuDeviceChoice, HighestScoreWinsAndATieKeepsTheLowerIndex) {
  struct Case {
    const char* what;
    std::vector<SnCudaDeviceScore> devices;
    int32_t chosen;
  };
  const Case cases[] = {
      {"1,300,000 x 15 ties 1,625,000 x 12: device 0", {{1300000, 15, 1}, {1625000, 12, 1}}, 0},
      {"1,625,000 x 16 beats 1,300,000 x 15", {{1300000, 15, 1}, {1625000, 16, 1}}, 1},
      {"a single device", {{900000, 2, 1}}, 0},
      {"no device", {}, -1},
      {"the best in the middle", {{1000000, 10, 1}, {1000000, 30, 1}, {1500000, 19, 1}}, 1},
      {"a later tie never displaces", {{1000000, 20, 1}, {2000000, 10, 1}, {500000, 40, 1}}, 0},
      {"an unreadable device is passed over", {{2000000, 100, 0}, {1000000, 10, 1}}, 1},
      {"no readable device", {{2000000, 100, 0}}, -1},
      // Scores beyond 32 bits: 2,100,000 x 1100 and 2,000,000 x 1100 both
      // overflow a 32-bit product, which would turn the order around.
      {"scores beyond 32 bits", {{2000000, 1100, 1}, {2100000, 1100, 1}}, 1},
      {"scores beyond 32 bits, reversed", {{2100000, 1100, 1}, {2000000, 1100, 1}}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SnCudaChooseDevice(c.devices.data(), static_cast<int32_t>(c.devices.size())), c.chosen) << c.what;
}

// ---- The probe on this machine.

TEST(GpuProbe, AnswersOnceAndSaysWhatItFound) {
  const bool found = ProbeGpu();
  EXPECT_EQ(ProbeGpu(), found);
  const std::string text = GpuDescription();
  std::printf("GPU probe: %s\n", text.c_str());
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), std::string::npos);
  if (found) {
    EXPECT_EQ(text.rfind("no GPU", 0), std::string::npos) << text;
  } else {
    EXPECT_EQ(text.rfind("no GPU", 0), 0u) << text;
    EXPECT_FALSE(CSNLib::IsCUDASupported());
    // Without a device nothing is made, whatever the filters.
    GpuBlockConvolver conv;
    EXPECT_FALSE(conv.Prepare({Table(), kBinauralTaps}));
    EXPECT_FALSE(conv.Ready());
    EXPECT_FALSE(GpuFailed()) << "having no GPU is not a GPU failure";
  }
}

// ---- The convolutions, on a device.

class GpuConvolve : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProbeGpu()) GTEST_SKIP() << "needs a CUDA device; " << GpuDescription();
    ASSERT_TRUE(gpu_.Prepare({Table(), kBinauralTaps})) << "making the device side failed";
    ASSERT_TRUE(cpu_.Prepare({Table(), kBinauralTaps}));
    for (auto& f : feeds_) f.assign(kBlock, 0.0f);
    earL_.assign(kN + 4, kGuard);
    earR_.assign(kN + 4, kGuard);
  }
  void TearDown() override { EXPECT_FALSE(GpuFailed()); }
  const float* const* Feeds() {
    for (int f = 0; f < kConvolverFeeds; ++f) in_[f] = feeds_[f].data();
    return in_;
  }
  bool Run(int set) { return gpu_.ConvolveBlock(set, Feeds(), earL_.data(), earR_.data()); }
  const float* Ear(int ear) const { return ear == 0 ? earL_.data() : earR_.data(); }
  bool GuardsIntact() const {
    for (uint32_t i = kN; i < kN + 4; ++i)
      if (earL_[i] != kGuard || earR_[i] != kGuard) return false;
    return true;
  }
  void Randomise(std::mt19937& rng) {
    std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
    for (auto& f : feeds_)
      for (float& v : f) v = dist(rng);
  }
  double Scale(int set, int ear) const {
    double scale = 0.0;
    for (int k = 0; k < kConvolverFeeds; ++k)
      scale += double(kN) * Norm2(feeds_[k].data(), kBlock) * Norm2(TableResponse(set, k, ear), kResponseTaps);
    return scale;
  }

  static constexpr float kGuard = 12345.0f;
  GpuBlockConvolver gpu_;
  CpuBlockConvolver cpu_;
  std::vector<float> feeds_[kConvolverFeeds];
  const float* in_[kConvolverFeeds] = {};
  std::vector<float> earL_, earR_;
};

// Random blocks on all five feeds: each ear against the sum of the five
// time-domain convolutions, at every 11th value and at both ends of each half.
TEST_F(GpuConvolve, RandomBlocksMatchTheSumOfDirectConvolutions) {
  std::mt19937 rng(20240611);
  std::vector<uint32_t> at;
  for (uint32_t n = 0; n < kN; n += 11) at.push_back(n);
  for (uint32_t n : {1u, 8190u, 8191u, 8192u, 8193u, 16382u, 16383u}) at.push_back(n);
  for (int set = 0; set < 2; ++set) {
    Randomise(rng);
    ASSERT_TRUE(Run(set));
    EXPECT_TRUE(GuardsIntact());
    for (int ear = 0; ear < 2; ++ear) {
      double worst = 0.0;
      for (uint32_t n : at) {
        double want = 0.0;
        for (int k = 0; k < kConvolverFeeds; ++k)
          want += double(kN) * DirectConvolutionAt(feeds_[k].data(), kBlock, TableResponse(set, k, ear), n);
        worst = std::max(worst, std::fabs(Ear(ear)[n] - want));
      }
      EXPECT_LE(worst / Scale(set, ear), kRelTol) << "set " << set << " ear " << ear;
    }
  }
}

// Every value of both ears against the CPU convolver, on random blocks and on
// blocks with silent feeds (a mono and an undecoded stereo source).
TEST_F(GpuConvolve, MatchesTheCpuConvolver) {
  std::mt19937 rng(77);
  std::vector<float> cpuL(kN), cpuR(kN);
  for (int trial = 0; trial < 4; ++trial) {
    const int set = trial & 1;
    Randomise(rng);
    if (trial == 2) {
      for (int k : {0, 1, 3, 4}) std::fill(feeds_[k].begin(), feeds_[k].end(), 0.0f);
    } else if (trial == 3) {
      for (int k : {2, 3, 4}) std::fill(feeds_[k].begin(), feeds_[k].end(), 0.0f);
    }
    ASSERT_TRUE(Run(set));
    ASSERT_TRUE(cpu_.ConvolveBlock(set, Feeds(), cpuL.data(), cpuR.data()));
    for (int ear = 0; ear < 2; ++ear) {
      const float* c = ear == 0 ? cpuL.data() : cpuR.data();
      double worst = 0.0;
      for (uint32_t n = 0; n < kN; ++n) worst = std::max(worst, std::fabs(double(Ear(ear)[n]) - c[n]));
      EXPECT_LE(worst / Scale(set, ear), 2 * kRelTol) << "trial " << trial << " ear " << ear;
    }
  }
}

// A unit impulse on one feed gives 16384 times that feed's two responses at
// the impulse's position, for every feed, ear and set.
TEST_F(GpuConvolve, ImpulsePerFeedAndEarGivesTheScaledResponse) {
  const uint32_t positions[] = {0, 1, 4095, 8191};
  for (int set = 0; set < 2; ++set)
    for (int feed = 0; feed < kConvolverFeeds; ++feed) {
      const uint32_t p = positions[(set * kConvolverFeeds + feed) % 4];
      SCOPED_TRACE(::testing::Message() << "set " << set << " feed " << feed << " at " << p);
      for (auto& f : feeds_) std::fill(f.begin(), f.end(), 0.0f);
      feeds_[feed][p] = 1.0f;
      ASSERT_TRUE(Run(set));
      EXPECT_TRUE(GuardsIntact());
      for (int ear = 0; ear < 2; ++ear) {
        const float* h = TableResponse(set, feed, ear);
        const double tol = kImpulseTol * kN * Norm2(h, kResponseTaps);
        const float* y = Ear(ear);
        double worst = 0.0;
        for (uint32_t n = 0; n < kN; ++n) {
          const double want = n >= p && n - p < kResponseTaps ? double(kN) * h[n - p] : 0.0;
          worst = std::max(worst, std::fabs(y[n] - want) - 0x1p-23 * std::fabs(want));
        }
        EXPECT_LE(worst, tol) << "ear " << ear;
        const auto mag = [](float a, float b) { return std::fabs(a) < std::fabs(b); };
        EXPECT_EQ(std::max_element(y, y + kN, mag) - y,
                  static_cast<long>(p + (std::max_element(h, h + kResponseTaps, mag) - h)))
            << "ear " << ear;
      }
    }
}

TEST_F(GpuConvolve, SilentAndMissingFeedsGiveZeros) {
  std::fill(earL_.begin(), earL_.begin() + kN, 1.0f);
  std::fill(earR_.begin(), earR_.begin() + kN, -1.0f);
  const float* in[kConvolverFeeds] = {feeds_[0].data(), nullptr, feeds_[2].data(), nullptr, nullptr};
  ASSERT_TRUE(gpu_.ConvolveBlock(1, in, earL_.data(), earR_.data()));
  EXPECT_TRUE(std::all_of(earL_.begin(), earL_.begin() + kN, [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::all_of(earR_.begin(), earR_.begin() + kN, [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(GuardsIntact());
}

// Device memory is made at Prepare and not per block: 1000 blocks leave the
// device's memory in use where it was after the first few. A leak of even one
// small allocation per block would show as megabytes; the allowance covers
// what other programs on a shared device might do meanwhile.
TEST_F(GpuConvolve, NoDeviceMemoryGrowthOver1000Blocks) {
  std::mt19937 rng(5);
  Randomise(rng);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(Run(i & 1));
  const int64_t before = gpu_.DeviceMemoryInUse();
  ASSERT_GE(before, 0);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(Run(i & 1)) << "block " << i;
  const int64_t after = gpu_.DeviceMemoryInUse();
  EXPECT_LE(after - before, int64_t{2} << 20) << "before " << before << " after " << after;
}

TEST_F(GpuConvolve, LifecycleReleasesAndMakesAgain) {
  EXPECT_TRUE(gpu_.Ready());
  EXPECT_TRUE(gpu_.Prepare({Table(), kBinauralTaps})) << "preparing again with the same filters";
  gpu_.Release();
  EXPECT_FALSE(gpu_.Ready());
  EXPECT_FALSE(Run(0)) << "a released convolver refuses the block";
  EXPECT_FALSE(GpuFailed()) << "refusing is not a failure";
  EXPECT_FALSE(gpu_.Prepare({Table(), 0}));
  EXPECT_FALSE(gpu_.Prepare({nullptr, kBinauralTaps}));
  ASSERT_TRUE(gpu_.Prepare({Table(), kBinauralTaps}));
  feeds_[2][0] = 1.0f;
  ASSERT_TRUE(Run(0));
  for (int ear = 0; ear < 2; ++ear)
    EXPECT_NEAR(Ear(ear)[0], double(kN) * TableResponse(0, 2, ear)[0], 1e-3) << "ear " << ear;
}

}  // namespace
}  // namespace sn::test
