#include "engine/GpuConvolver.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "engine/Backend.h"
#include "engine/SNLib.h"
#include "platform/Platform.h"

namespace sn {

namespace {

// The names the error lines give: the engine's own source for making and
// releasing the device side, the back end's renderer for a block.
constexpr char kSiteEngine[] = ".\\SNFn";
constexpr char kSiteScalar[] = ".\\SNFnx87";
constexpr char kSiteSse2[] = ".\\SNFnSSE2";

struct GpuProbe {
  const SnCudaHelper* api = nullptr;
  SnCudaDeviceInfo info{};
  bool usable = false;
  char text[512] = "";
};

std::atomic<bool> g_failed{false};

// The helper's text without its line end.
void SetText(GpuProbe& p, const char* prefix, const std::string& detail) {
  std::string line = prefix + detail;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::snprintf(p.text, sizeof p.text, "%s", line.c_str());
}

GpuProbe RunProbe() {
  GpuProbe p;
  try {
    std::string path;
    const char* env = std::getenv(kCudaModuleEnv);
    if (env && *env) {
      path = env;
    } else {
      const std::string dir = platform::ModuleDirectory(reinterpret_cast<const void*>(&ProbeGpu));
      if (dir.empty()) {
        SetText(p, "no GPU: ", "the plug-in's directory is unknown");
        return p;
      }
      path = dir + kCudaModuleName;
    }
    platform::Module* module = platform::LoadModule(platform::FromUtf8(path).c_str());
    if (!module) {
      SetText(p, "no GPU helper module: ", platform::ModuleLoadError());
      return p;
    }
    auto entry = reinterpret_cast<SnCudaHelperEntry>(platform::FindExport(module, SN_CUDA_HELPER_ENTRY));
    const SnCudaHelper* api = entry ? entry() : nullptr;
    if (!api || api->abi != SN_CUDA_HELPER_ABI || !api->Probe || !api->Create || !api->Convolve || !api->Destroy ||
        !api->LastError || !api->DeviceMemoryInUse) {
      SetText(p, "no GPU: ", path + " is not a GPU helper module of this version");
      // Not ours, or not this version: nothing of it has been called but its entry.
      platform::UnloadModule(module);
      return p;
    }
    // From here on the module stays loaded, with or without a device.
    SnCudaDeviceInfo info{};
    if (!api->Probe(&info)) {
      const char* why = api->LastError();
      SetText(p, "no GPU: ", why && *why ? why : "no CUDA device");
      return p;
    }
    p.api = api;
    p.info = info;
    p.usable = true;
    std::snprintf(p.text, sizeof p.text,
                  "%.200s (device %d of %d, %d MHz x %d multiprocessors; driver %d, runtime %d, cuFFT %d)",
                  info.name, info.device, info.deviceCount, info.clockRateKHz / 1000, info.multiProcessors,
                  info.driverVersion, info.runtimeVersion, info.fftVersion);
  } catch (...) {
    p = GpuProbe{};
    std::snprintf(p.text, sizeof p.text, "no GPU: the probe ran out of memory");
  }
  return p;
}

const GpuProbe& Probe() {
  static const GpuProbe probe = RunProbe();
  return probe;
}

const char* BlockSite() {
  return &CSNLib::ActiveKernels() == KernelsOf(BackEnd::Sse2) ? kSiteSse2 : kSiteScalar;
}

}  // namespace

bool ProbeGpu() { return Probe().usable; }

const char* GpuDescription() { return Probe().text; }

bool GpuFailed() { return g_failed.load(std::memory_order_relaxed); }

// In static storage, made at the first call without allocating (the audio path
// asks for it even where no GPU exists) and never destroyed.
GpuBlockConvolver& GpuConvolver() {
  alignas(GpuBlockConvolver) static unsigned char storage[sizeof(GpuBlockConvolver)];
  static GpuBlockConvolver* const convolver = new (storage) GpuBlockConvolver;
  return *convolver;
}

void PrepareGpuConvolver(const BinauralFilterSet& filters) {
  if (!CSNLib::IsCUDASupported()) return;
  GpuConvolver().Prepare(filters);
}

// The line on standard error goes out through the unbuffered stream, which
// writes without allocating.
void GpuBlockConvolver::Fail() {
  const SnCudaHelper* api = Probe().api;
  const char* line = api ? api->LastError() : nullptr;
  std::fputs(line && *line ? line : "cudaSafeCall() Runtime API error: unknown failure.\n", stderr);
  g_failed.store(true, std::memory_order_relaxed);
  if (convolver_ && api) api->Destroy(convolver_, kSiteEngine);
  convolver_ = nullptr;
  preparedWith_ = nullptr;
  preparedTaps_ = 0;
}

bool GpuBlockConvolver::Prepare(const BinauralFilterSet& filters) {
  if (convolver_ && preparedWith_ == filters.responses && preparedTaps_ == filters.taps) return true;
  Release();
  const GpuProbe& probe = Probe();
  if (!probe.usable || GpuFailed()) return false;
  if (!filters.responses || filters.taps <= 0 || filters.taps > static_cast<int>(kConvolverBlock)) return false;
  convolver_ = probe.api->Create(probe.info.device, filters.responses, filters.taps, kSiteEngine);
  if (!convolver_) {
    Fail();
    return false;
  }
  preparedWith_ = filters.responses;
  preparedTaps_ = filters.taps;
  return true;
}

void GpuBlockConvolver::Release() {
  if (!convolver_) return;
  SnCudaConvolver* c = convolver_;
  convolver_ = nullptr;
  preparedWith_ = nullptr;
  preparedTaps_ = 0;
  const SnCudaHelper* api = Probe().api;
  if (api && !api->Destroy(c, kSiteEngine)) Fail();
}

bool GpuBlockConvolver::ConvolveBlock(int filterSet, const float* const feeds[kConvolverFeeds], float* earL,
                                      float* earR) {
  return ConvolveBlockTimed(filterSet, feeds, earL, earR, nullptr);
}

bool GpuBlockConvolver::ConvolveBlockTimed(int filterSet, const float* const feeds[kConvolverFeeds], float* earL,
                                           float* earR, SnCudaStageTimes* times) {
  if (!convolver_) return false;
  if (!Probe().api->Convolve(convolver_, filterSet ? 1 : 0, feeds, earL, earR, BlockSite(), times)) {
    Fail();
    return false;
  }
  ++blocks_;
  return true;
}

int64_t GpuBlockConvolver::DeviceMemoryInUse() const {
  const GpuProbe& probe = Probe();
  int64_t bytes = -1;
  if (!probe.usable || !probe.api->DeviceMemoryInUse(probe.info.device, &bytes)) return -1;
  return bytes;
}

}  // namespace sn
