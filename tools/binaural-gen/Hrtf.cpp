#include "Hrtf.h"

#include <mysofa.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>

namespace bgen {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
// An ear's onset: where its magnitude first reaches this share of its peak.
constexpr double kOnsetThreshold = 0.1;

const char* Attribute(const MYSOFA_ATTRIBUTE* a, const char* name) {
  for (; a; a = a->next)
    if (a->name && std::strcmp(a->name, name) == 0) return a->value;
  return "";
}

// Fractional tap where |x| first reaches kOnsetThreshold of its peak, with
// linear interpolation between the taps around the crossing.
double Onset(const double* x, int count) {
  double peak = 0;
  for (int i = 0; i < count; ++i) peak = std::max(peak, std::fabs(x[i]));
  const double th = kOnsetThreshold * peak;
  for (int i = 0; i < count; ++i) {
    const double v = std::fabs(x[i]);
    if (v >= th) {
      if (i == 0) return 0;
      const double prev = std::fabs(x[i - 1]);
      return (i - 1) + (th - prev) / (v - prev);
    }
  }
  return 0;
}

}  // namespace

Vec3 FromSpherical(double azDeg, double elDeg) {
  const double az = azDeg * kDeg, el = elDeg * kDeg;
  return {std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)};
}

bool HrtfSet::Load(const std::string& path, std::string& error) {
  int err = 0;
  std::unique_ptr<MYSOFA_HRTF, void (*)(MYSOFA_HRTF*)> h(mysofa_load(path.c_str(), &err),
                                                          mysofa_free);
  if (!h || err != MYSOFA_OK) {
    error = "cannot read " + path + " (libmysofa error " + std::to_string(err) + ")";
    return false;
  }
  if (h->R != 2 || h->E != 1 || h->M == 0 || h->N == 0 || h->N > kFftSize / 2 ||
      h->DataIR.elements != h->M * h->R * h->N || h->SourcePosition.elements != h->M * 3 ||
      h->ReceiverPosition.elements < 6 || h->DataSamplingRate.elements < 1) {
    error = "unexpected dimensions in " + path;
    return false;
  }
  rate_ = h->DataSamplingRate.values[0];
  if (rate_ < 44000 || rate_ > 48100) {
    error = "sample rate " + std::to_string(rate_) + " Hz is not 44.1 or 48 kHz";
    return false;
  }
  outRate_ = rate_;
  taps_ = static_cast<int>(h->N);
  // The receiver on the +y side is the left ear.
  const int leftReceiver = h->ReceiverPosition.values[1] >= h->ReceiverPosition.values[4] ? 0 : 1;
  const bool cartesian = std::strcmp(Attribute(h->SourcePosition.attributes, "Type"), "cartesian") == 0;
  const int count = static_cast<int>(h->M);
  dirs_.resize(count);
  az_.resize(count);
  el_.resize(count);
  ir_.assign(static_cast<std::size_t>(count) * 2 * taps_, 0.0);
  onsetOffset_.resize(2 * count);
  for (int m = 0; m < count; ++m) {
    const float* p = h->SourcePosition.values + 3 * m;
    if (cartesian) {
      az_[m] = std::atan2(p[1], p[0]) / kDeg;
      el_[m] = std::atan2(p[2], std::hypot(p[0], p[1])) / kDeg;
    } else {
      az_[m] = p[0];
      el_[m] = p[1];
    }
    dirs_[m] = FromSpherical(az_[m], el_[m]);
    double onset[2];
    for (int ear = 0; ear < 2; ++ear) {
      const int receiver = ear == 0 ? leftReceiver : 1 - leftReceiver;
      const float* src = h->DataIR.values + (static_cast<std::size_t>(m) * 2 + receiver) * taps_;
      double* dst = ir_.data() + (static_cast<std::size_t>(m) * 2 + ear) * taps_;
      for (int i = 0; i < taps_; ++i) dst[i] = src[i];
      onset[ear] = Onset(dst, taps_);
      // Broadband delays stored beside the responses (usually none) count too.
      const MYSOFA_ARRAY& d = h->DataDelay;
      if (d.elements == 2 * h->M) onset[ear] += d.values[2 * m + receiver];
      else if (d.elements == 2) onset[ear] += d.values[receiver];
    }
    const double mean = 0.5 * (onset[0] + onset[1]);
    onsetOffset_[2 * m] = onset[0] - mean;
    onsetOffset_[2 * m + 1] = onset[1] - mean;
  }
  cache_.assign(2 * count, {});
  BuildEqualiser();
  return true;
}

int HrtfSet::Nearest(const Vec3& dir) const {
  const double len = std::sqrt(dir.x * dir.x + dir.y * dir.y + dir.z * dir.z);
  int best = 0;
  double bestDot = -2;
  for (int m = 0; m < Count(); ++m) {
    const double dot = (dirs_[m].x * dir.x + dirs_[m].y * dir.y + dirs_[m].z * dir.z) / len;
    if (dot > bestDot + 1e-12) {
      bestDot = dot;
      best = m;
    }
  }
  return best;
}

