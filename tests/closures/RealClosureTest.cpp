// SPDX-License-Identifier: MIT
// Real applications ended in real ways, explained by the real `exitwise watch`.
//
// Each closure is a small program started from a desktop entry the way GNOME Shell starts an
// application: a child of ours, its stdout and stderr connected to the journal under
// SYSLOG_IDENTIFIER = the desktop-file ID, reaped by us at once. It is then ended a known way:
// by itself (a fault, a failed assertion, an exit code, a crashing helper), by a signal from us,
// by the kernel's memory limit of its control group, by the loader, or by the desktop after it
// stopped responding. Every kind runs under two desktop IDs: one equal to the program's name
// and one in reverse-DNS style. journald, systemd-coredump and the kernel's core pattern must be
// in place (tests/closures/closure-services starts them as root); the suite skips without them.

#include "support/ChildProcess.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace exitwise::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How long each application runs before it ends: long enough to be seen as running. The ends
// are spread out: the kernel pipes at most core_pipe_limit (16 with systemd-coredump) core dumps
// at once and skips the rest, which a desktop never meets but a suite of simultaneous crashes would.
constexpr int kRunMilliseconds = 1500;
constexpr int kStaggerMilliseconds = 120;

enum class EndedBy
{
    itself,       // the program ends itself the way its mode says
    sigkill,      // kill -9 of a healthy process (also GNOME's "Force Quit")
    sigterm,      // a polite request to quit
    memoryCgroup, // the kernel's OOM killer, for the memory limit of its control group
    unresponsive, // KWin's "Terminate": a marker file, then SIGABRT
};

struct Kind
{
    const char* name;
    const char* mode; // the closure app's mode
    EndedBy endedBy;
    const char* endState;
    const char* cause;
    // The exit status alone decides it: without pidfd exit information it may stay unknown.
    bool needsExitStatus;
};

// clang-format off
const std::vector<Kind> kKinds{
    {"SIGSEGV",            "segv",   EndedBy::itself,       "Crash",          "Crashed: app bug",          false},
    {"SIGBUS",             "bus",    EndedBy::itself,       "Crash",          "Crashed: app bug",          false},
    {"SIGILL",             "ill",    EndedBy::itself,       "Crash",          "Crashed: app bug",          false},
    {"SIGFPE",             "fpe",    EndedBy::itself,       "Crash",          "Crashed: app bug",          false},
    {"SIGTRAP",            "trap",   EndedBy::itself,       "Crash",          "Crashed: app bug",          false},
    {"failed assert",      "abort",  EndedBy::itself,       "Crash",          "Crashed: forced abort",     false},
    {"uncaught exception", "throw",  EndedBy::itself,       "Crash",          "Crashed: forced abort",     false},
    {"kill -9",            "wait",   EndedBy::sigkill,      "Killed",         "Unknown",                   true},
    {"SIGTERM",            "wait",   EndedBy::sigterm,      "Clean exit",     "Quit request",              true},
    {"exit 0",             "exit0",  EndedBy::itself,       "Clean exit",     "Quit request",              true},
    {"exit 1",             "exit1",  EndedBy::itself,       "Clean exit",     "Unknown",                   true},
    {"memory cgroup OOM",  "oom",    EndedBy::memoryCgroup, "Killed",         "Killed: memory pressure",   false},
    {"missing library",    "",       EndedBy::itself,       "Launch blocked", "Dynamic loader failure",    false},
    {"crashing helper",    "helper", EndedBy::itself,       "Clean exit",     "Dependency/helper failure", false},
    {"KWin terminate",     "wait",   EndedBy::unresponsive, "Killed",         "Killed: unresponsive",      false},
};
// clang-format on

// The two naming styles of desktop-file IDs, each with its own copy of the programs.
struct Style
{
    const char* directory;
    const char* appId;
    const char* brokenId; // the entry whose program needs a missing library
};
const std::vector<Style> kStyles{
    {"plain", "notes-bin", "broken-bin"},
    {"reverse-dns", "org.example.Notes", "org.example.Broken"},
};

