#include "engine/CpuFft.h"

#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#define SN_FFT_SSE2 1
#endif

namespace sn {

namespace {

constexpr uint32_t kM = CpuRealFft::kHalf;  // points of the complex transform
constexpr uint32_t kStride = CpuRealFft::kBinsPadded;
// Floats of the radix-4 twiddles: six arrays of n/4 for n = 8192, 2048, ..., 8.
constexpr uint32_t kTwiddleFloats = 6 * (2048 + 512 + 128 + 32 + 8 + 2);

#if defined(SN_FFT_SSE2)
inline __m128 Reverse(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
#endif

}  // namespace

CpuRealFft::CpuRealFft(bool vector) : vector_(vector) {}

CpuRealFft::~CpuRealFft() { Release(); }

bool CpuRealFft::Prepare() {
  if (ready_) return true;
  if (!twiddles_.Resize(kTwiddleFloats) || !post_.Resize(2 * kStride) || !work_.Resize(4 * kStride, true)) {
    Release();
    return false;
  }
  // Twiddles in double, rounded once: for each pass of length n, w^p, w^2p and
  // w^3p with w = e^(-2 pi i / n), p < n / 4.
  float* t = twiddles_.data;
  for (uint32_t n = kM; n >= 8; n /= 4) {
    const uint32_t m = n / 4;
    for (uint32_t j = 1; j <= 3; ++j)
      for (uint32_t p = 0; p < m; ++p) {
        const double a = -2.0 * std::numbers::pi * static_cast<double>(j * p) / n;
        t[(2 * (j - 1)) * m + p] = static_cast<float>(std::cos(a));
        t[(2 * (j - 1) + 1) * m + p] = static_cast<float>(std::sin(a));
      }
    t += 6 * m;
  }
  for (uint32_t k = 0; k < kStride; ++k) {
    const double a = 2.0 * std::numbers::pi * static_cast<double>(k) / kSize;
    post_.data[k] = static_cast<float>(std::cos(a));
    post_.data[kStride + k] = static_cast<float>(-std::sin(a));
  }
  ready_ = true;
  return true;
}

void CpuRealFft::Release() {
  twiddles_.Release();
  post_.Release();
  work_.Release();
  ready_ = false;
}

// One radix-4 pass of the Stockham transform of length n at stride s: for every
// butterfly p < n / 4 and q < s, the four values n / 4 apart (times s) give
//   y[q + s(4p + k)] = w^(kp) x DFT4(a, b, c, d)[k],  w = e^(-2 pi i / n).
void CpuRealFft::Pass4(uint32_t n, uint32_t s, const float* tw, const float* xr, const float* xi, float* yr,
                       float* yi) {
  const uint32_t m = n / 4;
  const float* w1r = tw;
  const float* w1i = tw + m;
  const float* w2r = tw + 2 * m;
  const float* w2i = tw + 3 * m;
  const float* w3r = tw + 4 * m;
  const float* w3i = tw + 5 * m;
#if defined(SN_FFT_SSE2)
  if (vector_ && s >= 4) {
    for (uint32_t p = 0; p < m; ++p) {
      const __m128 c1 = _mm_set1_ps(w1r[p]), s1 = _mm_set1_ps(w1i[p]);
      const __m128 c2 = _mm_set1_ps(w2r[p]), s2 = _mm_set1_ps(w2i[p]);
      const __m128 c3 = _mm_set1_ps(w3r[p]), s3 = _mm_set1_ps(w3i[p]);
      const uint32_t i0 = s * p, i1 = s * (p + m), i2 = s * (p + 2 * m), i3 = s * (p + 3 * m);
      const uint32_t o = s * 4 * p;
      for (uint32_t q = 0; q < s; q += 4) {
        const __m128 ar = _mm_load_ps(xr + i0 + q), ai = _mm_load_ps(xi + i0 + q);
        const __m128 br = _mm_load_ps(xr + i1 + q), bi = _mm_load_ps(xi + i1 + q);
        const __m128 cr = _mm_load_ps(xr + i2 + q), ci = _mm_load_ps(xi + i2 + q);
        const __m128 dr = _mm_load_ps(xr + i3 + q), di = _mm_load_ps(xi + i3 + q);
        const __m128 apcR = _mm_add_ps(ar, cr), apcI = _mm_add_ps(ai, ci);
        const __m128 amcR = _mm_sub_ps(ar, cr), amcI = _mm_sub_ps(ai, ci);
        const __m128 bpdR = _mm_add_ps(br, dr), bpdI = _mm_add_ps(bi, di);
        const __m128 bmdR = _mm_sub_ps(br, dr), bmdI = _mm_sub_ps(bi, di);
        _mm_store_ps(yr + o + q, _mm_add_ps(apcR, bpdR));
        _mm_store_ps(yi + o + q, _mm_add_ps(apcI, bpdI));
        // X1 = (a - c) - i (b - d), X2 = (a + c) - (b + d), X3 = (a - c) + i (b - d).
        const __m128 x1r = _mm_add_ps(amcR, bmdI), x1i = _mm_sub_ps(amcI, bmdR);
        const __m128 x2r = _mm_sub_ps(apcR, bpdR), x2i = _mm_sub_ps(apcI, bpdI);
        const __m128 x3r = _mm_sub_ps(amcR, bmdI), x3i = _mm_add_ps(amcI, bmdR);
        _mm_store_ps(yr + o + s + q, _mm_sub_ps(_mm_mul_ps(x1r, c1), _mm_mul_ps(x1i, s1)));
        _mm_store_ps(yi + o + s + q, _mm_add_ps(_mm_mul_ps(x1r, s1), _mm_mul_ps(x1i, c1)));
        _mm_store_ps(yr + o + 2 * s + q, _mm_sub_ps(_mm_mul_ps(x2r, c2), _mm_mul_ps(x2i, s2)));
        _mm_store_ps(yi + o + 2 * s + q, _mm_add_ps(_mm_mul_ps(x2r, s2), _mm_mul_ps(x2i, c2)));
        _mm_store_ps(yr + o + 3 * s + q, _mm_sub_ps(_mm_mul_ps(x3r, c3), _mm_mul_ps(x3i, s3)));
        _mm_store_ps(yi + o + 3 * s + q, _mm_add_ps(_mm_mul_ps(x3r, s3), _mm_mul_ps(x3i, c3)));
      }
    }
    return;
  }
  if (vector_ && s == 1 && m % 4 == 0) {
    // Four butterflies at once; their outputs lie 4p + k apart, so each
    // group of sixteen is transposed into place.
    for (uint32_t p = 0; p < m; p += 4) {
      const __m128 ar = _mm_load_ps(xr + p), ai = _mm_load_ps(xi + p);
      const __m128 br = _mm_load_ps(xr + p + m), bi = _mm_load_ps(xi + p + m);
      const __m128 cr = _mm_load_ps(xr + p + 2 * m), ci = _mm_load_ps(xi + p + 2 * m);
      const __m128 dr = _mm_load_ps(xr + p + 3 * m), di = _mm_load_ps(xi + p + 3 * m);
      const __m128 apcR = _mm_add_ps(ar, cr), apcI = _mm_add_ps(ai, ci);
      const __m128 amcR = _mm_sub_ps(ar, cr), amcI = _mm_sub_ps(ai, ci);
      const __m128 bpdR = _mm_add_ps(br, dr), bpdI = _mm_add_ps(bi, di);
      const __m128 bmdR = _mm_sub_ps(br, dr), bmdI = _mm_sub_ps(bi, di);
      const __m128 x1r = _mm_add_ps(amcR, bmdI), x1i = _mm_sub_ps(amcI, bmdR);
      const __m128 x2r = _mm_sub_ps(apcR, bpdR), x2i = _mm_sub_ps(apcI, bpdI);
      const __m128 x3r = _mm_sub_ps(amcR, bmdI), x3i = _mm_add_ps(amcI, bmdR);
      const __m128 c1 = _mm_load_ps(w1r + p), s1 = _mm_load_ps(w1i + p);
      const __m128 c2 = _mm_load_ps(w2r + p), s2 = _mm_load_ps(w2i + p);
      const __m128 c3 = _mm_load_ps(w3r + p), s3 = _mm_load_ps(w3i + p);
      __m128 r0 = _mm_add_ps(apcR, bpdR), i0 = _mm_add_ps(apcI, bpdI);
      __m128 r1 = _mm_sub_ps(_mm_mul_ps(x1r, c1), _mm_mul_ps(x1i, s1));
      __m128 i1 = _mm_add_ps(_mm_mul_ps(x1r, s1), _mm_mul_ps(x1i, c1));
      __m128 r2 = _mm_sub_ps(_mm_mul_ps(x2r, c2), _mm_mul_ps(x2i, s2));
      __m128 i2 = _mm_add_ps(_mm_mul_ps(x2r, s2), _mm_mul_ps(x2i, c2));
      __m128 r3 = _mm_sub_ps(_mm_mul_ps(x3r, c3), _mm_mul_ps(x3i, s3));
      __m128 i3 = _mm_add_ps(_mm_mul_ps(x3r, s3), _mm_mul_ps(x3i, c3));
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      _MM_TRANSPOSE4_PS(i0, i1, i2, i3);
      float* dr4 = yr + 4 * p;
      float* di4 = yi + 4 * p;
      _mm_store_ps(dr4, r0);
      _mm_store_ps(dr4 + 4, r1);
      _mm_store_ps(dr4 + 8, r2);
      _mm_store_ps(dr4 + 12, r3);
      _mm_store_ps(di4, i0);
      _mm_store_ps(di4 + 4, i1);
      _mm_store_ps(di4 + 8, i2);
      _mm_store_ps(di4 + 12, i3);
    }
    return;
  }
#endif
  for (uint32_t p = 0; p < m; ++p) {
    const float c1 = w1r[p], s1 = w1i[p], c2 = w2r[p], s2 = w2i[p], c3 = w3r[p], s3 = w3i[p];
    for (uint32_t q = 0; q < s; ++q) {
      const uint32_t i0 = q + s * p, i1 = q + s * (p + m), i2 = q + s * (p + 2 * m), i3 = q + s * (p + 3 * m);
      const float apcR = xr[i0] + xr[i2], apcI = xi[i0] + xi[i2];
      const float amcR = xr[i0] - xr[i2], amcI = xi[i0] - xi[i2];
      const float bpdR = xr[i1] + xr[i3], bpdI = xi[i1] + xi[i3];
      const float bmdR = xr[i1] - xr[i3], bmdI = xi[i1] - xi[i3];
      const float x1r = amcR + bmdI, x1i = amcI - bmdR;
      const float x2r = apcR - bpdR, x2i = apcI - bpdI;
      const float x3r = amcR - bmdI, x3i = amcI + bmdR;
      const uint32_t o = q + s * 4 * p;
      yr[o] = apcR + bpdR;
      yi[o] = apcI + bpdI;
      yr[o + s] = x1r * c1 - x1i * s1;
      yi[o + s] = x1r * s1 + x1i * c1;
      yr[o + 2 * s] = x2r * c2 - x2i * s2;
      yi[o + 2 * s] = x2r * s2 + x2i * c2;
      yr[o + 3 * s] = x3r * c3 - x3i * s3;
      yi[o + 3 * s] = x3r * s3 + x3i * c3;
    }
  }
}

// The forward complex transform of 8192 points from work array A into B (A is
// overwritten): six radix-4 passes, A -> B -> A ..., then the radix-2 pass
// (length 2, stride 4096, no twiddles) from A into B.
void CpuRealFft::Complex(const float* inRe, const float* inIm, float* outRe, float* outIm) {
  float* ar = const_cast<float*>(inRe);
  float* ai = const_cast<float*>(inIm);
  float* br = outRe;
  float* bi = outIm;
  const float* tw = twiddles_.data;
  uint32_t s = 1;
  for (uint32_t n = kM; n >= 8; n /= 4) {
    Pass4(n, s, tw, ar, ai, br, bi);
    tw += 6 * (n / 4);
    s *= 4;
    std::swap(ar, br);
    std::swap(ai, bi);
  }
  // After six passes the values are in `ar`/`ai` (the input arrays); the last
  // pass writes the output arrays.
  const uint32_t half = kM / 2;
  uint32_t q = 0;
#if defined(SN_FFT_SSE2)
  if (vector_) {
    for (; q < half; q += 4) {
      const __m128 xr0 = _mm_load_ps(ar + q), xi0 = _mm_load_ps(ai + q);
      const __m128 xr1 = _mm_load_ps(ar + q + half), xi1 = _mm_load_ps(ai + q + half);
      _mm_store_ps(br + q, _mm_add_ps(xr0, xr1));
      _mm_store_ps(bi + q, _mm_add_ps(xi0, xi1));
      _mm_store_ps(br + q + half, _mm_sub_ps(xr0, xr1));
      _mm_store_ps(bi + q + half, _mm_sub_ps(xi0, xi1));
    }
  }
#endif
  for (; q < half; ++q) {
    const float xr0 = ar[q], xi0 = ai[q], xr1 = ar[q + half], xi1 = ai[q + half];
    br[q] = xr0 + xr1;
    bi[q] = xi0 + xi1;
    br[q + half] = xr0 - xr1;
    bi[q + half] = xi0 - xi1;
  }
}

void CpuRealFft::ForwardPadded(const float* x, float* re, float* im) {
  float* aRe = work_.data;
  float* aIm = aRe + kStride;
  float* bRe = aIm + kStride;
  float* bIm = bRe + kStride;
  // z[n] = x[2n] + i x[2n + 1]; the padding makes the upper half of z zero.
  const uint32_t filled = kHalf / 2;
  uint32_t n = 0;
#if defined(SN_FFT_SSE2)
  if (vector_) {
    for (; n < filled; n += 4) {
      const __m128 v0 = _mm_loadu_ps(x + 2 * n), v1 = _mm_loadu_ps(x + 2 * n + 4);
      _mm_store_ps(aRe + n, _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
      _mm_store_ps(aIm + n, _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1)));
    }
  }
#endif
  for (; n < filled; ++n) {
    aRe[n] = x[2 * n];
    aIm[n] = x[2 * n + 1];
  }
  std::memset(aRe + filled, 0, (kM - filled) * sizeof(float));
  std::memset(aIm + filled, 0, (kM - filled) * sizeof(float));
  Complex(aRe, aIm, bRe, bIm);
  bRe[kM] = bRe[0];  // Z[8192] = Z[0], so the loop below needs no wrap
  bIm[kM] = bIm[0];

