// The measured head-related impulse responses as the generator uses them:
// loaded from a SOFA file, equalised to the diffuse field, and turned into
// minimum-phase responses with the ears' measured onsets kept apart.
#pragma once

#include <string>
#include <vector>

#include "Fft.h"

namespace bgen {

// A direction or position in the listener's frame: +x ahead, +y to the left,
// +z up (SOFA's frame, where azimuth grows anticlockwise, towards the left).
struct Vec3 {
  double x = 0, y = 0, z = 0;
};

// Unit vector of azimuth `az` and elevation `el`, degrees, SOFA convention.
Vec3 FromSpherical(double azDeg, double elDeg);

class HrtfSet {
 public:
  // Length of every response Response() returns.
  static constexpr int kResponseTaps = 1024;

  // Reads all measurements (two receivers, one emitter) of a SOFA file and
  // builds the equaliser. False, with `error` set, on any failure.
  bool Load(const std::string& path, std::string& error);

  // The rate of the measurements.
  double SampleRate() const { return rate_; }
  // The rate Response() and OnsetOffset() are given at: the measurements' own
  // (the default) or another. At another rate each response is rebuilt from
  // the same equalised magnitude at the new rate's frequencies (held at its
  // value at the measurements' Nyquist frequency above it, where they say
  // nothing), so both rates have the same frequency response up to there; the
  // onsets keep their time in seconds.
  void SetOutputRate(double rate);
  double OutputRate() const { return outRate_; }
  int Count() const { return static_cast<int>(dirs_.size()); }
  double Azimuth(int m) const { return az_[m]; }
  double Elevation(int m) const { return el_[m]; }
  // The measurement whose direction is closest to `dir` (need not be unit).
  int Nearest(const Vec3& dir) const;

  // Ear `ear` (0 left, 1 right) of measurement m at the output rate:
  // diffuse-field equalised, minimum-phase, largest tap near tap 0, faded out
  // over its last quarter.
  const std::vector<double>& Response(int m, int ear);
  // The onset of ear `ear` of measurement m minus the mean onset of its two
  // ears, in taps of the output rate (fractional): negative for the near ear.
  double OnsetOffset(int m, int ear) const { return onsetOffset_[2 * m + ear] * outRate_ / rate_; }

  // Equaliser gain at `hz` (nearest bin), dB relative to its median over
  // 200 Hz..10 kHz.
  double EqualiserDb(double hz) const;
  // Largest equaliser boost, dB, relative to its median over 200 Hz to 10 kHz.
  static constexpr double kBoostCapDb = 20.0;

 private:
  void BuildEqualiser();

  static constexpr int kFftSize = 8192;
  Fft fft_{kFftSize};
  double rate_ = 0;
  double outRate_ = 0;
  int taps_ = 0;
  std::vector<Vec3> dirs_;
  std::vector<double> az_, el_;
  std::vector<double> ir_;           // measurement-major, then ear, then tap
  std::vector<double> onsetOffset_;  // 2 per measurement
  std::vector<double> eq_;           // kFftSize / 2 + 1 bins
  double eqMedian_ = 1;
  std::vector<std::vector<double>> cache_;  // 2 per measurement, built on demand
};

}  // namespace bgen
