// The steered active decoder of the scalar back end (the reference).
//
// Single-band form: one steering analysis of the chunk's full-band l and r, and
// the steered matrix applied to the unsplit l and r. (A split at 1200 Hz with a
// steering pair per band gives the same output up to float rounding, because
// both bands would be steered by the same full-band analysis, at the cost of a
// second analysis and two band passes.) Kernels/Steering.h describes the
// steering, the gains, the matrix and the smoother. The chunk is steered by the
// smoothed value of each frame itself, so the smoother runs over the whole
// chunk before the matrix.
//
// The engine runs the stages: ComputeSteering, then ApplySteering, then the
// optional surround shelf (FilterSurround).
//
// Evaluation: ln and exp are the C runtime's, in double, rounded to float; each
// output is evaluated in double and rounded to float where it is stored.
#include <cmath>

#include "kernels/SNFn.h"
#include "kernels/Steering.h"

namespace sn {

namespace {

float SteeringValue(float strong, float weak) {
  if (!(strong > 0.0f) && !(weak > 0.0f)) return 0.0f;
  constexpr double leak = steer::kLeak;
  return static_cast<float>(std::log((strong + leak * weak) / (weak + leak * strong)));
}

double Coefficient(const steer::MatrixRow& m, double gL, double gR, double gC, double gS) {
  return m.k + m.gL * gL + m.gR * gR + m.gC * gC + m.gS * gS;
}

}  // namespace

void CSNFnx87::ComputeSteering(const ButterworthCoeffs& smoother, BiquadState& lrState, BiquadState& csState,
                               const SNChunk& chunk, SNBuffer<float>& steerLR, SNBuffer<float>& steerCS) {
  const uint32_t n = chunk.count;
  steerLR.Resize(n);
  steerCS.Resize(n);
  if (steerLR.count != n || steerCS.count != n) return;
  for (uint32_t i = 0; i < n; ++i) {
    const float l = chunk.data[i].lane[0];
    const float r = chunk.data[i].lane[1];
    steerLR.data[i] = SteeringValue(std::fabs(l), std::fabs(r));
    steerCS.data[i] = SteeringValue(std::fabs(l + r), std::fabs(l - r));
  }
  const steer::SmootherCoeffs k = steer::SmootherFor(smoother);
  steer::Smooth(k, lrState, steerLR.data, n);
  steer::Smooth(k, csState, steerCS.data, n);
}

void CSNFnx87::ApplySteering(const float* lr, const float* cs, const CentreMix& centre, SNChunk& chunk) {
  const uint32_t n = chunk.count;
  const bool music = centre.music != 0;
  const double w = centre.weight;
  const double spill = centre.spill;

  for (uint32_t i = 0; i < n; ++i) {
    const float x = lr[i];
    const float y = cs[i];
    const float ex = -steer::kSlope * std::fabs(x);
    const float ey = -steer::kSlope * std::fabs(y);
    const float gx = x != 0.0f ? static_cast<float>(std::exp(static_cast<double>(ex))) : 1.0f;
    const float gy = y != 0.0f ? static_cast<float>(std::exp(static_cast<double>(ey))) : 1.0f;
    const double gL = x > 0.0f ? gx : 1.0f;
    const double gR = x < 0.0f ? gx : 1.0f;
    const double gC = y > 0.0f ? gy : 1.0f;
    const double gS = y < 0.0f ? gy : 1.0f;

    float* f = chunk.data[i].lane;
    const double l = f[0];
    const double r = f[1];
    double out[5];
    for (int o = 0; o < 5; ++o)
      out[o] = Coefficient(steer::kMatrix[o][0], gL, gR, gC, gS) * l +
               Coefficient(steer::kMatrix[o][1], gL, gR, gC, gS) * r;
    if (music) {
      out[0] = out[0] + spill * out[2];
      out[1] = out[1] + spill * out[2];
      out[2] = w * out[2];
    }
    f[0] = static_cast<float>(out[0]);
    f[1] = static_cast<float>(out[1]);
    f[2] = static_cast<float>(out[2]);
    f[4] = static_cast<float>(out[3]);
    f[5] = static_cast<float>(out[4]);
  }
}

}  // namespace sn
