// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnSSE2::SurroundPhaseShift(BiquadState&, SNChunk&) {}
void CSNFnSSE2::FilterMono(const ButterworthCoeffs&, BiquadState&, SNBuffer<float>&) {}
void CSNFnSSE2::FilterSurround(const ButterworthCoeffs&, BiquadState&, SNChunk&) {}
void CSNFnSSE2::SplitFront(const ButterworthCoeffs&, BiquadState&, const SNChunk&, SNChunk&, SNChunk&) {}

}  // namespace sn
