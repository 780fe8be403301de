// The headphone renderer: framing into 8192-frame blocks, the
// overlap-add across blocks, the feeds, rates, decoding first, the hand-back to
// the other modes, and the agreement of the two back ends.
//
// References are time-domain convolutions in double of the whole stream with
// the responses of the table of the stream's rate. The ear signals are 16384 x
// kHeadphoneGain = 0.35481f (the binaural path's level, -9 dB) times the sum
// over the feeds of feed * response. Tolerances are relative to the
// Cauchy-Schwarz bound of the outputs,
// 0.35481 x sum over feeds of |feed|_2 |h|_2: float transforms stay within about
// 1e-8 of it; the tests allow 1e-7, while a dropped tail, a one-frame shift or a
// wrong filter errs by about 1e-2 of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/DspState.h"
#include "engine/SNLib.h"
#include "engine/HeadphoneRenderer.h"
#include "support/HeadphoneReference.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

constexpr double kEarGain = static_cast<double>(0.35481f);
static_assert(static_cast<double>(kHeadphoneGain) * 16384.0 == kEarGain);
constexpr double kRelTol = 1e-7;
constexpr double kFloatStep = 0x1p-23;  // one float step, relative
constexpr uint32_t kBlock = kHeadphoneBlock;

using Frames = std::vector<SNCHUNK_INTCHUNK>;

// The five feeds of a stream as the renderer forms them, and the ear signals
// that the direct convolution of the whole stream gives.
struct Reference {
  std::vector<float> feed[5];
  int set = 0;

  Reference(const Frames& in, int filterSet) : set(filterSet) {
    for (auto& f : feed) f.resize(in.size());
    for (size_t t = 0; t < in.size(); ++t) {
      const float* l = in[t].lane;
      feed[0][t] = static_cast<float>(l[0] + 2.235 * l[3]);
      feed[1][t] = static_cast<float>(l[1] + 2.235 * l[3]);
      feed[2][t] = l[2];
      feed[3][t] = l[4];
      feed[4][t] = l[5];
    }
  }
  double Ear(int ear, size_t t) const {
    double sum = 0.0;
    for (int k = 0; k < 5; ++k) sum += DirectConvolutionAt(feed[k].data(), feed[k].size(), TableResponse(set, k, ear), t);
    return kEarGain * sum;
  }
  double Scale(int ear) const {
    double s = 0.0;
    for (int k = 0; k < 5; ++k) s += Norm2(feed[k].data(), feed[k].size()) * Norm2(TableResponse(set, k, ear), kResponseTaps);
    return kEarGain * s;
  }
};

// Output frames to check: every `stride`th and those around each block border.
std::vector<size_t> CheckPoints(size_t frames, size_t stride) {
  std::vector<size_t> at;
  for (size_t t = 0; t < frames; t += stride) at.push_back(t);
  for (size_t b = 0; b <= frames; b += kBlock)
    for (size_t t = b >= 2 ? b - 2 : 0; t < b + 2 && t < frames; ++t) at.push_back(t);
  if (frames) at.push_back(frames - 1);
  return at;
}

// Largest error of lanes 0 and 1 against the reference, relative to its scale.
double WorstRelative(const Frames& out, const Reference& ref, size_t stride) {
  double worst = 0.0;
  const double scale[2] = {ref.Scale(0), ref.Scale(1)};
  for (size_t t : CheckPoints(out.size(), stride))
    for (int ear = 0; ear < 2; ++ear)
      worst = std::max(worst, std::fabs(out[t].lane[ear] - ref.Ear(ear, t)) / scale[ear]);
  return worst;
}

Frames RandomFrames(std::mt19937& rng, size_t n, int channels) {
  std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
  Frames f(n);
  for (auto& fr : f) {
    for (int l = 0; l < 6; ++l) fr.lane[l] = 0.0f;
    switch (channels) {
      case 1: fr.lane[2] = dist(rng); break;
      case 2: fr.lane[0] = dist(rng); fr.lane[1] = dist(rng); break;
      case 5: for (int l : {0, 1, 2, 4, 5}) fr.lane[l] = dist(rng); break;
      default: for (int l = 0; l < 6; ++l) fr.lane[l] = dist(rng); break;
    }
    fr.lane[6] = fr.lane[7] = std::numeric_limits<float>::quiet_NaN();
  }
  return f;
}

