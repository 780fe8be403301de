// The real transforms of the CPU block convolver: 16384 points, single
// precision, unnormalised (an inverse after a forward multiplies by 16384),
// with the spectrum in split form (real parts in one array, imaginary parts in
// another), the form the convolver's products run in four bins at a time.
//
// Why not a library: KISS FFT, the project's other transform, takes about
// 77 us per transform here and seven of them per block cap the headphone mode
// near 220x realtime; the well-kept vectorised libraries that Debian packages
// are GPL-licensed, which the module cannot take on. This is one fixed size,
// checked against KISS FFT by tests/test_cpu_fft.cpp.
//
// Algorithm: a real sequence x of 16384 points is the complex sequence
// z[n] = x[2n] + i x[2n+1] of 8192 points; its complex transform Z gives the
// even and odd halves' spectra, (Z[k] + conj Z[8192-k]) / 2 and
// (Z[k] - conj Z[8192-k]) / 2i, and X[k] = E[k] + e^(-2 pi i k / 16384) O[k]
// (the inverse runs the same steps backwards). The complex transform is a
// Stockham autosort FFT (decimation in frequency, no bit reversal): six
// radix-4 passes and one radix-2 pass between two split work arrays, each pass
// run four values at a time with SSE2 (over the stride, or in the first pass,
// whose stride is 1, over the butterflies with a 4 x 4 transpose on the way
// out). The inverse complex transform is the forward one with real and
// imaginary parts exchanged on the way in and out.
//
// Threads: Prepare and Release on the thread that owns the convolver; Forward
// and Inverse on one thread at a time (they share the work arrays). Memory:
// Prepare allocates everything; the transforms never allocate. The spectra
// passed in and out are 16-byte aligned; the samples need not be.
#pragma once

#include <cstdint>

#include "kernels/SNBuffer.h"

namespace sn {

class CpuRealFft {
 public:
  static constexpr uint32_t kSize = 16384;
  static constexpr uint32_t kHalf = kSize / 2;       // 8192
  static constexpr uint32_t kBins = kHalf + 1;       // 8193
  static constexpr uint32_t kBinsPadded = kHalf + 4; // storage of one split array

  // `vector`: the SSE2 passes where the build has SSE2 (the plain ones
  // otherwise, and always when false; both give the same results up to float
  // rounding).
  explicit CpuRealFft(bool vector = true);
  ~CpuRealFft();
  CpuRealFft(const CpuRealFft&) = delete;
  CpuRealFft& operator=(const CpuRealFft&) = delete;

  // Allocates the tables and work arrays; true when ready.
  bool Prepare();
  void Release();
  bool Ready() const { return ready_; }

  // The spectrum of `x` (kHalf samples) zero-padded to kSize: bins 0..kHalf
  // into re[] and im[] (kBinsPadded floats each; bins past kHalf are zeroed).
  void ForwardPadded(const float* x, float* re, float* im);
  // The kSize samples whose spectrum is re[] / im[] (bins 0..kHalf; the
  // imaginary parts of bins 0 and kHalf are taken as 0), times kSize.
  void Inverse(const float* re, const float* im, float* x);

 private:
  void Complex(const float* inRe, const float* inIm, float* outRe, float* outIm);
  void Pass4(uint32_t n, uint32_t s, const float* tw, const float* xr, const float* xi, float* yr, float* yi);

  bool vector_;
  bool ready_ = false;
  SNBuffer<float> twiddles_{};  // per radix-4 pass: w1, w2, w3 (re, im), n/4 each
  SNBuffer<float> post_{};      // e^(-2 pi i k / kSize), k = 0..kHalf: cos, then -sin
  SNBuffer<float> work_{};      // four split arrays of kBinsPadded
};

}  // namespace sn
