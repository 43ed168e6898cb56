// SPDX-License-Identifier: MIT
// The watcher against real processes: a test desktop entry runs exitwise_test_app.
#include "platform/linux/ProcessWatcher.h"

#include "platform/linux/PlatformFactory.h"

#include <QCoreApplication>

#include <sys/wait.h>

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
#include <unistd.h>
#include <vector>

extern char** environ;

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kTestApp = EXITWISE_TEST_APP;
const std::string kAppId = "org.exitwise.TestApp";

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

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
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

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
        m_entryPath = m_root / "applications" / (kAppId + ".desktop");
        std::ofstream(m_entryPath) << "[Desktop Entry]\nType=Application\nName=Exitwise Test App\n"
                                      "Name[de]=Exitwise-Testprogramm\nExec=\""
                                   << kTestApp << "\" sleep %U\n";
    }

    void TearDown() override
    {
        m_watcher.reset();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    ProcessWatcher& startWatcher(bool usePidfd = true)
    {
        ProcessWatcherOptions options;
        options.desktop.applicationDirs = {m_root / "applications"};
        options.desktop.messagesLocale = "de_DE.UTF-8";
        options.scanInterval = 50ms;
        options.usePidfd = usePidfd;
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

    [[nodiscard]] app::RunningApplication expected(pid_t pid) const
    {
        return {"Exitwise-Testprogramm", kAppId, pid, m_entryPath.string(), {}};
    }

    fs::path m_root;
    fs::path m_entryPath;
    std::unique_ptr<ProcessWatcher> m_watcher;
    std::vector<Event> m_events; // other tests' helpers may show up too: always look by pid
};

TEST_F(ProcessWatcherTest, LaunchAndEveryKindOfEndAreNoticed)
{
    startWatcher();
    const struct
    {
        const char* what;
        int signal;
        std::function<bool(int)> endedAsExpected;
    } cases[] = {
        {"SIGKILL", SIGKILL, [](int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }},
        {"a crash", SIGUSR2, [](int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV; }},
        {"a normal exit", SIGUSR1, [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Child app({kTestApp, "sleep"});
        ASSERT_EQ(app.readLine(), "ready 0");
        const std::optional<Event> launched = waitFor(true, app.pid());
        ASSERT_TRUE(launched);
        EXPECT_EQ(launched->application, expected(app.pid()));

        const Clock::time_point ended = Clock::now();
        kill(app.pid(), c.signal);
        const std::optional<Event> terminated = waitFor(false, app.pid());
        ASSERT_TRUE(terminated);
        EXPECT_EQ(terminated->application, expected(app.pid()));
        EXPECT_LT(terminated->at - ended, 100ms);
        EXPECT_TRUE(c.endedAsExpected(app.wait()));
    }
}

TEST_F(ProcessWatcherTest, AChildOfTheApplicationIsNotReportedSeparately)
{
    startWatcher();
    Child app({kTestApp, "parent"});
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
    Child app({kTestApp, "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ASSERT_TRUE(waitFor(true, app.pid()));
    runEventsFor(200ms);
    EXPECT_FALSE(find(true, other.pid()));
}

TEST_F(ProcessWatcherTest, AnApplicationRunningBeforeStartIsTrackedWithoutALaunch)
{
    Child app({kTestApp, "sleep"});
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
    startWatcher(false);
    Child app({kTestApp, "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ASSERT_TRUE(waitFor(true, app.pid()));
    const Clock::time_point ended = Clock::now();
    kill(app.pid(), SIGKILL);
    const std::optional<Event> terminated = waitFor(false, app.pid());
    ASSERT_TRUE(terminated);
    EXPECT_LT(terminated->at - ended, 100ms);
}

TEST_F(ProcessWatcherTest, AStoppedWatcherReportsNothing)
{
    ProcessWatcher& watcher = startWatcher();
    Child app({kTestApp, "sleep"});
    ASSERT_EQ(app.readLine(), "ready 0");
    ASSERT_TRUE(waitFor(true, app.pid()));
    watcher.stop();
    kill(app.pid(), SIGKILL);
    (void)app.wait();
    runEventsFor(150ms);
    EXPECT_FALSE(find(false, app.pid()));
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
