#pragma once
// The server's tray and window icon, drawn at run time so that no image file has to ship.

#include <QIcon>

namespace tarvo {

QIcon MakeServerIcon();

}  // namespace tarvo
