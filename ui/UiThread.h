// The body of the plug-in's user-interface thread and the About entry, apart
// from any toolkit.
//
// The thread serves a run of five host events, in this order: quit, the quit
// acknowledgement (signalled by the host's side only as the thread ends, never
// consumed here), show-configuration, update-icon and decoder-inactive-check.
// When several are signalled the lowest index is served first, so an Open's
// icon update always comes before its balloon check.
#pragma once

#include "platform/Platform.h"
#include "ui/ConfigDlg.h"
#include "ui/SettingsHost.h"

namespace sn::ui {

inline constexpr uint32_t kUiEventCount = 5;
enum UiEvent : uint32_t { kEvQuit = 0, kEvQuitAck, kEvShowConfig, kEvUpdateIcon, kEvDecoderCheck };

// Runs until `events[kEvQuit]` is signalled. With a display the settings window
// and the icon are shown through the toolkit; without one the events are
// served as before any window existed: show-configuration says in a message
// box (a line on standard error on POSIX) that no window can be shown, and the
// thread's window messages are dispatched. Never throws.
void RunUserInterface(SettingsHost& host, platform::Event* const* events);

// The About entry, from any thread: the About box, returning when it has
// closed. Without a display, one line on standard error. Never throws.
void ShowAbout();

// One session of the settings window: its behaviour over a toolkit's view,
// serving the host's events. Threads: the toolkit's thread.
class UiSession {
 public:
  UiSession(SettingsHost& host, ConfigView& view, platform::Event* const* events)
      : dlg_(host, view), events_(events) {}
  // Serves every signalled event, lowest index first, without waiting. True
  // once the quit event has been consumed; the session then serves no more.
  bool Serve();
  ConfigDlg& Dlg() { return dlg_; }

 private:
  ConfigDlg dlg_;
  platform::Event* const* events_;
  bool quit_ = false;
};

}  // namespace sn::ui
