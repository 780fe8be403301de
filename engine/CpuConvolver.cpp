#include "engine/CpuConvolver.h"

#include <kissfft/kiss_fftr.h>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define SN_CONVOLVER_SSE2 1
#endif

namespace sn {

static_assert(sizeof(SNComplex) == sizeof(kiss_fft_cpx));

namespace {

constexpr uint32_t kBins = kConvolverOut / 2 + 1;

// A real-transform configuration of 16384 points in 16-byte-aligned memory
// that AlignedFree releases; null when the memory cannot be had.
kiss_fftr_cfg AllocFft(int inverse) {
  size_t bytes = 0;
  kiss_fftr_alloc(static_cast<int>(kConvolverOut), inverse, nullptr, &bytes);
  if (bytes == 0) return nullptr;
  void* mem = AlignedAlloc(bytes);
  if (!mem) return nullptr;
  kiss_fftr_cfg cfg = kiss_fftr_alloc(static_cast<int>(kConvolverOut), inverse, mem, &bytes);
  if (!cfg) AlignedFree(mem);
  return cfg;
}

// sumL[i] += fL[i] x s[i] and sumR[i] += fR[i] x s[i] for n bins, complex,
// single precision: re = f.re s.re - s.im f.im, im = f.re s.im + s.re f.im,
// then added. The vector form computes the same products and sums lane by lane,
// so it gives the scalar form's results bit for bit.
void MultiplyAccumulate(const SNComplex* __restrict fL, const SNComplex* __restrict fR,
                        const SNComplex* __restrict s, SNComplex* __restrict sumL, SNComplex* __restrict sumR,
                        uint32_t n) {
  uint32_t i = 0;
#if defined(SN_CONVOLVER_SSE2)
  // SNBuffer storage is 16-byte aligned: two bins per vector.
  const __m128 negEven = _mm_castsi128_ps(_mm_set_epi32(0, INT32_MIN, 0, INT32_MIN));
  const float* pfL = &fL[0].re;
  const float* pfR = &fR[0].re;
  const float* ps = &s[0].re;
  float* poL = &sumL[0].re;
  float* poR = &sumR[0].re;
  for (; i + 2 <= n; i += 2) {
    const __m128 sv = _mm_load_ps(ps + 2 * i);                          // sr0 si0 sr1 si1
    const __m128 sx = _mm_shuffle_ps(sv, sv, _MM_SHUFFLE(2, 3, 0, 1));  // si0 sr0 si1 sr1
    const __m128 a = _mm_load_ps(pfL + 2 * i);
    const __m128 b = _mm_load_ps(pfR + 2 * i);
    const __m128 aRe = _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 aIm = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 1, 1));
    const __m128 bRe = _mm_shuffle_ps(b, b, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 bIm = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 3, 1, 1));
    const __m128 pL = _mm_add_ps(_mm_mul_ps(aRe, sv), _mm_xor_ps(_mm_mul_ps(aIm, sx), negEven));
    const __m128 pR = _mm_add_ps(_mm_mul_ps(bRe, sv), _mm_xor_ps(_mm_mul_ps(bIm, sx), negEven));
    _mm_store_ps(poL + 2 * i, _mm_add_ps(_mm_load_ps(poL + 2 * i), pL));
    _mm_store_ps(poR + 2 * i, _mm_add_ps(_mm_load_ps(poR + 2 * i), pR));
  }
#endif
  for (; i < n; ++i) {
    const SNComplex v = s[i];
    sumL[i].re += fL[i].re * v.re - v.im * fL[i].im;
    sumL[i].im += fL[i].re * v.im + v.re * fL[i].im;
    sumR[i].re += fR[i].re * v.re - v.im * fR[i].im;
    sumR[i].im += fR[i].re * v.im + v.re * fR[i].im;
  }
}

// True when all n samples are zero (either sign).
bool IsSilent(const float* v, uint32_t n) {
  uint32_t bits = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t u;
    std::memcpy(&u, v + i, sizeof u);
    bits |= u << 1;
  }
  return bits == 0;
}

}  // namespace

