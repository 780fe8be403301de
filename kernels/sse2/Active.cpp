// The steered active decoder of the SSE2 back end.
//
// The same single-band form as the scalar back end (kernels/x87/Active.cpp and
// kernels/Steering.h explain it), four frames at a time in single precision:
// the frames' l and r are transposed into four-frame vectors, ln and exp are
// VecLog and VecExp, and the results are transposed back. Lane 3 goes back as it
// came; lanes 6 and 7 are never read or written. The two steering smoothers run
// together in the two double lanes of one register, bit for bit like the scalar
// back end's, so the two back ends differ only by the VecLog and VecExp error.
//
// A chunk's last partial group is staged through a local group of four frames
// (sse2/Groups.h), so no frame past the chunk is read or written; steering
// values computed for the missing frames land in the vectors' slack.
#include <emmintrin.h>

#include <cstring>

#include "kernels/SNFn.h"
#include "kernels/Steering.h"
#include "kernels/sse2/Biquad.h"
#include "kernels/sse2/Groups.h"
#include "kernels/sse2/VecMath.h"

namespace sn {

namespace {

using vecmath::VecExp;
using vecmath::VecLog;

inline __m128 Abs(__m128 v) { return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF))); }

// ln((strong + 0.1 weak) / (weak + 0.1 strong)), 0 where both are 0.
inline __m128 SteeringValue(__m128 strong, __m128 weak) {
  const __m128 leak = _mm_set1_ps(steer::kLeak);
  const __m128 zero = _mm_setzero_ps();
  const __m128 ratio =
      _mm_div_ps(_mm_add_ps(strong, _mm_mul_ps(leak, weak)), _mm_add_ps(weak, _mm_mul_ps(leak, strong)));
  const __m128 live = _mm_or_ps(_mm_cmpgt_ps(strong, zero), _mm_cmpgt_ps(weak, zero));
  return _mm_and_ps(VecLog(ratio), live);
}

// Raw steering values of four frames.
SN_GROUP_INLINE void RawSteering(const SNCHUNK_INTCHUNK* f, __m128& x, __m128& y) {
  const __m128 f01 = _mm_unpacklo_ps(_mm_load_ps(f[0].lane), _mm_load_ps(f[1].lane));  // l0 l1 r0 r1
  const __m128 f23 = _mm_unpacklo_ps(_mm_load_ps(f[2].lane), _mm_load_ps(f[3].lane));  // l2 l3 r2 r3
  const __m128 l = _mm_movelh_ps(f01, f23);
  const __m128 r = _mm_movehl_ps(f23, f01);
  x = SteeringValue(Abs(l), Abs(r));
  y = SteeringValue(Abs(_mm_add_ps(l, r)), Abs(_mm_sub_ps(l, r)));
}

// The two smoothers, left/right in the low and centre/surround in the high
// double lane.
class SmootherPair {
 public:
  SmootherPair(const steer::SmootherCoeffs& k, const BiquadState& lr, const BiquadState& cs)
      : b0_(_mm_set1_pd(k.b0)), b1_(_mm_set1_pd(k.b1)), a1_(_mm_set1_pd(k.a1)), a2_(_mm_set1_pd(k.a2)) {
    const steer::SmootherHistory h0 = steer::LoadHistory(lr), h1 = steer::LoadHistory(cs);
    x1_ = _mm_set_pd(h1.x1, h0.x1);
    x2_ = _mm_set_pd(h1.x2, h0.x2);
    y1_ = _mm_set_pd(h1.y1, h0.y1);
    y2_ = _mm_set_pd(h1.y2, h0.y2);
  }

  void Save(BiquadState& lr, BiquadState& cs) const {
    steer::SmootherHistory h0, h1;
    Split(x1_, h0.x1, h1.x1);
    Split(x2_, h0.x2, h1.x2);
    Split(y1_, h0.y1, h1.y1);
    Split(y2_, h0.y2, h1.y2);
    steer::SaveHistory(lr, h0);
    steer::SaveHistory(cs, h1);
  }

