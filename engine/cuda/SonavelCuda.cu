// The GPU helper module: device choice and the headphone renderer's block
// convolver on CUDA and cuFFT, behind the C table of engine/cuda/CudaHelper.h.
//
// One block: the five feeds go to the device in one copy, into rows of 16384
// floats whose upper halves are zero; one batched real-to-complex transform
// gives their five spectra; the kernel ComplexPointwiseMul multiplies each
// spectrum by its feed's two ear spectra and accumulates per ear; one batched
// complex-to-real transform of the two sums gives both ears, which come back in
// one copy. 8192 samples convolved with 8192 taps fit into 16384 points, so the
// circular convolution is the linear one; the transforms are unnormalised, so
// every value is 16384 times the convolution. The filter spectra are made once,
// at Create, by the same forward plan, and stay on the device.
//
// Everything runs in order on the convolver's own stream; host buffers are
// pinned and made at Create, so a block allocates nothing on the host. Every
// runtime and cuFFT call is checked; a failure is described in LastError and
// reported to the caller, which decides what to do (the module never ends the
// process).
#include <cuda_runtime.h>
#include <cufft.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/cuda/CudaHelper.h"

#if defined(_WIN32)
#define SN_CUDA_EXPORT __declspec(dllexport)
#else
#define SN_CUDA_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr int kFeeds = SN_CUDA_FEEDS;
constexpr int kBlock = SN_CUDA_BLOCK;
constexpr int kN = SN_CUDA_OUT;
constexpr int kBins = kN / 2 + 1;
constexpr int kMaxDevices = 64;
constexpr int kThreads = 256;
constexpr int kGrid = (kBins + kThreads - 1) / kThreads;

char g_error[512] = "";
// Set by an exit handler registered at the probe, before anything the engine
// releases from its own static destructors: by then the runtime and cuFFT may
// be torn down, and the driver reclaims the device side anyway.
std::atomic<bool> g_exiting{false};

void MarkExiting() { g_exiting.store(true); }

bool CudaOk(cudaError_t e, const char* site, int line) {
  if (e == cudaSuccess) return true;
  std::snprintf(g_error, sizeof g_error, "cudaSafeCall() Runtime API error in file <%s>, line %i : %s.\n",
                site ? site : "?", line, cudaGetErrorString(e));
  return false;
}

bool FftOk(cufftResult r, const char* site, int line) {
  if (r == CUFFT_SUCCESS) return true;
  std::snprintf(g_error, sizeof g_error, "cufftSafeCall() CUFFT error in file <%s>, line %i.\n", site ? site : "?",
                line);
  return false;
}

#define CUDA_OK(call) CudaOk((call), site, __LINE__)
#define FFT_OK(call) FftOk((call), site, __LINE__)

// sums[ear][b] = sum over the feeds f of spectra[f][b] x filters[ear][f][b],
// complex, single precision, feeds in order: per product
// re = h.re s.re - s.im h.im, im = h.re s.im + s.re h.im, then added. The
// rounded intrinsics keep the compiler from fusing them into multiply-adds, so
// each product and sum rounds as the CPU convolver's do. Grid-stride loop.
__global__ void ComplexPointwiseMul(const cufftComplex* __restrict__ spectra, const cufftComplex* __restrict__ filters,
                                    cufftComplex* __restrict__ sums, int bins) {
  for (int b = blockIdx.x * blockDim.x + threadIdx.x; b < bins; b += gridDim.x * blockDim.x) {
    float lr = 0.0f, li = 0.0f, rr = 0.0f, ri = 0.0f;
    for (int f = 0; f < kFeeds; ++f) {
      const cufftComplex s = spectra[f * bins + b];
      const cufftComplex hl = filters[f * bins + b];
      const cufftComplex hr = filters[(kFeeds + f) * bins + b];
      lr = __fadd_rn(lr, __fsub_rn(__fmul_rn(hl.x, s.x), __fmul_rn(s.y, hl.y)));
      li = __fadd_rn(li, __fadd_rn(__fmul_rn(hl.x, s.y), __fmul_rn(s.x, hl.y)));
      rr = __fadd_rn(rr, __fsub_rn(__fmul_rn(hr.x, s.x), __fmul_rn(s.y, hr.y)));
      ri = __fadd_rn(ri, __fadd_rn(__fmul_rn(hr.x, s.y), __fmul_rn(s.x, hr.y)));
    }
    sums[b] = make_cuComplex(lr, li);
    sums[bins + b] = make_cuComplex(rr, ri);
  }
}

}  // namespace

