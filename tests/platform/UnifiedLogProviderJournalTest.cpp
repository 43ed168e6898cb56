// SPDX-License-Identifier: MIT
// The provider over the journal store and the exitwise-log tool, on journals made in the test.

#include "core/DiagnosisEngine.h"
#include "core/Text.h"
#include "core/evidence/UnifiedLogProvider.h"
#include "platform/linux/JournalLogStore.h"
#include "platform/linux/SubprocessLogTool.h"
#include "support/CorePrinters.h"
#include "support/JournalFixture.h"
#include "support/SampleContexts.h"
#include "support/ScriptDirectory.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

using namespace std::chrono_literals;
using core::Signal;
using core::TerminationReason;
using test::JournalFixture;
using test::JournalRecord;

constexpr double kT = 1700000000.0;
const core::Date kTerminatedAt = core::dateFromSecondsSince1970(kT);
const std::string kOomLine =
    "Out of memory: Killed process 812 (Sketch Pad) total-vm:4194304kB, anon-rss:3145728kB";

core::EventContext sketchPad(TerminationReason reason)
{
    return core::contextAround(
        {.appName = "Sketch Pad", .pid = 812, .terminatedAt = kTerminatedAt, .terminationReason = reason},
        180.0);
}

class UnifiedLogProviderJournal : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!JournalFixture::available()) {
            GTEST_SKIP() << JournalFixture::kRemoteTool << " is missing (package systemd-journal-remote)";
        }
    }

    std::shared_ptr<JournalLogStore> store() const
    {
        return std::make_shared<JournalLogStore>(m_journal.directory());
    }

    JournalFixture m_journal;
};

TEST_F(UnifiedLogProviderJournal, OomKillerLineGivesADirectMemorySignal)
{
    ASSERT_EQ(m_journal.write({
                  {kT - 300, "kernel", std::nullopt, "", "", "Sketch Pad killed by jetsam long before"},
                  {kT - 10, "kernel", std::nullopt, "", "", kOomLine},
                  {kT + 200, "kernel", std::nullopt, "", "", "Sketch Pad crashed after the window"},
              }),
              "");
    const core::UnifiedLogProvider provider(store(), nullptr);
    const core::Date at = core::dateFromSecondsSince1970(kT - 10);
    EXPECT_EQ(provider.collectSignals(sketchPad(TerminationReason::killed)),
              (std::vector<Signal>{
                  core::TerminationSignal{at, TerminationReason::killed, "kernel: " + kOomLine, std::nullopt},
                  core::JetsamSignal{at, kOomLine, core::MemoryPressureEvidence::directTermination},
              }));
}

TEST_F(UnifiedLogProviderJournal, BusyWindowStopsAtMaxEntries)
{
    std::vector<JournalRecord> records;
    for (int i = 0; i < 400; ++i) {
        records.push_back({kT - 100 + i * 0.25, "sketchpad", 812, "", "", "Sketch Pad unresponsive"});
    }
    ASSERT_EQ(m_journal.write(records), "");
    EXPECT_EQ(core::UnifiedLogProvider(store(), nullptr)
                  .collectSignals(sketchPad(TerminationReason::killed))
                  .size(),
              250u);
}

TEST_F(UnifiedLogProviderJournal, CorrelatedPressureDependsOnTheReason)
{
    ASSERT_EQ(m_journal.write({
                  {kT - 10, "kernel", std::nullopt, "", "", "memorystatus: Sketch Pad under pressure"},
                  {kT + 5, "runningboardd", 77, "", "", "Sketch Pad exited"},
              }),
              "");
    const core::UnifiedLogProvider provider(store(), nullptr);
    for (const auto& [reason, expected] :
         {std::pair{TerminationReason::killed, true}, std::pair{TerminationReason::unknown, true},
          std::pair{TerminationReason::quit, false}}) {
        const auto signals = provider.collectSignals(sketchPad(reason));
        const bool correlated = std::any_of(signals.begin(), signals.end(), [](const Signal& s) {
            const auto* jetsam = s.as<core::JetsamSignal>();
            return jetsam != nullptr && jetsam->evidence == core::MemoryPressureEvidence::correlatedPressure;
        });
        EXPECT_EQ(correlated, expected) << core::rawValue(reason);
    }
}

TEST_F(UnifiedLogProviderJournal, FallbackRunsExitwiseLogOnTheSameJournal)
{
    ASSERT_EQ(m_journal.write({{kT - 10, "kernel", std::nullopt, "", "", kOomLine}}), "");
    const auto unreadable = std::make_shared<JournalLogStore>(m_journal.directory() / "missing");
    const auto tool = std::make_shared<SubprocessLogTool>(EXITWISE_LOG_BIN, m_journal.directory());
    EXPECT_EQ(core::UnifiedLogProvider(unreadable, tool).collectSignals(sketchPad(TerminationReason::killed)),
              (std::vector<Signal>{
                  core::JetsamSignal{kTerminatedAt, "jetsam/memory pressure signal from unified log",
                                     core::MemoryPressureEvidence::directTermination},
                  core::TerminationSignal{kTerminatedAt, TerminationReason::killed, "log show: jetsam",
                                          std::nullopt},
              }));
}

