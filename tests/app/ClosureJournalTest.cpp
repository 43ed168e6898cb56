// SPDX-License-Identifier: MIT
#include "app/ClosureJournal.h"

#include "support/SampleEvents.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <map>

namespace exitwise::app {
namespace {

using core::DominantCause;
using core::EndState;

std::map<std::string, std::string> asMap(const JournalFields& fields)
{
    return {fields.begin(), fields.end()};
}

AppEvent notes(EndState endState, DominantCause cause, core::Confidence confidence)
{
    AppEvent event = test::fullEvent("Notes", test::sampleTime(), 4711);
    event.bundleIdentifier = "org.example.Notes";
    event.diagnosis.endState = endState;
    event.diagnosis.dominantCause = cause;
    event.diagnosis.confidence = confidence;
    return event;
}

TEST(ClosureJournal, TheEntryOfACrashHoldsEveryFieldInOrder)
{
    const AppEvent event = notes(EndState::crash, DominantCause::crashBug, core::Confidence::high);
    // clang-format off
    const JournalFields expected{
        {"MESSAGE_ID", "ef40f9b1c23147b79ce4aea7f9de707b"},
        {"MESSAGE", "Notes ended: Crash · Crashed: app bug · High"},
        {"PRIORITY", "3"},
        {"SYSLOG_IDENTIFIER", "exitwise"},
        {"EXITWISE_EVENT_ID", event.id.toString()},
        {"EXITWISE_APP_NAME", "Notes"},
        {"EXITWISE_DESKTOP_ID", "org.example.Notes"},
        {"EXITWISE_PID", "4711"},
        {"EXITWISE_END_STATE", "Crash"},
        {"EXITWISE_CAUSE", "Crashed: app bug"},
        {"EXITWISE_CONFIDENCE", "High"},
        {"EXITWISE_DIAGNOSIS_VERSION", "0.1.0"},
        {"EXITWISE_LAUNCHED_AT", "2026-02-28T19:21:14.500Z"},
        {"EXITWISE_ENDED_AT", "2026-02-28T19:33:20.000Z"},
    };
    // clang-format on
    EXPECT_EQ(closureJournalFields(event), expected);

    // What the record does not know stays out of the entry.
    EXPECT_EQ(closureJournalFields(test::minimalEvent("Notes", test::sampleTime())).size(), 10u);
}

TEST(ClosureJournal, MessageAndPriorityFollowTheVerdict)
{
    struct Row
    {
        EndState endState;
        DominantCause cause;
        core::Confidence confidence;
        const char* message;
        const char* priority;
    };
    // clang-format off
    const Row rows[] = {
        {EndState::crash,         DominantCause::crashAbort,              core::Confidence::medium, "Notes ended: Crash · Crashed: forced abort · Medium",            "3"},
        {EndState::killed,        DominantCause::killedJetsamMemory,      core::Confidence::high,   "Notes ended: Killed · Killed: memory pressure · High",           "4"},
        {EndState::launchBlocked, DominantCause::dyldFailure,             core::Confidence::high,   "Notes ended: Launch blocked · Dynamic loader failure · High",    "4"},
        {EndState::cleanExit,     DominantCause::dependencyHelperFailure, core::Confidence::low,    "Notes ended: Clean exit · Dependency/helper failure · Low",      "4"},
        {EndState::cleanExit,     DominantCause::explicitQuit,            core::Confidence::high,   "Notes ended: Clean exit · Quit request · High",                  "6"},
    };
    // clang-format on
    for (const Row& row : rows) {
        const auto fields = asMap(closureJournalFields(notes(row.endState, row.cause, row.confidence)));
        EXPECT_EQ(fields.at("MESSAGE"), row.message);
        EXPECT_EQ(fields.at("PRIORITY"), row.priority) << row.message;
    }
}

TEST(ClosureJournal, NamesFromDesktopEntriesAreMadeSafe)
{
    AppEvent event = notes(EndState::crash, DominantCause::crashBug, core::Confidence::high);
    event.appName = std::string("No\0tes\nPRIORITY=0", 17);
    event.bundleIdentifier = std::string(5000, 'x');
    const auto fields = asMap(closureJournalFields(event));
    EXPECT_EQ(fields.at("EXITWISE_APP_NAME"), "No\uFFFDtes PRIORITY=0");
    EXPECT_EQ(fields.at("MESSAGE"), "No\uFFFDtes PRIORITY=0 ended: Crash · Crashed: app bug · High");
    EXPECT_EQ(fields.at("EXITWISE_DESKTOP_ID"), std::string(200, 'x') + "…");

    // One character of endless combining marks is still cut, between two marks.
    event.appName = "N";
    for (int i = 0; i < 1000; ++i) {
        event.appName += "\u0301";
    }
    EXPECT_EQ(asMap(closureJournalFields(event)).at("EXITWISE_APP_NAME").size(), 1023u);
}

class RecordingWriter : public JournalWriter
{
public:
    void write(const JournalFields& fields) override { written.push_back(fields); }
    std::vector<JournalFields> written;
};

TEST(ClosureJournal, PublishesWhileOnAndTheSwitchSurvivesARestart)
{
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("exitwise.conf"));
    const auto settings = [&file] { return std::make_unique<QSettings>(file, QSettings::IniFormat); };
    const AppEvent event = notes(EndState::crash, DominantCause::crashBug, core::Confidence::high);
    RecordingWriter writer;
    ClosureJournal journal(writer, settings());
    EXPECT_TRUE(journal.isEnabled()) << "on by default";
    journal.publish(event);
    EXPECT_EQ(writer.written, std::vector<JournalFields>{closureJournalFields(event)});

    journal.setEnabled(false);
    ClosureJournal restarted(writer, settings());
    EXPECT_FALSE(restarted.isEnabled());
    journal.publish(event);
    restarted.publish(event);
    EXPECT_EQ(writer.written.size(), 1u);
}

} // namespace
} // namespace exitwise::app
