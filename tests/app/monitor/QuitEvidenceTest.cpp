// SPDX-License-Identifier: MIT
// The monitor's log query: which lines it asks for and how it reads them, in the macOS words
// and on a Linux desktop.

#include "app/monitor/QuitEvidence.h"

#include "support/Files.h"
#include "support/SampleContexts.h"

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
    return {"Notes", "org.example.Notes", 4711, test::notesContext({}, TerminationReason::unknown).process};
}

TEST(QuitEvidence, MacosPredicateAsksTheFiveProcessesForTheTermsThatAreNotBlank)
{
    const std::string processes =
        R"((process IN {"launchd", "runningboardd", "ReportCrash", "kernel", "loginwindow"}) AND )";
    EXPECT_EQ(QuitEvidence::predicate("Sketch Pad", "org.example.Sketch", 812),
              processes + R"((eventMessage CONTAINS[c] "Sketch Pad" OR )"
                  + R"(eventMessage CONTAINS[c] "org.example.Sketch" OR eventMessage CONTAINS[c] "812"))");
    EXPECT_EQ(QuitEvidence::predicate(std::string(" a\"b\\c "), std::string("  "), std::nullopt),
              processes + R"((eventMessage CONTAINS[c] "a\"b\\c"))");
    EXPECT_EQ(QuitEvidence::predicate(std::nullopt, std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(QuitEvidence::identifier(std::nullopt, std::nullopt, 7), "7");
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
}

// The cases of tests/data/logs/quit-evidence.txt, in either dialect's words.
TEST(QuitEvidence, ClassifiesTheOutputInTheDialectsWords)
{
    using R = TerminationReason;
    // What decides, and the words of its raw text between the dialect's log and the application.
    const std::map<std::string, QuitEvidence::Classification> decides{
        {"logout force quit",
         {R::quit, "loginwindow force-quit evidence (QUIT:asn exitStatus=137)", QuitAttribution::logout,
          Evidence::logoutForceQuit}},
        {"crash", {R::crashed, "crash evidence", std::nullopt, Evidence::crash}},
        {"abort", {R::crashed, "abort evidence", std::nullopt, Evidence::abort}},
        {"memory kill", {R::killed, "memory kill evidence", std::nullopt, Evidence::memoryKill}},
        {"kill", {R::killed, "kill evidence", std::nullopt, Evidence::kill}},
        {"quit", {R::quit, "quit/exit evidence", QuitAttribution::unknown, Evidence::quit}},
    };
    for (const std::string& line :
         test::dataLines(std::string(EXITWISE_TEST_DATA_DIR) + "/logs/quit-evidence.txt")) {
        const auto fields = test::split(line, " | ", 3);
        ASSERT_EQ(fields.size(), 3u) << line;
        const bool macos = fields[0] == "macos";
        const std::string& evidence = fields[1];
        std::string output = fields[2] + "\n";
        for (std::size_t at = output.find("\\n"); at != std::string::npos; at = output.find("\\n", at)) {
            output.replace(at, 2, "\n");
        }
        std::optional<QuitEvidence::Classification> expected;
        if (evidence != "nothing") {
            expected = decides.at(evidence);
            expected->rawValue = (macos ? "log show: " : "journal: ") + expected->rawValue + " for Notes";
        }
        EXPECT_EQ(
            QuitEvidence::classify(output, notes(), macos ? LogDialect::macos : LogDialect::linuxDesktop),
            expected)
            << line;
    }
}

// The notice alone names the dialect's watcher.
TEST(QuitEvidence, DefaultClassificationNamesTheDialectsNotice)
{
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
