// Headphone renderer, scalar reference: the mix evaluates each sum in double and
// rounds where a value is stored; output frames are written lane by lane and
// lanes 6 and 7 are left alone.
#include "kernels/HeadphoneRenderer.h"

namespace sn {

namespace {

void MixBlockX87(SNComplex* out, SNComplex* tail) {
  const float* L[5];
  const float* R[5];
  for (int k = 0; k < 5; ++k) {
    L[k] = Dsp.ConvOutL[k].data;
    R[k] = Dsp.ConvOutR[k].data;
  }
  const double gain = kHeadphoneGain;
  for (uint32_t j = 0; j < kHeadphoneBlock; ++j) {
    if (out) {
      const double left = static_cast<double>(L[0][j]) + tail[j].re + L[1][j] + L[2][j] + L[3][j] + L[4][j];
      const double right = static_cast<double>(R[0][j]) + tail[j].im + R[1][j] + R[2][j] + R[3][j] + R[4][j];
      out[j].re = static_cast<float>(out[j].re + gain * left);
      out[j].im = static_cast<float>(out[j].im + gain * right);
    }
    const uint32_t t = kHeadphoneBlock + j;
    tail[j].re = static_cast<float>(static_cast<double>(L[0][t]) + L[1][t] + L[2][t] + L[3][t] + L[4][t]);
    tail[j].im = static_cast<float>(static_cast<double>(R[0][t]) + R[1][t] + R[2][t] + R[3][t] + R[4][t]);
  }
}

void WriteFramesX87(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) {
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

constexpr HeadphoneBackEnd kX87{&MixBlockX87, &WriteFramesX87};

}  // namespace

void CSNFnx87::RenderHeadphones(int sourceChannels, SNChunk& chunk) {
  RenderHeadphonesWith(*this, kX87, sourceChannels, chunk);
}

}  // namespace sn
