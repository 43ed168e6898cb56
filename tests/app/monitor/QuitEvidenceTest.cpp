// SPDX-License-Identifier: MIT
// The monitor's log query on a Linux desktop: which lines it asks for and how it reads them.

#include "app/monitor/QuitEvidence.h"

#include "core/evidence/LogPredicate.h"

#include <gtest/gtest.h>
#include <map>

namespace exitwise::app {
namespace {

using core::LogDialect;
using core::QuitAttribution;
using core::TerminationReason;
using QuitEvidence::Evidence;

// "Notes", desktop id org.example.Notes, running notes-bin as pid 4711 in GNOME's scope for it.
QuitEvidence::Target notes()
{
    core::ProcessFacts facts;
    facts.command = "notes-bin";
    facts.executable = "/usr/lib/notes/notes-bin";
    facts.cgroup =
        "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Notes-4711.scope";
    return QuitEvidence::Target{"Notes", "org.example.Notes", 4711, facts};
}

TEST(QuitEvidenceLinux, PredicateAsksTheLinuxServicesAndTheApplicationsOwnOutput)
{
    const auto text = QuitEvidence::predicate(notes(), LogDialect::linuxDesktop);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(
        *text,
        R"((process IN {"launchd", "runningboardd", "ReportCrash", "kernel", "loginwindow", )"
        R"("systemd-coredump", "systemd-oomd", "earlyoom", "nohang", "systemd", "gnome-session-binary", )"
        R"("gnome-session", "ksmserver", "plasma_session"}) AND (eventMessage CONTAINS[c] "Notes" OR )"
        R"(eventMessage CONTAINS[c] "org.example.Notes" OR eventMessage CONTAINS[c] "4711" OR )"
        R"(eventMessage CONTAINS[c] "notes-bin" OR )"
        R"(eventMessage CONTAINS[c] "app-gnome-org.example.Notes-4711.scope") OR processIdentifier == 4711)");

    // The log tool parses it, and it selects what it should.
    const auto parsed = core::LogPredicate::parse(*text);
    ASSERT_TRUE(std::holds_alternative<core::LogPredicate>(parsed));
    const auto& predicate = std::get<core::LogPredicate>(parsed);
    const auto selects = [&predicate](std::string process, std::optional<std::int32_t> pid,
                                      std::string message) {
        return predicate.matches(
            core::LogEntry{core::Date(), std::move(process), pid, "", std::move(message)});
    };
    EXPECT_TRUE(selects("kernel", std::nullopt, "notes-bin[4711]: segfault at 0 ip 0 sp 0 error 6"));
    EXPECT_TRUE(selects("org.example.Notes.desktop", 4711, "notes-bin: a.c:1: main: Assertion `x' failed."));
    EXPECT_TRUE(selects("systemd", 1200,
                        "app-gnome-org.example.Notes-4711.scope: A process of this unit has "
                        "been killed by the OOM killer."));
    EXPECT_FALSE(selects("gnome-shell", 1500, "notes-bin[4711]: segfault at 0"));

    // Without process facts, the comm and unit clauses are left out; repeats are asked once.
    QuitEvidence::Target bare = notes();
    bare.process->command = "notes";
    bare.process->cgroup.clear();
    EXPECT_EQ(QuitEvidence::predicate(bare, LogDialect::linuxDesktop)->find(R"("notes")"), std::string::npos);
    bare.process.reset();
    bare.pid.reset();
    EXPECT_EQ(QuitEvidence::predicate(bare, LogDialect::linuxDesktop)->substr(text->find(") AND (")),
              R"() AND (eventMessage CONTAINS[c] "Notes" OR eventMessage CONTAINS[c] "org.example.Notes"))");
    EXPECT_EQ(QuitEvidence::predicate({}, LogDialect::linuxDesktop), std::nullopt);
    EXPECT_EQ(QuitEvidence::predicate(notes(), LogDialect::macos),
              QuitEvidence::predicate("Notes", "org.example.Notes", 4711));
}

TEST(QuitEvidenceLinux, ReadsOnlyLinesAboutTheApplication)
{
    const std::string own = "2026-03-01 14:05:09+0100 localhost org.example.Notes.desktop[4711]: ";
    const std::string kernel = "2026-03-01 14:05:09+0100 localhost kernel: ";
    const std::string coredump = "2026-03-01 14:05:09+0100 localhost systemd-coredump[4800]: ";
    const std::string manager = "2026-03-01 14:05:09+0100 localhost systemd[1200]: ";
    const std::string earlyoom = "2026-03-01 14:05:09+0100 localhost earlyoom[650]: "
                                 "sending SIGTERM to process 4711 uid 1000 \"notes-bin\": oom_score 600\n";
    const std::string stopTerm =
        manager
        + "app-gnome-org.example.Notes-4711.scope: Killing process 4711 (notes-bin) with signal SIGTERM.\n";
    const std::string assertion = own + "notes-bin: notes.c:12: main: Assertion `x' failed.\n";
    const std::string dumped = coredump + "Process 4711 (notes-bin) of user 1000 dumped core.\n";

    struct Row
    {
        const char* name;
        std::string output;
        std::optional<Evidence> evidence; // absent: no classification
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"kernel segfault", kernel + "notes-bin[4711]: segfault at 0 ip 0 sp 0 error 6 in notes-bin[400000+1000]\n", Evidence::crash},
        {"kernel trap", kernel + "traps: notes-bin[4711] trap invalid opcode ip:1 sp:2 error:0\n", Evidence::crash},
        {"core dump", dumped, Evidence::crash},
        {"core dump of an abort", coredump + "Process 4711 (notes-bin) of user 1000 terminated abnormally with signal 6/ABRT, processing...\n", Evidence::abort},
        {"assertion", assertion, Evidence::abort},
        {"uncaught exception", own + "terminate called after throwing an instance of 'std::runtime_error'\n", Evidence::abort},
        {"abort before the core dump", dumped + assertion, Evidence::abort},
        {"kernel OOM kill", kernel + "Out of memory: Killed process 4711 (notes-bin) total-vm:1kB\n", Evidence::memoryKill},
        {"earlyoom's SIGTERM", earlyoom, Evidence::memoryKill},
        {"earlyoom's SIGTERM beside a quit", stopTerm + earlyoom, Evidence::memoryKill},
        {"user manager OOM", manager + "app-gnome-org.example.Notes-4711.scope: A process of this unit has been killed by the OOM killer.\n", Evidence::memoryKill},
        {"SIGKILL from the user manager", manager + "app-gnome-org.example.Notes-4711.scope: Killing process 4711 (notes-bin) with signal SIGKILL.\n", Evidence::kill},
        {"SIGTERM from the user manager", stopTerm, Evidence::quit},
        {"another process's segfault naming it", kernel + "notes-helper[812]: segfault at 0 ip 0 sp 0 error 6 (Notes)\n", std::nullopt},
        {"a longer pid", kernel + "notes-bin[47110]: segfault at 0 ip 0 sp 0 error 6\n", std::nullopt},
        {"its own chatter", own + "crash reporter disabled; killed the worker; quit; SIGKILL; segmentation fault handler set\n", std::nullopt},
        {"its helper's crash", own + "GPU process exited unexpectedly: exit_code=139\n", std::nullopt},
        {"another instance", "2026-03-01 14:05:09+0100 localhost org.example.Notes.desktop[5000]: notes-bin: notes.c:12: main: Assertion `x' failed.\n", std::nullopt},
        {"another unit", manager + "notes-sync.service: Main process exited, code=dumped, status=11/SEGV\n", std::nullopt},
    };
    // clang-format on
    using R = TerminationReason;
    const std::map<Evidence, QuitEvidence::Classification> expected{
        {Evidence::crash, {R::crashed, "journal: crash evidence for Notes", std::nullopt, Evidence::crash}},
        {Evidence::abort, {R::crashed, "journal: abort evidence for Notes", std::nullopt, Evidence::abort}},
        {Evidence::memoryKill,
         {R::killed, "journal: memory kill evidence for Notes", std::nullopt, Evidence::memoryKill}},
        {Evidence::kill, {R::killed, "journal: kill evidence for Notes", std::nullopt, Evidence::kill}},
        {Evidence::quit,
         {R::quit, "journal: quit/exit evidence for Notes", QuitAttribution::unknown, Evidence::quit}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(QuitEvidence::classify(row.output, notes(), LogDialect::linuxDesktop),
                  row.evidence ? std::optional(expected.at(*row.evidence)) : std::nullopt)
            << row.name;
    }
}

// The macOS dialect reads as it always did; the notice alone names the dialect's watcher.
TEST(QuitEvidenceLinux, DialectsKeepTheirOwnRowsAndNotices)
{
    const std::string output = "2026-01-01 00:00:00 loginwindow[1]: QUIT:asn exitStatus=137 SIGKILL\n";
    EXPECT_EQ(QuitEvidence::classify(output, notes(), LogDialect::macos),
              QuitEvidence::classify(output, "Notes"));
    EXPECT_EQ(QuitEvidence::defaultClassification(),
              (QuitEvidence::Classification{TerminationReason::quit,
                                            "NSWorkspace didTerminateApplicationNotification",
                                            QuitAttribution::unknown, std::nullopt}));
    EXPECT_EQ(
        QuitEvidence::defaultClassification(LogDialect::linuxDesktop),
        (QuitEvidence::Classification{TerminationReason::quit, "process watcher: application process ended",
                                      QuitAttribution::unknown, std::nullopt}));
}

} // namespace
} // namespace exitwise::app