  // One step of both streams; the steps of steer::Smooth.
  __m128d Step(__m128d x) {
    __m128d y = _mm_mul_pd(b0_, x);
    y = _mm_add_pd(y, _mm_mul_pd(b1_, x1_));
    y = _mm_add_pd(y, _mm_mul_pd(b0_, x2_));
    y = _mm_sub_pd(y, _mm_mul_pd(a2_, y2_));
    y = _mm_sub_pd(y, _mm_mul_pd(a1_, y1_));
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

  // Smooths four (x, y) value pairs in place.
  void Run(__m128& x, __m128& y) {
    const __m128 lo = _mm_unpacklo_ps(x, y);  // x0 y0 x1 y1
    const __m128 hi = _mm_unpackhi_ps(x, y);  // x2 y2 x3 y3
    const __m128 y0 = _mm_cvtpd_ps(Step(_mm_cvtps_pd(lo)));  // in frame order
    const __m128 y1 = _mm_cvtpd_ps(Step(_mm_cvtps_pd(_mm_movehl_ps(lo, lo))));
    const __m128 y2 = _mm_cvtpd_ps(Step(_mm_cvtps_pd(hi)));
    const __m128 y3 = _mm_cvtpd_ps(Step(_mm_cvtps_pd(_mm_movehl_ps(hi, hi))));
    const __m128 out01 = _mm_movelh_ps(y0, y1);
    const __m128 out23 = _mm_movelh_ps(y2, y3);
    x = _mm_shuffle_ps(out01, out23, _MM_SHUFFLE(2, 0, 2, 0));
    y = _mm_shuffle_ps(out01, out23, _MM_SHUFFLE(3, 1, 3, 1));
  }

  // Smooths the first `count` (below 4) of four pairs; the others stay raw.
  void RunPartial(__m128& x, __m128& y, uint32_t count) {
    alignas(16) float xs[4], ys[4];
    _mm_store_ps(xs, x);
    _mm_store_ps(ys, y);
    for (uint32_t j = 0; j < count; ++j) {
      alignas(16) double out[2];
      _mm_store_pd(out, Step(_mm_set_pd(ys[j], xs[j])));
      xs[j] = static_cast<float>(out[0]);
      ys[j] = static_cast<float>(out[1]);
    }
    x = _mm_load_ps(xs);
    y = _mm_load_ps(ys);
  }

 private:
  static void Split(__m128d v, double& lo, double& hi) {
    _mm_storel_pd(&lo, v);
    _mm_storeh_pd(&hi, v);
  }
  __m128d b0_, b1_, a1_, a2_, x1_, x2_, y1_, y2_;
};

// Gains of a pair from its smoothed value v: (v > 0 ? e : 1, v < 0 ? e : 1)
// with e = exp(-0.839 |v|). As 0 <= e <= 1 (VecExp of an argument <= 0 never
// exceeds 1), each choice is max(e, 1 where the other side dominates or v = 0).
inline void Gains(__m128 v, __m128& pos, __m128& neg) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 zero = _mm_setzero_ps();
  const __m128 e = VecExp(_mm_mul_ps(_mm_set1_ps(-steer::kSlope), Abs(v)));
  pos = _mm_max_ps(e, _mm_and_ps(_mm_cmple_ps(v, zero), one));
  neg = _mm_max_ps(e, _mm_and_ps(_mm_cmpge_ps(v, zero), one));
}

struct GainSet {
  __m128 gL, gR, gC, gS;
};

// The table is left/right symmetric, so its rows come in mirrored pairs: the
// mirror of a row has the same constant and centre/surround terms, with the
// gL and gR entries exchanged (the surround pairs also change sign). A pair
// shares its constant-and-centre/surround part:
//   base = (k + aC gC) + aS gS,  first = (base + aL gL) + aR gR,
//   mirror = (base + aR gL) + aL gR.
// Against the table's term order this only moves float roundings.
constexpr bool IsMirror(const steer::MatrixRow& a, const steer::MatrixRow& b, float sign) {
  return b.k == sign * a.k && b.gL == sign * a.gR && b.gR == sign * a.gL && b.gC == sign * a.gC &&
         b.gS == sign * a.gS;
}

// A table row broadcast to four lanes, built once per chunk.
struct RowVec {
  __m128 k, gL, gR, gC, gS;
};

struct MatrixVec {
  RowVec row[5][2];
  MatrixVec() {
    for (int o = 0; o < 5; ++o)
      for (int i = 0; i < 2; ++i) {
        const steer::MatrixRow& m = steer::kMatrix[o][i];
        row[o][i] = {_mm_set1_ps(m.k), _mm_set1_ps(m.gL), _mm_set1_ps(m.gR), _mm_set1_ps(m.gC), _mm_set1_ps(m.gS)};
      }
  }
};

inline void MirroredPair(const RowVec& m, const GainSet& g, __m128& first, __m128& mirror) {
  const __m128 base = _mm_add_ps(_mm_add_ps(m.k, _mm_mul_ps(m.gC, g.gC)), _mm_mul_ps(m.gS, g.gS));
  first = _mm_add_ps(_mm_add_ps(base, _mm_mul_ps(m.gL, g.gL)), _mm_mul_ps(m.gR, g.gR));
  mirror = _mm_add_ps(_mm_add_ps(base, _mm_mul_ps(m.gR, g.gL)), _mm_mul_ps(m.gL, g.gR));
}

inline __m128 Output(__m128 l, __m128 r, __m128 kl, __m128 kr) {
  return _mm_add_ps(_mm_mul_ps(kl, l), _mm_mul_ps(kr, r));
}

struct Centre {
  bool music;
  __m128 w, spill;
};