TEST(UnifiedLogProviderTool, AToolPastItsDeadlineIsTerminatedAndItsOutputClassified)
{
    test::ScriptDirectory scripts;
    core::UnifiedLogProviderOptions options;
    options.toolTimeout = 400ms;
    const auto context = sketchPad(TerminationReason::unknown);
    const auto run = [&](const std::string& body) {
        const auto tool = std::make_shared<SubprocessLogTool>(scripts.script("log", body));
        return core::UnifiedLogProvider(nullptr, tool, options).collectSignals(context);
    };

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(run("echo '2023-11-14 22:13:20.000000+0000 localhost launchd: Sketch Pad got SIGTERM'; exec "
                  "sleep 30"),
              (std::vector<Signal>{core::TerminationSignal{kTerminatedAt, TerminationReason::quit,
                                                           "log show: SIGTERM/quit request",
                                                           core::QuitAttribution::userRequest}}));
    EXPECT_TRUE(run("exec sleep 30").empty());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
}

// On a Linux desktop: "Notes", desktop id org.example.Notes, running notes-bin as pid 4711. The
// kernel names it only as notes-bin[4711]; its own stream carries the desktop id and its pid.
core::EventContext notes(TerminationReason reason)
{
    return test::notesContext(kTerminatedAt, reason);
}

const std::string kSegfault =
    "notes-bin[4711]: segfault at 0 ip 000055d0c8a1b139 sp 00007ffd2c1e8a40 error 6 in "
    "notes-bin[55d0c8a1a000+2000]";

TEST_F(UnifiedLogProviderJournal, LinuxLinesAreDiagnosedFromARealJournal)
{
    const std::string own = "org.example.Notes.desktop";
    const std::string exe = "/usr/lib/notes/notes-bin";
    struct Row
    {
        const char* name;
        std::vector<JournalRecord> records;
        core::DominantCause expected;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"a SIGSEGV without a core dump",
         {{kT - 1, "kernel", std::nullopt, "", "", kSegfault},
          {kT - 1, "kernel", std::nullopt, "", "", "notes-helper[812]: segfault at 0 ip 0000000000401000 sp 00007ffd2c1e8a40 error 4 in notes-helper[400000+1000]"}},
         core::DominantCause::crashBug},
        {"a trap",
         {{kT - 1, "kernel", std::nullopt, "", "", "traps: notes-bin[4711] trap divide error ip:55d0c8a1b139 sp:7ffd2c1e8a40 error:0 in notes-bin[55d0c8a1a000+2000]"}},
         core::DominantCause::crashBug},
        {"a memory cgroup OOM kill",
         {{kT - 2, "kernel", std::nullopt, "", "", "notes-bin invoked oom-killer: gfp_mask=0xcc0(GFP_KERNEL), order=0, oom_score_adj=200"},
          {kT - 2, "kernel", std::nullopt, "", "", "Memory cgroup out of memory: Killed process 4711 (notes-bin) total-vm:4194304kB, anon-rss:3145728kB, file-rss:0kB, shmem-rss:0kB, UID:1000 pgtables:6500kB oom_score_adj:200"}},
         core::DominantCause::killedJetsamMemory},
        {"a failed assertion in its own stream",
         {{kT - 1, own, 4711, "notes-bin", exe, "quit requested by the worker; SIGTERM handler installed"},
          {kT - 0.01, own, 4711, "notes-bin", exe, "notes-bin: notes.c:12: main: Assertion `x' failed."}},
         core::DominantCause::crashAbort},
        {"a missing shared library",
         {{kT - 0.02, own, 4711, "notes-bin", exe, "notes-bin: error while loading shared libraries: libnotes.so.3: cannot open shared object file: No such file or directory"}},
         core::DominantCause::dyldFailure},
    };
    // clang-format on
    for (const Row& row : rows) {
        const JournalFixture journal;
        ASSERT_EQ(journal.write(row.records), "") << row.name;
        const core::DiagnosisEngine engine({std::make_shared<core::UnifiedLogProvider>(
            std::make_shared<JournalLogStore>(journal.directory()), nullptr,
            core::UnifiedLogProviderOptions::forLinuxDesktop())});
        EXPECT_EQ(engine.diagnose(notes(TerminationReason::unknown), {}, true).dominantCause, row.expected)
            << row.name;
    }
}

