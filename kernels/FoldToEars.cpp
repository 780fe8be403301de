#include "kernels/SNFn.h"

namespace sn {

void FoldToEarsShared(SNChunk& chunk) {
  constexpr double kMinus3dB = 0.70710678118654752;
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    const double c = f[2];
    f[0] = static_cast<float>(f[0] + kMinus3dB * (c + f[4]));
    f[1] = static_cast<float>(f[1] + kMinus3dB * (c + f[5]));
  }
}

}  // namespace sn
