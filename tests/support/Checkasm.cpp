#include "support/Checkasm.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "engine/Backend.h"
#include "engine/DspState.h"
#include "engine/SNLib.h"

namespace sn::test {

namespace {
sn::BackEnd EngineBackEnd(BackEnd b) { return b == BackEnd::Sse2 ? sn::BackEnd::Sse2 : sn::BackEnd::Scalar; }
}  // namespace

CSNFn& KernelsOf(BackEnd b) {
  CSNFn* k = sn::KernelsOf(EngineBackEnd(b));
  return k ? *k : *sn::KernelsOf(sn::BackEnd::Scalar);
}

const char* NameOf(BackEnd b) { return sn::BackEndName(EngineBackEnd(b)); }

bool Available(BackEnd b) { return BackEndUsable(EngineBackEnd(b)); }

namespace {

// Float bits mapped onto a line where adjacent floats differ by one.
int64_t Ordered(float f) {
  const int32_t bits = std::bit_cast<int32_t>(f);
  return bits < 0 ? -static_cast<int64_t>(bits & 0x7FFFFFFF) : bits;
}

constexpr int kReportLimit = 8;
constexpr const char* kChannel[6] = {"L", "R", "C", "LFE", "SL", "SR"};

}  // namespace

uint32_t UlpDistance(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT32_MAX;
  const int64_t d = Ordered(a) - Ordered(b);
  return static_cast<uint32_t>(d < 0 ? -d : d);
}

::testing::AssertionResult LanesMatch(const SNChunk& want, const SNChunk& got, uint32_t maxUlp) {
  if (want.count != got.count)
    return ::testing::AssertionFailure() << "frame counts differ: want " << want.count << ", got " << got.count;
  std::ostringstream detail;
  uint64_t bad = 0;
  uint32_t worst = 0;
  for (uint32_t i = 0; i < want.count; ++i) {
    for (int l = 0; l < 6; ++l) {
      const float w = want.data[i].lane[l];
      const float g = got.data[i].lane[l];
      const bool same = maxUlp == 0 ? (std::bit_cast<uint32_t>(w) == std::bit_cast<uint32_t>(g) ||
                                       (std::isnan(w) && std::isnan(g)))
                                    : UlpDistance(w, g) <= maxUlp;
      if (same) continue;
      worst = std::max(worst, UlpDistance(w, g));
      if (bad++ < kReportLimit)
        detail << "\n  frame " << i << " lane " << l << " (" << kChannel[l] << "): want "
               << std::hexfloat << w << ", got " << g << std::defaultfloat << " (" << UlpDistance(w, g) << " ulp)";
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " lane(s) of " << want.count << " frames beyond " << maxUlp
                                       << " ulp, worst " << worst << " ulp:" << detail.str();
}

std::vector<int32_t> Codes(const SNBuffer<OutFrame16>& out) {
  std::vector<int32_t> codes;
  codes.reserve(static_cast<size_t>(out.count) * 6);
  for (uint32_t i = 0; i < out.count; ++i)
    for (int c = 0; c < 6; ++c) {
      const uint8_t* b = out.data[i].bytes + 2 * c;
      codes.push_back(static_cast<int16_t>(static_cast<uint16_t>(b[0] | b[1] << 8)));
    }
  return codes;
}

std::vector<int32_t> Codes(const SNBuffer<OutFrame24>& out) {
  std::vector<int32_t> codes;
  codes.reserve(static_cast<size_t>(out.count) * 6);
  for (uint32_t i = 0; i < out.count; ++i)
    for (int c = 0; c < 6; ++c) {
      const uint8_t* b = out.data[i].bytes + 3 * c;
      int32_t v = b[0] | b[1] << 8 | b[2] << 16;
      if (v & 0x800000) v -= 0x1000000;
      codes.push_back(v);
    }
  return codes;
}

::testing::AssertionResult CodesMatch(const std::vector<int32_t>& want, const std::vector<int32_t>& got,
                                      int32_t maxDiff) {
  if (want.size() != got.size())
    return ::testing::AssertionFailure() << "code counts differ: want " << want.size() << ", got " << got.size();
  std::ostringstream detail;
  uint64_t bad = 0;
  for (size_t k = 0; k < want.size(); ++k) {
    if (std::abs(static_cast<int64_t>(want[k]) - got[k]) <= maxDiff) continue;
    if (bad++ < kReportLimit)
      detail << "\n  frame " << k / 6 << " " << kChannel[k % 6] << ": want " << want[k] << ", got " << got[k];
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " code(s) of " << want.size() << " differ by more than " << maxDiff
                                       << ":" << detail.str();
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> bytes(n);
  std::uniform_int_distribution<int> dist(0, 255);
  for (auto& b : bytes) b = static_cast<uint8_t>(dist(rng));
  return bytes;
}

void FillLanes(SNChunk& chunk, float value) {
  for (uint32_t i = 0; i < chunk.count; ++i)
    for (float& x : chunk.data[i].lane) x = value;
}

}  // namespace sn::test
