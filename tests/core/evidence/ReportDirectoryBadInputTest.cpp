// SPDX-License-Identifier: MIT
// Report directories as anyone may fill them: /var/crash is writable by every user.

#include "core/evidence/CrashReportProvider.h"
#include "core/evidence/ReportCandidates.h"
#include "core/evidence/SpindumpProvider.h"
#include "support/CorePrinters.h"
#include "support/ReportFiles.h"
#include "support/SampleContexts.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const Date kTerminatedAt = dateFromSecondsSince1970(1740834310.0);
constexpr std::uintmax_t kFiftyMegabytes = 50u * 1024u * 1024u;

EventContext sketchPad()
{
    return test::sketchPadContext(kTerminatedAt, TerminationReason::crashed);
}

// Runs `work` and gives up loudly instead of hanging the suite when it blocks.
template <class Work> auto within(std::chrono::seconds limit, Work&& work)
{
    auto running = std::async(std::launch::async, std::forward<Work>(work));
    if (running.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "blocked for more than %lld s\n", static_cast<long long>(limit.count()));
        std::_Exit(EXIT_FAILURE);
    }
    return running.get();
}

long peakResidentKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Hang reports run to tens of megabytes: still candidates, judged by their name or head.
TEST(ReportDirectoryBadInput, FiftyMegabyteReportsAreNeverReadWhole)
{
    const test::ReportDirectory dir(kTerminatedAt);
    // Sparse: no disk space, but reading them would still take 50 MB each.
    for (const char* name : {"sketch-pad_812.spindump", "system.spin"}) {
        fs::resize_file(dir.write(name, "Process: Sketch Pad [812]\n"), kFiftyMegabytes);
        dir.touch(name, 0);
    }
    const long before = peakResidentKilobytes();
    const auto signals =
        within(30s, [&] { return SpindumpProvider({dir.path()}, 3).collectSignals(sketchPad()); });
    const long grown = peakResidentKilobytes() - before;
    ASSERT_EQ(signals.size(), 2u);
    EXPECT_NE(signals.front().summary().find("sketch-pad_812.spindump"), std::string::npos);
    EXPECT_LT(grown, 24 * 1024) << "peak memory grew by " << grown << " KiB";
}

TEST(ReportDirectoryBadInput, SymlinkLoopsAndFifosNeitherHangNorCount)
{
    const test::ReportDirectory dir(kTerminatedAt);
    fs::create_symlink(dir.path() / "sketchpad_b.crash", dir.path() / "sketchpad_a.crash");
    fs::create_symlink(dir.path() / "sketchpad_a.crash", dir.path() / "sketchpad_b.crash");
    fs::create_directory_symlink(dir.path(), dir.path() / "sketchpad_loop.crash");
    fs::create_symlink(dir.path() / "self.spindump", dir.path() / "self.spindump");
    // Opening a FIFO for reading blocks until someone writes; nobody will.
    for (const char* name : {"sketchpad_812.ips", "system.spindump", "sketch-pad.spin"}) {
        ASSERT_EQ(::mkfifo((dir.path() / name).c_str(), 0600), 0);
        dir.touch(name, 0);
    }
    const fs::path loopingDirectory = dir.path() / "looping";
    fs::create_directory_symlink(loopingDirectory, loopingDirectory);

    const std::vector<fs::path> searchPaths{loopingDirectory, dir.path(), dir.path() / "sketchpad_a.crash"};
    EXPECT_TRUE(within(30s, [&] {
                    return CrashReportProvider(searchPaths, 10).collectSignals(sketchPad());
                }).empty());
    EXPECT_TRUE(
        within(30s, [&] { return SpindumpProvider(searchPaths, 10).collectSignals(sketchPad()); }).empty());

    dir.write("sketchpad.crash", "Process: Sketch Pad [812]\n");
    EXPECT_EQ(test::chosenReport(within(
                  30s, [&] { return CrashReportProvider(searchPaths, 10).collectSignals(sketchPad()); })),
              "sketchpad.crash");
}

// Between listing and reading, a report can go, or turn into a FIFO or a link.
TEST(ReportDirectoryBadInput, ReportThatChangesBetweenListingAndReading)
{
    const test::ReportDirectory dir(kTerminatedAt);
    const fs::path report = dir.path() / "sketchpad.crash";
    EXPECT_FALSE(detail::readReportHead(report, 1024)) << "gone";
    ASSERT_EQ(::mkfifo(report.c_str(), 0600), 0);
    EXPECT_FALSE(within(30s, [&] { return detail::readReportHead(report, 1024); })) << "now a FIFO";
    fs::remove(report);
    fs::create_symlink("/etc/passwd", report);
    EXPECT_FALSE(detail::readReportHead(report, 1024)) << "now a symbolic link";
}

TEST(ReportDirectoryBadInput, ReportThatDisappearsWhileTheDirectoryIsListed)
{
    const test::ReportDirectory dir(kTerminatedAt);
    dir.write("sketchpad_812.crash", "Process: Sketch Pad [812]\n");
    dir.write("system.spindump", "Sketch Pad [812]\n");
    const std::array<std::string_view, 2> extensions{"crash", "spindump"};
    detail::ReportSearch search;
    search.extensions = extensions;
    // The name is judged first; the file goes before its metadata or content is read.
    search.nameScore = [&](std::string_view lowerName) {
        fs::remove(dir.path() / lowerName);
        return lowerName.find("sketchpad") != std::string_view::npos ? 60 : 0;
    };
    search.contentScore = [](const fs::path& path) {
        return detail::readReportHead(path, SpindumpProvider::kHeadBytes) ? 100 : 0;
    };
    EXPECT_TRUE(detail::findReportCandidates({dir.path()}, sketchPad().window, search).empty());
}

} // namespace
} // namespace exitwise::core
