// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::DecodeActive(SNChunk&) {}
void CSNFnx87::ComputeSteering(BiquadState&, BiquadState&, const SNChunk&, SNBuffer<float>&, SNBuffer<float>&) {}

}  // namespace sn
