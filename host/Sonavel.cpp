#include "host/Sonavel.h"

#include <chrono>
#include <climits>
#include <cstdio>

#include "ui/UiThread.h"

namespace sn {

CSonavel Sonavel;

CSonavel::CSonavel() {
  m_Config = DefaultConfig();
  m_SavedConfig = m_Config;
  m_Input.Init();
  m_Output16.Init();
  m_Output24.Init();
}

CSonavel::~CSonavel() {
  // A player that unloads us without Quit must not leave our threads running
  // in unmapped code.
  if (ThreadsRunning()) StopThreads();
  if (!ThreadsRunning()) FreeBuffers();
  Config* live = &m_Config;
  Dsp.ActiveConfig.compare_exchange_strong(live, nullptr, std::memory_order_relaxed);
}

long CSonavel::SaveConfig(const Config& c) {
  const long status = StoreConfig(c);
  if (status != 0)
    std::fprintf(stderr, "Sonavel: the settings could not be saved (error %ld); the stored ones are unchanged.\n",
                 status);
  return status;
}

bool CSonavel::ReserveBuffers() {
  bool ok = m_Input.Reserve(kMaxChunkOut);
  ok = m_Output16.Reserve(kMaxChunkOut) && ok;
  ok = m_Output24.Reserve(kMaxChunkOut) && ok;
  return ok;
}

void CSonavel::FreeBuffers() {
  m_Input.Release();
  m_Output16.Release();
  m_Output24.Release();
}

int CSonavel::Open(int sampleRate, int channels, int bits, int bufferMs, int prebufferMs) {
  if (m_Reload.load(std::memory_order_relaxed)) {
    // A slave still loaded from the last stream is replaced, not leaked.
    platform::Module* old = m_SlaveModule.load(std::memory_order_relaxed);
    OutputModuleRecord* oldRecord = m_SlaveRecord.load(std::memory_order_relaxed);
    m_SlaveRecord.store(nullptr, std::memory_order_relaxed);
    m_SlaveModule.store(nullptr, std::memory_order_relaxed);
    UnloadSlaveModule(&old, &oldRecord, 0);

    char16_t path[kSlavePathChars];
    GetSlavePath(m_Config, path);
    platform::Module* module = nullptr;
    OutputModuleRecord* record = nullptr;
    if (const char16_t* msg = LoadSlaveModule(path, &module, &record, 0)) {
      platform::ShowMessage(nullptr, msg, kErrorCaption);
      return -1;
    }
    m_SlaveModule.store(module, std::memory_order_relaxed);
    m_SlaveRecord.store(record, std::memory_order_relaxed);
    m_Reload.store(0, std::memory_order_relaxed);
  }
  OutputModuleRecord* slave = Slave();
  if (!slave) return -1;
  if (channels != 1 && channels != 2 && channels != 5 && channels != 6) return -1;
  if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate) return -1;
  // A new stream never starts inside a Write of the old one (a player that
  // reopens from another thread).
  m_Open.store(0, std::memory_order_seq_cst);
  SettleSlaveCalls();

  DropEnd();
  m_SampleRate.store(static_cast<uint32_t>(sampleRate), std::memory_order_relaxed);
  m_Channels.store(channels, std::memory_order_relaxed);
  m_Bits.store(bits, std::memory_order_relaxed);
  m_OutBits.store(CfgGet(m_Config.SlaveRes), std::memory_order_relaxed);

  Dsp.ActiveConfig.store(&m_Config, std::memory_order_relaxed);
  CalcStaticConstants(static_cast<unsigned>(sampleRate));
  // Everything the stream can need is made now, before its first Write: the
  // host's chunk and output buffers here, the engine's on the DSP thread, which
  // also clears what the last stream left.
  if (SettleChunk()) ReserveBuffers();
  PrepareEngine();

  m_BalloonShown.store(0, std::memory_order_relaxed);
  const int result = slave->Open(sampleRate, 6, m_OutBits.load(std::memory_order_relaxed),
                                 bufferMs > 0 ? bufferMs : 0, prebufferMs > 0 ? prebufferMs : 0);
  m_Open.store(result >= 0 ? 1 : 0, std::memory_order_seq_cst);
  if (m_Events[kUpdateIcon]) Signal(kUpdateIcon);
  if (result >= 0 && m_Events[kDecoderInactiveCheck]) Signal(kDecoderInactiveCheck);
  return result;
}

