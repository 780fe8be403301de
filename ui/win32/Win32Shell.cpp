// The Win32 toolkit of the user interface. Windows need no thread of their own
// here: each life of the plug-in's user-interface thread is one session of the
// settings window and the icon, made on that thread, whose loop watches the
// host's events and the thread's message queue together. The About box is
// shown modally on whatever thread asks for it.
#include <objbase.h>
#include <windows.h>

#include "ui/Shell.h"
#include "ui/UiThread.h"
#include "ui/win32/AboutBox.h"
#include "ui/win32/Win32ConfigView.h"

namespace sn::ui {

namespace {

// Dispatches the thread's pending messages, the window's keyboard interface first.
void Pump(win32::Win32ConfigView& view) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;  // the thread ends on its quit event
    if (view.PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

class Win32Toolkit final : public Toolkit {
 public:
  bool RunSession(SettingsHost& host, platform::Event* const* events) override {
    win32::ControlsScope controls;
    // The open-file box uses the shell's objects, which want a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    bool ran = false;
    {
      win32::Win32ConfigView view(win32::ResourceModule());
      if (view.Created()) {
        ran = true;
        UiSession session(host, view, events);
        // Boxes and menus run loops of their own, in which the status timer
        // keeps serving the host's events; a quit met there ends those loops.
        bool quit = false;
        view.SetPoll([&] {
          if (!quit && session.Serve()) {
            quit = true;
            view.EndBoxes();
          }
        });
        quit = session.Serve();
        while (!quit) {
          // The wait consumes the event it reports; it is put back for the
          // session, which serves every signalled event in order.
          const uint32_t why = platform::WaitAny(events, kUiEventCount, platform::kInfinite, platform::ThreadUiInput());
          if (why < kUiEventCount) {
            platform::SignalEvent(events[why]);
            quit = session.Serve();
          } else if (why == kUiEventCount) {
            Pump(view);
          } else {
            quit = true;
          }
        }
        view.SetPoll(nullptr);
        session.Dlg().HideNotifyIcon();
      }
    }
    platform::DispatchUiInput();
    if (SUCCEEDED(com)) CoUninitialize();
    return ran;
  }

  // Shown here and now, on the calling thread, which the box's own loop serves.
  void RequestAbout(std::shared_ptr<AboutRequest> request) override {
    try {
      win32::ShowAboutBox();
    } catch (...) {
    }
    request->Finish();
  }

  bool OnToolkitThread() const override { return false; }
};

}  // namespace

Toolkit* AcquireToolkit() {
  static Win32Toolkit toolkit;
  return &toolkit;
}

bool ShowAboutHere() { return false; }

}  // namespace sn::ui
