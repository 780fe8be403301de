// CSonavel: the one plug-in object behind the output-module record.
//
// The player's threads call the public entries; Write, CanWrite and the
// transport entries come from its playback thread. Two threads of our own run
// beside them from Init to Quit: the DSP thread, which runs every engine process
// step and reset, and the user-interface thread, which owns the settings window
// and the tray icon. They meet only through auto-reset events: a requester
// signals and waits, in one step and for at most 5000 ms, for the matching
// acknowledgement. Nothing here takes a lock.
//
// Members read across threads (stream format, flags, volume, the slave record)
// are single 32-bit or pointer words accessed atomically.
#pragma once

#include <atomic>
#include <cstdint>

#include "config/Config.h"
#include "engine/SNLib.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"

namespace sn {

inline constexpr intptr_t kSonavelModuleId = 6546551;  // 0x63E477
inline constexpr uint32_t kHandOffTimeoutMs = 5000;
inline constexpr int kMaxSlavePiece = 8192;  // bytes per slave Write, whole frames
// The sample rates Open accepts: from telephone-grade audio to 768 kHz.
inline constexpr int kMinSampleRate = 4000;
inline constexpr int kMaxSampleRate = 768000;

inline constexpr char16_t kMsgInternalError[] = u"An internal error has occurred.";
inline constexpr char16_t kMsgSlaveOpen[] = u"Slave module could not be opened.";
inline constexpr char16_t kMsgSlaveInvalid[] = u"Slave module is not a valid Winamp out module.";
inline constexpr char16_t kMsgSlaveSelf[] = u"Cannot use Sonavel as a slave module.";
inline constexpr char16_t kErrorCaption[] = u"Sonavel Error";

class CSonavel : public CSNLib {
 public:
  // Events in the order both threads' wait runs rely on.
  enum EventIndex {
    kUiQuit = 0,
    kUiQuitAck,
    kShowConfig,
    kUpdateIcon,
    kDecoderInactiveCheck,
    kDspQuit,
    kDspQuitAck,
    kProcessChunk,
    kResetDsp,
    kChunkProcessed,
    kResetDone,
    kEventCount
  };

  CSonavel();
  ~CSonavel();

  // Record entries. Init returns a message or null; the others as the record says.
  const char16_t* Init();
  void Quit();
  int Open(int sampleRate, int channels, int bitsPerSample, int bufferMs, int prebufferMs);
  void Close();
  int Write(char* buffer, int length);
  int CanWrite();
  int IsPlaying();
  int Pause(int pause);
  void SetVolume(int volume);
  void SetPan(int pan);
  void Flush(int timeMs);
  int GetOutputTime();
  int GetWrittenTime();
  void ShowConfig();
  void About(void* parent);

  // Asks the DSP thread for an engine reset and waits (bounded) until it is done.
  void SignalResetDSP();
  // Has the engine reserve what a stream at the open rate needs and clear its
  // state: on the DSP thread (bounded wait), or here when it does not run.
  void PrepareEngine();

  // The settings entry of the user interface: changes one field of the live
  // settings as the settings window does. Writes the value, recomputes the
  // constants that depend on it for the open stream's rate, and resets the DSP
  // (bounded wait) when the mode changes. Safe on the user-interface thread (or
  // any thread but the DSP thread) while a stream plays; never allocates.
  void SetSetting(int32_t Config::*field, int32_t value);
  // Replaces the whole live record (Cancel, Default): every field as SetSetting
  // would, one reset at most.
  void SetSettings(const Config& c);
  // Replaces the slave path of the live settings (taken at the next reload).
  void SetSlaveModulePath(const char16_t* path) { SetSlavePath(m_Config, path); }

  // Slave modules. Load returns a message or null; on failure nothing stays loaded.
  const char16_t* LoadSlaveModule(const char16_t* path, platform::Module** module, OutputModuleRecord** record,
                                  int noInit);
  static void UnloadSlaveModule(platform::Module** module, OutputModuleRecord** record, int noQuit);
  void FlagSlaveModuleReload() { m_Reload.store(1, std::memory_order_relaxed); }

  // Settings.
  static void GetConfig(Config& c) { LoadConfig(c); }
  // Stores the settings; a failure is reported (one line on standard error),
  // never silent, and the stored ones stay as they were.
  static long SaveConfig(const Config& c);
  void PushConfig() { CopyConfig(m_SavedConfig, m_Config); }
  void PopConfig() { CopyConfig(m_Config, m_SavedConfig); }

  // Read by the user interface.
  uint32_t GetSRate() const { return m_SampleRate.load(std::memory_order_relaxed); }
  int GetChannels() const { return m_Channels.load(std::memory_order_relaxed); }
  bool IsOpen() const { return m_Open.load(std::memory_order_relaxed) != 0; }
  bool BalloonShown() const { return m_BalloonShown.load(std::memory_order_relaxed) != 0; }
  // True for the first caller after an Open: the stream's decoder-inactive balloon.
  bool ClaimBalloon() { return m_BalloonShown.exchange(1, std::memory_order_relaxed) == 0; }
  int Volume() const { return m_Volume.load(std::memory_order_relaxed); }
  OutputModuleRecord* Slave() const { return m_SlaveRecord.load(std::memory_order_relaxed); }
  bool ThreadsRunning() const { return m_DspThread != nullptr || m_UiThread != nullptr; }

