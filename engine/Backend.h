// The kernel back ends built into this library, as a table the engine picks
// from per chunk.
//
// The scalar back end is always present. The SSE2 one exists where the compiler
// targets x86 (SN_HAVE_SSE2_KERNELS) and runs only where the processor has
// SSE2 (CPUID, probed once while the library loads). The kernel objects hold no
// data; any thread may use them.
#pragma once

#include "kernels/SNFn.h"

namespace sn {

enum class BackEnd : int { Scalar = 0, Sse2 = 1 };
inline constexpr BackEnd kAllBackEnds[] = {BackEnd::Scalar, BackEnd::Sse2};

// The back end's kernels; null when this library does not carry it.
CSNFn* KernelsOf(BackEnd b);
// The processor can run the back end and the library carries it.
bool BackEndUsable(BackEnd b);
const char* BackEndName(BackEnd b);

}  // namespace sn
