// The block convolver on the CPU, with KISS FFT's real transforms.
//
// Each response is zero-padded to 16384 points and transformed once, at
// Prepare. Per block, each non-silent feed (padded to 16384) is transformed
// forward, its spectrum multiplied by the feed's two ear spectra and
// accumulated per ear, and each ear's sum is transformed back once: 5 forward
// and 2 inverse transforms at most. Since 8192 + 8192 - 1 values fit into 16384,
// the circular convolution equals the linear one. The transforms are
// unnormalised: every result is 16384 times the convolution.
//
// Threads, ownership and alignment as the seam says (engine/BlockConvolver.h);
// all memory is 16-byte aligned and owned by the object. ConvolveBlock never
// allocates: KISS FFT copies a transform's input aside (allocating) only when it
// runs in place, and every transform here reads and writes distinct buffers.
#pragma once

#include "engine/BlockConvolver.h"
#include "kernels/SNBuffer.h"

struct kiss_fftr_state;

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
  // spectra_[set][feed][ear], 8193 bins each.
  SNBuffer<SNComplex> spectra_[2][kConvolverFeeds][2]{};
  SNBuffer<float> padded_{};       // 16384: a feed and its zero half
  SNBuffer<SNComplex> spectrum_{};  // 8193: the feed's spectrum
  SNBuffer<SNComplex> sum_[2]{};    // 8193 per ear: the accumulated products
  kiss_fftr_state* forward_ = nullptr;
  kiss_fftr_state* inverse_ = nullptr;
  const float* preparedWith_ = nullptr;
  bool ready_ = false;
};

}  // namespace sn
