// SPDX-License-Identifier: MIT
#include "platform/linux/ProcessWatcher.h"

#include "platform/linux/LaunchTarget.h"
#include "platform/linux/ProcfsReader.h"
#include "platform/linux/SystemdScope.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
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
    bool announced = false; // its launch was reported
    app::RunningApplication application;
    int pidfd = -1;
    QSocketNotifier* notifier = nullptr;
};

struct Notice
{
    bool launched = false;
    app::RunningApplication application;
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

} // namespace

ProcessWatcherOptions ProcessWatcherOptions::fromEnvironment()
{
    ProcessWatcherOptions options;
    options.desktop = DesktopEntryEnvironment::fromEnvironment();
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
    void onExit(int pid, std::uint64_t startTime);
    void finish(int pid);
    [[nodiscard]] std::optional<int> heirOf(int pid, const TrackedApp& app) const;
    void release(TrackedApp& tracked);
    void flush();

    ProcessWatcher* q;
    ProcessWatcherOptions options;
    ProcfsReader reader;
    DesktopEntryIndex index;
    const unsigned uid;
    const int ownPid;
    QTimer timer;
    bool running = false;
    bool usePidfd = false;
    std::uint64_t generation = 0;
    std::optional<int> listedUpTo; // the newest pid when /proc was last listed
    std::unordered_map<int, ProcessRecord> records;
    std::unordered_map<int, TrackedApp> tracked;
    std::vector<Notice> pending;
};

void ProcessWatcher::State::start()
{
    if (running) {
        return;
    }
    running = true;
    usePidfd = options.usePidfd && options.procRoot == "/proc";
    (void)index.reloadIfChanged();
    scan(true);
    timer.start(options.scanInterval);
}

void ProcessWatcher::State::stop()
{
    if (!running) {
        return;
    }
    running = false;
    timer.stop();
    listedUpTo.reset();
    for (auto& [pid, app] : tracked) {
        release(app);
    }
    tracked.clear();
    records.clear();
    pending.clear();
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
    std::optional<std::vector<std::string>> arguments;
    auto commandLine = [&]() -> const std::vector<std::string>& {
        if (!arguments) {
            arguments = reader.commandLine(pid);
        }
        return *arguments;
    };
    std::optional<std::vector<std::string>> scopeIds;
    auto scope = [&]() -> const std::vector<std::string>& {
        if (!scopeIds) {
            scopeIds = scopeApplicationIds(reader.cgroup(pid));
        }
        return *scopeIds;
    };

    std::string programKey;
    std::string flatpakId;
    const std::optional<std::string> executable = reader.executable(pid);
    if (executable && !isWrapperProgram(baseName(*executable))) {
        programKey = baseName(*executable);
    } else {
        std::vector<std::string> command = commandLine();
        if (executable && !command.empty()) {
            command.front() = *executable;
        }
        if (!command.empty() && !isWrapperProgram(baseName(command.front()))) {
            programKey = baseName(command.front()); // exe unreadable
        } else if (std::optional<LaunchTarget> target = resolveLaunchTarget(command)) {
            programKey = baseName(target->program);
            flatpakId = target->flatpakId;
        }
    }

    const std::vector<const DesktopEntry*> found =
        programKey.empty() ? std::vector<const DesktopEntry*>() : index.byProgram(programKey);
    if (found.size() == 1) {
        return found.front()->id;
    }
    if (found.size() > 1) {
        // Several entries run the same program (an office suite's parts): the unit the desktop
        // started it in decides, else the entry whose arguments the process was given.
        for (const std::string& id : scope()) {
            for (const DesktopEntry* entry : found) {
                if (entry->id == id) {
                    return entry->id;
                }
            }
        }
        const std::vector<std::string>& given = commandLine();
        const DesktopEntry* best = found.front();
        std::ptrdiff_t bestScore = -1;
        for (const DesktopEntry* entry : found) {
            const std::ptrdiff_t score = std::count_if(
                entry->exec.begin() + (entry->exec.empty() ? 0 : 1), entry->exec.end(),
                [&](const std::string& argument) {
                    return std::find(given.begin() + (given.empty() ? 0 : 1), given.end(), argument)
                           != given.end();
                });
            if (score > bestScore) {
                best = entry;
                bestScore = score;
            }
        }
        return best->id;
    }
    if (!flatpakId.empty()) {
        if (const DesktopEntry* entry = index.byFlatpakId(flatpakId)) {
            return entry->id;
        }
    }
    for (const std::string& id : scope()) {
        if (const DesktopEntry* entry = index.byId(id)) {
            return entry->id;
        }
        if (const DesktopEntry* entry = index.byFlatpakId(id)) {
            return entry->id;
        }
    }
    return std::nullopt;
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
    app.application.localizedName = isBlank(entry->name) ? std::nullopt : std::optional(entry->name);
    app.application.bundleIdentifier = entry->id;
    app.application.pid = pid;
    app.application.bundlePath = entry->path.string();
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
            // It ran and ended between two looks.
            if (announce) {
                pending.push_back({true, app.application});
            }
            pending.push_back({false, std::move(app.application)});
            record.kind = Kind::ended;
            return;
        }
        if (fd < 0) {
            // This one is watched by scanning; without kernel support all of them are.
            if (error == ENOSYS) {
                qCDebug(lcWatcher) << "pidfd_open is not supported; exits are noticed by scanning";
                usePidfd = false;
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
        pending.push_back({false, std::move(it->second.application)});
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
    std::vector<Notice> notices;
    notices.swap(pending);
    for (Notice& notice : notices) {
        if (!guard || !running) {
            return;
        }
        if (notice.launched) {
            emit q->applicationLaunched(notice.application);
        } else {
            emit q->applicationTerminated(notice.application);
        }
    }
}

ProcessWatcher::ProcessWatcher(ProcessWatcherOptions options, QObject* parent)
    : app::WorkspaceEvents(parent)
    , m_state(std::make_unique<State>(this, std::move(options)))
{
    m_state->timer.setTimerType(Qt::CoarseTimer);
    connect(&m_state->timer, &QTimer::timeout, this, [this] { m_state->scan(false); });
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
