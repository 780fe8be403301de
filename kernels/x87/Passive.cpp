// The passive 3/1 decoder of the scalar back end: a fixed matrix, no memory.
//   L = 0.707 l, R = 0.707 r, C = 0.5 l + 0.5 r, LFE = 0, SL = SR = 0.5 l - 0.5 r
// (0.707 is the float nearest 0.707, not 1/sqrt 2). Lanes 6 and 7 are left alone.
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::DecodePassive(SNChunk& chunk) {
  for (uint32_t i = 0; i < chunk.count; ++i) {
    float* f = chunk.data[i].lane;
    const double l = f[0];
    const double r = f[1];
    const float s = static_cast<float>(0.5 * l - 0.5 * r);
    f[0] = static_cast<float>(static_cast<double>(0.707f) * l);
    f[1] = static_cast<float>(static_cast<double>(0.707f) * r);
    f[2] = static_cast<float>(0.5 * l + 0.5 * r);
    f[3] = 0.0f;
    f[4] = s;
    f[5] = s;
  }
}

}  // namespace sn
