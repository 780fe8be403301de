// The headphone renderer's framing and its block convolvers.
//
// Five loudspeaker feeds (L + 2.235 LFE, R + 2.235 LFE, C, SL, SR) are gathered
// into blocks of 8192 frames; every complete block goes through a block
// convolver (engine/BlockConvolver.h) and the back end's mix overlap-adds it
// into the two ear signals. A chunk returns only completed blocks, so its frame
// count changes and up to 8191 frames wait in the feeds; over a stream the
// returned frames are the convolution of the input frames with no shift. At a
// rate the filters do not serve, the source is folded to the two ears instead.
// CSNLib::RenderHeadphones runs it; DSP thread only.
#pragma once

#include "engine/BlockConvolver.h"

namespace sn {

// LFE added into the L and R feeds.
inline constexpr float kLfeFoldGain = 2.235f;
// Output scale: undoes the unnormalised inverse transform (1/16384) and lowers
// the level by about 1 dB (0.89125). Exactly 0.89125f / 2^14.
inline constexpr float kHeadphoneGain = 0.89125f / 16384.0f;

// Reserves the feeds, ears, overlap and output and prepares the CPU convolver
// with the binaural table, once per process; true when ready. Allocates.
bool PrepareHeadphones();
// Frees what PrepareHeadphones made.
void ReleaseHeadphones();

// The CPU convolver (KISS FFT), prepared by PrepareHeadphones.
IBlockConvolver& CpuConvolver();

// Whether the blocks go to the GPU: the CUDA setting on and a usable GPU found at
// load. No GPU back end is built into this library (CSNLib::m_bCUDASupport is
// 0), so this is false and every block runs on the CPU.
bool GpuPathInUse();

}  // namespace sn
