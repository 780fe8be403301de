// The kernel interface: one abstract class of 30 virtual operations in a fixed
// slot order, implemented by a plain floating-point back end (CSNFnx87, the
// reference) and an SSE2 back end (CSNFnSSE2, built only where the compiler
// targets x86; SN_HAVE_SSE2_KERNELS says so).
//
// Frame layout: an SNCHUNK_INTCHUNK is eight floats, 32 bytes, 16-byte aligned.
// Lanes 0..5 are L, R, C, LFE, SL, SR; lanes 6 and 7 carry no channel, hold
// whatever the storage held, and no result may depend on them. Full scale of
// every input format enters the engine at +-0.707; the processing kernels
// (slots 1 to 12) never clip, only the output conversions limit the range.
//
// The kernels are leaves: each takes the state it changes and the parameters it
// needs as arguments and reads nothing else (no settings, no engine state). The
// kernel objects hold no data, so the engine may switch back ends between any
// two chunks and the filters continue. The engine owns every state and buffer
// and decides the order of the stages; a kernel call never overlaps another
// on the same state.
//
// Buffers: a kernel that fills an SNBuffer grows it by the growth rule only when
// its capacity is short, so with the capacities the engine reserves before a
// stream starts no kernel allocates.
#pragma once

#include <cstdint>

#include "kernels/SNBuffer.h"

