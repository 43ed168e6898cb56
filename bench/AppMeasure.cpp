// SPDX-License-Identifier: MIT
// What the shipped executable costs on this machine, measured from outside as a user would see it.
//   exitwise_app_measure watch   [closures = 15] [idle seconds = 60]
//   exitwise_app_measure desktop [idle seconds = 60]
// `watch` runs `exitwise watch --json`, ends a watched application `closures` times and reports,
// per closure, the time from the kill to the printed event and to "events.json" holding it; then
// the memory and the processor time of a minute of idling. `desktop` starts the desktop app on
// the offscreen platform and reports its idle minute. Both run in a data directory, desktop
// entries and settings of their own, with no session bus (so no notification reaches a desktop)
// and an empty journal directory. The executables are looked for beside this one.

#include "ProcMemory.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
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

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// User plus system time of a process and its threads, in seconds.
double cpuSecondsOf(pid_t pid)
{
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string value;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; fields >> value; ++i) {
        if (i == 14) {
            utime = std::stoull(value);
        } else if (i == 15) {
            stime = std::stoull(value);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t spawn(const std::vector<std::string>& args,
            const std::vector<std::string>& environment,
            const fs::path& output)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// This process's environment with `overrides` (NAME=value) put in.
std::vector<std::string> environmentWith(const std::vector<std::string>& overrides)
{
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> result = overrides;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string current(*entry);
        if (std::none_of(overrides.begin(), overrides.end(),
                         [&](const std::string& o) { return nameOf(o) == nameOf(current); })) {
            result.push_back(current);
        }
    }
    return result;
}

template <class Predicate> bool waitFor(Predicate done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            result.push_back(line);
        }
    }
    return result;
}

// The "id" of one printed event line.
std::string eventId(const std::string& line)
{
    const std::string key = "\"id\":\"";
    const std::size_t at = line.find(key);
    return at == std::string::npos ? std::string() : line.substr(at + key.size(), 36);
}

double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void printMemory(const char* label, const Memory& m)
{
    std::printf("%-32s RSS %ld KiB (anonymous %ld KiB, file-backed %ld KiB); private %ld KiB (%ld KiB clean, "
                "%ld KiB dirty)\n",
                label, m.rss, m.anonymous, m.files, m.privateClean + m.privateDirty, m.privateClean,
                m.privateDirty);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "watch";
    if (mode != "watch" && mode != "desktop") {
        std::fprintf(stderr, "usage: %s watch [closures] [idle seconds] | desktop [idle seconds]\n", argv[0]);
        return 2;
    }
    const bool watch = mode == "watch";
    const int closures = watch ? (argc > 2 ? std::atoi(argv[2]) : 15) : 0;
    const int idleSeconds = std::atoi(argc > (watch ? 3 : 2) ? argv[watch ? 3 : 2] : "60");

    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const fs::path executable = here / "exitwise";
    if (!fs::exists(executable)) {
        std::fprintf(stderr, "%s is missing\n", executable.c_str());
        return 1;
    }

    std::string pattern = (fs::temp_directory_path() / "exitwise-app-measure-XXXXXX").string();
    const fs::path root = mkdtemp(pattern.data());
    fs::create_directories(root / "data");
    fs::create_directories(root / "journal");
    fs::create_directories(root / "config");
    fs::create_directories(root / "xdg/applications");
    // A watched application with a program name of its own: a copy of sleep.
    const fs::path probe = root / "exitwise-probe";
    fs::copy_file("/bin/sleep", probe);
    chmod(probe.c_str(), 0755);
    std::ofstream(root / "xdg/applications/org.exitwise.Probe.desktop")
        << "[Desktop Entry]\nType=Application\nName=Probe\nExec=" << probe.string() << " 600\n";

    const std::vector<std::string> environment = environmentWith({
        "EXITWISE_APP_SUPPORT_DIR=" + (root / "data").string(),
        "EXITWISE_JOURNAL_DIR=" + (root / "journal").string(),
        "XDG_DATA_HOME=" + (root / "xdg").string(),
        "XDG_DATA_DIRS=" + (root / "xdg").string(),
        "XDG_CONFIG_HOME=" + (root / "config").string(),
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (root / "no-bus").string(),
        "QT_QPA_PLATFORM=offscreen",
    });
    std::vector<std::string> args{executable.string()};
    if (watch) {
        args.insert(args.end(), {"watch", "--json"});
    }
    const fs::path out = root / "out.jsonl";
    const auto launched = Clock::now();
    const pid_t app = spawn(args, environment, out);
    if (app < 0) {
        std::fprintf(stderr, "cannot start %s\n", executable.c_str());
        return 1;
    }
    const bool started = waitFor([&] { return fs::exists(root / "data/product_events.jsonl"); }, 20s);
    const double startMs = ms(Clock::now() - launched);
    std::this_thread::sleep_for(2s); // past the first scans
    const Memory atStart = memoryOf(app);

    std::vector<double> toEvent;
    std::vector<double> toSaved;
    for (int i = 0; started && i < closures; ++i) {
        const pid_t probePid = spawn({probe.string(), "600"}, environment, "/dev/null");
        std::this_thread::sleep_for(1200ms); // seen by a scan
        const auto killedAt = Clock::now();
        kill(probePid, SIGKILL);
        waitpid(probePid, nullptr, 0);
        std::string id;
        if (!waitFor(
                [&] {
                    const auto printed = lines(readFile(out));
                    if (printed.size() > static_cast<std::size_t>(i)) {
                        id = eventId(printed[static_cast<std::size_t>(i)]);
                        return true;
                    }
                    return false;
                },
                10s)) {
            break;
        }
        toEvent.push_back(ms(Clock::now() - killedAt));
        if (waitFor([&] { return readFile(root / "data/events.json").find(id) != std::string::npos; }, 10s)) {
            toSaved.push_back(ms(Clock::now() - killedAt));
        }
    }
    std::this_thread::sleep_for(3s);
    const Memory afterClosures = memoryOf(app);

    const double cpuBefore = cpuSecondsOf(app);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double cpuPerMinute = (cpuSecondsOf(app) - cpuBefore) / idleSeconds * 60.0;
    const Memory idle = memoryOf(app);

    kill(app, SIGTERM);
    int status = 0;
    waitpid(app, &status, 0);
    std::error_code ignored;
    fs::remove_all(root, ignored);

    std::printf("%s\n", watch ? "exitwise watch --json" : "exitwise (desktop app, offscreen)");
    std::printf("%-32s %.0f ms%s\n", "start (until app_opened):", startMs, started ? "" : " (did not start)");
    printMemory("memory after start:", atStart);
    if (watch) {
        std::printf("%-32s %zu of %d\n", "closures recorded:", toEvent.size(), closures);
        if (!toEvent.empty()) {
            std::printf("%-32s median %.1f ms, max %.1f ms\n", "kill -> event printed:", median(toEvent),
                        *std::max_element(toEvent.begin(), toEvent.end()));
        }
        if (!toSaved.empty()) {
            std::printf("%-32s median %.1f ms, max %.1f ms\n",
                        "kill -> events.json holds it:", median(toSaved),
                        *std::max_element(toSaved.begin(), toSaved.end()));
        }
        printMemory("memory after the closures:", afterClosures);
    }
    std::printf("%-32s %.3f s per minute (%.2f %% of one core) over %d s\n", "idle CPU:", cpuPerMinute,
                cpuPerMinute / 60.0 * 100.0, idleSeconds);
    printMemory("memory after idling:", idle);
    const bool ok = started && static_cast<int>(toSaved.size()) == closures;
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