TEST_F(UnifiedLogProviderJournal, LinuxSegfaultGivesExactlyOneCrashSignal)
{
    ASSERT_EQ(m_journal.write({
                  {kT - 1, "kernel", std::nullopt, "", "", kSegfault},
                  {kT - 1, "kernel", std::nullopt, "", "", "usb 1-1: new high-speed USB device number 4711"},
                  {kT - 1, "gnome-shell", 1500, "gnome-shell", "", "notes-bin[4711]: segfault at 0"},
              }),
              "");
    const auto options = core::UnifiedLogProviderOptions::forLinuxDesktop();
    const core::Date at = core::dateFromSecondsSince1970(kT - 1);
    const std::vector<Signal> expected{core::TerminationSignal{
        at, TerminationReason::crashed, "kernel: " + core::text::shortened(kSegfault, 120), std::nullopt}};
    EXPECT_EQ(
        core::UnifiedLogProvider(store(), nullptr, options).collectSignals(notes(TerminationReason::unknown)),
        expected);

    // The fallback asks exitwise-log the same question and reads its lines the same way.
    const auto unreadable = std::make_shared<JournalLogStore>(m_journal.directory() / "missing");
    const auto tool = std::make_shared<SubprocessLogTool>(EXITWISE_LOG_BIN, m_journal.directory());
    EXPECT_EQ(
        core::UnifiedLogProvider(unreadable, tool, options).collectSignals(notes(TerminationReason::unknown)),
        (std::vector<Signal>{core::TerminationSignal{kTerminatedAt, TerminationReason::crashed,
                                                     "kernel: " + core::text::shortened(kSegfault, 120),
                                                     std::nullopt}}));
}

// Exitwise's own entry about an earlier closure of Notes says "Crash"; read as evidence it could
// turn the later quit of Notes into a crash. Neither the store nor exitwise-log hands it out,
// whichever reading of the lines asks.
TEST_F(UnifiedLogProviderJournal, OwnClosureEntriesAreNeverEvidence)
{
    const std::string message = "Notes ended: Crash · Crashed: app bug · High";
    const std::string ours = "ef40f9b1c23147b79ce4aea7f9de707b";
    const std::pair<std::string, std::string> pid{"_PID", "900"};
    // clang-format off
    const std::vector<std::vector<std::pair<std::string, std::string>>> entries{
        {{"SYSLOG_IDENTIFIER", "exitwise"}, {"MESSAGE_ID", ours}, pid, {"MESSAGE", message}},
        {{"SYSLOG_IDENTIFIER", "notes-crash-tracker"}, {"MESSAGE_ID", ours}, pid, {"MESSAGE", message}},
        {{"SYSLOG_IDENTIFIER", "exitwise"}, {"MESSAGE_ID", "0123456789abcdef0123456789abcdef"}, pid, {"MESSAGE", message}},
    };
    // clang-format on
    const core::LogQuery query{
        kTerminatedAt - core::Seconds(60), kTerminatedAt,
        core::LogPredicate::containsIgnoringCase(core::LogPredicate::Field::composedMessage, "Notes")};
    for (const auto& fields : entries) {
        SCOPED_TRACE(fields[0].second + " " + fields[1].second);
        const JournalFixture journal;
        // A line of Notes itself shows that the rest is read.
        ASSERT_EQ(journal.writeFields({{kT - 20, fields},
                                       {kT - 10,
                                        {{"SYSLOG_IDENTIFIER", "org.example.Notes"},
                                         {"_PID", "4711"},
                                         {"MESSAGE", "Notes saved 3 files"}}}}),
                  "");
        const auto store = std::make_shared<JournalLogStore>(journal.directory());
        std::vector<std::string> read;
        ASSERT_FALSE(store->readEntries(query, [&read](const core::LogEntry& entry) {
            read.push_back(entry.message);
            return true;
        }));
        EXPECT_EQ(read, std::vector<std::string>{"Notes saved 3 files"});
        const auto tool = std::make_shared<SubprocessLogTool>(EXITWISE_LOG_BIN, journal.directory());
        const std::string shown =
            tool->show(query.start, query.end, R"(eventMessage CONTAINS[c] "Notes")", 5s);
        EXPECT_NE(shown.find("Notes saved 3 files"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("ended:"), std::string::npos) << shown;

        const auto unreadable = std::make_shared<JournalLogStore>(journal.directory() / "missing");
        const auto linuxDesktop = core::UnifiedLogProviderOptions::forLinuxDesktop();
        for (const auto& provider :
             {std::make_shared<core::UnifiedLogProvider>(store, nullptr),
              std::make_shared<core::UnifiedLogProvider>(store, nullptr, linuxDesktop),
              std::make_shared<core::UnifiedLogProvider>(unreadable, tool, linuxDesktop)}) {
            const auto diagnosis =
                core::DiagnosisEngine({provider}).diagnose(notes(TerminationReason::quit), {}, true);
            EXPECT_EQ(diagnosis.endState, core::EndState::cleanExit);
            EXPECT_EQ(diagnosis.dominantCause, core::DominantCause::explicitQuit);
        }
    }
}

} // namespace
} // namespace exitwise::platform
