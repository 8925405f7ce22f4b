#pragma once
#include <QIcon>

namespace tolvane {
// Tolvane's own icon, drawn at 16, 32, 48 and 64 pixels: the window's icon
// and the notification-area icon.
QIcon applicationIcon();
}  // namespace tolvane
