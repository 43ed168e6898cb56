// SPDX-License-Identifier: MIT
#include "platform/linux/CrashRecordSources.h"

#include "core/evidence/LinuxCrashRecords.h"
#include "platform/linux/AbrtProblemSource.h"
#include "platform/linux/ApportReportSource.h"
#include "platform/linux/JournalCoredumpSource.h"
#include "platform/linux/UnresponsiveMarkerSource.h"
#include "support/Files.h"
#include "support/JournalFixture.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using core::CrashRecord;
using test::JournalFields;
using test::JournalFixture;
using test::readFile;

const fs::path kData = fs::path(EXITWISE_TEST_DATA_DIR) / "crash-records";

core::Date at(double seconds)
{
    return core::dateFromSecondsSince1970(seconds);
}

core::TimestampWindow window(double start, double end)
{
    return {at(start), at(end)};
}

class TempDirectory
{
public:
    TempDirectory()
    {
        std::string pattern = (fs::temp_directory_path() / "exitwise-crash-records-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempDirectory()
    {
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    [[nodiscard]] const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void setModified(const fs::path& path, double seconds)
{
    const double whole = std::floor(seconds);
    const timespec time{static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
    const timespec times[2] = {time, time};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::vector<std::int32_t> pidsOf(const std::vector<CrashRecord>& records)
{
    std::vector<std::int32_t> pids;
    for (const CrashRecord& record : records) {
        pids.push_back(record.pid.value_or(0));
    }
    return pids;
}

// Sets an environment variable for one scope.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const std::optional<std::string>& value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// --- systemd-coredump in the journal ------------------------------------------------------------

// A real entry (journalctl -o json), to be written back with its own entry time.
JournalFields coredumpEntry(const std::string& sample)
{
    const nlohmann::json entry = nlohmann::json::parse(readFile(kData / sample));
    JournalFields fields;
    fields.time = std::stod(entry.at("__REALTIME_TIMESTAMP").get<std::string>()) / 1e6;
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        // Trusted fields (_BOOT_ID, _PID, …) are journald's own; the fixture sets the boot.
        if (!it.key().starts_with("_")) {
            fields.fields.emplace_back(it.key(), it.value().get<std::string>());
        }
    }
    return fields;
}

void setField(JournalFields& entry, const std::string& name, const std::string& value)
{
    for (auto& [key, old] : entry.fields) {
        if (key == name) {
            old = value;
            return;
        }
    }
    entry.fields.emplace_back(name, value);
}

#define SKIP_WITHOUT_JOURNAL_TOOL()                                                                          \
    if (!JournalFixture::available()) {                                                                      \
        GTEST_SKIP() << JournalFixture::kRemoteTool << " is missing (package systemd-journal-remote)";       \
    }

TEST(JournalCoredumpSource, FindsCrashesOfTheWindowByTheirCrashTime)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    // Crashed at 1796641220 / …223 / …2014 / …2015, logged 0.7 to 1.1 s later.
    std::vector<JournalFields> entries = {
        coredumpEntry("coredump-segv.json"), coredumpEntry("coredump-abort-user.json"),
        coredumpEntry("coredump-fpe-long-name.json"), coredumpEntry("coredump-bus-user.json")};
    // Logged 8 s after its crash at 1796642030: a big core took long to store.
    JournalFields slow = coredumpEntry("coredump-segv.json");
    slow.time = 1796642038;
    setField(slow, "COREDUMP_PID", "5000");
    setField(slow, "COREDUMP_TIMESTAMP", "1796642030000000");
    entries.push_back(slow);
    // Logged within the second it crashed in, before a window starting later in that second.
    JournalFields quick = coredumpEntry("coredump-segv.json");
    quick.time = 1796642050.2;
    setField(quick, "COREDUMP_PID", "5001");
    setField(quick, "COREDUMP_TIMESTAMP", "1796642050000000");
    entries.push_back(quick);
    // Not systemd-coredump's: the same fields under another message id, and a plain line.
    JournalFields other = coredumpEntry("coredump-bus-user.json");
    other.time = 1796642016;
    setField(other, "MESSAGE_ID", "fe6faa94e7774663a0da52717891d8ef");
    setField(other, "COREDUMP_PID", "6000");
    entries.push_back(other);
    entries.push_back({1796641221.5,
                       {{"MESSAGE", "Process 7000 (notes-bin) of user 0 dumped core."},
                        {"SYSLOG_IDENTIFIER", "systemd-coredump"}}});
    ASSERT_EQ(journal.writeFields(entries), "");

    const JournalCoredumpSource source(journal.directory());
    // clang-format off
    const std::vector<std::pair<core::TimestampWindow, std::vector<std::int32_t>>> cases = {
        {window(1796641000, 1796643000), {4467, 4491, 11789, 11793, 5000, 5001}},
        {window(1796641220.4, 1796641220.6), {4467}},        // crashed within that second, logged after it
        {window(1796641221.2, 1796641222.9), {}},
        {window(1796641223, 1796641223), {4491}},
        {window(1796642014.5, 1796642016), {11789, 11793}},
        {window(1796642029, 1796642031), {5000}},           // logged 7 s after the window
        {window(1796642050.5, 1796642051), {5001}},
        {window(1796642100, 1796642200), {}},
    };
    // clang-format on
    for (const auto& [range, pids] : cases) {
        EXPECT_EQ(pidsOf(source.records(range)), pids) << core::secondsSince1970(range.start);
    }
    EXPECT_TRUE(JournalCoredumpSource(journal.directory(), core::Seconds(5))
                    .records(window(1796642029, 1796642031))
                    .empty());
}

TEST(JournalCoredumpSource, ReadsTheFieldsThroughTheJournal)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    JournalFields entry = coredumpEntry("coredump-abort-user.json");
    // Hundreds of threads make a long stack trace.
    std::string message = "Process 4491 (notes-bin) of user 1001 dumped core.\n\n";
    for (int i = 0; i < 4000; ++i) {
        message += "#" + std::to_string(i)
                   + "  0x00007fa38a84deec __pthread_kill_implementation (libc.so.6 + 0x8aeec)\n";
    }
    setField(entry, "MESSAGE", message);
    setField(entry, "COREDUMP_CGROUP",
             "/user.slice/user-1001.slice/user@1001.service/app.slice/app-org.example.Notes-4491.scope");
    ASSERT_EQ(journal.writeFields({entry}), "");

    const auto records = JournalCoredumpSource(journal.directory()).records(window(1796641223, 1796641224));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0],
              (CrashRecord{
                  CrashRecord::Kind::crash, at(1796641223), 4491, 4490, "notes-bin",
                  "/home/exwtest/notes-bin", "SIGABRT",
                  "/user.slice/user-1001.slice/user@1001.service/app.slice/app-org.example.Notes-4491.scope",
                  "/var/lib/systemd/coredump/"
                  "core.notes-bin.1001.39c063c1482b4e34a43c2171d2eb4981.4491.1796641223000000.zst",
                  "Process 4491 (notes-bin) of user 1001 dumped core."}));
}

TEST(JournalCoredumpSource, ReadsTheDirectoryNamedByTheEnvironment)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.writeFields({coredumpEntry("coredump-segv.json")}), "");
    const ScopedEnvironment environment("EXITWISE_JOURNAL_DIR", journal.directory().string());
    EXPECT_EQ(pidsOf(JournalCoredumpSource().records(window(1796641220, 1796641221))),
              std::vector<std::int32_t>{4467});
    EXPECT_TRUE(JournalCoredumpSource(journal.directory() / "missing").records(window(0, 2e9)).empty());
}

