// Input and output conversions of both back ends: placement, scaling, the
// growth rule, the format dispatch, edge values, and checkasm runs of the SSE2
// kernels against the scalar reference on random odd-length blocks.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/SNLib.h"
#include "support/Checkasm.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

using Conv = void (CSNFn::*)(const uint8_t*, uint32_t, SNChunk&);

struct Format {
  const char* name;
  int channels;
  int bits;
  Conv conv;
};

constexpr Format kFormats[] = {
    {"Mono8", 1, 8, &CSNFn::ConvertMono8},       {"Mono16", 1, 16, &CSNFn::ConvertMono16},
    {"Mono24", 1, 24, &CSNFn::ConvertMono24},    {"Mono32", 1, 32, &CSNFn::ConvertMono32},
    {"Stereo8", 2, 8, &CSNFn::ConvertStereo8},   {"Stereo16", 2, 16, &CSNFn::ConvertStereo16},
    {"Stereo24", 2, 24, &CSNFn::ConvertStereo24}, {"Stereo32", 2, 32, &CSNFn::ConvertStereo32},
    {"Five16", 5, 16, &CSNFn::ConvertFive16},    {"Five24", 5, 24, &CSNFn::ConvertFive24},
    {"Five32", 5, 32, &CSNFn::ConvertFive32},    {"Six16", 6, 16, &CSNFn::ConvertSix16},
    {"Six24", 6, 24, &CSNFn::ConvertSix24},      {"Six32", 6, 32, &CSNFn::ConvertSix32},
};

// Where each source channel lands, in source order.
std::vector<int> LanesFor(int channels) {
  switch (channels) {
    case 1: return {2};
    case 2: return {0, 1};
    case 5: return {0, 1, 2, 4, 5};
    default: return {0, 1, 2, 3, 4, 5};
  }
}

// The signed value of one little-endian sample (24-bit as v, not v * 256).
int64_t SampleValue(const uint8_t* p, int bits) {
  uint64_t u = 0;
  for (int b = 0; b < bits / 8; ++b) u |= uint64_t{p[b]} << (8 * b);
  if (bits == 8) return static_cast<int64_t>(u) - 128;
  const uint64_t sign = uint64_t{1} << (bits - 1);
  return static_cast<int64_t>(u ^ sign) - static_cast<int64_t>(sign);
}

const float k0707 = std::bit_cast<float>(0x3F34FDF4u);

// v * 0.707 / 2^(bits-1), exact in double, rounded once to float.
float Scaled(int64_t v, int bits) {
  return static_cast<float>(static_cast<double>(v) * static_cast<double>(k0707) / std::ldexp(1.0, bits - 1));
}

// The frames a conversion must produce, computed sample by sample.
OwnedChunk Expected(const Format& f, const std::vector<uint8_t>& src, uint32_t frames) {
  OwnedChunk want(frames);
  FillLanes(want.buf, 0.0f);
  const std::vector<int> lanes = LanesFor(f.channels);
  const size_t bytes = static_cast<size_t>(f.bits / 8);
  for (uint32_t i = 0; i < frames; ++i)
    for (int c = 0; c < f.channels; ++c)
      want[i].lane[lanes[c]] = Scaled(SampleValue(&src[(i * f.channels + c) * bytes], f.bits), f.bits);
  return want;
}

class ConvertTest : public EngineFixture {};

