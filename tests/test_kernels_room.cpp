// The room stages after the mode kernel: master gain and trims, and the channel
// delays, in both back ends.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <vector>

#include "engine/Constants.h"
#include "engine/SNLib.h"
#include "support/Checkasm.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

// ---- Gain ----

class GainTest : public EngineFixture {};

// Flag 1 against x * master * trim[i] evaluated exactly (the first product is
// exact in double, so one double rounding, then float). The scalar back end
// matches it bit for bit. SSE2 rounds the factor to float first: that moves
// the product by less than one ulp of the result, so after its own rounding it
// is at most one ulp away.
TEST_F(GainTest, TrimsAndMasterMatchTheExactProduct) {
  struct Case {
    const char* name;
    int32_t master;
    int32_t trims[6];
    int32_t lfeInvert;
  };
  const Case cases[] = {
      {"unity", 0, {0, 0, 0, 0, 0, 0}, 0},
      {"LFE inverted", 0, {0, 0, 0, 0, 0, 0}, 1},
      {"+6 dB master", 6, {0, 0, 0, 0, 0, 0}, 0},
      {"mixed", -6, {-12, 12, 3, -5, 7, -1}, 1},
      {"extremes", 6, {12, 12, 12, -12, 12, 12}, 0},
  };
  std::mt19937 rng(42);
  for (const Case& c : cases) {
    cfg_.MasterGain = c.master;
    cfg_.TrimL = c.trims[0], cfg_.TrimR = c.trims[1], cfg_.TrimC = c.trims[2];
    cfg_.TrimSub = c.trims[3], cfg_.TrimSL = c.trims[4], cfg_.TrimSR = c.trims[5];
    cfg_.LFEInvert = c.lfeInvert;
    Recalc();
    const DspConstants& k = Dsp.K();
    for (uint32_t frames : kOddLengths) {
      SCOPED_TRACE(::testing::Message() << c.name << ", " << frames << " frames");
      const OwnedChunk in = RandomChunk(rng, frames);
      OwnedChunk want = in;
      for (uint32_t i = 0; i < frames; ++i)
        for (int l = 0; l < 6; ++l)
          want[i].lane[l] = static_cast<float>(static_cast<double>(in[i].lane[l]) * k.MasterGainLinear * k.TrimGain[l]);
      for (BackEnd b : kBackEnds) {
        if (!Available(b)) continue;
        SCOPED_TRACE(NameOf(b));
        OwnedChunk got = in;
        CSNLib::ApplyGain(KernelsOf(b), got.buf, 1);
        EXPECT_TRUE(LanesMatch(want.buf, got.buf, b == BackEnd::X87 ? 0 : 1));
      }
    }
  }
}

// Exact identities: 0 dB changes nothing, LFE inversion flips the sign of the
// LFE lane and nothing else (both back ends, bit for bit).
TEST_F(GainTest, UnityAndInversionAreExact) {
  std::mt19937 rng(7);
  const OwnedChunk in = RandomChunk(rng, 257);
  for (int32_t invert : {0, 1}) {
    cfg_.LFEInvert = invert;
    Recalc();
    OwnedChunk want = in;
    if (invert)
      for (uint32_t i = 0; i < want.size(); ++i) want[i].lane[3] = -want[i].lane[3];
    for (BackEnd b : kBackEnds) {
      if (!Available(b)) continue;
      SCOPED_TRACE(::testing::Message() << NameOf(b) << (invert ? " inverted" : ""));
      OwnedChunk got = in;
      CSNLib::ApplyGain(KernelsOf(b), got.buf, 1);
      EXPECT_TRUE(LanesMatch(want.buf, got.buf, 0));
    }
  }
}

// +6 dB on full scale (0.707) gives about 1.41, which both output conversions
// clip to the largest code.
TEST_F(GainTest, PlusSixDecibelsOnFullScaleClipsAtTheOutput) {
  cfg_.MasterGain = 6;
  Recalc();
  EXPECT_FLOAT_EQ(Dsp.K().MasterGainLinear, 1.99526238f);
  for (BackEnd b : kBackEnds) {
    if (!Available(b)) continue;
    SCOPED_TRACE(NameOf(b));
    OwnedChunk chunk(5);
    FillLanes(chunk.buf, 0.707f);
    for (uint32_t i = 0; i < 5; ++i) chunk[i].lane[i % 6] = -0.707f;
    CSNLib::ApplyGain(KernelsOf(b), chunk.buf, 1);
    EXPECT_NEAR(chunk[0].lane[1], 1.4106, 1e-4);
    OwnedBuffer<OutFrame16> out;
    KernelsOf(b).ConvertToOutput16(chunk.buf, out.buf);
    const std::vector<int32_t> codes = Codes(out.buf);
    for (size_t j = 0; j < codes.size(); ++j) EXPECT_EQ(codes[j], j / 6 == j % 6 ? -32768 : 32767) << j;
  }
}

