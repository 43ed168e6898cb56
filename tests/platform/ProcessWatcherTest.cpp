// SPDX-License-Identifier: MIT
// The watcher against real processes: a test desktop entry runs exitwise_test_app.
#include "platform/linux/ProcessWatcher.h"

#include "platform/linux/PidfdExit.h"
#include "platform/linux/PlatformFactory.h"
#include "support/ChildProcess.h"
#include "support/EventLoop.h"
#include "support/JournalFixture.h"

#include <QCoreApplication>

#include <sys/syscall.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace exitwise::app {
static void PrintTo(const RunningApplication& application, std::ostream* os)
{
    const core::ProcessFacts& facts = application.process;
    *os << "{" << application.localizedName.value_or("-") << ", "
        << application.bundleIdentifier.value_or("-") << ", pid " << application.pid << ", "
        << application.bundlePath.value_or("-") << ", exe " << facts.executable << ", comm " << facts.command
        << ", cgroup " << facts.cgroup << ", " << (facts.exit ? facts.exit->text() : "running")
        << (facts.endedUnresponsive ? ", unresponsive" : "") << "}";
}
} // namespace exitwise::app

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kTestApp = EXITWISE_TEST_APP;
const std::string kAppId = "org.exitwise.TestApp";

using test::waitUntil;

void runEventsFor(std::chrono::milliseconds duration)
{
    (void)waitUntil([] { return false; }, duration);
}

// A child process with its standard output on a pipe; killed and reaped if the test leaves it.
class Child
{
public:
    explicit Child(const std::vector<std::string>& argv)
    {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        // Under AddressSanitizer a crash must still end in SIGSEGV.
        std::vector<std::string> environment{"ASAN_OPTIONS=handle_segv=0"};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (std::strncmp(*variable, "ASAN_OPTIONS=", 13) != 0) {
                environment.emplace_back(*variable);
            }
        }
        std::vector<char*> args;
        for (const std::string& argument : argv) {
            args.push_back(const_cast<char*>(argument.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> env;
        for (std::string& variable : environment) {
            env.push_back(variable.data());
        }
        env.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv.front().c_str(), &actions, nullptr, args.data(), env.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }

    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            (void)wait();
        }
        if (m_out >= 0) {
            close(m_out);
        }
    }

    // Reaps the child the moment it ends, as a desktop shell does with the applications it started.
    void reapAtOnce()
    {
        m_reaper = std::thread([this] {
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_status = status;
        });
    }

    // Waits until it has ended without reaping it: it stays a zombie.
    [[nodiscard]] bool waitUntilZombie() const
    {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT) == 0;
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }

    std::string readLine(std::chrono::milliseconds limit = 5s) const
    {
        std::string line;
        const auto deadline = Clock::now() + limit;
        char c = 0;
        while (Clock::now() < deadline) {
            pollfd fd{m_out, POLLIN, 0};
            if (poll(&fd, 1, 50) == 1 && read(m_out, &c, 1) == 1) {
                if (c == '\n') {
                    return line;
                }
                line += c;
            }
        }
        return line;
    }

    // The wait status; the child is reaped.
    int wait()
    {
        int status = 0;
        if (m_reaper.joinable()) {
            m_reaper.join();
            status = m_status;
        } else {
            waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::thread m_reaper;
    int m_status = 0;
};

// Whether this kernel tells a pidfd's owner how a reaped process ended (Linux 6.15 and later).
bool kernelKeepsExitStatus()
{
    Child child({kTestApp, "exit", "0"});
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, child.pid(), 0));
    (void)child.wait();
    const bool known = fd >= 0 && readPidfdExit(fd).state == PidfdExit::State::ended;
    if (fd >= 0) {
        close(fd);
    }
    return known;
}

// The path of the unified hierarchy's line in a /proc/PID/cgroup file.
std::string unifiedCgroup(const fs::path& file)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("0::")) {
            return line.substr(3);
        }
    }
    return {};
}

double secondsSince1970()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Event
{
    bool launched = false;
    app::RunningApplication application;
    Clock::time_point at;
};

class ProcessWatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "exitwise-watch-XXXXXX").string();
        m_root = mkdtemp(pattern.data());
        fs::create_directories(m_root / "applications");
        // A copy of its own: the same program that tests running beside this one start is, at
        // another path, another application, so their processes never pass for an instance.
        fs::create_directories(m_root / "bin");
        m_program = (m_root / "bin" / fs::path(kTestApp).filename()).string();
        fs::copy_file(kTestApp, m_program);
        m_entryPath = m_root / "applications" / (kAppId + ".desktop");
        std::ofstream(m_entryPath) << "[Desktop Entry]\nType=Application\nName=Exitwise Test App\n"
                                      "Name[de]=Exitwise-Testprogramm\nExec=\""
                                   << m_program << "\" sleep %U\n";
    }

    void TearDown() override
    {
        m_watcher.reset();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    ProcessWatcher& startWatcher(const std::function<void(ProcessWatcherOptions&)>& adjust = {})
    {
        ProcessWatcherOptions options;
        options.desktop.applicationDirs = {m_root / "applications"};
        options.desktop.messagesLocale = "de_DE.UTF-8";
        options.scanInterval = 50ms;
        if (adjust) {
            adjust(options);
        }
        m_events.clear();
        m_watcher = std::make_unique<ProcessWatcher>(options);
        QObject::connect(m_watcher.get(), &app::WorkspaceEvents::applicationLaunched,
                         [this](const app::RunningApplication& a) {
                             m_events.push_back({true, a, Clock::now()});
                         });
        QObject::connect(m_watcher.get(), &app::WorkspaceEvents::applicationTerminated,
                         [this](const app::RunningApplication& a) {
                             m_events.push_back({false, a, Clock::now()});
                         });
        m_watcher->start();
        return *m_watcher;
    }

    [[nodiscard]] std::optional<Event> find(bool launched, pid_t pid) const
    {
        for (const Event& event : m_events) {
            if (event.launched == launched && event.application.pid == pid) {
                return event;
            }
        }
        return std::nullopt;
    }

    std::optional<Event> waitFor(bool launched, pid_t pid)
    {
        (void)waitUntil([&] { return find(launched, pid).has_value(); });
        return find(launched, pid);
    }

    [[nodiscard]] std::vector<Event> eventsFor(pid_t pid) const
    {
        std::vector<Event> result;
        std::copy_if(m_events.begin(), m_events.end(), std::back_inserter(result),
                     [pid](const Event& event) { return event.application.pid == pid; });
        return result;
    }

    // The test app as the kernel names it: its file, its name cut to 15 bytes, and the test's own
    // control group, which its children share.
    [[nodiscard]] app::RunningApplication expected(pid_t pid,
                                                   std::optional<core::ProcessExit> exit = std::nullopt) const
    {
        app::RunningApplication application{"Exitwise-Testprogramm", kAppId, pid, m_entryPath.string(), {}};
        application.process.executable = fs::canonical(program()).string();
        application.process.command = "exitwise_test_a";
        application.process.cgroup = unifiedCgroup("/proc/self/cgroup");
        application.process.exit = std::move(exit);
        return application;
    }

    [[nodiscard]] const std::string& program() const { return m_program; }

    fs::path m_root;
    std::string m_program;
    fs::path m_entryPath;
    std::unique_ptr<ProcessWatcher> m_watcher;
    std::vector<Event> m_events; // other tests' helpers may show up too: always look by pid
};

TEST_F(ProcessWatcherTest, LaunchAndEveryKindOfEndAreNoticed)
{
    using core::ProcessExit;
    for (const bool pidfdExitInfo : {true, false}) {
        SCOPED_TRACE(pidfdExitInfo ? "with pidfd exit information" : "from the zombie only");
        startWatcher([&](ProcessWatcherOptions& options) { options.pidfdExitInfo = pidfdExitInfo; });
        const struct
        {
            const char* what;
            int signal;
            ProcessExit exit;
        } cases[] = {
            {"SIGKILL", SIGKILL, ProcessExit::signaled("SIGKILL", false)},
            {"a crash", SIGUSR2, ProcessExit::signaled("SIGSEGV", false)}, // it turns core dumps off
            {"SIGTERM", SIGTERM, ProcessExit::signaled("SIGTERM", false)},
            {"a normal exit", SIGUSR1, ProcessExit::exited(0)},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            Child app({program(), "sleep"});
            ASSERT_EQ(app.readLine(), "ready 0");
            const std::optional<Event> launched = waitFor(true, app.pid());
            ASSERT_TRUE(launched);
            EXPECT_EQ(launched->application, expected(app.pid()));

            const Clock::time_point ended = Clock::now();
            kill(app.pid(), c.signal);
            const std::optional<Event> terminated = waitFor(false, app.pid());
            ASSERT_TRUE(terminated);
            EXPECT_EQ(terminated->application, expected(app.pid(), c.exit));
            EXPECT_LT(terminated->at - ended, 100ms);
            EXPECT_EQ(exitFromWaitStatus(app.wait()), c.exit) << "the test's own view";
        }
    }
}

