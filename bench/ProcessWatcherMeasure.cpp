// SPDX-License-Identifier: MIT
// Idle cost and exit-notice latency of the process watcher on this machine's /proc.
//   exitwise_watch_measure [idle seconds = 60] [extra processes = 500] [exits = 30] [scan ms = 500]
// Starts the extra sleeping processes, watches with the default 500 ms scan, then reports CPU
// time per minute while idle, resident memory, the cost of one scan, and the time from SIGKILL
// of a watched application to its termination notice.

#include "platform/linux/ProcessWatcher.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using exitwise::app::RunningApplication;
using exitwise::platform::ProcessWatcher;
using exitwise::platform::ProcessWatcherOptions;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Resident
{
    long total = -1; // KiB
    long anonymous = -1;
    long files = -1;        // mostly shared-library pages, shared with every other Qt program
    long privateClean = -1; // resident pages no other process maps, unchanged since loaded
    long privateDirty = -1; // resident pages no other process maps, written by this one
};

Resident resident()
{
    Resident result;
    for (const char* file : {"/proc/self/status", "/proc/self/smaps_rollup"}) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            const auto field = [&](const char* name, long& value) {
                if (line.starts_with(name)) {
                    value = std::atol(line.c_str() + std::strlen(name));
                }
            };
            field("VmRSS:", result.total);
            field("RssAnon:", result.anonymous);
            field("RssFile:", result.files);
            field("Private_Clean:", result.privateClean);
            field("Private_Dirty:", result.privateDirty);
        }
    }
    return result;
}

void runEventLoopFor(std::chrono::milliseconds duration)
{
    QTimer::singleShot(duration, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

template <class Predicate> bool runEventLoopUntil(Predicate done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return done();
}

std::vector<pid_t> startSleepers(int count)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (;;) {
                pause();
            }
        }
        if (pid > 0) {
            pids.push_back(pid);
        }
    }
    return pids;
}