// Headphone form (flag 0): L and R carry the master gain only, whatever the
// trims; C, LFE, SL and SR are exactly 0.0 even when they held NaN or infinity.
// Both back ends agree bit for bit.
TEST_F(GainTest, HeadphoneFormKeepsOnlyTheEarsWithMasterGain) {
  cfg_.MasterGain = -5;
  cfg_.TrimL = 12;
  cfg_.TrimR = -12;
  cfg_.TrimC = 3;
  cfg_.LFEInvert = 1;
  Recalc();
  const double master = Dsp.K().MasterGainLinear;
  std::mt19937 rng(11);
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e30f};
  for (uint32_t frames : kOddLengths) {
    OwnedChunk in = RandomChunk(rng, frames);
    for (uint32_t i = 0; i < frames; ++i) in[i].lane[2 + i % 4] = specials[i % 4];
    OwnedChunk want = in;
    for (uint32_t i = 0; i < frames; ++i) {
      for (int l = 0; l < 2; ++l) want[i].lane[l] = static_cast<float>(in[i].lane[l] * master);
      for (int l = 2; l < 6; ++l) want[i].lane[l] = 0.0f;
    }
    for (BackEnd b : kBackEnds) {
      if (!Available(b)) continue;
      SCOPED_TRACE(::testing::Message() << NameOf(b) << ", " << frames << " frames");
      OwnedChunk got = in;
      CSNLib::ApplyGain(KernelsOf(b), got.buf, 0);
      EXPECT_TRUE(LanesMatch(want.buf, got.buf, 0));
    }
  }
}

// ---- Delay ----

// At 1000 Hz a setting of t ms is a delay of t samples.
constexpr uint32_t kRate = 1000;

// A direct model of the delay stage: one queue per lane.
class DelayModel {
 public:
  void Run(SNChunk& chunk, int allChannels, const Config& cfg) {
    if (allChannels) {
      const bool music = cfg.SurroundMode == 1;
      const uint32_t surround = static_cast<uint32_t>(music ? cfg.SurroundDelayMusic : cfg.SurroundDelayMovie);
      const int32_t ms[6] = {cfg.DelayL, cfg.DelayR, cfg.DelayC, cfg.DelaySub, cfg.DelaySL, cfg.DelaySR};
      for (int l = 0; l < 6; ++l) lines_[l].Set(static_cast<uint32_t>(ms[l]) + (l >= 4 ? surround : 0));
    } else {
      for (int l = 0; l < 4; ++l) lines_[l].Set(0);
      const bool movie = cfg.HeadphonesMode != 0;
      const bool on = movie ? cfg.HeadphonesDecodeMovie : cfg.HeadphonesDecodeMusic;
      const uint32_t n = on ? static_cast<uint32_t>(movie ? cfg.SurroundDelayMovie : cfg.SurroundDelayMusic) : 0;
      lines_[4].Set(n);
      lines_[5].Set(n);
    }
    for (uint32_t i = 0; i < chunk.count; ++i)
      for (int l = 0; l < 6; ++l) chunk.data[i].lane[l] = lines_[l].Push(chunk.data[i].lane[l]);
  }

 private:
  struct Line {
    uint32_t n = 0;
    std::deque<float> q;
    void Set(uint32_t len) {
      if (len != n) q.assign(len, 0.0f);
      n = len;
    }
    float Push(float x) {
      if (n == 0) return x;
      q.push_back(x);
      const float out = q.front();
      q.pop_front();
      return out;
    }
  };
  Line lines_[6];
};

class DelayTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    SetDelays({0, 0, 0, 0, 0, 0}, 0, 0);
  }
  void SetDelays(std::array<int32_t, 6> ms, int32_t surroundMovie, int32_t surroundMusic) {
    cfg_.DelayL = ms[0], cfg_.DelayR = ms[1], cfg_.DelayC = ms[2];
    cfg_.DelaySub = ms[3], cfg_.DelaySL = ms[4], cfg_.DelaySR = ms[5];
    cfg_.SurroundDelayMovie = surroundMovie;
    cfg_.SurroundDelayMusic = surroundMusic;
    Recalc(kRate);
  }
  // Frames whose lane l at stream time t holds Ramp(l, t), distinct and nonzero;
  // lanes 6 and 7 hold a NaN with a payload that must survive untouched.
  static float Ramp(int l, uint64_t t) { return static_cast<float>(1 + t) + 0.125f * static_cast<float>(l); }
  static constexpr uint32_t kJunk = 0x7FC0BEEFu;
  static OwnedChunk RampChunk(uint64_t start, uint32_t frames) {
    OwnedChunk c(frames);
    for (uint32_t i = 0; i < frames; ++i) {
      for (int l = 0; l < 6; ++l) c[i].lane[l] = Ramp(l, start + i);
      c[i].lane[6] = c[i].lane[7] = std::bit_cast<float>(kJunk);
    }
    return c;
  }
  static void ExpectJunkKept(const SNChunk& c) {
    for (uint32_t i = 0; i < c.count; ++i) {
      EXPECT_EQ(std::bit_cast<uint32_t>(c.data[i].lane[6]), kJunk);
      EXPECT_EQ(std::bit_cast<uint32_t>(c.data[i].lane[7]), kJunk);
    }
  }
};

// Impulse in, impulse out: across chunk borders, with chunks shorter and longer
// than the delay, the impulse comes out exactly N frames later on its lane and
// nowhere else.
TEST_F(DelayTest, ImpulseComesOutNFramesLater) {
  for (uint32_t n : {1u, 5u, 100u}) {
    for (uint32_t chunkLen : {1u, 3u, 64u, 257u}) {
      SCOPED_TRACE(::testing::Message() << "N " << n << ", chunks of " << chunkLen);
      CSNLib::ResetDSP();
      SetDelays({static_cast<int32_t>(n), 0, 0, 0, 0, 0}, 0, 0);
      const uint64_t total = 3 * n + 7;
      uint64_t t = 0;
      std::vector<float> outL;
      while (t < total) {
        const uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(chunkLen, total - t));
        OwnedChunk c(len);
        FillLanes(c.buf, 0.0f);
        if (t == 0) c[0].lane[0] = 1.0f, c[0].lane[1] = 2.0f;
        CSNLib::DelayChannels(ScalarKernels(), c.buf, 1);
        for (uint32_t i = 0; i < len; ++i) {
          outL.push_back(c[i].lane[0]);
          EXPECT_EQ(c[i].lane[1], t + i == 0 ? 2.0f : 0.0f);  // lane 1 undelayed
        }
        t += len;
      }
      for (uint64_t i = 0; i < total; ++i) EXPECT_EQ(outL[i], i == n ? 1.0f : 0.0f) << "frame " << i;
    }
  }
}

// A long random run against the model: random chunk lengths (0 included),
// both flags, SurroundMode and headphone settings toggling. Every frame is
// bit-identical to the model's.
TEST_F(DelayTest, MatchesModelOverRandomSettingsAndChunks) {
  SetDelays({0, 1, 2, 5, 3, 7}, 10, 4);
  std::mt19937 rng(2024);
  DelayModel model;
  uint64_t t = 0;
  const uint32_t lengths[] = {0, 1, 2, 3, 5, 7, 13, 31};
  for (int step = 0; step < 400; ++step) {
    std::uniform_int_distribution<int> pick(0, 9);
    if (pick(rng) == 0) cfg_.SurroundMode ^= 1;
    if (pick(rng) == 0) cfg_.HeadphonesMode = cfg_.HeadphonesMode ? 0 : 1;
    if (pick(rng) == 0) cfg_.HeadphonesDecodeMusic ^= 1;
    if (pick(rng) == 0) cfg_.HeadphonesDecodeMovie ^= 1;
    const int flag = pick(rng) < 7 ? 1 : 0;
    const uint32_t len = lengths[std::uniform_int_distribution<int>(0, 7)(rng)];
    SCOPED_TRACE(::testing::Message() << "step " << step << ", flag " << flag << ", " << len << " frames");
    OwnedChunk got = RampChunk(t, len);
    OwnedChunk want = got;
    model.Run(want.buf, flag, cfg_);
    CSNLib::DelayChannels(ScalarKernels(), got.buf, flag);
    ASSERT_TRUE(LanesMatch(want.buf, got.buf, 0));
    ExpectJunkKept(got.buf);
    for (int l = 0; l < 6; ++l)
      ASSERT_LE(Dsp.DelayLines[l].count, Dsp.DelayLines[l].capacity) << "lane " << l;
    t += len;
  }
}

