// SPDX-License-Identifier: MIT
// The Linux evidence pipeline as a user meets it: the shipped `exitwise watch` against this
// machine's journal, with systemd-coredump keeping the crash records.
//   exitwise_evidence_measure [count = 10] [idle seconds = 60]
// 1. Exit -> saved event: applications started from desktop entries the way GNOME Shell starts
//    them (stdout and stderr on a journal stream named after the desktop-file ID, reaped by us at
//    once) end by SIGSEGV, SIGKILL, SIGTERM, exit 0 and exit 1, `count` times each; the time from
//    the exit (our kill, or our waitpid returning for ends of their own) until "events.json"
//    holds the event, and the verdict each got.
// 2. Shortest life recorded: processes that print one line and end, or print nothing and live a
//    short while, `count` of each length; how many were recorded.
// 3. Idle cost: two watchers idle side by side, one following the real journal and one given an
//    empty journal directory; processor time, memory, wake-ups and the machine's journal files
//    each holds open, over `idle seconds` of the journal as it is, then as long again while
//    another program writes twenty lines a second.
// Needs journald, the systemd-coredump socket and a core pattern that pipes to it (as root,
// tests/closures/closure-services start); prints "skipped: ..." otherwise. Every watcher runs in a
// data directory and desktop entries of its own, with no session bus. EXITWISE_NO_PIDFD_EXIT=1 in
// the environment is passed on to the watchers; EXITWISE_KEEP_MEASURE=1 keeps their directories.
// The executables are looked for beside this one.

#include "ProcMemory.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using exitwise::bench::Memory;
using exitwise::bench::memoryOf;
using exitwise::bench::procField;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Given as the first argument, makes a copy of this program a probe application: it prints one
// line to its stdout (the journal stream) and ends after the given milliseconds.
constexpr const char* kProbeTalk = "--probe-talk";

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

void printMemory(const char* label, const Memory& m)
{
    std::printf("    %-28s RSS %ld KiB (anonymous %ld KiB, file-backed %ld KiB); private %ld KiB\n", label,
                m.rss, m.anonymous, m.files, m.privateClean + m.privateDirty);
}

struct ThreadCounters
{
    long wakeups = 0; // voluntary context switches: each is a wake-up after the thread slept
    double cpuSeconds = 0;
};

std::map<pid_t, ThreadCounters> countersByThread(pid_t pid)
{
    std::map<pid_t, ThreadCounters> result;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        ThreadCounters counters;
        counters.wakeups = procField(task.path() / "status", "voluntary_ctxt_switches");
        // Nanoseconds on a processor: finer than the clock ticks of /proc/PID/stat.
        std::istringstream(readFile(task.path() / "schedstat")) >> counters.cpuSeconds;
        counters.cpuSeconds /= 1e9;
        if (counters.wakeups >= 0) {
            result[std::atoi(task.path().filename().c_str())] = counters;
        }
    }
    return result;
}

// What the threads did between two samples; a thread that ended meanwhile is not counted.
ThreadCounters between(const std::map<pid_t, ThreadCounters>& before,
                       const std::map<pid_t, ThreadCounters>& after)
{
    ThreadCounters total;
    for (const auto& [tid, counters] : after) {
        const auto it = before.find(tid);
        total.wakeups += counters.wakeups - (it == before.end() ? 0 : it->second.wakeups);
        total.cpuSeconds += counters.cpuSeconds - (it == before.end() ? 0 : it->second.cpuSeconds);
    }
    return total;
}

// Journal files a process holds open: whether it reads this machine's journal at all.
int journalFilesOpen(pid_t pid)
{
    int count = 0;
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = fs::read_symlink(fd.path(), error).string();
        if (!error && target.find("/log/journal/") != std::string::npos && target.ends_with(".journal")) {
            ++count;
        }
    }
    return count;
}

