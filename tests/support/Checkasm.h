// Checkasm-style comparison of the two kernel back ends: run the scalar
// reference and the SSE2 kernel on the same seeded random input of odd lengths
// and report, lane by lane, where they part by more than the back ends allow.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kernels/SNFn.h"

namespace sn::test {

enum class BackEnd { X87, Sse2 };
inline constexpr BackEnd kBackEnds[] = {BackEnd::X87, BackEnd::Sse2};

// The process's kernel object of that back end (the scalar one where this
// build has no SSE2 back end: Available() then says so).
CSNFn& KernelsOf(BackEnd b);
const char* NameOf(BackEnd b);
// True when the machine can run the back end; tests skip SSE2 runs otherwise.
bool Available(BackEnd b);
// Name generator for INSTANTIATE_TEST_SUITE_P over BackEnd values.
struct BackEndName {
  std::string operator()(const ::testing::TestParamInfo<BackEnd>& info) const { return NameOf(info.param); }
};
#define SN_SKIP_UNLESS_AVAILABLE(b) \
  do {                              \
    if (!::sn::test::Available(b)) GTEST_SKIP() << NameOf(b) << " not supported here"; \
  } while (0)

// Units in the last place between two floats: 0 for bit-equal values, for +0
// and -0 and for two NaNs; UINT32_MAX when only one is NaN.
uint32_t UlpDistance(float a, float b);

// Lanes 0..5 of `got` against `want`, frame by frame. maxUlp 0 asks for
// bit-identical lanes (two NaNs pass). Reports the count of bad lanes and the
// first few with frame, lane, both values and their distance.
::testing::AssertionResult LanesMatch(const SNChunk& want, const SNChunk& got, uint32_t maxUlp = 0);

// An SNBuffer that owns its storage, for element types other than frames.
template <class T>
struct OwnedBuffer {
  SNBuffer<T> buf{};
  OwnedBuffer() { buf.Init(); }
  ~OwnedBuffer() { buf.Release(); }
  OwnedBuffer(const OwnedBuffer&) = delete;
  OwnedBuffer& operator=(const OwnedBuffer&) = delete;
};

// Six-channel output frames decoded back to signed codes, frame-major.
std::vector<int32_t> Codes(const SNBuffer<OutFrame16>& out);
std::vector<int32_t> Codes(const SNBuffer<OutFrame24>& out);

// Codes of `got` against `want`: each within maxDiff. Reports the count of bad
// codes and the first few with frame and channel.
::testing::AssertionResult CodesMatch(const std::vector<int32_t>& want, const std::vector<int32_t>& got,
                                      int32_t maxDiff = 0);

// Uniformly random bytes: with integer PCM every code of every format.
std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n);

// Sets all eight lanes of every frame to `value` (e.g. NaN, to show which lanes
// a kernel leaves unwritten).
void FillLanes(SNChunk& chunk, float value);

}  // namespace sn::test
