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

} // namespace exitwise::ui
