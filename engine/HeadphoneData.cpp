// Not built yet.
#include "engine/HeadphoneData.h"

#include "engine/DspState.h"

namespace sn {

void BuildHeadphoneData() {}
void ReleaseHeadphoneData() { Dsp.HeadphoneReady = 0; }
void ConvolveBlockCpu(int) {}

}  // namespace sn
