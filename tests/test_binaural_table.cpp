// The embedded binaural table: its bytes against the committed checksum, and
// every response against the shape the headphone renderer relies on.
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

using sn::BinauralTable;
using sn::kBinauralTaps;

constexpr int kMusic = 0, kMovie = 1;
constexpr int kL = 0, kR = 1, kC = 2, kSL = 3, kSR = 4;
constexpr int kLeftEar = 0, kRightEar = 1;

const float* Response(int index) { return BinauralTable + index * kBinauralTaps; }
int Index(int set, int channel, int ear) { return set * 10 + channel * 2 + ear; }

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
  EXPECT_EQ(sizeof(BinauralTable), 655360u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(BinauralTable) % 16, 0u);
}

TEST(BinauralTable, BytesMatchCommittedChecksum) {
  std::ifstream in(SONAVEL_SOURCE_DIR "/engine/data/binaural_table.sum");
  ASSERT_TRUE(in) << "engine/data/binaural_table.sum missing";
  std::string tag, hex;
  in >> tag >> hex;
  ASSERT_EQ(tag, "fnv1a64");
  ASSERT_EQ(hex.size(), 16u);
  const uint64_t expected = std::stoull(hex, nullptr, 16);
  const auto* bytes = reinterpret_cast<const unsigned char*>(BinauralTable);
  EXPECT_EQ(Fnv1a64(bytes, sizeof(BinauralTable)), expected);

  // The committed file itself, so that a stale object or a stale sum shows.
  std::ifstream f(SONAVEL_SOURCE_DIR "/engine/data/binaural_table.f32", std::ios::binary);
  ASSERT_TRUE(f);
  std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(data.size(), sizeof(BinauralTable));
  EXPECT_EQ(Fnv1a64(reinterpret_cast<const unsigned char*>(data.data()), data.size()), expected);
}

std::string CaseName(const testing::TestParamInfo<int>& info) {
  static const char* const sets[] = {"Music", "Movie"};
  static const char* const channels[] = {"L", "R", "C", "SL", "SR"};
  const int r = info.param;
  return std::string(sets[r / 10]) + "_" + channels[(r % 10) / 2] + (r % 2 ? "_right" : "_left");
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

std::vector<int> Indices(bool (*keep)(int)) {
  std::vector<int> out;
  for (int r = 0; r < sn::kBinauralResponses; ++r)
    if (keep(r)) out.push_back(r);
  return out;
}

class BinauralResponse : public testing::TestWithParam<int> {
 protected:
  const float* x() const { return Response(GetParam()); }
};
class NearEarResponse : public BinauralResponse {};
class FarEarResponse : public BinauralResponse {};
class SideResponse : public BinauralResponse {};

TEST_P(BinauralResponse, AllTapsFinite) {
  for (int i = 0; i < kBinauralTaps; ++i) ASSERT_TRUE(std::isfinite(x()[i])) << "tap " << i;
}

// Late energy: after tap 2048 0.3..4 % (Music) or 0.8..7 % (Movie) of the
// response's energy, after tap 4096 under 0.4 %, none at all in the last 1024.
TEST_P(BinauralResponse, DecaysWithinTheLateEnergyBounds) {
  const double total = Energy(x(), 0, kBinauralTaps);
  const double after2048 = Energy(x(), 2048, kBinauralTaps) / total;
  const double after4096 = Energy(x(), 4096, kBinauralTaps) / total;
  if (SetOf(GetParam()) == kMusic) {
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
  double prev = Energy(x(), 2048, 2560);
  for (int from = 2560; from < kBinauralTaps; from += 512) {
    const double e = Energy(x(), from, from + 512);
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

// The far ear is silent until the interaural delay (about 10 taps for the
// front loudspeakers, 21 for the surrounds; within 3), then peaks within a
// few taps, weaker than the near ear of the same loudspeaker.
TEST_P(FarEarResponse, StartsLaterAndWeaker) {
  const int ch = ChannelOf(GetParam());
  const int expected = (ch == kSL || ch == kSR) ? 21 : 10;
  const int onset = OnsetTap(x());
  EXPECT_NEAR(onset, expected, 3);
  const int peak = PeakTap(x());
  EXPECT_GE(peak, onset);
  EXPECT_LE(peak, onset + 3);
  double before = 0;
  for (int i = 0; i < expected - 3; ++i) before = std::max(before, static_cast<double>(std::fabs(x()[i])));
  EXPECT_LT(before, 0.01 * std::fabs(x()[peak]));
  const float* nearResponse = Response(GetParam() ^ 1);
  EXPECT_LT(std::fabs(x()[peak]), 0.5f * std::fabs(nearResponse[0]));
}

// The table is left/right symmetric: a right-hand loudspeaker's response at
// one ear is its left-hand mirror's at the other.
TEST_P(SideResponse, MirrorsItsCounterpart) {
  static const int mirror[] = {kR, kL, kC, kSR, kSL};
  const int r = GetParam();
  const float* other = Response(Index(SetOf(r), mirror[ChannelOf(r)], 1 - EarOf(r)));
  for (int i = 0; i < kBinauralTaps; ++i) ASSERT_EQ(x()[i], other[i]) << "tap " << i;
}

INSTANTIATE_TEST_SUITE_P(All, BinauralResponse, testing::Range(0, sn::kBinauralResponses), CaseName);
INSTANTIATE_TEST_SUITE_P(Near, NearEarResponse, testing::ValuesIn(Indices(IsNearEar)), CaseName);
INSTANTIATE_TEST_SUITE_P(Far, FarEarResponse, testing::ValuesIn(Indices([](int r) { return !IsNearEar(r); })),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Sides, SideResponse, testing::ValuesIn(Indices([](int r) { return ChannelOf(r) != kC; })),
                         CaseName);

// The telling values. The L-left peaks set each set's level and are exact; the
// others come from the measured head and may differ by up to 10 % in value
// and 2 taps in position.
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
    const float* x = Response(c.index);
    const int at = PeakTap(x);
    EXPECT_NEAR(at, c.tap, c.tapTolerance);
    EXPECT_NEAR(std::fabs(x[at]), c.value, c.relTolerance * c.value);
  }
}

}  // namespace
