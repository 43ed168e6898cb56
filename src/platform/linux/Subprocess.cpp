// SPDX-License-Identifier: MIT
#include "platform/linux/Subprocess.h"

#include <sys/syscall.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

namespace exitwise::platform {

namespace {

using Clock = std::chrono::steady_clock;

class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

struct Pipe
{
    FileDescriptor read;
    FileDescriptor write;
};

// Close-on-exec, so a child that another thread spawns meanwhile cannot inherit our end.
bool openPipe(Pipe& pipe)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
    const int flags = ::fcntl(pipe.read.get(), F_GETFL);
    return flags >= 0 && ::fcntl(pipe.read.get(), F_SETFL, flags | O_NONBLOCK) == 0;
}

class SpawnSetup
{
public:
    SpawnSetup()
    {
        m_ok = ::posix_spawn_file_actions_init(&m_actions) == 0;
        m_ok = ::posix_spawnattr_init(&m_attributes) == 0 && m_ok;
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup()
    {
        ::posix_spawn_file_actions_destroy(&m_actions);
        ::posix_spawnattr_destroy(&m_attributes);
    }

    bool configure(int outFd, int errFd)
    {
        if (!m_ok) {
            return false;
        }
        sigset_t noSignals;
        sigemptyset(&noSignals);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2}) {
            sigaddset(&defaults, signal);
        }
        const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        return ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0
               && ::posix_spawn_file_actions_adddup2(&m_actions, outFd, STDOUT_FILENO) == 0
               && ::posix_spawn_file_actions_adddup2(&m_actions, errFd, STDERR_FILENO) == 0
               // Descriptors that others opened without close-on-exec must not reach the child either.
               && ::posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1) == 0
               && ::posix_spawnattr_setflags(&m_attributes, flags) == 0
               && ::posix_spawnattr_setpgroup(&m_attributes, 0) == 0
               && ::posix_spawnattr_setsigmask(&m_attributes, &noSignals) == 0
               && ::posix_spawnattr_setsigdefault(&m_attributes, &defaults) == 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attributes{};
    bool m_ok = false;
};

std::vector<std::string> childEnvironment(const std::vector<std::string>& overrides)
{
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> result;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string current(*entry);
        const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                          [&](const std::string& o) { return nameOf(o) == nameOf(current); });
        if (!replaced) {
            result.push_back(current);
        }
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

// One end of a pipe we read from until it reports end of file.
struct Reader
{
    FileDescriptor* fd;
    std::string* sink; // null: drop what is read
    std::size_t limit;
    bool open = true;

    void drain()
    {
        std::array<char, 65536> buffer;
        while (open) {
            const ssize_t n = ::read(fd->get(), buffer.data(), buffer.size());
            if (n > 0) {
                if (sink != nullptr && sink->size() < limit) {
                    sink->append(buffer.data(), std::min(static_cast<std::size_t>(n), limit - sink->size()));
                }
            } else if (n == 0) {
                open = false;
            } else if (errno != EINTR) {
                // EAGAIN: nothing more for now. Anything else: treat the pipe as closed.
                open = errno == EAGAIN || errno == EWOULDBLOCK;
                return;
            }
        }
    }
};

class Child
{
public:
    // Its pidfd turns readable when it exits, so the wait for that needs no polling interval.
    // glibc 2.36 declares pidfd_open without C linkage, so C++ cannot link it.
    explicit Child(pid_t pid)
        : m_pid(pid)
        , m_exitNotice(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)))
    {}

    // What to poll for the exit: none once it has exited, or without pidfd support.
    [[nodiscard]] int exitNotice() const { return m_exited ? -1 : m_exitNotice.get(); }

    // Exited, but left unreaped so its pid, and with it the process group id, stays ours.
    bool hasExited()
    {
        if (!m_exited) {
            siginfo_t info{};
            const int r = ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
            // ECHILD: someone else reaped it; its pid may already name another process.
            m_lost = r != 0 && errno == ECHILD;
            m_exited = m_lost || (r == 0 && info.si_pid == m_pid);
        }
        return m_exited;
    }

    // The whole group: a script's own children must not keep the output pipe open.
    void signalGroup(int signal) const
    {
        if (m_lost) {
            return;
        }
        if (::kill(-m_pid, signal) != 0) {
            ::kill(m_pid, signal);
        }
    }

    // The wait status; nullopt when it was reaped elsewhere.
    std::optional<int> reap() const
    {
        int status = 0;
        while (!m_lost) {
            if (::waitpid(m_pid, &status, 0) == m_pid) {
                return status;
            }
            if (errno != EINTR) {
                break;
            }
        }
        return std::nullopt;
    }

