// The exported entry and the record the player drives. Every callback works on
// the one CSonavel; none lets an exception reach the player.
#include <cstddef>

#include "host/OutputModule.h"
#include "host/Sonavel.h"

namespace {

using sn::Sonavel;

template <class F, class R>
R Guard(F&& f, R fallback) noexcept {
  try {
    return f();
  } catch (...) {
    return fallback;
  }
}

template <class F>
void Guard(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

void CbConfig(void*) { Guard([] { Sonavel.ShowConfig(); }); }
void CbAbout(void* parent) { Guard([parent] { Sonavel.About(parent); }); }
void CbInit() {
  Guard([] {
    if (const char16_t* msg = Sonavel.Init()) sn::platform::ShowMessage(nullptr, msg, sn::kErrorCaption);
  });
}
void CbQuit() { Guard([] { Sonavel.Quit(); }); }
int CbOpen(int rate, int ch, int bits, int bufMs, int preMs) {
  return Guard([=] { return Sonavel.Open(rate, ch, bits, bufMs, preMs); }, -1);
}
void CbClose() { Guard([] { Sonavel.Close(); }); }
int CbWrite(char* buf, int len) { return Guard([=] { return Sonavel.Write(buf, len); }, 1); }
int CbCanWrite() { return Guard([] { return Sonavel.CanWrite(); }, 0); }
int CbIsPlaying() { return Guard([] { return Sonavel.IsPlaying(); }, 0); }
int CbPause(int p) { return Guard([p] { return Sonavel.Pause(p); }, 0); }
void CbSetVolume(int v) { Guard([v] { Sonavel.SetVolume(v); }); }
void CbSetPan(int p) { Guard([p] { Sonavel.SetPan(p); }); }
void CbFlush(int t) { Guard([t] { Sonavel.Flush(t); }); }
int CbGetOutputTime() { return Guard([] { return Sonavel.GetOutputTime(); }, 0); }
int CbGetWrittenTime() { return Guard([] { return Sonavel.GetWrittenTime(); }, 0); }

OutputModuleRecord g_Record;

}  // namespace

// The record as the 32-bit player reads it: twenty 32-bit fields.
static_assert(sizeof(void*) != 4 || (sizeof(OutputModuleRecord) == 80 &&
                                     offsetof(OutputModuleRecord, GetWrittenTime) == 76),
              "the record must keep the player's layout");

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* OUT_MODULE_CALL winampGetOutModule() {
  g_Record.version = OUT_MODULE_VERSION;
  g_Record.description = "Tamberlin Sonavel v1.00";
  g_Record.id = sn::kSonavelModuleId;
  g_Record.hMainWindow = nullptr;
  g_Record.hDllInstance = nullptr;
  g_Record.Config = CbConfig;
  g_Record.About = CbAbout;
  g_Record.Init = CbInit;
  g_Record.Quit = CbQuit;
  g_Record.Open = CbOpen;
  g_Record.Close = CbClose;
  g_Record.Write = CbWrite;
  g_Record.CanWrite = CbCanWrite;
  g_Record.IsPlaying = CbIsPlaying;
  g_Record.Pause = CbPause;
  g_Record.SetVolume = CbSetVolume;
  g_Record.SetPan = CbSetPan;
  g_Record.Flush = CbFlush;
  g_Record.GetOutputTime = CbGetOutputTime;
  g_Record.GetWrittenTime = CbGetWrittenTime;
  return &g_Record;
}
