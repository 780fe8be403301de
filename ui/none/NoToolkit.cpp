// Builds without a user-interface toolkit: no window is ever shown.
#include "ui/Shell.h"

namespace sn::ui {

Toolkit* AcquireToolkit() { return nullptr; }
bool ShowAboutHere() { return false; }

}  // namespace sn::ui
