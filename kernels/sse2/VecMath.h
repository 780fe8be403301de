// Four-lane natural logarithm and exponential of the SSE2 back end.
//
// Both are the classic range-reduced rational approximations, built on the
// processor's approximate reciprocal (rcpps, relative error at most 1.5 x 2^-12),
// so they are good to roughly 12 bits: |VecLog(x) - ln x| stays below 2^-11 and
// VecExp(x) / e^x - 1 below 2^-11. The scalar back end uses the C runtime's log
// and exp instead, so the two back ends' active decoders differ by this much.
// Every constant is the float whose bit pattern is given beside it. Pure
// functions, any thread.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace sn::vecmath {

inline __m128 Splat(uint32_t bits) { return _mm_castsi128_ps(_mm_set1_epi32(static_cast<int32_t>(bits))); }

// ln x per lane. Zero, negative values and NaN are taken as the smallest normal
// float 2^-126 (result -87.3365). The argument is split into 2^e x m with
// 1 <= m < 2; ln m = z + z^3 P(z^2) / Q(z^2) with z = 2 (m - 1) / (m + 1).
inline __m128 VecLog(__m128 x) {
  const __m128 one = _mm_set1_ps(1.0f);
  x = _mm_max_ps(x, Splat(0x00800000u));  // the second operand wins for NaN
  const __m128i bits = _mm_castps_si128(x);
  const __m128 e = _mm_cvtepi32_ps(_mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(127)));
  const __m128 m = _mm_castsi128_ps(
      _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(static_cast<int32_t>(0x807FFFFFu))), _mm_set1_epi32(0x3F800000)));
  const __m128 z = _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(2.0f), _mm_sub_ps(m, one)), _mm_rcp_ps(_mm_add_ps(m, one)));
  const __m128 w = _mm_mul_ps(z, z);
  const __m128 p = _mm_add_ps(
      _mm_mul_ps(_mm_add_ps(_mm_mul_ps(Splat(0xBF4A21EFu), w), Splat(0x418317E4u)), w), Splat(0xC2804831u));
  const __m128 q = _mm_add_ps(
      _mm_mul_ps(_mm_add_ps(_mm_mul_ps(Splat(0xC20EB06Au), w), Splat(0x439C0C01u)), w), Splat(0xC4406C49u));
  const __m128 poly = _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(w, p), _mm_rcp_ps(q)), z);
  return _mm_add_ps(_mm_add_ps(poly, z), _mm_mul_ps(e, Splat(0x3F317218u)));
}

// e^x per lane for x clamped to [-88.37626, 88.37626] (NaN counts as the upper
// bound). x = n ln 2 + g with |g| <= ln 2 / 2 (ln 2 split in two parts so that
// n ln 2 is exact); e^g = 1 + 2 p / (Q - p) with p = g + g f P(f), f = g^2; the
// result is scaled by 2^n built in the exponent field. At the lower bound 2^n
// is 0, so every x <= -88.37626 gives 0. Meant for arguments well inside the
// range (the decoder's lie in [-2, 0]): at the upper bound 2^n overflows to
// infinity.
inline __m128 VecExp(__m128 x) {
  const __m128 one = _mm_set1_ps(1.0f);
  x = _mm_min_ps(x, Splat(0x42B0C0A5u));  // the second operand wins for NaN
  x = _mm_max_ps(x, Splat(0xC2B0C0A5u));
  const __m128 t = _mm_add_ps(_mm_mul_ps(Splat(0x3FB8AA3Bu), x), _mm_set1_ps(0.5f));
  // Truncate, then step down where t <= 0 (the comparison mask is -1).
  const __m128i n = _mm_add_epi32(_mm_cvttps_epi32(t), _mm_castps_si128(_mm_cmple_ps(t, _mm_setzero_ps())));
  const __m128 nf = _mm_cvtepi32_ps(n);
  const __m128 g = _mm_sub_ps(_mm_sub_ps(x, _mm_mul_ps(nf, Splat(0x35BFBE8Eu))), _mm_mul_ps(nf, Splat(0x3F317200u)));
  const __m128 f = _mm_mul_ps(g, g);
  const __m128 p = _mm_add_ps(
      g, _mm_mul_ps(_mm_mul_ps(g, f), _mm_add_ps(_mm_mul_ps(Splat(0x39044E6Fu), f), Splat(0x3CF83688u))));
  const __m128 q = _mm_add_ps(
      _mm_mul_ps(
          _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(Splat(0x364975B6u), f), Splat(0x3B2571CEu)), f),
                     Splat(0x3E68B84Du)),
          f),
      _mm_set1_ps(2.0f));
  const __m128 s = _mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(n, _mm_set1_epi32(127)), 23));
  const __m128 r = _mm_add_ps(one, _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(2.0f), p), _mm_rcp_ps(_mm_sub_ps(q, p))));
  return _mm_mul_ps(r, s);
}

}  // namespace sn::vecmath
