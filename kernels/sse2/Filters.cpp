// Filter primitives of the SSE2 back end: the second-order section on lanes,
// on a float vector and as a band split, and the surround phase network.
//
// Single precision with a rounding after every operation (the scalar back end
// rounds once per output, so the two agree up to float rounding). The surround
// filters move lanes 4 and 5 as one 8-byte pair and the band split lanes 0 and
// 1, so lanes 6 and 7 are neither read nor written. State blocks must be
// 16-byte aligned (BiquadState is); a chunk of 0 frames leaves them unchanged.
#include <emmintrin.h>

#include "kernels/SNFn.h"
#include "kernels/sse2/Biquad.h"

namespace sn {

using sse2::LoadPair;
using sse2::StorePair;

// The shared-state phase network (the scalar back end explains it): four
// stages y = k (x + y2) - x2, each shifting the one state set of its lane.
void CSNFnSSE2::SurroundPhaseShift(BiquadState& state, SNChunk& chunk) {
  const __m128 k[4] = {_mm_set1_ps(0.1617585f), _mm_set1_ps(0.73302895f), _mm_set1_ps(0.9453497f),
                       _mm_set1_ps(0.99059916f)};
  __m128 x1 = LoadPair(state.x1 + 4), x2 = LoadPair(state.x2 + 4);
  __m128 y1 = LoadPair(state.y1 + 4), y2 = LoadPair(state.y2 + 4);
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane + 4;
    __m128 v = LoadPair(f);
    for (const __m128& ks : k) {
      const __m128 y = _mm_sub_ps(_mm_mul_ps(ks, _mm_add_ps(v, y2)), x2);
      x2 = x1;
      x1 = v;
      y2 = y1;
      y1 = y;
      v = y;
    }
    StorePair(f, v);
  }
  StorePair(state.x1 + 4, x1);
  StorePair(state.x2 + 4, x2);
  StorePair(state.y1 + 4, y1);
  StorePair(state.y2 + 4, y2);
}

void CSNFnSSE2::FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) {
  sse2::BiquadVec f(c);
  f.LoadSingle(state);
  for (uint32_t i = 0; i < v.count; ++i) _mm_store_ss(v.data + i, f.Step(_mm_load_ss(v.data + i)));
  f.SaveSingle(state);
}

void CSNFnSSE2::FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) {
  sse2::BiquadVec f(c);
  f.LoadPair(state, 4);
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* lanes = chunk.data[i].lane + 4;
    StorePair(lanes, f.Step(LoadPair(lanes)));
  }
  f.SavePair(state, 4);
}

// Lanes 0 and 1 of the outputs hold the band and the remainder x - y; their
// other lanes are zeroed. Sizing follows the growth rule; without storage
// nothing is written and the state stands still.
void CSNFnSSE2::SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk, SNChunk& band,
                           SNChunk& complement) {
  const uint32_t n = chunk.count;
  band.Resize(n);
  complement.Resize(n);
  if (band.count != n || complement.count != n) return;
  sse2::BiquadVec f(c);
  f.LoadPair(state, 0);
  const __m128 zero = _mm_setzero_ps();
  for (uint32_t i = 0; i < n; ++i) {
    const __m128 x = LoadPair(chunk.data[i].lane);  // lanes 2 and 3 of x are 0
    const __m128 y = f.Step(x);
    float* b = band.data[i].lane;
    float* r = complement.data[i].lane;
    _mm_store_ps(b, y);
    _mm_store_ps(b + 4, zero);
    _mm_store_ps(r, _mm_sub_ps(x, y));
    _mm_store_ps(r + 4, zero);
  }
  f.SavePair(state, 0);
}

}  // namespace sn