// Checkasm: every conversion of both back ends on random blocks of odd lengths
// into storage full of NaN. 8-, 16- and 24-bit frames are bit-identical to the
// exact reference in both back ends; for 32-bit SSE2 rounds the integer to
// float first and may be one ulp off.
TEST_F(ConvertTest, BothBackEndsMatchTheExactReferenceOnRandomBlocks) {
  std::mt19937 rng(1234);
  for (const Format& f : kFormats) {
    for (uint32_t frames : kOddLengths) {
      SCOPED_TRACE(::testing::Message() << f.name << ", " << frames << " frames");
      // Exactly sized, so that a read past the block shows under AddressSanitizer.
      const std::vector<uint8_t> src = RandomBytes(rng, size_t{frames} * f.channels * (f.bits / 8));
      const OwnedChunk want = Expected(f, src, frames);
      for (BackEnd b : kBackEnds) {
        if (!Available(b)) continue;
        SCOPED_TRACE(NameOf(b));
        OwnedChunk got(frames);
        FillLanes(got.buf, std::numeric_limits<float>::quiet_NaN());
        got.buf.position = 7;
        (KernelsOf(b).*f.conv)(src.data(), frames, got.buf);
        EXPECT_EQ(got.buf.position, 0);
        const uint32_t ulps = (b == BackEnd::Sse2 && f.bits == 32) ? 1 : 0;
        EXPECT_TRUE(LanesMatch(want.buf, got.buf, ulps));
      }
    }
  }
}

// Full scale and silence of every format, in every channel of every layout.
TEST_F(ConvertTest, EdgeSamples) {
  struct Case {
    int bits;
    std::vector<uint8_t> sample;
    float want;
  };
  const Case cases[] = {
      {8, {128}, 0.0f},
      {8, {0}, -k0707},
      {8, {255}, static_cast<float>(127.0 * k0707 / 128.0)},
      {16, {0x00, 0x80}, -k0707},
      {16, {0x00, 0x00}, 0.0f},
      {16, {0xFF, 0x7F}, static_cast<float>(32767.0 * k0707 / 32768.0)},
      {24, {0x00, 0x00, 0x80}, -k0707},
      {24, {0xFF, 0xFF, 0xFF}, static_cast<float>(-1.0 * k0707 / 8388608.0)},
      {24, {0xFF, 0xFF, 0x7F}, static_cast<float>(8388607.0 * k0707 / 8388608.0)},
      {32, {0x00, 0x00, 0x00, 0x80}, -k0707},
      {32, {0x01, 0x00, 0x00, 0x00}, static_cast<float>(k0707 / 2147483648.0)},
  };
  EXPECT_LT(static_cast<float>(32767.0 * k0707 / 32768.0), k0707);
  for (const Case& c : cases) {
    for (const Format& f : kFormats) {
      if (f.bits != c.bits) continue;
      constexpr uint32_t kFrames = 9;  // two vector steps and a tail
      std::vector<uint8_t> src;
      for (uint32_t i = 0; i < kFrames * f.channels; ++i) src.insert(src.end(), c.sample.begin(), c.sample.end());
      for (BackEnd b : kBackEnds) {
        if (!Available(b)) continue;
        SCOPED_TRACE(::testing::Message() << f.name << " " << NameOf(b) << " sample " << c.want);
        OwnedChunk got(kFrames);
        FillLanes(got.buf, std::numeric_limits<float>::quiet_NaN());
        (KernelsOf(b).*f.conv)(src.data(), kFrames, got.buf);
        const std::vector<int> lanes = LanesFor(f.channels);
        for (uint32_t i = 0; i < kFrames; ++i)
          for (int l = 0; l < 6; ++l) {
            const bool carries = std::find(lanes.begin(), lanes.end(), l) != lanes.end();
            EXPECT_EQ(std::bit_cast<uint32_t>(got[i].lane[l]), std::bit_cast<uint32_t>(carries ? c.want : 0.0f))
                << "frame " << i << " lane " << l;
          }
      }
    }
  }
}

