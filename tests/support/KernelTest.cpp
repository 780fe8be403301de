#include "support/KernelTest.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace sn::test {

void EngineFixture::SetUp() {
  cfg_ = DefaultConfig();
  Dsp.ActiveConfig.store(&cfg_, std::memory_order_relaxed);
  CSNLib::PrepareStream(rate_);
  Recalc(rate_);
}

void EngineFixture::TearDown() {
  CSNLib::ResetDSP();
  static Config defaults = DefaultConfig();
  Dsp.ActiveConfig.store(&defaults, std::memory_order_relaxed);
}

void EngineFixture::Recalc(uint32_t rate) {
  // A new rate is a new stream: reserve for it (which clears the state).
  if (rate != Dsp.PreparedRate) CSNLib::PrepareStream(rate);
  rate_ = rate;
  CSNLib::CalcStaticConstants(rate);
  Dsp.Constants.Latch();
}

void EnginePerBackend::SetUp() {
  EngineFixture::SetUp();
  cfg_.SSE2Enable = GetParam();
  cfg_.SurroundDelayMovie = 0;
  cfg_.SurroundDelayMusic = 0;
  Recalc();
}

OwnedChunk::OwnedChunk(const OwnedChunk& o) {
  buf.Init();
  *this = o;
}

OwnedChunk& OwnedChunk::operator=(const OwnedChunk& o) {
  if (this != &o) {
    buf.Resize(o.buf.count);
    if (o.buf.count) std::memcpy(static_cast<void*>(buf.data), o.buf.data, o.buf.count * sizeof(SNCHUNK_INTCHUNK));
  }
  return *this;
}

OwnedChunk RandomChunk(std::mt19937& rng, uint32_t frames, float amplitude, float junk) {
  OwnedChunk c(frames);
  std::uniform_real_distribution<float> dist(-amplitude, amplitude);
  for (uint32_t i = 0; i < frames; ++i) {
    for (int l = 0; l < 6; ++l) c[i].lane[l] = dist(rng);
    c[i].lane[6] = junk;
    c[i].lane[7] = junk;
  }
  return c;
}

double MaxLaneDiff(const SNChunk& a, const SNChunk& b) {
  if (a.count != b.count) return std::numeric_limits<double>::infinity();
  double worst = 0.0;
  for (uint32_t i = 0; i < a.count; ++i) {
    for (int l = 0; l < 6; ++l) {
      const double x = a.data[i].lane[l];
      const double y = b.data[i].lane[l];
      if (std::isnan(x) != std::isnan(y)) return std::numeric_limits<double>::infinity();
      if (std::isnan(x)) continue;
      worst = std::max(worst, std::fabs(x - y));
    }
  }
  return worst;
}

}  // namespace sn::test
