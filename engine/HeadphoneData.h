// The headphone convolution's data and its CPU transforms: the twenty binaural
// filter spectra built once per process, the per-block work buffers in DspState,
// and one block's ten convolutions on the CPU. DSP thread only.
#pragma once

#include <cstdint>

namespace sn {

// Builds the filter spectra, work buffers and FFT configurations once; returns
// at once when HeadphoneReady is set.
void BuildHeadphoneData();
// Frees the two FFT configurations and clears HeadphoneReady.
void ReleaseHeadphoneData();
// The ten convolutions of the block in ChannelFifo with filter set `filterSet`
// (0 Music, 1 Movie) into ConvOutL / ConvOutR, scaled by 16384.
void ConvolveBlockCpu(int filterSet);

}  // namespace sn
