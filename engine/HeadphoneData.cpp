// The binaural filter spectra, the block work buffers and the CPU convolution.
//
// Each response of 8192 taps is zero-padded to 16384 points and transformed
// once; a block of 8192 input samples, also padded to 16384, is then convolved
// with it by one forward transform, a complex product per bin and one inverse
// transform. Since 8192 + 8192 - 1 values fit into 16384, the circular
// convolution of the padded blocks equals the linear one: values 0..8191 belong
// to the block's own frames, 8192..16383 overlap the next block. The transforms
// are unnormalised, so every result is 16384 times the convolution.
//
// KISS FFT copies a complex transform's input aside (allocating) when it runs in
// place; every transform of the audio path therefore reads and writes distinct
// buffers. The real forward transform reads its input completely into the
// configuration's own scratch before writing, so the one-time set-up transforms
// the spectra in place.
#include "engine/HeadphoneData.h"

#include <kissfft/kiss_fftr.h>

#include <cstring>
#include <memory>

#include "engine/BinauralTable.h"
#include "engine/DspState.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define SN_HEADPHONE_SSE2 1
#endif

namespace sn {

static_assert(sizeof(SNComplex) == sizeof(kiss_fft_cpx));

namespace {

constexpr uint32_t kTaps = kHeadphoneBlock;
constexpr int kFeeds = 5;

// Response (set, channel, ear) of the table: index set x 10 + channel x 2 + ear.
const float* Response(int set, int channel, int ear) {
  const float* base = static_cast<const float*>(static_cast<const void*>(std::addressof(BinauralTable[0])));
  return base + static_cast<size_t>(set * 10 + channel * 2 + ear) * kTaps;
}

// A real-transform configuration of 16384 points in 16-byte-aligned memory
// that AlignedFree releases; null when the memory cannot be had.
kiss_fftr_cfg AllocFft(int inverse) {
  size_t bytes = 0;
  kiss_fftr_alloc(static_cast<int>(kHeadphoneFft), inverse, nullptr, &bytes);
  if (bytes == 0) return nullptr;
  void* mem = AlignedAlloc(bytes);
  if (!mem) return nullptr;
  kiss_fftr_cfg cfg = kiss_fftr_alloc(static_cast<int>(kHeadphoneFft), inverse, mem, &bytes);
  if (!cfg) AlignedFree(mem);
  return cfg;
}

void FreeFft(kiss_fftr_state*& cfg) {
  AlignedFree(cfg);
  cfg = nullptr;
}

SNBuffer<SNComplex>* SpectraOf(int set, int ear) {
  if (set == 0) return ear == 0 ? Dsp.EarSpectraMusicL : Dsp.EarSpectraMusicR;
  return ear == 0 ? Dsp.EarSpectraMovieL : Dsp.EarSpectraMovieR;
}

// out[i] = f[i] x s[i] for n bins, complex, single precision:
// re = f.re s.re - s.im f.im, im = f.re s.im + s.re f.im. Both ears share the
// load of s. The vector form computes the same single-precision products and
// sums lane by lane, so it gives the scalar form's results bit for bit.
void MultiplySpectra(const SNComplex* __restrict fL, const SNComplex* __restrict fR,
                     const SNComplex* __restrict s, SNComplex* __restrict outL, SNComplex* __restrict outR,
                     uint32_t n) {
  uint32_t i = 0;
#if defined(SN_HEADPHONE_SSE2)
  // SNBuffer storage is 16-byte aligned: two bins per vector.
  const __m128 negEven = _mm_castsi128_ps(_mm_set_epi32(0, INT32_MIN, 0, INT32_MIN));
  const float* pfL = &fL[0].re;
  const float* pfR = &fR[0].re;
  const float* ps = &s[0].re;
  float* poL = &outL[0].re;
  float* poR = &outR[0].re;
  for (; i + 2 <= n; i += 2) {
    const __m128 sv = _mm_load_ps(ps + 2 * i);                          // sr0 si0 sr1 si1
    const __m128 sx = _mm_shuffle_ps(sv, sv, _MM_SHUFFLE(2, 3, 0, 1));  // si0 sr0 si1 sr1
    const __m128 a = _mm_load_ps(pfL + 2 * i);
    const __m128 b = _mm_load_ps(pfR + 2 * i);
    const __m128 aRe = _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 aIm = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 1, 1));
    const __m128 bRe = _mm_shuffle_ps(b, b, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 bIm = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 3, 1, 1));
    _mm_store_ps(poL + 2 * i, _mm_add_ps(_mm_mul_ps(aRe, sv), _mm_xor_ps(_mm_mul_ps(aIm, sx), negEven)));
    _mm_store_ps(poR + 2 * i, _mm_add_ps(_mm_mul_ps(bRe, sv), _mm_xor_ps(_mm_mul_ps(bIm, sx), negEven)));
  }
