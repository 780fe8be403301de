#include "engine/Constants.h"

#include <bit>
#include <cmath>


namespace sn {

static_assert(std::bit_cast<uint32_t>(FDIV8) == 0x3BB4FDF4u);
static_assert(std::bit_cast<uint32_t>(FDIV16) == 0x37B4FDF4u);
static_assert(std::bit_cast<uint32_t>(FDIV32) == 0x2FB4FDF4u);
static_assert(std::bit_cast<uint32_t>(kInputDiv) == 0x3FB50BF3u);

ButterworthCoeffs DesignButterworth(float frequency, bool highPass, uint32_t sampleRate) {
  constexpr double pi = 3.1415927f;
  constexpr double sqrt2 = 1.4142135f;
  ButterworthCoeffs c{};
  if (sampleRate == 0) return c;
  // A corner at or above the Nyquist frequency has no bilinear design (its
  // pre-warped term turns negative and the section unstable); such a corner,
  // the encoder's 7 kHz low-pass at 8 kHz for one, is held at 0.45 of the rate,
  // where the section is still a sound, stable one.
  const float limit = 0.45f * static_cast<float>(sampleRate);
  if (frequency > limit) frequency = limit;
  const float a = static_cast<float>(static_cast<double>(frequency) * pi / static_cast<double>(sampleRate));
  const float t = static_cast<float>(std::tan(static_cast<double>(a)));
  if (highPass) {
    const double k = t;
    const float n = static_cast<float>(1.0 / (k * k + sqrt2 * k + 1.0));
    c.warp = t;
    c.b0 = n;
    c.b1 = static_cast<float>(-2.0 * n);
    c.a1 = static_cast<float>(2.0 * (k * k - 1.0) * n);
    c.a2 = static_cast<float>((k * k + 1.0 - sqrt2 * k) * n);
  } else {
    const float cw = static_cast<float>(1.0 / static_cast<double>(t));
    const double k = cw;
    const float n = static_cast<float>(1.0 / (k * k + sqrt2 * k + 1.0));
    c.warp = cw;
    c.b0 = n;
    c.b1 = static_cast<float>(2.0 * n);
    c.a1 = static_cast<float>(2.0 * (1.0 - k * k) * n);
    c.a2 = static_cast<float>((k * k + 1.0 - sqrt2 * k) * n);
  }
  return c;
}

uint32_t DelaySamples(uint32_t sampleRate, uint32_t ms) {
  const double perMs = static_cast<double>(sampleRate) / 1000.0;
  const double samples = perMs * static_cast<double>(ms);
  return samples >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(samples);
}

float DbToGain(int32_t dB) {
  const float x = static_cast<float>(static_cast<double>(dB) / 20.0);
  return static_cast<float>(std::pow(10.0, static_cast<double>(x)));
}

void ComputeConstants(const Config& cfg, uint32_t fs, DspConstants& k) {
  k.SampleRate = fs;
  k.SteerHp1200 = DesignButterworth(1200.0f, true, fs);
  k.SteerLp795 = DesignButterworth(7.95f, false, fs);
  k.LfeCrossoverHp = DesignButterworth(static_cast<float>(static_cast<uint32_t>(CfgGet(cfg.LFECutoff))), true, fs);
  k.SurroundHp100 = DesignButterworth(100.0f, true, fs);
  k.SurroundLp7000 = DesignButterworth(7000.0f, false, fs);

  auto ms = [](int32_t v) { return static_cast<uint32_t>(v); };
  const uint32_t front[4] = {ms(CfgGet(cfg.DelayL)), ms(CfgGet(cfg.DelayR)), ms(CfgGet(cfg.DelayC)),
                             ms(CfgGet(cfg.DelaySub))};
  for (int i = 0; i < 4; ++i) {
    k.DelaySamplesMovie[i] = DelaySamples(fs, front[i]);
    k.DelaySamplesMusic[i] = DelaySamples(fs, front[i]);
  }
  const uint32_t music = ms(CfgGet(cfg.SurroundDelayMusic));
  const uint32_t movie = ms(CfgGet(cfg.SurroundDelayMovie));
  const uint32_t sl = ms(CfgGet(cfg.DelaySL));
  const uint32_t sr = ms(CfgGet(cfg.DelaySR));
  k.DelaySamplesMusic[4] = DelaySamples(fs, music + sl);
  k.DelaySamplesMusic[5] = DelaySamples(fs, music + sr);
  k.DelaySamplesMovie[4] = DelaySamples(fs, sl + movie);
  k.DelaySamplesMovie[5] = DelaySamples(fs, sr + movie);
  k.SurroundDelaySamplesMusic = DelaySamples(fs, music);
  k.SurroundDelaySamplesMovie = DelaySamples(fs, movie);

  const int32_t trims[6] = {CfgGet(cfg.TrimL),   CfgGet(cfg.TrimR),  CfgGet(cfg.TrimC),
                            CfgGet(cfg.TrimSub), CfgGet(cfg.TrimSL), CfgGet(cfg.TrimSR)};
  for (int i = 0; i < 6; ++i) k.TrimGain[i] = DbToGain(trims[i]);
  if (CfgGet(cfg.LFEInvert)) k.TrimGain[3] = -k.TrimGain[3];
  k.MasterGainLinear = DbToGain(CfgGet(cfg.MasterGain));

  // Centre weight: a logarithmic taper from 0 (no centre) to 1 (full centre).
  const uint32_t cw = static_cast<uint32_t>(CfgGet(cfg.CentreWeight));
  const float v = static_cast<float>(static_cast<double>(cw) / 100.0 * static_cast<double>(0.9f) +
                                     static_cast<double>(0.1f));
  const float lg = static_cast<float>(std::log10(static_cast<double>(v)));
  const float w = static_cast<float>(static_cast<double>(lg) + 1.0);
  k.CentreWeightFactor = w;
  k.CentreSpill = static_cast<float>((1.0 - static_cast<double>(w)) * 0.5);
}

}  // namespace sn
