// The binaural filter spectra and one block's ten convolutions on the CPU,
// checked against time-domain convolution and a direct DFT in double.
//
// Tolerance: errors are measured against the Cauchy-Schwarz bound of an output
// value, 16384 x |x|_2 x |h|_2 (for a spectrum bin |h|_2 x sqrt(8192)), the
// largest that value can be. Single-precision transforms of 16384 points stay
// within about 1e-8 of that scale on random blocks and 4e-8 on impulses (whose
// outputs reach the bound); the tests allow 1e-7 and 2.5e-7. A shifted,
// circular, mis-scaled or wrong-filter result errs by 1e-2 of the scale or more
// (random outputs are typically 1/90 of the bound).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "engine/DspState.h"
#include "engine/HeadphoneData.h"
#include "support/HeadphoneReference.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

constexpr double kRelTol = 1e-7;
constexpr double kImpulseTol = 2.5e-7;
constexpr uint32_t kN = kHeadphoneFft;

class HeadphoneConvolve : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    BuildHeadphoneData();
    ASSERT_EQ(Dsp.HeadphoneReady, 1);
    for (auto& fifo : Dsp.ChannelFifo) std::memset(fifo.data, 0, kHeadphoneBlock * sizeof(float));
  }
  static float* Out(int ear, int feed) { return ear == 0 ? Dsp.ConvOutL[feed].data : Dsp.ConvOutR[feed].data; }
};

TEST_F(HeadphoneConvolve, BuildCreatesEveryBufferOnceAndRebuildReusesThem) {
  ReleaseHeadphoneData();
  EXPECT_EQ(Dsp.HeadphoneReady, 0);
  EXPECT_EQ(Dsp.FftForward, nullptr);
  EXPECT_EQ(Dsp.FftInverse, nullptr);
  const SNComplex* spectrum = Dsp.EarSpectraMovieR[4].data;
  const float* fifo = Dsp.ChannelFifo[2].data;

  Dsp.HeadphoneFill.store(77, std::memory_order_relaxed);
  BuildHeadphoneData();
  ASSERT_EQ(Dsp.HeadphoneReady, 1);
  EXPECT_EQ(Dsp.HeadphoneFill.load(), 0u);
  EXPECT_EQ(Dsp.EarSpectraMovieR[4].data, spectrum) << "a rebuild reuses the vectors";
  EXPECT_EQ(Dsp.ChannelFifo[2].data, fifo);
  ASSERT_NE(Dsp.FftForward, nullptr);
  ASSERT_NE(Dsp.FftInverse, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Dsp.FftForward) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Dsp.FftInverse) % 16, 0u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(Dsp.EarSpectraMusicL[k].count, kHeadphoneBins);
    EXPECT_EQ(Dsp.ChannelFifo[k].count, kN);
    EXPECT_TRUE(std::all_of(Dsp.ChannelFifo[k].data, Dsp.ChannelFifo[k].data + kN, [](float v) { return v == 0.0f; }));
    EXPECT_EQ(Dsp.ConvOutL[k].count, kN);
    EXPECT_EQ(Dsp.ProductR[k].count, kHeadphoneBins);
  }
  EXPECT_EQ(Dsp.HeadphoneTail.count, kHeadphoneBlock);

  // Built: a second call returns at once and touches nothing.
  Dsp.HeadphoneFill.store(123, std::memory_order_relaxed);
  kiss_fftr_state* forward = Dsp.FftForward;
  BuildHeadphoneData();
  EXPECT_EQ(Dsp.HeadphoneFill.load(), 123u);
  EXPECT_EQ(Dsp.FftForward, forward);
}

// Every spectrum against a direct DFT of its zero-padded response at bins
// spread over the band, the two real-valued end bins included.
TEST_F(HeadphoneConvolve, SpectraAreTheTransformsOfThePaddedResponses) {
  const uint32_t bins[] = {0, 1, 2, 517, 4096, 8191, 8192};
  const double pi = std::acos(-1.0);
  for (int set = 0; set < 2; ++set) {
    for (int ear = 0; ear < 2; ++ear) {
      const SNBuffer<SNComplex>* spectra = set == 0 ? (ear == 0 ? Dsp.EarSpectraMusicL : Dsp.EarSpectraMusicR)
                                                    : (ear == 0 ? Dsp.EarSpectraMovieL : Dsp.EarSpectraMovieR);
      for (int ch = 0; ch < 5; ++ch) {
        const float* h = TableResponse(set, ch, ear);
        const double scale = Norm2(h, kResponseTaps) * std::sqrt(static_cast<double>(kResponseTaps));
        for (uint32_t m : bins) {
          std::complex<double> want = 0.0;
          for (uint32_t t = 0; t < kResponseTaps; ++t)
            want += static_cast<double>(h[t]) * std::polar(1.0, -2.0 * pi * double(t) * m / kN);
          const SNComplex got = spectra[ch].data[m];
          EXPECT_NEAR(got.re, want.real(), kRelTol * scale) << set << ear << ch << " bin " << m;
          EXPECT_NEAR(got.im, want.imag(), kRelTol * scale) << set << ear << ch << " bin " << m;
        }
        EXPECT_EQ(spectra[ch].data[0].im, 0.0f);
        EXPECT_EQ(spectra[ch].data[8192].im, 0.0f);
      }
    }
  }
}

