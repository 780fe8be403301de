// The plug-in object as the user interface sees it: the settings entry of
// CSonavel behind ui::SettingsHost.
//
// Threads: the user-interface thread (see ui/SettingsHost.h).
#pragma once

#include "host/Sonavel.h"
#include "ui/SettingsHost.h"

namespace sn {

class CSonavelUiHost final : public ui::SettingsHost {
 public:
  explicit CSonavelUiHost(CSonavel& s) : s_(s) {}

  const Config& Live() const override { return s_.m_Config; }
  void SetSetting(int32_t Config::*field, int32_t value) override { s_.SetSetting(field, value); }
  void SetSettings(const Config& c) override { s_.SetSettings(c); }
  void SetSlavePath(const char16_t* path) override { s_.SetSlaveModulePath(path); }
  void PushConfig() override { s_.PushConfig(); }
  // The saved copy comes back through the settings entry, so the engine
  // follows the restored values (constants, and a reset when the mode differs).
  void PopConfig() override { s_.SetSettings(s_.m_SavedConfig); }
  void SaveConfig() override { CSonavel::SaveConfig(s_.m_Config); }
  void FlagSlaveModuleReload() override { s_.FlagSlaveModuleReload(); }
  uint32_t GetSRate() const override { return s_.GetSRate(); }
  int GetChannels() const override { return s_.GetChannels(); }
  bool IsOpen() const override { return s_.IsOpen(); }
  bool IsSSE2Supported() const override { return CSNLib::IsSSE2Supported(); }
  bool IsCUDASupported() const override { return CSNLib::IsCUDASupported(); }
  bool ClaimBalloon() override { return s_.ClaimBalloon(); }
  const char16_t* UseSlave(const char16_t* path, SlaveCall call, void* parent) override;

 private:
  CSonavel& s_;
};

}  // namespace sn
