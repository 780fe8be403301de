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

#include "engine/DspState.h"
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
inline void RawSteering(const SNCHUNK_INTCHUNK* f, __m128& x, __m128& y) {
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

  // Smooths the first `count` (1..4) of four (x, y) values in place.
  void Run(__m128& x, __m128& y, int count) {
    const __m128 lo = _mm_unpacklo_ps(x, y);  // x0 y0 x1 y1
    const __m128 hi = _mm_unpackhi_ps(x, y);  // x2 y2 x3 y3
    const __m128d in[4] = {_mm_cvtps_pd(lo), _mm_cvtps_pd(_mm_movehl_ps(lo, lo)), _mm_cvtps_pd(hi),
                           _mm_cvtps_pd(_mm_movehl_ps(hi, hi))};
    __m128 out[4];
    for (int j = 0; j < 4; ++j) out[j] = j < count ? _mm_cvtpd_ps(Step(in[j])) : _mm_cvtpd_ps(in[j]);
    const __m128 a = _mm_movelh_ps(out[0], out[1]);  // x0 y0 x1 y1
    const __m128 b = _mm_movelh_ps(out[2], out[3]);
    x = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    y = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
  }

 private:
  static void Split(__m128d v, double& lo, double& hi) {
    _mm_storel_pd(&lo, v);
    _mm_storeh_pd(&hi, v);
  }
  __m128d b0_, b1_, a1_, a2_, x1_, x2_, y1_, y2_;
};

// Gains of a pair from its smoothed value v: (v > 0 ? e : 1, v < 0 ? e : 1)
// with e = exp(-0.839 |v|).
inline void Gains(__m128 v, __m128& pos, __m128& neg) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 zero = _mm_setzero_ps();
  const __m128 e = VecExp(_mm_mul_ps(_mm_set1_ps(-steer::kSlope), Abs(v)));
  const __m128 gt = _mm_cmpgt_ps(v, zero);
  const __m128 lt = _mm_cmplt_ps(v, zero);
  pos = _mm_or_ps(_mm_and_ps(gt, e), _mm_andnot_ps(gt, one));
  neg = _mm_or_ps(_mm_and_ps(lt, e), _mm_andnot_ps(lt, one));
}

struct GainSet {
  __m128 gL, gR, gC, gS;
};

inline __m128 Coefficient(const steer::MatrixRow& m, const GainSet& g) {
  __m128 c = _mm_add_ps(_mm_set1_ps(m.k), _mm_mul_ps(_mm_set1_ps(m.gL), g.gL));
  c = _mm_add_ps(c, _mm_mul_ps(_mm_set1_ps(m.gR), g.gR));
  c = _mm_add_ps(c, _mm_mul_ps(_mm_set1_ps(m.gC), g.gC));
  return _mm_add_ps(c, _mm_mul_ps(_mm_set1_ps(m.gS), g.gS));
}

// The mixed rows L(r) and R(l) have only centre and surround terms; the terms
// left out are exact zeros, so this is the same value as the full form.
inline __m128 CrossCoefficient(const steer::MatrixRow& m, const GainSet& g) {
  return _mm_add_ps(_mm_mul_ps(_mm_set1_ps(m.gC), g.gC), _mm_mul_ps(_mm_set1_ps(m.gS), g.gS));
}

inline __m128 Output(__m128 l, __m128 r, __m128 kl, __m128 kr) {
  return _mm_add_ps(_mm_mul_ps(kl, l), _mm_mul_ps(kr, r));
}

struct Centre {
  bool music;
  __m128 w, spill;
};

// The steered matrix on four frames, in place.
inline void DecodeGroup(SNCHUNK_INTCHUNK* f, __m128 x, __m128 y, const Centre& centre) {
  GainSet g;
  Gains(x, g.gL, g.gR);
  Gains(y, g.gC, g.gS);

  __m128 l = _mm_load_ps(f[0].lane), r = _mm_load_ps(f[1].lane);
  __m128 c = _mm_load_ps(f[2].lane), lfe = _mm_load_ps(f[3].lane);
  _MM_TRANSPOSE4_PS(l, r, c, lfe);  // lane 2 (c) is not an input

  using steer::kMatrix;
  static_assert(kMatrix[0][1].k == 0 && kMatrix[0][1].gL == 0 && kMatrix[0][1].gR == 0);
  static_assert(kMatrix[1][0].k == 0 && kMatrix[1][0].gL == 0 && kMatrix[1][0].gR == 0);
  __m128 oL = Output(l, r, Coefficient(kMatrix[0][0], g), CrossCoefficient(kMatrix[0][1], g));
  __m128 oR = Output(l, r, CrossCoefficient(kMatrix[1][0], g), Coefficient(kMatrix[1][1], g));
  __m128 oC = Output(l, r, Coefficient(kMatrix[2][0], g), Coefficient(kMatrix[2][1], g));
  const __m128 oSL = Output(l, r, Coefficient(kMatrix[3][0], g), Coefficient(kMatrix[3][1], g));
  const __m128 oSR = Output(l, r, Coefficient(kMatrix[4][0], g), Coefficient(kMatrix[4][1], g));
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

void CSNFnSSE2::ComputeSteering(BiquadState& lrState, BiquadState& csState, const SNChunk& chunk,
                                SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) {
  const uint32_t n = chunk.count;
  steerLR.Resize(n);
  steerCS.Resize(n);
  if (steerLR.count != n || steerCS.count != n || n == 0) return;
  SmootherPair smoother(steer::SmootherFor(Dsp.K().SteerLp795), lrState, csState);
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128 x, y;
    RawSteering(chunk.data + i, x, y);
    smoother.Run(x, y, 4);
    _mm_store_ps(steerLR.data + i, x);
    _mm_store_ps(steerCS.data + i, y);
  }
  if (i < n) {
    sse2::FrameGroup g{};
    std::memcpy(static_cast<void*>(g.f), chunk.data + i, (n - i) * sizeof(SNCHUNK_INTCHUNK));
    __m128 x, y;
    RawSteering(g.f, x, y);
    smoother.Run(x, y, static_cast<int>(n - i));
    _mm_store_ps(steerLR.data + i, x);  // into the vectors' slack past n
    _mm_store_ps(steerCS.data + i, y);
  }
  smoother.Save(lrState, csState);
}

void CSNFnSSE2::DecodeActive(SNChunk& chunk) {
  const uint32_t n = chunk.count;
  if (n == 0) return;
  DecoderBufferSet& buf = Dsp.DecoderBuffers;
  CSNFnSSE2::ComputeSteering(Dsp.DecoderState[4], Dsp.DecoderState[3], chunk, buf.SteerLR1, buf.SteerCS1);
  if (buf.SteerLR1.count != n || buf.SteerCS1.count != n) return;  // no storage: pass unchanged

  const DspConstants& kc = Dsp.K();
  const Config& cfg = Dsp.Cfg();
  const Centre centre{CfgGet(cfg.SurroundMode) != 0, _mm_set1_ps(kc.CentreWeightFactor),
                      _mm_set1_ps(kc.CentreSpill)};
  const float* lr = buf.SteerLR1.data;
  const float* cs = buf.SteerCS1.data;
  sse2::ForEachGroup(chunk, [&](SNCHUNK_INTCHUNK* f, uint32_t first) {
    DecodeGroup(f, _mm_load_ps(lr + first), _mm_load_ps(cs + first), centre);
  });

  if (CfgGet(cfg.MusicSurroundShelf)) CSNFnSSE2::FilterSurround(kc.SurroundLp7000, Dsp.DecoderState[0], chunk);
}

}  // namespace sn
