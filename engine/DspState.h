// DspState: the one process-wide record of engine state.
//
// It holds the filter states and delay lines carried from chunk to chunk, the
// work buffers, the headphone renderer's blocks, and the constants derived from
// the sample rate and the settings. The engine (CSNLib) owns it and hands each
// kernel the parts it works on.
//
// Memory: PrepareStream reserves every buffer a stream at a given rate can need
// before the stream starts; the reset clears in place; nothing is freed or
// grown while a stream runs.
//
// Threads: everything but the constants belongs to whichever thread holds the
// engine input buffer (the player's thread for conversions, the DSP thread for
// processing, preparation and resets; the hand-off serialises them). The constants are
// computed aside by CalcStaticConstants on any thread and published as a whole:
// the DSP thread latches the newest published set at the start of each chunk,
// so a chunk sees either the whole old set or the whole new one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "config/Config.h"
#include "kernels/SNBuffer.h"
#include "kernels/SNFn.h"

namespace sn {

// Everything CalcStaticConstants derives; all zero until the first call.
struct DspConstants {
  uint32_t SampleRate;
  ButterworthCoeffs SteerHp1200;
  ButterworthCoeffs SteerLp795;
  ButterworthCoeffs LfeCrossoverHp;
  ButterworthCoeffs SurroundHp100;
  ButterworthCoeffs SurroundLp7000;
  float CentreWeightFactor;
  float CentreSpill;
  uint32_t DelaySamplesMovie[6];
  uint32_t DelaySamplesMusic[6];
  uint32_t SurroundDelaySamplesMovie;
  uint32_t SurroundDelaySamplesMusic;
  float TrimGain[6];
  float MasterGainLinear;
};

// The writers' lock of ConstantsExchange. A flag rather than std::mutex, which
// the mingw-w64 runtime cannot construct at compile time: DspState must stay
// constant-initialised, ready before any other static object uses it.
class WriterLock {
 public:
  void lock() {
    while (flag_.test_and_set(std::memory_order_acquire)) flag_.wait(true, std::memory_order_relaxed);
  }
  void unlock() {
    flag_.clear(std::memory_order_release);
    flag_.notify_one();
  }

 private:
  std::atomic_flag flag_{};
};

// Triple buffer of constant sets: writers fill a private slot and swap it in;
// the one reader (the DSP thread) swaps the newest one out when it latches.
// Writers are serialised among themselves; the reader never waits.
class ConstantsExchange {
 public:
  template <class Fill>
  void Publish(Fill&& fill) {
    std::lock_guard<WriterLock> guard(writers_);
    fill(slot_[back_]);
    back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex;
  }
  const DspConstants& Latch() {
    if (middle_.load(std::memory_order_acquire) & kFresh)
      front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
    return slot_[front_];
  }
  const DspConstants& Current() const { return slot_[front_]; }

 private:
  static constexpr uint32_t kIndex = 3;
  static constexpr uint32_t kFresh = 4;
  DspConstants slot_[3]{};
  std::atomic<uint32_t> middle_{1};
  uint32_t back_ = 2;   // writers' slot, under writers_
  uint32_t front_ = 0;  // reader's slot
  WriterLock writers_;
};

// The six work buffers of the active decoder. Its single-band form uses only
// the first steering pair; the band buffers and the second pair stay empty and
// are kept so that a two-band form can use them.
struct DecoderBufferSet {
  SNChunk HighBand{};
  SNChunk Complement{};
  SNBuffer<float> SteerLR1{}, SteerCS1{};  // high band
  SNBuffer<float> SteerLR2{}, SteerCS2{};  // complement
};

inline constexpr uint32_t kHeadphoneBlock = 8192;
inline constexpr uint32_t kHeadphoneFft = 16384;
inline constexpr uint32_t kHeadphoneBins = 8193;

// A chunk brings at most kMaxChunkFrames frames into the engine; after
// processing it holds at most kMaxChunkOut (frames the headphone renderer held
// come back when the mode changes).
inline constexpr uint32_t kMaxChunkFrames = 8192;
inline constexpr uint32_t kMaxChunkOut = kMaxChunkFrames + kHeadphoneBlock;

struct DspState {
  std::atomic<Config*> ActiveConfig{nullptr};
  ConstantsExchange Constants{};

  // Filter states and delay lines, cleared by the engine reset.
  BiquadState BassState{};
  // Active decoder: [0] surround low-pass, [3] and [4] the centre/surround and
  // left/right smoothers; [1], [2] and [5] belong to a two-band form.
  BiquadState DecoderState[6]{};
  BiquadState EncoderState[3]{};
  DecoderBufferSet DecoderBuffers{};
  DelayLine DelayLines[6]{};
  // The rate PrepareStream last reserved for (0: nothing reserved).
  uint32_t PreparedRate = 0;
  // Frames the end of the stream still owes the output (CSNLib::BeginDrain);
  // 0 when no end is being played out. The reset clears it.
  uint32_t DrainLeft = 0;

  // Headphone rendering: the feeds of the block being gathered, the two ears of
  // the last convolved block, the overlap carried to the next block and the
  // output pairs of one chunk. Reserved once per process by the first stream
  // at 44100 or 48000 Hz; the reset clears the fill and the overlap. The
  // convolver holds the filters of HeadphoneRate's table, whose responses end
  // (last non-zero tap) at HeadphoneTailFrames.
  std::atomic<uint32_t> HeadphoneFill{0};
  int32_t HeadphoneReady = 0;
  uint32_t HeadphoneRate = 0;
  uint32_t HeadphoneTailFrames = 0;
  SNBuffer<float> ChannelFifo[5]{};     // kHeadphoneBlock each
  SNBuffer<float> EarL{}, EarR{};       // kHeadphoneFft each
  SNBuffer<SNComplex> HeadphoneTail{};  // left/right pairs, kHeadphoneBlock
  SNBuffer<SNComplex> HeadphoneOut{};   // left/right pairs, kHeadphoneBlock

  // The settings in use; never null once the host has set it.
  const Config& Cfg() const { return *ActiveConfig.load(std::memory_order_relaxed); }
  // The constant set of the current chunk (latched by ProcessChunk).
  const DspConstants& K() const { return Constants.Current(); }
};

extern constinit DspState Dsp;

}  // namespace sn
