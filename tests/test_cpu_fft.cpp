// The CPU convolver's real transforms against KISS FFT (the well-kept
// reference): forward spectra of zero-padded blocks and inverse transforms,
// each path (SSE2 and plain), on random data, impulses and silence.
#include <gtest/gtest.h>

#include <kissfft/kiss_fftr.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/CpuFft.h"
#include "kernels/SNBuffer.h"

namespace sn::test {
namespace {

constexpr uint32_t kN = CpuRealFft::kSize;
constexpr uint32_t kHalf = CpuRealFft::kHalf;
constexpr uint32_t kBins = CpuRealFft::kBins;
constexpr uint32_t kPad = CpuRealFft::kBinsPadded;

// 16-byte-aligned float storage.
struct Floats {
  SNBuffer<float> b{};
  explicit Floats(uint32_t n) {
    b.Init();
    b.Resize(n, true);
  }
  ~Floats() { b.Release(); }
  float* data() { return b.data; }
  float& operator[](uint32_t i) { return b.data[i]; }
};

class CpuFft : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    fwd_ = kiss_fftr_alloc(kN, 0, nullptr, nullptr);
    inv_ = kiss_fftr_alloc(kN, 1, nullptr, nullptr);
    ASSERT_TRUE(fft_.Prepare());
  }
  void TearDown() override {
    kiss_fftr_free(fwd_);
    kiss_fftr_free(inv_);
  }
  kiss_fftr_cfg fwd_ = nullptr, inv_ = nullptr;
  CpuRealFft fft_{GetParam()};
};

// Largest |a - b| relative to the L2 norm of b (the scale of a transform's
// rounding), over n complex values.
double RelativeError(const float* re, const float* im, const std::vector<kiss_fft_cpx>& want) {
  double err = 0.0, norm = 0.0;
  for (size_t k = 0; k < want.size(); ++k) {
    err = std::max(err, std::hypot(double(re[k]) - want[k].r, double(im[k]) - want[k].i));
    norm += double(want[k].r) * want[k].r + double(want[k].i) * want[k].i;
  }
  return err / std::sqrt(norm);
}

TEST_P(CpuFft, ForwardMatchesKissOnPaddedBlocks) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  for (int round = 0; round < 4; ++round) {
    Floats x(kN), re(kPad), im(kPad);
    for (uint32_t i = 0; i < kHalf; ++i) x[i] = round == 3 ? (i == 5 ? 1.0f : 0.0f) : dist(rng);
    if (round == 2)
      for (uint32_t i = 4000; i < kHalf; ++i) x[i] = 0.0f;
    std::vector<kiss_fft_cpx> want(kBins);
    kiss_fftr(fwd_, x.data(), want.data());
    fft_.ForwardPadded(x.data(), re.data(), im.data());
    EXPECT_LE(RelativeError(re.data(), im.data(), want), 2e-7) << "round " << round;
    EXPECT_EQ(im[0], 0.0f);
    EXPECT_EQ(im[kHalf], 0.0f);
    for (uint32_t k = kBins; k < kPad; ++k) EXPECT_EQ(re[k], 0.0f);
  }
}

// The inverse of a product of spectra (what the convolver transforms back):
// KISS's inverse of the same bins, and the round trip returns 16384 x.
TEST_P(CpuFft, InverseMatchesKissAndRoundTrips) {
  std::mt19937 rng(78);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  Floats x(kN), re(kPad), im(kPad), back(kN);
  for (uint32_t i = 0; i < kHalf; ++i) x[i] = dist(rng);
  fft_.ForwardPadded(x.data(), re.data(), im.data());
  fft_.Inverse(re.data(), im.data(), back.data());
  double worst = 0.0, norm = 0.0;
  for (uint32_t i = 0; i < kN; ++i) {
    const double want = i < kHalf ? double(kN) * x[i] : 0.0;
    worst = std::max(worst, std::fabs(back[i] - want));
    norm += want * want;
  }
  EXPECT_LE(worst / std::sqrt(norm), 2e-7);

  // Arbitrary Hermitian half-spectra, the imaginary parts of bins 0 and 8192
  // ignored as the real transform does.
  std::vector<kiss_fft_cpx> bins(kBins);
  for (uint32_t k = 0; k < kBins; ++k) {
    re[k] = dist(rng);
    im[k] = dist(rng);
    bins[k] = {re[k], (k == 0 || k == kHalf) ? 0.0f : im[k]};
  }
  std::vector<float> want(kN);
  kiss_fftri(inv_, bins.data(), want.data());
  fft_.Inverse(re.data(), im.data(), back.data());
  worst = 0.0;
  norm = 0.0;
  for (uint32_t i = 0; i < kN; ++i) {
    worst = std::max(worst, std::fabs(double(back[i]) - want[i]));
    norm += double(want[i]) * want[i];
  }
  EXPECT_LE(worst / std::sqrt(norm), 2e-7);
}

TEST_P(CpuFft, SilenceStaysExactlySilent) {
  Floats x(kN), re(kPad), im(kPad), back(kN);
  fft_.ForwardPadded(x.data(), re.data(), im.data());
  for (uint32_t k = 0; k < kPad; ++k) ASSERT_TRUE(re[k] == 0.0f && im[k] == 0.0f) << k;
  fft_.Inverse(re.data(), im.data(), back.data());
  for (uint32_t i = 0; i < kN; ++i) ASSERT_EQ(back[i], 0.0f) << i;
}

INSTANTIATE_TEST_SUITE_P(Paths, CpuFft, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Vector" : "Plain"; });

TEST(CpuFftLifecycle, PrepareReleaseAndPrepareAgain) {
  CpuRealFft fft;
  EXPECT_FALSE(fft.Ready());
  EXPECT_TRUE(fft.Prepare());
  EXPECT_TRUE(fft.Prepare());
  fft.Release();
  EXPECT_FALSE(fft.Ready());
  EXPECT_TRUE(fft.Prepare());
  EXPECT_TRUE(fft.Ready());
}

}  // namespace
}  // namespace sn::test
