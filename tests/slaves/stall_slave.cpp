// A slave that never has room: CanWrite is always 0. Every entry appends its
// name as one line to the file $STALL_SLAVE_LOG, so that a test can follow a
// player in another process.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/OutputModule.h"

namespace {

void Log(const char* entry) {
  const char* path = std::getenv("STALL_SLAVE_LOG");
  if (!path || !*path) return;
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[64];
  const size_t n = std::strlen(entry);
  std::memcpy(line, entry, n);
  line[n] = '\n';
  (void)!write(fd, line, n + 1);
  close(fd);
}

void Config(void*) { Log("Config"); }
void About(void*) { Log("About"); }
void Init() { Log("Init"); }
void Quit() { Log("Quit"); }
int Open(int, int, int, int, int) {
  Log("Open");
  return 0;
}
void Close() { Log("Close"); }
int Write(char*, int) {
  Log("Write");
  return 0;
}
int CanWrite() { return 0; }
int IsPlaying() { return 0; }
int Pause(int) { return 0; }
void SetVolume(int) {}
void SetPan(int) {}
void Flush(int) { Log("Flush"); }
int GetOutputTime() { return 0; }
int GetWrittenTime() { return 0; }

OutputModuleRecord g_Record = {OUT_MODULE_VERSION, "Stalling slave", 4343, nullptr, nullptr, Config, About,
                               Init, Quit, Open, Close, Write, CanWrite, IsPlaying, Pause, SetVolume, SetPan,
                               Flush, GetOutputTime, GetWrittenTime};

}  // namespace

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* winampGetOutModule() { return &g_Record; }