// --- apport -------------------------------------------------------------------------------------

class ApportReportSourceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        ASSERT_FALSE(m_temp.path().empty());
    }
    void TearDown() override
    {
        m_timeZone ? ::setenv("TZ", m_timeZone->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

    // A copy of a sample report, last modified at `modified`.
    fs::path report(const std::string& sample, const std::string& name, double modified)
    {
        const fs::path path = m_temp.path() / name;
        writeFile(path, readFile(kData / "apport" / sample));
        setModified(path, modified);
        return path;
    }

    TempDirectory m_temp;
    std::optional<std::string> m_timeZone =
        std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(ApportReportSourceTest, ReadsReportsOfTheWindow)
{
    const std::string abort = "_home_exwtest_notes-bin.1001.crash"; // crashed at 1796641223
    const std::string segv = "_tmp_notes-bin.0.crash";              // crashed at 1796641220
    report(abort, abort, 1796641225.5);
    report(segv, segv, 1796641222);
    // Modified an hour before the window: not even read.
    report(abort, "_early.1001.crash", 1796637600);

    const ApportReportSource source(m_temp.path());
    EXPECT_EQ(source.records(window(1796641223, 1796641224)),
              (std::vector<CrashRecord>{{CrashRecord::Kind::crash, at(1796641223), 4491, 4490, "notes-bin",
                                         "/home/exwtest/notes-bin", "SIGABRT", "",
                                         (m_temp.path() / abort).string(), ""}}));
    EXPECT_EQ(pidsOf(source.records(window(1796641000, 1796642000))),
              (std::vector<std::int32_t>{4467, 4491}));
    EXPECT_TRUE(source.records(window(1796641230, 1796642000)).empty());
}

TEST_F(ApportReportSourceTest, ReadsOnlyRegularCrashFiles)
{
    const fs::path real = report("_tmp_notes-bin.0.crash", "real.crash", 1796641221);
    report("_tmp_notes-bin.0.crash", ".hidden.crash", 1796641221);
    report("_tmp_notes-bin.0.crash", "notes.crash.txt", 1796641221);
    fs::create_symlink(real, m_temp.path() / "link.crash");
    ASSERT_EQ(::mkfifo((m_temp.path() / "fifo.crash").c_str(), 0666), 0);
    fs::create_directory(m_temp.path() / "directory.crash");
    // Readable by its owner only; a test run as root reads it all the same.
    const fs::path locked = report("_tmp_notes-bin.0.crash", "locked.crash", 1796641221);
    fs::permissions(locked, fs::perms::none);

    std::vector<std::string> sources;
    for (const CrashRecord& record :
         ApportReportSource(m_temp.path()).records(window(1796641000, 1796642000))) {
        sources.push_back(fs::path(record.source).filename());
    }
    if (::geteuid() == 0) {
        EXPECT_EQ(sources, (std::vector<std::string>{"locked.crash", "real.crash"}));
    } else {
        EXPECT_EQ(sources, (std::vector<std::string>{"real.crash"}));
    }
    EXPECT_TRUE(ApportReportSource(m_temp.path() / "missing").records(window(0, 2e9)).empty());
}

// Another user can write a report claiming any program crashed; 65534 is "nobody".
TEST_F(ApportReportSourceTest, IgnoresReportsOfAnotherUser)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user takes root";
    }
    report("_tmp_notes-bin.0.crash", "system.crash", 1796641221);
    const fs::path planted = report("_tmp_notes-bin.0.crash", "planted.crash", 1796641221);
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);

    std::vector<std::string> sources;
    for (const CrashRecord& record :
         ApportReportSource(m_temp.path()).records(window(1796641000, 1796642000))) {
        sources.push_back(fs::path(record.source).filename());
    }
    EXPECT_EQ(sources, (std::vector<std::string>{"system.crash"}));
}

