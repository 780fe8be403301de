// The table of every kernel for the checkasm-style harness and its benchmark.
//
// Each entry runs one kernel operation of a back end on a KernelIo (one chunk's
// inputs and outputs) and a KernelState (what the operation carries from chunk
// to chunk). The harness (tests/test_kernels_checkasm.cpp) fills two sets with
// the same seeded random input of odd lengths, runs the scalar back end on one
// and the SSE2 back end on the other, and compares every output with one
// measure: the largest absolute difference, in units of full scale (integer
// output codes count 1/32768 or 1/8388608 each), against the entry's
// tolerance. Every buffer carries guard bytes beyond its 16 bytes of slack that
// no kernel may touch. The benchmark (bench/bench_checkasm.cpp) times the same
// entries.
//
// The delay stage is one routine shared by both back ends and is not listed.
// No gtest here: the benchmark links this too.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/DspState.h"
#include "kernels/SNFn.h"

namespace sn::test {

// An SNBuffer over storage that extends kGuardBytes past its slack, filled with
// a pattern that Intact() checks. The buffer's count and capacity are both the
// element count, so a kernel's growth rule never replaces the storage.
template <class T>
class Guarded {
 public:
  static constexpr size_t kGuardBytes = 64;
  static constexpr uint8_t kPattern = 0xA5;

  Guarded() { buf.Init(); }
  ~Guarded() { std::free(raw_); }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  void Make(uint32_t n) {
    std::free(raw_);
    bytes_ = static_cast<size_t>(n) * sizeof(T) + 16 + kGuardBytes;
    raw_ = static_cast<uint8_t*>(std::aligned_alloc(16, (bytes_ + 15) / 16 * 16));
    std::memset(raw_, kPattern, bytes_);
    buf.data = reinterpret_cast<T*>(raw_);
    buf.count = buf.capacity = n;
    buf.position = 0;
    n_ = n;
  }
  bool Intact() const {
    if (buf.data != reinterpret_cast<T*>(raw_)) return false;  // storage replaced
    for (size_t i = static_cast<size_t>(n_) * sizeof(T) + 16; i < bytes_; ++i)
      if (raw_[i] != kPattern) return false;
    return true;
  }
  T* data() { return buf.data; }

  SNBuffer<T> buf;

 private:
  uint8_t* raw_ = nullptr;
  size_t bytes_ = 0;
  uint32_t n_ = 0;
};

struct KernelState {
  BiquadState filter[3]{};
  std::vector<SNComplex> tail = std::vector<SNComplex>(kHeadphoneBlock + 4, SNComplex{0.0f, 0.0f});
};

struct KernelIo {
  Guarded<SNCHUNK_INTCHUNK> frames, band, rest;
  Guarded<float> vecA, vecB;       // a mono signal, or the two steering vectors
  Guarded<OutFrame16> out16;
  Guarded<OutFrame24> out24;
  Guarded<uint8_t> pcm;            // n frames of up to six 32-bit samples
  Guarded<SNComplex> pairs;        // n ear pairs (MixHeadphoneBlock: 8192)
  Guarded<float> earL, earR;       // 16384 each
  uint32_t frames_n = 0;

  // Every buffer for a chunk of n frames, filled from `rng`: frames in
  // +-0.707 (steered: r a panned or phase-flipped copy of l, by `pattern`),
  // lanes 6 and 7 NaN; vectors as steering values in [ln 0.1, ln 10].
  void Fill(std::mt19937& rng, uint32_t n, bool steered, uint32_t pattern);
  bool GuardsIntact() const;
};

// The output values of a KernelIo as numbers in full-scale units, in a fixed
// order, for comparison.
std::vector<double> Outputs(const KernelIo& io);

struct KernelCoeffs {
  ButterworthCoeffs hp100, lp7000, hp1200, lp795, lfe;
  GainSet gains;
  CentreMix centre;
};
// The coefficients of a 48 kHz stream with some trims and the Music centre weight.
KernelCoeffs MakeCoeffs();

struct KernelEntry {
  std::string name;
  void (*run)(CSNFn& k, KernelState& s, KernelIo& io, const KernelCoeffs& c, int arg);
  int arg;
  double tolerance;      // largest |scalar - SSE2|, full-scale units
  uint32_t fixedLength;  // frames of every chunk, or 0 for the odd lengths
  bool steered;          // input shaped to steer the active decoder
};

const std::vector<KernelEntry>& AllKernels();

}  // namespace sn::test
