#include "ui/UiThread.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ui/ConfigDlg.h"
#include "ui/Shell.h"
#include "ui/Texts.h"

namespace sn::ui {

namespace {

// The running shell, for About boxes asked for by other threads. The thread
// that runs it takes it out under the lock before the shell goes away.
std::mutex g_ShellLock;
Shell* g_Shell = nullptr;
std::thread::id g_ShellThread;

void Publish(Shell* shell) {
  std::lock_guard<std::mutex> lock(g_ShellLock);
  g_Shell = shell;
  g_ShellThread = shell ? std::this_thread::get_id() : std::thread::id();
}

void RunWithShell(SettingsHost& host, Shell& shell, platform::Event* const* events) {
  ConfigDlg dlg(host, shell.View());
  Publish(&shell);
  bool quit = false;
  // Serves every signalled event, lowest index first, until none is left.
  auto wake = [&] {
    while (!quit) {
      const uint32_t why = platform::WaitAny(events, kUiEventCount, 0);
      if (why == platform::kWaitTimeout) return;
      if (why == kEvQuit || why == platform::kWaitFailed) {
        quit = true;
        shell.Stop();
        return;
      }
      try {
        if (why == kEvShowConfig) dlg.Show();
        else if (why == kEvUpdateIcon) dlg.UpdateNotifyIcon();
        else if (why == kEvDecoderCheck) dlg.DecoderInactiveCheck();
      } catch (...) {
      }
    }
  };
  shell.Run(events, kUiEventCount, wake);
  Publish(nullptr);
  dlg.HideNotifyIcon();
}

// Without a display: the events are served, the window cannot be shown.
void RunHeadless(SettingsHost& host, platform::Event* const* events) {
  for (;;) {
    const uint32_t why = platform::WaitAny(events, kUiEventCount, platform::kInfinite);
    if (why == kEvQuit || why == platform::kWaitFailed) break;
    try {
      if (why == kEvShowConfig) {
        platform::MessageBox(nullptr,
                             u"The settings window needs a display; settings are read from the registry when "
                             u"the player starts.",
                             kQuestionCaption);
      } else if (why == kEvDecoderCheck) {
        // No icon, so no balloon; the stream's claim is used up all the same.
        if (CfgGet(host.Live().ShowDecoderInactive)) host.ClaimBalloon();
      }
    } catch (...) {
    }
  }
}

}  // namespace

void RunUserInterface(SettingsHost& host, platform::Event* const* events) {
  std::unique_ptr<Shell> shell;
  try {
    shell = OpenShell();
  } catch (...) {
  }
  if (!shell) {
    RunHeadless(host, events);
    return;
  }
  try {
    RunWithShell(host, *shell, events);
  } catch (...) {
  }
  Publish(nullptr);
  shell.reset();
}

void ShowAbout() {
  try {
    auto request = std::make_shared<AboutRequest>();
    bool queued = false, own = false;
    {
      std::lock_guard<std::mutex> lock(g_ShellLock);
      if (g_Shell && request->closed) {
        g_Shell->RequestAbout(request);
        queued = true;
        own = g_ShellThread == std::this_thread::get_id();
      }
    }
    if (queued) {
      // The box lives on the toolkit's thread; the shell signals as it closes
      // or as the shell ends, so this wait ends at the latest with Quit. On the
      // toolkit's own thread it must not wait at all.
      if (!own) platform::WaitEvent(request->closed, platform::kInfinite);
      return;
    }
    if (ShowAboutHere()) return;
    std::u16string line = kDescription;
    line += u" - ";
    line += kCopyright;
    line += u" - ";
    line += kWebAddress;
    line += u" - ";
    line += BuiltOn();
    platform::MessageBox(nullptr, line.c_str(), kAboutTitle);
  } catch (...) {
  }
}

}  // namespace sn::ui
