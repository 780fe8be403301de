// Independent references for the headphone tests: the binaural responses as
// the table holds them and direct (time-domain) convolution in double.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/BinauralTable.h"

namespace sn::test {

inline constexpr uint32_t kResponseTaps = 8192;

// Response (set, channel, ear) of the table of `rate` (44100 or 48000): set 0
// Music, 1 Movie; channel 0..4 L, R, C, SL, SR; ear 0 left, 1 right.
inline const float* TableResponse(int set, int channel, int ear, uint32_t rate = 48000) {
  return BinauralTableFor(rate) + static_cast<size_t>(set * 10 + channel * 2 + ear) * kResponseTaps;
}

// sum over t of x[t] h[n - t] in double, for x of any length and the 8192 taps h.
inline double DirectConvolutionAt(const float* x, size_t xLength, const float* h, size_t n) {
  double acc = 0.0;
  const size_t first = n >= kResponseTaps ? n - (kResponseTaps - 1) : 0;
  const size_t last = n < xLength ? n : xLength - 1;
  for (size_t t = first; t <= last && xLength; ++t) acc += static_cast<double>(x[t]) * h[n - t];
  return acc;
}

inline double Norm2(const float* v, size_t n) {
  double s = 0.0;
  for (size_t i = 0; i < n; ++i) s += static_cast<double>(v[i]) * v[i];
  return std::sqrt(s);
}

}  // namespace sn::test
