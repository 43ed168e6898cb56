// SPDX-License-Identifier: MIT
#include "core/evidence/CrashRecordEvidence.h"

#include "core/evidence/CrashReportProvider.h"
#include "support/CorePrinters.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <tuple>

namespace exitwise::core {
namespace {

using namespace std::chrono_literals;
using R = TerminationReason;

const Date T0 = dateFromSecondsSince1970(1796641220.0);
constexpr std::int32_t kPid = 4491;

ProcessFacts notesFacts(std::optional<ProcessExit> exit = std::nullopt)
{
    ProcessFacts facts;
    facts.exit = std::move(exit);
    facts.executable = "/opt/notes/notes-bin";
    facts.command = "notes-bin";
    facts.cgroup =
        "/user.slice/user-1001.slice/user@1001.service/app.slice/app-gnome-org.example.Notes-4491.scope";
    return facts;
}

EventContext notes(std::optional<ProcessFacts> facts = notesFacts(),
                   R reason = R::unknown,
                   std::optional<std::string> raw = std::nullopt,
                   std::optional<std::int32_t> pid = kPid)
{
    EventContext context = contextAround({.appName = "Notes",
                                          .bundleIdentifier = "org.example.Notes",
                                          .pid = pid,
                                          .terminatedAt = T0,
                                          .terminationReason = reason,
                                          .terminationRawValue = std::move(raw)},
                                         180.0);
    context.process = std::move(facts);
    return context;
}

CrashRecord crash(std::int32_t pid,
                  std::string command,
                  std::string signal,
                  double offset = 0.05,
                  std::optional<std::int32_t> parent = std::nullopt,
                  std::string cgroup = "/")
{
    CrashRecord record;
    record.timestamp = T0 + Seconds(offset);
    record.pid = pid;
    record.parentPid = parent;
    record.command = command;
    record.executable = "/opt/notes/" + command;
    record.signal = std::move(signal);
    record.cgroup = std::move(cgroup);
    record.source = "journal:systemd-coredump";
    record.message = "Process " + std::to_string(pid) + " (" + command + ") of user 1001 dumped core.";
    return record;
}

CrashRecord marker(std::int32_t pid, std::string exe = "notes-bin")
{
    CrashRecord record;
    record.kind = CrashRecord::Kind::unresponsiveKill;
    record.timestamp = T0 - Seconds(0.2);
    record.pid = pid;
    record.executable = std::move(exe);
    record.source =
        "/home/u/.cache/drkonqi/application-not-responding/notes-bin.0123.4491.1796641219800.json";
    return record;
}

TEST(CrashRecordEvidence, WhichRecordsAreTheApplications)
{
    ProcessFacts rootGroup = notesFacts();
    rootGroup.cgroup = "/";
    const EventContext noPid = notes(notesFacts(), R::unknown, {}, std::nullopt);
    const EventContext nothingKnown = notes(std::nullopt, R::unknown, {}, std::nullopt);
    struct Case
    {
        const char* name;
        EventContext context;
        std::vector<CrashRecord> records;
        std::optional<std::int32_t> crashPid; // the application's crash found, by pid
        std::vector<std::string> helpers;
    };
    // clang-format off
    const std::vector<Case> cases{
        {"by pid", notes(), {crash(kPid, "notes-bin", "SIGSEGV")}, kPid, {}},
        {"another pid of the same program is not ours", notes(), {crash(4496, "notes-bin", "SIGSEGV")}, std::nullopt, {}},
        {"a child is a helper", notes(), {crash(5000, "notes-helper", "SIGSEGV", 0.05, kPid)}, std::nullopt, {"notes-helper"}},
        {"same unit is a helper", notes(), {crash(5001, "notes-render", "SIGBUS", 0.05, 1, notesFacts().cgroup)}, std::nullopt, {"notes-render"}},
        {"the root group says nothing", notes(rootGroup), {crash(5001, "other", "SIGSEGV", 0.05, 1, "/")}, std::nullopt, {}},
        {"no pid: by program path", noPid, {crash(4496, "notes-bin", "SIGSEGV")}, 4496, {}},
        {"no pid: too far away", noPid, {crash(4496, "notes-bin", "SIGSEGV", 31)}, std::nullopt, {}},
        {"no pid, no facts: by name", nothingKnown, {crash(4496, "Notes", "SIGSEGV")}, 4496, {}},
        {"no pid, no facts: other name", nothingKnown, {crash(4496, "notes-bin", "SIGSEGV")}, std::nullopt, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const crashrecords::Findings findings = crashrecords::examine(c.context, c.records);
        EXPECT_EQ(findings.crash ? findings.crash->pid : std::nullopt, c.crashPid);
        std::vector<std::string> helpers;
        for (const auto& helper : findings.helpers) {
            helpers.push_back(helper.name);
        }
        EXPECT_EQ(helpers, c.helpers);
    }
    // Of two records, the latest.
    const auto latest = crashrecords::examine(
        notes(), {crash(kPid, "notes-bin", "SIGSEGV", 0.5), crash(kPid, "notes-bin", "SIGABRT", 0.1)});
    ASSERT_TRUE(latest.crash);
    EXPECT_EQ(latest.crash->signal, "SIGSEGV");
}

TEST(CrashRecordEvidence, ReportsAndHelperSignals)
{
    const auto segv =
        crashrecords::report(crashrecords::examine(notes(), {crash(kPid, "notes-bin", "SIGSEGV")}));
    ASSERT_TRUE(segv);
    EXPECT_EQ(Signal(*segv).summary(), "Crash report: SIGSEGV");
    EXPECT_EQ(std::tie(segv->terminationSignal, segv->terminationReason, segv->timestamp,
                       segv->suspectedWatchdogHang),
              std::tuple("SIGSEGV", "Process 4491 (notes-bin) of user 1001 dumped core.", T0 + Seconds(0.05),
                         false));

    // A marker makes the record a hang: no exception type, the desktop's reason, the signal sent.
    const auto hang = crashrecords::report(
        crashrecords::examine(notes(), {marker(kPid), crash(kPid, "notes-bin", "SIGABRT")}));
    ASSERT_TRUE(hang);
    EXPECT_EQ(std::tie(hang->exceptionType, hang->terminationReason, hang->terminationSignal,
                       hang->suspectedWatchdogHang),
              std::tuple(std::nullopt, "Ended by the desktop after it stopped responding", "SIGABRT", true));
    // A marker for another program's pid is not ours.
    EXPECT_FALSE(
        crashrecords::examine(notes(notesFacts(), R::unknown, {}, std::nullopt), {marker(kPid, "other")})
            .aboutApplication());

    const auto findings = crashrecords::examine(notes(), {crash(5000, "notes-helper", "SIGSEGV", 1, kPid),
                                                          crash(5002, "notes-helper", "SIGSEGV", 2, kPid),
                                                          crash(5003, "notes-gpu", "SIGILL", 3, kPid)});
    const std::vector<Signal> helpers = crashrecords::helperSignals(findings);
    ASSERT_EQ(helpers.size(), 2u);
    EXPECT_EQ(helpers[0].summary(), "Helper/service: notes-helper (repeat exits: 2)");
    EXPECT_EQ(helpers[0].timestamp(), T0 + Seconds(2));
    EXPECT_EQ(helpers[1].summary(), "Helper/service: notes-gpu");
    EXPECT_EQ(helpers[1].as<LaunchdSignal>()->message, "Process 5003 (notes-gpu) of user 1001 dumped core.");
}

// Records that appear after a delay, as systemd-coredump's entries do.
class LateSource : public CrashRecordSource
{
public:
    LateSource(std::vector<CrashRecord> records, std::chrono::milliseconds delay)
        : m_records(std::move(records))
        , m_ready(std::chrono::steady_clock::now() + delay)
    {}

    std::vector<CrashRecord> records(const TimestampWindow&) const override
    {
        ++calls;
        return std::chrono::steady_clock::now() < m_ready ? std::vector<CrashRecord>{} : m_records;
    }

    mutable std::atomic<int> calls{0};

private:
    std::vector<CrashRecord> m_records;
    std::chrono::steady_clock::time_point m_ready;
};

std::shared_ptr<LateSource> source(std::vector<CrashRecord> records = {},
                                   std::chrono::milliseconds delay = 0ms)
{
    return std::make_shared<LateSource>(std::move(records), delay);
}

CrashReportProvider providerWith(std::shared_ptr<const CrashRecordSource> source,
                                 std::chrono::milliseconds dumpedCore = 1500ms,
                                 std::chrono::milliseconds unknown = 1000ms,
                                 std::chrono::milliseconds failed = 900ms)
{
    CrashRecordOptions options{{std::move(source)}, dumpedCore, unknown, failed, 10ms};
    return CrashReportProvider({}, 3, options);
}

TEST(CrashReportProviderRecords, SettleTimeFollowsTheExitStatus)
{
    const auto provider = providerWith(source(), 1500ms, 700ms);
    // clang-format off
    const std::vector<std::pair<std::optional<ProcessFacts>, std::chrono::milliseconds>> cases{
        {notesFacts(ProcessExit::signaled("SIGSEGV", false)), 1500ms},
        {notesFacts(ProcessExit::signaled("SIGUSR1", true)), 1500ms},
        {notesFacts(ProcessExit::signaled("SIGKILL", false)), 0ms},
        {notesFacts(ProcessExit::exited(1)), 900ms},
        {notesFacts(ProcessExit::exited(0)), 0ms},
        {notesFacts(ProcessExit::unknown()), 700ms},
        {notesFacts(std::nullopt), 0ms},
        {std::nullopt, 0ms},
    };
    // clang-format on
    for (const auto& [facts, expected] : cases) {
        EXPECT_EQ(provider.settleTime(notes(facts)), expected);
    }
    EXPECT_EQ(CrashReportProvider({}).settleTime(notes(notesFacts(ProcessExit::unknown()))), 0ms);
}

// The same closure, ended `ago` before now: the provider waits from the termination on.
EventContext endedAgo(EventContext context, Seconds ago = Seconds(0))
{
    context.terminatedAt = now() - ago;
    return context;
}

TEST(CrashReportProviderRecords, WaitsForALateRecordOnlyWithinTheBound)
{
    const auto segv = notes(notesFacts(ProcessExit::signaled("SIGSEGV", true)), R::crashed,
                            "terminated by SIGSEGV (core dumped)");
    const auto signals =
        providerWith(source({crash(kPid, "notes-bin", "SIGSEGV")}, 120ms)).collectSignals(endedAgo(segv));
    ASSERT_FALSE(signals.empty());
    EXPECT_EQ(signals.front().summary(), "Crash report: SIGSEGV");

    // A record that never comes costs the bound, not more.
    const auto never = source();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(providerWith(never, 150ms).collectSignals(endedAgo(segv)).empty());
    EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
    EXPECT_GT(never->calls.load(), 2);

    // The bound counts from the termination: a diagnosis that starts late waits only for the rest.
    const auto late = source();
    EXPECT_TRUE(providerWith(late, 1500ms).collectSignals(endedAgo(segv, Seconds(2))).empty());
    EXPECT_EQ(late->calls.load(), 1);

    // An exit with an error waits for a helper's record, and no longer once it is there.
    const auto helper = source({crash(5000, "notes-helper", "SIGSEGV", -1, kPid)}, 60ms);
    const auto failedAt = std::chrono::steady_clock::now();
    const auto failed = notes(notesFacts(ProcessExit::exited(1)), R::unknown, "exited with code 1");
    const auto helperSignals = providerWith(helper, 1500ms, 1000ms, 5000ms).collectSignals(endedAgo(failed));
    ASSERT_EQ(helperSignals.size(), 1u);
    EXPECT_EQ(helperSignals.front().summary(), "Helper/service: notes-helper");
    EXPECT_LT(std::chrono::steady_clock::now() - failedAt, 4000ms);

    // A clean exit waits for nothing.
    const auto clean = source();
    EXPECT_TRUE(providerWith(clean)
                    .collectSignals(endedAgo(notes(notesFacts(ProcessExit::exited(0)), R::quit)))
                    .empty());
    EXPECT_EQ(clean->calls.load(), 1);
}

} // namespace
} // namespace exitwise::core
