// Not built yet: no delay.
#include "kernels/SNFn.h"

namespace sn {

void DelayChannelsShared(SNChunk&, int) {}

}  // namespace sn
