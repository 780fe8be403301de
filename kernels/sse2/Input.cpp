// Not built yet: the chunk passes unchanged (the engine's rule for a mode
// without a kernel).
#include "kernels/SNFn.h"

namespace sn {

void CSNFnSSE2::ConvertMono8(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertMono16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertMono24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertMono32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertStereo8(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertStereo16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertStereo24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertStereo32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertFive16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertFive24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertFive32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertSix16(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertSix24(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertSix32(const uint8_t*, uint32_t frames, SNChunk& out) { out.Resize(frames, true); }
void CSNFnSSE2::ConvertSilence(uint32_t frames, SNChunk& out) { out.Resize(frames, true); }

}  // namespace sn