// The placement table with a distinct value per source channel: mono in C only,
// stereo leaves C, LFE, SL, SR at zero, five channels leave LFE at zero and put
// their fourth and fifth samples in SL and SR.
TEST_F(ConvertTest, PlacementPerChannelCount) {
  struct Case {
    Conv conv;
    int channels;
    std::vector<float> lanes;  // lanes 0..5 for source samples 1000, 2000, ... (16-bit)
  };
  const float u = static_cast<float>(1000.0 * k0707 / 32768.0);
  auto k = [&](int m) { return static_cast<float>(1000.0 * m * k0707 / 32768.0); };
  const Case cases[] = {
      {&CSNFn::ConvertMono16, 1, {0, 0, u, 0, 0, 0}},
      {&CSNFn::ConvertStereo16, 2, {u, k(2), 0, 0, 0, 0}},
      {&CSNFn::ConvertFive16, 5, {u, k(2), k(3), 0, k(4), k(5)}},
      {&CSNFn::ConvertSix16, 6, {u, k(2), k(3), k(4), k(5), k(6)}},
  };
  for (const Case& c : cases) {
    constexpr uint32_t kFrames = 6;
    std::vector<uint8_t> src;
    for (uint32_t i = 0; i < kFrames; ++i)
      for (int ch = 1; ch <= c.channels; ++ch) {
        const int v = 1000 * ch;
        src.push_back(static_cast<uint8_t>(v));
        src.push_back(static_cast<uint8_t>(v >> 8));
      }
    for (BackEnd b : kBackEnds) {
      if (!Available(b)) continue;
      SCOPED_TRACE(::testing::Message() << c.channels << " channels, " << NameOf(b));
      OwnedChunk got(kFrames);
      FillLanes(got.buf, 99.0f);
      (KernelsOf(b).*c.conv)(src.data(), kFrames, got.buf);
      for (uint32_t i = 0; i < kFrames; ++i)
        for (int l = 0; l < 6; ++l) EXPECT_EQ(got[i].lane[l], c.lanes[l]) << "frame " << i << " lane " << l;
    }
  }
}

// The growth rule: storage is replaced only when a block exceeds both the count
// and the capacity; a smaller block reuses it with the new count; 0 frames
// writes nothing.
TEST_F(ConvertTest, DestinationGrowsOnlyWhenNeeded) {
  for (BackEnd b : kBackEnds) {
    if (!Available(b)) continue;
    SCOPED_TRACE(NameOf(b));
    CSNFn& k = KernelsOf(b);
    std::mt19937 rng(5);
    const std::vector<uint8_t> src = RandomBytes(rng, 200 * 4);
    OwnedChunk chunk;
    k.ConvertStereo16(src.data(), 100, chunk.buf);
    SNCHUNK_INTCHUNK* first = chunk.buf.data;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 16, 0u);
    EXPECT_EQ(chunk.buf.capacity, 100u);

    chunk.buf.position = 3;
    k.ConvertStereo16(src.data(), 40, chunk.buf);
    EXPECT_EQ(chunk.buf.data, first);
    EXPECT_EQ(chunk.buf.count, 40u);
    EXPECT_EQ(chunk.buf.capacity, 100u);
    EXPECT_EQ(chunk.buf.position, 0);

    k.ConvertStereo16(src.data(), 100, chunk.buf);
    EXPECT_EQ(chunk.buf.data, first);
    EXPECT_EQ(chunk.buf.count, 100u);

    FillLanes(chunk.buf, 5.0f);
    k.ConvertStereo16(nullptr, 0, chunk.buf);
    EXPECT_EQ(chunk.buf.count, 0u);
    EXPECT_EQ(chunk.buf.position, 0);
    EXPECT_EQ(chunk.buf.data[0].lane[0], 5.0f);
    k.ConvertSilence(0, chunk.buf);
    EXPECT_EQ(chunk.buf.count, 0u);
    EXPECT_EQ(chunk.buf.data[0].lane[0], 5.0f);

    k.ConvertStereo16(src.data(), 101, chunk.buf);
    EXPECT_EQ(chunk.buf.count, 101u);
    EXPECT_EQ(chunk.buf.capacity, 101u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(chunk.buf.data) % 16, 0u);
  }
}

