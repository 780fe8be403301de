#include <atomic>
#include <chrono>
#include <thread>

#include "host/OutputModule.h"
#include "tests/slaves/RecSlave.h"

namespace {

RecSlaveState g_State;

void Config(void*) { g_State.calls.push_back("Config"); }
void About(void*) { g_State.calls.push_back("About"); }
void Init() { g_State.calls.push_back("Init"); }
void Quit() { g_State.calls.push_back("Quit"); }
int Open(int rate, int ch, int bits, int bufMs, int preMs) {
  g_State.calls.push_back("Open");
  const int args[5] = {rate, ch, bits, bufMs, preMs};
  for (int i = 0; i < 5; ++i) g_State.open[i] = args[i];
  return g_State.openResult;
}
void Close() { g_State.calls.push_back("Close"); }
int Write(char* buf, int len) {
  std::atomic_ref<int>(g_State.writesEntered).fetch_add(1);
  if (g_State.writeDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(g_State.writeDelayMs));
  g_State.calls.push_back("Write");
  g_State.writeSizes.push_back(len);
  if (buf && len > 0) g_State.data.insert(g_State.data.end(), buf, buf + len);
  return 0;
}
int CanWrite() { return g_State.canWriteBytes; }
int IsPlaying() { return g_State.isPlaying; }
int Pause(int p) {
  g_State.calls.push_back("Pause");
  g_State.pauseArg = p;
  return g_State.pauseResult;
}
void SetVolume(int v) {
  g_State.calls.push_back("SetVolume");
  g_State.volume = v;
}
void SetPan(int p) {
  g_State.calls.push_back("SetPan");
  g_State.pan = p;
}
void Flush(int t) {
  g_State.calls.push_back("Flush");
  g_State.flushTime = t;
}
int GetOutputTime() { return g_State.outputTime; }
int GetWrittenTime() { return g_State.writtenTime; }

OutputModuleRecord g_Record = {OUT_MODULE_VERSION, "Recording slave", 4242, nullptr, nullptr, Config, About,
                               Init, Quit, Open, Close, Write, CanWrite, IsPlaying, Pause, SetVolume, SetPan,
                               Flush, GetOutputTime, GetWrittenTime};

}  // namespace

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* winampGetOutModule() { return &g_Record; }
extern "C" OUT_MODULE_EXPORT RecSlaveState* rec_slave_state() { return &g_State; }