private:
    pid_t m_pid;
    FileDescriptor m_exitNotice;
    bool m_exited = false;
    bool m_lost = false;
};

// Waits up to `interval` for output or for the exit (`exitNotice`, when not -1), reading
// whatever output arrives.
void pump(Reader& out, Reader& err, int exitNotice, std::chrono::milliseconds interval)
{
    std::array<pollfd, 3> fds{};
    std::array<Reader*, 3> readers{};
    nfds_t count = 0;
    for (Reader* reader : {&out, &err}) {
        if (reader->open) {
            fds[count] = pollfd{reader->fd->get(), POLLIN, 0};
            readers[count] = reader;
            ++count;
        }
    }
    if (exitNotice >= 0) {
        fds[count] = pollfd{exitNotice, POLLIN, 0};
        readers[count] = nullptr;
        ++count;
    }
    const int timeoutMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(interval.count(), 0));
    if (::poll(fds.data(), count, timeoutMs) <= 0) {
        return;
    }
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents != 0 && readers[i] != nullptr) {
            readers[i]->drain();
        }
    }
}

} // namespace

SubprocessResult runSubprocess(const std::string& executable,
                               const std::vector<std::string>& arguments,
                               const SubprocessOptions& options)
{
    SubprocessResult result;
    Pipe outPipe;
    Pipe errPipe;
    SpawnSetup setup;
    if (!openPipe(outPipe) || !openPipe(errPipe)
        || !setup.configure(outPipe.write.get(), errPipe.write.get())) {
        result.error = std::string("cannot prepare the child: ") + std::strerror(errno);
        return result;
    }

    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp = childEnvironment(options.environment);
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envpPointers = pointers(envp);

    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(),
                                         argvPointers.data(), envpPointers.data());
    const auto deadline = Clock::now() + options.timeout;
    outPipe.write.reset();
    errPipe.write.reset();
    if (spawnError != 0) {
        result.error = "cannot run " + executable + ": " + std::strerror(spawnError);
        return result;
    }
    result.launched = true;

    Child child(pid);
    Reader out{&outPipe.read, &result.standardOutput, options.maxOutputBytes};
    Reader err{&errPipe.read, nullptr, 0};
    const auto until = [&](Clock::time_point end) {
        while (!(child.hasExited() && !out.open)) {
            const auto now = Clock::now();
            if (now >= end) {
                return false;
            }
            pump(out, err, child.exitNotice(),
                 std::min(options.pollInterval, std::chrono::ceil<std::chrono::milliseconds>(end - now)));
        }
        return true;
    };

    if (!until(deadline)) {
        // Still running, or something it started still holds the output pipe.
        result.timedOut = !child.hasExited();
        child.signalGroup(SIGTERM);
        if (!until(Clock::now() + options.terminationGrace)) {
            child.signalGroup(SIGKILL);
        }
    }
    const std::optional<int> status = child.reap();
    out.drain();
    if (status && WIFEXITED(*status)) {
        result.exitCode = WEXITSTATUS(*status);
    } else if (status && WIFSIGNALED(*status)) {
        result.terminatingSignal = WTERMSIG(*status);
    }
    return result;
}

} // namespace exitwise::platform
