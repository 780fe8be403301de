// The headphone renderer's block-convolver seam.
//
// A block convolver owns everything one block's convolutions need: the filter
// spectra of both sets, its work buffers and its transform set-ups (on the CPU,
// or device memory and plans on a GPU). The renderer hands it one block at a
// time: five loudspeaker feeds of kHeadphoneBlock (8192) frames in, two ears
// out. Each ear is the linear convolution of every feed with that feed's
// response for the ear, summed over the five feeds: 16384 values, of which
// 0..8191 belong to the block's own frames and 8192..16383 overlap the next
// block. The results are scaled by 16384 (the unnormalised inverse transform)
// and the renderer scales them back.
//
// Threads: Prepare, Release and ConvolveBlock run on the DSP thread only, or on
// a thread that holds the engine while no stream plays (Open's preparation).
// Prepare may allocate; ConvolveBlock never does. Alignment: feeds and ears are
// 16-byte aligned. Ownership: the engine owns the convolvers; the buffers passed
// in belong to the caller and are only used during the call.
#pragma once

#include <cstdint>

namespace sn {

inline constexpr int kConvolverFeeds = 5;
inline constexpr uint32_t kConvolverBlock = 8192;
inline constexpr uint32_t kConvolverOut = 16384;

// The impulse responses the convolver is prepared with: response
// index = set x 10 + feed x 2 + ear (set 0 Music, 1 Movie; feed 0..4 = L, R, C,
// SL, SR; ear 0 left, 1 right), `taps` floats each (at most kConvolverBlock).
struct BinauralFilterSet {
  const float* responses;
  int taps;
};

class IBlockConvolver {
 public:
  virtual ~IBlockConvolver() = default;
  // Builds the spectra, buffers and set-ups. True when ready; on failure
  // nothing stays allocated. Preparing again with the same filters is cheap;
  // preparing with other filters rebuilds the spectra in the memory it has.
  virtual bool Prepare(const BinauralFilterSet& filters) = 0;
  // Frees everything Prepare made; Ready() is false afterwards.
  virtual void Release() = 0;
  virtual bool Ready() const = 0;
  // Convolves one block with filter set `filterSet` (0 Music, 1 Movie).
  // `feeds[f]` holds 8192 samples; a null feed is silent. `earL` and `earR`
  // receive 16384 values each. False when the convolver failed: the outputs are
  // then unspecified and the caller convolves the block elsewhere.
  virtual bool ConvolveBlock(int filterSet, const float* const feeds[kConvolverFeeds], float* earL,
                             float* earR) = 0;
};

}  // namespace sn
