// The media player's output-module interface: the record that the player drives
// and that Sonavel itself drives towards its slave module.
//
// Every entry uses the C calling convention (spelt out for 32-bit Windows, where
// the player's compiler may default to another). The handle and pointer fields
// are pointer-sized: twenty 32-bit fields in the 32-bit player. A module exports
// `winampGetOutModule` with C linkage, undecorated; the returned record lives as
// long as the module stays loaded.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OUT_MODULE_VERSION 0x10

#if defined(_WIN32) && !defined(_WIN64)
#define OUT_MODULE_CALL __cdecl
#else
#define OUT_MODULE_CALL
#endif

typedef struct OutputModuleRecord {
  int version;                     /* 0x10 */
  const char *description;
  intptr_t id;
  void *hMainWindow;
  void *hDllInstance;
  void (OUT_MODULE_CALL *Config)(void *parent);
  void (OUT_MODULE_CALL *About)(void *parent);
  void (OUT_MODULE_CALL *Init)(void);
  void (OUT_MODULE_CALL *Quit)(void);
  int  (OUT_MODULE_CALL *Open)(int sampleRate, int channels, int bitsPerSample, int bufferMs, int prebufferMs);
  void (OUT_MODULE_CALL *Close)(void);
  int  (OUT_MODULE_CALL *Write)(char *buffer, int length);
  int  (OUT_MODULE_CALL *CanWrite)(void);
  int  (OUT_MODULE_CALL *IsPlaying)(void);
  int  (OUT_MODULE_CALL *Pause)(int pause);
  void (OUT_MODULE_CALL *SetVolume)(int volume);
  void (OUT_MODULE_CALL *SetPan)(int pan);
  void (OUT_MODULE_CALL *Flush)(int timeMs);
  int  (OUT_MODULE_CALL *GetOutputTime)(void);
  int  (OUT_MODULE_CALL *GetWrittenTime)(void);
} OutputModuleRecord;

typedef OutputModuleRecord *(OUT_MODULE_CALL *GetOutModuleFn)(void);

#if defined(_WIN32)
#define OUT_MODULE_EXPORT __declspec(dllexport)
#else
#define OUT_MODULE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
}
#endif
