// The media player's output-module interface: the record that the player drives
// and that Sonavel itself drives towards its slave module.
//
// Every entry uses the C calling convention. On 64-bit builds the handle and
// pointer fields are pointer-sized. A module exports `winampGetOutModule` with C
// linkage; the returned record lives as long as the module stays loaded.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OUT_MODULE_VERSION 0x10

typedef struct OutputModuleRecord {
  int version;                     /* 0x10 */
  const char *description;
  intptr_t id;
  void *hMainWindow;
  void *hDllInstance;
  void (*Config)(void *parent);
  void (*About)(void *parent);
  void (*Init)(void);
  void (*Quit)(void);
  int  (*Open)(int sampleRate, int channels, int bitsPerSample, int bufferMs, int prebufferMs);
  void (*Close)(void);
  int  (*Write)(char *buffer, int length);
  int  (*CanWrite)(void);
  int  (*IsPlaying)(void);
  int  (*Pause)(int pause);
  void (*SetVolume)(int volume);
  void (*SetPan)(int pan);
  void (*Flush)(int timeMs);
  int  (*GetOutputTime)(void);
  int  (*GetWrittenTime)(void);
} OutputModuleRecord;

typedef OutputModuleRecord *(*GetOutModuleFn)(void);

#if defined(_WIN32)
#define OUT_MODULE_EXPORT __declspec(dllexport)
#else
#define OUT_MODULE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
}
#endif