// The engine's dispatch: supported formats reach their slot and report true;
// everything else becomes silence in lanes 0..5 and reports false.
TEST_F(ConvertTest, ConvertToInternalDispatchesAndSilencesTheRest) {
  std::mt19937 rng(77);
  CSNLib lib;
  for (int sse2 : {0, 1}) {
    CfgSet(cfg_.SSE2Enable, sse2);
    CSNFn& k = CSNLib::ActiveKernels();
    SCOPED_TRACE(sse2 ? "SSE2 enabled" : "SSE2 disabled");
    for (const Format& f : kFormats) {
      constexpr uint32_t kFrames = 11;
      const std::vector<uint8_t> src = RandomBytes(rng, kFrames * 6 * 4);
      OwnedChunk direct, routed;
      (k.*f.conv)(src.data(), kFrames, direct.buf);
      EXPECT_TRUE(lib.ConvertToInternal(f.channels, f.bits, src.data(), kFrames, routed.buf)) << f.name;
      EXPECT_TRUE(LanesMatch(direct.buf, routed.buf)) << f.name;
    }
    const std::pair<int, int> unsupported[] = {{5, 8}, {6, 8}, {4, 16}, {3, 24}, {2, 12}, {7, 16}, {1, 0}, {0, 16}};
    for (auto [channels, bits] : unsupported) {
      SCOPED_TRACE(::testing::Message() << channels << " channels, " << bits << " bits");
      constexpr uint32_t kFrames = 13;
      const std::vector<uint8_t> src(kFrames * 8 * 4, 0x55);
      OwnedChunk chunk(kFrames);
      FillLanes(chunk.buf, std::numeric_limits<float>::quiet_NaN());
      EXPECT_FALSE(lib.ConvertToInternal(channels, bits, src.data(), kFrames, chunk.buf));
      ASSERT_EQ(chunk.buf.count, kFrames);
      for (uint32_t i = 0; i < kFrames; ++i)
        for (int l = 0; l < 6; ++l) EXPECT_EQ(std::bit_cast<uint32_t>(chunk[i].lane[l]), 0u);
    }
  }
}

// ---- Output ----

// The scalar back end: truncation toward zero, then clip; NaN gives 0.
int32_t TruncCode(float x, int bits) {
  const double full = std::ldexp(1.0, bits - 1);
  if (std::isnan(x)) return 0;
  const double t = std::trunc(static_cast<double>(x) * full);
  return static_cast<int32_t>(std::clamp(t, -full, full - 1));
}

// The SSE2 back end. 16-bit: nearest (ties to even) of the float product, then
// saturate. 24-bit: nearest of x * 2^31, floor-divided by 256; +-1.0 and beyond
// clip. NaN gives 0.
int32_t VectorCode(float x, int bits) {
  if (std::isnan(x)) return 0;
  if (bits == 16) {
    const double r = std::nearbyint(static_cast<double>(x * 32768.0f));
    return static_cast<int32_t>(std::clamp(r, -32768.0, 32767.0));
  }
  if (x >= 1.0f) return 8388607;
  if (x <= -1.0f) return -8388608;
  const double r = std::nearbyint(static_cast<double>(x) * 2147483648.0);
  return static_cast<int32_t>(std::floor(r / 256.0));
}

std::vector<int32_t> RunOutput(BackEnd b, int bits, const SNChunk& chunk) {
  if (bits == 16) {
    OwnedBuffer<OutFrame16> out;
    KernelsOf(b).ConvertToOutput16(chunk, out.buf);
    EXPECT_EQ(out.buf.count, chunk.count);
    return Codes(out.buf);
  }
  OwnedBuffer<OutFrame24> out;
  KernelsOf(b).ConvertToOutput24(chunk, out.buf);
  EXPECT_EQ(out.buf.count, chunk.count);
  return Codes(out.buf);
}

std::vector<int32_t> ReferenceCodes(BackEnd b, int bits, const SNChunk& chunk) {
  std::vector<int32_t> codes;
  for (uint32_t i = 0; i < chunk.count; ++i)
    for (int l = 0; l < 6; ++l) {
      const float x = chunk.data[i].lane[l];
      codes.push_back(b == BackEnd::X87 ? TruncCode(x, bits) : VectorCode(x, bits));
    }
  return codes;
}

class OutputEdgeTest : public EngineFixture, public ::testing::WithParamInterface<BackEnd> {};