// The steered matrix on four frames, in place.
SN_GROUP_INLINE void DecodeGroup(SNCHUNK_INTCHUNK* f, __m128 x, __m128 y, const MatrixVec& mv, const Centre& centre) {
  GainSet g;
  Gains(x, g.gL, g.gR);
  Gains(y, g.gC, g.gS);

  __m128 l = _mm_load_ps(f[0].lane), r = _mm_load_ps(f[1].lane);
  __m128 c = _mm_load_ps(f[2].lane), lfe = _mm_load_ps(f[3].lane);
  _MM_TRANSPOSE4_PS(l, r, c, lfe);  // lane 2 (c) is not an input

  using steer::kMatrix;
  // L(l)/R(r), C(l)/C(r), SL(l)/-SR(r) and SL(r)/-SR(l) are mirrored pairs; the
  // cross terms L(r) and R(l) are one row with centre/surround terms only.
  static_assert(IsMirror(kMatrix[0][0], kMatrix[1][1], 1.0f) && IsMirror(kMatrix[2][0], kMatrix[2][1], 1.0f));
  static_assert(IsMirror(kMatrix[3][0], kMatrix[4][1], -1.0f) && IsMirror(kMatrix[3][1], kMatrix[4][0], -1.0f));
  static_assert(IsMirror(kMatrix[0][1], kMatrix[1][0], 1.0f) && kMatrix[0][1].k == 0 && kMatrix[0][1].gL == 0 &&
                kMatrix[0][1].gR == 0);
  __m128 kLl, kRr, kCl, kCr, kSLl, nSRr, kSLr, nSRl;
  MirroredPair(mv.row[0][0], g, kLl, kRr);
  MirroredPair(mv.row[2][0], g, kCl, kCr);
  MirroredPair(mv.row[3][0], g, kSLl, nSRr);
  MirroredPair(mv.row[3][1], g, kSLr, nSRl);
  const __m128 cross = _mm_add_ps(_mm_mul_ps(mv.row[0][1].gC, g.gC), _mm_mul_ps(mv.row[0][1].gS, g.gS));
  __m128 oL = Output(l, r, kLl, cross);
  __m128 oR = Output(l, r, cross, kRr);
  __m128 oC = Output(l, r, kCl, kCr);
  const __m128 oSL = Output(l, r, kSLl, kSLr);
  const __m128 oSR = _mm_sub_ps(_mm_setzero_ps(), Output(l, r, nSRl, nSRr));
  if (centre.music) {
    const __m128 moved = _mm_mul_ps(centre.spill, oC);
    oL = _mm_add_ps(oL, moved);
    oR = _mm_add_ps(oR, moved);
    oC = _mm_mul_ps(centre.w, oC);
  }

  _MM_TRANSPOSE4_PS(oL, oR, oC, lfe);
  _mm_store_ps(f[0].lane, oL);
  _mm_store_ps(f[1].lane, oR);
  _mm_store_ps(f[2].lane, oC);
  _mm_store_ps(f[3].lane, lfe);
  const __m128 s01 = _mm_unpacklo_ps(oSL, oSR);  // SL0 SR0 SL1 SR1
  const __m128 s23 = _mm_unpackhi_ps(oSL, oSR);
  sse2::StorePair(f[0].lane + 4, s01);
  sse2::StorePair(f[1].lane + 4, _mm_movehl_ps(s01, s01));
  sse2::StorePair(f[2].lane + 4, s23);
  sse2::StorePair(f[3].lane + 4, _mm_movehl_ps(s23, s23));
}

}  // namespace

void CSNFnSSE2::ComputeSteering(const ButterworthCoeffs& smoothing, BiquadState& lrState, BiquadState& csState,
                                const SNChunk& chunk, SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) {
  const uint32_t n = chunk.count;
  steerLR.Resize(n);
  steerCS.Resize(n);
  if (steerLR.count != n || steerCS.count != n || n == 0) return;
  SmootherPair smoother(steer::SmootherFor(smoothing), lrState, csState);
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128 x, y;
    RawSteering(chunk.data + i, x, y);
    smoother.Run(x, y);
    _mm_store_ps(steerLR.data + i, x);
    _mm_store_ps(steerCS.data + i, y);
  }
  if (i < n) {
    sse2::FrameGroup g{};
    std::memcpy(static_cast<void*>(g.f), chunk.data + i, (n - i) * sizeof(SNCHUNK_INTCHUNK));
    __m128 x, y;
    RawSteering(g.f, x, y);
    smoother.RunPartial(x, y, n - i);
    _mm_store_ps(steerLR.data + i, x);  // into the vectors' slack past n
    _mm_store_ps(steerCS.data + i, y);
  }
  smoother.Save(lrState, csState);
}

void CSNFnSSE2::ApplySteering(const float* lr, const float* cs, const CentreMix& mix, SNChunk& chunk) {
  if (chunk.count == 0) return;
  const Centre centre{mix.music != 0, _mm_set1_ps(mix.weight), _mm_set1_ps(mix.spill)};
  const MatrixVec matrix;
  sse2::ForEachGroup(chunk, [&](SNCHUNK_INTCHUNK* f, uint32_t first) {
    DecodeGroup(f, _mm_load_ps(lr + first), _mm_load_ps(cs + first), matrix, centre);
  });
}

}  // namespace sn