class HeadphoneRender : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    // A private record with decoding off unless a test turns it on.
    CfgSet(cfg_.HeadphonesDecodeMusic, 0);
    CfgSet(cfg_.HeadphonesDecodeMovie, 0);
  }

  static CSNFn& Kernels(bool sse2) { return sse2 ? static_cast<CSNFn&>(Sse2Kernels()) : ScalarKernels(); }

  // Renders `in` in chunks of the given sizes (cycled until the input is used
  // up) and returns everything the renderer emitted, in order.
  static Frames Render(CSNFn& k, int channels, const Frames& in, const std::vector<uint32_t>& sizes) {
    Frames out;
    OwnedChunk chunk;
    size_t used = 0;
    for (size_t i = 0; used < in.size(); ++i) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(sizes[i % sizes.size()], in.size() - used));
      chunk.buf.Resize(n);
      std::copy(in.begin() + used, in.begin() + used + n, chunk.buf.data);
      used += n;
      CSNLib::RenderHeadphones(k, channels, chunk.buf);
      EXPECT_EQ(chunk.buf.count % kBlock, 0u);
      EXPECT_EQ(chunk.buf.position, 0);
      out.insert(out.end(), chunk.buf.data, chunk.buf.data + chunk.buf.count);
    }
    return out;
  }

  static uint32_t Fill() { return Dsp.HeadphoneFill.load(std::memory_order_relaxed); }
};

// ---- Framing --------------------------------------------------------------

struct FramingCase {
  const char* name;
  std::vector<uint32_t> chunks;    // frames handed in, call by call
  std::vector<uint32_t> returned;  // frames returned by each call
  std::vector<uint32_t> held;      // HeadphoneFill after each call
  friend void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.name; }
};

