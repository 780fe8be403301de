// Headroom of the headphone mode through the exported record: material that
// plays cleanly in Bypass at typical levels does not clip in the ears, and the
// ears' level stands in a stated relation to Bypass (README, "Headphone
// rendering"): with every channel of a six-channel mix at the same level, each
// ear 4 to 7.5 dB above one channel in Bypass; for a decoded stereo mix, 1 to
// 5 dB below.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "support/HostHarness.h"

namespace sn {
namespace {

// Pink noise (-3 dB per octave, Paul Kellet's filter over seeded Gaussian
// noise), scaled to `rmsDb` dBFS RMS (full scale = 32768).
std::vector<double> PinkNoise(uint32_t seed, int frames, double rmsDb) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> white(0.0, 1.0);
  double b[7] = {};
  std::vector<double> x(frames);
  double sum = 0.0;
  for (double& v : x) {
    const double w = white(rng);
    b[0] = 0.99886 * b[0] + w * 0.0555179;
    b[1] = 0.99332 * b[1] + w * 0.0750759;
    b[2] = 0.96900 * b[2] + w * 0.1538520;
    b[3] = 0.86650 * b[3] + w * 0.3104856;
    b[4] = 0.55000 * b[4] + w * 0.5329522;
    b[5] = -0.7616 * b[5] - w * 0.0168980;
    v = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
    b[6] = w * 0.115926;
    sum += v * v;
  }
  const double scale = 32768.0 * std::pow(10.0, rmsDb / 20.0) / std::sqrt(sum / frames);
  for (double& v : x) v *= scale;
  return x;
}

double RmsDb(const std::vector<double>& x) {
  double sum = 0.0;
  for (double v : x) sum += v * v;
  return 10.0 * std::log10(sum / static_cast<double>(x.size()) / (32768.0 * 32768.0));
}

// Source channels, sample [channel][frame] in 16-bit codes.
using Source = std::vector<std::vector<double>>;

// Six independent pink noises, each at -20 dBFS RMS: a busy film mix.
Source SixPinkNoises(int frames) {
  Source s;
  for (int c = 0; c < 6; ++c) s.push_back(PinkNoise(100 + c, frames, -20.0));
  return s;
}

// A music-like stereo mix at -18 dBFS RMS per channel: a centred source, one
// on each side panned part way, and some anti-phase ambience.
Source StereoMix(int frames) {
  const auto centre = PinkNoise(11, frames, -20.0), left = PinkNoise(12, frames, -20.0),
             right = PinkNoise(13, frames, -20.0), ambience = PinkNoise(14, frames, -20.0);
  Source s(2, std::vector<double>(frames));
  for (int i = 0; i < frames; ++i) {
    s[0][i] = 0.8 * centre[i] + 0.9 * left[i] + 0.3 * right[i] + 0.4 * ambience[i];
    s[1][i] = 0.8 * centre[i] + 0.3 * left[i] + 0.9 * right[i] - 0.4 * ambience[i];
  }
  for (auto& ch : s) {
    const double gain = std::pow(10.0, (-18.0 - RmsDb(ch)) / 20.0);
    for (double& v : ch) v *= gain;
  }
  return s;
}

// A logarithmic sweep from 20 Hz to 20 kHz peaking at -12 dBFS, R the negative
// of L: what the decoder steers fully to the surrounds.
Source AntiPhaseSweep(int frames, int rate) {
  Source s(2, std::vector<double>(frames));
  double phase = 0.0;
  for (int i = 0; i < frames; ++i) {
    phase += 2.0 * M_PI * 20.0 * std::pow(1000.0, static_cast<double>(i) / frames) / rate;
    s[0][i] = 32768.0 * std::pow(10.0, -12.0 / 20.0) * std::sin(phase);
    s[1][i] = -s[0][i];
  }
  return s;
}

struct HeadroomCase {
  const char* name;
  int rate;
  int set;  // HeadphonesMode: 0 Music, 1 Movie
  int kind;  // 0 six pink noises, 1 stereo mix, 2 anti-phase sweep
  double lowDb, highDb;  // ear level minus one channel's Bypass level (no check when equal)
  friend void PrintTo(const HeadroomCase& c, std::ostream* os) { *os << c.name; }
};

class Headroom : public test::HostFixture, public ::testing::WithParamInterface<HeadroomCase> {
 protected:
  // Plays `src` in `mode` through the module (every frame, the end included)
  // and returns the output channels 0 and 1 in codes.
  Source Play(int mode, const Source& src) {
    const HeadroomCase& c = GetParam();
    *slave_ = RecSlaveState{};
    InitModule();
    CfgSet(Sonavel.m_Config.Mode, int32_t{mode});
    CfgSet(Sonavel.m_Config.HeadphonesMode, int32_t{c.set});
    const int channels = static_cast<int>(src.size());
    const int frames = static_cast<int>(src[0].size());
    EXPECT_EQ(rec_->Open(c.rate, channels, 16, 2000, 500), 0);
    for (int at = 0; at < frames; at += 576) {
      const int n = std::min(576, frames - at);
      auto pcm = Pcm16(n, channels, [&](int f, int ch) {
        return static_cast<int>(std::lround(std::clamp(src[ch][at + f], -32768.0, 32767.0)));
      });
      EXPECT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
    }
    for (int i = 0; i < 100 && rec_->IsPlaying(); ++i) {
    }
    rec_->Close();
    Source out(2, std::vector<double>(OutFrames()));
    for (int f = 0; f < OutFrames(); ++f)
      for (int ch = 0; ch < 2; ++ch) out[ch][f] = OutSample(f, ch);
    rec_->Quit();
    return out;
  }
};

TEST_P(Headroom, EarsDoNotClipAndKeepTheirLevelToBypass) {
  const HeadroomCase& c = GetParam();
  const int frames = 3 * c.rate;
  const Source src = c.kind == 0 ? SixPinkNoises(frames) : c.kind == 1 ? StereoMix(frames) : AntiPhaseSweep(frames, c.rate);

  const Source ears = Play(kModeHeadphones, src);
  ASSERT_GE(static_cast<int>(ears[0].size()), frames);
  int clipped = 0;
  double peak = 0.0;
  for (const auto& ear : ears)
    for (double v : ear) {
      clipped += std::fabs(v) >= 32767.0;
      peak = std::max(peak, std::fabs(v));
    }
  EXPECT_EQ(clipped, 0) << "peak " << 20 * std::log10(peak / 32768.0) << " dBFS";

  if (c.lowDb == c.highDb) return;
  const Source bypass = Play(kModeBypass, src);
  // The ears over the input's frames (the tail after them is quieter).
  const double channelDb = RmsDb(bypass[0]);
  for (int ear = 0; ear < 2; ++ear) {
    const std::vector<double> part(ears[ear].begin(), ears[ear].begin() + frames);
    const double relative = RmsDb(part) - channelDb;
    EXPECT_GE(relative, c.lowDb) << "ear " << ear;
    EXPECT_LE(relative, c.highDb) << "ear " << ear;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Material, Headroom,
    ::testing::Values(HeadroomCase{"SixPinkNoisesMusic48k", 48000, 0, 0, 4.0, 7.5},
                      HeadroomCase{"SixPinkNoisesMovie48k", 48000, 1, 0, 4.0, 7.5},
                      HeadroomCase{"SixPinkNoisesMusic44k", 44100, 0, 0, 4.0, 7.5},
                      HeadroomCase{"SixPinkNoisesMovie44k", 44100, 1, 0, 4.0, 7.5},
                      HeadroomCase{"StereoMixMusic48k", 48000, 0, 1, -5.0, -1.0},
                      HeadroomCase{"StereoMixMovie48k", 48000, 1, 1, -5.0, -1.0},
                      HeadroomCase{"StereoMixMusic44k", 44100, 0, 1, -5.0, -1.0},
                      HeadroomCase{"StereoMixMovie44k", 44100, 1, 1, -5.0, -1.0},
                      HeadroomCase{"AntiPhaseSweepMusic", 48000, 0, 2, 0, 0},
                      HeadroomCase{"AntiPhaseSweepMovie", 44100, 1, 2, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sn
