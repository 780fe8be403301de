// What the settings window and the notification icon need from the plug-in:
// the live settings with their saved copy, the open stream's facts, the
// machine's extensions and the slave module's own boxes.
//
// Threads: every call is made on the user-interface thread. The live record may
// be read by other threads at the same time; its fields are read with CfgGet.
#pragma once

#include <cstdint>

#include "config/Config.h"

namespace sn::ui {

class SettingsHost {
 public:
  virtual ~SettingsHost() = default;

  // The live record, read-only; change it through the calls below.
  virtual const Config& Live() const = 0;
  // Writes one field of the live record; the engine follows at once (its
  // constants are recomputed, a mode change resets it before this returns).
  virtual void SetSetting(int32_t Config::*field, int32_t value) = 0;
  // Replaces every field of the live record, the engine following as above.
  virtual void SetSettings(const Config& c) = 0;
  // Writes the slave path of the live record (terminated, at most
  // kSlavePathChars - 1 characters; the caller refuses longer ones).
  virtual void SetSlavePath(const char16_t* path) = 0;

  // The saved copy: Push copies the live record into it; Pop copies it back
  // into the live record with the engine following as SetSettings.
  virtual void PushConfig() = 0;
  virtual void PopConfig() = 0;
  // Stores the live record; the result is not reported to the user.
  virtual void SaveConfig() = 0;
  // The playing slave is reloaded at the next Close/Open.
  virtual void FlagSlaveModuleReload() = 0;

  // The open (or last) stream; the rate is 0 before the first Open.
  virtual uint32_t GetSRate() const = 0;
  virtual int GetChannels() const = 0;
  virtual bool IsOpen() const = 0;
  virtual bool IsSSE2Supported() const = 0;
  virtual bool IsCUDASupported() const = 0;

  // True once per opened stream: the first call after an Open claims the
  // decoder-inactive balloon, later ones find it taken.
  virtual bool ClaimBalloon() = 0;

  // Loads the module at `path` for a moment without initialising it, checks
  // that it is a usable slave, calls its own configuration or about box (with
  // `parent` as the owner) and unloads it. Returns the loader's message, or
  // null on success.
  enum class SlaveCall { Check, Config, About };
  virtual const char16_t* UseSlave(const char16_t* path, SlaveCall call, void* parent) = 0;
};

}  // namespace sn::ui