TEST_P(OutputEdgeTest, EdgeValues) {
  SN_SKIP_UNLESS_AVAILABLE(GetParam());
  const bool x87 = GetParam() == BackEnd::X87;
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float x;
    int32_t x87_16, sse2_16, x87_24, sse2_24;
  };
  const Case cases[] = {
      {0.0f, 0, 0, 0, 0},
      {-0.0f, 0, 0, 0, 0},
      {-k0707, -23166, -23167, -5930746, -5930746},
      {k0707, 23166, 23167, 5930746, 5930746},
      {1.0f, 32767, 32767, 8388607, 8388607},
      {-1.0f, -32768, -32768, -8388608, -8388608},
      {2.0f, 32767, 32767, 8388607, 8388607},
      {-2.0f, -32768, -32768, -8388608, -8388608},
      {0x1.fffffep-1f, 32767, 32767, 8388607, 8388607},
      {-0x1.fffffep-1f, -32767, -32768, -8388607, -8388608},
      {0.5f / 32768, 0, 0, 128, 128},
      {0.6f / 32768, 0, 1, 153, 153},
      {1.5f / 32768, 1, 2, 384, 384},
      {-0.6f / 32768, 0, -1, -153, -154},
      {-0.5f / 8388608, 0, 0, 0, -1},
      {-2.0f / 8388608, 0, 0, -2, -2},
      {0.6f / 8388608, 0, 0, 0, 0},
      {255.5f / 2147483648.0f, 0, 0, 0, 1},  // x * 2^31 = 255.5 rounds to 256: the next code
      {32767.5f / 32768, 32767, 32767, 8388480, 8388480},  // a tie at 16 bits; saturates
      {1e30f, 32767, 32767, 8388607, 8388607},
      {-1e30f, -32768, -32768, -8388608, -8388608},
      {inf, 32767, 32767, 8388607, 8388607},
      {-inf, -32768, -32768, -8388608, -8388608},
      {std::numeric_limits<float>::quiet_NaN(), 0, 0, 0, 0},
  };
  // One frame per case with the value in all six lanes; lanes 6 and 7 NaN.
  const uint32_t n = static_cast<uint32_t>(std::size(cases));
  OwnedChunk chunk(n);
  FillLanes(chunk.buf, std::numeric_limits<float>::quiet_NaN());
  for (uint32_t i = 0; i < n; ++i)
    for (int l = 0; l < 6; ++l) chunk[i].lane[l] = cases[i].x;
  const std::vector<int32_t> c16 = RunOutput(GetParam(), 16, chunk.buf);
  const std::vector<int32_t> c24 = RunOutput(GetParam(), 24, chunk.buf);
  ASSERT_EQ(c16.size(), n * 6);
  ASSERT_EQ(c24.size(), n * 6);
  for (uint32_t i = 0; i < n; ++i) {
    SCOPED_TRACE(::testing::Message() << "x = " << std::hexfloat << cases[i].x);
    for (int l = 0; l < 6; ++l) {
      EXPECT_EQ(c16[i * 6 + l], x87 ? cases[i].x87_16 : cases[i].sse2_16) << "lane " << l;
      EXPECT_EQ(c24[i * 6 + l], x87 ? cases[i].x87_24 : cases[i].sse2_24) << "lane " << l;
    }
  }
}

// Little-endian byte order and lane order of both formats: the 24-bit value -2
// is FE FF FF; lanes come out L R C LFE SL SR.
TEST_P(OutputEdgeTest, ByteAndChannelOrder) {
  SN_SKIP_UNLESS_AVAILABLE(GetParam());
  OwnedChunk chunk(1);
  const float lanes[8] = {-2.0f / 8388608, 1.0f / 256, 2.0f / 256, 3.0f / 256, 4.0f / 256, 5.0f / 256, NAN, NAN};
  std::memcpy(chunk[0].lane, lanes, sizeof lanes);
  OwnedBuffer<OutFrame24> out24;
  KernelsOf(GetParam()).ConvertToOutput24(chunk.buf, out24.buf);
  const uint8_t want24[18] = {0xFE, 0xFF, 0xFF, 0x00, 0x80, 0x00, 0x00, 0x00, 0x01,
                              0x00, 0x80, 0x01, 0x00, 0x00, 0x02, 0x00, 0x80, 0x02};
  ASSERT_EQ(out24.buf.count, 1u);
  EXPECT_EQ(std::memcmp(out24.buf.data[0].bytes, want24, 18), 0);
  OwnedBuffer<OutFrame16> out16;
  KernelsOf(GetParam()).ConvertToOutput16(chunk.buf, out16.buf);
  const uint8_t want16[12] = {0x00, 0x00, 0x80, 0x00, 0x00, 0x01, 0x80, 0x01, 0x00, 0x02, 0x80, 0x02};
  ASSERT_EQ(out16.buf.count, 1u);
  EXPECT_EQ(std::memcmp(out16.buf.data[0].bytes, want16, 12), 0);
}

