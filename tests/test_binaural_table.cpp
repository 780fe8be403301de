// The embedded binaural tables, one per rate: their bytes against the
// committed checksums, every response against the shape the headphone renderer
// relies on (positions given at 44100 Hz hold in time at 48000 Hz), the
// interaural delays against the measurements, and the same level at both rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "engine/BinauralTable.h"
#include "tools/binaural-gen/Fnv1a.h"

namespace {

using sn::kBinauralTaps;

constexpr int kMusic = 0, kMovie = 1;
constexpr int kL = 0, kR = 1, kC = 2, kSL = 3, kSR = 4;
constexpr int kLeftEar = 0, kRightEar = 1;
constexpr uint32_t kRates[] = {44100, 48000};
constexpr size_t kTableBytes = sizeof(sn::BinauralTable44100);

const float* Response(uint32_t rate, int index) { return sn::BinauralTableFor(rate) + index * kBinauralTaps; }
int Index(int set, int channel, int ear) { return set * 10 + channel * 2 + ear; }
// A tap position given at 44100 Hz, at `rate` (the same time).
int At(int taps44100, uint32_t rate) { return static_cast<int>(std::lround(taps44100 * (rate / 44100.0))); }

int PeakTap(const float* x) {
  int at = 0;
  for (int i = 1; i < kBinauralTaps; ++i)
    if (std::fabs(x[i]) > std::fabs(x[at])) at = i;
  return at;
}

// First tap whose magnitude reaches 10 % of the response's largest.
int OnsetTap(const float* x) {
  const float th = 0.1f * std::fabs(x[PeakTap(x)]);
  int i = 0;
  while (std::fabs(x[i]) < th) ++i;
  return i;
}

double Energy(const float* x, int from, int to) {
  double e = 0;
  for (int i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

using sn::binaural::Fnv1a64;

TEST(BinauralTable, SizeAndAlignment) {
  EXPECT_EQ(kTableBytes, 655360u);
  EXPECT_EQ(sizeof(sn::BinauralTable48000), 655360u);
  for (uint32_t rate : kRates) EXPECT_EQ(reinterpret_cast<uintptr_t>(sn::BinauralTableFor(rate)) % 16, 0u) << rate;
  EXPECT_EQ(sn::BinauralTableFor(32000), nullptr);
  EXPECT_EQ(sn::BinauralTableFor(96000), nullptr);
}

// engine/data/binaural_table.sum holds one line per table: "fnv1a64 <hex> <rate>".
TEST(BinauralTable, BytesMatchCommittedChecksums) {
  std::ifstream in(SONAVEL_SOURCE_DIR "/engine/data/binaural_table.sum");
  ASSERT_TRUE(in) << "engine/data/binaural_table.sum missing";
  int lines = 0;
  std::string tag, hex;
  uint32_t rate = 0;
  while (in >> tag >> hex >> rate) {
    SCOPED_TRACE(rate);
    ++lines;
    ASSERT_EQ(tag, "fnv1a64");
    ASSERT_EQ(hex.size(), 16u);
    ASSERT_NE(sn::BinauralTableFor(rate), nullptr);
    const uint64_t expected = std::stoull(hex, nullptr, 16);
    const auto* bytes = reinterpret_cast<const unsigned char*>(sn::BinauralTableFor(rate));
    EXPECT_EQ(Fnv1a64(bytes, kTableBytes), expected);

    // The committed file itself, so that a stale object or a stale sum shows.
    std::ifstream f(SONAVEL_SOURCE_DIR "/engine/data/binaural_" + std::to_string(rate) + ".f32", std::ios::binary);
    ASSERT_TRUE(f);
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(data.size(), kTableBytes);
    EXPECT_EQ(Fnv1a64(reinterpret_cast<const unsigned char*>(data.data()), data.size()), expected);
  }
  EXPECT_EQ(lines, 2);
}

struct Case {
  uint32_t rate;
  int index;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  static const char* const sets[] = {"Music", "Movie"};
  static const char* const channels[] = {"L", "R", "C", "SL", "SR"};
  const int r = info.param.index;
  return std::string(sets[r / 10]) + "_" + channels[(r % 10) / 2] + (r % 2 ? "_right" : "_left") + "_" +
         std::to_string(info.param.rate);
}

int SetOf(int index) { return index / 10; }
int ChannelOf(int index) { return (index % 10) / 2; }
int EarOf(int index) { return index % 2; }
// C is near for both ears; L and SL for the left ear, R and SR for the right.
bool IsNearEar(int index) {
  const int ch = ChannelOf(index);
  if (ch == kC) return true;
  return (ch == kL || ch == kSL) == (EarOf(index) == kLeftEar);
}

std::vector<Case> Indices(bool (*keep)(int)) {
  std::vector<Case> out;
  for (uint32_t rate : kRates)
    for (int r = 0; r < sn::kBinauralResponses; ++r)
      if (keep(r)) out.push_back({rate, r});
  return out;
}
bool Any(int) { return true; }

class BinauralResponse : public testing::TestWithParam<Case> {
 protected:
  const float* x() const { return Response(GetParam().rate, GetParam().index); }
  int At(int taps44100) const { return ::At(taps44100, GetParam().rate); }
  int Index() const { return GetParam().index; }
};
class NearEarResponse : public BinauralResponse {};
class FarEarResponse : public BinauralResponse {};
class SideResponse : public BinauralResponse {};

TEST_P(BinauralResponse, AllTapsFinite) {
  for (int i = 0; i < kBinauralTaps; ++i) ASSERT_TRUE(std::isfinite(x()[i])) << "tap " << i;
}

// Late energy: after tap 2048 (46.4 ms) 0.3..4 % (Music) or 0.8..7 % (Movie)
// of the response's energy, after tap 4096 under 0.4 %, none at all in the
// last 1024 taps.
TEST_P(BinauralResponse, DecaysWithinTheLateEnergyBounds) {
  const double total = Energy(x(), 0, kBinauralTaps);
  const double after2048 = Energy(x(), At(2048), kBinauralTaps) / total;
  const double after4096 = Energy(x(), At(4096), kBinauralTaps) / total;
  if (SetOf(Index()) == kMusic) {
    EXPECT_GE(after2048, 0.003);
    EXPECT_LE(after2048, 0.04);
  } else {
    EXPECT_GE(after2048, 0.008);
    EXPECT_LE(after2048, 0.07);
  }
  EXPECT_LT(after4096, 0.004);
  EXPECT_LT(Energy(x(), kBinauralTaps - 1024, kBinauralTaps), 1e-10);
  for (int i = kBinauralTaps - 1024; i < kBinauralTaps; ++i) ASSERT_EQ(x()[i], 0.0f) << "tap " << i;
}

// From the end of the early reflections on, the energy of each 512-tap window
// is below that of the window before: the tail only decays.
TEST_P(BinauralResponse, TailDecaysMonotonically) {
  const int window = At(512);
  double prev = Energy(x(), At(2048), At(2048) + window);
  for (int from = At(2048) + window; from + window <= kBinauralTaps; from += window) {
    const double e = Energy(x(), from, from + window);
    if (prev == 0) {
      EXPECT_EQ(e, 0) << "window at " << from;
    } else {
      EXPECT_LT(e, prev) << "window at " << from;
    }
    prev = e;
  }
}

TEST_P(NearEarResponse, PeaksAtTapZero) {
  EXPECT_EQ(PeakTap(x()), 0);
  EXPECT_GT(x()[0], 0.0f);
}

// The far ear is silent until the interaural delay (about 10 taps at 44100 Hz
// for the front loudspeakers, 21 for the surrounds; within 3), then peaks
// within a few taps, weaker than the near ear of the same loudspeaker.
TEST_P(FarEarResponse, StartsLaterAndWeaker) {
  const int ch = ChannelOf(Index());
  const int expected = At((ch == kSL || ch == kSR) ? 21 : 10);
  const int onset = OnsetTap(x());
  EXPECT_NEAR(onset, expected, 3);
  const int peak = PeakTap(x());
  EXPECT_GE(peak, onset);
  EXPECT_LE(peak, onset + 3);
  double before = 0;
  for (int i = 0; i < expected - 3; ++i) before = std::max(before, static_cast<double>(std::fabs(x()[i])));
  EXPECT_LT(before, 0.01 * std::fabs(x()[peak]));
  const float* nearResponse = Response(GetParam().rate, Index() ^ 1);
  EXPECT_LT(std::fabs(x()[peak]), 0.5f * std::fabs(nearResponse[0]));
}

// The table is left/right symmetric: a right-hand loudspeaker's response at
// one ear is its left-hand mirror's at the other.
TEST_P(SideResponse, MirrorsItsCounterpart) {
  static const int mirror[] = {kR, kL, kC, kSR, kSL};
  const int r = Index();
  const float* other = Response(GetParam().rate, ::Index(SetOf(r), mirror[ChannelOf(r)], 1 - EarOf(r)));
  for (int i = 0; i < kBinauralTaps; ++i) ASSERT_EQ(x()[i], other[i]) << "tap " << i;
}

INSTANTIATE_TEST_SUITE_P(All, BinauralResponse, testing::ValuesIn(Indices(Any)), CaseName);
INSTANTIATE_TEST_SUITE_P(Near, NearEarResponse, testing::ValuesIn(Indices(IsNearEar)), CaseName);
INSTANTIATE_TEST_SUITE_P(Far, FarEarResponse, testing::ValuesIn(Indices([](int r) { return !IsNearEar(r); })),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Sides, SideResponse, testing::ValuesIn(Indices([](int r) { return ChannelOf(r) != kC; })),
                         CaseName);

// The telling values of the 44100 Hz table. The L-left peaks set each set's
// level and are exact; the others come from the measured head and may differ
// by up to 10 % in value and 2 taps in position.
TEST(BinauralTable, TellingValues) {
  struct Telling {
    int index;
    float value;
    int tap;
    double relTolerance;
    int tapTolerance;
  };
  const Telling cases[] = {
      {Index(kMusic, kL, kLeftEar), 0.7324f, 0, 1e-6, 0},
      {Index(kMovie, kL, kLeftEar), 0.6020f, 0, 1e-6, 0},
      {Index(kMusic, kL, kRightEar), 0.2007f, 10, 0.10, 2},
      {Index(kMusic, kC, kLeftEar), 0.4753f, 0, 0.10, 0},
      {Index(kMusic, kC, kRightEar), 0.4753f, 0, 0.10, 0},
      {Index(kMusic, kSL, kRightEar), 0.0613f, 22, 0.10, 2},
      {Index(kMovie, kSL, kRightEar), 0.0507f, 22, 0.10, 2},
  };
  for (const Telling& c : cases) {
    SCOPED_TRACE("index " + std::to_string(c.index));
    const float* x = Response(44100, c.index);
    const int at = PeakTap(x);
    EXPECT_NEAR(at, c.tap, c.tapTolerance);
    EXPECT_NEAR(std::fabs(x[at]), c.value, c.relTolerance * c.value);
  }
}

// The interaural delay of each far ear, where its response first reaches 10 %
// of its peak, in microseconds: the measured difference of the ears' onsets
// in the MIT KEMAR data at the loudspeakers' directions (binaural-gen prints
// it: 244.86 us at 30 degrees, 521.85 us at 110), rounded to whole taps, so
// within half a tap of it at either rate; and the two rates within one tap
// of each other.
TEST(BinauralTable, InterauralDelaysMatchTheMeasurementsAtBothRates) {
  struct Feed {
    int channel;
    int farEar;
    double measuredUs;
  };
  const Feed feeds[] = {{kL, kRightEar, 244.86}, {kR, kLeftEar, 244.86}, {kSL, kRightEar, 521.85},
                        {kSR, kLeftEar, 521.85}};
  for (int set : {kMusic, kMovie})
    for (const Feed& f : feeds) {
      double us[2];
      for (int i = 0; i < 2; ++i) {
        const uint32_t rate = kRates[i];
        SCOPED_TRACE(testing::Message() << "set " << set << " channel " << f.channel << " at " << rate);
        EXPECT_EQ(OnsetTap(Response(rate, Index(set, f.channel, 1 - f.farEar))), 0);
        us[i] = 1e6 * OnsetTap(Response(rate, Index(set, f.channel, f.farEar))) / rate;
        EXPECT_NEAR(us[i], f.measuredUs, 0.5e6 / rate + 0.5);
      }
      EXPECT_NEAR(us[1], us[0], 1e6 / 48000.0);
    }
}

// Both rates play at the same level: each response's energy per second (its
// taps' energy times the rate, the integral of its power over frequency)
// agrees within 0.5 dB. The tables share the measurements' magnitude and the
// rooms; only the diffuse tail's noise and the rounding of reflection times
// differ.
TEST(BinauralTable, BothRatesHaveTheSameLevel) {
  for (int r = 0; r < sn::kBinauralResponses; ++r) {
    const double e44 = Energy(Response(44100, r), 0, kBinauralTaps) * 44100;
    const double e48 = Energy(Response(48000, r), 0, kBinauralTaps) * 48000;
    EXPECT_NEAR(10 * std::log10(e48 / e44), 0.0, 0.5) << "response " << r;
  }
}

}  // namespace
