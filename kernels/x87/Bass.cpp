// Bass redirection of the scalar back end.
//
// L, R and C each pass the crossover high-pass (LfeCrossoverHp, history in
// columns 0 to 2 of the state block) and keep what lies above the cutoff; what
// the filter took out, x - y, goes to the LFE lane at 0.316 (about -10 dB),
// added lane by lane in the order L, R, C and rounded to float each time. The
// LFE lane's own content stays; SL, SR and lanes 6 and 7 are not touched. So
// for every frame and lane, new value + (its LFE share) / 0.316 = old value.
#include "kernels/SNFn.h"
#include "kernels/x87/Biquad.h"

namespace sn {

void CSNFnx87::RedirectBass(const ButterworthCoeffs& c, BiquadState& state, SNChunk& chunk) {
  constexpr double toLfe = 0.316f;
  x87::BiquadLane hp[3] = {{c, state, 0}, {c, state, 1}, {c, state, 2}};
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    for (int lane = 0; lane < 3; ++lane) {
      const float x = f[lane];
      const float y = hp[lane].Step(x);
      f[lane] = y;
      f[3] = static_cast<float>(f[3] + toLfe * (static_cast<double>(x) - y));
    }
  }
  for (int lane = 0; lane < 3; ++lane) hp[lane].Save(state, lane);
}

}  // namespace sn
