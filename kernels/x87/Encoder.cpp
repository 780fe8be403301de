// The fold-down of the 5.1-to-2 matrix encoder, scalar back end.
//
// The engine first band-limits the surround lanes (100 Hz high-pass, then
// 7000 Hz low-pass) and sends them through the phase network; then everything
// folds into L and R:
//   L = L + 0.707 C + 2.235 LFE + 0.8165 SL + 0.5774 SR
//   R = R + 0.707 C + 2.235 LFE - 0.5774 SL - 0.8165 SR
// and C, LFE, SL and SR become 0. The surround factors are these decimals, not
// sqrt(2/3) and sqrt(1/3). Lanes 6 and 7 are left alone.
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::FoldEncoder(SNChunk& chunk) {
  constexpr double centre = 0.707f, lfe = 2.235f, nearGain = 0.8165f, farGain = 0.5774f;
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    const double common = lfe * f[3] + centre * f[2];
    const double sl = f[4], sr = f[5];
    f[0] = static_cast<float>(f[0] + common + nearGain * sl + farGain * sr);
    f[1] = static_cast<float>(f[1] + common - farGain * sl - nearGain * sr);
    f[2] = f[3] = f[4] = f[5] = 0.0f;
  }
}

}  // namespace sn
