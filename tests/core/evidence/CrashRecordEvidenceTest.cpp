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

const Date T0 = dateFromSecondsSince1970(1796641220.0);
constexpr std::int32_t kPid = 4491;
const std::string kMarkerFile =
    "/home/u/.cache/drkonqi/application-not-responding/notes-bin.0123.4491.1796641219800.json";

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

EventContext notes(std::optional<ProcessFacts> facts = notesFacts(), std::optional<std::int32_t> pid = kPid)
{
    EventContext context = contextAround(
        {.appName = "Notes", .bundleIdentifier = "org.example.Notes", .pid = pid, .terminatedAt = T0}, 180.0);
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
    record.source = kMarkerFile;
    return record;
}

// Records that appear after a delay, as systemd-coredump's entries do.
struct LateSource : CrashRecordSource
{
    std::vector<CrashRecord> later;
    std::chrono::steady_clock::time_point ready;
    mutable std::atomic<int> calls{0};

    std::vector<CrashRecord> records(const TimestampWindow&) const override
    {
        ++calls;
        return std::chrono::steady_clock::now() < ready ? std::vector<CrashRecord>{} : later;
    }
};

std::shared_ptr<LateSource> source(std::vector<CrashRecord> records = {},
                                   std::chrono::milliseconds delay = 0ms)
{
    auto late = std::make_shared<LateSource>();
    late->later = std::move(records);
    late->ready = std::chrono::steady_clock::now() + delay;
    return late;
}

CrashReportProvider providerWith(std::shared_ptr<const CrashRecordSource> source,
                                 std::chrono::milliseconds dumpedCore = 1500ms,
                                 std::chrono::milliseconds unknown = 1000ms,
                                 std::chrono::milliseconds failed = 900ms)
{
    CrashRecordOptions options{{std::move(source)}, dumpedCore, unknown, failed, 10ms};
    return CrashReportProvider({}, 3, options);
}

TEST(CrashRecordEvidence, WhichRecordsAreTheApplicationsAndWhatTheySay)
{
    ProcessFacts rootGroup = notesFacts();
    rootGroup.cgroup = "/";
    const EventContext noPid = notes(notesFacts(), std::nullopt);
    const EventContext nothingKnown = notes(std::nullopt, std::nullopt);
    using Summaries = std::vector<std::string>;
    const Summaries hang{"Crash report", "Watchdog: App became unresponsive (watchdog)"};
    const std::vector<CrashRecord> helpers{crash(5000, "notes-helper", "SIGSEGV", 1, kPid),
                                           crash(5003, "notes-gpu", "SIGILL", 2, kPid),
                                           crash(5002, "notes-helper", "SIGSEGV", 3, kPid)};
    // clang-format off
    const std::vector<std::tuple<const char*, EventContext, std::vector<CrashRecord>, Summaries>> cases{
        {"by pid", notes(), {crash(kPid, "notes-bin", "SIGSEGV")}, {"Crash report: SIGSEGV"}},
        {"of two, the latest", notes(), {crash(kPid, "notes-bin", "SIGSEGV", 0.5), crash(kPid, "notes-bin", "SIGABRT", 0.1)}, {"Crash report: SIGSEGV"}},
        {"another pid of the same program is not ours", notes(), {crash(4496, "notes-bin", "SIGSEGV")}, {}},
        {"a child is a helper", notes(), {crash(5000, "notes-helper", "SIGSEGV", 0.05, kPid)}, {"Helper/service: notes-helper"}},
        {"same unit is a helper", notes(), {crash(5001, "notes-render", "SIGBUS", 0.05, 1, notesFacts().cgroup)}, {"Helper/service: notes-render"}},
        {"the root group says nothing", notes(rootGroup), {crash(5001, "other", "SIGSEGV", 0.05, 1, "/")}, {}},
        {"no pid: by program path", noPid, {crash(4496, "notes-bin", "SIGSEGV")}, {"Crash report: SIGSEGV"}},
        {"no pid: too far away", noPid, {crash(4496, "notes-bin", "SIGSEGV", 31)}, {}},
        {"no pid, no facts: by name", nothingKnown, {crash(4496, "Notes", "SIGSEGV")}, {"Crash report: SIGSEGV"}},
        {"no pid, no facts: other name", nothingKnown, {crash(4496, "notes-bin", "SIGSEGV")}, {}},
        {"a marker makes the crash a hang", notes(), {marker(kPid), crash(kPid, "notes-bin", "SIGABRT")}, hang},
        {"no pid: a marker names the program", noPid, {marker(4496)}, hang},
        {"no pid: a marker of another program", noPid, {marker(kPid, "other")}, {}},
        {"helpers in order of their first crash", notes(), helpers, {"Helper/service: notes-helper (repeat exits: 2)", "Helper/service: notes-gpu"}},
    };
    // clang-format on
    for (const auto& [name, context, records, expected] : cases) {
        Summaries summaries;
        for (const Signal& signal : providerWith(source(records), 0ms, 0ms, 0ms).collectSignals(context)) {
            summaries.push_back(signal.summary());
        }
        EXPECT_EQ(summaries, expected) << name;
    }
}