// The parent reaps at once (as a desktop shell does): the pidfd still tells on kernels that keep
// the status for it; elsewhere the status is known only if the zombie was seen first.
TEST_F(ProcessWatcherTest, ExitStatusWhenTheParentReapsAtOnce)
{
    using core::ProcessExit;
    const bool kept = kernelKeepsExitStatus();
    for (const bool pidfdExitInfo : {true, false}) {
        SCOPED_TRACE(pidfdExitInfo ? "with pidfd exit information" : "from the zombie only");
        startWatcher([&](ProcessWatcherOptions& options) { options.pidfdExitInfo = pidfdExitInfo; });
        for (int round = 0; round < 5; ++round) {
            Child app({program(), "sleep"});
            ASSERT_EQ(app.readLine(), "ready 0");
            ASSERT_TRUE(waitFor(true, app.pid()));
            app.reapAtOnce();
            kill(app.pid(), SIGKILL);
            const std::optional<Event> terminated = waitFor(false, app.pid());
            ASSERT_TRUE(terminated);
            const ProcessExit killed = ProcessExit::signaled("SIGKILL", false);
            ASSERT_TRUE(terminated->application.process.exit);
            if (kept && pidfdExitInfo) {
                EXPECT_EQ(*terminated->application.process.exit, killed);
            } else {
                EXPECT_TRUE(*terminated->application.process.exit == killed
                            || *terminated->application.process.exit == ProcessExit::unknown())
                    << terminated->application.process.exit->text();
            }
            (void)app.wait();
        }
    }
}

