// The settings window, its status line and the notification icon as native
// Win32 controls: a ConfigView for ConfigDlg, built from the module's dialog
// templates (ui/win32/Ui.rc). It holds no behaviour of its own; every user edit
// is forwarded to the ConfigViewEvents, and every Set* call is made with the
// view's notifications muted, so it never comes back as an edit.
//
// The window is a modeless dialog with a tab control; each tab's page is a child
// dialog of the tab control. Numeric boxes are an edit with an up-down that
// writes its number into the edit; a number counts once the edit holds a whole
// number within the box's range. The notification icon is Shell_NotifyIconW's,
// its menu a popup menu with "Configuration" as the default (bold) item and the
// five modes as a radio-checked group.
//
// Threads: made, used and destroyed on one thread that pumps its messages (the
// plug-in's user-interface thread), with the common controls 6 activation
// context active. Ownership: owns its windows, icons and brushes.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "ui/ConfigView.h"

namespace sn::ui::win32 {

class Win32ConfigView final : public ConfigView {
 public:
  // Builds the window hidden, from the templates in `module`, with the status
  // timer running. Created() is false when the window could not be made.
  explicit Win32ConfigView(HINSTANCE module);
  ~Win32ConfigView() override;
  Win32ConfigView(const Win32ConfigView&) = delete;
  Win32ConfigView& operator=(const Win32ConfigView&) = delete;

  bool Created() const { return dlg_ != nullptr; }
  // Runs on every timer tick after the status is refreshed, also while a box or
  // menu runs its own message loop: the session serves the host's events there.
  void SetPoll(std::function<void()> poll) { poll_ = std::move(poll); }
  // Ends the boxes and menus the thread shows besides the window, so that the
  // loops they run return.
  void EndBoxes();
  // The window's keyboard interface (Tab, Enter, Escape) for a message taken
  // from the queue; true when the message was handled.
  bool PreTranslate(MSG& msg);

  void SetEvents(ConfigViewEvents* events) override { events_ = events; }
  void SetValue(Ctl c, int32_t value) override;
  void SetText(Ctl c, const std::u16string& text) override;
  void SetEnabled(Ctl c, bool enabled) override;
  void SetVisible(Ctl c, bool visible) override;
  void SelectTab(int index) override;
  void SetCentreGreys(int boxGrey, int arrowGrey) override;
  void SetStatus(const std::u16string& text, const std::u16string& tip) override;
  void ShowWindow() override;
  void HideWindow() override;
  void* NativeHandle() override { return dlg_; }
  bool AskYesNo(const std::u16string& text, const std::u16string& caption) override;
  void ShowError(const std::u16string& text, const std::u16string& caption) override;
  std::optional<std::u16string> PickFile(const std::u16string& title, const std::u16string& filterName,
                                         const std::u16string& pattern, const std::u16string& initial) override;
  bool HasNotificationArea() const override;
  void SetIconVisible(bool visible) override;
  void SetIconText(const std::u16string& text) override;
  void ShowBalloon(const std::u16string& title, const std::u16string& text) override;

 private:
  static INT_PTR CALLBACK MainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR CALLBACK PageProc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR OnMain(UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR OnPage(UINT msg, WPARAM wp, LPARAM lp);
  void OnCommand(int id, int code, HWND from);
  void Emit(const std::function<void(ConfigViewEvents&)>& f);
  void Build();
  void ShowPage(int index);
  void ShowIconMenu();
  bool NotifyIcon(DWORD action, UINT flags);
  HWND Control(Ctl c) const { return controls_[static_cast<size_t>(c)]; }

  HINSTANCE module_;
  HWND dlg_ = nullptr;
  HWND tabs_ = nullptr;
  HWND status_ = nullptr;
  HWND tip_ = nullptr;
  std::array<HWND, kTabCount> pages_{};
  std::array<HWND, static_cast<size_t>(Ctl::kCount)> controls_{};
  // The number each numeric box last showed or reported.
  std::array<int32_t, static_cast<size_t>(Ctl::kCount)> numbers_{};
  ConfigViewEvents* events_ = nullptr;
  std::function<void()> poll_;
  int quiet_ = 0;  // > 0 while the view sets its own controls
  int iconMode_ = 0;
  bool iconWanted_ = false;  // as the behaviour last asked
  bool iconShown_ = false;   // added to the notification area
  std::wstring iconText_;
  std::wstring statusText_, statusTip_;
  int boxGrey_ = 0, arrowGrey_ = 255;
  HBRUSH boxBrush_ = nullptr;
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
  UINT taskbarCreated_ = 0;
};

}  // namespace sn::ui::win32