// Growth rule of the output buffers, and 0 frames.
TEST_P(OutputEdgeTest, DestinationGrowsOnlyWhenNeeded) {
  SN_SKIP_UNLESS_AVAILABLE(GetParam());
  CSNFn& k = KernelsOf(GetParam());
  std::mt19937 rng(9);
  const OwnedChunk big = RandomChunk(rng, 100);
  const OwnedChunk small = RandomChunk(rng, 33);
  OwnedChunk none;
  OwnedBuffer<OutFrame16> o16;
  OwnedBuffer<OutFrame24> o24;
  k.ConvertToOutput16(big.buf, o16.buf);
  k.ConvertToOutput24(big.buf, o24.buf);
  OutFrame16* p16 = o16.buf.data;
  OutFrame24* p24 = o24.buf.data;
  EXPECT_EQ(o16.buf.capacity, 100u);
  EXPECT_EQ(o24.buf.capacity, 100u);
  k.ConvertToOutput16(small.buf, o16.buf);
  k.ConvertToOutput24(small.buf, o24.buf);
  EXPECT_EQ(o16.buf.data, p16);
  EXPECT_EQ(o24.buf.data, p24);
  EXPECT_EQ(o16.buf.count, 33u);
  EXPECT_EQ(o24.buf.count, 33u);
  EXPECT_TRUE(CodesMatch(ReferenceCodes(GetParam(), 16, small.buf), Codes(o16.buf)));
  EXPECT_TRUE(CodesMatch(ReferenceCodes(GetParam(), 24, small.buf), Codes(o24.buf)));
  k.ConvertToOutput16(none.buf, o16.buf);
  k.ConvertToOutput24(none.buf, o24.buf);
  EXPECT_EQ(o16.buf.count, 0u);
  EXPECT_EQ(o24.buf.count, 0u);
  EXPECT_EQ(o16.buf.data, p16);
}

INSTANTIATE_TEST_SUITE_P(, OutputEdgeTest, ::testing::ValuesIn(kBackEnds), BackEndName());

// Checkasm: random frames of odd lengths, loud (clipping) and quiet (between
// 24-bit codes); lanes 6 and 7 NaN. Each back end matches its own rounding
// exactly, and the two differ by at most one code.
TEST_F(ConvertTest, OutputBackEndsMatchTheirRoundingOnRandomFrames) {
  if (!Available(BackEnd::Sse2)) GTEST_SKIP() << "no SSE2";
  std::mt19937 rng(4321);
  for (float amplitude : {1.3f, 1.0f / 128}) {
    for (uint32_t frames : kOddLengths) {
      SCOPED_TRACE(::testing::Message() << frames << " frames, amplitude " << amplitude);
      const OwnedChunk chunk = RandomChunk(rng, frames, amplitude);
      for (int bits : {16, 24}) {
        SCOPED_TRACE(::testing::Message() << bits << "-bit");
        const std::vector<int32_t> ref = RunOutput(BackEnd::X87, bits, chunk.buf);
        const std::vector<int32_t> vec = RunOutput(BackEnd::Sse2, bits, chunk.buf);
        EXPECT_TRUE(CodesMatch(ReferenceCodes(BackEnd::X87, bits, chunk.buf), ref));
        EXPECT_TRUE(CodesMatch(ReferenceCodes(BackEnd::Sse2, bits, chunk.buf), vec));
        EXPECT_TRUE(CodesMatch(ref, vec, 1));
      }
    }
  }
}

}  // namespace
}  // namespace sn::test
