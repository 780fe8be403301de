// CSNLib: the engine. For every chunk it decides which kernels run and in
// which order: input conversion, at most one mode kernel, then outside headphone
// mode the room stages (bass redirection, gains and trims, delays).
//
// The engine owns no per-object data; all state is the process-wide DspState,
// so there is one engine per process. Threads: ConvertToInternal runs on the
// player's thread, ProcessChunk and ResetDSP on the DSP thread only (the hand-off
// serialises them); CalcStaticConstants and the IsXSupported queries on any.
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
  // Recomputes the constants for `sampleRate` (0: nothing) and publishes them.
  static void CalcStaticConstants(unsigned sampleRate);
  // Clears filter states, delay lines and the headphone overlap. DSP thread only.
  static void ResetDSP();

  static bool IsSSE2Supported() { return m_bSSE2Support != 0; }
  static bool IsCUDASupported() { return m_bCUDASupport != 0; }

  // The kernels of the next call: SSE2 when enabled and present.
  static CSNFn& ActiveKernels();

  static int32_t m_bSSE2Support;
  static int32_t m_bCUDASupport;
};

// Lengthens `chunk` by n frames, keeping its frames; the added frames are zero.
inline void Extend(SNChunk& chunk, uint32_t n) { chunk.Extend(n); }

}  // namespace sn