namespace sn {

struct alignas(16) SNCHUNK_INTCHUNK {
  float lane[8];
};
static_assert(sizeof(SNCHUNK_INTCHUNK) == 32);

using SNChunk = SNBuffer<SNCHUNK_INTCHUNK>;

// Six-channel output frames, L R C LFE SL SR, little-endian.
struct OutFrame16 {
  uint8_t bytes[12];
};
struct OutFrame24 {
  uint8_t bytes[18];
};
static_assert(sizeof(OutFrame16) == 12 && sizeof(OutFrame24) == 18);

// A second-order Butterworth section: y[n] = b0 x[n] + b1 x[n-1] + b0 x[n-2]
// - a1 y[n-1] - a2 y[n-2]. `warp` is the pre-warped frequency term, read by no stage.
struct ButterworthCoeffs {
  float warp;
  float b0;
  float b1;
  float a1;
  float a2;
};

// The state of a second-order stage: rows x[n-1], x[n-2], y[n-1], y[n-2], one
// column per lane of a frame.
struct alignas(16) BiquadState {
  float x1[8];
  float x2[8];
  float y1[8];
  float y2[8];
};
static_assert(sizeof(BiquadState) == 128);

// How the steered centre is shared out (Music variant only): C is scaled by
// `weight` and `spill` x C is added to L and R.
struct CentreMix {
  int32_t music;  // non-zero: apply weight and spill; zero: leave C as steered
  float weight;
  float spill;
};

// Linear gains of the gain stage: the master gain and the trims of lanes 0..5
// (the LFE inversion already folded into trim[3]).
struct GainSet {
  float master;
  float trim[6];
};

// A channel delay line: count N is the delay in samples (0: none), position the
// slot of the oldest sample, capacity the longest delay it can hold.
using DelayLine = SNBuffer<float>;

class CSNFn {
 public:
  virtual ~CSNFn();                                                            // 0
  // The steered matrix over lanes 0 and 1, by the smoothed steering values of
  // each frame (n = chunk.count values each); writes L, R, C, SL and SR.
  virtual void ApplySteering(const float* steerLR, const float* steerCS, const CentreMix& centre,
                             SNChunk& chunk) = 0;                              // 1
  // The smoothed steering values of every frame into steerLR / steerCS.
  virtual void ComputeSteering(const ButterworthCoeffs& smoother, BiquadState& lrState, BiquadState& csState,
                               const SNChunk& chunk, SNBuffer<float>& steerLR,
                               SNBuffer<float>& steerCS) = 0;                  // 2
  virtual void DecodePassive(SNChunk& chunk) = 0;                              // 3
  // One convolved headphone block into output pairs: for j = 0..8191,
  //   out[j] = gain x (ear[j] + tail[j]) per ear (re left, im right),
  // then tail[j] = ear[8192 + j]. `earL` / `earR` hold 16384 values, 16-byte
  // aligned; `out` and `tail` 8192 pairs.
  virtual void MixHeadphoneBlock(const float* earL, const float* earR, float gain, SNComplex* tail,
                                 SNComplex* out) = 0;                          // 4
  // Folds C, LFE and the (already filtered) surrounds into L and R.
  virtual void FoldEncoder(SNChunk& chunk) = 0;                                // 5
  virtual void SurroundPhaseShift(BiquadState& state, SNChunk& chunk) = 0;     // 6
  virtual void FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) = 0;  // 7
  virtual void FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) = 0;  // 8
  virtual void SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk,
                          SNChunk& band, SNChunk& complement) = 0;            // 9
  virtual void RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) = 0;  // 10
  // Lanes 0..5 through their delay lines (see kernels/Delay.cpp).
  virtual void DelayChannels(DelayLine lines[6], SNChunk& chunk) = 0;          // 11
  // With trims: lanes 0..5 times master x trim; without (headphone output):
  // lanes 0 and 1 times master, lanes 2..5 zero.
  virtual void ApplyGain(const GainSet& gains, int withTrims, SNChunk& chunk) = 0;  // 12
  virtual void ConvertMono8(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;     // 13
  virtual void ConvertMono16(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;    // 14
  virtual void ConvertMono24(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;    // 15
  virtual void ConvertMono32(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;    // 16
  virtual void ConvertStereo8(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;   // 17
  virtual void ConvertStereo16(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;  // 18
  virtual void ConvertStereo24(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;  // 19
  virtual void ConvertStereo32(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;  // 20
  virtual void ConvertFive16(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;    // 21
  virtual void ConvertFive24(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;    // 22
  virtual void ConvertFive32(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;    // 23
  virtual void ConvertSix16(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;     // 24
  virtual void ConvertSix24(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;     // 25
  virtual void ConvertSix32(const uint8_t* src, uint32_t frames, SNChunk& out) = 0;     // 26
  virtual void ConvertSilence(uint32_t frames, SNChunk& out) = 0;                       // 27
  virtual void ConvertToOutput16(const SNChunk& chunk, SNBuffer<OutFrame16>& out) = 0;  // 28
  virtual void ConvertToOutput24(const SNChunk& chunk, SNBuffer<OutFrame24>& out) = 0;  // 29
  // Frame i of n gets lane 0 = pairs[i].re, lane 1 = pairs[i].im, lanes 2..5 = 0.
  virtual void WriteHeadphoneFrames(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) = 0;  // 30
};

// The input conversion slots by source format. Every other format has none and
// becomes silence (ConvertSilence).
using InputConversion = void (CSNFn::*)(const uint8_t*, uint32_t, SNChunk&);
struct InputFormat {
  const char* name;
  int channels;
  int bits;
  InputConversion convert;
};
inline constexpr InputFormat kInputFormats[] = {
    {"Mono8", 1, 8, &CSNFn::ConvertMono8},        {"Mono16", 1, 16, &CSNFn::ConvertMono16},
    {"Mono24", 1, 24, &CSNFn::ConvertMono24},     {"Mono32", 1, 32, &CSNFn::ConvertMono32},
    {"Stereo8", 2, 8, &CSNFn::ConvertStereo8},    {"Stereo16", 2, 16, &CSNFn::ConvertStereo16},
    {"Stereo24", 2, 24, &CSNFn::ConvertStereo24}, {"Stereo32", 2, 32, &CSNFn::ConvertStereo32},
    {"Five16", 5, 16, &CSNFn::ConvertFive16},     {"Five24", 5, 24, &CSNFn::ConvertFive24},
    {"Five32", 5, 32, &CSNFn::ConvertFive32},     {"Six16", 6, 16, &CSNFn::ConvertSix16},
    {"Six24", 6, 24, &CSNFn::ConvertSix24},       {"Six32", 6, 32, &CSNFn::ConvertSix32},
};
inline InputConversion FindInputConversion(int channels, int bits) {
  for (const InputFormat& f : kInputFormats)
    if (f.channels == channels && f.bits == bits) return f.convert;
  return nullptr;
}

// The delay stage: one routine for both back ends (it only moves samples).
void DelayChannelsShared(DelayLine lines[6], SNChunk& chunk);

// A standard fold to two channels for headphones where the binaural filters
// cannot serve: L + 0.7071 (C + SL), R + 0.7071 (C + SR), the LFE left out;
// lanes 2..5 keep what they held. Evaluated in double, rounded once. One
// routine for both back ends.
void FoldToEarsShared(SNChunk& chunk);

class CSNFnx87 final : public CSNFn {
 public:
  void ApplySteering(const float* steerLR, const float* steerCS, const CentreMix& centre, SNChunk& chunk) override;
  void ComputeSteering(const ButterworthCoeffs& smoother, BiquadState& lrState, BiquadState& csState,
                       const SNChunk& chunk, SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) override;
  void DecodePassive(SNChunk& chunk) override;
  void MixHeadphoneBlock(const float* earL, const float* earR, float gain, SNComplex* tail, SNComplex* out) override;
  void FoldEncoder(SNChunk& chunk) override;
  void SurroundPhaseShift(BiquadState& state, SNChunk& chunk) override;
  void FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) override;
  void FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk, SNChunk& band,
                  SNChunk& complement) override;
  void RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void DelayChannels(DelayLine lines[6], SNChunk& chunk) override { DelayChannelsShared(lines, chunk); }
  void ApplyGain(const GainSet& gains, int withTrims, SNChunk& chunk) override;
  void ConvertMono8(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertMono16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertMono24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertMono32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo8(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertFive16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertFive24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertFive32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSix16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSix24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSix32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSilence(uint32_t frames, SNChunk& out) override;
  void ConvertToOutput16(const SNChunk& chunk, SNBuffer<OutFrame16>& out) override;
  void ConvertToOutput24(const SNChunk& chunk, SNBuffer<OutFrame24>& out) override;
  void WriteHeadphoneFrames(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) override;
};

class CSNFnSSE2 final : public CSNFn {
 public:
  void ApplySteering(const float* steerLR, const float* steerCS, const CentreMix& centre, SNChunk& chunk) override;
  void ComputeSteering(const ButterworthCoeffs& smoother, BiquadState& lrState, BiquadState& csState,
                       const SNChunk& chunk, SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) override;
  void DecodePassive(SNChunk& chunk) override;
  void MixHeadphoneBlock(const float* earL, const float* earR, float gain, SNComplex* tail, SNComplex* out) override;
  void FoldEncoder(SNChunk& chunk) override;
  void SurroundPhaseShift(BiquadState& state, SNChunk& chunk) override;
  void FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) override;
  void FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk, SNChunk& band,
                  SNChunk& complement) override;
  void RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void DelayChannels(DelayLine lines[6], SNChunk& chunk) override { DelayChannelsShared(lines, chunk); }
  void ApplyGain(const GainSet& gains, int withTrims, SNChunk& chunk) override;
  void ConvertMono8(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertMono16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertMono24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertMono32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo8(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertStereo32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertFive16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertFive24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertFive32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSix16(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSix24(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSix32(const uint8_t* src, uint32_t frames, SNChunk& out) override;
  void ConvertSilence(uint32_t frames, SNChunk& out) override;
  void ConvertToOutput16(const SNChunk& chunk, SNBuffer<OutFrame16>& out) override;
  void ConvertToOutput24(const SNChunk& chunk, SNBuffer<OutFrame24>& out) override;
  void WriteHeadphoneFrames(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) override;
};

}  // namespace sn
