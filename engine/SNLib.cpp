#include "engine/SNLib.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/Constants.h"
#include "engine/HeadphoneRenderer.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define SN_HAVE_MXCSR 1
#endif

namespace sn {

namespace {

// The settings the engine reads before a host has pointed it at its own.
Config g_DefaultSettings = DefaultConfig();

// The longest delays the settings allow, in ms: a front channel alone, and a
// surround channel plus the surround variant's delay.
constexpr uint32_t kMaxFrontDelayMs = 100;
constexpr uint32_t kMaxSurroundDelayMs = 200;

// Sets a line's length without allocating: a new length restarts the line from
// silence; a length beyond what was reserved is held at the reserve.
void SetLineLength(DelayLine& line, uint32_t n) {
  if (n > line.capacity) n = line.capacity;
  if (line.count == n) return;
  line.count = n;
  line.position = 0;
  if (line.data) std::memset(line.data, 0, static_cast<size_t>(n) * sizeof(float));
}

void SnapFloats(float* v, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (std::fabs(v[i]) < 1e-15f) v[i] = 0.0f;
}

// The smoother's history: a double in the first eight bytes of each row.
void SnapSmoother(BiquadState& s) {
  float* rows[4] = {s.x1, s.x2, s.y1, s.y2};
  for (float* row : rows) {
    double d;
    std::memcpy(&d, row, sizeof d);
    if (std::fabs(d) < 1e-30) {
      d = 0.0;
      std::memcpy(row, &d, sizeof d);
    }
  }
}

void SnapBiquad(BiquadState& s) { SnapFloats(&s.x1[0], sizeof(BiquadState) / sizeof(float)); }

// Frames a delay line must still be fed for the last non-zero sample it holds
// to come out: its slot counted from the oldest, plus one (0: it holds silence).
uint32_t HeldFrames(const DelayLine& line) {
  const uint32_t n = line.count;
  if (n == 0 || !line.data) return 0;
  const uint32_t oldest = static_cast<uint32_t>(line.position) < n ? static_cast<uint32_t>(line.position) : 0;
  for (uint32_t age = n; age-- > 0;)
    if (line.data[(oldest + age) % n] != 0.0f) return age + 1;
  return 0;
}

}  // namespace

CSNLib::CSNLib() {
  Config* none = nullptr;
  Dsp.ActiveConfig.compare_exchange_strong(none, &g_DefaultSettings, std::memory_order_relaxed);
}

CSNLib::~CSNLib() { ReleaseEngine(); }

void CSNLib::CalcStaticConstants(unsigned sampleRate) {
  if (sampleRate == 0) return;
  const Config* cfg = Dsp.ActiveConfig.load(std::memory_order_relaxed);
  if (!cfg) return;
  Dsp.Constants.Publish([&](DspConstants& k) { ComputeConstants(*cfg, sampleRate, k); });
}

bool CSNLib::ConvertToInternal(int channels, int bits, const uint8_t* source, uint32_t frames, SNChunk& chunk) {
  CSNFn& k = ActiveKernels();
  const InputConversion conv = FindInputConversion(channels, bits);
  if (!conv || (!source && frames)) {
    k.ConvertSilence(frames, chunk);
    return false;
  }
  (k.*conv)(source, frames, chunk);
  return true;
}

void CSNLib::ProcessChunk(int channels, SNChunk& chunk) {
  Dsp.Constants.Latch();
  const Config& cfg = Dsp.Cfg();
  const int32_t mode = CfgGet(cfg.Mode);
  CSNFn& k = ActiveKernels();

  switch (mode) {
    case kModePassive:
      if (channels == 2) k.DecodePassive(chunk);
      break;
    case kModeActive:
      if (channels == 2) DecodeActive(k, chunk);
      break;
    case kModeHeadphones:
      if (channels == 1 || channels == 2 || channels == 5 || channels == 6) RenderHeadphones(k, channels, chunk);
      break;
    case kModeEncoder:
      if (channels == 5 || channels == 6) EncodeMatrix(k, chunk);
      break;
    default:
      break;
  }

  if (mode == kModeHeadphones) {
    ApplyGain(k, chunk, 0);
  } else {
    // Leaving headphone rendering with frames still held: the output keeps the
    // frame total of the input, the held frames come back as silence.
    const uint32_t held = Dsp.HeadphoneFill.load(std::memory_order_relaxed);
    if (held) {
      chunk.Extend(held);
      Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
    }
    if (CfgGet(cfg.LFERedir)) k.RedirectBass(Dsp.K().LfeCrossoverHp, Dsp.BassState, chunk);
    ApplyGain(k, chunk, 1);
    DelayChannels(k, chunk, true);
  }
  SnapFilterStates();
}

// The active decoder: the steering analysis of the chunk, the steered matrix,
// then in the Music variant the optional surround shelf. The fifth and fourth
// decoder states smooth the left/right and the centre/surround value, the first
// holds the shelf.
void CSNLib::DecodeActive(CSNFn& k, SNChunk& chunk) {
  const uint32_t n = chunk.count;
  if (n == 0) return;
  const DspConstants& kc = Dsp.K();
  const Config& cfg = Dsp.Cfg();
  DecoderBufferSet& buf = Dsp.DecoderBuffers;
  k.ComputeSteering(kc.SteerLp795, Dsp.DecoderState[4], Dsp.DecoderState[3], chunk, buf.SteerLR1, buf.SteerCS1);
  if (buf.SteerLR1.count != n || buf.SteerCS1.count != n) return;  // no storage: pass unchanged
  const CentreMix centre{CfgGet(cfg.SurroundMode) != 0 ? 1 : 0, kc.CentreWeightFactor, kc.CentreSpill};
  k.ApplySteering(buf.SteerLR1.data, buf.SteerCS1.data, centre, chunk);
  if (CfgGet(cfg.MusicSurroundShelf)) k.FilterSurround(kc.SurroundLp7000, Dsp.DecoderState[0], chunk);
}

// The matrix encoder: the surrounds band-limited (100 Hz high-pass, 7000 Hz
// low-pass) and phase-shifted, then folded into L and R. The encoder states
// hold the phase network's, the low-pass's and the high-pass's history.
void CSNLib::EncodeMatrix(CSNFn& k, SNChunk& chunk) {
  const DspConstants& kc = Dsp.K();
  k.FilterSurround(kc.SurroundHp100, Dsp.EncoderState[2], chunk);
  k.FilterSurround(kc.SurroundLp7000, Dsp.EncoderState[1], chunk);
  k.SurroundPhaseShift(Dsp.EncoderState[0], chunk);
  k.FoldEncoder(chunk);
}

// Line lengths. All channels: the Music table when SurroundMode is 1, else the
// Movie table. Headphone form: L, R, C and LFE undelayed, SL and SR by the
// surround delay of the headphone variant in use when its decode switch is on,
// else undelayed. A line whose length changes restarts from silence; a line
// that keeps its length keeps its history across chunks.
void CSNLib::DelayChannels(CSNFn& k, SNChunk& chunk, bool allChannels) {
  const DspConstants& kc = Dsp.K();
  const Config& cfg = Dsp.Cfg();
  DelayLine* lines = Dsp.DelayLines;
  if (allChannels) {
    const uint32_t* lengths = CfgGet(cfg.SurroundMode) == 1 ? kc.DelaySamplesMusic : kc.DelaySamplesMovie;
    for (int l = 0; l < 6; ++l) SetLineLength(lines[l], lengths[l]);
  } else {
    for (int l = 0; l < 4; ++l) SetLineLength(lines[l], 0);
    const bool movie = CfgGet(cfg.HeadphonesMode) != 0;
    const bool enabled = movie ? CfgGet(cfg.HeadphonesDecodeMovie) != 0 : CfgGet(cfg.HeadphonesDecodeMusic) != 0;
    const uint32_t surround = movie ? kc.SurroundDelaySamplesMovie : kc.SurroundDelaySamplesMusic;
    for (int l = 4; l < 6; ++l) SetLineLength(lines[l], enabled ? surround : 0);
  }
  k.DelayChannels(lines, chunk);
}

void CSNLib::ApplyGain(CSNFn& k, SNChunk& chunk, int withTrims) {
  const DspConstants& kc = Dsp.K();
  GainSet g;
  g.master = kc.MasterGainLinear;
  for (int l = 0; l < 6; ++l) g.trim[l] = kc.TrimGain[l];
  k.ApplyGain(g, withTrims, chunk);
}

// The end of a stream. What the stages still hold comes out by feeding them
// silence: the delay lines until the last non-zero sample they hold has left
// them; in headphone mode also the renderer's held frames, padded with silence
// to a whole block, and the responses' tail after them. Loudspeaker modes feed
// the silence through the whole chain of the mode, so the room stages act on
// it as on any chunk; the filters' own ringing beyond that is not waited for.
void CSNLib::BeginDrain(int sourceChannels) {
  Dsp.Constants.Latch();
  const Config& cfg = Dsp.Cfg();
  const DelayLine* lines = Dsp.DelayLines;
  uint32_t owed = 0;
  if (CfgGet(cfg.Mode) == kModeHeadphones && HeadphonesRendering(sourceChannels)) {
    const bool movie = CfgGet(cfg.HeadphonesMode) != 0;
    const bool decode = sourceChannels == 2 && (movie ? CfgGet(cfg.HeadphonesDecodeMovie) != 0
                                                      : CfgGet(cfg.HeadphonesDecodeMusic) != 0);
    const uint32_t delayed = decode ? std::max(HeldFrames(lines[4]), HeldFrames(lines[5])) : 0;
    owed = HeadphoneFramesOwed(delayed);
  } else {
    for (int l = 0; l < 6; ++l) owed = std::max(owed, HeldFrames(lines[l]));
  }
  Dsp.DrainLeft = owed;
}

bool CSNLib::DrainChunk(int sourceChannels, SNChunk& chunk) {
  const uint32_t left = Dsp.DrainLeft;
  chunk.count = 0;
  chunk.position = 0;
  if (left == 0) return false;
  CSNFn& k = ActiveKernels();
  // In headphone mode just enough silence for one more block to come out.
  uint32_t n = left < kMaxChunkFrames ? left : kMaxChunkFrames;
  if (CfgGet(Dsp.Cfg().Mode) == kModeHeadphones && HeadphonesRendering(sourceChannels))
    n = kHeadphoneBlock - Dsp.HeadphoneFill.load(std::memory_order_relaxed) % kHeadphoneBlock;
  k.ConvertSilence(n, chunk);
  ProcessChunk(sourceChannels, chunk);
  const uint32_t out = chunk.count < left ? chunk.count : left;
  chunk.count = out;
  // Nothing came out (the mode changed under the drain): the end is given up.
  Dsp.DrainLeft = out ? left - out : 0;
  // Played out: the next stream, or more of this one, starts from silence.
  if (Dsp.DrainLeft == 0) ResetDSP();
  return out != 0;
}

void CSNLib::PrepareStream(unsigned sampleRate) {
  if (sampleRate != 0) {
    DecoderBufferSet& b = Dsp.DecoderBuffers;
    b.SteerLR1.Reserve(kMaxChunkOut);
    b.SteerCS1.Reserve(kMaxChunkOut);
    for (int l = 0; l < 6; ++l)
      Dsp.DelayLines[l].Reserve(DelaySamples(sampleRate, l < 4 ? kMaxFrontDelayMs : kMaxSurroundDelayMs));
    if (sampleRate == 44100 || sampleRate == 48000) PrepareHeadphones(sampleRate);
    Dsp.PreparedRate = sampleRate;
  }
  ResetDSP();
}

void CSNLib::ResetDSP() {
  std::memset(Dsp.DecoderState, 0, sizeof(Dsp.DecoderState));
  std::memset(Dsp.EncoderState, 0, sizeof(Dsp.EncoderState));
  std::memset(&Dsp.BassState, 0, sizeof(Dsp.BassState));
  for (DelayLine& line : Dsp.DelayLines) {
    if (line.data) std::memset(line.data, 0, static_cast<size_t>(line.capacity) * sizeof(float));
    line.position = 0;
  }
  if (Dsp.HeadphoneTail.data)
    std::memset(static_cast<void*>(Dsp.HeadphoneTail.data), 0, Dsp.HeadphoneTail.count * sizeof(SNComplex));
  Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
  Dsp.DrainLeft = 0;
  // The delay lengths are constants of the published set and survive the reset,
  // so a seek keeps the user's delays.
}

void CSNLib::ReleaseEngine() {
  DecoderBufferSet& b = Dsp.DecoderBuffers;
  b.HighBand.Release();
  b.Complement.Release();
  b.SteerLR1.Release();
  b.SteerCS1.Release();
  b.SteerLR2.Release();
  b.SteerCS2.Release();
  for (DelayLine& line : Dsp.DelayLines) line.Release();
  ReleaseHeadphones();
  Dsp.PreparedRate = 0;
}

void CSNLib::SetDenormalMode() {
#if defined(SN_HAVE_MXCSR)
  // Through the instructions themselves, so that a 32-bit build whose engine is
  // compiled for the x87 unit still sets the mode for its SSE2 kernels.
  // Flush-to-zero (bit 15) exists wherever SSE does; denormals-are-zero (bit 6)
  // only where the MXCSR mask that FXSAVE reports says so (some early SSE2
  // processors lack it, and setting it there faults).
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(d & (1u << 25))) return;
  uint32_t bits = 0x8000;
  if (d & (1u << 24)) {
    alignas(16) unsigned char area[512] = {};
    __asm__ volatile("fxsave %0" : "=m"(area));
    uint32_t mxcsrMask;
    std::memcpy(&mxcsrMask, area + 28, sizeof mxcsrMask);
    if (mxcsrMask == 0) mxcsrMask = 0xFFBF;
    if (mxcsrMask & 0x40) bits |= 0x40;
  }
  uint32_t csr = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(csr));
  csr |= bits;
  __asm__ volatile("ldmxcsr %0" : : "m"(csr));
#endif
}

void CSNLib::SnapFilterStates() {
  SnapBiquad(Dsp.BassState);
  for (BiquadState& s : Dsp.EncoderState) SnapBiquad(s);
  for (int i = 0; i < 6; ++i) {
    if (i == 3 || i == 4)
      SnapSmoother(Dsp.DecoderState[i]);
    else
      SnapBiquad(Dsp.DecoderState[i]);
  }
}

}  // namespace sn