CpuBlockConvolver::~CpuBlockConvolver() { Release(); }

bool CpuBlockConvolver::Prepare(const BinauralFilterSet& filters) {
  if (ready_ && preparedWith_ == filters.responses) return true;
  Release();
  if (!filters.responses || filters.taps <= 0 || filters.taps > static_cast<int>(kConvolverBlock)) return false;
  const uint32_t taps = static_cast<uint32_t>(filters.taps);

  bool ok = true;
  forward_ = AllocFft(0);
  inverse_ = AllocFft(1);
  ok = forward_ && inverse_;
  ok = padded_.Resize(kConvolverOut, true) && ok;
  ok = spectrum_.Resize(kBins) && ok;
  ok = sum_[0].Resize(kBins) && ok;
  ok = sum_[1].Resize(kBins) && ok;
  // Each response: taps, zeros to 16384 and the two floats of the last bin,
  // transformed in place (the real forward transform reads its input whole
  // before it writes).
  for (int set = 0; ok && set < 2; ++set)
    for (int feed = 0; ok && feed < kConvolverFeeds; ++feed)
      for (int ear = 0; ok && ear < 2; ++ear) {
        float* v = reinterpret_cast<float*>(spectra_[set][feed][ear].Resize(kBins));
        if (!v) {
          ok = false;
          break;
        }
        const float* r = filters.responses + static_cast<size_t>(set * 10 + feed * 2 + ear) * taps;
        std::memcpy(v, r, taps * sizeof(float));
        std::memset(v + taps, 0, (2 * kBins - taps) * sizeof(float));
        kiss_fftr(forward_, v, reinterpret_cast<kiss_fft_cpx*>(v));
      }
  if (!ok) {
    Release();
    return false;
  }
  preparedWith_ = filters.responses;
  ready_ = true;
  return true;
}

void CpuBlockConvolver::Release() {
  for (auto& set : spectra_)
    for (auto& feed : set)
      for (auto& ear : feed) ear.Release();
  padded_.Release();
  spectrum_.Release();
  sum_[0].Release();
  sum_[1].Release();
  AlignedFree(forward_);
  AlignedFree(inverse_);
  forward_ = inverse_ = nullptr;
  preparedWith_ = nullptr;
  ready_ = false;
}

bool CpuBlockConvolver::ConvolveBlock(int filterSet, const float* const feeds[kConvolverFeeds], float* earL,
                                      float* earR) {
  if (!ready_) return false;
  const int set = filterSet ? 1 : 0;
  std::memset(static_cast<void*>(sum_[0].data), 0, kBins * sizeof(SNComplex));
  std::memset(static_cast<void*>(sum_[1].data), 0, kBins * sizeof(SNComplex));
  bool any = false;
  // A silent feed (mono and undecoded stereo sources, unused channels) adds
  // exact zeros: it is skipped without transforms.
  for (int f = 0; f < kConvolverFeeds; ++f) {
    if (!feeds[f] || IsSilent(feeds[f], kConvolverBlock)) continue;
    any = true;
    std::memcpy(padded_.data, feeds[f], kConvolverBlock * sizeof(float));
    kiss_fftr(forward_, padded_.data, reinterpret_cast<kiss_fft_cpx*>(spectrum_.data));
    MultiplyAccumulate(spectra_[set][f][0].data, spectra_[set][f][1].data, spectrum_.data, sum_[0].data,
                       sum_[1].data, kBins);
  }
  if (!any) {
    std::memset(earL, 0, kConvolverOut * sizeof(float));
    std::memset(earR, 0, kConvolverOut * sizeof(float));
    return true;
  }
  kiss_fftri(inverse_, reinterpret_cast<const kiss_fft_cpx*>(sum_[0].data), earL);
  kiss_fftri(inverse_, reinterpret_cast<const kiss_fft_cpx*>(sum_[1].data), earR);
  return true;
}

}  // namespace sn