// Switching SurroundMode with different Music and Movie surround delays
// restarts SL and SR from silence at their new length; L, R, C and LFE run on
// with their history.
TEST_F(DelayTest, SurroundModeToggleRestartsOnlyTheSurrounds) {
  SetDelays({2, 3, 4, 5, 1, 6}, 20, 8);
  cfg_.SurroundMode = 0;
  const uint32_t n0[6] = {2, 3, 4, 5, 21, 26};
  const uint32_t n1[6] = {2, 3, 4, 5, 9, 14};
  uint64_t t = 0;
  for (int k = 0; k < 6; ++k, t += 7) {
    OwnedChunk c = RampChunk(t, 7);
    CSNLib::DelayChannels(ScalarKernels(), c.buf, 1);
  }
  const uint64_t toggle = t;
  cfg_.SurroundMode = 1;
  for (int k = 0; k < 6; ++k, t += 7) {
    OwnedChunk c = RampChunk(t, 7);
    CSNLib::DelayChannels(ScalarKernels(), c.buf, 1);
    for (uint32_t i = 0; i < 7; ++i) {
      const uint64_t now = t + i;
      for (int l = 0; l < 6; ++l) {
        // Front lanes: the input of N frames earlier, across the toggle.
        // Surround lanes: silence for the new N frames after the toggle.
        const bool front = l < 4;
        const uint32_t n = front ? n0[l] : n1[l];
        const uint64_t since = front ? now : now - toggle;
        const float want = since >= n ? Ramp(l, now - n) : 0.0f;
        EXPECT_EQ(c[i].lane[l], want) << "t " << now << " lane " << l;
      }
    }
  }
}

// The headphone form: L, R, C and LFE are never delayed; SL and SR get the
// surround delay of the headphone variant when its decode switch is on, none
// when it is off. Returning to the loudspeaker form restarts the front lines
// from silence, reusing their storage.
TEST_F(DelayTest, HeadphoneForm) {
  SetDelays({4, 4, 4, 4, 4, 4}, 10, 6);
  cfg_.SurroundMode = 0;
  OwnedChunk warm = RampChunk(0, 50);
  CSNLib::DelayChannels(ScalarKernels(), warm.buf, 1);
  float* frontStorage = Dsp.DelayLines[0].data;

  struct Case {
    int32_t mode, decodeMusic, decodeMovie;
    uint32_t surround;  // expected SL/SR delay
  };
  const Case cases[] = {{0, 0, 1, 0}, {0, 1, 0, 6}, {1, 1, 0, 0}, {1, 0, 1, 10}, {2, 1, 1, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "HeadphonesMode " << c.mode << ", decode music " << c.decodeMusic
                                      << ", movie " << c.decodeMovie);
    CSNLib::ResetDSP();
    cfg_.HeadphonesMode = c.mode;
    cfg_.HeadphonesDecodeMusic = c.decodeMusic;
    cfg_.HeadphonesDecodeMovie = c.decodeMovie;
    for (uint64_t t = 0; t < 40; t += 8) {
      OwnedChunk ch = RampChunk(t, 8);
      CSNLib::DelayChannels(ScalarKernels(), ch.buf, 0);
      for (uint32_t i = 0; i < 8; ++i)
        for (int l = 0; l < 6; ++l) {
          const uint32_t n = l < 4 ? 0 : c.surround;
          EXPECT_EQ(ch[i].lane[l], t + i >= n ? Ramp(l, t + i - n) : 0.0f) << "t " << t + i << " lane " << l;
        }
    }
  }

  // Loudspeaker form after headphone chunks without a reset.
  CSNLib::ResetDSP();
  OwnedChunk first = RampChunk(0, 50);
  CSNLib::DelayChannels(ScalarKernels(), first.buf, 1);
  frontStorage = Dsp.DelayLines[0].data;
  OwnedChunk hp = RampChunk(50, 10);
  CSNLib::DelayChannels(ScalarKernels(), hp.buf, 0);
  EXPECT_EQ(Dsp.DelayLines[0].count, 0u);
  EXPECT_EQ(Dsp.DelayLines[0].data, frontStorage);
  OwnedChunk back = RampChunk(60, 10);
  CSNLib::DelayChannels(ScalarKernels(), back.buf, 1);
  EXPECT_EQ(Dsp.DelayLines[0].data, frontStorage);
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(back[i].lane[0], i >= 4 ? Ramp(0, 60 + i - 4) : 0.0f) << i;
}

