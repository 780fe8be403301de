#include "support/KernelTable.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/Constants.h"

namespace sn::test {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

int32_t Code(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int b = 0; b < bytes; ++b) v |= static_cast<uint32_t>(p[b]) << (8 * b);
  const int shift = 32 - 8 * bytes;
  return static_cast<int32_t>(v << shift) >> shift;
}

void Frames(std::vector<double>& out, const SNBuffer<SNCHUNK_INTCHUNK>& b) {
  for (uint32_t i = 0; i < b.count; ++i)
    for (int l = 0; l < 6; ++l) out.push_back(b.data[i].lane[l]);
}

// Runners: one per kernel slot (arguments fixed by `arg` where a slot has forms).
void Passive(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs&, int) { k.DecodePassive(io.frames.buf); }
void Steering(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs& c, int) {
  k.ComputeSteering(c.lp795, s.filter[0], s.filter[1], io.frames.buf, io.vecA.buf, io.vecB.buf);
}
void Steered(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs& c, int music) {
  CentreMix mix = c.centre;
  mix.music = music;
  k.ApplySteering(io.vecA.data(), io.vecB.data(), mix, io.frames.buf);
}
void Fold(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs&, int) { k.FoldEncoder(io.frames.buf); }
void Phase(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs&, int) {
  k.SurroundPhaseShift(s.filter[0], io.frames.buf);
}
void Mono(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs& c, int) {
  k.FilterMono(c.hp1200, s.filter[0], io.vecA.buf);
}
void Surround(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs& c, int lowPass) {
  k.FilterSurround(lowPass ? c.lp7000 : c.hp100, s.filter[0], io.frames.buf);
}
void Split(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs& c, int) {
  k.SplitFront(c.hp1200, s.filter[0], io.frames.buf, io.band.buf, io.rest.buf);
}
void Bass(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs& c, int) {
  k.RedirectBass(c.lfe, s.filter[0], io.frames.buf);
}
void Gain(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs& c, int withTrims) {
  k.ApplyGain(c.gains, withTrims, io.frames.buf);
}
void Mix(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs&, int) {
  k.MixHeadphoneBlock(io.earL.data(), io.earR.data(), 0.89125f / 16384.0f, s.tail.data(), io.pairs.data());
}
void WriteEars(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs&, int) {
  k.WriteHeadphoneFrames(io.pairs.data(), io.frames.buf.count, io.frames.data());
}
void Input(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs&, int format) {
  const InputConversion convert = kInputFormats[static_cast<size_t>(format)].convert;
  (k.*convert)(io.pcm.data(), io.frames.buf.count, io.frames.buf);
}
void Silence(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs&, int) {
  k.ConvertSilence(io.frames.buf.count, io.frames.buf);
}
void Output(CSNFn& k, KernelState&, KernelIo& io, const KernelCoeffs&, int bits) {
  if (bits == 16)
    k.ConvertToOutput16(io.frames.buf, io.out16.buf);
  else
    k.ConvertToOutput24(io.frames.buf, io.out24.buf);
}

std::vector<KernelEntry> Build() {
  // Tolerances: a few float roundings per value (the SSE2 back end rounds each
  // operation, the scalar one each output) on signals within +-0.707, grown by
  // a recursion's noise gain: about 10 for the 1200 Hz and 7000 Hz sections,
  // about 400 (rms) for the 100 and 120 Hz high-passes, whose poles sit close
  // to z = 1. Steering: VecLog is within 2^-11 of ln; the matrix: the VecExp
  // error moves a gain by at most 7e-4 and an output by at most 2e-3. Output
  // codes may round one code apart; 32-bit input one float step apart. A wrong
  // coefficient, tap, matrix entry or lane moves values by 1e-2 and more.
  // FilterMono runs on the steering-sized vector (values up to 2.3, three
  // times the frames' 0.707), which scales its tolerance alike.
  std::vector<KernelEntry> t = {
      {"DecodePassive", Passive, 0, 0.0, 0, false},
      {"ComputeSteering", Steering, 0, 5e-4, 0, true},
      {"ApplySteeringMovie", Steered, 0, 2e-3, 0, true},
      {"ApplySteeringMusic", Steered, 1, 2e-3, 0, true},
      {"MixHeadphoneBlock", Mix, 0, 2e-7, kHeadphoneBlock, false},
      {"FoldEncoder", Fold, 0, 2e-6, 0, false},
      {"SurroundPhaseShift", Phase, 0, 5e-6, 0, false},
      {"FilterMono", Mono, 0, 8e-6, 0, false},
      {"FilterSurroundHp100", Surround, 0, 3e-4, 0, false},
      {"FilterSurroundLp7000", Surround, 1, 2e-6, 0, false},
      {"SplitFront", Split, 0, 2e-6, 0, false},
      {"RedirectBass", Bass, 0, 3e-4, 0, false},
      {"ApplyGainTrims", Gain, 1, 1e-6, 0, false},
      {"ApplyGainEars", Gain, 0, 0.0, 0, false},
      {"WriteHeadphoneFrames", WriteEars, 0, 0.0, 0, false},
      {"ConvertSilence", Silence, 0, 0.0, 0, false},
      {"ConvertToOutput16", Output, 16, 1.0 / 32768, 0, false},
      {"ConvertToOutput24", Output, 24, 1.0 / 8388608, 0, false},
  };
  for (size_t f = 0; f < std::size(kInputFormats); ++f)
    t.push_back({std::string("Convert") + kInputFormats[f].name, Input, static_cast<int>(f),
                 kInputFormats[f].bits == 32 ? 1.2e-7 : 0.0, 0, false});
  return t;
}

}  // namespace

