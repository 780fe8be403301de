// The passive 3/1 decoder of the SSE2 back end: per frame, the half-frames
// (L R C LFE) and (SL SR) are l and r times per-lane coefficient columns, with
// LFE cleared (kernels/x87/Passive.cpp gives the matrix). Lanes 6 and 7 are
// neither read nor written.
#include <emmintrin.h>

#include "kernels/SNFn.h"
#include "kernels/sse2/Biquad.h"

namespace sn {

void CSNFnSSE2::DecodePassive(SNChunk& chunk) {
  const __m128 frontL = _mm_setr_ps(0.707f, 0.0f, 0.5f, 0.0f);
  const __m128 frontR = _mm_setr_ps(0.0f, 0.707f, 0.5f, 0.0f);
  const __m128 noLfe = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  const __m128 surround = _mm_set1_ps(0.5f);
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    const __m128 v = _mm_load_ps(f);
    const __m128 l = _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128 r = _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1));
    _mm_store_ps(f, _mm_and_ps(_mm_add_ps(_mm_mul_ps(l, frontL), _mm_mul_ps(r, frontR)), noLfe));
    sse2::StorePair(f + 4, _mm_sub_ps(_mm_mul_ps(l, surround), _mm_mul_ps(r, surround)));
  }
}

}  // namespace sn
