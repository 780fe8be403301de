// The window icon, the notification icon and the logo, drawn once on the
// toolkit's thread (the program carries no image files).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace sn::ui::qt {

QIcon AppIcon();
// The logo shown on the About tab and in the about box, 160 x 64 pixels.
QPixmap Logo();

}  // namespace sn::ui::qt