// The most recently allocated pid, from /proc/loadavg: its growth counts the processes and
// threads started on the machine.
long lastPid()
{
    std::ifstream loadavg("/proc/loadavg");
    std::string field;
    for (int i = 0; i < 5 && loadavg >> field; ++i) {
    }
    return std::atol(field.c_str());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int extraProcesses = argc > 2 ? std::atoi(argv[2]) : 500;
    const int exits = argc > 3 ? std::atoi(argv[3]) : 30;
    const int scanMs = argc > 4 ? std::atoi(argv[4]) : 500;

    QCoreApplication app(argc, argv);

    // A watched application with a program name of its own: a copy of sleep.
    std::string pattern = (fs::temp_directory_path() / "exitwise-measure-XXXXXX").string();
    const fs::path root = mkdtemp(pattern.data());
    const fs::path probe = root / "exitwise-probe";
    fs::copy_file("/bin/sleep", probe);
    chmod(probe.c_str(), 0755);
    fs::create_directories(root / "applications");
    std::ofstream(root / "applications/org.exitwise.Probe.desktop")
        << "[Desktop Entry]\nType=Application\nName=Probe\nExec=" << probe.string() << " 600\n";

    const std::vector<pid_t> sleepers = startSleepers(extraProcesses);
    std::size_t processCount = 0;
    for (const auto& item : fs::directory_iterator("/proc")) {
        processCount +=
            std::isdigit(static_cast<unsigned char>(item.path().filename().string().front())) ? 1 : 0;
    }

    const Resident before = resident();
    ProcessWatcherOptions options = ProcessWatcherOptions::fromEnvironment();
    options.desktop.applicationDirs.insert(options.desktop.applicationDirs.begin(), root / "applications");
    options.scanInterval = std::chrono::milliseconds(scanMs);
    ProcessWatcher watcher(options);
    std::vector<RunningApplication> launched;
    std::vector<std::pair<RunningApplication, Clock::time_point>> terminated;
    QObject::connect(&watcher, &ProcessWatcher::applicationLaunched,
                     [&](const RunningApplication& a) { launched.push_back(a); });
    QObject::connect(&watcher, &ProcessWatcher::applicationTerminated,
                     [&](const RunningApplication& a) { terminated.emplace_back(a, Clock::now()); });

    const Clock::time_point startBegan = Clock::now();
    const double startCpu = cpuSeconds();
    watcher.start();
    const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - startBegan).count();
    const double startCpuMs = (cpuSeconds() - startCpu) * 1000;

    runEventLoopFor(std::chrono::seconds(3)); // past the first looks at new processes
    const double idleCpu = cpuSeconds();
    const long pidBefore = lastPid();
    runEventLoopFor(std::chrono::seconds(idleSeconds));
    const long started = lastPid() - pidBefore;
    const double idleCpuPerMinute = (cpuSeconds() - idleCpu) / idleSeconds * 60.0;
    const Resident watching = resident();

    constexpr int kScans = 200;
    const double scanCpu = cpuSeconds();
    for (int i = 0; i < kScans; ++i) {
        watcher.scanNow();
    }
    const double scanUs = (cpuSeconds() - scanCpu) / kScans * 1e6;

    std::vector<double> latenciesMs;
    for (int i = 0; i < exits; ++i) {
        pid_t pid = 0;
        const std::string path = probe.string();
        char* args[] = {const_cast<char*>(path.c_str()), const_cast<char*>("600"), nullptr};
        if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, args, environ) != 0) {
            break;
        }
        const bool seen = runEventLoopUntil(
            [&] {
                return std::any_of(launched.begin(), launched.end(),
                                   [&](const auto& a) { return a.pid == pid; });
            },
            std::chrono::seconds(3));
        const Clock::time_point killedAt = Clock::now();
        kill(pid, SIGKILL);
        std::optional<Clock::time_point> noticedAt;
        runEventLoopUntil(
            [&] {
                for (const auto& [application, at] : terminated) {
                    if (application.pid == pid) {
                        noticedAt = at;
                    }
                }
                return noticedAt.has_value();
            },
            std::chrono::seconds(3));
        waitpid(pid, nullptr, 0);
        if (seen && noticedAt) {
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(*noticedAt - killedAt).count());
        }
    }

    std::printf("processes on the machine:      %zu (%d of them started for this run)\n", processCount,
                extraProcesses);
    std::printf("desktop entries indexed:       %zu\n", watcher.desktopEntries().entries().size());
    std::printf("start (initial scan):          %.1f ms wall, %.1f ms CPU\n", startMs, startCpuMs);
    std::printf("one scan:                      %.0f us CPU\n", scanUs);
    std::printf("idle CPU:                      %.3f s per minute (%.2f %% of one core)\n", idleCpuPerMinute,
                idleCpuPerMinute / 60.0 * 100.0);
    std::printf("  meanwhile started elsewhere: about %ld processes and threads (pid wraps ignored)\n",
                started < 0 ? 0 : started);
    std::printf("resident memory:               %ld KiB: %ld KiB anonymous, %ld KiB file-backed; "
                "private %ld KiB (%ld KiB clean, %ld KiB dirty)\n",
                watching.total, watching.anonymous, watching.files,
                watching.privateClean + watching.privateDirty, watching.privateClean, watching.privateDirty);
    std::printf("  before the watcher existed:  %ld KiB: %ld KiB anonymous, %ld KiB file-backed; "
                "private %ld KiB (%ld KiB clean, %ld KiB dirty)\n",
                before.total, before.anonymous, before.files, before.privateClean + before.privateDirty,
                before.privateClean, before.privateDirty);
    if (!latenciesMs.empty()) {
        std::printf("exit-notice latency:           median %.2f ms, max %.2f ms over %zu exits\n",
                    median(latenciesMs), *std::max_element(latenciesMs.begin(), latenciesMs.end()),
                    latenciesMs.size());
    } else {
        std::printf("exit-notice latency:           not measured\n");
    }

    for (const pid_t pid : sleepers) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return latenciesMs.empty() && exits > 0 ? 1 : 0;
}