TEST_F(ApportReportSourceTest, StopsReadingAtTheCoreDump)
{
    // 50 MB, nearly all of it the core dump.
    const std::string sample = readFile(kData / "apport" / "_home_exwtest_notes-bin.1001.crash");
    const fs::path path = m_temp.path() / "big.crash";
    {
        std::ofstream out(path, std::ios::binary);
        out << sample.substr(0, sample.find("CoreDump: base64")) << "CoreDump: base64\n";
        const std::string line = " " + std::string(65535, 'A') + "\n";
        for (int i = 0; i < 800; ++i) {
            out << line;
        }
    }
    ASSERT_GT(fs::file_size(path), 50'000'000u);
    setModified(path, 1796641226);
    const auto records = ApportReportSource(m_temp.path()).records(window(1796641223, 1796641224));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].pid, 4491);
    EXPECT_EQ(records[0].signal, "SIGABRT");
}

// --- ABRT ---------------------------------------------------------------------------------------

class AbrtProblemSourceTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(m_temp.path().empty()); }

    fs::path problem(const std::string& sample, const std::string& name, double modified)
    {
        const fs::path path = m_temp.path() / name;
        fs::copy(kData / "abrt" / sample, path, fs::copy_options::recursive);
        setModified(path, modified);
        return path;
    }

    TempDirectory m_temp;
};

