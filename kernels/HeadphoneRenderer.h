// The headphone renderer's framing, shared by both back ends (kernel slot 4).
//
// Five loudspeaker feeds (L + 2.235 LFE, R + 2.235 LFE, C, SL, SR) are gathered
// into blocks of 8192 frames; every complete block is convolved with the
// selected binaural filter set (engine/HeadphoneData.h) and overlap-added into
// the two ear signals. A call returns only completed blocks, so the chunk's
// frame count changes and up to 8191 frames wait in the feeds; over a stream the
// returned frames are the convolution of the input frames with no shift.
//
// The back ends differ only in the per-block mix and in how the output frames
// are written; the feeds are the same scalar code for both. DSP thread only.
#pragma once

#include <cstdint>

#include "engine/DspState.h"
#include "kernels/SNFn.h"

namespace sn {

// LFE added into the L and R feeds.
inline constexpr float kLfeFoldGain = 2.235f;
// Output scale: undoes the unnormalised inverse transform (1/16384) and lowers
// the level by about 1 dB (0.89125). Exactly 0.89125f / 2^14.
inline constexpr float kHeadphoneGain = 0.89125f / 16384.0f;

// A back end's part of the renderer.
struct HeadphoneBackEnd {
  // Mixes the block in ConvOutL / ConvOutR: for j = 0..8191,
  //   out[j].re += kHeadphoneGain x (ConvOutL[0][j] + tail[j].re + ConvOutL[1][j] + ... + ConvOutL[4][j])
  // and .im likewise from ConvOutR and tail[j].im; then tail[j] := the unscaled
  // sums over the feeds of values 8192 + j. `out` (8192 pairs) may be null: then
  // only the tail moves on.
  void (*MixBlock)(SNComplex* out, SNComplex* tail);
  // Frame i of n gets lane 0 = pairs[i].re, lane 1 = pairs[i].im, lanes 2..5 = 0.
  void (*WriteFrames)(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames);
};

// The whole renderer for one chunk: rate check, data set-up, decoding of a
// stereo source when the selected variant asks for it (through `kernels`), the
// blocks, and the chunk's new frames. At rates other than 44100 and 48000 Hz the
// chunk passes unchanged.
void RenderHeadphonesWith(CSNFn& kernels, const HeadphoneBackEnd& backEnd, int sourceChannels, SNChunk& chunk);

// Whether the blocks go to the GPU: the CUDA setting on and a usable GPU found at
// load. No GPU back end is built into this library (CSNLib::m_bCUDASupport is
// 0), so this is false and every block runs on the CPU.
bool GpuPathInUse();

}  // namespace sn
