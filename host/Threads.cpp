// The two threads of the plug-in and the hand-offs between them and the player.
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "host/Sonavel.h"
#include "host/UiHost.h"
#include "ui/UiThread.h"

namespace sn {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

// Reached only as a request waits: more than one thread may wait for the same
// kind of acknowledgement (a seek and a mode change together).
std::atomic<int32_t> g_ResetWaiters{0};

}  // namespace

const char16_t* CSonavel::Init() {
  if (m_DspThread && m_UiThread) return nullptr;
  // What an earlier Init left half made is taken down first; a thread that
  // will not stop still owns its events, and nothing new is started beside it.
  TearDown();
  if (ThreadsRunning()) return kMsgInternalError;
  for (auto& e : m_Events) {
    e = platform::NewEvent();
    if (!e) {
      TearDown();
      return kMsgInternalError;
    }
  }
  GetConfig(m_Config);
  Dsp.ActiveConfig.store(&m_Config, std::memory_order_relaxed);
  m_UiThread = m_StartThread(&CSonavel::SonavelThread, this);
  if (m_UiThread) m_DspThread = m_StartThread(&CSonavel::DecodeThread, this);
  if (!m_UiThread || !m_DspThread) {
    TearDown();
    return kMsgInternalError;
  }
  return nullptr;
}

void CSonavel::TearDown() {
  StopThreads();
  if (ThreadsRunning()) return;  // a thread that would not stop keeps its events
  for (auto& e : m_Events) {
    platform::DestroyEvent(e);
    e = nullptr;
  }
  m_ChunksRequested = 0;
  m_ChunksDone.store(0, std::memory_order_relaxed);
  m_ResetsRequested.store(0, std::memory_order_relaxed);
  m_ResetsDone.store(0, std::memory_order_relaxed);
}

void CSonavel::StopThreads() {
  // Each thread acknowledges as it ends; joining afterwards makes sure it has
  // really left our code before anything is unloaded. Both waits are bounded.
  // A thread that has already ended is not asked: a process that exits ends
  // every other thread before the module's destructors run, and a thread that
  // is gone can acknowledge nothing.
  if (m_DspThread) {
    if (!platform::JoinThread(m_DspThread, 0)) {
      platform::SignalAndWait(m_Events[kDspQuit], m_Events[kDspQuitAck], m_HandOffTimeoutMs);
    }
    if (platform::JoinThread(m_DspThread, m_HandOffTimeoutMs)) {
      platform::CloseThread(m_DspThread);
      m_DspThread = nullptr;
    }
  }
  if (m_UiThread) {
    if (!platform::JoinThread(m_UiThread, 0)) {
      platform::SignalAndWait(m_Events[kUiQuit], m_Events[kUiQuitAck], m_HandOffTimeoutMs);
    }
    if (platform::JoinThread(m_UiThread, m_HandOffTimeoutMs)) {
      platform::CloseThread(m_UiThread);
      m_UiThread = nullptr;
    }
  }
}

void CSonavel::Quit() {
  m_Open.store(0, std::memory_order_seq_cst);
  // A call of the player's still inside the slave keeps the slave loaded and
  // our buffers allocated.
  const bool idle = SettleSlaveCalls();
  StopThreads();
  const bool stopped = !ThreadsRunning();
  if (stopped && idle) {
    platform::Module* module = m_SlaveModule.load(std::memory_order_relaxed);
    OutputModuleRecord* record = m_SlaveRecord.load(std::memory_order_relaxed);
    m_SlaveRecord.store(nullptr, std::memory_order_relaxed);
    UnloadSlaveModule(&module, &record, 0);
    m_SlaveModule.store(nullptr, std::memory_order_relaxed);
    m_Reload.store(1, std::memory_order_relaxed);
    FreeBuffers();
    TearDown();
    m_Pending = 0;
  }
  // A thread that would not stop may still use the slave and the events: they
  // are left alone rather than freed under it.
  SaveConfig(m_Config);
}

bool CSonavel::Request(EventIndex request, EventIndex ack, std::atomic<uint32_t>& done, uint32_t target) {
  if (!m_DspThread) return false;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_HandOffTimeoutMs);
  auto reached = [&] { return static_cast<int32_t>(done.load(std::memory_order_acquire) - target) >= 0; };
  uint32_t r = platform::SignalAndWait(m_Events[request], m_Events[ack], m_HandOffTimeoutMs);
  while (!reached() && r == 0) r = platform::WaitEvent(m_Events[ack], MsLeft(deadline));
  return reached();
}