TEST_F(AbrtProblemSourceTest, ReadsNativeCrashesOfTheWindow)
{
    const std::string bus = "ccpp-2026-12-07-11:13:35.693769-11793";     // at 1796642015
    const std::string repeated = "ccpp-2026-12-07-11:00:20.412345-4467"; // again at 1796641520
    problem(bus, bus, 1796642016);
    problem(repeated, repeated, 1796641520);
    problem("Python3-2026-12-07-11:05:00.718122-4600", "Python3-2026-12-07-11:05:00.718122-4600", 1796641500);

    const AbrtProblemSource source(m_temp.path());
    EXPECT_EQ(source.records(window(1796642015, 1796642016)),
              (std::vector<CrashRecord>{{CrashRecord::Kind::crash, at(1796642015), 11793, 11780, "photo-lab",
                                         "/home/exwtest/photo-lab", "SIGBUS", "/",
                                         (m_temp.path() / bus).string(), "photo-lab killed by SIGBUS"}}));
    const auto all = source.records(window(1796641000, 1796643000));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].source, (m_temp.path() / repeated).string());
    EXPECT_EQ(all[0].timestamp, at(1796641520));
    EXPECT_EQ(all[1].pid, 11793);
    // The first occurrence is no longer what the directory describes.
    EXPECT_TRUE(source.records(window(1796641219, 1796641221)).empty());
}

TEST_F(AbrtProblemSourceTest, NeverFollowsLinksNorOpensSpecialFiles)
{
    const std::string bus = "ccpp-2026-12-07-11:13:35.693769-11793";
    const fs::path real = problem(bus, "real", 1796642016);
    problem(bus, ".hidden", 1796642016);
    fs::create_directory_symlink(real, m_temp.path() / "link");
    writeFile(m_temp.path() / "last-ccpp", "1796642015");
    // Items that are links or FIFOs count as missing.
    const fs::path tricked = problem(bus, "tricked", 1796642016);
    writeFile(m_temp.path() / "elsewhere", "photo-lab killed by SIGILL");
    fs::remove(tricked / "reason");
    fs::create_symlink(m_temp.path() / "elsewhere", tricked / "reason");
    fs::remove(tricked / "pid");
    ASSERT_EQ(::mkfifo((tricked / "pid").c_str(), 0666), 0);
    setModified(tricked, 1796642016);

    const auto records = AbrtProblemSource(m_temp.path()).records(window(1796642000, 1796642100));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(fs::path(records[0].source).filename(), "real");
    EXPECT_EQ(records[0].signal, "SIGBUS");
    EXPECT_EQ(fs::path(records[1].source).filename(), "tricked");
    EXPECT_EQ(records[1].pid, std::nullopt);
    EXPECT_EQ(records[1].signal, "");
}

TEST_F(AbrtProblemSourceTest, IgnoresProblemsAndItemsOfAnotherUser)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user takes root";
    }
    const std::string bus = "ccpp-2026-12-07-11:13:35.693769-11793";
    problem(bus, "system", 1796642016);
    const fs::path planted = problem(bus, "planted", 1796642016);
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    // An item another user slipped into a problem of ours counts as missing.
    const fs::path mixed = problem(bus, "mixed", 1796642016);
    ASSERT_EQ(::chown((mixed / "pid").c_str(), 65534, 65534), 0);

    const auto records = AbrtProblemSource(m_temp.path()).records(window(1796642000, 1796642100));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(fs::path(records[0].source).filename(), "mixed");
    EXPECT_EQ(records[0].pid, std::nullopt);
    EXPECT_EQ(fs::path(records[1].source).filename(), "system");
    EXPECT_EQ(records[1].pid, 11793);
}

