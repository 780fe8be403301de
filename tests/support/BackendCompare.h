// Checkasm-style comparison of the two back ends.
//
// FilterStates snapshots the filter states that the kernels keep in the engine
// state. CompareBackends feeds a stream of seeded random chunks of odd lengths
// to one operation in both back ends, each on its own copy of every chunk and
// from its own copy of the states, so the states carry from chunk to chunk as
// they would in a stream, and reports the largest difference seen.
// CompareAlternating runs the same stream three times (scalar only, SSE2 only,
// back ends alternating per chunk) to show that a switch continues every
// filter.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine/DspState.h"
#include "support/Checkasm.h"
#include "support/KernelTest.h"

namespace sn::test {

struct FilterStates {
  BiquadState bass;
  BiquadState decoder[6];
  BiquadState encoder[3];

  static FilterStates Capture() {
    FilterStates s;
    std::memcpy(&s.bass, &Dsp.BassState, sizeof(s.bass));
    std::memcpy(s.decoder, Dsp.DecoderState, sizeof(s.decoder));
    std::memcpy(s.encoder, Dsp.EncoderState, sizeof(s.encoder));
    return s;
  }
  void Restore() const {
    std::memcpy(&Dsp.BassState, &bass, sizeof(bass));
    std::memcpy(Dsp.DecoderState, decoder, sizeof(decoder));
    std::memcpy(Dsp.EncoderState, encoder, sizeof(encoder));
  }
  bool operator==(const FilterStates& o) const { return std::memcmp(this, &o, sizeof(*this)) == 0; }
};

// Largest |a - b| over columns [first, last] of two state blocks; +inf when a
// value is NaN.
inline double MaxStateDiff(const BiquadState& a, const BiquadState& b, int first, int last) {
  const float* pa[4] = {a.x1, a.x2, a.y1, a.y2};
  const float* pb[4] = {b.x1, b.x2, b.y1, b.y2};
  double worst = 0.0;
  for (int row = 0; row < 4; ++row)
    for (int c = first; c <= last; ++c) {
      const double d = std::fabs(static_cast<double>(pa[row][c]) - pb[row][c]);
      if (std::isnan(d)) return std::numeric_limits<double>::infinity();
      worst = std::max(worst, d);
    }
  return worst;
}

inline CSNFn& Backend(int which) {
  return KernelsOf(which ? BackEnd::Sse2 : BackEnd::X87);
}

// A test's reshaping of each random chunk (the n-th of the stream), applied
// before both back ends see it, e.g. to give a decoder something to steer by.
using ShapeFn = void (*)(OwnedChunk& chunk, uint32_t n);

// op(kernels, chunk) keeps its filter state in the engine state (a test of a
// single filter borrows one of the engine's blocks).
template <class Op>
double CompareBackends(uint32_t seed, Op&& op, int rounds = 2, float amplitude = 0.707f, ShapeFn shape = nullptr) {
  std::mt19937 rng(seed);
  FilterStates states[2] = {FilterStates::Capture(), FilterStates::Capture()};
  double worst = 0.0;
  uint32_t index = 0;
  for (int round = 0; round < rounds; ++round)
    for (uint32_t n : kOddLengths) {
      OwnedChunk source = RandomChunk(rng, n, amplitude);
      if (shape) shape(source, index++);
      OwnedChunk out[2] = {source, source};
      for (int b = 0; b < 2; ++b) {
        states[b].Restore();
        op(Backend(b), out[b].buf);
        states[b] = FilterStates::Capture();
      }
      worst = std::max(worst, MaxLaneDiff(out[0].buf, out[1].buf));
    }
  return worst;
}

struct AlternationResult {
  double vsScalar;
  double vsSse2;
};

template <class Op>
AlternationResult CompareAlternating(uint32_t seed, Op&& op, int chunks = 24, float amplitude = 0.707f,
                                     ShapeFn shape = nullptr) {
  std::mt19937 rng(seed);
  const FilterStates start = FilterStates::Capture();
  FilterStates states[3] = {start, start, start};  // scalar, SSE2, alternating
  AlternationResult r{0.0, 0.0};
  for (int c = 0; c < chunks; ++c) {
    OwnedChunk source = RandomChunk(rng, kOddLengths[c % std::size(kOddLengths)], amplitude);
    if (shape) shape(source, static_cast<uint32_t>(c));
    OwnedChunk out[3] = {source, source, source};
    for (int s = 0; s < 3; ++s) {
      states[s].Restore();
      op(Backend(s == 2 ? c % 2 : s), out[s].buf);
      states[s] = FilterStates::Capture();
    }
    r.vsScalar = std::max(r.vsScalar, MaxLaneDiff(out[2].buf, out[0].buf));
    r.vsSse2 = std::max(r.vsSse2, MaxLaneDiff(out[2].buf, out[1].buf));
  }
  return r;
}

// Runs op in each back end over a stream of random odd-length chunks twice from
// the same states, once with NaN and once with zeros in lanes 6 and 7: lanes 0
// to 5 and every filter state must come out bit for bit the same.
template <class Op>
::testing::AssertionResult JunkLanesIgnored(uint32_t seed, Op&& op) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  for (int b = 0; b < 2; ++b) {
    std::mt19937 rngNaN(seed), rngZero(seed);
    const FilterStates start = FilterStates::Capture();
    FilterStates s[2] = {start, start};
    for (uint32_t n : kOddLengths) {
      OwnedChunk withNaN = RandomChunk(rngNaN, n, 0.707f, kNaN);
      OwnedChunk withZero = RandomChunk(rngZero, n, 0.707f, 0.0f);
      s[0].Restore();
      op(Backend(b), withNaN.buf);
      s[0] = FilterStates::Capture();
      s[1].Restore();
      op(Backend(b), withZero.buf);
      s[1] = FilterStates::Capture();
      const char* name = b ? "SSE2" : "scalar";
      if (MaxLaneDiff(withNaN.buf, withZero.buf) != 0.0)
        return ::testing::AssertionFailure() << name << ": lanes 0-5 differ, " << n << " frames";
      if (!(s[0] == s[1])) return ::testing::AssertionFailure() << name << ": states differ, " << n << " frames";
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace sn::test