void CSonavel::Close() {
  const bool wasOpen = m_Open.exchange(0, std::memory_order_seq_cst) != 0;
  // A Write on another thread may still be inside the slave, reading our
  // output buffer: nothing is freed or unloaded under it.
  const bool idle = SettleSlaveCalls();
  // A Close without the end-of-track signal before it is a stop: what the
  // engine still holds is discarded.
  DropEnd();
  // The buffers are only ours to free once no hand-off is outstanding.
  if (idle && SettleChunk()) FreeBuffers();
  OutputModuleRecord* slave = Slave();
  if (slave) {
    if (wasOpen) slave->Close();
    // The next stream starts from clean state, whatever the last Write was.
    if (wasOpen) SignalResetDSP();
    if (idle && m_Reload.load(std::memory_order_relaxed)) {
      platform::Module* module = m_SlaveModule.load(std::memory_order_relaxed);
      OutputModuleRecord* record = slave;
      m_SlaveRecord.store(nullptr, std::memory_order_relaxed);
      m_SlaveModule.store(nullptr, std::memory_order_relaxed);
      UnloadSlaveModule(&module, &record, 0);
    }
  }
  if (m_Events[kUpdateIcon]) Signal(kUpdateIcon);
}

namespace {

// Bytes of one sample as the frame arithmetic counts them: formats narrower
// than a byte cannot be converted and count one byte, so they become silence
// instead of a division by zero.
int BytesPerSample(int bits) { return bits >= 8 ? bits / 8 : 1; }

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int CSonavel::Write(char* buffer, int length) {
  SlaveCall call(m_SlaveCalls);
  // Counted first, checked second: a Close that clears the flag and then finds
  // no call running knows that no Write will touch the buffers after it.
  if (!m_Open.load(std::memory_order_seq_cst)) return 1;
  OutputModuleRecord* slave = Slave();
  if (!slave) return 1;
  if (length == 0) {
    m_Pending = 0;
    return slave->Write(buffer, 0);
  }
  const int channels = m_Channels.load(std::memory_order_relaxed);
  const int bits = m_Bits.load(std::memory_order_relaxed);
  if (length < 0 || !buffer || channels <= 0) return 1;
  // A chunk whose hand-off timed out may still be in the DSP thread's hands.
  if (!SettleChunk()) return 1;
  if (!m_DspThread) return 1;
  // More data after the end began to play out: the stream goes on from here.
  DropEnd();

  // The engine takes at most kMaxChunkFrames frames per chunk, so that no
  // buffer ever grows while the stream runs: a longer block goes in pieces.
  const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(BytesPerSample(bits));
  const uint32_t frames = static_cast<uint32_t>(static_cast<size_t>(length) / frameBytes);
  const uint8_t* source = reinterpret_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  bool sent = false;
  do {
    const uint32_t n = frames - done < kMaxChunkFrames ? frames - done : kMaxChunkFrames;
    const int r = WriteChunk(slave, source + static_cast<size_t>(done) * frameBytes, n);
    if (r < 0) return 1;
    sent = sent || r > 0;
    done += n;
  } while (done < frames);
  if (!sent && frames == 0) return 1;
  // A block the headphone renderer keeps until a whole block has arrived was
  // taken even though nothing comes out yet. Reporting it as not written would
  // make a player send it again, and a Close would not reset the frames held
  // for the next stream.
  m_Pending = length;
  m_EndPending = true;
  return 0;
}

int CSonavel::WriteChunk(OutputModuleRecord* slave, const uint8_t* source, uint32_t frames) {
  const int channels = m_Channels.load(std::memory_order_relaxed);
  const int bits = m_Bits.load(std::memory_order_relaxed);
  Dsp.ActiveConfig.store(&m_Config, std::memory_order_relaxed);
  ConvertToInternal(channels, bits, source, frames, m_Input);

  m_ChunkKind.store(kChunkWrite, std::memory_order_relaxed);
  const uint32_t target = ++m_ChunksRequested;
  if (!Request(kProcessChunk, kChunkProcessed, m_ChunksDone, target)) return -1;

  const uint8_t* bytes = nullptr;
  size_t total = 0;
  int frameBytes = 0;
  if (!ConvertOutput(&bytes, &total, &frameBytes)) return -1;
  if (total == 0 || !bytes) return 0;
  SendToSlave(slave, bytes, total, frameBytes);
  return 1;
}

bool CSonavel::ConvertOutput(const uint8_t** bytes, size_t* total, int* frameBytes) {
  CSNFn& k = ActiveKernels();
  const int outBits = m_OutBits.load(std::memory_order_relaxed);
  if (outBits == 16) {
    k.ConvertToOutput16(m_Input, m_Output16);
    *bytes = m_Output16.data ? m_Output16.data->bytes : nullptr;
    *frameBytes = 12;
    *total = static_cast<size_t>(m_Output16.count) * 12;
    return true;
  }
  if (outBits == 24) {
    k.ConvertToOutput24(m_Input, m_Output24);
    *bytes = m_Output24.data ? m_Output24.data->bytes : nullptr;
    *frameBytes = 18;
    *total = static_cast<size_t>(m_Output24.count) * 18;
    return true;
  }
  return false;
}

void CSonavel::SendToSlave(OutputModuleRecord* slave, const uint8_t* bytes, size_t total, int frameBytes) {
  const size_t piece = static_cast<size_t>(kMaxSlavePiece / frameBytes) * frameBytes;
  for (size_t sent = 0; sent < total; sent += piece) {
    const size_t n = total - sent < piece ? total - sent : piece;
    slave->Write(reinterpret_cast<char*>(const_cast<uint8_t*>(bytes + sent)), static_cast<int>(n));
  }
}

int CSonavel::CanWrite() {
  SlaveCall call(m_SlaveCalls);
  OutputModuleRecord* slave = Slave();
  if (!slave) return 0;
  // A slave that answers with a negative count has no room.
  const int answer = slave->CanWrite();
  const uint32_t free = answer > 0 ? static_cast<uint32_t>(answer) : 0u;
  const int outBits = m_OutBits.load(std::memory_order_relaxed);
  const int outBytes = outBits >= 8 ? outBits / 8 : 0;
  if (outBytes == 0) return 0;
  const uint64_t frames = (free / 6u) / static_cast<uint32_t>(outBytes);
  const uint64_t bytes = frames * static_cast<uint64_t>(BytesPerSample(m_Bits.load(std::memory_order_relaxed))) *
                         static_cast<uint64_t>(m_Channels.load(std::memory_order_relaxed));
  return bytes > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
}

// The player signals the end of a track by polling IsPlaying after its last
// Write (and calls Close once it says 0). The first such call starts playing
// out the end: the engine renders, piece by piece on the DSP thread, what its
// delay lines and the headphone renderer still hold, and each piece goes to
// the slave as far as the slave's CanWrite allows. Until all of it has gone,
// IsPlaying says 1 without asking the slave; then it answers with the slave's
// IsPlaying. A slave that takes nothing for kHandOffTimeoutMs while not paused
// has the rest of the end dropped, so the player's wait stays bounded.
int CSonavel::IsPlaying() {
  SlaveCall call(m_SlaveCalls);
  OutputModuleRecord* s = Slave();
  if (!s) return 0;
  if ((m_EndPending || m_Draining) && !PlayOutEnd(s)) return 1;
  return s->IsPlaying();
}

bool CSonavel::PlayOutEnd(OutputModuleRecord* slave) {
  if (m_EndPending) {
    m_EndPending = false;
    m_Draining = true;
    m_DrainStarted = false;
    m_DrainBytes = m_DrainSent = 0;
    m_DrainStall = NowMs();
  }
  if (!m_Draining) return true;
  // At most a few pieces: the engine owes a bounded number of frames.
  for (;;) {
    if (m_DrainSent < m_DrainBytes) {
      const uint8_t* data = m_DrainFrameBytes == 12 ? (m_Output16.data ? m_Output16.data->bytes : nullptr)
                                                    : (m_Output24.data ? m_Output24.data->bytes : nullptr);
      if (!data) {
        DropEnd();
        return true;
      }
      const int canWrite = slave->CanWrite();
      const size_t room = canWrite > 0 ? static_cast<size_t>(canWrite) / m_DrainFrameBytes * m_DrainFrameBytes : 0;
      const size_t n = room < m_DrainBytes - m_DrainSent ? room : m_DrainBytes - m_DrainSent;
      const int64_t now = NowMs();
      if (n == 0) {
        if (m_Paused.load(std::memory_order_relaxed)) m_DrainStall = now;
        if (now - m_DrainStall >= static_cast<int64_t>(m_HandOffTimeoutMs)) {
          DropEnd();
          return true;
        }
        return false;
      }
      SendToSlave(slave, data + m_DrainSent, n, m_DrainFrameBytes);
      m_DrainSent += n;
      m_DrainStall = now;
      continue;
    }
    if (!SettleChunk() || !m_DspThread) {
      DropEnd();
      return true;
    }
    m_ChunkKind.store(m_DrainStarted ? kChunkDrainNext : kChunkDrainFirst, std::memory_order_relaxed);
    m_DrainStarted = true;
    const uint32_t target = ++m_ChunksRequested;
    const uint8_t* bytes = nullptr;
    size_t total = 0;
    int frameBytes = 0;
    if (!Request(kProcessChunk, kChunkProcessed, m_ChunksDone, target) || m_Input.count == 0 ||
        !ConvertOutput(&bytes, &total, &frameBytes) || total == 0 || !bytes) {
      DropEnd();
      return true;
    }
    m_DrainBytes = total;
    m_DrainSent = 0;
    m_DrainFrameBytes = frameBytes;
  }
}

void CSonavel::DropEnd() {
  m_EndPending = false;
  m_Draining = false;
  m_DrainBytes = m_DrainSent = 0;
}

int CSonavel::Pause(int pause) {
  SlaveCall call(m_SlaveCalls);
  m_Paused.store(pause != 0 ? 1 : 0, std::memory_order_relaxed);
  OutputModuleRecord* s = Slave();
  return s ? s->Pause(pause) : 0;
}

void CSonavel::SetVolume(int volume) {
  SlaveCall call(m_SlaveCalls);
  m_Volume.store(volume, std::memory_order_relaxed);
  if (OutputModuleRecord* s = Slave()) s->SetVolume(volume);
}

void CSonavel::SetPan(int pan) {
  SlaveCall call(m_SlaveCalls);
  if (OutputModuleRecord* s = Slave()) s->SetPan(pan);
}

void CSonavel::Flush(int timeMs) {
  {
    SlaveCall call(m_SlaveCalls);
    OutputModuleRecord* s = Slave();
    if (!s) return;
    // A seek: what the engine holds is discarded, not played out.
    DropEnd();
    s->Flush(timeMs);
  }
  SignalResetDSP();
}

int CSonavel::GetOutputTime() {
  SlaveCall call(m_SlaveCalls);
  OutputModuleRecord* s = Slave();
  return s ? s->GetOutputTime() : 0;
}

int CSonavel::GetWrittenTime() {
  SlaveCall call(m_SlaveCalls);
  OutputModuleRecord* s = Slave();
  return s ? s->GetWrittenTime() : 0;
}

void CSonavel::ShowConfig() {
  if (m_Events[kShowConfig]) Signal(kShowConfig);
}

void CSonavel::About(void* /*parent*/) { ui::ShowAbout(); }

void CSonavel::SetSetting(int32_t Config::*field, int32_t value) {
  const int32_t before = CfgGet(m_Config.*field);
  CfgSet(m_Config.*field, value);
  CalcStaticConstants(GetSRate());
  if (field == &Config::Mode && before != value) SignalResetDSP();
}

void CSonavel::SetSettings(const Config& c) {
  const int32_t before = CfgGet(m_Config.Mode);
  CopyConfig(m_Config, c);
  CalcStaticConstants(GetSRate());
  if (CfgGet(m_Config.Mode) != before) SignalResetDSP();
}

}  // namespace sn
