// The block convolver on the CPU, with the real transforms of engine/CpuFft.h.
//
// Each response is zero-padded to 16384 points and transformed once, at
// Prepare. Per block, each non-silent feed (padded to 16384) is transformed
// forward, its spectrum multiplied by the feed's two ear spectra and
// accumulated per ear, and each ear's sum is transformed back once: 5 forward
// and 2 inverse transforms at most. Since 8192 + 8192 - 1 values fit into 16384,
// the circular convolution equals the linear one. The transforms are
// unnormalised: every result is 16384 times the convolution. Spectra are held
// in split form: kBinsPadded real parts, then as many imaginary parts.
//
// Threads, ownership and alignment as the seam says (engine/BlockConvolver.h);
// all memory is 16-byte aligned and owned by the object. ConvolveBlock never
// allocates.
#pragma once

#include "engine/BlockConvolver.h"
#include "engine/CpuFft.h"
#include "kernels/SNBuffer.h"

namespace sn {

class CpuBlockConvolver final : public IBlockConvolver {
 public:
  CpuBlockConvolver() = default;
  ~CpuBlockConvolver() override;
  bool Prepare(const BinauralFilterSet& filters) override;
  void Release() override;
  bool Ready() const override { return ready_; }
  bool ConvolveBlock(int filterSet, const float* const feeds[kConvolverFeeds], float* earL, float* earR) override;

  CpuBlockConvolver(const CpuBlockConvolver&) = delete;
  CpuBlockConvolver& operator=(const CpuBlockConvolver&) = delete;

 private:
  // spectra_[set][feed][ear], 8193 bins each, split.
  SNBuffer<float> spectra_[2][kConvolverFeeds][2]{};
  SNBuffer<float> response_{};  // 8192: a response and its zero tail
  SNBuffer<float> spectrum_{};  // the feed's spectrum, split
  SNBuffer<float> sum_[2]{};    // per ear: the accumulated products, split
  CpuRealFft fft_;
  const float* preparedWith_ = nullptr;
  int preparedTaps_ = 0;
  bool ready_ = false;
};

}  // namespace sn
