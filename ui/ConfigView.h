// The widgets of the settings window and the notification icon as the window's
// behaviour (ConfigDlg) sees them, without a toolkit. A toolkit's view builds
// the real controls and forwards the user's edits to a ConfigViewEvents.
//
// Threads: the view and its events live on the user-interface thread. Setting a
// control from ConfigDlg never raises an event back: events are the user's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sn::ui {

// Every control whose value, text, state or visibility the behaviour sets.
enum class Ctl : int {
  // Main
  ModeList,      // choice: the five modes
  MasterGain,    // number -6..+6
  LinkMain,      // link "Configure"
  // Surround
  SurroundMusic,       // radio
  SurroundMovie,       // radio
  SurroundDelayMusic,  // number 0..100
  CentreWeight,        // number 0..100
  MusicShelf,          // check
  SurroundDelayMovie,  // number 10..100
  // Headphones
  HeadphonesMusic,  // radio
  HeadphonesMovie,  // radio
  DecodeMusic,      // check
  DecodeMovie,      // check
  // Room
  DelayL, DelayR, DelayC, DelaySub, DelaySL, DelaySR,  // numbers 0..100
  TrimL, TrimR, TrimC, TrimSub, TrimSL, TrimSR,        // numbers -12..+12
  LFERedir,   // check
  LFECutoff,  // number 20..200
  LFEInvert,  // check
  // System
  SlaveFile,  // read-only text
  Precision,  // choice: 16-bit, 24-bit
  SSE2Enable, SSE2Label,  // check, text beside it
  CUDAEnable, CUDALabel,
  ShowIcon, ShowIconPlaying, ShowDecoderInactive,  // checks
  // About tab
  AboutDescription, AboutCopyright, AboutWeb, AboutBuilt,  // texts
  // Buttons
  Apply,
  // The icon menu's mode list
  IconModeList,
  kCount
};

enum class Button { OK, Cancel, Default, Apply, SlaveSelect, SlaveConfigure, SlaveAbout };
enum class Link { Main, HeadphonesMusic, HeadphonesMovie };

inline constexpr int kTabCount = 6;
enum Tab : int { kTabMain, kTabSurround, kTabHeadphones, kTabRoom, kTabSystem, kTabAbout };

// What the user did, reported by the view on the user-interface thread.
class ConfigViewEvents {
 public:
  virtual ~ConfigViewEvents() = default;
  // A number, a check box (0/1), a list's index, or a radio button becoming
  // checked (1; a radio button that becomes unchecked is not reported).
  virtual void ValueChanged(Ctl c, int32_t value) = 0;
  virtual void TabSelected(int index) = 0;
  virtual void ButtonClicked(Button b) = 0;
  virtual void LinkClicked(Link l) = 0;
  // The window's own close button: the window is not closed yet.
  virtual void CloseRequested() = 0;
  // The icon's double-click or its menu's "Configuration".
  virtual void IconOpenRequested() = 0;
  // Every 100 ms while the view exists.
  virtual void TimerTick() = 0;
};

class ConfigView {
 public:
  virtual ~ConfigView() = default;

  virtual void SetEvents(ConfigViewEvents* events) = 0;

  // Numbers, check and radio boxes (0/1) and lists' indices.
  virtual void SetValue(Ctl c, int32_t value) = 0;
  virtual void SetText(Ctl c, const std::u16string& text) = 0;
  virtual void SetEnabled(Ctl c, bool enabled) = 0;
  virtual void SetVisible(Ctl c, bool visible) = 0;
  virtual void SelectTab(int index) = 0;
  // The centre-weight picture: the C box's grey and the arrows' grey, 0..255.
  virtual void SetCentreGreys(int boxGrey, int arrowGrey) = 0;
  virtual void SetStatus(const std::u16string& text, const std::u16string& tip) = 0;

  // Shows the window and brings it to the front; hides it.
  virtual void ShowWindow() = 0;
  virtual void HideWindow() = 0;
  // The window's native handle, the owner of a slave's own boxes.
  virtual void* NativeHandle() = 0;

  // A question box owned by the window (Yes/No, question icon): true for Yes.
  virtual bool AskYesNo(const std::u16string& text, const std::u16string& caption) = 0;
  // An error box owned by the window (exclamation icon, OK).
  virtual void ShowError(const std::u16string& text, const std::u16string& caption) = 0;
  // An open-file box; the chosen path, or nothing when the user cancelled.
  virtual std::optional<std::u16string> PickFile(const std::u16string& title, const std::u16string& filterName,
                                                 const std::u16string& pattern,
                                                 const std::u16string& initial) = 0;

  // The notification icon. Without a notification area the icon cannot be
  // shown: HasNotificationArea is false and SetIconVisible does nothing.
  virtual bool HasNotificationArea() const = 0;
  virtual void SetIconVisible(bool visible) = 0;
  virtual void SetIconText(const std::u16string& text) = 0;
  // A warning balloon at the icon, shown for the shortest time.
  virtual void ShowBalloon(const std::u16string& title, const std::u16string& text) = 0;
};

}  // namespace sn::ui
