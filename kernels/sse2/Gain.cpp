// Master gain and trims, SSE2 back end.
//
// With trims, the six factors master * trim[i] are rounded to float once per
// call and each half frame is multiplied by its four factors in single
// precision (lanes 6 and 7 ride along), so a result may differ from the scalar back
// end in the last bit. Without trims (headphone output) lanes 0 and 1 are
// multiplied by the master gain, exactly as the scalar back end does, and lanes
// 2..7 are stored as 0.0: silence even where the input held NaN or infinity.
//
// Frames 16-byte aligned.
#include <emmintrin.h>

#include "kernels/SNFn.h"

namespace sn {

void CSNFnSSE2::ApplyGain(const GainSet& k, int withTrims, SNChunk& chunk) {
  const __m128 master = _mm_set1_ps(k.master);
  const uint32_t n = chunk.count;
  SNCHUNK_INTCHUNK* f = chunk.data;
  if (withTrims) {
    const __m128 lo = _mm_mul_ps(master, _mm_loadu_ps(k.trim));
    const __m128 hi = _mm_mul_ps(master, _mm_setr_ps(k.trim[4], k.trim[5], 1.0f, 1.0f));
    for (uint32_t i = 0; i < n; ++i) {
      _mm_store_ps(f[i].lane, _mm_mul_ps(_mm_load_ps(f[i].lane), lo));
      _mm_store_ps(f[i].lane + 4, _mm_mul_ps(_mm_load_ps(f[i].lane + 4), hi));
    }
    return;
  }
  const __m128 frontPair = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, 0, 0));
  const __m128 zero = _mm_setzero_ps();
  for (uint32_t i = 0; i < n; ++i) {
    _mm_store_ps(f[i].lane, _mm_and_ps(_mm_mul_ps(_mm_load_ps(f[i].lane), master), frontPair));
    _mm_store_ps(f[i].lane + 4, zero);
  }
}

}  // namespace sn
