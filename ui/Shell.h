// The toolkit's side of the user interface. On Win32 the system's controls live
// on the plug-in's user-interface thread itself, one session per life of it.
// A toolkit such as Qt allows one
// application object per process, bound for good to the thread that made it,
// while the plug-in's user-interface thread starts at every Init and ends at
// every Quit. So the toolkit runs on a thread of its own, started at first use
// and kept until the module is unloaded; each life of the user-interface
// thread is one session of the settings window and the icon on it.
//
// AcquireToolkit returns none when no window can be shown (no display, or the
// process's toolkit instance belongs to the player), and the user-interface
// thread then runs without windows.
#pragma once

#include <atomic>
#include <memory>

#include "platform/Platform.h"
#include "ui/SettingsHost.h"

namespace sn::ui {

// One About box asked for by another thread: `closed` is signalled once, when
// the box has closed or will never be shown. Shared by the asking thread and
// the toolkit; the last owner frees the event.
struct AboutRequest {
  AboutRequest() : closed(platform::NewEvent()) {}
  ~AboutRequest() { platform::DestroyEvent(closed); }
  AboutRequest(const AboutRequest&) = delete;
  AboutRequest& operator=(const AboutRequest&) = delete;
  void Finish() {
    if (!done.exchange(true)) platform::SignalEvent(closed);
  }
  platform::Event* const closed;
  std::atomic<bool> done{false};
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;
  // Called on the plug-in's user-interface thread: runs one session (the
  // settings window hidden, the icon, the status timer) on the toolkit's
  // thread, serving the run of host events (see UiThread.h) until its quit
  // event; returns once the session's windows are gone. False, at once, when
  // the toolkit has ended and no session can run.
  virtual bool RunSession(SettingsHost& host, platform::Event* const* events) = 0;
  // Any thread: queues an About box, independent of the settings window. The
  // request is finished as the box closes, or as the toolkit ends. A toolkit
  // whose windows live on any thread (Win32) shows the box modally on the
  // calling thread instead, and finishes the request before it returns.
  virtual void RequestAbout(std::shared_ptr<AboutRequest> request) = 0;
  // True on the toolkit's own thread.
  virtual bool OnToolkitThread() const = 0;
};

// Any thread: the toolkit, started on first use; null when no window can be shown.
Toolkit* AcquireToolkit();
// Shows the About box modally on the calling thread when the process already
// runs the toolkit there (a player built on the same toolkit); false otherwise.
bool ShowAboutHere();

}  // namespace sn::ui
