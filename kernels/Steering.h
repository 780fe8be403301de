// What both back ends' active decoders share: the steering constants, the
// steered matrix and the steering smoother.
//
// Steering. Per frame, x = ln((|l| + 0.1 |r|) / (|r| + 0.1 |l|)) says how far
// left dominates right and y = ln((|l+r| + 0.1 |l-r|) / (|l-r| + 0.1 |l+r|)) how
// far the in-phase sum dominates the anti-phase difference; both lie in
// [ln 0.1, ln 10] and are 0 for silence. Each runs through a 7.95 Hz low-pass
// (linear in the log domain, same attack and release) before it steers.
//
// Gains. gL = exp(-0.839 max(x, 0)), gR = exp(0.839 min(x, 0)),
// gC = exp(-0.839 max(y, 0)), gS = exp(0.839 min(y, 0)): 1 on the side that does
// not dominate, down to 0.1449 on the side that does. Since one gain of each
// pair is exactly 1, each pair takes one exponential of -0.839 |x| (the
// exponent formed in float either way).
//
// Matrix. Every output is k(l) l + k(r) r, each coefficient the affine form
// const + a gL + b gR + c gC + d gS of the table below. Unsteered (all gains 1)
// it gives L = 0.708 l, R = 0.708 r, C = 0.501 (l + r), SL = 0.612 l - 0.3542 r,
// SR = 0.3542 l - 0.612 r.
//
// Smoother. The smoothing low-pass is the Butterworth section of SteerLp795 with
// two changes that make it settle where its input is: its feed-forward gain is
// taken as (1 + a1 + a2) / 4, which gives exactly unity gain at DC for the
// stored (float) feedback coefficients, and its history is kept in double. With
// b0 itself and float history a 7.95 Hz section at 48 kHz settles about 5 %
// short (its float coefficients give a DC gain of 0.956) and then stalls
// further off, because a per-sample change below half a float ulp is lost; the
// steering would never reach full strength. The history is stored as four
// doubles in the first eight bytes of the state block's four rows.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernels/SNFn.h"

namespace sn::steer {

inline constexpr float kLeak = 0.1f;    // share of the weaker signal in each ratio
inline constexpr float kSlope = 0.839f; // steering value to gain exponent

struct MatrixRow {
  float k, gL, gR, gC, gS;
};

// Output-major, then input l and r: L, R, C, SL, SR.
inline constexpr MatrixRow kMatrix[5][2] = {
    {{0.273f, -0.293f, 0.13f, 0.299f, 0.299f}, {0.0f, 0.0f, 0.0f, 0.408f, -0.408f}},
    {{0.0f, 0.0f, 0.0f, 0.408f, -0.408f}, {0.273f, 0.13f, -0.293f, 0.299f, 0.299f}},
    {{0.193f, 0.5f, -0.077f, -0.207f, 0.092f}, {0.193f, -0.077f, 0.5f, -0.207f, 0.092f}},
    {{-0.274f, 0.612f, 0.204f, 0.324f, -0.254f}, {-0.136f, 0.0547f, -0.354f, -0.0649f, 0.146f}},
    {{0.136f, 0.354f, -0.0547f, 0.0649f, -0.146f}, {0.274f, -0.204f, -0.612f, -0.324f, 0.254f}},
};

struct SmootherCoeffs {
  double b0, b1, a1, a2;
};

inline SmootherCoeffs SmootherFor(const ButterworthCoeffs& c) {
  const double a1 = c.a1, a2 = c.a2;
  const double b0 = (1.0 + a1 + a2) * 0.25;
  return {b0, 2.0 * b0, a1, a2};
}

struct SmootherHistory {
  double x1, x2, y1, y2;
};

inline SmootherHistory LoadHistory(const BiquadState& s) {
  SmootherHistory h;
  std::memcpy(&h.x1, s.x1, sizeof(double));
  std::memcpy(&h.x2, s.x2, sizeof(double));
  std::memcpy(&h.y1, s.y1, sizeof(double));
  std::memcpy(&h.y2, s.y2, sizeof(double));
  return h;
}

inline void SaveHistory(BiquadState& s, const SmootherHistory& h) {
  std::memcpy(s.x1, &h.x1, sizeof(double));
  std::memcpy(s.x2, &h.x2, sizeof(double));
  std::memcpy(s.y1, &h.y1, sizeof(double));
  std::memcpy(s.y2, &h.y2, sizeof(double));
}

// Smooths v[0..n) in place, one double-precision section step per value,
// rounded to float on store. The feedback term of y1 comes last, which keeps the
// sample-to-sample dependency short. The SSE2 back end runs the same steps two
// streams at a time, bit for bit alike.
inline void Smooth(const SmootherCoeffs& k, BiquadState& state, float* v, uint32_t n) {
  SmootherHistory h = LoadHistory(state);
  for (uint32_t i = 0; i < n; ++i) {
    const double x = v[i];
    const double y = k.b0 * x + k.b1 * h.x1 + k.b0 * h.x2 - k.a2 * h.y2 - k.a1 * h.y1;
    h.x2 = h.x1;
    h.x1 = x;
    h.y2 = h.y1;
    h.y1 = y;
    v[i] = static_cast<float>(y);
  }
  SaveHistory(state, h);
}

}  // namespace sn::steer
