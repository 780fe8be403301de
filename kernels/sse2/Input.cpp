// Input conversions of the SSE2 back end.
//
// Samples are widened to 32-bit integers four at a time, converted to float
// and multiplied by the format's scale factor in single precision. For 8-, 16-
// and 24-bit input the integer is exact as a float and the float product is
// rounded once, so the frames are bit-identical to the scalar back end's; 32-bit
// integers are rounded to float before the multiply and may differ from it in
// the last bit. Every frame is written whole with two aligned stores: lanes 0..5
// as the placement asks, lanes 6 and 7 zero.
//
// The source is read exactly (no byte past frames x frame size is touched), so
// blocks of any length and alignment from the player are safe. Mono and stereo
// blocks go four frames per step; five- and six-channel blocks one frame per
// step. Player's thread; the chunk grows by the SNBuffer rule and ends up empty
// if storage cannot be obtained.
#include <emmintrin.h>

#include <cstring>

#include "kernels/PcmSamples.h"
#include "kernels/SNFn.h"

namespace sn {

namespace {

inline __m128i LoadLow32(const uint8_t* p) {
  int32_t w;
  std::memcpy(&w, p, 4);
  return _mm_cvtsi32_si128(w);
}

// Integer sample values in 32-bit lanes, as pcm::Decode gives them. Load4
// reads four consecutive samples; Load2 and Load1 fewer, upper lanes zero.
template <int Bits>
struct Source;

template <>
struct Source<8> {
  static __m128i Load4(const uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    __m128i x = _mm_unpacklo_epi8(LoadLow32(p), zero);
    x = _mm_unpacklo_epi16(x, zero);
    return _mm_sub_epi32(x, _mm_set1_epi32(128));
  }
  static __m128i Load2(const uint8_t* p) { return _mm_setr_epi32(pcm::Decode<8>(p), pcm::Decode<8>(p + 1), 0, 0); }
  static __m128i Load1(const uint8_t* p) { return _mm_cvtsi32_si128(pcm::Decode<8>(p)); }
};

template <>
struct Source<16> {
  static __m128i Widen(__m128i x) { return _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16); }
  static __m128i Load4(const uint8_t* p) { return Widen(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }
  static __m128i Load2(const uint8_t* p) { return Widen(LoadLow32(p)); }
  static __m128i Load1(const uint8_t* p) { return _mm_cvtsi32_si128(pcm::Decode<16>(p)); }
};

// Packed 3-byte samples spread into the upper three bytes of each 32-bit lane:
// sample k sits at byte 3k and must move to byte 4k + 1, a whole-register shift
// by k + 1 bytes, after which a mask keeps its lane. Bytes past the samples
// loaded are zero, so their lanes come out zero.
template <>
struct Source<24> {
  static __m128i Spread(__m128i x) {
    constexpr int32_t kTop = static_cast<int32_t>(0xFFFFFF00u);
    const __m128i m0 = _mm_setr_epi32(kTop, 0, 0, 0);
    const __m128i m1 = _mm_setr_epi32(0, kTop, 0, 0);
    const __m128i m2 = _mm_setr_epi32(0, 0, kTop, 0);
    const __m128i m3 = _mm_setr_epi32(0, 0, 0, kTop);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_si128(x, 1), m0), _mm_and_si128(_mm_slli_si128(x, 2), m1)),
                        _mm_or_si128(_mm_and_si128(_mm_slli_si128(x, 3), m2), _mm_and_si128(_mm_slli_si128(x, 4), m3)));
  }
  static __m128i Load4(const uint8_t* p) {  // 12 bytes
    return Spread(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), LoadLow32(p + 8)));
  }
  static __m128i Load2(const uint8_t* p) {  // 6 bytes
    return Spread(_mm_insert_epi16(LoadLow32(p), p[4] | (p[5] << 8), 2));
  }
  static __m128i Load1(const uint8_t* p) { return _mm_cvtsi32_si128(pcm::Decode<24>(p)); }
};

template <>
struct Source<32> {
  static __m128i Load4(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static __m128i Load2(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
  static __m128i Load1(const uint8_t* p) { return LoadLow32(p); }
};

inline void StoreFrame(SNCHUNK_INTCHUNK& f, __m128 lo, __m128 hi) {
  _mm_store_ps(f.lane, lo);
  _mm_store_ps(f.lane + 4, hi);
}

template <int K>
inline __m128 OnlyCentre(__m128 v, __m128 centreMask) {
  return _mm_and_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(K, K, K, K)), centreMask);
}

