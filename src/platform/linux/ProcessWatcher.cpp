// SPDX-License-Identifier: MIT
#include "platform/linux/ProcessWatcher.h"

#include "core/evidence/UnresponsiveMarker.h"
#include "platform/linux/ApplicationMatch.h"
#include "platform/linux/CrashRecordSources.h"
#include "platform/linux/LaunchTarget.h"
#include "platform/linux/LauncherStreamFollower.h"
#include "platform/linux/PidfdExit.h"
#include "platform/linux/ProcfsReader.h"
#include "platform/linux/SdJournal.h"
#include "sys/FileIo.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <unordered_map>

namespace exitwise::platform {

namespace {

Q_LOGGING_CATEGORY(lcWatcher, "exitwise.platform.watcher", QtInfoMsg)

// A process that has not been identified is re-read on its first few scans, since a launcher's
// child is often seen between fork and exec, and then once every kRotation scans.
constexpr int kYoungChecks = 2;
constexpr std::uint64_t kRotation = 40;
constexpr int kMaxAncestry = 64;
// A top process that ends younger than this while a child of the same application lives on was
// a launcher that put the application in the background (gvim, some script launchers).
constexpr std::uint64_t kLauncherSeconds = 3;
// A parent reaps its child a moment after the pidfd reports the exit; until then the kernel
// keeps the exit status to itself. Asked again at this pace, for at most this long.
constexpr std::chrono::milliseconds kExitRetry{5};
constexpr std::chrono::milliseconds kExitPatience{250};
// A launcher-stream line names a process already reported when it was written before that
// process's end was (journald stamps a line when it receives it: allow for the delay).
constexpr double kStreamLineSlack = 2.0;
constexpr double kForgetEndedAfter = 60.0;
// An instance that started up to this long after a launcher-stream line may have been started by
// the line's process.
constexpr double kHandOverSeconds = 1.0;
// KWin writes its marker just before it ends the process; clocks of whole seconds and ticks.
constexpr double kMarkerSlack = 1.0;

using Clock = std::chrono::steady_clock;

enum class Kind
{
    foreign,     // another user's
    unmatched,   // ours, no application
    candidate,   // matched during this scan, not yet settled
    member,      // below the top process of the same application
    application, // the top process, tracked
    ended        // tracked and reported ended, or a zombie; waits for its pid to go
};

struct ProcessRecord
{
    Kind kind = Kind::unmatched;
    std::uint64_t inode = 0;
    std::uint64_t startTime = 0;
    int ppid = 0;
    std::string comm;
    std::string appId;
    int checksLeft = 0;
    std::uint64_t seen = 0;
};

struct TrackedApp
{
    std::uint64_t startTime = 0;
    std::optional<double> startedAt; // seconds since 1970
    bool announced = false;          // its launch was reported
    app::RunningApplication application;
    int pidfd = -1;
    QSocketNotifier* notifier = nullptr;
};

struct Notice
{
    bool launched = false;
    app::RunningApplication application;
    // A termination whose exit status is still being learnt: the process and its pidfd.
    std::uint64_t startTime = 0;
    int pidfd = -1;
    Clock::time_point giveUpAt{};

    [[nodiscard]] bool ready() const { return launched || application.process.exit.has_value(); }
};

// glibc 2.36 declares pidfd_open without C linkage, so C++ cannot link it.
int openPidfd(int pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool isBlank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

double secondsSince1970()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string environmentValue(const char* name)
{
    return sys::environment(name).value_or(std::string());
}

// "org.gnome.Evince.desktop" as GNOME Shell names the stream, or the ID without the suffix.
std::string_view withoutDesktopSuffix(std::string_view identifier)
{
    constexpr std::string_view kSuffix = ".desktop";
    if (identifier.size() > kSuffix.size() && identifier.ends_with(kSuffix)) {
        identifier.remove_suffix(kSuffix.size());
    }
    return identifier;
}

} // namespace

ProcessWatcherOptions ProcessWatcherOptions::fromEnvironment()
{
    ProcessWatcherOptions options;
    options.desktop = DesktopEntryEnvironment::fromEnvironment();
    options.pidfdExitInfo = environmentValue("EXITWISE_NO_PIDFD_EXIT") != "1";
    if (const auto cache = userCacheDirectory()) {
        options.unresponsiveMarkers = *cache / core::UnresponsiveMarker::kCacheSubdirectory;
    }
    options.followLauncherStreams = true;
    // The journal the rest of the evidence is read from.
    options.launcherJournal = sdjournal::directoryFromEnvironment();
    return options;
}

struct ProcessWatcher::State
{
    State(ProcessWatcher* owner, ProcessWatcherOptions opts)
        : q(owner)
        , options(std::move(opts))
        , reader(options.procRoot)
        , index(options.desktop)
        , uid(options.uid.value_or(getuid()))
        , ownPid(options.ownPid.value_or(getpid()))
    {}

