// SPDX-License-Identifier: MIT
#include "platform/linux/CrashRecordSources.h"

#include "core/evidence/LinuxCrashRecords.h"
#include "platform/linux/AbrtProblemSource.h"
#include "platform/linux/ApportReportSource.h"
#include "platform/linux/JournalCoredumpSource.h"
#include "platform/linux/UnresponsiveMarkerSource.h"
#include "support/PlatformFixtures.h"
#include "support/ScopedTimeZone.h"

#include <sys/stat.h>

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using core::CrashRecord;
using test::JournalFixture;
using test::ScopedEnvironment;
using test::TempDir;
using test::writeTextFile;
using Texts = std::vector<std::string>;

const fs::path kData = fs::path(EXITWISE_TEST_DATA_DIR) / "crash-records";

core::Date at(double seconds)
{
    return core::dateFromSecondsSince1970(seconds);
}

core::TimestampWindow window(double start, double end)
{
    return {at(start), at(end)};
}

void setModified(const fs::path& path, double seconds)
{
    const std::chrono::nanoseconds since1970(static_cast<std::int64_t>(seconds * 1e9));
    fs::last_write_time(path, std::chrono::file_clock::from_sys(std::chrono::sys_time(since1970)));
}

std::vector<std::int32_t> pidsOf(const std::vector<CrashRecord>& records)
{
    std::vector<std::int32_t> pids;
    for (const CrashRecord& record : records) {
        pids.push_back(record.pid.value_or(0));
    }
    return pids;
}

// "file-name pid signal" of each record, "-" for no pid.
Texts summaries(const std::vector<CrashRecord>& records)
{
    Texts texts;
    for (const CrashRecord& record : records) {
        texts.push_back(fs::path(record.source).filename().string() + " "
                        + (record.pid ? std::to_string(*record.pid) : "-") + " " + record.signal);
    }
    return texts;
}

// --- systemd-coredump in the journal ------------------------------------------------------------

// A real entry (journalctl -o json), logged at `logged` (by default its own entry time) with
// `changes` made to its fields.
test::JournalFields coredumpEntry(const std::string& sample,
                                  std::optional<double> logged = std::nullopt,
                                  const std::map<std::string, std::string>& changes = {})
{
    const nlohmann::json entry = nlohmann::json::parse(test::readFile(kData / sample));
    test::JournalFields fields{
        logged.value_or(std::stod(entry.at("__REALTIME_TIMESTAMP").get<std::string>()) / 1e6),
        {changes.begin(), changes.end()}};
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        // Trusted fields (_BOOT_ID, _PID, …) are journald's own; the fixture sets the boot.
        if (!it.key().starts_with("_") && !changes.contains(it.key())) {
            fields.fields.emplace_back(it.key(), it.value().get<std::string>());
        }
    }
    return fields;
}

TEST(JournalCoredumpSource, FindsCrashesOfTheWindowByTheirCrashTime)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    // Crashed at 1796641220 / …223 / …2014 / …2015, logged 0.7 to 1.1 s later.
    ASSERT_EQ(
        journal.writeFields({
            coredumpEntry("coredump-segv.json"),
            coredumpEntry("coredump-abort-user.json"),
            coredumpEntry("coredump-fpe-long-name.json"),
            coredumpEntry("coredump-bus-user.json"),
            // Logged 8 s after its crash at 1796642030: a big core took long to store.
            coredumpEntry("coredump-segv.json", 1796642038,
                          {{"COREDUMP_PID", "5000"}, {"COREDUMP_TIMESTAMP", "1796642030000000"}}),
            // Logged within the second it crashed in, before a window starting later in that second.
            coredumpEntry("coredump-segv.json", 1796642050.2,
                          {{"COREDUMP_PID", "5001"}, {"COREDUMP_TIMESTAMP", "1796642050000000"}}),
            // Not systemd-coredump's: the same fields under another message id, and a plain line.
            coredumpEntry("coredump-bus-user.json", 1796642016,
                          {{"MESSAGE_ID", "fe6faa94e7774663a0da52717891d8ef"}, {"COREDUMP_PID", "6000"}}),
            {1796641221.5,
             {{"MESSAGE", "Process 7000 (notes-bin) of user 0 dumped core."},
              {"SYSLOG_IDENTIFIER", "systemd-coredump"}}},
        }),
        "");

    // The journal directory named by the environment, unless one is given.
    const ScopedEnvironment environment("EXITWISE_JOURNAL_DIR", journal.directory().c_str());
    const JournalCoredumpSource source;
    // clang-format off
    const std::vector<std::pair<core::TimestampWindow, std::vector<std::int32_t>>> cases = {
        {window(1796641000, 1796643000), {4467, 4491, 11789, 11793, 5000, 5001}},
        {window(1796641220.4, 1796641220.6), {4467}},        // crashed within that second, logged after it
        {window(1796642029, 1796642031), {5000}},           // logged 7 s after the window
        {window(1796642050.5, 1796642051), {5001}},
    };
    // clang-format on
    for (const auto& [range, pids] : cases) {
        EXPECT_EQ(pidsOf(source.records(range)), pids) << core::secondsSince1970(range.start);
    }
    // With a shorter allowance for the logging delay, the big core's entry is too late.
    EXPECT_TRUE(JournalCoredumpSource({}, core::Seconds(5)).records(window(1796642029, 1796642031)).empty());
    EXPECT_TRUE(JournalCoredumpSource(journal.directory() / "missing").records(window(0, 2e9)).empty());
}

