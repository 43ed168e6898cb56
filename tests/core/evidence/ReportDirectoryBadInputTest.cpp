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
const std::array<std::string_view, 2> kCrashExtensions{"crash", "ips"};

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

TEST(ReportDirectoryBadInput, FiftyMegabyteReportsAreNeverReadWhole)
{
    const test::ReportDirectory dir(kTerminatedAt);
    // Sparse: no disk space, but reading them would still take 50 MB each.
    for (const char* name :
         {"sketchpad_812.crash", "Sketch Pad_812.ips", "sketch-pad_812.spindump", "system.spin"}) {
        fs::resize_file(dir.write(name, "Process: Sketch Pad [812]\n"), kFiftyMegabytes);
        dir.touch(name, 0);
    }
    dir.write("sketchpad.crash", "Process: Sketch Pad [812]\nException Type: EXC_CRASH (SIGABRT)\n");

    const long before = peakResidentKilobytes();
    const auto crashSignals =
        within(30s, [&] { return CrashReportProvider({dir.path()}, 3).collectSignals(sketchPad()); });
    const auto hangSignals =
        within(30s, [&] { return SpindumpProvider({dir.path()}, 3).collectSignals(sketchPad()); });
    const long grown = peakResidentKilobytes() - before;

    EXPECT_EQ(test::chosenReport(crashSignals), "sketchpad.crash")
        << "the oversized reports are no candidates";
    ASSERT_EQ(hangSignals.size(), 2u) << "a hang report is judged by its name, never read";
    EXPECT_NE(hangSignals.front().summary().find("sketch-pad_812.spindump"), std::string::npos);
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

TEST(ReportDirectoryBadInput, ReportThatChangesBetweenListingAndReading)
{
    const test::ReportDirectory dir(kTerminatedAt);
    const auto list = [&] {
        detail::ReportSearch search;
        search.extensions = kCrashExtensions;
        search.nameScore = [](std::string_view) { return 60; };
        search.maxFileSize = CrashReportProvider::kMaxReportBytes;
        return detail::findReportCandidates({dir.path()}, sketchPad().window, search);
    };
    const fs::path report = dir.write("sketchpad.crash", "Process: Sketch Pad [812]\n");
    ASSERT_EQ(list().size(), 1u);

    fs::remove(report);
    EXPECT_FALSE(detail::readReportHead(report, 1024)) << "gone";

    ASSERT_EQ(::mkfifo(report.c_str(), 0600), 0);
    EXPECT_FALSE(within(30s, [&] { return detail::readReportHead(report, 1024); })) << "now a FIFO";
    fs::remove(report);

    fs::create_symlink("/etc/passwd", report);
    EXPECT_FALSE(detail::readReportHead(report, 1024)) << "now a symbolic link";
    fs::remove(report);

    // Growing after it was listed: still no more than asked for.
    const fs::path growing = dir.write("growing.crash", "Process: Sketch Pad [812]\n");
    fs::resize_file(growing, kFiftyMegabytes);
    const auto head = detail::readReportHead(growing, 4096);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->bytes.size(), 4096u);
    EXPECT_EQ(head->fileSize, kFiftyMegabytes);
}

TEST(ReportDirectoryBadInput, ReportThatDisappearsWhileTheDirectoryIsListed)
{
    const test::ReportDirectory dir(kTerminatedAt);
    dir.write("sketchpad_812.crash", "Process: Sketch Pad [812]\n");
    dir.write("system.spindump", "Sketch Pad [812]\n");
    for (const std::array<std::string_view, 2>& extensions :
         {kCrashExtensions, std::array<std::string_view, 2>{"spindump", "spin"}}) {
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
}

} // namespace
} // namespace exitwise::core
