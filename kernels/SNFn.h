// The kernel interface: one abstract class of 29 virtual operations in a fixed
// slot order, implemented by a plain floating-point back end (CSNFnx87, the
// reference) and an SSE2 back end (CSNFnSSE2).
//
// Frame layout: an SNCHUNK_INTCHUNK is eight floats, 32 bytes, 16-byte aligned.
// Lanes 0..5 are L, R, C, LFE, SL, SR; lanes 6 and 7 carry no channel, hold
// whatever the storage held, and no result may depend on them. Full scale of
// every input format enters the engine at +-0.707; the processing kernels
// (slots 1 to 12) never clip, only the output conversions limit the range.
//
// The kernel objects hold no data. Every filter state, buffer and constant they
// use lives in the process-wide DspState, so the engine may switch back ends
// between any two chunks. Kernel calls never overlap: the conversions run on the
// player's thread inside Write, everything else on the DSP thread while Write
// waits for it.
#pragma once

#include <cstdint>

#include "engine/SNBuffer.h"

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

class CSNFn {
 public:
  virtual ~CSNFn();                                                            // 0
  virtual void DecodeActive(SNChunk& chunk) = 0;                               // 1
  virtual void ComputeSteering(BiquadState& lrState, BiquadState& csState, const SNChunk& chunk,
                               SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) = 0;  // 2
  virtual void DecodePassive(SNChunk& chunk) = 0;                              // 3
  virtual void RenderHeadphones(int sourceChannels, SNChunk& chunk) = 0;       // 4
  virtual void EncodeMatrix(int sourceChannels, SNChunk& chunk) = 0;           // 5
  virtual void SurroundPhaseShift(BiquadState& state, SNChunk& chunk) = 0;     // 6
  virtual void FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) = 0;  // 7
  virtual void FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) = 0;  // 8
  virtual void SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk,
                          SNChunk& band, SNChunk& complement) = 0;            // 9
  virtual void RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) = 0;  // 10
  virtual void DelayChannels(SNChunk& chunk, int allChannels) = 0;            // 11
  virtual void ApplyGain(SNChunk& chunk, int withTrims) = 0;                  // 12
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

  // Recomputes the rate- and setting-dependent constants from ActiveConfig and
  // publishes them for the next chunk. Rate 0 changes nothing. Any thread.
  static void CalcStaticConstants(unsigned sampleRate);
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

// The shared delay stage: one routine for both back ends, bit-identical.
void DelayChannelsShared(SNChunk& chunk, int allChannels);

class CSNFnx87 final : public CSNFn {
 public:
  void DecodeActive(SNChunk& chunk) override;
  void ComputeSteering(BiquadState& lrState, BiquadState& csState, const SNChunk& chunk,
                       SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) override;
  void DecodePassive(SNChunk& chunk) override;
  void RenderHeadphones(int sourceChannels, SNChunk& chunk) override;
  void EncodeMatrix(int sourceChannels, SNChunk& chunk) override;
  void SurroundPhaseShift(BiquadState& state, SNChunk& chunk) override;
  void FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) override;
  void FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk, SNChunk& band,
                  SNChunk& complement) override;
  void RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void DelayChannels(SNChunk& chunk, int allChannels) override { DelayChannelsShared(chunk, allChannels); }
  void ApplyGain(SNChunk& chunk, int withTrims) override;
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
};

class CSNFnSSE2 final : public CSNFn {
 public:
  void DecodeActive(SNChunk& chunk) override;
  void ComputeSteering(BiquadState& lrState, BiquadState& csState, const SNChunk& chunk,
                       SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) override;
  void DecodePassive(SNChunk& chunk) override;
  void RenderHeadphones(int sourceChannels, SNChunk& chunk) override;
  void EncodeMatrix(int sourceChannels, SNChunk& chunk) override;
  void SurroundPhaseShift(BiquadState& state, SNChunk& chunk) override;
  void FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) override;
  void FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk, SNChunk& band,
                  SNChunk& complement) override;
  void RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) override;
  void DelayChannels(SNChunk& chunk, int allChannels) override { DelayChannelsShared(chunk, allChannels); }
  void ApplyGain(SNChunk& chunk, int withTrims) override;
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
};

}  // namespace sn
