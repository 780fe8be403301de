// The toolkit's side of the user-interface thread: the application object, the
// view, and a loop that runs until it is stopped while watching the host's
// events. One toolkit is built in per platform; OpenShell returns none when it
// cannot show anything (no display, or the process's toolkit belongs to another
// thread), and the thread then runs without windows.
//
// Threads: created, run and destroyed on the user-interface thread.
// RequestAbout may be called from any thread (see UiThread.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Platform.h"
#include "ui/ConfigView.h"

namespace sn::ui {

// One About box asked for by another thread: `closed` is signalled once, when
// the box has closed or will never be shown. Shared by the asking thread and
// the shell; the last owner frees the event.
struct AboutRequest {
  AboutRequest() : closed(platform::CreateEvent()) {}
  ~AboutRequest() { platform::DestroyEvent(closed); }
  AboutRequest(const AboutRequest&) = delete;
  AboutRequest& operator=(const AboutRequest&) = delete;
  void Finish() {
    if (!done.exchange(true)) platform::SignalEvent(closed);
  }
  platform::Event* const closed;
  std::atomic<bool> done{false};
};

class Shell {
 public:
  virtual ~Shell() = default;
  virtual ConfigView& View() = 0;
  // Runs the loop. `wake` is called on this thread whenever one of
  // `events[0..count)` may have been signalled (it consumes them itself), and
  // once at the start. Returns after Stop.
  virtual void Run(platform::Event* const* events, uint32_t count, const std::function<void()>& wake) = 0;
  // Ends Run from inside a `wake` call.
  virtual void Stop() = 0;
  // Any thread: queues an About box, independent of the settings window. The
  // shell signals the request's event as the box closes, or as the shell ends.
  virtual void RequestAbout(std::shared_ptr<AboutRequest> request) = 0;
};

// The toolkit's shell, or null when no window can be shown here.
std::unique_ptr<Shell> OpenShell();
// Shows the About box modally on the calling thread when the process already
// runs the toolkit there (a player built on the same toolkit); false otherwise.
bool ShowAboutHere();

}  // namespace sn::ui
