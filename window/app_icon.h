// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon, painted: the same drawing as rundelt.svg (which the desktop's icon theme
// takes), so the window shows it without Qt's SVG plugin. Qt gives it to the window system as
// the window's icon (_NET_WM_ICON).
#pragma once

#include <QIcon>

namespace window {

QIcon AppIcon();

}  // namespace window
