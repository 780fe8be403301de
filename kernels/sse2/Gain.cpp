// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnSSE2::ApplyGain(SNChunk&, int) {}

}  // namespace sn