    void start();
    void stop();
    void scan(bool initial);
    void scanListing(bool initial, std::vector<int>& candidates);
    void recheckKnown(std::vector<int>& candidates);
    [[nodiscard]] bool needsCheck(int pid, const ProcessRecord& record, std::uint64_t inode) const;
    bool recheck(int pid, ProcessRecord& record, std::uint64_t inode, std::vector<int>& candidates);
    [[nodiscard]] std::optional<ProcessRecord> examine(int pid, std::uint64_t inode, bool initial) const;
    [[nodiscard]] std::optional<std::string> match(int pid) const;
    [[nodiscard]] bool hasAncestorOfSameApp(const ProcessRecord& record) const;
    void settle(int pid, bool initial);
    void track(int pid, ProcessRecord& record, bool announce);
    [[nodiscard]] app::RunningApplication describe(const DesktopEntry& entry, int pid) const;
    void onExit(int pid, std::uint64_t startTime);
    void finish(int pid);
    void terminate(TrackedApp& app, int pid);
    [[nodiscard]] std::optional<core::ProcessExit>
    learnExit(int pid, std::uint64_t startTime, int pidfd, bool& retry);
    void retryExits();
    void resolveExit(Notice& notice);
    [[nodiscard]] bool endedUnresponsive(const TrackedApp& app) const;
    [[nodiscard]] std::optional<int> heirOf(int pid, const TrackedApp& app) const;
    void release(TrackedApp& tracked);
    void flush();
    void onApplicationOutput(std::string_view identifier, int pid, double time);
    void rememberEnded(int pid);
    [[nodiscard]] bool endedAlready(int pid, double lineTime) const;

