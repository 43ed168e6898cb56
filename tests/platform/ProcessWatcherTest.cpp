// SPDX-License-Identifier: MIT
// The watcher against real processes: a test desktop entry runs exitwise_test_app.
#include "platform/linux/ProcessWatcher.h"

#include "platform/linux/PlatformFactory.h"
#include "platform/linux/ProcfsReader.h"
#include "support/ChildProcess.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/PlatformFixtures.h"

#include <QCoreApplication>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>
#include <string>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

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

// A child process with its standard output in a file of its own; killed and reaped if the test
// leaves it.
class Child
{
public:
    explicit Child(const std::vector<std::string>& argv)
        : m_out(fs::temp_directory_path()
                / ("exitwise-child-" + std::to_string(getpid()) + "-" + std::to_string(++s_count)))
    {
        m_pid = test::spawnWithOutput(argv, m_out, "/dev/null");
    }

    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            wait();
        }
        std::error_code ignored;
        fs::remove(m_out, ignored);
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Waits until it has ended without reaping it: it stays a zombie.
    [[nodiscard]] bool waitUntilZombie() const
    {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT) == 0;
    }

    [[nodiscard]] pid_t pid() const { return m_pid; }

    [[nodiscard]] std::string readLine() const
    {
        std::string text;
        (void)test::waitFor(
            [&] {
                text = test::readFile(m_out);
                return text.find('\n') != std::string::npos;
            },
            5s);
        return text.substr(0, text.find('\n'));
    }

    void wait() { waitpid(std::exchange(m_pid, -1), nullptr, 0); }

private:
    static inline std::atomic<int> s_count = 0;
    fs::path m_out;
    pid_t m_pid = -1;
};

double secondsSince1970()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

using Notices = std::vector<std::pair<bool, app::RunningApplication>>;

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
        for (const bool launched : {true, false}) {
            QObject::connect(m_watcher.get(),
                             launched ? &app::WorkspaceEvents::applicationLaunched
                                      : &app::WorkspaceEvents::applicationTerminated,
                             [this, launched](const app::RunningApplication& application) {
                                 m_events.push_back({launched, application, Clock::now()});
                             });
        }
        m_watcher->start();
        return *m_watcher;
    }

    [[nodiscard]] std::optional<Event> find(bool launched, pid_t pid) const
    {
        const auto it = std::find_if(m_events.begin(), m_events.end(), [&](const Event& event) {
            return event.launched == launched && event.application.pid == pid;
        });
        return it == m_events.end() ? std::nullopt : std::optional<Event>(*it);
    }

    std::optional<Event> waitFor(bool launched, pid_t pid)
    {
        (void)waitUntil([&] { return find(launched, pid).has_value(); });
        return find(launched, pid);
    }

    // Each notice about the process: whether a launch, and the application.
    [[nodiscard]] Notices noticesFor(pid_t pid) const
    {
        Notices result;
        for (const Event& event : m_events) {
            if (event.application.pid == pid) {
                result.emplace_back(event.launched, event.application);
            }
        }
        return result;
    }

    // The test app as the kernel names it: its file, its name cut to 15 bytes, and the test's own
    // control group, which its children share.
    [[nodiscard]] app::RunningApplication expected(pid_t pid,
                                                   std::optional<core::ProcessExit> exit = std::nullopt) const
    {
        core::ProcessFacts facts{std::move(exit), fs::canonical(m_program).string(), "exitwise_test_a",
                                 unifiedCgroupPath(test::readFile("/proc/self/cgroup")), false};
        return {"Exitwise-Testprogramm", kAppId, pid, m_entryPath.string(), std::move(facts)};
    }

    const test::TempDir m_temp{"exitwise-watch"};
    const fs::path& m_root = m_temp.path();
    std::string m_program;
    fs::path m_entryPath;
    std::unique_ptr<ProcessWatcher> m_watcher;
    std::vector<Event> m_events; // other tests' helpers may show up too: always look by pid
};