#endif
  for (; i < n; ++i) {
    const SNComplex v = s[i];
    outL[i].re = fL[i].re * v.re - v.im * fL[i].im;
    outL[i].im = fL[i].re * v.im + v.re * fL[i].im;
    outR[i].re = fR[i].re * v.re - v.im * fR[i].im;
    outR[i].im = fR[i].re * v.im + v.re * fR[i].im;
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

void BuildHeadphoneData() {
  if (Dsp.HeadphoneReady) return;
  bool ok = true;

  // The twenty filter spectra: response, 8192 zeros and the two floats of the
  // last bin, transformed in place.
  kiss_fftr_cfg setup = AllocFft(0);
  ok = ok && setup;
  for (int set = 0; set < 2; ++set) {
    for (int ear = 0; ear < 2; ++ear) {
      SNBuffer<SNComplex>* spectra = SpectraOf(set, ear);
      for (int ch = 0; ch < kFeeds; ++ch) {
        float* v = reinterpret_cast<float*>(spectra[ch].Resize(kHeadphoneBins));
        if (!v) {
          ok = false;
          continue;
        }
        std::memcpy(v, Response(set, ch, ear), kTaps * sizeof(float));
        std::memset(v + kTaps, 0, (2 * kHeadphoneBins - kTaps) * sizeof(float));
        if (setup) kiss_fftr(setup, v, reinterpret_cast<kiss_fft_cpx*>(v));
      }
    }
  }
  AlignedFree(setup);

  for (int k = 0; k < kFeeds; ++k) {
    ok = Dsp.ChannelFifo[k].Resize(kHeadphoneFft, true) && ok;
    ok = Dsp.ChannelSpectrum[k].Resize(kHeadphoneBins) && ok;
    ok = Dsp.ProductL[k].Resize(kHeadphoneBins) && ok;
    ok = Dsp.ProductR[k].Resize(kHeadphoneBins) && ok;
    ok = Dsp.ConvOutL[k].Resize(kHeadphoneFft) && ok;
    ok = Dsp.ConvOutR[k].Resize(kHeadphoneFft) && ok;
  }
  ok = Dsp.HeadphoneTail.Resize(kHeadphoneBlock, true) && ok;
  // One block's output is reserved here, so that chunks that complete at most
  // one block never allocate.
  if (Dsp.HeadphoneOut.capacity < kHeadphoneBlock) ok = Dsp.HeadphoneOut.Resize(kHeadphoneBlock) && ok;

  if (!Dsp.FftForward) Dsp.FftForward = AllocFft(0);
  if (!Dsp.FftInverse) Dsp.FftInverse = AllocFft(1);
  ok = ok && Dsp.FftForward && Dsp.FftInverse;

  Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
  // Short of memory the data stays unbuilt and the renderer passes chunks
  // through; the next headphone chunk tries again.
  Dsp.HeadphoneReady = ok ? 1 : 0;
}

void ReleaseHeadphoneData() {
  FreeFft(Dsp.FftForward);
  FreeFft(Dsp.FftInverse);
  Dsp.HeadphoneReady = 0;
}

void ConvolveBlockCpu(int filterSet) {
  if (!Dsp.HeadphoneReady) return;
  const SNBuffer<SNComplex>* filtersL = SpectraOf(filterSet ? 1 : 0, 0);
  const SNBuffer<SNComplex>* filtersR = SpectraOf(filterSet ? 1 : 0, 1);

  // Feed by feed, so that each spectrum and its two products are still in the
  // cache when they are used. A silent feed (mono and undecoded stereo sources,
  // unused channels) convolves to exact zeros without transforms.
  for (int k = 0; k < kFeeds; ++k) {
    if (IsSilent(Dsp.ChannelFifo[k].data, kHeadphoneBlock)) {
      std::memset(Dsp.ConvOutL[k].data, 0, kHeadphoneFft * sizeof(float));
      std::memset(Dsp.ConvOutR[k].data, 0, kHeadphoneFft * sizeof(float));
      continue;
    }
    kiss_fftr(Dsp.FftForward, Dsp.ChannelFifo[k].data, reinterpret_cast<kiss_fft_cpx*>(Dsp.ChannelSpectrum[k].data));
    MultiplySpectra(filtersL[k].data, filtersR[k].data, Dsp.ChannelSpectrum[k].data, Dsp.ProductL[k].data,
                    Dsp.ProductR[k].data, kHeadphoneBins);
    kiss_fftri(Dsp.FftInverse, reinterpret_cast<const kiss_fft_cpx*>(Dsp.ProductL[k].data), Dsp.ConvOutL[k].data);
    kiss_fftri(Dsp.FftInverse, reinterpret_cast<const kiss_fft_cpx*>(Dsp.ProductR[k].data), Dsp.ConvOutR[k].data);
  }
}

}  // namespace sn
