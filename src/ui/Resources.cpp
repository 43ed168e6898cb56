// SPDX-License-Identifier: MIT
#include "ui/Resources.h"

#include <mutex>

// Q_INIT_RESOURCE declares the registration function where it is used, so it must stand in the
// global namespace (an anonymous namespace would give that declaration internal linkage).
static void registerExitwiseResources()
{
    Q_INIT_RESOURCE(exitwise);
}

namespace exitwise::ui {

void initResources()
{
    static std::once_flag once;
    std::call_once(once, registerExitwiseResources);
}

QIcon appIcon()
{
    initResources();
    return QIcon(QStringLiteral(":/exitwise/exitwise.svg"));
}

QIcon trayIcon(bool paused)
{
    initResources();
    if (paused) {
        return QIcon::fromTheme(QStringLiteral("exitwise-paused-symbolic"),
                                QIcon(QStringLiteral(":/exitwise/exitwise-paused.svg")));
    }
    return QIcon::fromTheme(QStringLiteral("exitwise-symbolic"), appIcon());
}

} // namespace exitwise::ui
