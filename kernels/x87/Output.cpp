// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::ConvertToOutput16(const SNChunk& chunk, SNBuffer<OutFrame16>& out) { out.Resize(chunk.count, true); }
void CSNFnx87::ConvertToOutput24(const SNChunk& chunk, SNBuffer<OutFrame24>& out) { out.Resize(chunk.count, true); }

}  // namespace sn