class HeadphoneFraming : public HeadphoneRender, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(HeadphoneFraming, ReturnsWholeBlocksAndHoldsTheRest) {
  const FramingCase& c = GetParam();
  std::mt19937 rng(5);
  OwnedChunk chunk;
  for (size_t i = 0; i < c.chunks.size(); ++i) {
    chunk = RandomChunk(rng, c.chunks[i]);
    CSNLib::RenderHeadphones(ScalarKernels(), 6, chunk.buf);
    EXPECT_EQ(chunk.buf.count, c.returned[i]) << "call " << i;
    EXPECT_EQ(Fill(), c.held[i]) << "call " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, HeadphoneFraming,
    ::testing::Values(
        FramingCase{"EmptyUntilABlockArrived", {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000},
                    {0, 0, 0, 0, 0, 0, 0, 0, 8192}, {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 808}},
        FramingCase{"TenThousandFromEmpty", {10000}, {8192}, {1808}},
        FramingCase{"ExactBlocks", {8192, 8191, 1, 0}, {8192, 0, 8192, 0}, {0, 8191, 0, 0}},
        FramingCase{"SeveralBlocksInOneCall", {5000, 20000, 16384}, {0, 24576, 16384}, {5000, 424, 424}},
        FramingCase{"EmptyChunkKeepsTheFill", {3, 0, 8189}, {0, 0, 8192}, {3, 3, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The stream is the convolution of its frames --------------------------

struct StreamCase {
  const char* name;
  bool sse2;
  int filterSet;
  int channels;
  std::vector<uint32_t> chunks;
  friend void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }
};

class HeadphoneStream : public HeadphoneRender, public ::testing::WithParamInterface<StreamCase> {};

// Uneven chunks, several blocks: the concatenated output is the direct
// convolution of the whole stream, with no shift and no seam at block borders.
TEST_P(HeadphoneStream, OutputIsTheConvolutionOfTheWholeStream) {
  const StreamCase& c = GetParam();
  if (c.sse2 && !CSNLib::IsSSE2Supported()) GTEST_SKIP() << "no SSE2";
  CfgSet(cfg_.HeadphonesMode, c.filterSet == 0 ? 0 : 2);  // any nonzero value selects Movie
  std::mt19937 rng(1234);
  const Frames in = RandomFrames(rng, 4 * kBlock + 1234, c.channels);
  const Frames out = Render(Kernels(c.sse2), c.channels, in, c.chunks);

  ASSERT_EQ(out.size(), 4 * kBlock);
  EXPECT_EQ(Fill(), 1234u);
  for (const auto& f : out)
    for (int l = 2; l < 6; ++l) ASSERT_EQ(f.lane[l], 0.0f);
  EXPECT_LE(WorstRelative(out, Reference(in, c.filterSet), 37), kRelTol);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HeadphoneStream,
    ::testing::Values(StreamCase{"x87Music6", false, 0, 6, {577, 1, 8191, 13, 20000, 1023, 3}},
                      StreamCase{"x87Movie5", false, 1, 5, {8192, 3000, 16385, 5}},
                      StreamCase{"sse2Music6", true, 0, 6, {31, 9000, 257, 24000}},
                      StreamCase{"sse2Movie2", true, 1, 2, {576}},
                      StreamCase{"x87Mono", false, 0, 1, {1, 2, 4093, 40000}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Single impulses through the feeds -------------------------------------

struct ImpulseCase {
  const char* name;
  int channels;
  int lane;
  float coef[5];  // expected weight of each feed's responses
  friend void PrintTo(const ImpulseCase& c, std::ostream* os) { *os << c.name; }
};

class HeadphoneImpulse : public HeadphoneRender, public ::testing::WithParamInterface<ImpulseCase> {};

// One nonzero value v at frame 3000 comes out, once its block is complete, as
// 0.35481 v times the responses of the feeds it enters, delayed by 3000 frames.
TEST_P(HeadphoneImpulse, ComesOutAsTheWeightedResponses) {
  const ImpulseCase& c = GetParam();
  const float v = 0.5f;
  const uint32_t at = 3000;
  for (int set = 0; set < 2; ++set) {
    CfgSet(cfg_.HeadphonesMode, set);
    CSNLib::ResetDSP();
    Frames in(2 * kBlock);
    for (auto& f : in) std::fill(std::begin(f.lane), std::end(f.lane), 0.0f);
    in[at].lane[c.lane] = v;
    const Frames out = Render(ScalarKernels(), c.channels, in, {5000, 11384});
    ASSERT_EQ(out.size(), 2 * kBlock);
    for (int ear = 0; ear < 2; ++ear) {
      double scale = 0.0;
      for (int k = 0; k < 5; ++k) scale += std::fabs(c.coef[k]) * Norm2(TableResponse(set, k, ear), kResponseTaps);
      scale *= kEarGain * v;
      double worst = 0.0;
      for (uint32_t t = 0; t < out.size(); ++t) {
        double want = 0.0;
        if (t >= at && t - at < kResponseTaps)
          for (int k = 0; k < 5; ++k) want += c.coef[k] * TableResponse(set, k, ear)[t - at];
        want *= kEarGain * v;
        // Beyond the transforms' share, the output itself is rounded to float.
        worst = std::max(worst, std::fabs(out[t].lane[ear] - want) - kFloatStep * std::fabs(want));
      }
      EXPECT_LE(worst, kRelTol * scale) << "set " << set << " ear " << ear;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, HeadphoneImpulse,
    ::testing::Values(ImpulseCase{"Centre", 6, 2, {0, 0, 1, 0, 0}},
                      ImpulseCase{"LfeFoldsIntoLeftAndRight", 6, 3, {2.235f, 2.235f, 0, 0, 0}},
                      ImpulseCase{"MonoThroughCentreOnly", 1, 2, {0, 0, 1, 0, 0}},
                      ImpulseCase{"StereoLeftUndecoded", 2, 0, {1, 0, 0, 0, 0}},
                      ImpulseCase{"SurroundLeft", 5, 4, {0, 0, 0, 1, 0}},
                      ImpulseCase{"SurroundRight", 6, 5, {0, 0, 0, 0, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Filter set switched between blocks ------------------------------------

// The new set applies from the next block on; the previous block's tail, made
// with the old set, is still added in.
TEST_F(HeadphoneRender, SwitchingTheSetKeepsThePreviousTail) {
  std::mt19937 rng(99);
  const Frames in = RandomFrames(rng, 2 * kBlock, 6);
  const Frames first(in.begin(), in.begin() + kBlock);
  Frames second(in.begin() + kBlock, in.end());

  CfgSet(cfg_.HeadphonesMode, 0);
  Frames out = Render(ScalarKernels(), 6, first, {kBlock});
  CfgSet(cfg_.HeadphonesMode, 1);
  const Frames tail = Render(ScalarKernels(), 6, second, {kBlock});
  out.insert(out.end(), tail.begin(), tail.end());
  ASSERT_EQ(out.size(), 2 * kBlock);

  // Reference: the first block through Music (its tail included) plus the second
  // block, placed 8192 frames later, through Movie.
  Frames firstPadded = first;
  firstPadded.resize(2 * kBlock, SNCHUNK_INTCHUNK{});
  Frames secondShifted(kBlock, SNCHUNK_INTCHUNK{});
  secondShifted.insert(secondShifted.end(), second.begin(), second.end());
  const Reference music(firstPadded, 0), movie(secondShifted, 1);
  double worst = 0.0;
  for (size_t t : CheckPoints(out.size(), 29))
    for (int ear = 0; ear < 2; ++ear)
      worst = std::max(worst, std::fabs(out[t].lane[ear] - music.Ear(ear, t) - movie.Ear(ear, t)) /
                                  (music.Scale(ear) + movie.Scale(ear)));
  EXPECT_LE(worst, kRelTol);
}

// ---- Rates ------------------------------------------------------------------

class HeadphoneRate : public HeadphoneRender, public ::testing::WithParamInterface<uint32_t> {};

// At a rate without binaural filters the chunk keeps its length and every
// channel but the LFE reaches the ears: L + 0.7071 (C + SL), R + 0.7071 (C + SR).
TEST_P(HeadphoneRate, UnsupportedRateFoldsTheSourceToTheEarsAndBuildsNothing) {
  ReleaseHeadphones();
  Recalc(GetParam());
  std::mt19937 rng(3);
  const double h = std::sqrt(0.5);
  for (bool sse2 : {false, true}) {
    const OwnedChunk in = RandomChunk(rng, 9000, 0.707f, 0.25f);
    OwnedChunk chunk = in;
    CSNLib::RenderHeadphones(Kernels(sse2), 6, chunk.buf);
    ASSERT_EQ(chunk.size(), in.size());
    for (uint32_t i = 0; i < in.size(); i += 97) {
      const float* x = in[i].lane;
      EXPECT_FLOAT_EQ(chunk[i].lane[0], static_cast<float>(x[0] + h * (x[2] + x[4]))) << i;
      EXPECT_FLOAT_EQ(chunk[i].lane[1], static_cast<float>(x[1] + h * (x[2] + x[5]))) << i;
    }
  }
  EXPECT_EQ(Dsp.HeadphoneReady, 0);
  EXPECT_EQ(Fill(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rates, HeadphoneRate, ::testing::Values(8000u, 22050u, 32000u, 44056u, 88200u, 96000u));

TEST_F(HeadphoneRender, SupportedRatesArePreparedBeforeTheStream) {
  for (uint32_t rate : {44100u, 48000u}) {
    ReleaseHeadphones();
    CSNLib::PrepareStream(rate);
    Recalc(rate);
    EXPECT_EQ(Dsp.HeadphoneReady, 1) << rate;
    EXPECT_EQ(Dsp.HeadphoneRate, rate);
    EXPECT_EQ(CpuConvolver().Ready(), true);
    OwnedChunk chunk(100);
    std::memset(static_cast<void*>(chunk.buf.data), 0, 100 * sizeof(SNCHUNK_INTCHUNK));
    CSNLib::RenderHeadphones(ScalarKernels(), 2, chunk.buf);
    EXPECT_EQ(Dsp.HeadphoneReady, 1) << rate;
    EXPECT_EQ(chunk.size(), 0u);
    EXPECT_EQ(Fill(), 100u);
  }
}

// ---- Decoding a stereo source first -----------------------------------------

// With the selected variant's decode setting on, a stereo source is rendered as
// the active decoder's five channels with the variant's surround delay on SL and
// SR: the same as decoding it, delaying lanes 4 and 5 by hand and rendering the
// result as a six-channel source.
TEST_F(HeadphoneRender, DecodesStereoFirstWithTheVariantsSurroundDelay) {
  CfgSet(cfg_.SurroundDelayMusic, 7);
  CfgSet(cfg_.SurroundDelayMovie, 23);
  Recalc(48000);
  std::mt19937 rng(17);
  const Frames in = RandomFrames(rng, 2 * kBlock + 100, 2);
  for (int set = 0; set < 2; ++set) {
    SCOPED_TRACE(set == 0 ? "Music" : "Movie");
    CfgSet(cfg_.HeadphonesMode, set);
    CfgSet(cfg_.HeadphonesDecodeMusic, set == 0 ? 1 : 0);
    CfgSet(cfg_.HeadphonesDecodeMovie, set == 1 ? 1 : 0);

    CSNLib::ResetDSP();
    const Frames got = Render(ScalarKernels(), 2, in, {1000, 7000});

    // By hand: the decoder over the same chunks from a fresh state, then the
    // surround delay.
    CSNLib::ResetDSP();
    Frames decoded;
    OwnedChunk chunk;
    for (size_t i = 0, used = 0; used < in.size(); ++i) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(i % 2 ? 7000 : 1000, in.size() - used));
      chunk.buf.Resize(n);
      std::copy(in.begin() + used, in.begin() + used + n, chunk.buf.data);
      used += n;
      CSNLib::DecodeActive(ScalarKernels(), chunk.buf);
      decoded.insert(decoded.end(), chunk.buf.data, chunk.buf.data + chunk.buf.count);
    }
    const uint32_t delay = set == 0 ? Dsp.K().SurroundDelaySamplesMusic : Dsp.K().SurroundDelaySamplesMovie;
    ASSERT_GT(delay, 0u);
    for (size_t t = decoded.size(); t-- > 0;)
      for (int l : {4, 5}) decoded[t].lane[l] = t >= delay ? decoded[t - delay].lane[l] : 0.0f;

    CSNLib::ResetDSP();
    CfgSet(cfg_.HeadphonesDecodeMusic, 0);
    CfgSet(cfg_.HeadphonesDecodeMovie, 0);
    const Frames want = Render(ScalarKernels(), 6, decoded, {1000, 7000});
    ASSERT_EQ(got.size(), want.size());
    for (size_t t = 0; t < got.size(); ++t)
      for (int ear = 0; ear < 2; ++ear) ASSERT_NEAR(got[t].lane[ear], want[t].lane[ear], 1e-6) << t;
  }
}

// Only the selected variant's decode setting counts.
TEST_F(HeadphoneRender, OtherVariantsDecodeSettingDoesNotDecode) {
  std::mt19937 rng(21);
  const Frames in = RandomFrames(rng, kBlock + 10, 2);
  for (int set = 0; set < 2; ++set) {
    CfgSet(cfg_.HeadphonesMode, set);
    CfgSet(cfg_.HeadphonesDecodeMusic, set == 0 ? 0 : 1);
    CfgSet(cfg_.HeadphonesDecodeMovie, set == 0 ? 1 : 0);
    CSNLib::ResetDSP();
    const Frames out = Render(ScalarKernels(), 2, in, {kBlock + 10});
    ASSERT_EQ(out.size(), kBlock);
    EXPECT_LE(WorstRelative(out, Reference(in, set), 53), kRelTol) << set;
  }
}

// ---- Through the engine -----------------------------------------------------

// Mode 3 in the engine returns ear signals only; leaving it with frames held
// keeps the frame total, and the frames added for them are silent.
TEST_F(HeadphoneRender, LeavingHeadphoneModeKeepsTheFrameTotal) {
  CfgSet(cfg_.Mode, static_cast<int32_t>(kModeHeadphones));
  CfgSet(cfg_.LFERedir, 0);
  Recalc(44100);
  CSNLib engine;
  std::mt19937 rng(8);
  OwnedChunk chunk = RandomChunk(rng, kBlock + 3000);
  engine.ProcessChunk(6, chunk.buf);
  ASSERT_EQ(chunk.size(), kBlock);
  for (uint32_t i = 0; i < chunk.size(); ++i)
    for (int l = 2; l < 6; ++l) ASSERT_EQ(chunk[i].lane[l], 0.0f);
  EXPECT_EQ(Fill(), 3000u);

  CfgSet(cfg_.Mode, static_cast<int32_t>(kModeBypass));
  const OwnedChunk in = RandomChunk(rng, 500);
  chunk = in;
  engine.ProcessChunk(6, chunk.buf);
  ASSERT_EQ(chunk.size(), 3500u);
  EXPECT_EQ(Fill(), 0u);
  for (uint32_t i = 0; i < 500; ++i)
    for (int l = 0; l < 6; ++l) ASSERT_EQ(chunk[i].lane[l], in[i].lane[l]) << i;
  for (uint32_t i = 500; i < 3500; ++i)
    for (int l = 0; l < 6; ++l) ASSERT_EQ(chunk[i].lane[l], 0.0f) << i;
}

// ---- The back ends agree ------------------------------------------------------

// checkasm style: random frames in odd-length chunks with NaN in lanes 6 and 7,
// through each back end from the same state; every returned chunk agrees to
// float rounding of the mix, and lanes 2 to 5 are zero in both.
TEST_F(HeadphoneRender, BackEndsAgreeOnOddChunks) {
  if (!CSNLib::IsSSE2Supported()) GTEST_SKIP() << "no SSE2";
  std::vector<uint32_t> sizes(std::begin(kOddLengths), std::end(kOddLengths));
  sizes.insert(sizes.end(), {8191, 8193, 16385, 4097});
  std::mt19937 rng(4242);
  std::vector<OwnedChunk> chunks;
  for (int round = 0; round < 3; ++round)
    for (uint32_t n : sizes) chunks.push_back(RandomChunk(rng, n));

  for (int set = 0; set < 2; ++set) {
    CfgSet(cfg_.HeadphonesMode, set);
    std::vector<OwnedChunk> out[2];
    uint32_t fills[2][64];
    for (int be = 0; be < 2; ++be) {
      CSNLib::ResetDSP();
      for (size_t i = 0; i < chunks.size(); ++i) {
        OwnedChunk c = chunks[i];
        CSNLib::RenderHeadphones(Kernels(be == 1), 6, c.buf);
        out[be].push_back(c);
        fills[be][i] = Fill();
      }
    }
    uint32_t frames = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
      ASSERT_EQ(out[0][i].size(), out[1][i].size()) << i;
      EXPECT_EQ(fills[0][i], fills[1][i]) << i;
      double peak = 0.0;
      for (uint32_t f = 0; f < out[0][i].size(); ++f) {
        for (int l = 0; l < 2; ++l) peak = std::max(peak, double(std::fabs(out[0][i][f].lane[l])));
        for (int l = 2; l < 6; ++l) {
          ASSERT_EQ(out[0][i][f].lane[l], 0.0f);
          ASSERT_EQ(out[1][i][f].lane[l], 0.0f);
        }
      }
      // The mix sums six values of up to ~1e4 and rounds once (x87) or at each
      // addition (SSE2): a few float steps of 6e-8 relative to those values.
      EXPECT_LE(MaxLaneDiff(out[0][i].buf, out[1][i].buf), 1e-6 * std::max(1.0, peak)) << "chunk " << i;
      frames += out[0][i].size();
    }
    EXPECT_GE(frames, 5 * kBlock);
  }
}

}  // namespace
}  // namespace sn::test
