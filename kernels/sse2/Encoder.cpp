// The fold-down of the 5.1-to-2 matrix encoder, SSE2 back end
// (kernels/x87/Encoder.cpp gives the sums). The fold-down works on four frames at
// a time, transposed so that each sum is a vector over the frames; lanes 6 and
// 7 are neither read nor written.
#include <emmintrin.h>

#include "kernels/SNFn.h"
#include "kernels/sse2/Biquad.h"
#include "kernels/sse2/Groups.h"

namespace sn {

void CSNFnSSE2::FoldEncoder(SNChunk& chunk) {

  const __m128 centre = _mm_set1_ps(0.707f), lfeGain = _mm_set1_ps(2.235f);
  const __m128 nearGain = _mm_set1_ps(0.8165f), farGain = _mm_set1_ps(0.5774f);
  const __m128 zero = _mm_setzero_ps();
  sse2::ForEachGroup(chunk, [&](SNCHUNK_INTCHUNK* f, uint32_t) {
    __m128 L = _mm_load_ps(f[0].lane), R = _mm_load_ps(f[1].lane);
    __m128 C = _mm_load_ps(f[2].lane), LFE = _mm_load_ps(f[3].lane);
    _MM_TRANSPOSE4_PS(L, R, C, LFE);
    const __m128 s01 = _mm_unpacklo_ps(sse2::LoadPair(f[0].lane + 4), sse2::LoadPair(f[1].lane + 4));
    const __m128 s23 = _mm_unpacklo_ps(sse2::LoadPair(f[2].lane + 4), sse2::LoadPair(f[3].lane + 4));
    const __m128 SL = _mm_movelh_ps(s01, s23);
    const __m128 SR = _mm_movehl_ps(s23, s01);

    __m128 outL = _mm_add_ps(L, _mm_mul_ps(centre, C));
    outL = _mm_add_ps(outL, _mm_mul_ps(lfeGain, LFE));
    outL = _mm_add_ps(outL, _mm_mul_ps(nearGain, SL));
    outL = _mm_add_ps(outL, _mm_mul_ps(farGain, SR));
    __m128 outR = _mm_add_ps(R, _mm_mul_ps(centre, C));
    outR = _mm_add_ps(outR, _mm_mul_ps(lfeGain, LFE));
    outR = _mm_sub_ps(outR, _mm_mul_ps(farGain, SL));
    outR = _mm_sub_ps(outR, _mm_mul_ps(nearGain, SR));

    const __m128 lr01 = _mm_unpacklo_ps(outL, outR);  // L0 R0 L1 R1
    const __m128 lr23 = _mm_unpackhi_ps(outL, outR);
    _mm_store_ps(f[0].lane, _mm_movelh_ps(lr01, zero));
    _mm_store_ps(f[1].lane, _mm_movehl_ps(zero, lr01));
    _mm_store_ps(f[2].lane, _mm_movelh_ps(lr23, zero));
    _mm_store_ps(f[3].lane, _mm_movehl_ps(zero, lr23));
    for (int j = 0; j < 4; ++j) sse2::StorePair(f[j].lane + 4, zero);
  });
}

}  // namespace sn
