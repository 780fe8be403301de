#include "ui/UiThread.h"

#include <memory>
#include <string>

#include "ui/Shell.h"
#include "ui/Texts.h"

namespace sn::ui {

bool UiSession::Serve() {
  while (!quit_) {
    const uint32_t why = platform::WaitAny(events_, kUiEventCount, 0);
    if (why == platform::kWaitTimeout) break;
    if (why == kEvQuit || why == platform::kWaitFailed) {
      quit_ = true;
      break;
    }
    try {
      if (why == kEvShowConfig) dlg_.Show();
      else if (why == kEvUpdateIcon) dlg_.UpdateNotifyIcon();
      else if (why == kEvDecoderCheck) dlg_.DecoderInactiveCheck();
    } catch (...) {
    }
  }
  return quit_;
}

namespace {

// The about information as one line, for a plain message box.
std::u16string AboutLine() {
  std::u16string line = kDescription;
  line += u" - ";
  line += kCopyright;
  line += u" - ";
  line += kWebAddress;
  line += u" - ";
  line += BuiltOn();
  return line;
}

#if defined(_WIN32)
constexpr char16_t kNoWindow[] =
    u"The settings window could not be opened; settings are read from the registry when the player starts.";
#else
constexpr char16_t kNoWindow[] =
    u"The settings window needs a display; settings are read from the registry when the player starts.";
#endif

// Without a toolkit: the events are served and the window cannot be shown. The
// thread's own input (window messages on Win32) is dispatched, so that the
// boxes it shows work like any window of the thread.
void RunHeadless(SettingsHost& host, platform::Event* const* events) {
  for (;;) {
    const uint32_t why = platform::WaitAny(events, kUiEventCount, platform::kInfinite, platform::ThreadUiInput());
    if (why == kEvQuit || why == platform::kWaitFailed) break;
    try {
      if (why == kUiEventCount) {
        platform::DispatchUiInput();
      } else if (why == kEvShowConfig) {
        // The box runs its own message loop on this thread: it is closed when
        // the thread is asked to quit.
        platform::ShowMessage(nullptr, kNoWindow, kQuestionCaption, events[kEvQuit]);
      } else if (why == kEvDecoderCheck) {
        // No icon, so no balloon; the stream's claim is used up all the same.
        if (CfgGet(host.Live().ShowDecoderInactive)) host.ClaimBalloon();
      }
    } catch (...) {
    }
  }
  platform::DispatchUiInput();
}

}  // namespace

void RunUserInterface(SettingsHost& host, platform::Event* const* events) {
  Toolkit* toolkit = nullptr;
  try {
    toolkit = AcquireToolkit();
  } catch (...) {
  }
  bool ran = false;
  try {
    ran = toolkit && toolkit->RunSession(host, events);
  } catch (...) {
  }
  if (!ran) RunHeadless(host, events);
}

void ShowAbout() {
  try {
    if (Toolkit* toolkit = AcquireToolkit()) {
      auto request = std::make_shared<AboutRequest>();
      if (request->closed) {
        toolkit->RequestAbout(request);
        // The box lives on the toolkit's thread, which finishes the request as
        // the box closes or as the toolkit ends; on that thread itself there
        // is nothing to wait for.
        if (!toolkit->OnToolkitThread()) platform::WaitEvent(request->closed, platform::kInfinite);
        return;
      }
    }
    if (ShowAboutHere()) return;
    platform::ShowMessage(nullptr, AboutLine().c_str(), kAboutTitle);
  } catch (...) {
  }
}

}  // namespace sn::ui
