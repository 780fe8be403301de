// A stand-in for the GPU helper module (engine/cuda/CudaHelper.h), for machines
// without a GPU: it claims one device and convolves with the CPU convolver, so
// that a stream through it equals a CUDA-disabled stream bit for bit, and it
// fails where it is told to:
//   SONAVEL_FAKE_CUDA_DEVICES=0      the probe finds no device;
//   SONAVEL_FAKE_CUDA_FAIL=create    making the device side fails (a cuFFT error);
//   SONAVEL_FAKE_CUDA_FAIL=block:N   the N-th block (from 1) fails (a runtime error);
//   SONAVEL_FAKE_CUDA_FAIL=destroy   releasing fails.
// Each call appends a line to $SONAVEL_FAKE_CUDA_LOG ("probe", "create",
// "convolve", "convolve failed", "destroy"), written without allocating.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/CpuConvolver.h"
#include "engine/cuda/CudaHelper.h"

namespace {

char g_error[256] = "";
int g_failBlock = 0;  // 0: never
bool g_failCreate = false;
bool g_failDestroy = false;
int g_blocks = 0;

void Log(const char* entry) {
  const char* path = std::getenv("SONAVEL_FAKE_CUDA_LOG");
  if (!path || !*path) return;
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[64];
  const size_t n = std::strlen(entry);
  std::memcpy(line, entry, n);
  line[n] = '\n';
  (void)!write(fd, line, n + 1);
  close(fd);
}

int32_t Probe(SnCudaDeviceInfo* info) {
  Log("probe");
  const char* fail = std::getenv("SONAVEL_FAKE_CUDA_FAIL");
  if (fail && std::strcmp(fail, "create") == 0) g_failCreate = true;
  if (fail && std::strcmp(fail, "destroy") == 0) g_failDestroy = true;
  if (fail && std::strncmp(fail, "block:", 6) == 0) g_failBlock = std::atoi(fail + 6);
  SnCudaDeviceInfo out{};
  out.device = -1;
  out.runtimeVersion = 13000;
  const char* devices = std::getenv("SONAVEL_FAKE_CUDA_DEVICES");
  if (devices && std::strcmp(devices, "0") == 0) {
    std::snprintf(g_error, sizeof g_error, "no CUDA device: no CUDA-capable device is detected\n");
    if (info) *info = out;
    return 0;
  }
  out.deviceCount = 1;
  out.device = 0;
  out.clockRateKHz = 1500000;
  out.multiProcessors = 16;
  out.driverVersion = 13000;
  out.fftVersion = 12000;
  std::snprintf(out.name, sizeof out.name, "Fake GPU");
  if (info) *info = out;
  return 1;
}

SnCudaConvolver* Create(int32_t, const float* responses, int32_t taps, const char* site) {
  Log("create");
  if (g_failCreate) {
    std::snprintf(g_error, sizeof g_error, "cufftSafeCall() CUFFT error in file <%s>, line %i.\n", site, 101);
    return nullptr;
  }
  auto* conv = new (std::nothrow) sn::CpuBlockConvolver;
  if (!conv || !conv->Prepare({responses, taps})) {
    delete conv;
    std::snprintf(g_error, sizeof g_error, "cudaSafeCall() Runtime API error in file <%s>, line %i : %s.\n", site,
                  102, "out of memory");
    return nullptr;
  }
  return reinterpret_cast<SnCudaConvolver*>(conv);
}

int32_t Convolve(SnCudaConvolver* c, int32_t set, const float* const* feeds, float* earL, float* earR,
                 const char* site, SnCudaStageTimes* times) {
  ++g_blocks;
  if (g_failBlock && g_blocks == g_failBlock) {
    Log("convolve failed");
    std::snprintf(g_error, sizeof g_error, "cudaSafeCall() Runtime API error in file <%s>, line %i : %s.\n", site,
                  201, "unspecified launch failure");
    return 0;
  }
  Log("convolve");
  if (times) *times = SnCudaStageTimes{};
  return reinterpret_cast<sn::CpuBlockConvolver*>(c)->ConvolveBlock(set, feeds, earL, earR) ? 1 : 0;
}

int32_t Destroy(SnCudaConvolver* c, const char* site) {
  if (!c) return 1;
  Log("destroy");
  delete reinterpret_cast<sn::CpuBlockConvolver*>(c);
  if (g_failDestroy) {
    std::snprintf(g_error, sizeof g_error, "cudaSafeCall() Runtime API error in file <%s>, line %i : %s.\n", site,
                  301, "invalid device pointer");
    return 0;
  }
  return 1;
}

const char* LastError() { return g_error; }

int32_t DeviceMemoryInUse(int32_t, int64_t* bytes) {
  if (bytes) *bytes = 0;
  return 1;
}

const SnCudaHelper kHelper = {SN_CUDA_HELPER_ABI, Probe, Create, Convolve, Destroy, LastError, DeviceMemoryInUse};

}  // namespace

extern "C" __attribute__((visibility("default"))) const SnCudaHelper* sonavelCudaHelper(void) { return &kHelper; }
