#include "Room.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>

namespace bgen {
namespace {

constexpr double kSpeedOfSound = 343.0;  // m/s
constexpr double kEarDistance = 0.18;     // m
constexpr double kPi = std::numbers::pi;

// Coordinate of the n-th image of `s` along an axis of length `len`: odd n
// mirror the source, even n translate it.
double ImageCoordinate(int n, double s, double len) {
  return n * len + ((n % 2 == 0) ? s : len - s);
}

// Standard normal pairs by the Box-Muller transform over a Mersenne twister,
// so that the sequence depends on no library's distribution code.
class Gaussian {
 public:
  explicit Gaussian(uint32_t seed) : engine_(seed) {}
  double Next() {
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    const double u1 = (static_cast<double>(engine_()) + 0.5) / 4294967296.0;
    const double u2 = (static_cast<double>(engine_()) + 0.5) / 4294967296.0;
    const double r = std::sqrt(-2.0 * std::log(u1));
    spare_ = r * std::sin(2 * kPi * u2);
    haveSpare_ = true;
    return r * std::cos(2 * kPi * u2);
  }

 private:
  std::mt19937 engine_;
  double spare_ = 0;
  bool haveSpare_ = false;
};

// Amplitude share of octave band b at `hz`: raised-cosine crossovers one
// octave wide on a log-frequency axis, so the shares of all bands sum to 1.
double BandShare(int b, double hz) {
  const double u = hz > 0 ? std::log2(hz / 125.0) : -100.0;
  if (b == 0 && u <= 0) return 1;
  if (b == kOctaves - 1 && u >= b) return 1;
  if (u >= b - 1 && u <= b) return std::pow(std::sin(0.5 * kPi * (u - (b - 1))), 2);
  if (u >= b && u <= b + 1) return std::pow(std::cos(0.5 * kPi * (u - b)), 2);
  return 0;
}

}  // namespace

std::vector<Reflection> ImageSources(const RoomParams& p, const Vec3& source, double rate) {
  const Vec3& l = p.listener;
  const double d0 = std::sqrt((source.x - l.x) * (source.x - l.x) + (source.y - l.y) * (source.y - l.y) +
                              (source.z - l.z) * (source.z - l.z));
  std::vector<Reflection> out;
  const int k = p.maxOrder;
  for (int nx = -k; nx <= k; ++nx)
    for (int ny = -k; ny <= k; ++ny)
      for (int nz = -k; nz <= k; ++nz) {
        const int order = std::abs(nx) + std::abs(ny) + std::abs(nz);
        if (order == 0 || order > k) continue;
        const Vec3 dir{ImageCoordinate(nx, source.x, p.size.x) - l.x,
                       ImageCoordinate(ny, source.y, p.size.y) - l.y,
                       ImageCoordinate(nz, source.z, p.size.z) - l.z};
        const double d = std::sqrt(dir.x * dir.x + dir.y * dir.y + dir.z * dir.z);
        const double delay = (d - d0) / kSpeedOfSound * rate;
        if (delay > p.maxDelayMs * 1e-3 * rate) continue;
        const double gain = std::pow(p.wallGain.x, std::abs(nx)) * std::pow(p.wallGain.y, std::abs(ny)) *
                            std::pow(p.wallGain.z, std::abs(nz)) * d0 / d;
        out.push_back({delay, gain, dir, order});
      }
  return out;
}

std::vector<double> HannKernel(int taps) {
  std::vector<double> w(taps);
  double sum = 0;
  for (int i = 0; i < taps; ++i) {
    w[i] = std::pow(std::sin(kPi * (i + 1) / (taps + 1)), 2);
    sum += w[i];
  }
  for (double& v : w) v /= sum;
  return w;
}

void AddDiffuseTail(const RoomParams& p, const Fft& fft, uint32_t seed, double rate,
                    std::vector<double>& left, std::vector<double>& right) {
  const std::size_t n = fft.Size();
  Gaussian g(seed);
  std::vector<Complex> a(n), b(n);
  for (std::size_t i = 0; i < n; ++i) a[i] = g.Next();
  for (std::size_t i = 0; i < n; ++i) b[i] = g.Next();
  fft.Forward(a);
  fft.Forward(b);
  // Per bin: left = ca A + cb B, right = ca A - cb B has correlation
  // ca^2 - cb^2 = rho while keeping the power of each ear.
  std::vector<Complex> ears[2] = {std::vector<Complex>(n), std::vector<Complex>(n)};
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const double hz = static_cast<double>(k) * rate / static_cast<double>(n);
    const double x = 2 * kPi * hz * kEarDistance / kSpeedOfSound;
    const double rho = k == 0 ? 1.0 : std::sin(x) / x;
    const double ca = std::sqrt(0.5 * (1 + rho)), cb = std::sqrt(0.5 * (1 - rho));
    ears[0][k] = ca * a[k] + cb * b[k];
    ears[1][k] = ca * a[k] - cb * b[k];
    if (k > 0 && k < n / 2) {
      ears[0][n - k] = std::conj(ears[0][k]);
      ears[1][n - k] = std::conj(ears[1][k]);
    }
  }
  const double start = p.tailStartMs * 1e-3 * rate;
  const double ramp = p.tailRampMs * 1e-3 * rate;
  for (int ear = 0; ear < 2; ++ear) {
    std::vector<double>& out = ear == 0 ? left : right;
    for (int band = 0; band < kOctaves; ++band) {
      std::vector<Complex> part(n);
      for (std::size_t k = 0; k <= n / 2; ++k) {
        const double share = BandShare(band, static_cast<double>(k) * rate / static_cast<double>(n));
        part[k] = share * ears[ear][k];
        if (k > 0 && k < n / 2) part[n - k] = std::conj(part[k]);
      }
      fft.Inverse(part);
      const double perTap = std::log(1000.0) / (p.t60[band] * rate);  // -60 dB after t60
      const double level = p.tailLevel * std::pow(10.0, p.tailTiltDb * std::max(0, band - 3) / 20.0);
      for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i);
        if (t <= start || static_cast<int>(i) >= p.fadeEnd) continue;
        double e = level * std::exp(-perTap * (t - start));
        if (t < start + ramp) e *= std::pow(std::sin(0.5 * kPi * (t - start) / ramp), 2);
        if (static_cast<int>(i) > p.fadeStart)
          e *= 0.5 + 0.5 * std::cos(kPi * (t - p.fadeStart) / (p.fadeEnd - p.fadeStart));
        out[i] += e * part[i].real();
      }
    }
  }
}

}  // namespace bgen