// --- apport -------------------------------------------------------------------------------------

// Copies of sample reports and problem directories, in a directory of their own.
class CrashFilesTest : public ::testing::Test
{
protected:
    // A copy of the sample report or problem directory, last modified at `modified`.
    fs::path report(const std::string& sample, const std::string& name, double modified)
    {
        const fs::path path = m_temp.path() / name;
        fs::create_directories(path.parent_path());
        fs::copy(kData / (fs::exists(kData / "apport" / sample) ? "apport" : "abrt") / sample, path,
                 fs::copy_options::recursive);
        setModified(path, modified);
        return path;
    }

    const std::string m_bus = "ccpp-2026-12-07-11:13:35.693769-11793"; // ABRT's, at 1796642015
    test::ScopedTimeZone m_utc{"UTC"};
    TempDir m_temp{"exitwise-crash-files"};
};
using ApportReportSourceTest = CrashFilesTest;
using AbrtProblemSourceTest = CrashFilesTest;

// Another user can write a report claiming any program crashed; 65534 is "nobody".
TEST_F(ApportReportSourceTest, ReadsRegularCrashFilesOfItsOwnUserModifiedInTheWindow)
{
    const std::string abort = "_home_exwtest_notes-bin.1001.crash"; // crashed at 1796641223
    const std::string segv = "_tmp_notes-bin.0.crash";              // crashed at 1796641220
    report(abort, "abort.crash", 1796641225.5);
    const fs::path real = report(segv, "segv.crash", 1796641222);
    // Modified an hour before the window: not even read.
    report(abort, "early.crash", 1796637600);
    report(segv, ".hidden.crash", 1796641221);
    report(segv, "notes.crash.txt", 1796641221);
    fs::create_symlink(real, m_temp.path() / "link.crash");
    ASSERT_EQ(::mkfifo((m_temp.path() / "fifo.crash").c_str(), 0666), 0);
    fs::create_directory(m_temp.path() / "directory.crash");
    // Readable by its owner only; a test run as root reads it all the same.
    fs::permissions(report(segv, "locked.crash", 1796641221), fs::perms::none);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(report(segv, "planted.crash", 1796641221).c_str(), 65534, 65534), 0);
    }

    const ApportReportSource source(m_temp.path());
    EXPECT_EQ(
        summaries(source.records(window(1796641000, 1796642000))),
        root ? (Texts{"locked.crash 4467 SIGSEGV", "segv.crash 4467 SIGSEGV", "abort.crash 4491 SIGABRT"})
             : (Texts{"segv.crash 4467 SIGSEGV", "abort.crash 4491 SIGABRT"}));
    EXPECT_EQ(summaries(source.records(window(1796641223, 1796641224))), Texts{"abort.crash 4491 SIGABRT"});
    EXPECT_TRUE(ApportReportSource(m_temp.path() / "missing").records(window(0, 2e9)).empty());
}

// --- ABRT ---------------------------------------------------------------------------------------

TEST_F(AbrtProblemSourceTest, ReadsNativeCrashesOfTheWindowButNoLinksSpecialFilesOrOtherUsers)
{
    // Crashed at 1796641220 and again at 1796641520; its pid is the first occurrence's, so it is left out.
    const std::string repeated = "ccpp-2026-12-07-11:00:20.412345-4467";
    report(repeated, "repeated", 1796641520);
    report("Python3-2026-12-07-11:05:00.718122-4600", "python", 1796641500);
    const fs::path real = report(m_bus, "real", 1796642016);
    report(m_bus, ".hidden", 1796642016);
    fs::create_directory_symlink(real, m_temp.path() / "link");
    writeTextFile(m_temp.path() / "last-ccpp", "1796642015");
    // Items that are links or FIFOs count as missing.
    const fs::path tricked = report(m_bus, "tricked", 1796642016);
    writeTextFile(m_temp.path() / "elsewhere", "photo-lab killed by SIGILL");
    fs::remove(tricked / "reason");
    fs::create_symlink(m_temp.path() / "elsewhere", tricked / "reason");
    fs::remove(tricked / "pid");
    ASSERT_EQ(::mkfifo((tricked / "pid").c_str(), 0666), 0);
    setModified(tricked, 1796642016);
    // Problems and items another user slipped in count as missing too.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(report(m_bus, "planted", 1796642016).c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((report(m_bus, "mixed", 1796642016) / "pid").c_str(), 65534, 65534), 0);
    }

    const AbrtProblemSource source(m_temp.path());
    EXPECT_EQ(summaries(source.records(window(1796642000, 1796642100))),
              root ? (Texts{"mixed - SIGBUS", "real 11793 SIGBUS", "tricked - "})
                   : (Texts{"real 11793 SIGBUS", "tricked - "}));
    EXPECT_EQ(summaries(source.records(window(1796641519, 1796641521))), Texts{"repeated - SIGSEGV"});
    EXPECT_TRUE(source.records(window(1796641219, 1796641221)).empty());
}

