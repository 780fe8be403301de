// The GPU block convolver: the helper module that carries it and the adapter
// that puts it behind the headphone renderer's block-convolver seam.
//
// The plug-in does not link CUDA. Its GPU code lives in the helper module
// (engine/cuda: sonavel_cuda.so beside the plug-in, or the file that
// $SONAVEL_CUDA_MODULE names), which the probe loads through the platform layer
// the first time anything asks for a GPU, once per process and safely from any
// thread. No module, no driver, no device: no GPU, and the CPU convolver does
// all the work. The helper stays loaded until the process ends (a CUDA runtime
// must not be unloaded under its own exit handlers).
//
// Failure: a GPU call that fails never ends the process. Its line
// ("cudaSafeCall() Runtime API error in file <...>, line N : reason." or
// "cufftSafeCall() CUFFT error in file <...>, line N.") goes to standard error,
// the GPU side is released, and the GPU is not used again in this process; the
// caller convolves the block on the CPU.
//
// Threads: ProbeGpu, GpuDescription and GpuFailed from any thread; the
// convolver as the seam says (DSP thread, or a thread that holds the engine while
// no stream plays). ConvolveBlock allocates nothing on the host, also when it
// fails.
#pragma once

#include <cstdint>

#include "engine/BlockConvolver.h"
#include "engine/cuda/CudaHelper.h"

namespace sn {

// The environment variable that names the helper module instead of the one
// beside the plug-in.
inline constexpr char kCudaModuleEnv[] = "SONAVEL_CUDA_MODULE";
#if defined(_WIN32)
inline constexpr char kCudaModuleName[] = "sonavel_cuda.dll";
#else
inline constexpr char kCudaModuleName[] = "sonavel_cuda.so";
#endif

// Loads the helper and lets it choose a device, the first time only. True when
// a device was chosen and made current.
bool ProbeGpu();
// One line for people: the device chosen and the versions found, or why there
// is no GPU. Probes first.
const char* GpuDescription();
// A GPU call has failed in this process; the GPU is not used again.
bool GpuFailed();

class GpuBlockConvolver final : public IBlockConvolver {
 public:
  GpuBlockConvolver() = default;
  // Fails (false, nothing made) without a device, after a GPU failure, or when
  // the device side cannot be made, which counts as a GPU failure.
  bool Prepare(const BinauralFilterSet& filters) override;
  void Release() override;
  bool Ready() const override { return convolver_ != nullptr; }
  bool ConvolveBlock(int filterSet, const float* const feeds[kConvolverFeeds], float* earL, float* earR) override;
  // ConvolveBlock that also reports each stage's device time (benchmarks).
  bool ConvolveBlockTimed(int filterSet, const float* const feeds[kConvolverFeeds], float* earL, float* earR,
                          SnCudaStageTimes* times);
  // Device memory in use on the chosen device, in bytes (all processes); -1
  // when unknown.
  int64_t DeviceMemoryInUse() const;
  // Blocks convolved on the device since the process started.
  uint64_t BlocksConvolved() const { return blocks_; }

  GpuBlockConvolver(const GpuBlockConvolver&) = delete;
  GpuBlockConvolver& operator=(const GpuBlockConvolver&) = delete;

 private:
  // Reports the helper's last error, releases the device side quietly and
  // gives up on the GPU for the process.
  void Fail();

  SnCudaConvolver* convolver_ = nullptr;
  const float* preparedWith_ = nullptr;
  int preparedTaps_ = 0;
  uint64_t blocks_ = 0;
};

// The process's GPU convolver. Never destroyed: the engine releases it
// (CSNLib::ReleaseEngine), whatever the order of static destruction.
GpuBlockConvolver& GpuConvolver();

// Prepares the GPU convolver with `filters` when a device was found and the GPU
// has not failed, whatever the CUDA setting says, so that switching the setting
// during a stream never allocates. Allocates; called where the CPU convolver is
// prepared, before a stream starts.
void PrepareGpuConvolver(const BinauralFilterSet& filters);

}  // namespace sn
