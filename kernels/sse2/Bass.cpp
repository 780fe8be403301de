// Bass redirection of the SSE2 back end (kernels/x87/Bass.cpp describes it).
// Per frame, L, R and C pass the crossover as one vector (the LFE lane enters
// it as 0, so the state's column 3 stays 0), and the LFE lane gains
// ((dC + dR) + dL) x 0.316 with d = x - y of each lane. Lanes 4 to 7 are not
// touched. The state block must be 16-byte aligned.
#include <emmintrin.h>

#include "kernels/SNFn.h"
#include "kernels/sse2/Biquad.h"

namespace sn {

void CSNFnSSE2::RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) {
  const __m128 front = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  const __m128 toLfe = _mm_set_ss(0.316f);
  sse2::BiquadVec hp(c);
  hp.LoadQuad(state, 0);
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    const __m128 v = _mm_load_ps(f);
    const __m128 x = _mm_and_ps(v, front);
    const __m128 y = hp.Step(x);
    const __m128 d = _mm_sub_ps(x, y);  // dL dR dC 0
    __m128 sum = _mm_add_ss(_mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 2, 2, 2)), _mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 1, 1, 1)));
    sum = _mm_add_ss(sum, d);
    const __m128 lfe = _mm_add_ss(_mm_mul_ss(sum, toLfe), _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)));
    const __m128 tail = _mm_unpacklo_ps(_mm_movehl_ps(y, y), lfe);  // yC LFE' . .
    _mm_store_ps(f, _mm_shuffle_ps(y, tail, _MM_SHUFFLE(1, 0, 1, 0)));
  }
  hp.SaveQuad(state, 0);
}

}  // namespace sn