// The engine reset clears the lines in place: the next chunk restarts every
// delay from silence, in the storage reserved before the stream. With all
// delays 0 the chunk passes unchanged.
TEST_F(DelayTest, ResetRestartsFromSilenceInPlace) {
  float* reserved[6];
  for (int l = 0; l < 6; ++l) reserved[l] = Dsp.DelayLines[l].data;
  SetDelays({3, 0, 0, 0, 0, 2}, 0, 0);
  OwnedChunk a = RampChunk(0, 20);
  CSNLib::DelayChannels(ScalarKernels(), a.buf, 1);
  CSNLib::ResetDSP();
  OwnedChunk b = RampChunk(20, 6);
  CSNLib::DelayChannels(ScalarKernels(), b.buf, 1);
  for (uint32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(b[i].lane[0], i >= 3 ? Ramp(0, 20 + i - 3) : 0.0f) << i;
    EXPECT_EQ(b[i].lane[5], i >= 2 ? Ramp(5, 20 + i - 2) : 0.0f) << i;
  }

  SetDelays({0, 0, 0, 0, 0, 0}, 0, 0);
  CSNLib::ResetDSP();
  OwnedChunk in = RampChunk(0, 33);
  OwnedChunk got = in;
  CSNLib::DelayChannels(ScalarKernels(), got.buf, 1);
  EXPECT_TRUE(LanesMatch(in.buf, got.buf, 0));
  ExpectJunkKept(got.buf);
  for (int l = 0; l < 6; ++l) {
    EXPECT_EQ(Dsp.DelayLines[l].data, reserved[l]) << l;
    EXPECT_EQ(Dsp.DelayLines[l].count, 0u) << l;
  }
}

// A delay longer than the stream's reserve (the settings cannot ask for more
// than 100 ms, 200 ms on a surround) is held at the reserve instead of
// allocating on the audio path.
TEST_F(DelayTest, LinesNeverGrowPastTheReserve) {
  CSNLib::PrepareStream(48000);
  EXPECT_GE(Dsp.DelayLines[0].capacity, 4800u) << "100 ms at 48 kHz";
  EXPECT_GE(Dsp.DelayLines[4].capacity, 9600u) << "200 ms at 48 kHz";
  const uint32_t reserve = Dsp.DelayLines[0].capacity;
  float* storage = Dsp.DelayLines[0].data;
  SetDelays({static_cast<int32_t>(reserve) + 500, 0, 0, 0, 0, 0}, 0, 0);
  OwnedChunk c = RampChunk(0, 64);
  CSNLib::DelayChannels(ScalarKernels(), c.buf, 1);
  EXPECT_EQ(Dsp.DelayLines[0].count, reserve);
  EXPECT_EQ(Dsp.DelayLines[0].data, storage);
}

// Steady streaming allocates once: the lines keep their storage over many
// chunks, and a shorter length later reuses it. A 0-frame chunk changes no
// position.
TEST_F(DelayTest, SteadyStreamKeepsStorage) {
  SetDelays({10, 20, 30, 40, 50, 60}, 10, 5);
  cfg_.SurroundMode = 0;
  OwnedChunk c = RampChunk(0, 64);
  CSNLib::DelayChannels(ScalarKernels(), c.buf, 1);
  float* storage[6];
  for (int l = 0; l < 6; ++l) storage[l] = Dsp.DelayLines[l].data;
  for (int k = 1; k < 20; ++k) {
    OwnedChunk d = RampChunk(64 * k, 64);
    CSNLib::DelayChannels(ScalarKernels(), d.buf, 1);
  }
  int32_t pos[6];
  for (int l = 0; l < 6; ++l) {
    EXPECT_EQ(Dsp.DelayLines[l].data, storage[l]) << l;
    pos[l] = Dsp.DelayLines[l].position;
  }
  OwnedChunk empty;
  CSNLib::DelayChannels(ScalarKernels(), empty.buf, 1);
  for (int l = 0; l < 6; ++l) EXPECT_EQ(Dsp.DelayLines[l].position, pos[l]) << l;
  cfg_.SurroundMode = 1;  // SL, SR shorter: 55 and 65 instead of 60 and 70
  OwnedChunk e = RampChunk(0, 64);
  CSNLib::DelayChannels(ScalarKernels(), e.buf, 1);
  EXPECT_EQ(Dsp.DelayLines[4].data, storage[4]);
  EXPECT_EQ(Dsp.DelayLines[4].count, 55u);
  EXPECT_EQ(Dsp.DelayLines[5].data, storage[5]);
}

}  // namespace
}  // namespace sn::test
