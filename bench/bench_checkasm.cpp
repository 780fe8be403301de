// The kernel table of the checkasm harness (tests/support/KernelTable.h),
// timed: every entry in both back ends on a 577-frame chunk (8192 for the
// headphone block mix), the same inputs the harness compares.
#include <benchmark/benchmark.h>

#include "engine/Backend.h"
#include "support/KernelTable.h"

namespace {

using namespace sn;
using namespace sn::test;

void RunEntry(benchmark::State& state, size_t index, BackEnd b) {
  if (!BackEndUsable(b)) {
    state.SkipWithError("back end not available here");
    return;
  }
  const KernelEntry& e = AllKernels()[index];
  const uint32_t n = e.fixedLength ? e.fixedLength : 577;
  const KernelCoeffs coeffs = MakeCoeffs();
  KernelState s;
  KernelIo io, fresh;
  std::mt19937 rng(1);
  fresh.Fill(rng, n, e.steered, 0);
  CSNFn& k = *KernelsOf(b);
  for (auto _ : state) {
    state.PauseTiming();
    std::mt19937 again(1);
    io.Fill(again, n, e.steered, 0);
    state.ResumeTiming();
    e.run(k, s, io, coeffs, e.arg);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

const bool kRegistered = [] {
  for (size_t i = 0; i < AllKernels().size(); ++i)
    for (BackEnd b : kAllBackEnds)
      benchmark::RegisterBenchmark(("Checkasm/" + AllKernels()[i].name + "/" + BackEndName(b)).c_str(),
                                   [i, b](benchmark::State& st) { RunEntry(st, i, b); })
          ->Unit(benchmark::kMicrosecond);
  return true;
}();

}  // namespace
