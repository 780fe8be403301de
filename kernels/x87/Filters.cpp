// Filter primitives of the scalar back end: the second-order section on lanes,
// on a float vector and as a band split, and the surround phase network.
//
// Each sample's output is evaluated in double from float inputs, coefficients
// and state, and rounded to float once where it is stored (in the lane and in
// the state block). The state blocks are the caller's; the filters only update
// them, so a chunk of 0 frames leaves them as they were. Lanes this back end
// does not own (6 and 7, and every lane a filter does not work on) are left
// alone, so junk there never reaches a result.
#include "kernels/SNFn.h"
#include "kernels/x87/Biquad.h"

namespace sn {

namespace {

// The phase network's four section coefficients, in stage order.
constexpr float kPhaseShift[4] = {0.1617585f, 0.73302895f, 0.9453497f, 0.99059916f};

}  // namespace

// Four stages of (k - z^-2) / (1 - k z^-2) in direct form I that all read and
// shift one shared set of state rows per lane: stage s takes the previous
// stage's output as input and updates x1, x2, y1, y2 exactly as a biquad would.
// Because the state is shared, the network is one recursive filter of its own
// (near-unity gain, phase falling through -180 degrees near fs / 4), not a
// cascade of four independent all-pass sections.
void CSNFnx87::SurroundPhaseShift(BiquadState& state, SNChunk& chunk) {
  for (int lane = 4; lane <= 5; ++lane) {
    float x1 = state.x1[lane], x2 = state.x2[lane], y1 = state.y1[lane], y2 = state.y2[lane];
    for (uint32_t i = 0; i < chunk.count; ++i) {
      float v = chunk.data[i].lane[lane];
      for (float k : kPhaseShift) {
        const float y = static_cast<float>(static_cast<double>(k) * (static_cast<double>(v) + y2) - x2);
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y;
        v = y;
      }
      chunk.data[i].lane[lane] = v;
    }
    state.x1[lane] = x1;
    state.x2[lane] = x2;
    state.y1[lane] = y1;
    state.y2[lane] = y2;
  }
}

void CSNFnx87::FilterMono(const ButterworthCoeffs& c, BiquadState& state, SNBuffer<float>& v) {
  x87::BiquadLane f(c, state, 0);
  for (uint32_t i = 0; i < v.count; ++i) v.data[i] = f.Step(v.data[i]);
  f.Save(state, 0);
}

void CSNFnx87::FilterSurround(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) {
  x87::BiquadLane sl(c, state, 4), sr(c, state, 5);
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    f[4] = sl.Step(f[4]);
    f[5] = sr.Step(f[5]);
  }
  sl.Save(state, 4);
  sr.Save(state, 5);
}

// The band split writes lanes 0 and 1 of both outputs (the filtered band y and
// the remainder x - y, so the two add up to the source) and zeroes their other
// lanes. The outputs are sized to the source's count by the growth rule; if
// that storage cannot be had nothing is written and the state stands still.
void CSNFnx87::SplitFront(const ButterworthCoeffs& c, BiquadState& state, const SNChunk& chunk, SNChunk& band,
                          SNChunk& complement) {
  const uint32_t n = chunk.count;
  band.Resize(n);
  complement.Resize(n);
  if (band.count != n || complement.count != n) return;
  x87::BiquadLane fl(c, state, 0), fr(c, state, 1);
  for (uint32_t i = 0; i < n; ++i) {
    const float* src = chunk.data[i].lane;
    const float yl = fl.Step(src[0]);
    const float yr = fr.Step(src[1]);
    band.data[i] = SNCHUNK_INTCHUNK{{yl, yr, 0, 0, 0, 0, 0, 0}};
    complement.data[i] = SNCHUNK_INTCHUNK{{src[0] - yl, src[1] - yr, 0, 0, 0, 0, 0, 0}};
  }
  fl.Save(state, 0);
  fr.Save(state, 1);
}

}  // namespace sn