// --- KWin's markers -----------------------------------------------------------------------------

TEST(UnresponsiveMarkerSource, ReadsWellNamedMarkersOfTheWindow)
{
    const TempDir temp("exitwise-markers");
    const std::string boot = ".0b6c2dff8d1a4e3c9c0a1f4f6e2d5a71.";
    for (const std::string& name :
         std::vector<std::string>{"notes-bin" + boot + "4467.1796641220100.json",  // in
                                  "photo-lab" + boot + "812.1796641219900.json",   // in, earlier
                                  "notes-bin" + boot + "4468.1796641230000.json",  // after
                                  "notes-bin.0b6c.4467.1796641220100.json",        // bad boot id
                                  ".notes-bin" + boot + "4469.1796641220100.json", // hidden
                                  "notes-bin" + boot + "4470.1796641220100.txt"}) {
        writeTextFile(temp.path() / name, "");
    }
    fs::create_symlink(temp.path() / ("notes-bin" + boot + "4467.1796641220100.json"),
                       temp.path() / ("linked" + boot + "4471.1796641220100.json"));
    fs::create_directory(temp.path() / ("dir" + boot + "4472.1796641220100.json"));

    EXPECT_EQ(UnresponsiveMarkerSource(temp.path()).records(window(1796641219.5, 1796641221)),
              (std::vector<CrashRecord>{
                  {CrashRecord::Kind::unresponsiveKill, at(1796641219.9), 812, std::nullopt, "", "photo-lab",
                   "", "", (temp.path() / ("photo-lab" + boot + "812.1796641219900.json")).string(), ""},
                  {CrashRecord::Kind::unresponsiveKill, at(1796641220.1), 4467, std::nullopt, "", "notes-bin",
                   "", "", (temp.path() / ("notes-bin" + boot + "4467.1796641220100.json")).string(), ""},
              }));
}

// --- all of them --------------------------------------------------------------------------------

using CrashRecordSourcesTest = CrashFilesTest;

TEST_F(CrashRecordSourcesTest, ReadEveryPlaceTheSettingsName)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.writeFields({coredumpEntry("coredump-abort-user.json")}), "");
    report("_tmp_notes-bin.0.crash", "apport/a.crash", 1796641221);
    report("ccpp-2026-12-07-11:00:20.412345-4467", "abrt/ccpp-1", 1796641221);
    writeTextFile(m_temp.path() / "cache/drkonqi/application-not-responding"
                      / "c.0b6c2dff8d1a4e3c9c0a1f4f6e2d5a71.33.1796641222500.json",
                  "");

    Texts sources;
    for (const auto& source : createCrashRecordSources({journal.directory(), m_temp.path() / "apport",
                                                        m_temp.path() / "abrt", m_temp.path() / "cache"})) {
        for (const CrashRecord& record : source->records(window(1796641000, 1796642000))) {
            sources.push_back(fs::path(record.source).filename().string());
        }
    }
    EXPECT_EQ(sources,
              (Texts{"core.notes-bin.1001.39c063c1482b4e34a43c2171d2eb4981.4491.1796641223000000.zst",
                     "a.crash", "ccpp-1", "c.0b6c2dff8d1a4e3c9c0a1f4f6e2d5a71.33.1796641222500.json"}));
}

TEST(CrashRecordSources, FindTheUserCacheDirectory)
{
    struct Case
    {
        const char* xdgCacheHome;
        const char* home;
        std::optional<fs::path> directory;
    };
    // clang-format off
    const Case cases[] = {
        {"/tmp/xdg-cache", "/home/someone", "/tmp/xdg-cache"},
        {"relative/cache", "/home/someone", "/home/someone/.cache"},
        {nullptr,          nullptr,         std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdgCacheHome ? c.xdgCacheHome : "unset");
        const ScopedEnvironment xdg("XDG_CACHE_HOME", c.xdgCacheHome);
        const ScopedEnvironment home("HOME", c.home);
        EXPECT_EQ(userCacheDirectory(), c.directory);
        EXPECT_EQ(createCrashRecordSources().size(), c.directory ? 4u : 3u) << "markers live in a cache";
    }
}

} // namespace
} // namespace exitwise::platform
