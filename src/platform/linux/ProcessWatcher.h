// SPDX-License-Identifier: MIT
#pragma once

#include "app/WorkspaceEvents.h"
#include "platform/linux/DesktopEntryIndex.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace exitwise::platform {

struct ProcessWatcherOptions
{
    std::filesystem::path procRoot = "/proc";
    DesktopEntryEnvironment desktop;
    std::chrono::milliseconds scanInterval{500};
    // Exits are seen through a pidfd per application the moment they happen; without one (or
    // with a procRoot other than /proc) the next scan notices the process has gone.
    bool usePidfd = true;
    // How an application ended is asked of its pidfd (Linux 6.15 and later) once its parent has
    // reaped it; without that only a zombie's /proc/PID/stat tells. EXITWISE_NO_PIDFD_EXIT=1
    // turns it off, so that a machine behaves as one with an older kernel.
    bool pidfdExitInfo = true;
    // Where KWin marks the applications it ended for not responding
    // ($XDG_CACHE_HOME/drkonqi/application-not-responding); empty: not looked at.
    std::filesystem::path unresponsiveMarkers;
    // Follows the launchers' journal streams, so that an application that ends before a scan
    // could see it (a loader failure ends it within milliseconds) is still reported.
    bool followLauncherStreams = false;
    // A journal directory to follow instead of this machine's journals.
    std::optional<std::filesystem::path> launcherJournal;
    std::optional<unsigned> uid; // whose processes count; the current user when unset
    std::optional<int> ownPid;   // never reported; this process when unset

    // This user's desktop and cache directories, with the launcher streams followed.
    [[nodiscard]] static ProcessWatcherOptions fromEnvironment();
};

// Desktop applications of the current user, seen as processes: a process belongs to an
// installed application when its program (looked through wrappers and interpreters) is the
// one the desktop entry runs, or when the desktop started it in that application's systemd
// unit. Only the top process of an instance is an application; its descendants of the same
// application are not reported again, and a process keeps the identity it was first given
// for as long as it runs (also across exec). A top process that ends within a few seconds of
// its start while a child of the same application lives on was only a launcher: the child
// takes the instance over instead of a termination being reported. A pid counts together with
// its start time, so a reused pid is a new process.
//
// Launches are found by scanning, which reads only new processes and a small rotating share of
// the others, and does not even list /proc while no pid has been handed out since the last time.
// Applications already running at start() are tracked silently: they are never reported as
// launched, only their termination is.
//
// Every notice carries the process's facts (executable, comm, control group); a termination also
// how the process ended, unknown when neither its pidfd nor its zombie could tell. A termination
// whose exit status is still being learnt (its parent has not reaped it yet) holds back the
// notices after it for at most a quarter of a second, so that all arrive in the order noticed.
class ProcessWatcher final : public app::WorkspaceEvents
{
    Q_OBJECT

public:
    explicit ProcessWatcher(ProcessWatcherOptions options, QObject* parent = nullptr);
    ~ProcessWatcher() override;

    // Takes stock of the running applications, then scans every scanInterval. Idempotent.
    void start();
    // Stops scanning and watching and forgets every process. Idempotent.
    void stop();
    [[nodiscard]] bool isRunning() const;

    // One scan now, besides the timer's; nothing while stopped.
    void scanNow();

    // The first line a process wrote to an application's launcher stream (desktop-file ID, the
    // writer's pid, the line's time in seconds since 1970). A process that ended before any scan
    // saw it is reported as launched and terminated, unless an instance of that application runs
    // that started before the line or within a second of it. Each process is reported once.
    void noticeApplicationOutput(std::string_view identifier, int pid, double time);
    [[nodiscard]] bool isFollowingLauncherStreams() const;

    [[nodiscard]] std::vector<app::RunningApplication> runningApplications() const;
    [[nodiscard]] const DesktopEntryIndex& desktopEntries() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace exitwise::platform
