#include "engine/CpuConvolver.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define SN_CONVOLVER_SSE2 1
#endif

namespace sn {

namespace {

constexpr uint32_t kSplit = CpuRealFft::kBinsPadded;  // floats of one half of a split spectrum

// sumL += fL x s and sumR += fR x s for n bins of split spectra (real parts
// at 0, imaginary parts at kSplit), complex, single precision:
// re = f.re s.re - f.im s.im, im = f.re s.im + f.im s.re, then added. The
// vector form computes the same products and sums lane by lane, so it gives
// the scalar form's results bit for bit.
void MultiplyAccumulate(const float* __restrict fL, const float* __restrict fR, const float* __restrict s,
                        float* __restrict sumL, float* __restrict sumR, uint32_t n) {
  uint32_t i = 0;
#if defined(SN_CONVOLVER_SSE2)
  for (; i + 4 <= n; i += 4) {
    const __m128 sr = _mm_load_ps(s + i), si = _mm_load_ps(s + kSplit + i);
    const __m128 lr = _mm_load_ps(fL + i), li = _mm_load_ps(fL + kSplit + i);
    const __m128 rr = _mm_load_ps(fR + i), ri = _mm_load_ps(fR + kSplit + i);
    const __m128 pLr = _mm_sub_ps(_mm_mul_ps(lr, sr), _mm_mul_ps(li, si));
    const __m128 pLi = _mm_add_ps(_mm_mul_ps(lr, si), _mm_mul_ps(li, sr));
    const __m128 pRr = _mm_sub_ps(_mm_mul_ps(rr, sr), _mm_mul_ps(ri, si));
    const __m128 pRi = _mm_add_ps(_mm_mul_ps(rr, si), _mm_mul_ps(ri, sr));
    _mm_store_ps(sumL + i, _mm_add_ps(_mm_load_ps(sumL + i), pLr));
    _mm_store_ps(sumL + kSplit + i, _mm_add_ps(_mm_load_ps(sumL + kSplit + i), pLi));
    _mm_store_ps(sumR + i, _mm_add_ps(_mm_load_ps(sumR + i), pRr));
    _mm_store_ps(sumR + kSplit + i, _mm_add_ps(_mm_load_ps(sumR + kSplit + i), pRi));
  }
#endif
  for (; i < n; ++i) {
    const float sr = s[i], si = s[kSplit + i];
    sumL[i] += fL[i] * sr - fL[kSplit + i] * si;
    sumL[kSplit + i] += fL[i] * si + fL[kSplit + i] * sr;
    sumR[i] += fR[i] * sr - fR[kSplit + i] * si;
    sumR[kSplit + i] += fR[i] * si + fR[kSplit + i] * sr;
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
  if (!filters.responses || filters.taps <= 0 || filters.taps > static_cast<int>(kConvolverBlock)) {
    Release();
    return false;
  }
  if (ready_ && preparedWith_ == filters.responses && preparedTaps_ == filters.taps) return true;
  const uint32_t taps = static_cast<uint32_t>(filters.taps);

  // Memory first, only what is not there yet: preparing with other filters
  // (the table of another rate) reuses it.
  ready_ = false;
  bool ok = fft_.Prepare();
  ok = response_.Resize(kConvolverBlock, true) && ok;
  ok = spectrum_.Resize(2 * kSplit) && ok;
  ok = sum_[0].Resize(2 * kSplit) && ok;
  ok = sum_[1].Resize(2 * kSplit) && ok;
  for (auto& set : spectra_)
    for (auto& feed : set)
      for (auto& ear : feed) ok = ear.Resize(2 * kSplit) && ok;
  if (!ok) {
    Release();
    return false;
  }
  for (int set = 0; set < 2; ++set)
    for (int feed = 0; feed < kConvolverFeeds; ++feed)
      for (int ear = 0; ear < 2; ++ear) {
        const float* r = filters.responses + static_cast<size_t>(set * 10 + feed * 2 + ear) * taps;
        std::memcpy(response_.data, r, taps * sizeof(float));
        std::memset(response_.data + taps, 0, (kConvolverBlock - taps) * sizeof(float));
        float* v = spectra_[set][feed][ear].data;
        fft_.ForwardPadded(response_.data, v, v + kSplit);
      }
  preparedWith_ = filters.responses;
  preparedTaps_ = filters.taps;
  ready_ = true;
  return true;
}

void CpuBlockConvolver::Release() {
  for (auto& set : spectra_)
    for (auto& feed : set)
      for (auto& ear : feed) ear.Release();
  response_.Release();
  spectrum_.Release();
  sum_[0].Release();
  sum_[1].Release();
  fft_.Release();
  preparedWith_ = nullptr;
  preparedTaps_ = 0;
  ready_ = false;
}

bool CpuBlockConvolver::ConvolveBlock(int filterSet, const float* const feeds[kConvolverFeeds], float* earL,
                                      float* earR) {
  if (!ready_) return false;
  const int set = filterSet ? 1 : 0;
  std::memset(sum_[0].data, 0, 2 * kSplit * sizeof(float));
  std::memset(sum_[1].data, 0, 2 * kSplit * sizeof(float));
  bool any = false;
  // A silent feed (mono and undecoded stereo sources, unused channels) adds
  // exact zeros: it is skipped without transforms.
  for (int f = 0; f < kConvolverFeeds; ++f) {
    if (!feeds[f] || IsSilent(feeds[f], kConvolverBlock)) continue;
    any = true;
    fft_.ForwardPadded(feeds[f], spectrum_.data, spectrum_.data + kSplit);
    MultiplyAccumulate(spectra_[set][f][0].data, spectra_[set][f][1].data, spectrum_.data, sum_[0].data,
                       sum_[1].data, CpuRealFft::kBins);
  }
  if (!any) {
    std::memset(earL, 0, kConvolverOut * sizeof(float));
    std::memset(earR, 0, kConvolverOut * sizeof(float));
    return true;
  }
  fft_.Inverse(sum_[0].data, sum_[0].data + kSplit, earL);
  fft_.Inverse(sum_[1].data, sum_[1].data + kSplit, earR);
  return true;
}

}  // namespace sn
