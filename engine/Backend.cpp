// What the machine offers, and the table of back ends. SSE2 is probed while the
// library loads, the GPU the first time it is asked for.
#include "engine/Backend.h"

#include "engine/GpuConvolver.h"
#include "engine/SNLib.h"

#if defined(SN_HAVE_SSE2_KERNELS)
#include <cpuid.h>
#endif

namespace sn {

namespace {

#if defined(SN_HAVE_SSE2_KERNELS)
// CPUID leaf 1, EDX bit 26.
int32_t DetectSse2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid_count(1, 0, &a, &b, &c, &d)) return 0;
  return (d >> 26) & 1;
}
#endif

CSNFnx87 g_ScalarKernels;
#if defined(SN_HAVE_SSE2_KERNELS)
CSNFnSSE2 g_Sse2Kernels;
#endif

CSNFn* const kTable[] = {
    &g_ScalarKernels,
#if defined(SN_HAVE_SSE2_KERNELS)
    &g_Sse2Kernels,
#else
    nullptr,
#endif
};

}  // namespace

CSNFn* KernelsOf(BackEnd b) { return kTable[static_cast<int>(b)]; }

const char* BackEndName(BackEnd b) { return b == BackEnd::Sse2 ? "SSE2" : "x87"; }

#if defined(SN_HAVE_SSE2_KERNELS)
int32_t CSNLib::m_bSSE2Support = DetectSse2();
#else
int32_t CSNLib::m_bSSE2Support = 0;
#endif
// Set by the GPU probe (engine/GpuConvolver.h), which runs the first time
// anything asks: loading the helper module and its CUDA libraries has no place
// in the library's own start-up.
int32_t CSNLib::m_bCUDASupport = 0;

bool CSNLib::IsCUDASupported() {
  static const bool probed = [] {
    m_bCUDASupport = ProbeGpu() ? 1 : 0;
    return true;
  }();
  return probed && m_bCUDASupport != 0 && !GpuFailed();
}

bool BackEndUsable(BackEnd b) {
  return b == BackEnd::Scalar || (KernelsOf(b) != nullptr && CSNLib::m_bSSE2Support != 0);
}

CSNFn& CSNLib::ActiveKernels() {
  const Config* cfg = Dsp.ActiveConfig.load(std::memory_order_relaxed);
  if (cfg && CfgGet(cfg->SSE2Enable) && m_bSSE2Support) return *kTable[1];
  return *kTable[0];
}

}  // namespace sn