// Diffuse-field equaliser: the inverse square root of the power spectrum
// averaged over every measured direction and both ears, each direction weighted
// by its share of the sphere (the band of its elevation ring divided among the
// ring's points), smoothed over a third of an octave around each bin. Its
// boost is capped at kBoostCapDb above its median over 200 Hz..10 kHz. Without
// the cap the equalised diffuse-field average would be exactly 1 per bin, so
// an equalised response has an energy of about 1 on average over directions.
void HrtfSet::BuildEqualiser() {
  const int bins = kFftSize / 2 + 1;
  std::map<long, int> ring;  // elevation in 1/100 degree -> points
  for (int m = 0; m < Count(); ++m) ++ring[std::lround(el_[m] * 100)];
  std::vector<double> elevations;
  for (const auto& [e, n] : ring) elevations.push_back(e / 100.0);
  std::map<long, double> ringWeight;
  for (std::size_t i = 0; i < elevations.size(); ++i) {
    const double e = elevations[i];
    const double below = i > 0 ? 0.5 * (e + elevations[i - 1])
                               : (elevations.size() > 1 ? e - 0.5 * (elevations[1] - e) : -90.0);
    const double above = i + 1 < elevations.size() ? 0.5 * (e + elevations[i + 1])
                                                    : std::min(90.0, e + (e - below));
    const long key = std::lround(e * 100);
    const double band = std::sin(std::min(90.0, above) * kDeg) - std::sin(std::max(-90.0, below) * kDeg);
    ringWeight[key] = band / ring[key];
  }
  std::vector<double> power(bins, 0.0);
  double weightSum = 0;
  for (int m = 0; m < Count(); ++m) {
    const double w = ringWeight[std::lround(el_[m] * 100)];
    weightSum += 2 * w;
    for (int ear = 0; ear < 2; ++ear) {
      const std::vector<double> mag =
          MagnitudeSpectrum(fft_, ir_.data() + (static_cast<std::size_t>(m) * 2 + ear) * taps_, taps_);
      for (int k = 0; k < bins; ++k) power[k] += w * mag[k] * mag[k];
    }
  }
  for (double& p : power) p /= weightSum;

  const double binHz = rate_ / kFftSize;
  const double third = std::pow(2.0, 1.0 / 6.0);
  eq_.assign(bins, 0.0);
  for (int k = 0; k < bins; ++k) {
    const double f = std::max(k, 1) * binHz;
    const int lo = std::max(0, static_cast<int>(std::ceil(f / third / binHz)));
    const int hi = std::min(bins - 1, static_cast<int>(std::floor(f * third / binHz)));
    double sum = 0;
    int n = 0;
    for (int j = std::min(lo, k); j <= std::max(hi, k); ++j, ++n) sum += power[j];
    eq_[k] = 1.0 / std::sqrt(sum / n);
  }
  std::vector<double> mid;
  for (int k = 0; k < bins; ++k)
    if (k * binHz >= 200 && k * binHz <= 10000) mid.push_back(eq_[k]);
  std::nth_element(mid.begin(), mid.begin() + mid.size() / 2, mid.end());
  eqMedian_ = mid[mid.size() / 2];
  const double cap = eqMedian_ * std::pow(10.0, kBoostCapDb / 20.0);
  for (double& g : eq_) g = std::min(g, cap);
}

double HrtfSet::EqualiserDb(double hz) const {
  const long k = std::lround(hz / rate_ * kFftSize);
  return 20 * std::log10(eq_[std::clamp<long>(k, 0, kFftSize / 2)] / eqMedian_);
}

void HrtfSet::SetOutputRate(double rate) {
  if (rate == outRate_) return;
  outRate_ = rate;
  for (auto& c : cache_) c.clear();
}

const std::vector<double>& HrtfSet::Response(int m, int ear) {
  std::vector<double>& out = cache_[2 * m + ear];
  if (!out.empty()) return out;
  std::vector<double> mag =
      MagnitudeSpectrum(fft_, ir_.data() + (static_cast<std::size_t>(m) * 2 + ear) * taps_, taps_);
  for (std::size_t k = 0; k < mag.size(); ++k) mag[k] *= eq_[k];
  if (outRate_ != rate_) {
    // The same magnitude at the output rate's bins: linear interpolation
    // between the measured bins, and above the measured Nyquist frequency
    // (where the measurements say nothing) the magnitude found there, so the
    // response stays as broadband, and as sharp at its start, as measured.
    const double nyquist = 0.5 * rate_;
    std::vector<double> at(mag.size(), 0.0);
    for (std::size_t k = 0; k < at.size(); ++k) {
      const double hz = std::min(static_cast<double>(k) * outRate_ / kFftSize, nyquist);
      const double pos = hz / rate_ * kFftSize;
      const std::size_t i = std::min(static_cast<std::size_t>(pos), mag.size() - 1);
      const double frac = pos - static_cast<double>(i);
      at[k] = i + 1 < mag.size() ? (1 - frac) * mag[i] + frac * mag[i + 1] : mag[i];
    }
    mag.swap(at);
  }
  const std::vector<double> full = MinimumPhase(fft_, mag, 1e-5);
  out.assign(full.begin(), full.begin() + kResponseTaps);
  constexpr int fade = kResponseTaps / 4;
  for (int i = 0; i < fade; ++i)
    out[kResponseTaps - fade + i] *= 0.5 + 0.5 * std::cos(std::numbers::pi * (i + 1) / (fade + 1));
  return out;
}

}  // namespace bgen