TEST_F(ProcessWatcherTest, KWinsMarkerOfAnUnresponsiveApplicationIsNoticed)
{
    const fs::path markers = m_root / "markers";
    fs::create_directories(markers);
    startWatcher([&](ProcessWatcherOptions& options) { options.unresponsiveMarkers = markers; });
    std::string bootId = test::readFile("/proc/sys/kernel/random/boot_id");
    std::erase_if(bootId, [](char c) { return c == '-' || c == '\n'; });
    const auto ms = [](double seconds) { return std::to_string(static_cast<long long>(seconds * 1000)); };
    const struct
    {
        const char* what;
        std::function<std::string(pid_t)> marker; // file name; empty: none
        bool unresponsive;
    } cases[] = {
        // clang-format off
        {"no marker", [](pid_t) { return std::string(); }, false},
        {"its marker", [&](pid_t pid) { return "exitwise_test_app." + bootId + "." + std::to_string(pid) + "." + ms(secondsSince1970()) + ".json"; }, true},
        {"another pid", [&](pid_t pid) { return "exitwise_test_app." + bootId + "." + std::to_string(pid + 1) + "." + ms(secondsSince1970()) + ".json"; }, false},
        {"another program", [&](pid_t pid) { return "kate." + bootId + "." + std::to_string(pid) + "." + ms(secondsSince1970()) + ".json"; }, false},
        {"another boot", [&](pid_t pid) { return "exitwise_test_app.0123456789abcdef0123456789abcdef." + std::to_string(pid) + "." + ms(secondsSince1970()) + ".json"; }, false},
        {"before it started", [&](pid_t pid) { return "exitwise_test_app." + bootId + "." + std::to_string(pid) + "." + ms(secondsSince1970() - 3600) + ".json"; }, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Child app({program(), "sleep"});
        ASSERT_EQ(app.readLine(), "ready 0");
        ASSERT_TRUE(waitFor(true, app.pid()));
        if (const std::string name = c.marker(app.pid()); !name.empty()) {
            std::ofstream(markers / name).flush();
        }
        kill(app.pid(), SIGKILL);
        const std::optional<Event> terminated = waitFor(false, app.pid());
        ASSERT_TRUE(terminated);
        EXPECT_EQ(terminated->application.process.endedUnresponsive, c.unresponsive);
        for (const auto& item : fs::directory_iterator(markers)) {
            fs::remove(item.path());
        }
    }
}

TEST_F(ProcessWatcherTest, AChildOfTheApplicationIsNotReportedSeparately)
{
    startWatcher();
    Child app({program(), "parent"});
    const std::string ready = app.readLine();
    ASSERT_TRUE(ready.starts_with("ready "));
    const pid_t child = std::atoi(ready.c_str() + 6);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(waitFor(true, app.pid()));
    runEventsFor(300ms); // several scans
    EXPECT_FALSE(find(true, child));

    kill(child, SIGKILL);
    runEventsFor(150ms);
    EXPECT_FALSE(find(false, child));
    kill(app.pid(), SIGKILL);
    EXPECT_TRUE(waitFor(false, app.pid()));
}

TEST_F(ProcessWatcherTest, AProgramWithoutAnEntryIsIgnored)
{
    startWatcher();
    Child other({"sleep", "30"});
    Child app({program(), "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ASSERT_TRUE(waitFor(true, app.pid()));
    runEventsFor(200ms);
    EXPECT_FALSE(find(true, other.pid()));
}

TEST_F(ProcessWatcherTest, AnApplicationRunningBeforeStartIsTrackedWithoutALaunch)
{
    Child app({program(), "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ProcessWatcher& watcher = startWatcher();
    const std::vector<app::RunningApplication> running = watcher.runningApplications();
    EXPECT_NE(std::find(running.begin(), running.end(), expected(app.pid())), running.end());
    runEventsFor(150ms);
    EXPECT_FALSE(find(true, app.pid()));

    const Clock::time_point ended = Clock::now();
    kill(app.pid(), SIGKILL);
    const std::optional<Event> terminated = waitFor(false, app.pid());
    ASSERT_TRUE(terminated);
    EXPECT_LT(terminated->at - ended, 100ms);
}

TEST_F(ProcessWatcherTest, WithoutPidfdsTheNextScanNoticesTheExit)
{
    startWatcher([](ProcessWatcherOptions& options) { options.usePidfd = false; });
    Child app({program(), "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ASSERT_TRUE(waitFor(true, app.pid()));
    const Clock::time_point ended = Clock::now();
    kill(app.pid(), SIGKILL);
    const std::optional<Event> terminated = waitFor(false, app.pid());
    ASSERT_TRUE(terminated);
    EXPECT_LT(terminated->at - ended, 100ms);
    EXPECT_EQ(terminated->application, expected(app.pid(), core::ProcessExit::signaled("SIGKILL", false)))
        << "a zombie's stat tells how it ended";
}

TEST_F(ProcessWatcherTest, AStoppedWatcherReportsNothing)
{
    ProcessWatcher& watcher = startWatcher();
    Child app({program(), "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ASSERT_TRUE(waitFor(true, app.pid()));
    watcher.stop();
    kill(app.pid(), SIGKILL);
    (void)app.wait();
    runEventsFor(150ms);
    EXPECT_FALSE(find(false, app.pid()));
}

// Another copy of a program, at a path the entry does not name, is not that application.
TEST_F(ProcessWatcherTest, OnlyTheProgramTheEntryRunsIsTheApplication)
{
    const fs::path bin = m_root / "bin";
    fs::create_directories(bin);
    const fs::path copy = m_root / "copy" / fs::path(program()).filename();
    fs::create_directories(copy.parent_path());
    fs::copy_file(program(), copy);
    fs::create_symlink(program(), bin / "exitwise-test-link");
    const struct
    {
        const char* what;
        std::string exec;
        std::string program; // what runs
        bool application;
    } cases[] = {
        // clang-format off
        {"the installed program", "\"" + program() + "\" sleep", program(), true},
        {"a copy elsewhere", "\"" + program() + "\" sleep", copy.string(), false},
        {"a bare name through a symbolic link", "exitwise-test-link sleep", program(), true},
        {"the symbolic link itself", "exitwise-test-link sleep", (bin / "exitwise-test-link").string(), true},
        {"a copy of a bare name's program", "exitwise-test-link sleep", copy.string(), false},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(m_entryPath) << "[Desktop Entry]\nType=Application\nName=Exitwise Test App\n"
                                      "Name[de]=Exitwise-Testprogramm\nExec="
                                   << c.exec << "\n";
        startWatcher([&](ProcessWatcherOptions& options) { options.desktop.executableDirs = {bin}; });
        Child app({c.program, "sleep"});
        ASSERT_EQ(app.readLine(), "ready 0");
        // Several scans pass before a process counts as not reported.
        (void)waitUntil([&] { return find(true, app.pid()).has_value(); }, c.application ? 3s : 300ms);
        EXPECT_EQ(find(true, app.pid()).has_value(), c.application);
    }
}

// A launch that ends before any scan can see it is known from the line it wrote to the launcher's
// stream.
TEST_F(ProcessWatcherTest, AnApplicationGoneBeforeAnyScanIsReportedFromItsStream)
{
    using core::ProcessExit;
    const struct
    {
        const char* what;
        std::string identifier;
        bool reaped;
        std::optional<ProcessExit> exit; // nothing: not reported
    } cases[] = {
        // clang-format off
        {"a zombie", kAppId, false, ProcessExit::exited(127)},
        {"as GNOME Shell names the stream", kAppId + ".desktop", false, ProcessExit::exited(127)},
        {"reaped already", kAppId, true, ProcessExit::unknown()},
        {"not an application", "org.exitwise.Unknown", false, std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessWatcher& watcher =
            startWatcher([](ProcessWatcherOptions& options) { options.scanInterval = 1h; });
        Child app({program(), "exit", "127"});
        const pid_t pid = app.pid();
        if (c.reaped) {
            (void)app.wait();
        } else {
            ASSERT_TRUE(app.waitUntilZombie());
        }
        watcher.noticeApplicationOutput(c.identifier, pid, secondsSince1970());
        watcher.noticeApplicationOutput(c.identifier, pid, secondsSince1970()); // reported once
        runEventsFor(20ms);
        const std::vector<Event> events = eventsFor(pid);
        if (!c.exit) {
            EXPECT_TRUE(events.empty());
            continue;
        }
        ASSERT_EQ(events.size(), 2U);
        app::RunningApplication launched{"Exitwise-Testprogramm", kAppId, pid, m_entryPath.string(), {}};
        if (!c.reaped) {
            launched.process.command = "exitwise_test_a";
        }
        EXPECT_TRUE(events[0].launched);
        EXPECT_EQ(events[0].application, launched);
        app::RunningApplication terminated = launched;
        terminated.process.exit = c.exit;
        EXPECT_FALSE(events[1].launched);
        EXPECT_EQ(events[1].application, terminated);
    }
}

// A line of a process that lives, of one that handed its request over to the running instance
// (a single-instance application launched again) or of one whose end was reported already adds
// nothing.
TEST_F(ProcessWatcherTest, AStreamLineWhileTheApplicationRuns)
{
    ProcessWatcher& watcher = startWatcher([](ProcessWatcherOptions& options) { options.scanInterval = 1h; });

    // Alive: the scan it causes finds it as usual.
    Child first({program(), "sleep"});
    ASSERT_EQ(first.readLine(), "ready 0");
    watcher.noticeApplicationOutput(kAppId, first.pid(), secondsSince1970());
    EXPECT_EQ(eventsFor(first.pid()).size(), 1U);
    EXPECT_TRUE(find(true, first.pid()));

    // A second launch that hands over to the running instance.
    Child second({program(), "exit", "0"});
    const pid_t secondPid = second.pid();
    (void)second.wait();
    watcher.noticeApplicationOutput(kAppId, secondPid, secondsSince1970());
    EXPECT_TRUE(eventsFor(secondPid).empty());

    // A launch that failed long before the running instance started is reported (a follower that
    // fell behind).
    Child failed({program(), "exit", "1"});
    const pid_t failedPid = failed.pid();
    (void)failed.wait();
    watcher.noticeApplicationOutput(kAppId, failedPid, secondsSince1970() - 10);
    EXPECT_EQ(eventsFor(failedPid).size(), 2U);

    // The instance ends; its first line arrives after its termination was reported.
    const double lineTime = secondsSince1970();
    kill(first.pid(), SIGKILL);
    ASSERT_TRUE(waitFor(false, first.pid()));
    watcher.noticeApplicationOutput(kAppId, first.pid(), lineTime);
    runEventsFor(20ms);
    EXPECT_EQ(eventsFor(first.pid()).size(), 2U);
}

// The whole way: a journal line the follower reads names a launch that ended at once.
TEST_F(ProcessWatcherTest, FollowsTheLauncherStreamsInTheJournal)
{
    if (!test::JournalFixture::available()) {
        GTEST_SKIP() << test::JournalFixture::kRemoteTool << " is missing (package systemd-journal-remote)";
    }
    test::JournalFixture journal;
    ProcessWatcher& watcher = startWatcher([&](ProcessWatcherOptions& options) {
        options.scanInterval = 1h;
        options.followLauncherStreams = true;
        options.launcherJournal = journal.directory();
    });
    ASSERT_TRUE(watcher.isFollowingLauncherStreams());
    Child app({program(), "exit", "127"});
    ASSERT_TRUE(app.waitUntilZombie());
    test::JournalFields line{
        secondsSince1970(),
        {{"SYSLOG_IDENTIFIER", kAppId + ".desktop"},
         {"_PID", std::to_string(app.pid())},
         {"_UID", std::to_string(getuid())},
         {"_TRANSPORT", "stdout"},
         {"MESSAGE", "exitwise_test_app: error while loading shared libraries: libx.so.1"}}};
    ASSERT_EQ(journal.writeFields({line}, "launch.journal"), "");
    const std::optional<Event> terminated = waitFor(false, app.pid());
    ASSERT_TRUE(terminated);
    EXPECT_EQ(terminated->application.process.exit, core::ProcessExit::exited(127));
    EXPECT_TRUE(find(true, app.pid()));
}

TEST(ProcessWatcherOptions, ComeFromTheEnvironment)
{
    const std::array<const char*, 4> names{"EXITWISE_NO_PIDFD_EXIT", "XDG_CACHE_HOME", "HOME",
                                           "EXITWISE_JOURNAL_DIR"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    auto set = [&](std::size_t i, const char* value) {
        value ? setenv(names[i], value, 1) : unsetenv(names[i]);
    };
    const struct
    {
        std::array<const char*, 4> values;
        bool pidfdExitInfo;
        fs::path markers;
        std::optional<fs::path> journal;
    } cases[] = {
        // clang-format off
        {{nullptr, "/home/ann/cache", "/home/ann", nullptr}, true, "/home/ann/cache/drkonqi/application-not-responding", std::nullopt},
        {{"1", nullptr, "/home/ann", "/tmp/journal"}, false, "/home/ann/.cache/drkonqi/application-not-responding", "/tmp/journal"},
        {{"0", "relative/cache", "/home/bob", ""}, true, "/home/bob/.cache/drkonqi/application-not-responding", std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            set(i, c.values[i]);
        }
        const ProcessWatcherOptions options = ProcessWatcherOptions::fromEnvironment();
        EXPECT_EQ(options.pidfdExitInfo, c.pidfdExitInfo) << c.markers;
        EXPECT_EQ(options.unresponsiveMarkers, c.markers);
        EXPECT_TRUE(options.followLauncherStreams);
        // The launcher streams are followed in the journal the rest of the evidence comes from.
        EXPECT_EQ(options.launcherJournal, c.journal);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        set(i, saved[i] ? saved[i]->c_str() : nullptr);
    }
    EXPECT_FALSE(ProcessWatcherOptions().followLauncherStreams) << "tests ask for it";
}

TEST(PlatformFactory, StartsTheWorkspaceBackendsEvenWithoutLogind)
{
    const std::unique_ptr<app::WorkspaceEvents> events = createWorkspaceEvents();
    const auto* watcher = dynamic_cast<const ProcessWatcher*>(events.get());
    ASSERT_NE(watcher, nullptr);
    EXPECT_TRUE(watcher->isRunning());
}

} // namespace
} // namespace exitwise::platform
