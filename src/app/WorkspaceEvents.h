// SPDX-License-Identifier: MIT
#pragma once

#include "core/ProcessFacts.h"

#include <QObject>

#include <cstdint>
#include <optional>
#include <string>

namespace exitwise::app {

// The facts the desktop gives about one running application.
struct RunningApplication
{
    std::optional<std::string> localizedName;    // a blank name counts as absent
    std::optional<std::string> bundleIdentifier; // the desktop-file ID without ".desktop"
    std::int32_t pid = 0;
    std::optional<std::string> bundlePath; // where the application is installed (its desktop file)
    // How the kernel names the process and, in a termination notice, how it ended.
    core::ProcessFacts process;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// The desktop's application lifecycle: launches and terminations of other applications, and
// the system's power-off and session notices. Signals are emitted on the main thread. A backend
// that cannot reach a source (no session bus, no logind) simply never emits its events.
class WorkspaceEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~WorkspaceEvents() override = default;

signals:
    void applicationLaunched(const exitwise::app::RunningApplication& application);
    void applicationTerminated(const exitwise::app::RunningApplication& application);
    void willPowerOff();
    void sessionDidResignActive();
};

} // namespace exitwise::app

Q_DECLARE_METATYPE(exitwise::app::RunningApplication)
