// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportProvider.h"
#include "core/evidence/SpindumpProvider.h"
#include "support/SampleContexts.h"

#include <sys/stat.h>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace exitwise::core {
namespace {

namespace fs = std::filesystem;

const Date kTerminatedAt = dateFromSecondsSince1970(1740834310.0);
constexpr int kFiles = 10000;
// Apparent size of the "large" non-matching files; they are sparse past their first 8 KiB.
constexpr std::uintmax_t kLargeBytes = 8u * 1024u * 1024u;

EventContext sketchPad()
{
    return test::sketchPadContext(kTerminatedAt, TerminationReason::crashed);
}

// "Tool" and letters only, so no name contains the pid being searched for.
std::string otherApp(int index)
{
    std::string name = "Tool";
    do {
        name.push_back(static_cast<char>('a' + index % 26));
        index /= 26;
    } while (index > 0);
    return name;
}

std::string reportText(const std::string& process, int pid)
{
    std::string text =
        "Process:               " + process + " [" + std::to_string(pid)
        + "]\nPath:                  /opt/app/bin/app\nDate/Time:             "
          "2025-03-01 14:05:09.123 +0100\nException Type:        EXC_CRASH (SIGABRT)\n"
          "Termination Reason:    Namespace SIGNAL, Code 6 Abort trap: 6\n\nThread 0 Crashed:\n";
    for (int frame = 0; text.size() < 8000; ++frame) {
        text += std::to_string(frame) + "   libc.so.6                     0x7f3a1c29e9fc raise + 22\n";
    }
    return text;
}

void write(const fs::path& file, const std::string& content, std::uintmax_t apparentSize, int offsetSeconds)
{
    std::ofstream(file, std::ios::binary) << content;
    if (apparentSize > content.size()) {
        fs::resize_file(file, apparentSize);
    }
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(secondsSince1970(kTerminatedAt)) + offsetSeconds;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// How the 9,997 reports of other applications look.
enum Others
{
    smallInWindow,
    largeInWindow,  // 8 MiB apparent size each
    smallOverAMonth // modified over 30 days, so few fall inside the window
};

// 10,000 report files: other applications' plus three that name the ended one. Built once per
// process and removed at exit.
class ReportDirectory
{
public:
    ReportDirectory(const std::string& crashExtension, const std::string& otherExtension, Others others)
    {
        std::string pattern = (fs::temp_directory_path() / "exitwise-bench-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
        const std::uintmax_t size = others == largeInWindow ? kLargeBytes : 0;
        for (int i = 0; i < kFiles - 3; ++i) {
            const std::string app = otherApp(i);
            const std::string& extension = i % 2 == 0 ? crashExtension : otherExtension;
            const int offset =
                others == smallOverAMonth ? (i * 263) % (30 * 86400) - 15 * 86400 : (i % 341) - 170;
            write(m_path / (app + "-2025-03-01-140509." + extension), reportText(app, 20000 + i), size,
                  offset);
        }
        const std::string sketch = reportText("Sketch Pad", 812);
        write(m_path / ("Sketch Pad-2025-03-01-140509." + crashExtension), sketch, 0, -20);
        write(m_path / ("sketchpad_812." + otherExtension), sketch, 0, 3);
        write(m_path / ("Sketch_Pad-2025-03-01-140511." + crashExtension), sketch, 0, 40);
    }
    ~ReportDirectory()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    ReportDirectory(const ReportDirectory&) = delete;
    ReportDirectory& operator=(const ReportDirectory&) = delete;

    [[nodiscard]] const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

const fs::path& directory(const std::string& kind, std::int64_t others)
{
    static std::map<std::pair<std::string, std::int64_t>, std::unique_ptr<ReportDirectory>> directories;
    auto& slot = directories[{kind, others}];
    if (!slot) {
        const auto which = static_cast<Others>(others);
        slot = kind == "crash" ? std::make_unique<ReportDirectory>("crash", "ips", which)
                               : std::make_unique<ReportDirectory>("spindump", "spin", which);
    }
    return slot->path();
}

// Argument: an Others value.
void crashReportSearch(benchmark::State& state)
{
    const CrashReportProvider provider({directory("crash", state.range(0))});
    const EventContext context = sketchPad();
    for (auto _ : state) {
        const auto signals = provider.collectSignals(context);
        if (signals.empty()) {
            state.SkipWithError("no report found");
            break;
        }
        benchmark::DoNotOptimize(signals);
    }
}
BENCHMARK(crashReportSearch)
    ->Arg(smallInWindow)
    ->Arg(largeInWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Every other hang report inside the window has its head read; with smallOverAMonth few are.
void spindumpSearch(benchmark::State& state)
{
    const SpindumpProvider provider({directory("spindump", state.range(0))});
    const EventContext context = sketchPad();
    for (auto _ : state) {
        const auto signals = provider.collectSignals(context);
        if (signals.empty()) {
            state.SkipWithError("no hang report found");
            break;
        }
        benchmark::DoNotOptimize(signals);
    }
}
BENCHMARK(spindumpSearch)
    ->Arg(smallInWindow)
    ->Arg(largeInWindow)
    ->Arg(smallOverAMonth)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the system calls alone cost: the listing, a stat per file and an 8 KiB head read of each,
// without any scoring. No search that looks into every head can be faster than this.
void headReadFloor(benchmark::State& state)
{
    const fs::path& path = directory("spindump", state.range(0));
    std::vector<char> buffer(SpindumpProvider::kHeadBytes);
    for (auto _ : state) {
        const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        std::size_t bytes = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
            struct stat info
            {
            };
            const std::string name = entry.path().filename().native();
            if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            if (fd >= 0 && ::fstat(fd, &info) == 0) {
                const ssize_t n = ::read(fd, buffer.data(), buffer.size());
                bytes += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
            if (fd >= 0) {
                ::close(fd);
            }
        }
        ::close(dir);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(headReadFloor)->Arg(smallInWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace exitwise::core
