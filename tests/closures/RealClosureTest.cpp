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
#include "support/CommandRunner.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

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
        const std::string state = runCommand(EXITWISE_CLOSURE_SERVICES " status 2>&1").out;
        if (state != "ready\n") {
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
        // The group can only go once its processes have.
        if (!m_cgroup.empty()) {
            waitFor([&] { return ::rmdir(m_cgroup.c_str()) == 0; }, 5s);
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

    // Starts `args` as the desktop starts an application: its output in the journal under the
    // desktop-file ID (systemd-cat runs it in its own place), reaped the moment it ends.
    pid_t launch(const std::string& desktopId, std::vector<std::string> args, const fs::path& cgroup = {})
    {
        args.insert(args.begin(), {"/usr/bin/systemd-cat", "-t", desktopId});
        const pid_t pid = spawnWithOutput(args, "/dev/null");
        // Long before it starts to allocate.
        if (!cgroup.empty()) {
            std::ofstream(cgroup / "cgroup.procs") << pid;
        }
        m_reapers.emplace_back([pid] { waitpid(pid, nullptr, 0); });
        return pid;
    }

    // The marker KWin leaves for DrKonqi when it terminates a window that stopped responding.
    void writeUnresponsiveMarker(pid_t pid)
    {
        const fs::path directory = m_root / "cache/drkonqi/application-not-responding";
        fs::create_directories(directory);
        std::string boot = readFile("/proc/sys/kernel/random/boot_id");
        std::erase_if(boot, [](char c) { return c == '-' || c == '\n'; });
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        std::ofstream(directory
                      / ("notes-bin." + boot + "." + std::to_string(pid) + "." + std::to_string(now.count())
                         + ".json"));
    }

    // A memory cgroup (v1 or v2) with a small limit; empty where none can be made.
    static fs::path makeMemoryCgroup()
    {
        const std::string name = "exitwise-closures-" + std::to_string(getpid());
        const std::string limit = std::to_string(64 << 20);
        for (const auto& [root, limitFile] : std::initializer_list<std::pair<fs::path, const char*>>{
                 {"/sys/fs/cgroup/memory", "memory.limit_in_bytes"}, {"/sys/fs/cgroup", "memory.max"}}) {
            std::error_code error;
            const fs::path group = root / name;
            if (fs::exists(root / "cgroup.procs", error) && fs::create_directory(group, error)) {
                std::ofstream(group / limitFile) << limit;
                if (readFile(group / limitFile).starts_with(limit)) {
                    return group;
                }
                fs::remove(group, error);
            }
        }
        return {};
    }

    // What `exitwise show` prints of a recorded closure speaks of this system only.
    void expectLinuxWords(const std::string& id)
    {
        const std::string shown = runCommand("EXITWISE_APP_SUPPORT_DIR='" + (m_root / "data").string() + "' "
                                             + EXITWISE_BIN + " show '" + id + "' 2>&1")
                                      .out;
        EXPECT_NE(shown.find("What happened"), std::string::npos) << shown;
        static const std::regex foreign(R"(macOS|\bMac\b|Finder|Gatekeeper|NSWorkspace|log show|\bdyld\b)");
        std::smatch found;
        EXPECT_FALSE(std::regex_search(shown, found, foreign)) << "\"" << found.str() << "\" in\n" << shown;
    }

    // Starts every kind under both styles at once and ends them as they end.
    std::vector<Launched> launchAll()
    {
        m_cgroup = makeMemoryCgroup();
        std::vector<Launched> launched;
        for (const Style& style : kStyles) {
            const fs::path bin = m_root / style.directory;
            for (const Kind& kind : kKinds) {
                const int runFor =
                    kRunMilliseconds + static_cast<int>(launched.size()) * kStaggerMilliseconds;
                Launched closure{&kind, &style, -1,
                                 std::chrono::steady_clock::now() + std::chrono::milliseconds(runFor)};
                const std::vector<std::string> args{(bin / "notes-bin").string(), kind.mode,
                                                    std::to_string(runFor), (bin / "notes-helper").string()};
                const bool inCgroup = kind.endedBy == EndedBy::memoryCgroup;
                if (inCgroup && m_cgroup.empty()) {
                    std::printf("skipped %s: no memory cgroup can be made here\n", kind.name);
                    continue;
                }
                closure.pid = *kind.mode == '\0'
                                  ? launch(style.brokenId, {(bin / "broken-bin").string()})
                                  : launch(style.appId, args, inCgroup ? m_cgroup : fs::path());
                launched.push_back(closure);
            }
        }
        for (const Launched& closure : launched) {
            const EndedBy by = closure.kind->endedBy;
            if (by == EndedBy::itself || by == EndedBy::memoryCgroup) {
                continue;
            }
            std::this_thread::sleep_until(closure.endsAt);
            if (by == EndedBy::unresponsive) {
                writeUnresponsiveMarker(closure.pid);
            }
            kill(closure.pid, by == EndedBy::sigkill ? SIGKILL : by == EndedBy::sigterm ? SIGTERM : SIGABRT);
        }
        return launched;
    }

    // Runs every kind under both styles, then reads what `exitwise watch` recorded: a failure for
    // each wrong verdict that `mustBeRight` selects, and for any High verdict that is wrong.
    void runAll(const std::function<bool(const Kind&)>& mustBeRight)
    {
        const std::vector<Launched> launched = launchAll();
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
        // Each recorded closure is also one structured entry in the system journal, by event id.
        std::map<std::string, nlohmann::json> journal;
        waitFor(
            [&] {
                const std::string out =
                    runCommand("journalctl -o json --no-pager MESSAGE_ID=ef40f9b1c23147b79ce4aea7f9de707b")
                        .out;
                for (const std::string& line : nonEmptyLines(out)) {
                    const auto entry = nlohmann::json::parse(line, nullptr, false);
                    if (entry.is_object()) {
                        journal[entry.value("EXITWISE_EVENT_ID", "")] = entry;
                    }
                }
                return std::all_of(recorded.begin(), recorded.end(), [&](const auto& event) {
                    return journal.count(event.second.value("id", "")) > 0;
                });
            },
            5s);

        for (const Launched& closure : launched) {
            const Kind& kind = *closure.kind;
            SCOPED_TRACE(std::string(kind.name) + " (" + closure.style->appId + ")");
            const std::string expected = std::string(kind.endState) + " · " + kind.cause;
            const auto it = recorded.find(closure.pid);
            if (it == recorded.end()) {
                EXPECT_FALSE(mustBeRight(kind)) << "not recorded";
                continue;
            }
            const nlohmann::json& event = it->second;
            const nlohmann::json& diagnosis = event["diagnosis"];
            const std::string got = diagnosis["endState"].get<std::string>() + " · "
                                    + diagnosis["dominantCause"].get<std::string>();
            const std::string confidence = diagnosis["confidence"].get<std::string>();
            std::string raw = event.value("terminationRawValue", "");
            for (const auto& signal : diagnosis.value("signalsUsed", nlohmann::json::array())) {
                raw += "; " + signal.value("type", "");
            }
            std::printf("%-20s %-12s %-34s %s · %s [%s]\n", kind.name, closure.style->directory,
                        expected.c_str(), got.c_str(), confidence.c_str(), raw.c_str());
            if (got != expected) {
                EXPECT_FALSE(mustBeRight(kind))
                    << "expected " << expected << ", got " << got << " [" << raw << "]";
                EXPECT_NE(confidence, "High") << "a wrong verdict called High: " << got;
            }
            EXPECT_EQ(event["bundleIdentifier"],
                      *kind.mode == '\0' ? closure.style->brokenId : closure.style->appId);
            expectLinuxWords(event.value("id", ""));
            EXPECT_EQ(journal[event.value("id", "")]["MESSAGE"],
                      event.value("appName", "") + " ended: " + got + " · " + confidence);
        }
    }

    fs::path m_root;
    pid_t m_watcher = -1;
    std::vector<std::thread> m_reapers;
    fs::path m_cgroup;
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