// Without pidfds the next scan finds the zombie and reads how it ended; ends through pidfds are
// proven end to end by the real closures.
TEST_F(ProcessWatcherTest, ScansWithoutPidfdsNoticeLaunchAndEnd)
{
    startWatcher([](ProcessWatcherOptions& options) { options.usePidfd = false; });
    Child app({m_program, "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    const std::optional<Event> launched = waitFor(true, app.pid());
    ASSERT_TRUE(launched);
    EXPECT_EQ(launched->application, expected(app.pid()));
    const Clock::time_point ended = Clock::now();
    kill(app.pid(), SIGKILL);
    const std::optional<Event> terminated = waitFor(false, app.pid());
    ASSERT_TRUE(terminated);
    EXPECT_EQ(terminated->application, expected(app.pid(), core::ProcessExit::signaled("SIGKILL", false)));
    EXPECT_LT(terminated->at - ended, 100ms);
}

// Its own marker marks the first application; each of the second's would mark it wrongly if one
// part were not compared: another pid, another program, another boot, from before it started.
TEST_F(ProcessWatcherTest, KWinsMarkerOfAnUnresponsiveApplicationIsNoticed)
{
    const fs::path markers = m_root / "markers";
    fs::create_directories(markers);
    startWatcher([&](ProcessWatcherOptions& options) { options.unresponsiveMarkers = markers; });
    std::string bootId = test::readFile("/proc/sys/kernel/random/boot_id");
    std::erase_if(bootId, [](char c) { return c == '-' || c == '\n'; });
    const auto mark = [&](const std::string& program, const std::string& boot, pid_t pid, double age) {
        const auto ms = std::to_string(static_cast<long long>((secondsSince1970() - age) * 1000));
        std::ofstream(markers / (program + "." + boot + "." + std::to_string(pid) + "." + ms + ".json"))
            .flush();
    };
    for (const bool own : {true, false}) {
        Child app({m_program, "sleep"});
        ASSERT_EQ(app.readLine(), "ready 0");
        ASSERT_TRUE(waitFor(true, app.pid()));
        if (own) {
            mark("exitwise_test_app", bootId, app.pid(), 0);
        } else {
            mark("exitwise_test_app", bootId, app.pid() + 1, 0);
            mark("kate", bootId, app.pid(), 0);
            mark("exitwise_test_app", "0123456789abcdef0123456789abcdef", app.pid(), 0);
            mark("exitwise_test_app", bootId, app.pid(), 3600);
        }
        kill(app.pid(), SIGKILL);
        const std::optional<Event> terminated = waitFor(false, app.pid());
        ASSERT_TRUE(terminated);
        EXPECT_EQ(terminated->application.process.endedUnresponsive, own);
    }
}

// Tracked from the start without a launch; once stopped, its end is not reported either.
TEST_F(ProcessWatcherTest, AnApplicationRunningBeforeStartIsTrackedWithoutALaunchUntilStop)
{
    Child early({m_program, "sleep"});
    ASSERT_EQ(early.readLine(), "ready 0");
    ProcessWatcher& watcher = startWatcher();
    const std::vector<app::RunningApplication> running = watcher.runningApplications();
    EXPECT_NE(std::find(running.begin(), running.end(), expected(early.pid())), running.end());
    watcher.stop();
    kill(early.pid(), SIGKILL);
    early.wait();
    runEventsFor(150ms);
    EXPECT_TRUE(noticesFor(early.pid()).empty());
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
        Child app({m_program, "exit", "127"});
        const pid_t pid = app.pid();
        if (c.reaped) {
            app.wait();
        } else {
            ASSERT_TRUE(app.waitUntilZombie());
        }
        watcher.noticeApplicationOutput(c.identifier, pid, secondsSince1970());
        watcher.noticeApplicationOutput(c.identifier, pid, secondsSince1970()); // reported once
        runEventsFor(20ms);
        app::RunningApplication launched{"Exitwise-Testprogramm", kAppId, pid, m_entryPath.string(), {}};
        launched.process.command = c.reaped ? "" : "exitwise_test_a";
        app::RunningApplication terminated = launched;
        terminated.process.exit = c.exit;
        EXPECT_EQ(noticesFor(pid), (c.exit ? Notices{{true, launched}, {false, terminated}} : Notices{}));
    }
}

// A line of a process that lives, of one that handed its request over to the running instance
// (a single-instance application launched again) or of one whose end was reported already adds
// nothing.
TEST_F(ProcessWatcherTest, AStreamLineWhileTheApplicationRuns)
{
    ProcessWatcher& watcher = startWatcher([](ProcessWatcherOptions& options) { options.scanInterval = 1h; });

    // Alive: the scan it causes finds it as usual.
    Child first({m_program, "sleep"});
    ASSERT_EQ(first.readLine(), "ready 0");
    watcher.noticeApplicationOutput(kAppId, first.pid(), secondsSince1970());
    EXPECT_EQ(noticesFor(first.pid()).size(), 1U);
    EXPECT_TRUE(find(true, first.pid()));

    // A second launch that hands over to the running instance.
    Child second({m_program, "exit", "0"});
    const pid_t secondPid = second.pid();
    second.wait();
    watcher.noticeApplicationOutput(kAppId, secondPid, secondsSince1970());
    EXPECT_TRUE(noticesFor(secondPid).empty());

    // A launch that failed long before the running instance started is reported (a follower that
    // fell behind).
    Child failed({m_program, "exit", "1"});
    const pid_t failedPid = failed.pid();
    failed.wait();
    watcher.noticeApplicationOutput(kAppId, failedPid, secondsSince1970() - 10);
    EXPECT_EQ(noticesFor(failedPid).size(), 2U);

    // The instance ends; its first line arrives after its termination was reported.
    const double lineTime = secondsSince1970();
    kill(first.pid(), SIGKILL);
    ASSERT_TRUE(waitFor(false, first.pid()));
    watcher.noticeApplicationOutput(kAppId, first.pid(), lineTime);
    runEventsFor(20ms);
    EXPECT_EQ(noticesFor(first.pid()).size(), 2U);
}

TEST(ProcessWatcherOptions, ComeFromTheEnvironment)
{
    const std::string anr = "/drkonqi/application-not-responding";
    const struct
    {
        const char* noExit;
        const char* cache;
        const char* home;
        const char* journalDir;
        bool pidfdExitInfo;
        fs::path markers;
        std::optional<fs::path> journal;
    } cases[] = {
        // clang-format off
        {nullptr, "/home/ann/cache", "/home/ann", nullptr, true, "/home/ann/cache" + anr, std::nullopt},
        {"1", nullptr, "/home/ann", "/tmp/journal", false, "/home/ann/.cache" + anr, "/tmp/journal"},
        {"0", "relative/cache", "/home/bob", "", true, "/home/bob/.cache" + anr, std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        const test::ScopedEnvironment noExit("EXITWISE_NO_PIDFD_EXIT", c.noExit);
        const test::ScopedEnvironment cache("XDG_CACHE_HOME", c.cache);
        const test::ScopedEnvironment home("HOME", c.home);
        const test::ScopedEnvironment journal("EXITWISE_JOURNAL_DIR", c.journalDir);
        const ProcessWatcherOptions options = ProcessWatcherOptions::fromEnvironment();
        // The launcher streams are followed in the journal the rest of the evidence comes from.
        EXPECT_EQ(std::tuple(options.pidfdExitInfo, options.unresponsiveMarkers,
                             options.followLauncherStreams, options.launcherJournal),
                  std::tuple(c.pidfdExitInfo, c.markers, true, c.journal));
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
