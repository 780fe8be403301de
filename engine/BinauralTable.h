// The binaural filter tables of the headphone renderer, one per supported
// rate: 20 impulse responses of 8192 taps each, 32-bit floats, one response
// after the other (655,360 bytes), held in the library's read-only data.
// Response index = set x 10 + channel x 2 + ear: set 0 Music, 1 Movie
// (Config.HeadphonesMode); channel 0..4 = L, R, C, SL, SR; ear 0 left, 1 right.
//
// Both tables come from the same measurements and rooms (tools/binaural-gen):
// the same frequency responses and the same delays in seconds, so a stream
// sounds the same at 44100 and at 48000 Hz. The ear on the loudspeaker's side
// (both ears for C) peaks at tap 0 and the far ear starts about 250 us (front)
// or 520 us (surround) later: 11 or 23 taps at 44100 Hz, 12 or 25 at 48000 Hz;
// each response has decayed to exact zeros from 139 ms on (tap 6144 at
// 44100 Hz, 6687 at 48000 Hz). Any thread may read them at any time; they are
// never written. The bytes are engine/data/binaural_44100.f32 and
// binaural_48000.f32 (little-endian), embedded by BinauralTable.S and 16-byte
// aligned.
#pragma once

#include <bit>
#include <cstdint>

namespace sn {

inline constexpr int kBinauralTaps = 8192;
inline constexpr int kBinauralResponses = 20;

static_assert(std::endian::native == std::endian::little, "the embedded tables hold little-endian floats");

}  // namespace sn

extern "C" __attribute__((visibility("hidden"))) const float
    sn_BinauralTable44100[sn::kBinauralResponses * sn::kBinauralTaps];
extern "C" __attribute__((visibility("hidden"))) const float
    sn_BinauralTable48000[sn::kBinauralResponses * sn::kBinauralTaps];

namespace sn {

// Response r of a table starts at table + r * kBinauralTaps.
inline constexpr const float (&BinauralTable44100)[kBinauralResponses * kBinauralTaps] = sn_BinauralTable44100;
inline constexpr const float (&BinauralTable48000)[kBinauralResponses * kBinauralTaps] = sn_BinauralTable48000;

// The table for `sampleRate`, or null at a rate that has none.
inline const float* BinauralTableFor(uint32_t sampleRate) {
  if (sampleRate == 44100) return BinauralTable44100;
  if (sampleRate == 48000) return BinauralTable48000;
  return nullptr;
}

}  // namespace sn
