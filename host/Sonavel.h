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

inline constexpr char16_t kMsgInternalError[] = u"An internal error has occurred.";
inline constexpr char16_t kMsgSlaveOpen[] = u"Slave module could not be opened.";
inline constexpr char16_t kMsgSlaveInvalid[] = u"Slave module is not a valid Winamp out module.";
inline constexpr char16_t kMsgSlaveSelf[] = u"Cannot use Sonavel as a slave module.";
inline constexpr char16_t kErrorCaption[] = u"Sonavel Error";
inline constexpr char16_t kAboutText[] =
    u"Tamberlin Sonavel v1.00\n5.1 upmixing, matrix encoding and headphone rendering for the player's output.";
inline constexpr char16_t kAboutCaption[] = u"About Sonavel";

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

  // The settings entry of the user interface: changes one field of the live
  // settings as the settings window does. Writes the value, recomputes the
  // constants that depend on it for the open stream's rate, and resets the DSP
  // (bounded wait) when the mode changes. Safe on the user-interface thread (or
  // any thread but the DSP thread) while a stream plays; never allocates.
  void SetSetting(int32_t Config::*field, int32_t value);
  // Replaces the whole live record (Cancel, Default): every field as SetSetting
  // would, one reset at most.
  void SetSettings(const Config& c);

  // Slave modules. Load returns a message or null; on failure nothing stays loaded.
  const char16_t* LoadSlaveModule(const char16_t* path, platform::Module** module, OutputModuleRecord** record,
                                  int noInit);
  static void UnloadSlaveModule(platform::Module** module, OutputModuleRecord** record, int noQuit);
  void FlagSlaveModuleReload() { m_Reload.store(1, std::memory_order_relaxed); }

  // Settings.
  static void GetConfig(Config& c) { LoadConfig(c); }
  static long SaveConfig(const Config& c) { return StoreConfig(c); }
  void PushConfig() { CopyConfig(m_SavedConfig, m_Config); }
  void PopConfig() { CopyConfig(m_Config, m_SavedConfig); }

  // Read by the user interface.
  uint32_t GetSRate() const { return m_SampleRate.load(std::memory_order_relaxed); }
  int GetChannels() const { return m_Channels.load(std::memory_order_relaxed); }
  bool IsOpen() const { return m_Open.load(std::memory_order_relaxed) != 0; }
  bool BalloonShown() const { return m_BalloonShown.load(std::memory_order_relaxed) != 0; }
  int Volume() const { return m_Volume.load(std::memory_order_relaxed); }
  OutputModuleRecord* Slave() const { return m_SlaveRecord.load(std::memory_order_relaxed); }
  bool ThreadsRunning() const { return m_DspThread != nullptr || m_UiThread != nullptr; }

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
  void StopThreads();
  void FreeBuffers();

  platform::Event* m_Events[kEventCount] = {};
  platform::Thread* m_UiThread = nullptr;
  platform::Thread* m_DspThread = nullptr;

  std::atomic<uint32_t> m_SampleRate{0};
  std::atomic<int32_t> m_Channels{0};
  std::atomic<int32_t> m_Bits{0};
  std::atomic<int32_t> m_OutBits{0};
  std::atomic<int32_t> m_Volume{0};

  std::atomic<platform::Module*> m_SlaveModule{nullptr};
  std::atomic<OutputModuleRecord*> m_SlaveRecord{nullptr};
  std::atomic<int32_t> m_Reload{1};

  int32_t m_Pending = 0;
  std::atomic<int32_t> m_Open{0};
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