// --- KWin's markers -----------------------------------------------------------------------------

TEST(UnresponsiveMarkerSource, ReadsWellNamedMarkersOfTheWindow)
{
    const TempDirectory temp;
    const std::string boot = ".0b6c2dff8d1a4e3c9c0a1f4f6e2d5a71.";
    for (const std::string& name :
         std::vector<std::string>{"notes-bin" + boot + "4467.1796641220100.json",  // in
                                  "photo-lab" + boot + "812.1796641219900.json",   // in, earlier
                                  "notes-bin" + boot + "4468.1796641230000.json",  // after
                                  "notes-bin.0b6c.4467.1796641220100.json",        // bad boot id
                                  ".notes-bin" + boot + "4469.1796641220100.json", // hidden
                                  "notes-bin" + boot + "4470.1796641220100.txt"}) {
        writeFile(temp.path() / name, "");
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

TEST(CrashRecordSources, ReadEveryPlaceTheSettingsName)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.writeFields({coredumpEntry("coredump-bus-user.json")}), "");
    const TempDirectory apport;
    const TempDirectory abrt;
    const TempDirectory cache;
    writeFile(apport.path() / "a.crash",
              "ProblemType: Crash\nDate: Mon Dec  7 11:13:35 2026\nExecutablePath: /usr/bin/a\nSignal: 11\n");
    setModified(apport.path() / "a.crash", 1796642016);
    fs::create_directory(abrt.path() / "ccpp-1");
    writeFile(abrt.path() / "ccpp-1" / "type", "CCpp");
    writeFile(abrt.path() / "ccpp-1" / "executable", "/usr/bin/b");
    writeFile(abrt.path() / "ccpp-1" / "time", "1796642015");
    setModified(abrt.path() / "ccpp-1", 1796642016);
    const fs::path markers = cache.path() / "drkonqi" / "application-not-responding";
    fs::create_directories(markers);
    writeFile(markers / "c.0b6c2dff8d1a4e3c9c0a1f4f6e2d5a71.33.1796642015500.json", "");

    const ScopedEnvironment utc("TZ", "UTC");
    ::tzset();
    CrashRecordSourceSettings settings;
    settings.journalDirectory = journal.directory();
    settings.apportDirectory = apport.path();
    settings.abrtDirectory = abrt.path();
    settings.cacheDirectory = cache.path();
    std::vector<std::string> executables;
    for (const auto& source : createCrashRecordSources(settings)) {
        for (const CrashRecord& record : source->records(window(1796642015, 1796642016))) {
            executables.push_back(record.executable);
        }
    }
    EXPECT_EQ(executables,
              (std::vector<std::string>{"/home/exwtest/photo-lab", "/usr/bin/a", "/usr/bin/b", "c"}));
}

TEST(CrashRecordSources, FindTheUserCacheDirectory)
{
    {
        const ScopedEnvironment xdg("XDG_CACHE_HOME", "/tmp/xdg-cache");
        const ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(userCacheDirectory(), fs::path("/tmp/xdg-cache"));
    }
    {
        const ScopedEnvironment xdg("XDG_CACHE_HOME", "relative/cache");
        const ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(userCacheDirectory(), fs::path("/home/someone/.cache"));
    }
    {
        const ScopedEnvironment xdg("XDG_CACHE_HOME", std::nullopt);
        const ScopedEnvironment home("HOME", std::nullopt);
        EXPECT_EQ(userCacheDirectory(), std::nullopt);
        EXPECT_EQ(createCrashRecordSources().size(), 3u);
    }
}

} // namespace
} // namespace exitwise::platform