bool CSonavel::SettleSlaveCalls() {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_HandOffTimeoutMs);
  while (m_SlaveCalls.load(std::memory_order_seq_cst) != 0) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool CSonavel::SettleChunk() {
  if (m_ChunksDone.load(std::memory_order_acquire) == m_ChunksRequested) return true;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_HandOffTimeoutMs);
  while (m_ChunksDone.load(std::memory_order_acquire) != m_ChunksRequested) {
    if (platform::WaitEvent(m_Events[kChunkProcessed], MsLeft(deadline)) != 0) break;
  }
  return m_ChunksDone.load(std::memory_order_acquire) == m_ChunksRequested;
}

void CSonavel::PrepareEngine() {
  if (!m_DspThread) {
    PrepareStream(GetSRate());
    return;
  }
  m_PreparePending.store(1, std::memory_order_relaxed);
  SignalResetDSP();
}

void CSonavel::SignalResetDSP() {
  if (!m_DspThread) return;
  const uint32_t target = m_ResetsRequested.fetch_add(1, std::memory_order_acq_rel) + 1;
  g_ResetWaiters.fetch_add(1, std::memory_order_relaxed);
  const bool ok = Request(kResetDsp, kResetDone, m_ResetsDone, target);
  // Another requester may sleep on the same acknowledgement: pass it on.
  if (g_ResetWaiters.fetch_sub(1, std::memory_order_relaxed) > 1 && ok) Signal(kResetDone);
}

uint32_t CSonavel::DecodeThread(void* arg) {
  CSonavel& self = *static_cast<CSonavel*>(arg);
  platform::Event* const* run = &self.m_Events[kDspQuit];
  SetDenormalMode();
  for (;;) {
    const uint32_t why = platform::WaitAny(run, 4, platform::kInfinite);
    if (why == 0) break;
    try {
      if (why == 2) {
        if (void (*hook)() = self.m_ChunkHook.load(std::memory_order_relaxed)) hook();
        Dsp.ActiveConfig.store(&self.m_Config, std::memory_order_relaxed);
        const int channels = self.m_Channels.load(std::memory_order_relaxed);
        const int32_t kind = self.m_ChunkKind.load(std::memory_order_relaxed);
        if (kind == kChunkWrite) {
          self.ProcessChunk(channels, self.m_Input);
        } else {
          if (kind == kChunkDrainFirst) BeginDrain(channels);
          self.DrainChunk(channels, self.m_Input);
        }
        self.m_ChunksDone.fetch_add(1, std::memory_order_release);
        self.Signal(kChunkProcessed);
      } else if (why == 3) {
        const uint32_t asked = self.m_ResetsRequested.load(std::memory_order_acquire);
        if (self.m_PreparePending.exchange(0, std::memory_order_relaxed))
          PrepareStream(self.GetSRate());
        else
          ResetDSP();
        self.m_ResetsDone.store(asked, std::memory_order_release);
        self.Signal(kResetDone);
      } else if (why == platform::kWaitFailed) {
        break;
      }
    } catch (...) {
      // The engine reports nothing; a failure must not end the player.
    }
  }
  try {
    ResetDSP();
  } catch (...) {
  }
  self.Signal(kDspQuitAck);
  return 0;
}

// The user-interface thread waits on the run that starts at UI-quit.
static_assert(CSonavel::kShowConfig - CSonavel::kUiQuit == ui::kEvShowConfig);
static_assert(CSonavel::kUpdateIcon - CSonavel::kUiQuit == ui::kEvUpdateIcon);
static_assert(CSonavel::kDecoderInactiveCheck - CSonavel::kUiQuit == ui::kEvDecoderCheck);
static_assert(CSonavel::kDspQuit - CSonavel::kUiQuit == ui::kUiEventCount);

uint32_t CSonavel::SonavelThread(void* arg) {
  CSonavel& self = *static_cast<CSonavel*>(arg);
  // The settings window and the icon belong to this thread's life: shown
  // through the toolkit's own thread, gone when this one ends. Without a
  // display the events are served without them.
  try {
    CSonavelUiHost host(self);
    ui::RunUserInterface(host, &self.m_Events[kUiQuit]);
  } catch (...) {
  }
  self.Signal(kUiQuitAck);
  return 0;
}

}  // namespace sn
