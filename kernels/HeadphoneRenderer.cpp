#include "kernels/HeadphoneRenderer.h"

#include <cstring>

#include "engine/HeadphoneData.h"
#include "engine/SNLib.h"

namespace sn {

namespace {

// Stores `count` frames from `src` into the feeds at block positions pos,
// pos + 1, ...: lane 0 + 2.235 lane 3, lane 1 + 2.235 lane 3, lane 2, lane 4,
// lane 5. Evaluated in double, rounded to float where stored.
void StoreFeeds(const SNCHUNK_INTCHUNK* src, uint32_t count, uint32_t pos) {
  float* f0 = Dsp.ChannelFifo[0].data + pos;
  float* f1 = Dsp.ChannelFifo[1].data + pos;
  float* f2 = Dsp.ChannelFifo[2].data + pos;
  float* f3 = Dsp.ChannelFifo[3].data + pos;
  float* f4 = Dsp.ChannelFifo[4].data + pos;
  const double lfe = kLfeFoldGain;
  for (uint32_t i = 0; i < count; ++i) {
    const float* l = src[i].lane;
    f0[i] = static_cast<float>(static_cast<double>(l[0]) + lfe * l[3]);
    f1[i] = static_cast<float>(static_cast<double>(l[1]) + lfe * l[3]);
    f2[i] = l[2];
    f3[i] = l[4];
    f4[i] = l[5];
  }
}

// One block's ten convolutions, on the GPU while its path is in use. This
// library carries no GPU back end and finds no GPU at load, so `onGpu` is false
// and the CPU convolves.
void ConvolveBlock(int set, bool onGpu) {
  static_cast<void>(onGpu);
  ConvolveBlockCpu(set);
}

}  // namespace

bool GpuPathInUse() {
  const Config* cfg = Dsp.ActiveConfig.load(std::memory_order_relaxed);
  return CSNLib::IsCUDASupported() && cfg && CfgGet(cfg->CUDAEnable);
}

void RenderHeadphonesWith(CSNFn& kernels, const HeadphoneBackEnd& backEnd, int sourceChannels, SNChunk& chunk) {
  const uint32_t rate = Dsp.K().SampleRate;
  if (rate != 44100 && rate != 48000) return;

  BuildHeadphoneData();
  if (!Dsp.HeadphoneReady) return;  // short of memory: pass through like an unsupported rate

  // A GPU back end creates or releases its device resources here, by
  // GpuPathInUse(), and takes the blocks below while it is in use.
  const bool onGpu = GpuPathInUse();

  const Config& cfg = Dsp.Cfg();
  const int set = CfgGet(cfg.HeadphonesMode) == 0 ? 0 : 1;
  const int32_t decode = set == 0 ? CfgGet(cfg.HeadphonesDecodeMusic) : CfgGet(cfg.HeadphonesDecodeMovie);
  if (sourceChannels == 2 && decode) {
    kernels.DecodeActive(chunk);
    kernels.DelayChannels(chunk, 0);
  }

  const uint32_t frames = chunk.data ? chunk.count : 0;
  uint32_t fill = Dsp.HeadphoneFill.load(std::memory_order_relaxed);
  if (fill >= kHeadphoneBlock) fill = 0;  // never more than a block's worth is held
  const uint64_t blocks = (static_cast<uint64_t>(frames) + fill) / kHeadphoneBlock;
  const uint32_t emit = static_cast<uint32_t>(blocks * kHeadphoneBlock);

  SNComplex* out = Dsp.HeadphoneOut.Resize(emit);
  if (out) std::memset(static_cast<void*>(out), 0, static_cast<size_t>(emit) * sizeof(SNComplex));
  SNComplex* tail = Dsp.HeadphoneTail.data;

  uint32_t used = 0;
  for (uint64_t b = 0; b < blocks; ++b) {
    const uint32_t take = kHeadphoneBlock - fill;
    StoreFeeds(chunk.data + used, take, fill);
    used += take;
    fill = 0;
    Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
    ConvolveBlock(set, onGpu);
    backEnd.MixBlock(out ? out + b * kHeadphoneBlock : nullptr, tail);
  }

  StoreFeeds(chunk.data + used, frames - used, fill);
  Dsp.HeadphoneFill.store(fill + (frames - used), std::memory_order_relaxed);

  if (blocks == 0) {
    chunk.count = 0;
    chunk.position = 0;
    return;
  }
  SNCHUNK_INTCHUNK* dst = chunk.Resize(emit);
  if (!dst) return;
  if (out)
    backEnd.WriteFrames(out, emit, dst);
  else
    std::memset(static_cast<void*>(dst), 0, static_cast<size_t>(emit) * sizeof(SNCHUNK_INTCHUNK));
}

}  // namespace sn