void KernelIo::Fill(std::mt19937& rng, uint32_t n, bool steered, uint32_t pattern) {
  frames_n = n;
  std::uniform_real_distribution<float> sample(-0.707f, 0.707f);
  std::uniform_real_distribution<float> steer(-2.3f, 2.3f);
  frames.Make(n);
  for (uint32_t i = 0; i < n; ++i) {
    float* f = frames.data()[i].lane;
    for (int l = 0; l < 6; ++l) f[l] = sample(rng);
    f[6] = f[7] = kNaN;
    if (steered) {
      // Patterns that sweep the steering through both signs of both values.
      static constexpr float kPan[] = {1.0f, 0.1f, -1.0f, 0.0f, 3.0f, -0.2f, 2.0f};
      const float pan = kPan[pattern % std::size(kPan)];
      if (pan > 1.0f)
        f[0] = f[1] / pan;
      else if (pan != 0.0f)
        f[1] = pan * f[0];
    }
  }
  band.Make(n);
  rest.Make(n);
  std::memset(static_cast<void*>(band.data()), 0, n * sizeof(SNCHUNK_INTCHUNK));
  std::memset(static_cast<void*>(rest.data()), 0, n * sizeof(SNCHUNK_INTCHUNK));
  vecA.Make(n);
  vecB.Make(n);
  for (uint32_t i = 0; i < n; ++i) vecA.data()[i] = steer(rng), vecB.data()[i] = steer(rng);
  out16.Make(n);
  out24.Make(n);
  std::memset(out16.data(), 0, n * sizeof(OutFrame16));
  std::memset(out24.data(), 0, n * sizeof(OutFrame24));
  pcm.Make(n * 24);
  for (uint32_t i = 0; i < n * 24; ++i) pcm.data()[i] = static_cast<uint8_t>(rng());
  pairs.Make(std::max(n, kHeadphoneBlock));
  for (uint32_t i = 0; i < std::max(n, kHeadphoneBlock); ++i) pairs.data()[i] = {sample(rng), sample(rng)};
  earL.Make(kHeadphoneFft);
  earR.Make(kHeadphoneFft);
  std::uniform_real_distribution<float> ear(-8192.0f, 8192.0f);
  for (uint32_t i = 0; i < kHeadphoneFft; ++i) earL.data()[i] = ear(rng), earR.data()[i] = ear(rng);
}

bool KernelIo::GuardsIntact() const {
  return frames.Intact() && band.Intact() && rest.Intact() && vecA.Intact() && vecB.Intact() && out16.Intact() &&
         out24.Intact() && pcm.Intact() && pairs.Intact() && earL.Intact() && earR.Intact();
}

std::vector<double> Outputs(const KernelIo& io) {
  std::vector<double> out;
  Frames(out, io.frames.buf);
  Frames(out, io.band.buf);
  Frames(out, io.rest.buf);
  for (uint32_t i = 0; i < io.vecA.buf.count; ++i) out.push_back(io.vecA.buf.data[i]);
  for (uint32_t i = 0; i < io.vecB.buf.count; ++i) out.push_back(io.vecB.buf.data[i]);
  for (uint32_t i = 0; i < io.out16.buf.count; ++i)
    for (int c = 0; c < 6; ++c) out.push_back(Code(io.out16.buf.data[i].bytes + 2 * c, 2) / 32768.0);
  for (uint32_t i = 0; i < io.out24.buf.count; ++i)
    for (int c = 0; c < 6; ++c) out.push_back(Code(io.out24.buf.data[i].bytes + 3 * c, 3) / 8388608.0);
  for (uint32_t i = 0; i < io.pairs.buf.count; ++i) {
    out.push_back(io.pairs.buf.data[i].re);
    out.push_back(io.pairs.buf.data[i].im);
  }
  return out;
}

KernelCoeffs MakeCoeffs() {
  constexpr uint32_t fs = 48000;
  KernelCoeffs c{};
  c.hp100 = DesignButterworth(100.0f, true, fs);
  c.lp7000 = DesignButterworth(7000.0f, false, fs);
  c.hp1200 = DesignButterworth(1200.0f, true, fs);
  c.lp795 = DesignButterworth(7.95f, false, fs);
  c.lfe = DesignButterworth(120.0f, true, fs);
  c.gains.master = DbToGain(-3);
  const int32_t trims[6] = {0, 2, -5, 12, -12, 7};
  for (int l = 0; l < 6; ++l) c.gains.trim[l] = DbToGain(trims[l]);
  c.gains.trim[3] = -c.gains.trim[3];
  c.centre = {1, 0.7403627f, 0.1298186f};
  return c;
}

const std::vector<KernelEntry>& AllKernels() {
  static const std::vector<KernelEntry> table = Build();
  return table;
}

}  // namespace sn::test
