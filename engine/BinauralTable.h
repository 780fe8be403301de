// The binaural filter table of the headphone renderer: 20 impulse responses of
// 8192 taps, 32-bit floats, one response after the other (655,360 bytes), held
// in the library's read-only data. Response index = set x 10 + channel x 2 +
// ear: set 0 Music, 1 Movie (Config.HeadphonesMode); channel 0..4 = L, R, C, SL,
// SR; ear 0 left, 1 right. The same taps serve 44100 and 48000 Hz. The ear on
// the loudspeaker's side (both ears for C) peaks at tap 0 and the far ear starts
// about 11 (front) or 23 (surround) taps later; each response has decayed to
// exact zeros over its last 2048 taps. Any thread may read it at any time; it
// is never written. The bytes are engine/data/binaural_table.f32 (little-endian,
// made by tools/binaural-gen), embedded by BinauralTable.S and 16-byte aligned.
#pragma once

#include <bit>

namespace sn {

inline constexpr int kBinauralTaps = 8192;
inline constexpr int kBinauralResponses = 20;

static_assert(std::endian::native == std::endian::little, "the embedded table holds little-endian floats");

}  // namespace sn

extern "C" __attribute__((visibility("hidden"))) const float
    sn_BinauralTable[sn::kBinauralResponses * sn::kBinauralTaps];

namespace sn {

// Response r starts at BinauralTable + r * kBinauralTaps.
inline constexpr const float (&BinauralTable)[kBinauralResponses * kBinauralTaps] = sn_BinauralTable;

}  // namespace sn
