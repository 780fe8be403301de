// Filter design and the derivation of the per-sample constants.
#pragma once

#include "config/Config.h"
#include "engine/DspState.h"
#include "kernels/PcmSamples.h"

namespace sn {

// A second-order Butterworth section at `frequency` Hz for `sampleRate`, with
// the bilinear transform pre-warped at the corner. Every coefficient is rounded
// to float; intermediate arithmetic is double. Corners above 0.45 of the rate
// are held there.
ButterworthCoeffs DesignButterworth(float frequency, bool highPass, uint32_t sampleRate);

// Everything CalcStaticConstants derives from `cfg` at `sampleRate` (not 0).
void ComputeConstants(const Config& cfg, uint32_t sampleRate, DspConstants& out);

// Samples in `ms` milliseconds: fs / 1000 x ms in double, truncated.
uint32_t DelaySamples(uint32_t sampleRate, uint32_t ms);
// 10^(dB / 20) with the exponent and the result each rounded to float.
float DbToGain(int32_t dB);

}  // namespace sn
