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