// A unit impulse at block position p of one feed gives 16384 times that feed's
// responses, shifted by p; every other feed gives zeros.
TEST_F(HeadphoneConvolve, ImpulseGivesTheScaledResponseAtItsPosition) {
  struct Case {
    int set;
    int feed;
    uint32_t position;
  };
  const Case cases[] = {{0, 0, 0}, {0, 2, 1}, {1, 4, 0}, {1, 1, 4095}, {0, 3, 8191}, {1, 2, 8191}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "set " << c.set << " feed " << c.feed << " at " << c.position);
    for (auto& fifo : Dsp.ChannelFifo) std::memset(fifo.data, 0, kHeadphoneBlock * sizeof(float));
    Dsp.ChannelFifo[c.feed].data[c.position] = 1.0f;
    ConvolveBlockCpu(c.set);
    for (int ear = 0; ear < 2; ++ear) {
      const float* h = TableResponse(c.set, c.feed, ear);
      const double tol = kImpulseTol * kN * Norm2(h, kResponseTaps);
      double worst = 0.0;
      for (int feed = 0; feed < 5; ++feed) {
        const float* y = Out(ear, feed);
        for (uint32_t n = 0; n < kN; ++n) {
          double want = 0.0;
          if (feed == c.feed && n >= c.position && n - c.position < kResponseTaps)
            want = double(kN) * h[n - c.position];
          // Beyond the transforms' share, the output itself is rounded to float.
          worst = std::max(worst, std::fabs(y[n] - want) - 0x1p-23 * std::fabs(want));
        }
      }
      EXPECT_LE(worst, tol) << "ear " << ear;
      // Shape check independent of the tolerance: the peak lands where the response's does.
      const float* y = Out(ear, c.feed);
      const auto peak = std::max_element(y, y + kN, [](float a, float b) { return std::fabs(a) < std::fabs(b); }) - y;
      const auto hPeak = std::max_element(h, h + kResponseTaps,
                                          [](float a, float b) { return std::fabs(a) < std::fabs(b); }) - h;
      EXPECT_EQ(peak, static_cast<long>(c.position + hPeak)) << "ear " << ear;
    }
  }
}

// Random blocks on all five feeds: each of the ten outputs against the
// time-domain convolution, at every 11th value and at both ends of each half.
TEST_F(HeadphoneConvolve, RandomBlocksMatchDirectConvolution) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
  std::vector<uint32_t> at;
  for (uint32_t n = 0; n < kN; n += 11) at.push_back(n);
  for (uint32_t n : {1u, 8190u, 8191u, 8192u, 8193u, 16382u, 16383u}) at.push_back(n);

  for (int set = 0; set < 2; ++set) {
    for (auto& fifo : Dsp.ChannelFifo)
      for (uint32_t i = 0; i < kHeadphoneBlock; ++i) fifo.data[i] = dist(rng);
    std::vector<float> blocks[5];
    for (int k = 0; k < 5; ++k) blocks[k].assign(Dsp.ChannelFifo[k].data, Dsp.ChannelFifo[k].data + kHeadphoneBlock);
    ConvolveBlockCpu(set);
    for (int k = 0; k < 5; ++k) {
      // The input blocks are left as they were, their zero upper half included.
      EXPECT_TRUE(std::equal(blocks[k].begin(), blocks[k].end(), Dsp.ChannelFifo[k].data));
      EXPECT_TRUE(std::all_of(Dsp.ChannelFifo[k].data + kHeadphoneBlock, Dsp.ChannelFifo[k].data + kN,
                              [](float v) { return v == 0.0f; }));
      for (int ear = 0; ear < 2; ++ear) {
        const float* h = TableResponse(set, k, ear);
        const double scale = double(kN) * Norm2(blocks[k].data(), kHeadphoneBlock) * Norm2(h, kResponseTaps);
        double worst = 0.0;
        for (uint32_t n : at) {
          const double want = double(kN) * DirectConvolutionAt(blocks[k].data(), kHeadphoneBlock, h, n);
          worst = std::max(worst, std::fabs(Out(ear, k)[n] - want));
        }
        EXPECT_LE(worst / scale, kRelTol) << "set " << set << " feed " << k << " ear " << ear;
      }
    }
  }
}

TEST_F(HeadphoneConvolve, SilentBlockGivesZeros) {
  for (int k = 0; k < 5; ++k) {
    std::fill(Dsp.ConvOutL[k].data, Dsp.ConvOutL[k].data + kN, 1.0f);
    std::fill(Dsp.ConvOutR[k].data, Dsp.ConvOutR[k].data + kN, -1.0f);
  }
  Dsp.ChannelFifo[3].data[0] = -0.0f;
  ConvolveBlockCpu(1);
  for (int k = 0; k < 5; ++k) {
    EXPECT_TRUE(std::all_of(Dsp.ConvOutL[k].data, Dsp.ConvOutL[k].data + kN, [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(Dsp.ConvOutR[k].data, Dsp.ConvOutR[k].data + kN, [](float v) { return v == 0.0f; }));
  }
}

}  // namespace
}  // namespace sn::test
