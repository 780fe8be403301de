// The headphone block mix, SSE2: four frames at a time in single precision;
// output frames are written as two aligned vectors, (left, right, 0, 0) and
// zeros, so lanes 6 and 7 become 0.
#include <emmintrin.h>

#include "kernels/SNFn.h"

namespace sn {

namespace {
constexpr uint32_t kBlock = 8192;
}  // namespace

void CSNFnSSE2::MixHeadphoneBlock(const float* earL, const float* earR, float gain, SNComplex* tail,
                                  SNComplex* out) {
  const __m128 g = _mm_set1_ps(gain);
  float* pt = &tail[0].re;
  float* po = &out[0].re;
  // Four frames per step: tail and out hold them as two vectors of
  // (left, right) pairs, the ears as one vector each.
  for (uint32_t j = 0; j < kBlock; j += 4) {
    const __m128 t01 = _mm_load_ps(pt + 2 * j);
    const __m128 t23 = _mm_load_ps(pt + 2 * j + 4);
    const __m128 tl = _mm_shuffle_ps(t01, t23, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 tr = _mm_shuffle_ps(t01, t23, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 sl = _mm_mul_ps(g, _mm_add_ps(_mm_load_ps(earL + j), tl));
    const __m128 sr = _mm_mul_ps(g, _mm_add_ps(_mm_load_ps(earR + j), tr));
    _mm_store_ps(po + 2 * j, _mm_unpacklo_ps(sl, sr));
    _mm_store_ps(po + 2 * j + 4, _mm_unpackhi_ps(sl, sr));
    const __m128 nl = _mm_load_ps(earL + kBlock + j);
    const __m128 nr = _mm_load_ps(earR + kBlock + j);
    _mm_store_ps(pt + 2 * j, _mm_unpacklo_ps(nl, nr));
    _mm_store_ps(pt + 2 * j + 4, _mm_unpackhi_ps(nl, nr));
  }
}

void CSNFnSSE2::WriteHeadphoneFrames(const SNComplex* pairs, uint32_t n, SNCHUNK_INTCHUNK* frames) {
  const __m128 zero = _mm_setzero_ps();
  for (uint32_t i = 0; i < n; ++i) {
    float* l = frames[i].lane;
    const __m128 lr = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&pairs[i])));
    _mm_store_ps(l, lr);
    _mm_store_ps(l + 4, zero);
  }
}

}  // namespace sn
