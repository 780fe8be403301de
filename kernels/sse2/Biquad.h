// The second-order section of the SSE2 back end, up to four lanes at once.
//
// y = b0 x + b1 x1 + b0 x2 - a1 y1 - a2 y2 (b2 is b0), in single precision with
// a rounding after every operation, in that order. The coefficients are
// broadcast to all lanes; the history lives in registers between Load and Save.
// Lanes are loaded in pairs (8 bytes: lanes 4-5 or 0-1 of a frame, or the same
// columns of a state block) or as one aligned half-frame of four, so a pair
// never touches the two lanes beside it.
#pragma once

#include <emmintrin.h>

#include "kernels/SNFn.h"

namespace sn::sse2 {

inline __m128 LoadPair(const float* p) {
  return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
inline void StorePair(float* p, __m128 v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v));
}

class BiquadVec {
 public:
  explicit BiquadVec(const ButterworthCoeffs& c)
      : b0_(_mm_set1_ps(c.b0)), b1_(_mm_set1_ps(c.b1)), a1_(_mm_set1_ps(c.a1)), a2_(_mm_set1_ps(c.a2)) {}

  // History of columns [column, column + 1] (pair) or [column, column + 3]
  // (quad; column 0 or 4, 16-byte aligned).
  void LoadPair(const BiquadState& s, int column) {
    x1_ = sse2::LoadPair(s.x1 + column);
    x2_ = sse2::LoadPair(s.x2 + column);
    y1_ = sse2::LoadPair(s.y1 + column);
    y2_ = sse2::LoadPair(s.y2 + column);
  }
  void SavePair(BiquadState& s, int column) const {
    StorePair(s.x1 + column, x1_);
    StorePair(s.x2 + column, x2_);
    StorePair(s.y1 + column, y1_);
    StorePair(s.y2 + column, y2_);
  }
  void LoadQuad(const BiquadState& s, int column) {
    x1_ = _mm_load_ps(s.x1 + column);
    x2_ = _mm_load_ps(s.x2 + column);
    y1_ = _mm_load_ps(s.y1 + column);
    y2_ = _mm_load_ps(s.y2 + column);
  }
  void SaveQuad(BiquadState& s, int column) const {
    _mm_store_ps(s.x1 + column, x1_);
    _mm_store_ps(s.x2 + column, x2_);
    _mm_store_ps(s.y1 + column, y1_);
    _mm_store_ps(s.y2 + column, y2_);
  }
  // Lane 0 only (a float vector's filter keeps its history in column 0).
  void LoadSingle(const BiquadState& s) {
    x1_ = _mm_load_ss(s.x1);
    x2_ = _mm_load_ss(s.x2);
    y1_ = _mm_load_ss(s.y1);
    y2_ = _mm_load_ss(s.y2);
  }
  void SaveSingle(BiquadState& s) const {
    _mm_store_ss(s.x1, x1_);
    _mm_store_ss(s.x2, x2_);
    _mm_store_ss(s.y1, y1_);
    _mm_store_ss(s.y2, y2_);
  }

  __m128 Step(__m128 x) {
    __m128 y = _mm_mul_ps(b0_, x);
    y = _mm_add_ps(y, _mm_mul_ps(b1_, x1_));
    y = _mm_add_ps(y, _mm_mul_ps(b0_, x2_));
    y = _mm_sub_ps(y, _mm_mul_ps(a1_, y1_));
    y = _mm_sub_ps(y, _mm_mul_ps(a2_, y2_));
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

 private:
  __m128 b0_, b1_, a1_, a2_;
  __m128 x1_ = _mm_setzero_ps(), x2_ = _mm_setzero_ps(), y1_ = _mm_setzero_ps(), y2_ = _mm_setzero_ps();
};

}  // namespace sn::sse2
