// What the machine offers, probed once while the library loads.
#include "engine/SNLib.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace sn {

namespace {

int32_t DetectSse2() {
#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
  int regs[4];
  __cpuidex(regs, 1, 0);
  return (regs[3] >> 26) & 1;
#elif defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid_count(1, 0, &a, &b, &c, &d)) return 0;
  return (d >> 26) & 1;
#else
  return 0;
#endif
}

}  // namespace

int32_t CSNLib::m_bSSE2Support = DetectSse2();
// The GPU back end is not built into this library.
int32_t CSNLib::m_bCUDASupport = 0;

CSNFn& CSNLib::ActiveKernels() {
  const Config* cfg = Dsp.ActiveConfig.load(std::memory_order_relaxed);
  if (cfg && CfgGet(cfg->SSE2Enable) && m_bSSE2Support) return Dsp.Sse2Kernels;
  return Dsp.X87Kernels;
}

}  // namespace sn
