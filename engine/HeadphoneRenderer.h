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

#include <cstdint>

#include "engine/BlockConvolver.h"

namespace sn {

// LFE added into the L and R feeds.
inline constexpr float kLfeFoldGain = 2.235f;
// The level of the binaural path: 0.35481 (-9 dB) times the sum over the
// feeds of feed * response. Each ear sums five loudspeakers, two of them also
// carrying the LFE, so it carries more than any one channel does; this fixed
// normalisation keeps a six-channel mix with every channel at -20 dBFS RMS
// (pink noise) about 4 dB below full scale in the ears, and a single channel
// about 7 dB below its Bypass level (README, "Headphone rendering"). One
// factor for everything after the responses, so feeds, ears and the LFE fold
// keep their levels relative to one another.
inline constexpr float kHeadphoneLevel = 0.35481f;
// Output scale: undoes the unnormalised inverse transform (1/16384) and sets
// the level. Exactly 0.35481f / 2^14.
inline constexpr float kHeadphoneGain = kHeadphoneLevel / 16384.0f;

// Reserves the feeds, ears, overlap and output (once per process) and
// prepares the CPU convolver with the binaural table of `sampleRate` (44100 or
// 48000; again only when the rate changes), and the GPU convolver where there
// is a GPU; true when ready. Allocates the first time; a change of rate reuses
// the memory.
bool PrepareHeadphones(uint32_t sampleRate);
// Frees what PrepareHeadphones made, the GPU side included.
void ReleaseHeadphones();

// The CPU convolver, prepared by PrepareHeadphones.
IBlockConvolver& CpuConvolver();

// Whether RenderHeadphones renders a chunk of a `sourceChannels` source now
// (a supported rate, prepared, a channel count it takes) rather than passing it.
bool HeadphonesRendering(int sourceChannels);
// Frames the renderer still owes the output beyond what it has emitted, when
// `delayed` more frames of input (what the surround delay lines hold) are still
// to come: the frames it holds, those, and the responses' tail. 0 when it holds
// nothing, nothing comes and its overlap is silent.
uint32_t HeadphoneFramesOwed(uint32_t delayed);

// Whether the blocks go to the GPU: the CUDA setting on and the GPU convolver
// prepared, which it only is while a GPU was found and has not failed
// (engine/GpuConvolver.h). Probes nothing and loads nothing: the audio path asks.
bool GpuPathInUse();

}  // namespace sn
