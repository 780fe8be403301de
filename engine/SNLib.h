// CSNLib: the engine. For every chunk it decides which kernels run and in
// which order: input conversion, at most one mode kernel, then outside headphone
// mode the room stages (bass redirection, gains and trims, delays). Each mode's
// sequence of stages is written here once, for every back end.
//
// The engine owns no per-object data; all state is the process-wide DspState,
// so there is one engine per process. Threads: ConvertToInternal runs on the
// player's thread; PrepareStream, ProcessChunk and ResetDSP on the DSP thread
// (or on a thread that holds the engine while no chunk is processed; the
// hand-off serialises them); CalcStaticConstants and the IsXSupported queries on
// any.
//
// Memory: PrepareStream reserves everything a stream at its rate can need, so
// that chunks of at most kMaxChunkFrames frames in buffers of kMaxChunkOut
// frames never allocate, in any mode, across resets, back-end switches and
// setting changes.
#pragma once

#include <cstdint>

#include "engine/DspState.h"

namespace sn {

class CSNLib {
 public:
  CSNLib();
  ~CSNLib();

  // Fills `chunk` with `frames` frames of the interleaved little-endian source.
  // Returns false when the format is unsupported and silence was produced.
  bool ConvertToInternal(int sourceChannels, int bitsPerSample, const uint8_t* source, uint32_t frames,
                         SNChunk& chunk);
  // Runs the mode kernel and the room stages over `chunk` in place. The frame
  // count changes in headphone mode. DSP thread only.
  void ProcessChunk(int sourceChannels, SNChunk& chunk);
  // The end of a stream, on the DSP thread. BeginDrain counts the frames the
  // stages still owe the output (what the delay lines hold, and in headphone
  // mode the renderer's held frames and the responses' tail); each DrainChunk
  // then renders the next piece of them into `chunk` (at most kMaxChunkOut
  // frames, within its reserve) and returns true, or false with `chunk` empty
  // when nothing is left. The pieces continue the stream seamlessly; after the
  // last one the state is reset. A few calls at most; never allocates.
  static void BeginDrain(int sourceChannels);
  bool DrainChunk(int sourceChannels, SNChunk& chunk);
  // Recomputes the constants for `sampleRate` (0: nothing) and publishes them.
  static void CalcStaticConstants(unsigned sampleRate);
  // Reserves the delay lines at their longest for `sampleRate`, the decoder's
  // work buffers and, at 44100 and 48000 Hz, the headphone renderer; then
  // clears all state as ResetDSP does. Allocates only what is not there yet.
  static void PrepareStream(unsigned sampleRate);
  // Clears filter states, delay lines and the headphone overlap in place. DSP
  // thread only; never allocates or frees.
  static void ResetDSP();
  // Frees everything PrepareStream reserved (the process is done with audio).
  static void ReleaseEngine();

  // The stages, on the given back end and the engine's state.
  static void DecodeActive(CSNFn& k, SNChunk& chunk);
  static void EncodeMatrix(CSNFn& k, SNChunk& chunk);
  static void RenderHeadphones(CSNFn& k, int sourceChannels, SNChunk& chunk);
  // All channels by the delay table of the surround variant, or the headphone
  // form (only SL and SR, by the headphone variant's surround delay).
  static void DelayChannels(CSNFn& k, SNChunk& chunk, bool allChannels);
  static void ApplyGain(CSNFn& k, SNChunk& chunk, int withTrims);

  // Sets flush-to-zero and denormals-are-zero for the calling thread (the DSP
  // thread, once as it starts). The x87 unit has no such mode; the engine
  // snaps decaying filter states to zero after every chunk instead (see
  // SnapFilterStates), which serves both.
  static void SetDenormalMode();
  // Replaces every filter state word of magnitude below 1e-15 (about -300 dB)
  // by exactly zero, so no state decays into subnormal numbers.
  static void SnapFilterStates();

  static bool IsSSE2Supported() { return m_bSSE2Support != 0; }
  // A GPU was found and has not failed in this process. The first call probes
  // (loads the GPU helper module, engine/GpuConvolver.h); any thread.
  static bool IsCUDASupported();

  // The kernels of the next call: SSE2 when enabled and present.
  static CSNFn& ActiveKernels();

  static int32_t m_bSSE2Support;
  static int32_t m_bCUDASupport;
};

}  // namespace sn
