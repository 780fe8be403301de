// Every kernel of the SSE2 back end against the scalar reference, from one
// table (support/KernelTable.h): the same seeded random input of odd lengths,
// states carried from chunk to chunk as in a stream, guard bytes past every
// buffer's slack, and one error measure against each operation's tolerance.
// A third run switches back ends every chunk and must stay within the same
// tolerance of both (the back ends share their states). Lanes 6 and 7 hold NaN
// throughout: no output may become NaN.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "support/Checkasm.h"
#include "support/KernelTable.h"
#include "support/KernelTest.h"

namespace sn::test {
namespace {

class Checkasm : public ::testing::TestWithParam<size_t> {
 protected:
  const KernelEntry& Entry() const { return AllKernels()[GetParam()]; }
};

struct Diff {
  double worst = 0.0;
  bool nan = false;
  bool sizes = true;
};

Diff Compare(const KernelIo& a, const KernelIo& b) {
  Diff d;
  const std::vector<double> x = Outputs(a), y = Outputs(b);
  if (x.size() != y.size()) {
    d.sizes = false;
    return d;
  }
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::isnan(x[i]) || std::isnan(y[i])) d.nan = true;
    d.worst = std::max(d.worst, std::fabs(x[i] - y[i]));
  }
  return d;
}

TEST_P(Checkasm, Sse2MatchesScalarOnRandomOddLengths) {
  SN_SKIP_UNLESS_AVAILABLE(BackEnd::Sse2);
  const KernelEntry& e = Entry();
  const KernelCoeffs coeffs = MakeCoeffs();
  CSNFn& scalar = KernelsOf(BackEnd::X87);
  CSNFn& sse2 = KernelsOf(BackEnd::Sse2);
  // [0] scalar, [1] SSE2, [2] switching every chunk.
  KernelState state[3];
  double worst = 0.0, worstSwitching = 0.0;
  uint32_t chunk = 0;
  for (int round = 0; round < 4; ++round) {
    for (uint32_t n : kOddLengths) {
      if (e.fixedLength) n = e.fixedLength;
      SCOPED_TRACE(::testing::Message() << e.name << ", round " << round << ", " << n << " frames");
      KernelIo io[3];
      for (int r = 0; r < 3; ++r) {
        std::mt19937 rng(0xc4ec + chunk);
        io[r].Fill(rng, n, e.steered, chunk / 4);
      }
      e.run(scalar, state[0], io[0], coeffs, e.arg);
      e.run(sse2, state[1], io[1], coeffs, e.arg);
      e.run(chunk % 2 ? sse2 : scalar, state[2], io[2], coeffs, e.arg);
      for (int r = 0; r < 3; ++r) ASSERT_TRUE(io[r].GuardsIntact()) << "run " << r << " wrote past its buffers";
      const Diff d = Compare(io[0], io[1]);
      ASSERT_TRUE(d.sizes) << "the back ends produced different amounts";
      ASSERT_FALSE(d.nan) << "a junk lane leaked into the output";
      worst = std::max(worst, d.worst);
      worstSwitching = std::max({worstSwitching, Compare(io[2], io[0]).worst, Compare(io[2], io[1]).worst});
      ++chunk;
    }
  }
  std::printf("%-22s largest difference %.3g (switching %.3g), tolerance %.3g\n", e.name.c_str(), worst,
              worstSwitching, e.tolerance);
  EXPECT_LE(worst, e.tolerance);
  EXPECT_LE(worstSwitching, e.tolerance);
}

// The scalar back end alone: guards hold and no NaN leaks, also where the
// machine has no SSE2.
TEST_P(Checkasm, ScalarKeepsToItsBuffers) {
  const KernelEntry& e = Entry();
  const KernelCoeffs coeffs = MakeCoeffs();
  KernelState state;
  uint32_t chunk = 0;
  for (uint32_t n : kOddLengths) {
    if (e.fixedLength) n = e.fixedLength;
    KernelIo io;
    std::mt19937 rng(77 + chunk);
    io.Fill(rng, n, e.steered, chunk++);
    e.run(KernelsOf(BackEnd::X87), state, io, coeffs, e.arg);
    ASSERT_TRUE(io.GuardsIntact()) << e.name << ", " << n << " frames";
    for (double v : Outputs(io)) ASSERT_FALSE(std::isnan(v)) << e.name << ", " << n << " frames";
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Checkasm, ::testing::Range<size_t>(0, AllKernels().size()),
                         [](const ::testing::TestParamInfo<size_t>& i) { return AllKernels()[i.param].name; });

}  // namespace
}  // namespace sn::test
