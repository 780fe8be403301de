/* The C interface of the GPU helper module.
 *
 * The headphone renderer's GPU block convolver lives in its own shared module,
 * sonavel_cuda.so (sonavel_cuda.dll on Windows), built with the CUDA toolkit and
 * installed next to the plug-in. The plug-in never links the CUDA libraries: it
 * loads this module when it first asks for a GPU, looks up the one export
 * SN_CUDA_HELPER_ENTRY and calls through the table that returns. A machine
 * without the module, the driver, the runtime or cuFFT simply has no GPU.
 *
 * This header is plain C so that both sides (and test stand-ins) share it.
 *
 * Threads: Probe is called once per process; Create, Convolve and Destroy run on
 * one thread at a time (the engine's DSP thread), and each selects the chosen
 * device for the calling thread itself. LastError belongs to whichever call
 * failed last. Nothing here throws or ends the process.
 *
 * Layout and scaling of one block, as the engine's block-convolver seam has it:
 * five feeds of SN_CUDA_BLOCK floats in (L, R, C, SL, SR; a null feed is
 * silent), two ears of SN_CUDA_OUT floats out, each ear the sum over the feeds of
 * the linear convolution of the feed with that feed's response for the ear,
 * times SN_CUDA_OUT (unnormalised transforms).
 */
#ifndef SONAVEL_ENGINE_CUDA_CUDAHELPER_H
#define SONAVEL_ENGINE_CUDA_CUDAHELPER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SN_CUDA_HELPER_ABI 1
#define SN_CUDA_HELPER_ENTRY "sonavelCudaHelper"
#define SN_CUDA_FEEDS 5
#define SN_CUDA_BLOCK 8192
#define SN_CUDA_OUT 16384

/* What the probe found. */
typedef struct SnCudaDeviceInfo {
  int32_t deviceCount;     /* devices the runtime reports */
  int32_t device;          /* the chosen one, -1 when none */
  int32_t clockRateKHz;    /* of the chosen device */
  int32_t multiProcessors; /* of the chosen device */
  int32_t driverVersion;   /* 1000 x major + 10 x minor; 0 without a driver */
  int32_t runtimeVersion;
  int32_t fftVersion;
  char name[256];
} SnCudaDeviceInfo;

/* Milliseconds each stage of one block took on the device, measured between
 * events on the convolver's stream. */
typedef struct SnCudaStageTimes {
  float upload;   /* feeds to the device */
  float forward;  /* one batched real-to-complex transform of the five feeds */
  float products; /* multiply by the filter spectra, accumulated per ear */
  float inverse;  /* one batched complex-to-real transform of the two ears */
  float download; /* ears to the host */
} SnCudaStageTimes;

typedef struct SnCudaConvolver SnCudaConvolver;

typedef struct SnCudaHelper {
  int32_t abi; /* SN_CUDA_HELPER_ABI */
  /* Counts the devices and chooses one by SnCudaChooseDevice. Returns 1 and
   * fills `info` when a device was chosen; 0 with the reason in LastError
   * otherwise (info still carries the versions found). */
  int32_t (*Probe)(SnCudaDeviceInfo* info);
  /* Device memory, transform plans and the filter spectra of the 20 responses
   * (index set x 10 + feed x 2 + ear, `taps` floats each, at most SN_CUDA_BLOCK),
   * on `device`. Null on failure, with nothing left allocated. `site` names the
   * caller in error lines. */
  SnCudaConvolver* (*Create)(int32_t device, const float* responses, int32_t taps, const char* site);
  /* One block with filter set `set` (0 Music, 1 Movie). 1 on success; 0 on a
   * failure, after which the outputs are unspecified and the convolver should
   * be destroyed. `times`, when not null, receives the stage times (the call
   * then waits for each stage). Allocates nothing on the host. */
  int32_t (*Convolve)(SnCudaConvolver* c, int32_t set, const float* const* feeds, float* earL, float* earR,
                      const char* site, SnCudaStageTimes* times);
  /* Frees everything Create made; null is allowed. 1 on success, 0 when a call
   * failed (everything is still released as far as possible). While the
   * process exits, the device side is left to the driver. */
  int32_t (*Destroy)(SnCudaConvolver* c, const char* site);
  /* The line that describes the last failure, ending in a newline, in the
   * form "cudaSafeCall() Runtime API error in file <%s>, line %i : %s.\n" or
   * "cufftSafeCall() CUFFT error in file <%s>, line %i.\n"; for a probe that
   * found no device, the runtime's reason. Never null. */
  const char* (*LastError)(void);
  /* Bytes of device memory in use on `device` (total less free, all
   * processes). 1 on success. */
  int32_t (*DeviceMemoryInUse)(int32_t device, int64_t* bytes);
} SnCudaHelper;

/* The one export: returns the table, never null. */
typedef const SnCudaHelper* (*SnCudaHelperEntry)(void);

/* A device as the choice sees it; `usable` is 0 when its attributes could not
 * be read. */
typedef struct SnCudaDeviceScore {
  int32_t clockRateKHz;
  int32_t multiProcessors;
  int32_t usable;
} SnCudaDeviceScore;

/* The device with the highest score clockRateKHz x multiProcessors (a 64-bit
 * product); a strictly greater score wins, so on a tie the lower index stays.
 * -1 when no device is usable. */
static inline int32_t SnCudaChooseDevice(const SnCudaDeviceScore* devices, int32_t count) {
  int32_t best = -1;
  int64_t bestScore = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (!devices[i].usable) continue;
    const int64_t score = (int64_t)devices[i].clockRateKHz * (int64_t)devices[i].multiProcessors;
    if (best < 0 || score > bestScore) {
      best = i;
      bestScore = score;
    }
  }
  return best;
}

#ifdef __cplusplus
}
#endif

#endif
