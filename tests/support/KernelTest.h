// Shared helpers for kernel tests: engine set-up, seeded random frames, and the
// checkasm-style comparison of the SSE2 back end against the scalar reference.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "config/Config.h"
#include "engine/Backend.h"
#include "engine/DspState.h"
#include "engine/SNLib.h"

namespace sn::test {

// The two back ends' kernels (the scalar ones where this build has no SSE2).
inline CSNFn& ScalarKernels() { return *sn::KernelsOf(sn::BackEnd::Scalar); }
inline CSNFn& Sse2Kernels() {
  CSNFn* k = sn::KernelsOf(sn::BackEnd::Sse2);
  return k ? *k : ScalarKernels();
}

// Points the engine at a private settings record (defaults unless changed),
// clears all engine state and publishes the constants for `rate`.
class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Recomputes and latches the constants after a settings change.
  void Recalc(uint32_t rate = 48000);

  Config cfg_{};
  uint32_t rate_ = 48000;
};

// The engine with the room stages at identity (no delays, 0 dB), run once per
// back end: the parameter is Config.SSE2Enable.
class EnginePerBackend : public EngineFixture, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override;
};

// A chunk that owns its storage.
struct OwnedChunk {
  SNChunk buf{};
  OwnedChunk() { buf.Init(); }
  explicit OwnedChunk(uint32_t frames) {
    buf.Init();
    buf.Resize(frames);
  }
  ~OwnedChunk() { buf.Release(); }
  OwnedChunk(const OwnedChunk& o);
  OwnedChunk& operator=(const OwnedChunk& o);
  SNCHUNK_INTCHUNK& operator[](uint32_t i) { return buf.data[i]; }
  const SNCHUNK_INTCHUNK& operator[](uint32_t i) const { return buf.data[i]; }
  uint32_t size() const { return buf.count; }
};

// Frames with lanes 0..5 uniform in [-amplitude, amplitude]; lanes 6 and 7 hold
// `junk` (NaN by default) to show that no result depends on them.
OwnedChunk RandomChunk(std::mt19937& rng, uint32_t frames, float amplitude = 0.707f,
                       float junk = std::numeric_limits<float>::quiet_NaN());

// Largest |a - b| over lanes 0..5 of two chunks of the same count; +inf when the
// counts differ or a value is NaN in one and not the other.
double MaxLaneDiff(const SNChunk& a, const SNChunk& b);

// Odd chunk lengths for checkasm-style runs (0 and 1 included).
inline constexpr uint32_t kOddLengths[] = {0, 1, 3, 5, 7, 13, 31, 257, 577, 1023};

}  // namespace sn::test
