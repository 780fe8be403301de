#include "Fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bgen {

Fft::Fft(std::size_t n) : n_(n), twiddle_(n / 2), reversed_(n) {
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double a = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    twiddle_[k] = Complex(std::cos(a), std::sin(a));
  }
  std::size_t bits = 0;
  while ((std::size_t{1} << bits) < n) ++bits;
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t r = 0;
    for (std::size_t b = 0; b < bits; ++b)
      if (i & (std::size_t{1} << b)) r |= std::size_t{1} << (bits - 1 - b);
    reversed_[i] = r;
  }
}

void Fft::Inverse(std::vector<Complex>& data) const {
  Run(data, true);
  const double scale = 1.0 / static_cast<double>(n_);
  for (Complex& v : data) v *= scale;
}

// Iterative decimation in time: bit-reversed order, then log2(N) butterfly
// passes; the inverse uses the conjugate twiddles.
void Fft::Run(std::vector<Complex>& data, bool inverse) const {
  for (std::size_t i = 0; i < n_; ++i)
    if (i < reversed_[i]) std::swap(data[i], data[reversed_[i]]);
  for (std::size_t len = 2; len <= n_; len <<= 1) {
    const std::size_t half = len / 2;
    const std::size_t step = n_ / len;
    for (std::size_t start = 0; start < n_; start += len) {
      for (std::size_t j = 0; j < half; ++j) {
        Complex w = twiddle_[j * step];
        if (inverse) w = std::conj(w);
        const Complex a = data[start + j];
        const Complex b = data[start + j + half] * w;
        data[start + j] = a + b;
        data[start + j + half] = a - b;
      }
    }
  }
}

std::vector<double> MagnitudeSpectrum(const Fft& fft, const double* x, std::size_t count) {
  const std::size_t n = fft.Size();
  std::vector<Complex> buf(n);
  for (std::size_t i = 0; i < count && i < n; ++i) buf[i] = x[i];
  fft.Forward(buf);
  std::vector<double> mag(n / 2 + 1);
  for (std::size_t k = 0; k <= n / 2; ++k) mag[k] = std::abs(buf[k]);
  return mag;
}

// The real cepstrum of a minimum-phase sequence is causal: keep c[0] and c[N/2],
// double c[1..N/2-1], drop the rest, and exponentiate the transform back.
std::vector<double> MinimumPhase(const Fft& fft, const std::vector<double>& magnitude,
                                 double floorRatio) {
  const std::size_t n = fft.Size();
  const double peak = *std::max_element(magnitude.begin(), magnitude.end());
  const double floor = peak * floorRatio;
  std::vector<Complex> buf(n);
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const double v = std::log(std::max(magnitude[k], floor));
    buf[k] = v;
    if (k > 0 && k < n / 2) buf[n - k] = v;
  }
  fft.Inverse(buf);
  for (std::size_t i = 1; i < n / 2; ++i) buf[i] = 2.0 * buf[i].real();
  buf[0] = buf[0].real();
  buf[n / 2] = buf[n / 2].real();
  for (std::size_t i = n / 2 + 1; i < n; ++i) buf[i] = 0.0;
  fft.Forward(buf);
  for (Complex& v : buf) v = std::exp(v);
  fft.Inverse(buf);
  std::vector<double> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = buf[i].real();
  return out;
}

}  // namespace bgen