struct SnCudaConvolver {
  int device = 0;
  cudaStream_t stream = nullptr;
  bool haveForward = false, haveInverse = false;
  cufftHandle forward = 0;  // five rows of 16384 real to 8193 complex
  cufftHandle inverse = 0;  // two rows of 8193 complex to 16384 real
  float* feeds = nullptr;   // device, 5 x 16384, upper halves zero
  cufftComplex* spectra = nullptr;  // device, 5 x 8193
  cufftComplex* filters = nullptr;  // device, [set][ear][feed] x 8193
  cufftComplex* sums = nullptr;     // device, 2 x 8193
  float* ears = nullptr;            // device, 2 x 16384
  float* hostFeeds = nullptr;       // pinned, 5 x 8192
  float* hostEars = nullptr;        // pinned, 2 x 16384
  cudaEvent_t marks[6] = {};
  int marksMade = 0;
};

namespace {

// Releases what exists. With `report`, the first failure is described in
// g_error; otherwise (cleaning up after a failed Create) g_error keeps the
// failure that matters.
bool Release(SnCudaConvolver* c, const char* site, bool report) {
  if (!c) return true;
  bool ok = true;
  if (!g_exiting.load()) {
    char kept[sizeof g_error];
    if (!report) std::memcpy(kept, g_error, sizeof kept);
    ok = CUDA_OK(cudaSetDevice(c->device)) && ok;
    if (c->stream) ok = CUDA_OK(cudaStreamSynchronize(c->stream)) && ok;
    if (c->haveInverse) ok = FFT_OK(cufftDestroy(c->inverse)) && ok;
    if (c->haveForward) ok = FFT_OK(cufftDestroy(c->forward)) && ok;
    void* device[] = {c->feeds, c->spectra, c->filters, c->sums, c->ears};
    for (void* p : device)
      if (p) ok = CUDA_OK(cudaFree(p)) && ok;
    if (c->hostFeeds) ok = CUDA_OK(cudaFreeHost(c->hostFeeds)) && ok;
    if (c->hostEars) ok = CUDA_OK(cudaFreeHost(c->hostEars)) && ok;
    for (int i = 0; i < c->marksMade; ++i) ok = CUDA_OK(cudaEventDestroy(c->marks[i])) && ok;
    if (c->stream) ok = CUDA_OK(cudaStreamDestroy(c->stream)) && ok;
    if (!report) std::memcpy(g_error, kept, sizeof kept);
  }
  delete c;
  return ok;
}

// The 20 responses, zero-padded to 16384, transformed by the forward plan in
// four batches of five into filters[set][ear][feed].
bool MakeFilterSpectra(SnCudaConvolver* c, const float* responses, int taps, const char* site) {
  float* padded = nullptr;
  const size_t rowBytes = sizeof(float) * kN;
  bool ok = CUDA_OK(cudaMalloc(&padded, 4 * kFeeds * rowBytes));
  ok = ok && CUDA_OK(cudaMemsetAsync(padded, 0, 4 * kFeeds * rowBytes, c->stream));
  for (int set = 0; ok && set < 2; ++set)
    for (int ear = 0; ok && ear < 2; ++ear)
      for (int feed = 0; ok && feed < kFeeds; ++feed) {
        const float* r = responses + static_cast<size_t>(set * 10 + feed * 2 + ear) * taps;
        float* row = padded + static_cast<size_t>((set * 2 + ear) * kFeeds + feed) * kN;
        ok = CUDA_OK(cudaMemcpyAsync(row, r, sizeof(float) * taps, cudaMemcpyHostToDevice, c->stream));
      }
  for (int g = 0; ok && g < 4; ++g)
    ok = FFT_OK(cufftExecR2C(c->forward, padded + static_cast<size_t>(g) * kFeeds * kN,
                             c->filters + static_cast<size_t>(g) * kFeeds * kBins));
  ok = ok && CUDA_OK(cudaStreamSynchronize(c->stream));
  if (padded) {
    // The copies above read pageable host memory: wait for them before freeing.
    cudaStreamSynchronize(c->stream);
    ok = CUDA_OK(cudaFree(padded)) && ok;
  }
  return ok;
}

// One block through the device; the two ears end in hostEars.
bool RunBlock(SnCudaConvolver* c, int32_t set, const float* const* feeds, const char* site,
              SnCudaStageTimes* times) {
  if (!CUDA_OK(cudaSetDevice(c->device))) return false;
  for (int f = 0; f < kFeeds; ++f) {
    float* dst = c->hostFeeds + static_cast<size_t>(f) * kBlock;
    if (feeds && feeds[f])
      std::memcpy(dst, feeds[f], sizeof(float) * kBlock);
    else
      std::memset(dst, 0, sizeof(float) * kBlock);
  }
  const bool timed = times != nullptr && c->marksMade == 6;
  auto mark = [&](int i) { return !timed || CUDA_OK(cudaEventRecord(c->marks[i], c->stream)); };
  const cufftComplex* filters = c->filters + static_cast<size_t>(set ? 1 : 0) * 2 * kFeeds * kBins;
  const size_t row = sizeof(float) * kN;
  const size_t half = sizeof(float) * kBlock;

  bool ok = mark(0);
  ok = ok && CUDA_OK(cudaMemcpy2DAsync(c->feeds, row, c->hostFeeds, half, half, kFeeds, cudaMemcpyHostToDevice,
                                       c->stream));
  // The transform reads the upper halves as zeros; they are kept so whatever
  // the library does with its input.
  ok = ok && CUDA_OK(cudaMemset2DAsync(c->feeds + kBlock, row, 0, half, kFeeds, c->stream));
  ok = ok && mark(1);
  ok = ok && FFT_OK(cufftExecR2C(c->forward, c->feeds, c->spectra));
  ok = ok && mark(2);
  if (ok) {
    ComplexPointwiseMul<<<kGrid, kThreads, 0, c->stream>>>(c->spectra, filters, c->sums, kBins);
    ok = CUDA_OK(cudaGetLastError());
  }
  ok = ok && mark(3);
  ok = ok && FFT_OK(cufftExecC2R(c->inverse, c->sums, c->ears));
  ok = ok && mark(4);
  ok = ok && CUDA_OK(cudaMemcpyAsync(c->hostEars, c->ears, 2 * row, cudaMemcpyDeviceToHost, c->stream));
  ok = ok && mark(5);
  ok = ok && CUDA_OK(cudaStreamSynchronize(c->stream));
  if (ok && timed) {
    float* out[] = {&times->upload, &times->forward, &times->products, &times->inverse, &times->download};
    for (int i = 0; ok && i < 5; ++i) ok = CUDA_OK(cudaEventElapsedTime(out[i], c->marks[i], c->marks[i + 1]));
  }
  return ok;
}

int32_t Convolve(SnCudaConvolver* c, int32_t set, const float* const* feeds, float* earL, float* earR,
                 const char* site, SnCudaStageTimes* times) {
  if (!c || !earL || !earR) {
    CUDA_OK(cudaErrorInvalidValue);
    return 0;
  }
  if (!RunBlock(c, set, feeds, site, times)) return 0;
  std::memcpy(earL, c->hostEars, sizeof(float) * kN);
  std::memcpy(earR, c->hostEars + kN, sizeof(float) * kN);
  return 1;
}

SnCudaConvolver* Create(int32_t device, const float* responses, int32_t taps, const char* site) {
  if (!responses || taps <= 0 || taps > kBlock) {
    CUDA_OK(cudaErrorInvalidValue);
    return nullptr;
  }
  SnCudaConvolver* c = new (std::nothrow) SnCudaConvolver;
  if (!c) {
    CUDA_OK(cudaErrorMemoryAllocation);
    return nullptr;
  }
  c->device = device;
  const size_t row = sizeof(float) * kN;
  const size_t spectrum = sizeof(cufftComplex) * kBins;
  bool ok = CUDA_OK(cudaSetDevice(device));
  ok = ok && CUDA_OK(cudaStreamCreateWithFlags(&c->stream, cudaStreamNonBlocking));
  ok = ok && CUDA_OK(cudaMalloc(&c->feeds, kFeeds * row));
  ok = ok && CUDA_OK(cudaMalloc(&c->spectra, kFeeds * spectrum));
  ok = ok && CUDA_OK(cudaMalloc(&c->filters, 4 * kFeeds * spectrum));
  ok = ok && CUDA_OK(cudaMalloc(&c->sums, 2 * spectrum));
  ok = ok && CUDA_OK(cudaMalloc(&c->ears, 2 * row));
  ok = ok && CUDA_OK(cudaMemsetAsync(c->feeds, 0, kFeeds * row, c->stream));
  ok = ok && CUDA_OK(cudaMallocHost(&c->hostFeeds, sizeof(float) * kFeeds * kBlock));
  ok = ok && CUDA_OK(cudaMallocHost(&c->hostEars, 2 * row));
  for (; ok && c->marksMade < 6; ++c->marksMade) ok = CUDA_OK(cudaEventCreate(&c->marks[c->marksMade]));
  if (ok) c->haveForward = FFT_OK(cufftPlan1d(&c->forward, kN, CUFFT_R2C, kFeeds));
  if (c->haveForward) c->haveInverse = FFT_OK(cufftPlan1d(&c->inverse, kN, CUFFT_C2R, 2));
  ok = ok && c->haveForward && c->haveInverse;
  ok = ok && FFT_OK(cufftSetStream(c->forward, c->stream));
  ok = ok && FFT_OK(cufftSetStream(c->inverse, c->stream));
  ok = ok && MakeFilterSpectra(c, responses, taps, site);
  // A silent block loads the kernel and the transforms' code now, not at the
  // first block of the stream.
  ok = ok && RunBlock(c, 0, nullptr, site, nullptr);
  if (!ok) {
    Release(c, site, false);
    return nullptr;
  }
  return c;
}

int32_t Destroy(SnCudaConvolver* c, const char* site) { return Release(c, site, true) ? 1 : 0; }

int32_t Probe(SnCudaDeviceInfo* info) {
  static std::atomic<bool> registered{false};
  if (!registered.exchange(true)) std::atexit(MarkExiting);
  SnCudaDeviceInfo out{};
  out.device = -1;
  const char* site = "probe";
  cudaDriverGetVersion(&out.driverVersion);
  cudaRuntimeGetVersion(&out.runtimeVersion);
  cufftGetVersion(&out.fftVersion);
  int count = 0;
  const cudaError_t e = cudaGetDeviceCount(&count);
  out.deviceCount = e == cudaSuccess && count > 0 ? count : 0;
  if (info) *info = out;
  if (e != cudaSuccess) {
    std::snprintf(g_error, sizeof g_error, "no CUDA device: %s\n", cudaGetErrorString(e));
    return 0;
  }
  if (count <= 0) {
    std::snprintf(g_error, sizeof g_error, "no CUDA device\n");
    return 0;
  }
  if (count > kMaxDevices) count = kMaxDevices;
  SnCudaDeviceScore scores[kMaxDevices] = {};
  for (int i = 0; i < count; ++i) {
    int clock = 0, processors = 0;
    scores[i].usable = cudaDeviceGetAttribute(&clock, cudaDevAttrClockRate, i) == cudaSuccess &&
                       cudaDeviceGetAttribute(&processors, cudaDevAttrMultiProcessorCount, i) == cudaSuccess;
    scores[i].clockRateKHz = clock;
    scores[i].multiProcessors = processors;
  }
  const int best = SnCudaChooseDevice(scores, count);
  if (best < 0) {
    std::snprintf(g_error, sizeof g_error, "no CUDA device: no device's properties could be read\n");
    return 0;
  }
  cudaDeviceProp prop{};
  if (!CUDA_OK(cudaGetDeviceProperties(&prop, best)) || !CUDA_OK(cudaSetDevice(best))) return 0;
  out.device = best;
  out.clockRateKHz = scores[best].clockRateKHz;
  out.multiProcessors = scores[best].multiProcessors;
  static_assert(sizeof out.name >= sizeof prop.name);
  std::memcpy(out.name, prop.name, sizeof prop.name);
  out.name[sizeof out.name - 1] = '\0';
  if (info) *info = out;
  g_error[0] = '\0';
  return 1;
}

const char* LastError() { return g_error; }

int32_t DeviceMemoryInUse(int32_t device, int64_t* bytes) {
  const char* site = "memory";
  size_t freeBytes = 0, total = 0;
  if (!bytes || !CUDA_OK(cudaSetDevice(device)) || !CUDA_OK(cudaMemGetInfo(&freeBytes, &total))) return 0;
  *bytes = static_cast<int64_t>(total - freeBytes);
  return 1;
}

const SnCudaHelper kHelper = {SN_CUDA_HELPER_ABI, Probe, Create, Convolve, Destroy, LastError, DeviceMemoryInUse};

}  // namespace

extern "C" SN_CUDA_EXPORT const SnCudaHelper* sonavelCudaHelper(void) { return &kHelper; }