  // X[k] = E[k] + W^k O[k] with a = Z[k], b = Z[8192 - k], D = a - conj b:
  //   X.re = (a.re + b.re + c D.im + s D.re) / 2
  //   X.im = (a.im - b.im - c D.re + s D.im) / 2,   W^k = c + i s.
  const float* cs = post_.data;
  const float* sn = post_.data + kStride;
  uint32_t k = 1;
#if defined(SN_FFT_SSE2)
  if (vector_) {
    const __m128 half = _mm_set1_ps(0.5f);
    for (; k + 3 <= kM; k += 4) {
      const __m128 aR = _mm_loadu_ps(bRe + k), aI = _mm_loadu_ps(bIm + k);
      const __m128 bR = Reverse(_mm_loadu_ps(bRe + kM - k - 3)), bI = Reverse(_mm_loadu_ps(bIm + kM - k - 3));
      const __m128 c = _mm_loadu_ps(cs + k), s = _mm_loadu_ps(sn + k);
      const __m128 dR = _mm_sub_ps(aR, bR), dI = _mm_add_ps(aI, bI);
      const __m128 xr = _mm_add_ps(_mm_add_ps(aR, bR), _mm_add_ps(_mm_mul_ps(c, dI), _mm_mul_ps(s, dR)));
      const __m128 xi = _mm_add_ps(_mm_sub_ps(aI, bI), _mm_sub_ps(_mm_mul_ps(s, dI), _mm_mul_ps(c, dR)));
      _mm_storeu_ps(re + k, _mm_mul_ps(xr, half));
      _mm_storeu_ps(im + k, _mm_mul_ps(xi, half));
    }
  }
#endif
  for (; k < kM; ++k) {
    const float aR = bRe[k], aI = bIm[k], bR = bRe[kM - k], bI = bIm[kM - k];
    const float c = cs[k], s = sn[k];
    const float dR = aR - bR, dI = aI + bI;
    re[k] = ((aR + bR) + (c * dI + s * dR)) * 0.5f;
    im[k] = ((aI - bI) + (s * dI - c * dR)) * 0.5f;
  }
  re[0] = bRe[0] + bIm[0];
  im[0] = 0.0f;
  re[kM] = bRe[0] - bIm[0];
  im[kM] = 0.0f;
  for (uint32_t i = kBins; i < kBinsPadded; ++i) re[i] = im[i] = 0.0f;
}

void CpuRealFft::Inverse(const float* re, const float* im, float* x) {
  float* aRe = work_.data;
  float* aIm = aRe + kStride;
  float* bRe = aIm + kStride;
  float* bIm = bRe + kStride;
  // Z[k] = E[k] + i O[k] with a = X[k], b = X[8192 - k]:
  //   E = a + conj b, O = (a - conj b) e^(+2 pi i k / 16384) = F (c - i s).
  // The complex inverse is the forward transform with real and imaginary parts
  // exchanged: A takes Im Z as its real part and Re Z as its imaginary part.
  const float* cs = post_.data;
  const float* sn = post_.data + kStride;
  {
    const float aR = re[0], bR = re[kM];
    aIm[0] = aR + bR;  // Re Z[0]: E = a.re + b.re, O real: F.re = a.re - b.re
    aRe[0] = aR - bR;  // Im Z[0] = O.re
  }
  uint32_t k = 1;
#if defined(SN_FFT_SSE2)
  if (vector_) {
    for (; k + 3 < kM; k += 4) {
      const __m128 aR = _mm_loadu_ps(re + k), aI = _mm_loadu_ps(im + k);
      const __m128 bR = Reverse(_mm_loadu_ps(re + kM - k - 3)), bI = Reverse(_mm_loadu_ps(im + kM - k - 3));
      const __m128 c = _mm_loadu_ps(cs + k), s = _mm_loadu_ps(sn + k);
      const __m128 eR = _mm_add_ps(aR, bR), eI = _mm_sub_ps(aI, bI);
      const __m128 fR = _mm_sub_ps(aR, bR), fI = _mm_add_ps(aI, bI);
      // O = F (c - i s): O.re = F.re c + F.im s, O.im = F.im c - F.re s.
      const __m128 oR = _mm_add_ps(_mm_mul_ps(fR, c), _mm_mul_ps(fI, s));
      const __m128 oI = _mm_sub_ps(_mm_mul_ps(fI, c), _mm_mul_ps(fR, s));
      _mm_storeu_ps(aIm + k, _mm_sub_ps(eR, oI));  // Re Z = E.re - O.im
      _mm_storeu_ps(aRe + k, _mm_add_ps(eI, oR));  // Im Z = E.im + O.re
    }
  }
#endif
  for (; k < kM; ++k) {
    const float aR = re[k], aI = im[k], bR = re[kM - k], bI = im[kM - k];
    const float c = cs[k], s = sn[k];
    const float eR = aR + bR, eI = aI - bI, fR = aR - bR, fI = aI + bI;
    const float oR = fR * c + fI * s, oI = fI * c - fR * s;
    aIm[k] = eR - oI;
    aRe[k] = eI + oR;
  }
  Complex(aRe, aIm, bRe, bIm);
  // z = exchanged output: z.re = B.im, z.im = B.re; x[2n] = z.re, x[2n + 1] = z.im.
  uint32_t n = 0;
#if defined(SN_FFT_SSE2)
  if (vector_) {
    for (; n < kM; n += 4) {
      const __m128 zr = _mm_load_ps(bIm + n), zi = _mm_load_ps(bRe + n);
      _mm_storeu_ps(x + 2 * n, _mm_unpacklo_ps(zr, zi));
      _mm_storeu_ps(x + 2 * n + 4, _mm_unpackhi_ps(zr, zi));
    }
  }
#endif
  for (; n < kM; ++n) {
    x[2 * n] = bIm[n];
    x[2 * n + 1] = bRe[n];
  }
}

}  // namespace sn