TEST(CrashRecordEvidence, ReportsAndHelperSignalsCarryTheRecordsWords)
{
    const auto segv = crashrecords::examine(notes(), {crash(kPid, "notes-bin", "SIGSEGV")});
    EXPECT_EQ(crashrecords::report(segv),
              (CrashReportSignal{T0 + Seconds(0.05), "journal:systemd-coredump", "SIGSEGV",
                                 "Process 4491 (notes-bin) of user 1001 dumped core.", "SIGSEGV",
                                 std::nullopt, std::nullopt, false, false, false}));
    // The desktop's reason, the signal it sent; the helper's latest record, however they came.
    const auto hang = crashrecords::examine(notes(), {marker(kPid), crash(kPid, "notes-bin", "SIGABRT"),
                                                      crash(5002, "notes-helper", "SIGSEGV", 2, kPid),
                                                      crash(5000, "notes-helper", "SIGSEGV", 1, kPid)});
    EXPECT_EQ(crashrecords::report(hang),
              (CrashReportSignal{T0 + Seconds(0.05), kMarkerFile, std::nullopt,
                                 "Ended by the desktop after it stopped responding", "SIGABRT", std::nullopt,
                                 std::nullopt, false, false, true}));
    EXPECT_EQ(
        crashrecords::helperSignals(hang),
        (std::vector<Signal>{LaunchdSignal{T0 + Seconds(2), "notes-helper",
                                           "Process 5002 (notes-helper) of user 1001 dumped core.", 2}}));
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

// The closure of `facts`, ended `ago` before now: the provider waits from the termination on.
EventContext endedAgo(std::optional<ProcessExit> exit, Seconds ago = Seconds(0))
{
    EventContext context = notes(notesFacts(std::move(exit)));
    context.terminatedAt = now() - ago;
    return context;
}

TEST(CrashReportProviderRecords, WaitsForALateRecordOnlyWithinTheBound)
{
    const auto segv = ProcessExit::signaled("SIGSEGV", true);
    const auto signals =
        providerWith(source({crash(kPid, "notes-bin", "SIGSEGV")}, 120ms)).collectSignals(endedAgo(segv));
    ASSERT_FALSE(signals.empty());
    EXPECT_EQ(signals.front().summary(), "Crash report: SIGSEGV");

    // A record that never comes costs the bound.
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
    const auto helperSignals =
        providerWith(helper, 1500ms, 1000ms, 5000ms).collectSignals(endedAgo(ProcessExit::exited(1)));
    ASSERT_EQ(helperSignals.size(), 1u);
    EXPECT_EQ(helperSignals.front().summary(), "Helper/service: notes-helper");
    EXPECT_LT(std::chrono::steady_clock::now() - failedAt, 4000ms);
}

} // namespace
} // namespace exitwise::core
