// Input conversions of the scalar reference back end.
//
// Each sample's integer value is multiplied by its format's scale factor in
// double and rounded to float once. The product is exact in double for every
// format: the factors carry 22 significant bits and the values at most 31, so
// the single rounding is the only one. Lanes 6 and 7 are left alone.
//
// Player's thread; `src` holds frames x channels x bytes per sample (not read
// when frames is 0). The chunk grows by the SNBuffer rule; if storage cannot be
// obtained it ends up empty and nothing is written.
#include "kernels/PcmSamples.h"
#include "kernels/SNFn.h"

namespace sn {

namespace {

template <int Bits, int Channels>
void Convert(const uint8_t* src, uint32_t frames, SNChunk& out) {
  out.Resize(frames);
  constexpr size_t kBytes = Bits / 8;
  constexpr size_t kStride = kBytes * Channels;
  const double scale = pcm::kScale<Bits>;
  const uint32_t n = out.count;
  for (uint32_t i = 0; i < n; ++i) {
    float* lanes = out.data[i].lane;
    const uint8_t* p = src + i * kStride;
    for (int c = 0; c < Channels; ++c)
      lanes[pcm::kLanes<Channels>[c]] = static_cast<float>(static_cast<double>(pcm::Decode<Bits>(p + c * kBytes)) * scale);
    for (int z : pcm::kZeroLanes<Channels>) lanes[z] = 0.0f;
  }
}

}  // namespace

void CSNFnx87::ConvertMono8(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<8, 1>(s, n, out); }
void CSNFnx87::ConvertMono16(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<16, 1>(s, n, out); }
void CSNFnx87::ConvertMono24(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<24, 1>(s, n, out); }
void CSNFnx87::ConvertMono32(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<32, 1>(s, n, out); }
void CSNFnx87::ConvertStereo8(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<8, 2>(s, n, out); }
void CSNFnx87::ConvertStereo16(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<16, 2>(s, n, out); }
void CSNFnx87::ConvertStereo24(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<24, 2>(s, n, out); }
void CSNFnx87::ConvertStereo32(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<32, 2>(s, n, out); }
void CSNFnx87::ConvertFive16(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<16, 5>(s, n, out); }
void CSNFnx87::ConvertFive24(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<24, 5>(s, n, out); }
void CSNFnx87::ConvertFive32(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<32, 5>(s, n, out); }
void CSNFnx87::ConvertSix16(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<16, 6>(s, n, out); }
void CSNFnx87::ConvertSix24(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<24, 6>(s, n, out); }
void CSNFnx87::ConvertSix32(const uint8_t* s, uint32_t n, SNChunk& out) { Convert<32, 6>(s, n, out); }

// Formats without a conversion: silence in lanes 0..5, no source read.
void CSNFnx87::ConvertSilence(uint32_t frames, SNChunk& out) {
  out.Resize(frames);
  for (uint32_t i = 0; i < out.count; ++i)
    for (int l = 0; l < 6; ++l) out.data[i].lane[l] = 0.0f;
}

}  // namespace sn
