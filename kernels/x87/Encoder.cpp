// The 5.1-to-2 matrix encoder of the scalar back end.
//
// The surround lanes are band-limited (100 Hz high-pass, then 7000 Hz low-pass)
// and sent through the phase network, then everything folds into L and R:
//   L = L + 0.707 C + 2.235 LFE + 0.8165 SL + 0.5774 SR
//   R = R + 0.707 C + 2.235 LFE - 0.5774 SL - 0.8165 SR
// and C, LFE, SL and SR become 0. The surround factors are these decimals, not
// sqrt(2/3) and sqrt(1/3). State: EncoderState holds the phase network's, the
// low-pass's and the high-pass's history, in that order. Lanes 6 and 7 are left
// alone.
#include "engine/DspState.h"
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::EncodeMatrix(int, SNChunk& chunk) {
  const DspConstants& k = Dsp.K();
  FilterSurround(k.SurroundHp100, Dsp.EncoderState[2], chunk);
  FilterSurround(k.SurroundLp7000, Dsp.EncoderState[1], chunk);
  SurroundPhaseShift(Dsp.EncoderState[0], chunk);
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
