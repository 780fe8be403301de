// The about information of the Windows build: the modal About box, and the
// white panel (logo and four lines) that the box and the settings window's
// About tab share.
//
// Threads: any thread that pumps messages; the box runs its own modal loop on
// the calling thread.
#pragma once

#include <windows.h>

namespace sn::ui::win32 {

// The module whose resources hold the templates, the icon and the logo.
HINSTANCE ResourceModule();

// The common controls 6 activation context, active on the calling thread for
// the scope's life. Does nothing where the context cannot be made.
class ControlsScope {
 public:
  ControlsScope();
  ~ControlsScope();
  ControlsScope(const ControlsScope&) = delete;
  ControlsScope& operator=(const ControlsScope&) = delete;

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

// Writes the description, copyright, web address and build line into the
// panel's labels under `parent`.
void FillAboutPanel(HWND parent);
// WM_CTLCOLORSTATIC for the panel's controls: white behind them, or null when
// `control` is not one of them.
HBRUSH AboutPanelColours(HWND control, HDC dc);

// Shows the About box modally on the calling thread, with no owner; returns as
// it closes (OK, Enter, Escape or the close button).
void ShowAboutBox();

}  // namespace sn::ui::win32
