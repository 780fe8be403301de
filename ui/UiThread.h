// The body of the plug-in's user-interface thread and the About entry, apart
// from any toolkit.
//
// The thread waits on a run of five host events, in this order: quit, the
// quit acknowledgement (signalled by the host's side only as the thread ends,
// never waited for here), show-configuration, update-icon and
// decoder-inactive-check. When several are signalled the lowest index is served
// first, so an Open's icon update always comes before its balloon check.
#pragma once

#include "platform/Platform.h"
#include "ui/SettingsHost.h"

namespace sn::ui {

inline constexpr uint32_t kUiEventCount = 5;
enum UiEvent : uint32_t { kEvQuit = 0, kEvQuitAck, kEvShowConfig, kEvUpdateIcon, kEvDecoderCheck };

// Runs until `events[kEvQuit]` is signalled. With a display the settings window
// and the icon live here and the toolkit's loop runs; without one the events
// are served as before any window existed: show-configuration prints one line.
// Never throws.
void RunUserInterface(SettingsHost& host, platform::Event* const* events);

// The About entry, from any thread: the About box, shown on the thread that
// runs the toolkit; returns when it has closed. Without a display, one line on
// standard error. Never throws.
void ShowAbout();

}  // namespace sn::ui