  // Test seams: how the two threads are started (Init), the hand-off time-out,
  // and a step the DSP thread runs before each chunk (to make it slow).
  using ThreadStarter = platform::Thread* (*)(platform::ThreadProc proc, void* arg);
  void SetThreadStarterForTest(ThreadStarter starter) { m_StartThread = starter ? starter : &platform::StartThread; }
  void SetHandOffTimeoutForTest(uint32_t ms) { m_HandOffTimeoutMs = ms ? ms : kHandOffTimeoutMs; }
  void SetChunkHookForTest(void (*hook)()) { m_ChunkHook.store(hook, std::memory_order_relaxed); }

  Config m_Config{};
  Config m_SavedConfig{};

 private:
  static uint32_t DecodeThread(void* self);
  static uint32_t SonavelThread(void* self);
  void Signal(EventIndex e) { platform::SignalEvent(m_Events[e]); }
  // Runs one request on the DSP thread: signals `request`, then waits until
  // `done` has counted past the request (stale acknowledgements of an earlier
  // request that timed out are skipped). True when it completed in time.
  bool Request(EventIndex request, EventIndex ack, std::atomic<uint32_t>& done, uint32_t target);
  // Waits (bounded) for a chunk whose hand-off timed out; true when the DSP
  // thread no longer holds the input buffer.
  bool SettleChunk();
  // Waits (bounded) until no entry of the player's is inside the slave or
  // reading our buffers; true when none is.
  bool SettleSlaveCalls();
  // Counts an entry that may call the slave for as long as it runs.
  struct SlaveCall {
    explicit SlaveCall(std::atomic<int32_t>& n) : n_(n) { n_.fetch_add(1, std::memory_order_seq_cst); }
    ~SlaveCall() { n_.fetch_sub(1, std::memory_order_seq_cst); }
    SlaveCall(const SlaveCall&) = delete;
    SlaveCall& operator=(const SlaveCall&) = delete;
    std::atomic<int32_t>& n_;
  };
  void StopThreads();
  // Undoes a partial Init: stops what was started and frees the events.
  void TearDown();
  bool ReserveBuffers();
  void FreeBuffers();
  // One engine chunk of at most kMaxChunkFrames frames: convert, process, send.
  // Returns -1 when the hand-off failed, 1 when output went to the slave, 0
  // when the chunk produced none.
  int WriteChunk(OutputModuleRecord* slave, const uint8_t* source, uint32_t frames);
  // The engine input buffer as output PCM in the 16- or 24-bit output buffer:
  // its bytes, their count and the frame size; false for another output width.
  bool ConvertOutput(const uint8_t** bytes, size_t* total, int* frameBytes);
  // Hands `total` bytes to the slave in pieces of whole frames of at most
  // kMaxSlavePiece bytes.
  static void SendToSlave(OutputModuleRecord* slave, const uint8_t* bytes, size_t total, int frameBytes);
  // Plays out the end of the stream (see IsPlaying): sends what the engine
  // still owes, piece by piece, as far as the slave has room. True when all of
  // it has gone to the slave (or the end was given up), false while some waits.
  bool PlayOutEnd(OutputModuleRecord* slave);
  // Forgets an end not yet played out (a stop, a seek, more data).
  void DropEnd();

  platform::Event* m_Events[kEventCount] = {};
  platform::Thread* m_UiThread = nullptr;
  platform::Thread* m_DspThread = nullptr;
  ThreadStarter m_StartThread = &platform::StartThread;
  uint32_t m_HandOffTimeoutMs = kHandOffTimeoutMs;
  std::atomic<void (*)()> m_ChunkHook{nullptr};
  // Set by Open: the next reset the DSP thread runs prepares the stream first.
  std::atomic<int32_t> m_PreparePending{0};
  // What the next process-chunk request asks of the DSP thread.
  enum ChunkKind : int32_t { kChunkWrite = 0, kChunkDrainFirst, kChunkDrainNext };
  std::atomic<int32_t> m_ChunkKind{kChunkWrite};

  // The end of the stream, player's thread only. A Write that took data sets
  // m_EndPending; the next IsPlaying starts playing out the end (m_Draining),
  // whose converted piece waits in the output buffer from m_DrainSent to
  // m_DrainBytes while the slave has no room. m_DrainStall is when the slave
  // last took some of it (steady clock, ms).
  bool m_EndPending = false;
  bool m_Draining = false;
  bool m_DrainStarted = false;
  size_t m_DrainBytes = 0;
  size_t m_DrainSent = 0;
  int m_DrainFrameBytes = 0;
  int64_t m_DrainStall = 0;
  std::atomic<int32_t> m_Paused{0};

  std::atomic<uint32_t> m_SampleRate{0};
  std::atomic<int32_t> m_Channels{0};
  std::atomic<int32_t> m_Bits{0};
  std::atomic<int32_t> m_OutBits{0};
  std::atomic<int32_t> m_Volume{0};

  std::atomic<platform::Module*> m_SlaveModule{nullptr};
  std::atomic<OutputModuleRecord*> m_SlaveRecord{nullptr};
  std::atomic<int32_t> m_Reload{1};

  int32_t m_Pending = 0;
  // A stream is open: Open was accepted here and by the slave, Close not yet called.
  std::atomic<int32_t> m_Open{0};
  // Entries of the player's currently inside the slave (see SlaveCall).
  std::atomic<int32_t> m_SlaveCalls{0};
  std::atomic<int32_t> m_BalloonShown{0};

  // Hand-off accounting: requests made and requests the DSP thread completed.
  uint32_t m_ChunksRequested = 0;
  std::atomic<uint32_t> m_ChunksDone{0};
  std::atomic<uint32_t> m_ResetsRequested{0};
  std::atomic<uint32_t> m_ResetsDone{0};

  SNChunk m_Input{};
  SNBuffer<OutFrame16> m_Output16{};
  SNBuffer<OutFrame24> m_Output24{};
};

extern CSonavel Sonavel;

}  // namespace sn
