// The headphone block mix, scalar reference: each sum is evaluated in double and
// rounded where it is stored; output frames are written lane by lane and lanes
// 6 and 7 are left alone.
#include "kernels/SNFn.h"

namespace sn {

namespace {
constexpr uint32_t kBlock = 8192;
}  // namespace

void CSNFnx87::MixHeadphoneBlock(const float* earL, const float* earR, float gain, SNComplex* tail,
                                 SNComplex* out) {
  const double g = gain;
  for (uint32_t j = 0; j < kBlock; ++j) {
    out[j].re = static_cast<float>(g * (static_cast<double>(earL[j]) + tail[j].re));
    out[j].im = static_cast<float>(g * (static_cast<double>(earR[j]) + tail[j].im));
    tail[j].re = earL[kBlock + j];
    tail[j].im = earR[kBlock + j];
  }
}

void CSNFnx87::WriteHeadphoneFrames(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) {
  for (uint32_t i = 0; i < n; ++i) {
    float* l = frames[i].lane;
    l[0] = pairs[i].re;
    l[1] = pairs[i].im;
    l[2] = 0.0f;
    l[3] = 0.0f;
    l[4] = 0.0f;
    l[5] = 0.0f;
  }
}

}  // namespace sn
