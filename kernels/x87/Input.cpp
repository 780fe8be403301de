// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnx87::ConvertMono8(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertMono16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertMono24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertMono32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertStereo8(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertStereo16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertStereo24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertStereo32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertFive16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertFive24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertFive32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertSix16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertSix24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertSix32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnx87::ConvertSilence(uint32_t frames, SNChunk& out) { out.Resize(frames, true); }

}  // namespace sn
