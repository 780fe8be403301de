// Headphone renderer, SSE2: the mix runs four frames at a time in single
// precision, summing in the reference's order; output frames are written as two
// aligned vectors, (left, right, 0, 0) and zeros, so lanes 6 and 7 become 0.
#include <emmintrin.h>

#include "kernels/HeadphoneRenderer.h"

namespace sn {

namespace {

void MixBlockSse2(SNComplex* out, SNComplex* tail) {
  const float* L[5];
  const float* R[5];
  for (int k = 0; k < 5; ++k) {
    L[k] = Dsp.ConvOutL[k].data;
    R[k] = Dsp.ConvOutR[k].data;
  }
  const __m128 gain = _mm_set1_ps(kHeadphoneGain);
  float* pt = &tail[0].re;
  float* po = out ? &out[0].re : nullptr;
  // Four frames per step: tail and out hold them as two vectors of
  // (left, right) pairs, the transforms as one vector per feed and ear.
  for (uint32_t j = 0; j < kHeadphoneBlock; j += 4) {
    const __m128 t01 = _mm_load_ps(pt + 2 * j);
    const __m128 t23 = _mm_load_ps(pt + 2 * j + 4);
    if (po) {
      const __m128 tl = _mm_shuffle_ps(t01, t23, _MM_SHUFFLE(2, 0, 2, 0));
      const __m128 tr = _mm_shuffle_ps(t01, t23, _MM_SHUFFLE(3, 1, 3, 1));
      __m128 sl = _mm_add_ps(_mm_load_ps(L[0] + j), tl);
      __m128 sr = _mm_add_ps(_mm_load_ps(R[0] + j), tr);
      for (int k = 1; k < 5; ++k) {
        sl = _mm_add_ps(sl, _mm_load_ps(L[k] + j));
        sr = _mm_add_ps(sr, _mm_load_ps(R[k] + j));
      }
      sl = _mm_mul_ps(gain, sl);
      sr = _mm_mul_ps(gain, sr);
      _mm_store_ps(po + 2 * j, _mm_add_ps(_mm_load_ps(po + 2 * j), _mm_unpacklo_ps(sl, sr)));
      _mm_store_ps(po + 2 * j + 4, _mm_add_ps(_mm_load_ps(po + 2 * j + 4), _mm_unpackhi_ps(sl, sr)));
    }
    const uint32_t t = kHeadphoneBlock + j;
    __m128 nl = _mm_load_ps(L[0] + t);
    __m128 nr = _mm_load_ps(R[0] + t);
    for (int k = 1; k < 5; ++k) {
      nl = _mm_add_ps(nl, _mm_load_ps(L[k] + t));
      nr = _mm_add_ps(nr, _mm_load_ps(R[k] + t));
    }
    _mm_store_ps(pt + 2 * j, _mm_unpacklo_ps(nl, nr));
    _mm_store_ps(pt + 2 * j + 4, _mm_unpackhi_ps(nl, nr));
  }
}

void WriteFramesSse2(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) {
  const __m128 zero = _mm_setzero_ps();
  for (uint32_t i = 0; i < n; ++i) {
    float* l = frames[i].lane;
    const __m128 lr = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&pairs[i])));
    _mm_store_ps(l, lr);
    _mm_store_ps(l + 4, zero);
  }
}

constexpr HeadphoneBackEnd kSse2{&MixBlockSse2, &WriteFramesSse2};

}  // namespace

void CSNFnSSE2::RenderHeadphones(int sourceChannels, SNChunk& chunk) {
  RenderHeadphonesWith(*this, kSse2, sourceChannels, chunk);
}

}  // namespace sn