std::string run(const std::string& commandLine)
{
    std::string out;
    if (FILE* pipe = popen(commandLine.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

// The entries Exitwise wrote to the journal, one per recorded closure, by event id.
std::map<std::string, nlohmann::json> closureJournalEntries()
{
    std::map<std::string, nlohmann::json> entries;
    const std::string out = run("journalctl -o json --no-pager MESSAGE_ID=ef40f9b1c23147b79ce4aea7f9de707b");
    for (const std::string& line : nonEmptyLines(out)) {
        const auto entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_object() && entry.contains("EXITWISE_EVENT_ID")) {
            entries[entry["EXITWISE_EVENT_ID"].get<std::string>()] = entry;
        }
    }
    return entries;
}

std::string servicesState()
{
    return run(std::string(EXITWISE_CLOSURE_SERVICES) + " status 2>&1");
}

std::string bootId()
{
    std::string id = readFile("/proc/sys/kernel/random/boot_id");
    id.erase(std::remove_if(id.begin(), id.end(), [](char c) { return c == '-' || c == '\n'; }), id.end());
    return id;
}

// A memory cgroup (v1 or v2) with a small limit; absent where none can be made.
class MemoryCgroup
{
public:
    MemoryCgroup()
    {
        struct Hierarchy
        {
            fs::path root;
            const char* limitFile;
        };
        const std::string name = "exitwise-closures-" + std::to_string(getpid());
        for (const Hierarchy& hierarchy : {Hierarchy{"/sys/fs/cgroup/memory", "memory.limit_in_bytes"},
                                           Hierarchy{"/sys/fs/cgroup", "memory.max"}}) {
            std::error_code error;
            const fs::path group = hierarchy.root / name;
            if (!fs::exists(hierarchy.root / "cgroup.procs", error) || !fs::create_directory(group, error)) {
                continue;
            }
            std::ofstream(group / hierarchy.limitFile) << (64 << 20);
            if (readFile(group / hierarchy.limitFile).starts_with(std::to_string(64 << 20))) {
                m_path = group;
                return;
            }
            fs::remove(group, error);
        }
    }
    ~MemoryCgroup()
    {
        if (!m_path.empty()) {
            // The group can only go once its processes have.
            for (int i = 0; i < 50 && ::rmdir(m_path.c_str()) != 0; ++i) {
                std::this_thread::sleep_for(100ms);
            }
        }
    }
    [[nodiscard]] const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

struct Launched
{
    const Kind* kind = nullptr;
    const Style* style = nullptr;
    pid_t pid = -1;
    std::chrono::steady_clock::time_point endsAt;
};

class RealClosures : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string state = servicesState();
        if (state != "ready") {
            GTEST_SKIP()
                << "real closures need journald, systemd-coredump and the core pattern (start them as "
                   "root with tests/closures/closure-services start): "
                << state;
        }
        m_root = fs::path(::testing::TempDir()) / ("closures-" + std::to_string(getpid()));
        fs::remove_all(m_root);
        for (const char* directory : {"data", "share/applications", "empty", "cache"}) {
            fs::create_directories(m_root / directory);
        }
        for (const Style& style : kStyles) {
            const fs::path bin = m_root / style.directory;
            fs::create_directories(bin);
            // Each style runs its own copies: the same program at another path is another
            // application.
            fs::copy_file(EXITWISE_CLOSURE_APP, bin / "notes-bin");
            fs::copy_file(EXITWISE_CLOSURE_HELPER, bin / "notes-helper");
            fs::copy_file(EXITWISE_CLOSURE_NEEDS_LIBRARY, bin / "broken-bin");
            std::ofstream(m_root / "share/applications" / (std::string(style.appId) + ".desktop"))
                << "[Desktop Entry]\nType=Application\nName=Notes\nExec=" << (bin / "notes-bin").string()
                << " wait 0\n";
            std::ofstream(m_root / "share/applications" / (std::string(style.brokenId) + ".desktop"))
                << "[Desktop Entry]\nType=Application\nName=Broken Notes\nExec="
                << (bin / "broken-bin").string() << "\n";
        }
    }

    void TearDown() override
    {
        if (m_watcher > 0) {
            kill(m_watcher, SIGTERM);
            (void)waitForExit(m_watcher, 10s);
        }
        for (std::thread& reaper : m_reapers) {
            reaper.join();
        }
        // EXITWISE_KEEP_CLOSURES=1 leaves the data directory for `exitwise show`.
        if (const char* keep = std::getenv("EXITWISE_KEEP_CLOSURES");
            keep != nullptr && std::string(keep) == "1") {
            std::printf("kept %s\n", m_root.c_str());
            return;
        }
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    void startWatcher(bool pidfdExitInformation)
    {
        std::vector<std::string> environment{
            "EXITWISE_APP_SUPPORT_DIR=" + (m_root / "data").string(),
            "XDG_DATA_HOME=" + (m_root / "share").string(),
            "XDG_DATA_DIRS=" + (m_root / "empty").string(),
            "XDG_CACHE_HOME=" + (m_root / "cache").string(),
            "PATH=/usr/bin:/bin",
            "HOME=" + m_root.string(),
        };
        if (!pidfdExitInformation) {
            environment.emplace_back("EXITWISE_NO_PIDFD_EXIT=1");
        }
        m_watcher = spawnWithOutput({EXITWISE_BIN, "watch", "--json"}, m_root / "watch.jsonl",
                                    m_root / "watch.err", &environment);
        ASSERT_GT(m_watcher, 0);
        ASSERT_TRUE(waitFor([&] { return fs::exists(m_root / "data/product_events.jsonl"); }, 20s))
            << readFile(m_root / "watch.err");
        std::this_thread::sleep_for(700ms); // its first look at the running processes
    }

    // Starts `argv` as the desktop starts an application, and reaps it the moment it ends.
    pid_t
    launch(const std::string& desktopId, const std::vector<std::string>& args, const fs::path& cgroup = {})
    {
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const std::string procs = cgroup.empty() ? std::string() : (cgroup / "cgroup.procs").string();
        const pid_t pid = fork();
        if (pid == 0) {
            const int stream = sd_journal_stream_fd(desktopId.c_str(), LOG_INFO, 0);
            if (stream >= 0) {
                dup2(stream, STDOUT_FILENO);
                dup2(stream, STDERR_FILENO);
                close(stream);
            }
            if (!procs.empty()) {
                const int fd = open(procs.c_str(), O_WRONLY);
                const std::string self = std::to_string(getpid());
                if (fd < 0 || write(fd, self.data(), self.size()) < 0) {
                    _exit(126);
                }
                close(fd);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        m_reapers.emplace_back([pid] {
            int status = 0;
            waitpid(pid, &status, 0);
        });
        return pid;
    }

    void writeUnresponsiveMarker(pid_t pid)
    {
        const fs::path directory = m_root / "cache/drkonqi/application-not-responding";
        fs::create_directories(directory);
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        std::ofstream(directory
                      / ("notes-bin." + bootId() + "." + std::to_string(pid) + "."
                         + std::to_string(now.count()) + ".json"));
    }

    // What `exitwise show` prints of a recorded closure speaks of this system only.
    void expectLinuxWords(const std::string& id, const char* kind)
    {
        const std::string shown = run("EXITWISE_APP_SUPPORT_DIR='" + (m_root / "data").string() + "' "
                                      + EXITWISE_BIN + " show '" + id + "' 2>&1");
        EXPECT_NE(shown.find("What happened"), std::string::npos) << kind << ": " << shown;
        static const std::regex foreign(R"(macOS|\bMac\b|Finder|Gatekeeper|NSWorkspace|log show|\bdyld\b)");
        std::smatch found;
        EXPECT_FALSE(std::regex_search(shown, found, foreign)) << kind << ": \"" << found.str() << "\" in\n"
                                                               << shown;
    }

    // Runs every kind under both styles at once, then reads what `exitwise watch` recorded.
    // Returns the number of closures explained right; adds a failure for each wrong one that
    // `mustBeRight` selects, and for any High verdict that is wrong.
    int runAll(const std::function<bool(const Kind&)>& mustBeRight)
    {
        MemoryCgroup memory;
        std::vector<Launched> launched;
        for (const Style& style : kStyles) {
            const fs::path bin = m_root / style.directory;
            for (const Kind& kind : kKinds) {
                const int runFor =
                    kRunMilliseconds + static_cast<int>(launched.size()) * kStaggerMilliseconds;
                Launched closure{&kind, &style, -1,
                                 std::chrono::steady_clock::now() + std::chrono::milliseconds(runFor)};
                if (std::string(kind.mode).empty()) {
                    closure.pid = launch(style.brokenId, {(bin / "broken-bin").string()});
                } else if (kind.endedBy == EndedBy::memoryCgroup) {
                    if (memory.path().empty()) {
                        std::printf("skipped %s: no memory cgroup can be made here\n", kind.name);
                        continue;
                    }
                    closure.pid =
                        launch(style.appId, {(bin / "notes-bin").string(), kind.mode, std::to_string(runFor)},
                               memory.path());
                } else {
                    closure.pid =
                        launch(style.appId, {(bin / "notes-bin").string(), kind.mode, std::to_string(runFor),
                                             (bin / "notes-helper").string()});
                }
                launched.push_back(closure);
            }
        }
        for (const Launched& closure : launched) {
            if (closure.kind->endedBy == EndedBy::itself || closure.kind->endedBy == EndedBy::memoryCgroup) {
                continue;
            }
            std::this_thread::sleep_until(closure.endsAt);
            switch (closure.kind->endedBy) {
            case EndedBy::sigkill:
                kill(closure.pid, SIGKILL);
                break;
            case EndedBy::sigterm:
                kill(closure.pid, SIGTERM);
                break;
            case EndedBy::unresponsive:
                writeUnresponsiveMarker(closure.pid);
                kill(closure.pid, SIGABRT);
                break;
            case EndedBy::itself:
            case EndedBy::memoryCgroup:
                break;
            }
        }

        std::map<pid_t, nlohmann::json> recorded;
        waitFor(
            [&] {
                for (const std::string& line : nonEmptyLines(readFile(m_root / "watch.jsonl"))) {
                    const auto event = nlohmann::json::parse(line, nullptr, false);
                    if (event.is_object() && event.contains("pid")) {
                        recorded[event["pid"].get<pid_t>()] = event;
                    }
                }
                return std::all_of(launched.begin(), launched.end(),
                                   [&](const Launched& closure) { return recorded.count(closure.pid) > 0; });
            },
            30s);

        // Each recorded closure is also one structured entry in the system journal.
        std::map<std::string, nlohmann::json> journalEntries;
        waitFor(
            [&] {
                journalEntries = closureJournalEntries();
                return std::all_of(recorded.begin(), recorded.end(), [&](const auto& event) {
                    return journalEntries.count(event.second.value("id", "")) > 0;
                });
            },
            5s);

        int right = 0;
        std::printf("%-20s %-12s %-34s %s\n", "kind", "style", "expected", "recorded");
        for (const Launched& closure : launched) {
            const Kind& kind = *closure.kind;
            const std::string expected = std::string(kind.endState) + " · " + kind.cause;
            std::string got = "(not recorded)";
            std::string confidence;
            std::string raw;
            if (const auto it = recorded.find(closure.pid); it != recorded.end()) {
                const nlohmann::json& diagnosis = it->second["diagnosis"];
                got = diagnosis["endState"].get<std::string>() + " · "
                      + diagnosis["dominantCause"].get<std::string>();
                confidence = diagnosis["confidence"].get<std::string>();
                raw = it->second.value("terminationRawValue", "");
                for (const auto& signal : diagnosis.value("signalsUsed", nlohmann::json::array())) {
                    raw += "; " + signal.value("type", "");
                }
                EXPECT_EQ(it->second["bundleIdentifier"],
                          std::string(kind.mode).empty() ? closure.style->brokenId : closure.style->appId);
                expectLinuxWords(it->second.value("id", ""), kind.name);
                if (const auto entry = journalEntries.find(it->second.value("id", ""));
                    entry == journalEntries.end()) {
                    ADD_FAILURE() << kind.name << " (" << closure.style->appId
                                  << "): no entry in the journal";
                } else {
                    EXPECT_EQ(entry->second.value("MESSAGE", ""),
                              it->second.value("appName", "") + " ended: " + got + " · " + confidence)
                        << kind.name;
                    EXPECT_EQ(entry->second.value("EXITWISE_CAUSE", ""), diagnosis["dominantCause"])
                        << kind.name;
                    EXPECT_EQ(entry->second.value("EXITWISE_PID", ""), std::to_string(closure.pid))
                        << kind.name;
                }
            }
            const bool isRight = got == expected;
            right += isRight ? 1 : 0;
            std::printf("%-20s %-12s %-34s %s%s%s [%s]\n", kind.name, closure.style->directory,
                        expected.c_str(), got.c_str(), confidence.empty() ? "" : " · ", confidence.c_str(),
                        raw.c_str());
            if (!isRight && mustBeRight(kind)) {
                ADD_FAILURE() << kind.name << " (" << closure.style->appId << "): expected " << expected
                              << ", got " << got << " · " << confidence << " [" << raw << "]";
            }
            if (!isRight && confidence == "High") {
                ADD_FAILURE() << kind.name << " (" << closure.style->appId
                              << "): a wrong verdict called High: " << got;
            }
        }
        std::printf("right: %d of %zu\n", right, launched.size());
        return right;
    }

    fs::path m_root;
    pid_t m_watcher = -1;
    std::vector<std::thread> m_reapers;
};

TEST_F(RealClosures, ExplainedWithTheExitStatus)
{
    startWatcher(true);
    runAll([](const Kind&) { return true; });
}

// As on a kernel without pidfd exit information (Debian 12's 6.1): the exit status is read only
// if the process is still a zombie when we look. Crashes and the other closures the system keeps
// a record of must still be right.
TEST_F(RealClosures, ExplainedWithoutPidfdExitInformation)
{
    startWatcher(false);
    runAll([](const Kind& kind) { return !kind.needsExitStatus; });
}

} // namespace
} // namespace exitwise::test
