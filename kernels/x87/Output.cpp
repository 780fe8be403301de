// Output conversions of the scalar reference back end.
//
// Each of lanes 0..5 is scaled by the full-scale factor in double (exact),
// truncated toward zero and clipped to the output range; the frames are not
// modified. The clip is decided on the scaled value before it is converted, so
// out-of-range values and infinities never reach the integer conversion, and NaN
// becomes 0 (silence). No dither.
//
// Player's thread. The destination grows by the SNBuffer rule; if storage
// cannot be obtained it ends up empty and nothing is written.
#include "kernels/SNFn.h"

namespace sn {

namespace {

template <int32_t Full>
inline int32_t TruncateAndClip(float x) {
  const double y = static_cast<double>(x) * Full;
  if (y >= Full - 1) return Full - 1;  // truncation gives Full - 1 or more exactly here
  if (y <= -Full) return -Full;
  if (y != y) return 0;
  return static_cast<int32_t>(y);
}

}  // namespace

void CSNFnx87::ConvertToOutput16(const SNChunk& chunk, SNBuffer<OutFrame16>& out) {
  out.Resize(chunk.count);
  for (uint32_t i = 0; i < out.count; ++i) {
    uint8_t* d = out.data[i].bytes;
    for (int l = 0; l < 6; ++l, d += 2) {
      const uint32_t v = static_cast<uint32_t>(TruncateAndClip<32768>(chunk.data[i].lane[l]));
      d[0] = static_cast<uint8_t>(v);
      d[1] = static_cast<uint8_t>(v >> 8);
    }
  }
}

void CSNFnx87::ConvertToOutput24(const SNChunk& chunk, SNBuffer<OutFrame24>& out) {
  out.Resize(chunk.count);
  for (uint32_t i = 0; i < out.count; ++i) {
    uint8_t* d = out.data[i].bytes;
    for (int l = 0; l < 6; ++l, d += 3) {
      const uint32_t v = static_cast<uint32_t>(TruncateAndClip<8388608>(chunk.data[i].lane[l]));
      d[0] = static_cast<uint8_t>(v);
      d[1] = static_cast<uint8_t>(v >> 8);
      d[2] = static_cast<uint8_t>(v >> 16);
    }
  }
}

}  // namespace sn