template <int Bits>
void ConvertMono(const uint8_t* src, uint32_t frames, SNChunk& out) {
  out.Resize(frames);
  constexpr size_t kBytes = Bits / 8;
  const __m128 scale = _mm_set1_ps(pcm::kScale<Bits>);
  const __m128 zero = _mm_setzero_ps();
  const __m128 centre = _mm_castsi128_ps(_mm_setr_epi32(0, 0, -1, 0));
  const uint32_t n = out.count;
  SNCHUNK_INTCHUNK* f = out.data;
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load4(src + i * kBytes)), scale);
    StoreFrame(f[i], OnlyCentre<0>(v, centre), zero);
    StoreFrame(f[i + 1], OnlyCentre<1>(v, centre), zero);
    StoreFrame(f[i + 2], OnlyCentre<2>(v, centre), zero);
    StoreFrame(f[i + 3], OnlyCentre<3>(v, centre), zero);
  }
  for (; i < n; ++i) {
    const __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load1(src + i * kBytes)), scale);
    StoreFrame(f[i], _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 1, 1)), zero);  // (0, 0, v, 0)
  }
}

template <int Bits>
void ConvertStereo(const uint8_t* src, uint32_t frames, SNChunk& out) {
  out.Resize(frames);
  constexpr size_t kBytes = Bits / 8;
  const __m128 scale = _mm_set1_ps(pcm::kScale<Bits>);
  const __m128 zero = _mm_setzero_ps();
  const uint32_t n = out.count;
  SNCHUNK_INTCHUNK* f = out.data;
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const uint8_t* p = src + i * 2 * kBytes;
    const __m128 a = _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load4(p)), scale);               // L0 R0 L1 R1
    const __m128 b = _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load4(p + 4 * kBytes)), scale);  // L2 R2 L3 R3
    StoreFrame(f[i], _mm_movelh_ps(a, zero), zero);
    StoreFrame(f[i + 1], _mm_movehl_ps(zero, a), zero);
    StoreFrame(f[i + 2], _mm_movelh_ps(b, zero), zero);
    StoreFrame(f[i + 3], _mm_movehl_ps(zero, b), zero);
  }
  for (; i < n; ++i)
    StoreFrame(f[i], _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load2(src + i * 2 * kBytes)), scale), zero);
}

// Five channels: L R C SL SR to lanes 0 1 2 4 5, LFE zero. Six: in lane order.
template <int Bits, int Channels>
void ConvertMulti(const uint8_t* src, uint32_t frames, SNChunk& out) {
  static_assert(Channels == 5 || Channels == 6);
  out.Resize(frames);
  constexpr size_t kBytes = Bits / 8;
  const __m128 scale = _mm_set1_ps(pcm::kScale<Bits>);
  const __m128 front = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, Channels == 6 ? -1 : 0));
  const uint32_t n = out.count;
  SNCHUNK_INTCHUNK* f = out.data;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = src + i * Channels * kBytes;
    const __m128 lo = _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load4(p)), scale);
    const __m128 hi = _mm_mul_ps(_mm_cvtepi32_ps(Source<Bits>::Load2(p + (Channels - 2) * kBytes)), scale);
    StoreFrame(f[i], _mm_and_ps(lo, front), hi);
  }
}

}  // namespace

void CSNFnSSE2::ConvertMono8(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMono<8>(s, n, out); }
void CSNFnSSE2::ConvertMono16(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMono<16>(s, n, out); }
void CSNFnSSE2::ConvertMono24(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMono<24>(s, n, out); }
void CSNFnSSE2::ConvertMono32(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMono<32>(s, n, out); }
void CSNFnSSE2::ConvertStereo8(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertStereo<8>(s, n, out); }
void CSNFnSSE2::ConvertStereo16(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertStereo<16>(s, n, out); }
void CSNFnSSE2::ConvertStereo24(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertStereo<24>(s, n, out); }
void CSNFnSSE2::ConvertStereo32(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertStereo<32>(s, n, out); }
void CSNFnSSE2::ConvertFive16(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMulti<16, 5>(s, n, out); }
void CSNFnSSE2::ConvertFive24(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMulti<24, 5>(s, n, out); }
void CSNFnSSE2::ConvertFive32(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMulti<32, 5>(s, n, out); }
void CSNFnSSE2::ConvertSix16(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMulti<16, 6>(s, n, out); }
void CSNFnSSE2::ConvertSix24(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMulti<24, 6>(s, n, out); }
void CSNFnSSE2::ConvertSix32(const uint8_t* s, uint32_t n, SNChunk& out) { ConvertMulti<32, 6>(s, n, out); }

// Formats without a conversion: whole frames of zeros, no source read.
void CSNFnSSE2::ConvertSilence(uint32_t frames, SNChunk& out) {
  out.Resize(frames);
  const __m128 zero = _mm_setzero_ps();
  for (uint32_t i = 0; i < out.count; ++i) StoreFrame(out.data[i], zero, zero);
}

}  // namespace sn
