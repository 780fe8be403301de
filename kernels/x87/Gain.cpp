// Master gain and trims, scalar reference back end.
//
// With trims, lane i becomes x * (master * trim[i]) for lanes 0..5, the factor
// and the product formed in double and rounded to float once when stored. The
// LFE inversion is already folded into trim[3]. Without trims (headphone
// output) lanes 0 and 1 carry the master gain alone and lanes 2..5 are set to
// 0.0 whatever they held. Lanes 6 and 7 are left alone.
//
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::ApplyGain(const GainSet& k, int withTrims, SNChunk& chunk) {
  const double master = k.master;
  const uint32_t n = chunk.count;
  if (withTrims) {
    double factor[6];
    for (int l = 0; l < 6; ++l) factor[l] = master * static_cast<double>(k.trim[l]);
    for (uint32_t i = 0; i < n; ++i) {
      float* x = chunk.data[i].lane;
      for (int l = 0; l < 6; ++l) x[l] = static_cast<float>(static_cast<double>(x[l]) * factor[l]);
    }
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    float* x = chunk.data[i].lane;
    x[0] = static_cast<float>(static_cast<double>(x[0]) * master);
    x[1] = static_cast<float>(static_cast<double>(x[1]) * master);
    for (int l = 2; l < 6; ++l) x[l] = 0.0f;
  }
}

}  // namespace sn
