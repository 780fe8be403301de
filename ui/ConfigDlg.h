// ConfigDlg: what the settings window, its status line and the notification
// icon do, apart from any toolkit. It edits the host's live settings directly,
// so every change is heard at once; the host's saved copy makes Cancel
// possible. A ConfigView shows the result.
//
// Threads: construction and every call on the user-interface thread.
// Ownership: holds references to the host and the view, which outlive it.
#pragma once

#include <cstdint>

#include "config/Config.h"
#include "ui/ConfigView.h"
#include "ui/SettingsHost.h"

namespace sn::ui {

class ConfigDlg : public ConfigViewEvents {
 public:
  // Fills the form from the live settings; the window stays hidden.
  ConfigDlg(SettingsHost& host, ConfigView& view);
  ~ConfigDlg() override;
  ConfigDlg(const ConfigDlg&) = delete;
  ConfigDlg& operator=(const ConfigDlg&) = delete;

  // Takes the saved copy, fills the form and shows the window; a window that
  // is already shown is only brought to the front, keeping its unconfirmed edits.
  void Show();
  // Loads every control from the live settings.
  void UpdateForm();

  // The notification icon: visibility by the settings and the stream, its text
  // by the mode, hidden for good as the user-interface thread ends.
  void UpdateNotifyIcon();
  void UpdateNotifyIconText();
  void HideNotifyIcon();
  // The host's decoder-inactive check after an Open: at most one balloon per
  // stream, only while the setting asks for it.
  void DecoderInactiveCheck();
  void ShowDecoderInactiveBalloonTips();

  bool WindowShown() const { return windowShown_; }
  bool ApplyEnabled() const { return applyEnabled_; }
  bool IconVisible() const { return iconVisible_; }

  // ConfigViewEvents.
  void ValueChanged(Ctl c, int32_t value) override;
  void TabSelected(int index) override;
  void ButtonClicked(Button b) override;
  void LinkClicked(Link l) override;
  void CloseRequested() override;
  void IconOpenRequested() override;
  void TimerTick() override;

 private:
  void Apply();
  void Cancel();
  void Default();
  void SelectSlave();
  void CallSlave(SettingsHost::SlaveCall call);
  void SetApply(bool enabled);
  void ModeChosen(int32_t mode, bool fromIcon);
  void ShowModeLinks(int32_t mode);
  void DrawCentreWeight(int32_t weight);
  void SelectTabByLink(int tab);
  int32_t Get(int32_t Config::*field) const { return CfgGet(host_.Live().*field); }

  SettingsHost& host_;
  ConfigView& view_;
  bool windowShown_ = false;
  bool applyEnabled_ = false;
  bool iconVisible_ = false;
  // The mode the lists last showed; -1 before the form was first filled.
  int32_t shownMode_ = -1;
  std::u16string slaveText_;
};

}  // namespace sn::ui