std::string loadAverage()
{
    std::istringstream in(readFile("/proc/loadavg"));
    std::string one;
    std::string five;
    std::string fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Someone listens on the Unix socket at `path` (a socket file alone may be left by a dead service).
bool listening(const std::string& path)
{
    std::ifstream in("/proc/net/unix");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        // Num RefCount Protocol Flags Type St Inode Path
        std::istringstream fields(line);
        std::string num;
        std::string refCount;
        std::string protocol;
        std::string flags;
        std::string type;
        std::string state;
        std::string inode;
        std::string socketPath;
        if (fields >> num >> refCount >> protocol >> flags >> type >> state >> inode >> socketPath
            && socketPath == path && (std::stoul(flags, nullptr, 16) & 0x10000) != 0) { // __SO_ACCEPTCON
            return true;
        }
    }
    return false;
}

std::optional<std::string> servicesMissing()
{
    if (!listening("/run/systemd/journal/stdout")) {
        return "journald is not listening at /run/systemd/journal/stdout";
    }
    if (!listening("/run/systemd/coredump")) {
        return "no systemd-coredump socket is listening at /run/systemd/coredump";
    }
    const std::string pattern = readFile("/proc/sys/kernel/core_pattern");
    if (!pattern.starts_with("|") || pattern.find("systemd-coredump") == std::string::npos) {
        return "core dumps do not go to systemd-coredump (core pattern " + trimmed(pattern) + ")";
    }
    return std::nullopt;
}

// This process's environment without `removed`, with `overrides` (NAME=value) put in.
std::vector<std::string> environmentWith(const std::vector<std::string>& overrides,
                                         const std::vector<std::string>& removed = {})
{
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> result = overrides;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string current(*entry);
        const std::string name = nameOf(current);
        if (std::find(removed.begin(), removed.end(), name) == removed.end()
            && std::none_of(overrides.begin(), overrides.end(),
                            [&](const std::string& o) { return nameOf(o) == name; })) {
            result.push_back(current);
        }
    }
    return result;
}

