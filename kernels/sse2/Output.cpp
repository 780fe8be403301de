// Output conversions of the SSE2 back end.
//
// 16-bit: x * 32768 in single precision, rounded to the nearest integer with
// ties to even (cvtps2dq under the default rounding mode), saturated to
// -32768..32767. 24-bit: x * 2^31 rounded the same way; its upper 24 bits are
// the sample, which rounds toward minus infinity between two codes. Values at
// or above 1.0 give the largest code and values at or below -1.0 the smallest.
//
// cvtps2dq answers 0x80000000 for NaN and for anything out of the 32-bit range,
// so the scaled values are clamped in float first and NaN is turned into 0
// (silence), the same as the scalar back end. Lanes 6 and 7 are converted along
// but never reach the output.
//
// Frames are read as two aligned halves. A 16-bit frame is stored as one
// 16-byte vector and a 24-bit frame as three 8-byte pieces (bytes 0..7, 6..13,
// 12..19), so each store runs at most 4 bytes past its frame: the next frame
// overwrites them, and behind the last frame they fall into the 16 spare bytes.
// Player's thread; the destination grows by the SNBuffer rule and ends up empty
// if storage cannot be obtained.
#include <emmintrin.h>

#include "kernels/SNFn.h"

namespace sn {

namespace {

inline __m128 ZeroNaN(__m128 x) { return _mm_and_ps(x, _mm_cmpeq_ps(x, x)); }

}  // namespace

void CSNFnSSE2::ConvertToOutput16(const SNChunk& chunk, SNBuffer<OutFrame16>& out) {
  out.Resize(chunk.count);
  const __m128 full = _mm_set1_ps(32768.0f);
  const __m128 top = _mm_set1_ps(32767.0f);
  const __m128 bottom = _mm_set1_ps(-32768.0f);
  auto codes = [&](__m128 x) {
    const __m128 y = _mm_mul_ps(ZeroNaN(x), full);
    return _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(y, top), bottom));
  };
  uint8_t* d = out.data ? out.data[0].bytes : nullptr;
  for (uint32_t i = 0; i < out.count; ++i, d += sizeof(OutFrame16)) {
    const float* f = chunk.data[i].lane;
    const __m128i packed = _mm_packs_epi32(codes(_mm_load_ps(f)), codes(_mm_load_ps(f + 4)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), packed);
  }
}

void CSNFnSSE2::ConvertToOutput24(const SNChunk& chunk, SNBuffer<OutFrame24>& out) {
  out.Resize(chunk.count);
  const __m128 belowOne = _mm_set1_ps(0x1.fffffep-1f);  // 1 - 2^-24: gives 2^31 - 128, code 8388607
  const __m128 minusOne = _mm_set1_ps(-1.0f);
  const __m128 scale = _mm_set1_ps(2147483648.0f);
  const __m128i evenLane = _mm_setr_epi32(-1, 0, -1, 0);
  const __m128i oddLane = _mm_setr_epi32(0, -1, 0, -1);
  // 24-bit codes with a zero top byte, then each pair of lanes packed into the
  // low 6 bytes of its 64-bit half.
  auto packed = [&](__m128 x) {
    const __m128 y = _mm_mul_ps(_mm_max_ps(_mm_min_ps(ZeroNaN(x), belowOne), minusOne), scale);
    const __m128i c = _mm_srli_epi32(_mm_cvtps_epi32(y), 8);
    return _mm_or_si128(_mm_and_si128(c, evenLane), _mm_srli_epi64(_mm_and_si128(c, oddLane), 8));
  };
  uint8_t* d = out.data ? out.data[0].bytes : nullptr;
  for (uint32_t i = 0; i < out.count; ++i, d += sizeof(OutFrame24)) {
    const float* f = chunk.data[i].lane;
    const __m128i lo = packed(_mm_load_ps(f));      // L R | C LFE
    const __m128i hi = packed(_mm_load_ps(f + 4));  // SL SR | -
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 6), _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12), hi);
  }
}

}  // namespace sn
