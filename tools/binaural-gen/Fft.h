// Double-precision FFT for the table generator: an in-place radix-2 complex
// transform and the cepstral minimum-phase construction built on it. Offline
// use only; nothing here runs in the module.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace bgen {

using Complex = std::complex<double>;

// Transforms of one power-of-two length. Forward is X[k] = sum x[n] e^(-2 pi i kn/N);
// Inverse includes the 1/N, so Inverse(Forward(x)) == x.
class Fft {
 public:
  explicit Fft(std::size_t n);
  std::size_t Size() const { return n_; }
  void Forward(std::vector<Complex>& data) const { Run(data, false); }
  void Inverse(std::vector<Complex>& data) const;

 private:
  void Run(std::vector<Complex>& data, bool inverse) const;
  std::size_t n_;
  std::vector<Complex> twiddle_;  // e^(-2 pi i k/N), k < N/2
  std::vector<std::size_t> reversed_;
};

// The minimum-phase response whose magnitude spectrum is `magnitude` (N/2+1
// bins of an N-point transform, N = fft.Size()), by folding the real cepstrum.
// Magnitudes are floored at `floorRatio` times their maximum before the
// logarithm. Returns all N taps; the caller truncates.
std::vector<double> MinimumPhase(const Fft& fft, const std::vector<double>& magnitude,
                                 double floorRatio);

// |X[k]| for k = 0..N/2 of x zero-padded to N = fft.Size().
std::vector<double> MagnitudeSpectrum(const Fft& fft, const double* x, std::size_t count);

}  // namespace bgen
