// The pictures of the toolbar buttons and the program's icon, drawn at start-up.
#pragma once

#include <QIcon>

#include <cstdint>

namespace korvan::app {

QIcon toolbarIcon(int32_t commandId);
QIcon programIcon();

}  // namespace korvan::app
