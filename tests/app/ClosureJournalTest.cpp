// SPDX-License-Identifier: MIT
#include "app/ClosureJournal.h"

#include "support/Files.h"
#include "support/SampleEvents.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <map>

namespace exitwise::app {
namespace {

using core::Confidence;
using core::DominantCause;
using core::EndState;

std::map<std::string, std::string> asMap(const JournalFields& fields)
{
    return {fields.begin(), fields.end()};
}

AppEvent notes(EndState endState, DominantCause cause, Confidence confidence)
{
    AppEvent event = test::fullEvent("Notes", test::sampleTime(), 4711);
    event.id = *Uuid::parse("0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B");
    event.bundleIdentifier = "org.example.Notes";
    event.diagnosis.endState = endState;
    event.diagnosis.dominantCause = cause;
    event.diagnosis.confidence = confidence;
    return event;
}

// Each entry in its order, its message and priority following the verdict; the last is of a
// record that knows only what every record has, and says no more.
TEST(ClosureJournal, EntriesFollowTheVerdictAndHoldWhatTheRecordKnows)
{
    // clang-format off
    const std::tuple<EndState, DominantCause, Confidence> verdicts[] = {
        {EndState::crash,         DominantCause::crashBug,                Confidence::high},
        {EndState::crash,         DominantCause::crashAbort,              Confidence::medium},
        {EndState::killed,        DominantCause::killedJetsamMemory,      Confidence::high},
        {EndState::launchBlocked, DominantCause::dyldFailure,             Confidence::high},
        {EndState::cleanExit,     DominantCause::dependencyHelperFailure, Confidence::low},
        {EndState::cleanExit,     DominantCause::explicitQuit,            Confidence::high},
    };
    // clang-format on
    std::string entries;
    const auto add = [&entries](const AppEvent& event) {
        for (const auto& [key, value] : closureJournalFields(event)) {
            entries += key + "=" + value + "\n";
        }
        entries += "\n";
    };
    for (const auto& [endState, cause, confidence] : verdicts) {
        add(notes(endState, cause, confidence));
    }
    AppEvent minimal = test::minimalEvent("Notes", test::sampleTime());
    minimal.id = notes(EndState::crash, DominantCause::crashBug, Confidence::high).id;
    add(minimal);
    EXPECT_EQ(entries, test::readFile(EXITWISE_TEST_DATA_DIR "/texts/closure-journal.txt"));
}

TEST(ClosureJournal, NamesFromDesktopEntriesAreMadeSafe)
{
    AppEvent event = notes(EndState::crash, DominantCause::crashBug, Confidence::high);
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
    const AppEvent event = notes(EndState::crash, DominantCause::crashBug, Confidence::high);
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
