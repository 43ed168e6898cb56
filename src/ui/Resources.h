// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

namespace exitwise::ui {

// Registers the images compiled into this library. The library is static, so its resources are
// not registered on their own; call this before the first QIcon or QPixmap of ":/exitwise/".
// Repeating it is harmless.
void initResources();

// The product icon: the bolt in a circle, drawn from SVG at every size.
[[nodiscard]] QIcon appIcon();

// The tray's icon, running or paused: the monochrome "exitwise-symbolic" or
// "exitwise-paused-symbolic" from the icon theme, which a panel draws in its own text colour, and
// the full-colour icon (greyed with a pause badge when paused) where the theme has none.
[[nodiscard]] QIcon trayIcon(bool paused);

} // namespace exitwise::ui
