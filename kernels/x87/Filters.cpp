// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::SurroundPhaseShift(BiquadState&, SNChunk&) {}
void CSNFnx87::FilterMono(const ButterworthCoeffs&, BiquadState&, SNBuffer<float>&) {}
void CSNFnx87::FilterSurround(const ButterworthCoeffs&, BiquadState&, SNChunk&) {}
void CSNFnx87::SplitFront(const ButterworthCoeffs&, BiquadState&, const SNChunk&, SNChunk&, SNChunk&) {}

}  // namespace sn