    ProcessWatcher* q;
    ProcessWatcherOptions options;
    ProcfsReader reader;
    DesktopEntryIndex index;
    const unsigned uid;
    const int ownPid;
    QTimer timer;
    QTimer exitRetry;
    bool running = false;
    bool usePidfd = false;
    bool pidfdExitInfo = false;
    std::uint64_t generation = 0;
    std::optional<int> listedUpTo; // the newest pid when /proc was last listed
    std::unordered_map<int, ProcessRecord> records;
    std::unordered_map<int, TrackedApp> tracked;
    std::deque<Notice> pending;
    // When each recently reported termination was noticed, by pid (seconds since 1970).
    std::unordered_map<int, double> ended;
    LauncherStreamFollower* follower = nullptr; // a child of the watcher
};

void ProcessWatcher::State::start()
{
    if (running) {
        return;
    }
    running = true;
    usePidfd = options.usePidfd && options.procRoot == "/proc";
    pidfdExitInfo = usePidfd && options.pidfdExitInfo;
    (void)index.reloadIfChanged();
    scan(true);
    timer.start(options.scanInterval);
    if (options.followLauncherStreams) {
        LauncherStreamFollower::Options streams;
        streams.journalDirectory = options.launcherJournal;
        streams.uid = uid;
        streams.isApplication = [this](std::string_view id) {
            return index.byId(withoutDesktopSuffix(id)) != nullptr;
        };
        follower = new LauncherStreamFollower(std::move(streams), q);
        QObject::connect(follower, &LauncherStreamFollower::applicationOutput, q,
                         [this](const QString& id, int pid, double time) {
                             onApplicationOutput(id.toStdString(), pid, time);
                         });
        if (!follower->start()) {
            qCDebug(lcWatcher) << "no journal to follow; launches that end at once go unnoticed";
        }
    }
}

void ProcessWatcher::State::stop()
{
    if (!running) {
        return;
    }
    running = false;
    timer.stop();
    exitRetry.stop();
    if (follower != nullptr) {
        // Possibly inside its own signal: stopped now, deleted later.
        follower->stop();
        follower->deleteLater();
        follower = nullptr;
    }
    listedUpTo.reset();
    for (auto& [pid, app] : tracked) {
        release(app);
    }
    tracked.clear();
    records.clear();
    for (Notice& notice : pending) {
        if (notice.pidfd >= 0) {
            close(notice.pidfd);
        }
    }
    pending.clear();
    ended.clear();
}

void ProcessWatcher::State::scan(bool initial)
{
    ++generation;
    const bool reindexed = !initial && index.reloadIfChanged();
    std::vector<int> candidates;
    const std::optional<int> newestPid = reader.lastPid();
    if (initial || !newestPid || newestPid != listedUpTo) {
        listedUpTo = newestPid;
        scanListing(initial, candidates);
    } else {
        recheckKnown(candidates);
    }
    if (reindexed) {
        // Entries may have appeared for programs that are already running.
        for (auto& [pid, record] : records) {
            if (record.kind != Kind::unmatched) {
                continue;
            }
            if (std::optional<std::string> id = match(pid)) {
                record.kind = Kind::candidate;
                record.appId = std::move(*id);
                candidates.push_back(pid);
            }
        }
    }
    for (const int pid : candidates) {
        settle(pid, initial);
    }
    flush();
}

void ProcessWatcher::State::scanListing(bool initial, std::vector<int>& candidates)
{
    for (const ProcfsReader::Listed& listed : reader.list()) {
        if (listed.pid == ownPid) {
            continue;
        }
        auto it = records.find(listed.pid);
        if (it == records.end()) {
            if (std::optional<ProcessRecord> record = examine(listed.pid, listed.inode, initial)) {
                record->seen = generation;
                if (record->kind == Kind::candidate) {
                    candidates.push_back(listed.pid);
                }
                records.emplace(listed.pid, std::move(*record));
            }
            continue;
        }
        ProcessRecord& record = it->second;
        if (needsCheck(listed.pid, record, listed.inode)
            && !recheck(listed.pid, record, listed.inode, candidates)) {
            continue; // gone since the listing
        }
        record.seen = generation;
    }
    for (auto it = records.begin(); it != records.end();) {
        if (it->second.seen == generation) {
            ++it;
            continue;
        }
        finish(it->first);
        it = records.erase(it);
    }
}

// No pid was handed out since the last listing, so no process can be new: only the known ones
// that are due get a look.
void ProcessWatcher::State::recheckKnown(std::vector<int>& candidates)
{
    std::vector<int> due;
    for (const auto& [pid, record] : records) {
        if (needsCheck(pid, record, record.inode)) {
            due.push_back(pid);
        }
    }
    for (const int pid : due) {
        if (!recheck(pid, records.at(pid), records.at(pid).inode, candidates)) {
            finish(pid);
            records.erase(pid);
        }
    }
}

bool ProcessWatcher::State::needsCheck(int pid, const ProcessRecord& record, std::uint64_t inode) const
{
    if (inode != record.inode) {
        return true;
    }
    switch (record.kind) {
    case Kind::unmatched:
        return record.checksLeft > 0 || (static_cast<std::uint64_t>(pid) + generation) % kRotation == 0;
    case Kind::application: {
        const auto it = tracked.find(pid);
        return it != tracked.end() && it->second.pidfd < 0;
    }
    default:
        return false;
    }
}

bool ProcessWatcher::State::recheck(int pid,
                                    ProcessRecord& record,
                                    std::uint64_t inode,
                                    std::vector<int>& candidates)
{
    auto replace = [&]() {
        std::optional<ProcessRecord> fresh = examine(pid, inode, false);
        if (!fresh) {
            return false;
        }
        record = std::move(*fresh);
        if (record.kind == Kind::candidate) {
            candidates.push_back(pid);
        }
        return true;
    };
    if (record.kind == Kind::foreign) {
        return replace();
    }
    const std::optional<ProcStat> stat = reader.stat(pid);
    if (!stat) {
        return false;
    }
    if (stat->startTime != record.startTime) {
        finish(pid); // the pid names another process now
        return replace();
    }
    record.inode = inode;
    if (record.kind == Kind::application) {
        if (stat->state == 'Z' || stat->state == 'X') {
            finish(pid);
        }
        return true;
    }
    if (record.kind == Kind::unmatched) {
        record.checksLeft = std::max(0, record.checksLeft - 1);
        if (stat->comm != record.comm) { // it ran exec
            record.comm = stat->comm;
            record.ppid = stat->ppid;
            if (std::optional<std::string> id = match(pid)) {
                record.kind = Kind::candidate;
                record.appId = std::move(*id);
                candidates.push_back(pid);
            }
        }
    }
    return true;
}

std::optional<ProcessRecord> ProcessWatcher::State::examine(int pid, std::uint64_t inode, bool initial) const
{
    const std::optional<unsigned> owner = reader.ownerUid(pid);
    if (!owner) {
        return std::nullopt;
    }
    ProcessRecord record;
    record.inode = inode;
    bool ours = *owner == uid;
    if (!ours && *owner == 0 && uid != 0) {
        // Non-dumpable processes (password managers, for one) show root as the owner.
        const std::optional<unsigned> realUid = reader.realUid(pid);
        ours = realUid && *realUid == uid;
    }
    if (!ours) {
        record.kind = Kind::foreign;
        return record;
    }
    const std::optional<ProcStat> stat = reader.stat(pid);
    if (!stat) {
        return std::nullopt;
    }
    record.startTime = stat->startTime;
    record.ppid = stat->ppid;
    record.comm = stat->comm;
    if (stat->state == 'Z' || stat->state == 'X') {
        record.kind = Kind::ended;
        return record;
    }
    record.checksLeft = initial ? 0 : kYoungChecks;
    if (std::optional<std::string> id = match(pid)) {
        record.kind = Kind::candidate;
        record.appId = std::move(*id);
    } else {
        record.kind = Kind::unmatched;
    }
    return record;
}

std::optional<std::string> ProcessWatcher::State::match(int pid) const
{
    return matchApplication(index, ProcessView{reader.executable(pid),
                                               [this, pid] { return reader.commandLine(pid); },
                                               [this, pid] { return reader.cgroup(pid); }});
}

bool ProcessWatcher::State::hasAncestorOfSameApp(const ProcessRecord& record) const
{
    int parent = record.ppid;
    for (int depth = 0; depth < kMaxAncestry && parent > 1; ++depth) {
        const auto it = records.find(parent);
        if (it == records.end() || it->second.kind == Kind::foreign) {
            return false;
        }
        if (it->second.kind != Kind::unmatched && it->second.appId == record.appId) {
            return true;
        }
        parent = it->second.ppid;
    }
    return false;
}

void ProcessWatcher::State::settle(int pid, bool initial)
{
    const auto it = records.find(pid);
    if (it == records.end() || it->second.kind != Kind::candidate) {
        return;
    }
    if (hasAncestorOfSameApp(it->second)) {
        it->second.kind = Kind::member;
        return;
    }
    track(pid, it->second, !initial);
}

void ProcessWatcher::State::track(int pid, ProcessRecord& record, bool announce)
{
    const DesktopEntry* entry = index.byId(record.appId);
    if (entry == nullptr) {
        record.kind = Kind::unmatched;
        return;
    }
    TrackedApp app;
    app.startTime = record.startTime;
    app.announced = announce;
    app.application = describe(*entry, pid);
    core::ProcessFacts& facts = app.application.process;
    facts.executable = reader.executable(pid).value_or(std::string());
    facts.command = record.comm;
    facts.cgroup = unifiedCgroupPath(reader.cgroup(pid));
    if (const std::optional<std::uint64_t> now = reader.uptimeTicks(); now && *now >= record.startTime) {
        const auto ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
        app.startedAt = secondsSince1970() - static_cast<double>(*now - record.startTime) / ticksPerSecond;
    }
    record.kind = Kind::application;

    if (usePidfd) {
        const int fd = openPidfd(pid);
        const int error = errno;
        bool sameProcess = fd >= 0;
        if (fd >= 0) {
            // The pidfd names whatever holds the pid now; make sure that is still our process.
            const std::optional<ProcStat> stat = reader.stat(pid);
            sameProcess = stat && stat->startTime == record.startTime;
            if (!sameProcess) {
                close(fd);
                record.inode = 0; // re-examine the new holder at the next scan
            }
        }
        if (!sameProcess && (fd >= 0 || error == ESRCH)) {
            // It ran and ended between two looks; reaped, so how is not known.
            if (announce) {
                pending.push_back({true, app.application});
            }
            app.application.process.exit = core::ProcessExit::unknown();
            pending.push_back({false, std::move(app.application)});
            rememberEnded(pid);
            record.kind = Kind::ended;
            return;
        }
        if (fd < 0) {
            // This one is watched by scanning; without kernel support all of them are.
            if (error == ENOSYS) {
                qCDebug(lcWatcher) << "pidfd_open is not supported; exits are noticed by scanning";
                usePidfd = false;
                pidfdExitInfo = false;
            }
        } else {
            app.pidfd = fd;
            app.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, q);
            const std::uint64_t startTime = record.startTime;
            QObject::connect(app.notifier, &QSocketNotifier::activated, q,
                             [this, pid, startTime] { onExit(pid, startTime); });
        }
    }
    if (announce) {
        pending.push_back({true, app.application});
    }
    tracked.insert_or_assign(pid, std::move(app));
}

app::RunningApplication ProcessWatcher::State::describe(const DesktopEntry& entry, int pid) const
{
    app::RunningApplication application;
    application.localizedName = isBlank(entry.name) ? std::nullopt : std::optional(entry.name);
    application.bundleIdentifier = entry.id;
    application.pid = pid;
    application.bundlePath = entry.path.string();
    return application;
}

void ProcessWatcher::State::onExit(int pid, std::uint64_t startTime)
{
    const auto it = tracked.find(pid);
    if (it == tracked.end() || it->second.startTime != startTime) {
        return;
    }
    finish(pid);
    flush();
}

void ProcessWatcher::State::finish(int pid)
{
    const auto it = tracked.find(pid);
    if (it == tracked.end()) {
        return;
    }
    const std::optional<int> heir = heirOf(pid, it->second);
    const bool announced = it->second.announced;
    if (!heir) {
        terminate(it->second, pid);
    }
    release(it->second);
    tracked.erase(it);
    if (const auto record = records.find(pid);
        record != records.end() && record->second.kind == Kind::application) {
        record->second.kind = Kind::ended;
    }
    if (heir) {
        // The instance goes on in the child; it is announced under its own pid.
        track(*heir, records.at(*heir), announced);
    }
}

// Queues the termination notice; when the exit status cannot be learnt yet, the notice keeps the
// pidfd to ask again.
void ProcessWatcher::State::terminate(TrackedApp& app, int pid)
{
    app.application.process.endedUnresponsive = endedUnresponsive(app);
    Notice notice{false, std::move(app.application), app.startTime, -1, {}};
    bool retry = false;
    if (std::optional<core::ProcessExit> exit = learnExit(pid, app.startTime, app.pidfd, retry)) {
        notice.application.process.exit = std::move(*exit);
    } else if (retry) {
        notice.pidfd = app.pidfd;
        app.pidfd = -1;
        notice.giveUpAt = Clock::now() + kExitPatience;
        if (!exitRetry.isActive()) {
            exitRetry.start(kExitRetry);
        }
    } else {
        notice.application.process.exit = core::ProcessExit::unknown();
    }
    rememberEnded(pid);
    pending.push_back(std::move(notice));
}

std::optional<core::ProcessExit>
ProcessWatcher::State::learnExit(int pid, std::uint64_t startTime, int pidfd, bool& retry)
{
    retry = false;
    auto ask = [&]() -> std::optional<core::ProcessExit> {
        if (pidfd < 0 || !pidfdExitInfo) {
            return std::nullopt;
        }
        const PidfdExit answer = readPidfdExit(pidfd);
        retry = answer.state == PidfdExit::State::notReaped;
        if (answer.state == PidfdExit::State::unsupported) {
            qCDebug(lcWatcher) << "pidfds carry no exit status here; only zombies tell how a process ended";
            pidfdExitInfo = false;
        }
        if (answer.state != PidfdExit::State::ended) {
            return std::nullopt;
        }
        qCDebug(lcWatcher) << "exit status of" << pid << "from its pidfd";
        return exitFromWaitStatus(answer.waitStatus);
    };
    if (std::optional<core::ProcessExit> exit = ask()) {
        return exit;
    }
    // Until its parent reaps it, a zombie's stat holds the wait status.
    if (const std::optional<ProcStat> stat = reader.stat(pid);
        stat && stat->startTime == startTime && stat->state == 'Z' && stat->exitCode) {
        qCDebug(lcWatcher) << "exit status of" << pid << "from its zombie";
        retry = false;
        return exitFromWaitStatus(*stat->exitCode);
    }
    // It may have been reaped between the two looks.
    return retry ? ask() : std::nullopt;
}

void ProcessWatcher::State::retryExits()
{
    bool waiting = false;
    for (Notice& notice : pending) {
        if (!notice.ready()) {
            resolveExit(notice);
            waiting = waiting || !notice.ready();
        }
    }
    if (waiting) {
        exitRetry.start(kExitRetry);
    }
    flush();
}

void ProcessWatcher::State::resolveExit(Notice& notice)
{
    bool retry = false;
    std::optional<core::ProcessExit> exit =
        learnExit(notice.application.pid, notice.startTime, notice.pidfd, retry);
    if (!exit && retry && Clock::now() < notice.giveUpAt) {
        return;
    }
    if (!exit) {
        qCDebug(lcWatcher) << "exit status of" << notice.application.pid << "not learnt";
    }
    notice.application.process.exit = exit.value_or(core::ProcessExit::unknown());
    close(notice.pidfd);
    notice.pidfd = -1;
}

// KWin's "Terminate" of a window that stopped responding leaves a marker naming the program and
// pid just before it sends SIGABRT; one written during this process's life names it.
bool ProcessWatcher::State::endedUnresponsive(const TrackedApp& app) const
{
    if (options.unresponsiveMarkers.empty()) {
        return false;
    }
    DIR* dir = opendir(options.unresponsiveMarkers.c_str());
    if (dir == nullptr) {
        return false;
    }
    const core::ProcessFacts& facts = app.application.process;
    std::string program(baseName(facts.executable.empty() ? facts.command : facts.executable));
    program = program.substr(0, program.find('.'));
    const std::optional<std::string> bootId = reader.bootId();
    const double now = secondsSince1970();
    bool found = false;
    while (const dirent* item = readdir(dir)) {
        const std::optional<core::UnresponsiveMarker> marker =
            core::UnresponsiveMarker::parseFileName(item->d_name);
        if (!marker || marker->pid != app.application.pid || marker->executable != program
            || (bootId && strcasecmp(marker->bootId.c_str(), bootId->c_str()) != 0)) {
            continue;
        }
        const double written = core::secondsSince1970(marker->writtenAt);
        if (written <= now + kMarkerSlack && (!app.startedAt || written >= *app.startedAt - kMarkerSlack)) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

std::optional<int> ProcessWatcher::State::heirOf(int pid, const TrackedApp& app) const
{
    const std::optional<std::uint64_t> now = reader.uptimeTicks();
    const auto ticksPerSecond = static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));
    if (!now || *now < app.startTime || *now - app.startTime > kLauncherSeconds * ticksPerSecond) {
        return std::nullopt;
    }
    std::optional<int> heir;
    std::uint64_t heirStart = 0;
    for (const auto& [childPid, child] : records) {
        if (child.kind != Kind::member || child.ppid != pid || !app.application.bundleIdentifier
            || child.appId != *app.application.bundleIdentifier || (heir && child.startTime >= heirStart)) {
            continue;
        }
        const std::optional<ProcStat> stat = reader.stat(childPid);
        if (stat && stat->startTime == child.startTime && stat->state != 'Z' && stat->state != 'X') {
            heir = childPid;
            heirStart = child.startTime;
        }
    }
    return heir;
}

void ProcessWatcher::State::release(TrackedApp& app)
{
    if (app.notifier != nullptr) {
        // Possibly inside its own activated(): disable now, delete later.
        app.notifier->setEnabled(false);
        app.notifier->deleteLater();
        app.notifier = nullptr;
    }
    if (app.pidfd >= 0) {
        close(app.pidfd);
        app.pidfd = -1;
    }
}

void ProcessWatcher::State::flush()
{
    // A receiver may stop or even delete the watcher; notices after that are dropped.
    const QPointer<ProcessWatcher> guard(q);
    while (running && !pending.empty() && pending.front().ready()) {
        Notice notice = std::move(pending.front());
        pending.pop_front();
        if (notice.launched) {
            emit q->applicationLaunched(notice.application);
        } else {
            emit q->applicationTerminated(notice.application);
        }
        if (!guard) {
            return;
        }
    }
}

// The launcher's stream names the application and the pid of a process that may have ended
// before any scan saw it. When an instance of the same application runs that started before the
// line or just after it, the line came from a process that handed its request over to it (a
// single-instance application launched again), from a launcher that put the application in the
// background, or from one of the instance's children, which write to the same stream: the
// application did not end, so nothing is reported.
void ProcessWatcher::State::onApplicationOutput(std::string_view identifier, int pid, double time)
{
    if (!running || pid <= 0 || pid == ownPid || tracked.contains(pid) || endedAlready(pid, time)) {
        return;
    }
    const DesktopEntry* entry = index.byId(withoutDesktopSuffix(identifier));
    if (entry == nullptr) {
        return;
    }
    const std::string id = entry->id;
    const QPointer<ProcessWatcher> guard(q);
    scan(false); // a receiver of its notices may stop or delete the watcher, or reload the index
    if (!guard || !running || tracked.contains(pid) || endedAlready(pid, time)) {
        return;
    }
    const std::optional<ProcStat> stat = reader.stat(pid);
    const bool zombie = stat && stat->state == 'Z';
    if (stat && !zombie) {
        return; // it lives: the scans know it
    }
    const bool instanceRuns = std::any_of(tracked.begin(), tracked.end(), [&](const auto& item) {
        return item.second.application.bundleIdentifier == id
               && (!item.second.startedAt || *item.second.startedAt <= time + kHandOverSeconds);
    });
    entry = index.byId(id);
    if (instanceRuns || entry == nullptr) {
        return;
    }
    app::RunningApplication application = describe(*entry, pid);
    if (zombie) {
        application.process.command = stat->comm;
    }
    pending.push_back({true, application});
    application.process.exit =
        zombie && stat->exitCode ? exitFromWaitStatus(*stat->exitCode) : core::ProcessExit::unknown();
    pending.push_back({false, std::move(application)});
    rememberEnded(pid);
    flush();
}

void ProcessWatcher::State::rememberEnded(int pid)
{
    const double now = secondsSince1970();
    std::erase_if(ended, [now](const auto& item) { return now - item.second > kForgetEndedAfter; });
    ended[pid] = now;
}

bool ProcessWatcher::State::endedAlready(int pid, double lineTime) const
{
    const auto it = ended.find(pid);
    return it != ended.end() && lineTime <= it->second + kStreamLineSlack;
}

ProcessWatcher::ProcessWatcher(ProcessWatcherOptions options, QObject* parent)
    : app::WorkspaceEvents(parent)
    , m_state(std::make_unique<State>(this, std::move(options)))
{
    m_state->timer.setTimerType(Qt::CoarseTimer);
    connect(&m_state->timer, &QTimer::timeout, this, [this] { m_state->scan(false); });
    m_state->exitRetry.setSingleShot(true);
    connect(&m_state->exitRetry, &QTimer::timeout, this, [this] { m_state->retryExits(); });
}

ProcessWatcher::~ProcessWatcher()
{
    m_state->stop();
}

void ProcessWatcher::start()
{
    m_state->start();
}

void ProcessWatcher::stop()
{
    m_state->stop();
}

bool ProcessWatcher::isRunning() const
{
    return m_state->running;
}

void ProcessWatcher::scanNow()
{
    if (m_state->running) {
        m_state->scan(false);
    }
}

void ProcessWatcher::noticeApplicationOutput(std::string_view identifier, int pid, double time)
{
    m_state->onApplicationOutput(identifier, pid, time);
}

bool ProcessWatcher::isFollowingLauncherStreams() const
{
    return m_state->follower != nullptr && m_state->follower->isFollowing();
}

std::vector<app::RunningApplication> ProcessWatcher::runningApplications() const
{
    std::vector<app::RunningApplication> result;
    for (const auto& [pid, app] : m_state->tracked) {
        result.push_back(app.application);
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return result;
}

const DesktopEntryIndex& ProcessWatcher::desktopEntries() const
{
    return m_state->index;
}

} // namespace exitwise::platform
