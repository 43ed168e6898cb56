// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace exitwise::platform {

// Follows the journal for the output of applications the desktop launched. GNOME Shell (and
// `systemd-cat --identifier=ID`) connect a launched application's stdout and stderr to the
// journal under SYSLOG_IDENTIFIER = its desktop-file ID, with _PID = the application's pid: a
// line there names a launch even when the process ended before anyone could look at it (a
// loader failure ends it within milliseconds). Lives on the thread that created it.
class LauncherStreamFollower final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // A journal directory to follow instead of this machine's journals (tests).
        std::optional<std::filesystem::path> journalDirectory;
        // Whose streams count (_UID).
        unsigned uid = 0;
        // Whether an identifier names an installed application (its desktop-file ID).
        std::function<bool(std::string_view identifier)> isApplication;
    };

    explicit LauncherStreamFollower(Options options, QObject* parent = nullptr);
    ~LauncherStreamFollower() override;

    // Starts at the journal's current end: only lines written from now on are reported.
    // Nothing (and no error) when no journal can be opened; returns whether it follows.
    bool start();
    void stop();
    [[nodiscard]] bool isFollowing() const;

signals:
    // The first line seen of one application stream: the identifier (desktop-file ID), the
    // writer's pid and the line's time (seconds since 1970). Each (identifier, pid) once.
    void applicationOutput(const QString& identifier, int pid, double time);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace exitwise::platform