std::vector<char*> pointers(const std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (const std::string& s : strings) {
        result.push_back(const_cast<char*>(s.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

pid_t spawn(const std::vector<std::string>& args,
            const std::vector<std::string>& environment,
            const fs::path& output,
            const fs::path& errors)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(environment);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts `args` as GNOME Shell starts an application: a child of ours whose stdout and stderr
// are a journal stream named after the desktop-file ID. The caller reaps it.
pid_t launch(const std::string& desktopId, const std::vector<std::string>& args)
{
    std::vector<char*> argv = pointers(args);
    const pid_t pid = fork();
    if (pid == 0) {
        const int stream = sd_journal_stream_fd(desktopId.c_str(), LOG_INFO, 0);
        if (stream >= 0) {
            dup2(stream, STDOUT_FILENO);
            dup2(stream, STDERR_FILENO);
            close(stream);
        }
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(null, STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

template <class Predicate> bool waitFor(Predicate done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Spread
{
    double median = 0;
    double max = 0;
};

Spread spreadOf(std::vector<double> values)
{
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

struct Verdict
{
    std::string text; // end state · cause · confidence
    std::string raw;  // the termination's raw value
};

// The events a watcher saved, read again whenever "events.json" was replaced.
class SavedEvents
{
public:
    explicit SavedEvents(fs::path file)
        : m_file(std::move(file))
    {}

    std::optional<Verdict> find(pid_t pid)
    {
        refresh();
        const auto it = m_byPid.find(pid);
        return it == m_byPid.end() ? std::nullopt : std::optional<Verdict>(it->second);
    }

private:
    void refresh()
    {
        struct stat now
        {
        };
        if (::stat(m_file.c_str(), &now) != 0) {
            return;
        }
        if (now.st_ino == m_seen.st_ino && now.st_size == m_seen.st_size
            && now.st_mtim.tv_sec == m_seen.st_mtim.tv_sec && now.st_mtim.tv_nsec == m_seen.st_mtim.tv_nsec) {
            return;
        }
        const auto events = nlohmann::json::parse(readFile(m_file), nullptr, false);
        if (!events.is_array()) {
            return; // caught mid-write: read again next time
        }
        m_seen = now;
        for (const auto& event : events) {
            if (!event.is_object() || !event.contains("pid") || !event.contains("diagnosis")) {
                continue;
            }
            const auto& diagnosis = event["diagnosis"];
            m_byPid[event["pid"].get<pid_t>()] =
                Verdict{diagnosis.value("endState", "?") + " · " + diagnosis.value("dominantCause", "?")
                            + " · " + diagnosis.value("confidence", "?"),
                        event.value("terminationRawValue", "")};
        }
    }

    fs::path m_file;
    struct stat m_seen
    {
    };
    std::map<pid_t, Verdict> m_byPid;
};

// One running `exitwise watch` with its own data directory.
struct Watcher
{
    pid_t pid = -1;
    fs::path data;
    fs::path errors;
};

std::optional<Watcher> startWatcher(const fs::path& executable,
                                    const fs::path& root,
                                    const std::string& name,
                                    const std::optional<fs::path>& journalDirectory)
{
    Watcher watcher{-1, root / name, root / (name + ".err")};
    fs::create_directories(watcher.data);
    std::vector<std::string> overrides{
        "EXITWISE_APP_SUPPORT_DIR=" + watcher.data.string(),
        "XDG_DATA_HOME=" + (root / "share").string(),
        "XDG_DATA_DIRS=" + (root / "empty").string(),
        "XDG_CACHE_HOME=" + (root / "cache").string(),
        "XDG_CONFIG_HOME=" + (root / "config").string(),
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (root / "no-bus").string(),
    };
    std::vector<std::string> removed;
    if (journalDirectory) {
        overrides.push_back("EXITWISE_JOURNAL_DIR=" + journalDirectory->string());
    } else {
        removed.emplace_back("EXITWISE_JOURNAL_DIR");
    }
    watcher.pid = spawn({executable.string(), "watch", "--json"}, environmentWith(overrides, removed),
                        root / (name + ".jsonl"), watcher.errors);
    if (watcher.pid < 0) {
        return std::nullopt;
    }
    if (!waitFor([&] { return fs::exists(watcher.data / "product_events.jsonl"); }, 20s)) {
        kill(watcher.pid, SIGTERM);
        waitpid(watcher.pid, nullptr, 0);
        std::fprintf(stderr, "%s did not start:\n%s", name.c_str(), readFile(watcher.errors).c_str());
        return std::nullopt;
    }
    return watcher;
}

void stopWatcher(const Watcher& watcher)
{
    kill(watcher.pid, SIGTERM);
    waitpid(watcher.pid, nullptr, 0);
}

// How one kind of closure is made.
struct Kind
{
    const char* name;
    const char* desktopId;
    fs::path program;
    std::vector<std::string> args;
    int signal;           // sent after kRunFor; 0: it ends by itself
    const char* expected; // end state · cause
};

// Long enough for a /proc scan to have seen the application.
constexpr auto kRunFor = 1200ms;

struct Outcome
{
    const Kind* kind = nullptr;
    pid_t pid = -1;
    std::optional<double> toSaved; // ms from the exit
    double toReaped = 0;           // ms from the kill until waitpid returned
    std::optional<Verdict> verdict;
};

bool isRight(const Outcome& outcome)
{
    return outcome.verdict && outcome.verdict->text.starts_with(std::string(outcome.kind->expected) + " · ");
}

void printVerdicts(const std::vector<const Outcome*>& outcomes)
{
    std::map<std::string, int> tally;
    for (const Outcome* outcome : outcomes) {
        tally[outcome->verdict ? outcome->verdict->text : "(not recorded)"] += 1;
    }
    for (const auto& [text, count] : tally) {
        std::printf("      %2d × %s\n", count, text.c_str());
    }
}

// Part 1. Returns whether every closure was saved.
bool measureExitToSaved(const fs::path& root, const fs::path& executable, int count)
{
    const fs::path lock = root / "lock";
    const int held = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (held < 0 || flock(held, LOCK_EX) != 0) {
        std::printf("cannot hold %s\n", lock.c_str());
        return false;
    }
    const fs::path probe = root / "bin/exitwise-probe";
    const fs::path fails = root / "bin/exitwise-fails";
    // clang-format off
    const std::vector<Kind> kinds{
        {"SIGSEGV", "org.exitwise.Probe", probe, {"600"}, SIGSEGV, "Crash · Crashed: app bug"},
        {"SIGKILL", "org.exitwise.Probe", probe, {"600"}, SIGKILL, "Killed · Unknown"},
        {"SIGTERM", "org.exitwise.Probe", probe, {"600"}, SIGTERM, "Clean exit · Quit request"},
        {"exit 0",  "org.exitwise.Probe", probe, {"1.2"}, 0,       "Clean exit · Quit request"},
        // flock gives up on a lock we hold after 1.2 s and exits 1.
        {"exit 1",  "org.exitwise.Fails", fails, {"-w", "1.2", lock.string(), "true"}, 0, "Clean exit · Unknown"},
    };
    // clang-format on

    const std::optional<Watcher> watcher = startWatcher(executable, root, "closures", std::nullopt);
    if (!watcher) {
        return false;
    }
    std::printf("the watcher says:\n%s", readFile(watcher->errors).c_str());
    std::this_thread::sleep_for(1s); // past its first look at the running processes
    SavedEvents saved(watcher->data / "events.json");

    std::printf("\n1. exit -> events.json holds the event (%d of each kind, one at a time)\n", count);
    std::vector<Outcome> outcomes;
    for (int i = 0; i < count; ++i) {
        for (const Kind& kind : kinds) {
            std::vector<std::string> args{kind.program};
            args.insert(args.end(), kind.args.begin(), kind.args.end());
            Outcome outcome{&kind, launch(kind.desktopId, args), std::nullopt, 0, std::nullopt};
            Clock::time_point exitedAt;
            if (kind.signal != 0) {
                std::this_thread::sleep_for(kRunFor);
                exitedAt = Clock::now();
                kill(outcome.pid, kind.signal);
                waitpid(outcome.pid, nullptr, 0);
                outcome.toReaped = ms(Clock::now() - exitedAt);
            } else {
                waitpid(outcome.pid, nullptr, 0);
                exitedAt = Clock::now();
            }
            if (waitFor([&] { return (outcome.verdict = saved.find(outcome.pid)).has_value(); }, 15s)) {
                outcome.toSaved = ms(Clock::now() - exitedAt);
            }
            std::printf("  %-8s pid %-8d %s  %s [%s]\n", kind.name, outcome.pid,
                        outcome.toSaved ? (std::to_string(static_cast<int>(*outcome.toSaved)) + " ms").c_str()
                                        : "not saved",
                        outcome.verdict ? outcome.verdict->text.c_str() : "-",
                        outcome.verdict ? outcome.verdict->raw.c_str() : "");
            outcomes.push_back(outcome);
        }
    }
    stopWatcher(*watcher);
    close(held);

    std::printf("\n  %-8s %-9s %-30s %-20s %s\n", "kind", "saved", "exit -> saved (median, max)",
                "kill -> reaped", "right verdicts (expected)");
    bool allSaved = true;
    for (const Kind& kind : kinds) {
        std::vector<const Outcome*> mine;
        std::vector<double> toSaved;
        std::vector<double> toReaped;
        int right = 0;
        for (const Outcome& outcome : outcomes) {
            if (outcome.kind != &kind) {
                continue;
            }
            mine.push_back(&outcome);
            if (outcome.toSaved) {
                toSaved.push_back(*outcome.toSaved);
            }
            toReaped.push_back(outcome.toReaped);
            right += isRight(outcome) ? 1 : 0;
        }
        allSaved = allSaved && toSaved.size() == mine.size();
        const Spread s = spreadOf(toSaved);
        char spread[64] = "-";
        if (!toSaved.empty()) {
            std::snprintf(spread, sizeof spread, "%.0f ms, %.0f ms", s.median, s.max);
        }
        char reaped[64] = "-";
        if (kind.signal != 0) {
            std::snprintf(reaped, sizeof reaped, "median %.1f ms", spreadOf(toReaped).median);
        }
        std::printf("  %-8s %2zu of %-3zu %-30s %-20s %d of %zu (%s)\n", kind.name, toSaved.size(),
                    mine.size(), spread, reaped, right, mine.size(), kind.expected);
        printVerdicts(mine);
    }
    return allSaved;
}

// Part 2.
void measureShortestLife(const fs::path& root, const fs::path& executable, int count)
{
    struct Life
    {
        bool talks; // prints one line to its journal stream
        int milliseconds;
    };
    const std::vector<Life> lives{{true, 0},    {true, 20},   {true, 100},
                                  {false, 100}, {false, 300}, {false, 600}};

    const std::optional<Watcher> watcher = startWatcher(executable, root, "lives", std::nullopt);
    if (!watcher) {
        return;
    }
    std::this_thread::sleep_for(1s);
    SavedEvents saved(watcher->data / "events.json");
    std::mt19937 random(std::random_device{}());
    // Random pauses put the ends at every point of the watcher's scan period. They are long
    // enough for each process to be judged alone: a stream line of a process that ended is taken
    // for a launcher that handed over when another instance started within a second of it, and
    // journald posts its changes up to 250 ms late.
    std::uniform_int_distribution<int> pause(1200, 1700);

    std::printf("\n2. shortest life recorded (%d of each, one at a time; a /proc scan every 500 ms)\n",
                count);
    for (const Life& life : lives) {
        std::vector<pid_t> pids;
        Clock::time_point lastExit;
        for (int i = 0; i < count; ++i) {
            const pid_t pid =
                life.talks ? launch("org.exitwise.Talk", {(root / "bin/exitwise-talk").string(), kProbeTalk,
                                                          std::to_string(life.milliseconds)})
                           : launch("org.exitwise.Probe", {(root / "bin/exitwise-probe").string(),
                                                           std::to_string(life.milliseconds / 1000.0)});
            waitpid(pid, nullptr, 0);
            lastExit = Clock::now();
            pids.push_back(pid);
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        }
        std::vector<const Outcome*> outcomes;
        std::vector<Outcome> storage(pids.size());
        // Unknown ends wait a while for a crash record that does not come.
        waitFor(
            [&] {
                return std::all_of(pids.begin(), pids.end(),
                                   [&](pid_t pid) { return saved.find(pid).has_value(); });
            },
            std::chrono::duration_cast<std::chrono::milliseconds>(lastExit + 6s - Clock::now()));
        int recorded = 0;
        for (std::size_t i = 0; i < pids.size(); ++i) {
            storage[i].pid = pids[i];
            storage[i].verdict = saved.find(pids[i]);
            recorded += storage[i].verdict ? 1 : 0;
            outcomes.push_back(&storage[i]);
        }
        std::printf("  %-34s recorded %d of %zu\n",
                    (life.talks ? "prints a line, ends after " + std::to_string(life.milliseconds) + " ms"
                                : "silent, lives " + std::to_string(life.milliseconds) + " ms")
                        .c_str(),
                    recorded, pids.size());
        printVerdicts(outcomes);
        std::string missed;
        for (const Outcome* outcome : outcomes) {
            if (!outcome->verdict) {
                missed.append(" ").append(std::to_string(outcome->pid));
            }
        }
        if (!missed.empty()) {
            std::printf("      not recorded:%s\n", missed.c_str());
        }
    }
    stopWatcher(*watcher);
}

// Entries this user can read that were written since `journal` was put at the end.
struct JournalTraffic
{
    long entries = 0;
    long streamLines = 0; // from stdout streams, which the follower looks at more closely
};

JournalTraffic countNewEntries(sd_journal* journal)
{
    JournalTraffic traffic;
    (void)sd_journal_process(journal);
    while (sd_journal_next(journal) > 0) {
        ++traffic.entries;
        const void* data = nullptr;
        size_t length = 0;
        if (sd_journal_get_data(journal, "_TRANSPORT", &data, &length) >= 0
            && std::string_view(static_cast<const char*>(data), length) == "_TRANSPORT=stdout") {
            ++traffic.streamLines;
        }
    }
    return traffic;
}

// Part 3: each phase runs for `seconds`; `during` is called every 50 ms meanwhile.
struct Phase
{
    const char* label;
    std::function<void()> during;
};

void measureIdle(const fs::path& root, const fs::path& executable, int idleSeconds)
{
    std::printf("\n3. idle cost, %d s per phase (both watchers side by side)\n", idleSeconds);
    struct Idle
    {
        const char* label;
        std::optional<fs::path> journalDirectory;
        std::optional<Watcher> watcher;
    };
    std::vector<Idle> idles{
        {"real journal followed", std::nullopt, std::nullopt},
        {"EXITWISE_JOURNAL_DIR = an empty directory", root / "empty-journal", std::nullopt}};
    fs::create_directories(root / "empty-journal");
    int n = 0;
    for (Idle& idle : idles) {
        idle.watcher = startWatcher(executable, root, "idle-" + std::to_string(n++), idle.journalDirectory);
        if (!idle.watcher) {
            return;
        }
    }
    std::this_thread::sleep_for(3s); // past the first scans and the start's own work

    // A busy desktop's journal: twenty lines a second on a stream of this user that names no
    // application, which the follower reads and lets go.
    const int noise = sd_journal_stream_fd("exitwise-measure-noise", LOG_INFO, 0);
    int lines = 0;
    const std::vector<Phase> phases{{"the journal as it is", [] {}},
                                    {"20 journal lines per s from another program", [&] {
                                         const std::string line = "noise " + std::to_string(++lines) + "\n";
                                         if (noise >= 0 && write(noise, line.data(), line.size()) < 0) {
                                             std::printf("  cannot write to the journal\n");
                                         }
                                     }}};
    for (const Phase& phase : phases) {
        sd_journal* journal = nullptr;
        const bool counting = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY) >= 0
                              && sd_journal_seek_tail(journal) >= 0 && sd_journal_previous(journal) >= 0;
        std::vector<std::map<pid_t, ThreadCounters>> before;
        for (const Idle& idle : idles) {
            before.push_back(countersByThread(idle.watcher->pid));
        }
        const auto deadline = Clock::now() + std::chrono::seconds(idleSeconds);
        while (Clock::now() < deadline) {
            phase.during();
            std::this_thread::sleep_for(50ms);
        }
        std::printf("  %s:\n", phase.label);
        for (std::size_t i = 0; i < idles.size(); ++i) {
            const pid_t pid = idles[i].watcher->pid;
            const std::map<pid_t, ThreadCounters> after = countersByThread(pid);
            const ThreadCounters all = between(before[i], after);
            const double perMinute = all.cpuSeconds / idleSeconds * 60.0;
            std::printf("    %s:\n", idles[i].label);
            std::printf("    %-28s %.4f s per minute (%.3f %% of one core)\n", "CPU:", perMinute,
                        perMinute / 60.0 * 100.0);
            std::printf("    %-28s %.1f per s in %zu threads (%.1f per s in the main thread)\n",
                        "wake-ups:", static_cast<double>(all.wakeups) / idleSeconds, after.size(),
                        static_cast<double>(after.at(pid).wakeups - before[i].at(pid).wakeups) / idleSeconds);
            printMemory("memory:", memoryOf(pid));
            std::printf("    %-28s %d\n", "machine journal files open:", journalFilesOpen(pid));
        }
        if (counting) {
            const JournalTraffic traffic = countNewEntries(journal);
            std::printf("    journal entries this user can read, written meanwhile: %ld (%ld from stdout "
                        "streams)\n",
                        traffic.entries, traffic.streamLines);
        }
        if (journal != nullptr) {
            sd_journal_close(journal);
        }
    }
    if (noise >= 0) {
        close(noise);
    }
    for (const Idle& idle : idles) {
        stopWatcher(*idle.watcher);
    }
}

void writeEntry(const fs::path& root, const std::string& id, const std::string& name, const fs::path& program)
{
    std::ofstream(root / "share/applications" / (id + ".desktop"))
        << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << program.string() << "\n";
}

int probeTalk(const char* milliseconds)
{
    std::printf("exitwise-talk: started\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(milliseconds)));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], kProbeTalk) == 0) {
        return probeTalk(argv[2]);
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 10;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    if (count < 1 || idleSeconds < 1) {
        std::fprintf(stderr, "usage: %s [count = 10] [idle seconds = 60]\n", argv[0]);
        return 2;
    }
    if (const auto missing = servicesMissing()) {
        std::printf(
            "exitwise_evidence_measure skipped: %s (as root: tests/closures/closure-services start)\n",
            missing->c_str());
        return 0;
    }
    const fs::path self = fs::canonical("/proc/self/exe");
    const fs::path executable = self.parent_path() / "exitwise";
    if (!fs::exists(executable)) {
        std::fprintf(stderr, "%s is missing\n", executable.c_str());
        return 1;
    }

    std::string pattern = (fs::temp_directory_path() / "exitwise-evidence-measure-XXXXXX").string();
    const fs::path root = mkdtemp(pattern.data());
    for (const char* directory : {"bin", "share/applications", "empty", "cache", "config"}) {
        fs::create_directories(root / directory);
    }
    // Programs with names of their own, so that nothing else on the machine is taken for them.
    fs::copy_file("/bin/sleep", root / "bin/exitwise-probe");
    fs::copy_file("/usr/bin/flock", root / "bin/exitwise-fails");
    fs::copy_file(self, root / "bin/exitwise-talk");
    for (const char* program : {"exitwise-probe", "exitwise-fails", "exitwise-talk"}) {
        chmod((root / "bin" / program).c_str(), 0755);
    }
    writeEntry(root, "org.exitwise.Probe", "Probe", root / "bin/exitwise-probe");
    writeEntry(root, "org.exitwise.Fails", "Fails", root / "bin/exitwise-fails");
    writeEntry(root, "org.exitwise.Talk", "Talk", root / "bin/exitwise-talk");

    const char* noPidfdExit = std::getenv("EXITWISE_NO_PIDFD_EXIT");
    std::printf("exitwise_evidence_measure: uid %u, kernel %s, pidfd exit information %s, load average %s\n",
                getuid(), trimmed(readFile("/proc/sys/kernel/osrelease")).c_str(),
                noPidfdExit != nullptr && std::string(noPidfdExit) == "1" ? "off (EXITWISE_NO_PIDFD_EXIT=1)"
                                                                          : "used where the kernel has it",
                loadAverage().c_str());

    const bool allSaved = measureExitToSaved(root, executable, count);
    std::printf("  load average: %s\n", loadAverage().c_str());
    measureShortestLife(root, executable, count);
    std::printf("  load average: %s\n", loadAverage().c_str());
    measureIdle(root, executable, idleSeconds);
    std::printf("  load average: %s\n", loadAverage().c_str());

    // EXITWISE_KEEP_MEASURE=1 leaves the data directories and the watchers' output.
    if (const char* keep = std::getenv("EXITWISE_KEEP_MEASURE");
        keep != nullptr && std::string(keep) == "1") {
        std::printf("kept %s\n", root.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    return allSaved ? 0 : 1;
}
