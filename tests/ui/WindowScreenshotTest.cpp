// SPDX-License-Identifier: MIT
// Pictures of the main window with a realistic history, for looking at the finished product
// (scripts/screenshots). Ordinary runs only check what the pictures rely on.

#include "core/ExplanationTemplates.h"
#include "support/EventLoop.h"
#include "support/ModelFixture.h"
#include "support/SampleEvents.h"
#include "support/Screenshots.h"
#include "support/StableEvents.h"
#include "support/ThemePalettes.h"
#include "ui/EventDetailView.h"
#include "ui/FailureTimelineView.h"
#include "ui/MainWindow.h"
#include "ui/RootView.h"
#include "ui/SidebarView.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QListView>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QToolButton>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using core::Confidence;
using core::DominantCause;
using core::EndState;

struct App
{
    const char* name;
    const char* desktopId;
    QColor colour;
};

const App kApps[] = {
    {"Firefox", "firefox-esr", QColor(0xe6, 0x6a, 0x1f)},
    {"Visual Studio Code", "code", QColor(0x1f, 0x7a, 0xc8)},
    {"GIMP", "gimp", QColor(0x6b, 0x5c, 0x4a)},
    {"Thunderbird", "thunderbird", QColor(0x2b, 0x5f, 0xb3)},
    {"LibreOffice Writer", "libreoffice-writer", QColor(0x2a, 0x7f, 0xd6)},
    {"Inkscape", "org.inkscape.Inkscape", QColor(0x33, 0x33, 0x33)},
    {"Blender", "blender", QColor(0xea, 0x7d, 0x00)},
    {"Slack", "com.slack.Slack", QColor(0x4a, 0x15, 0x4b)},
    {"Spotify", "com.spotify.Client", QColor(0x1d, 0xb9, 0x54)},
    {"Steam", "steam", QColor(0x17, 0x1a, 0x21)},
    {"Files", "org.gnome.Nautilus", QColor(0x5a, 0x8d, 0xd8)},
    {"OBS Studio", "com.obsproject.Studio", QColor(0x30, 0x2e, 0x31)},
    {"Kdenlive", "org.kde.kdenlive", QColor(0x3b, 0x8e, 0xd0)},
    {"Zoom", "us.zoom.Zoom", QColor(0x2d, 0x8c, 0xff)},
    {"Evince", "org.gnome.Evince", QColor(0xc0, 0x39, 0x2b)},
    {"Calculator", "org.gnome.Calculator", QColor(0x55, 0x57, 0x53)},
};

struct Verdict
{
    EndState endState;
    DominantCause cause;
    Confidence confidence;
};

const Verdict kVerdicts[] = {
    {EndState::killed, DominantCause::killedJetsamMemory, Confidence::medium},
    {EndState::crash, DominantCause::crashBug, Confidence::high},
    {EndState::cleanExit, DominantCause::explicitQuit, Confidence::high},
    {EndState::killed, DominantCause::killedWatchdogHang, Confidence::medium},
    {EndState::crash, DominantCause::crashAbort, Confidence::high},
    {EndState::crash, DominantCause::dependencyHelperFailure, Confidence::low},
    {EndState::launchBlocked, DominantCause::dyldFailure, Confidence::high},
    {EndState::cleanExit, DominantCause::unknown, Confidence::low},
    {EndState::launchBlocked, DominantCause::policyBlocked, Confidence::medium},
};

std::vector<core::Signal> evidenceFor(DominantCause cause, core::Date at)
{
    const core::Date before = at - core::Seconds(4);
    std::vector<core::Signal> evidence{
        core::TerminationSignal{at, core::TerminationReason::crashed, std::string("signal 9"), std::nullopt}};
    switch (cause) {
    case DominantCause::killedJetsamMemory:
        evidence.push_back(core::JetsamSignal{before,
                                              "Out of memory: Killed process 48211 (firefox-esr) total-vm:"
                                              "11834412kB, anon-rss:6291032kB",
                                              core::MemoryPressureEvidence::correlatedPressure});
        evidence.push_back(
            core::UnifiedLogSignal{before - core::Seconds(20), std::string("systemd-oomd"),
                                   "Memory pressure for user@1000.service is above 80% for > 20s"});
        break;
    case DominantCause::crashBug:
    case DominantCause::crashAbort: {
        core::CrashReportSignal report;
        report.timestamp = at;
        report.sourcePath = "/var/crash/_usr_bin_app.1000.crash";
        report.exceptionType = "SIGSEGV";
        report.terminationSignal = "11";
        evidence.push_back(report);
    } break;
    case DominantCause::killedWatchdogHang:
        evidence.push_back(core::WatchdogSignal{before, "Window not responding for 30 seconds; force quit"});
        break;
    default:
        break;
    }
    return evidence;
}

app::AppEvent closure(const App& app, const Verdict& verdict, double minutesAgo)
{
    const core::Date at = test::sampleTime(-60.0 * minutesAgo);
    app::AppEvent event = test::fullEvent(app.name, at);
    event.appPath = std::string("/usr/share/applications/") + app.desktopId + ".desktop";
    event.bundleIdentifier = std::string(app.desktopId) + ".desktop";
    event.launchedAt = at - core::Seconds(3725.4 + 97.0 * minutesAgo);
    core::Diagnosis& d = event.diagnosis;
    d.endState = verdict.endState;
    d.dominantCause = verdict.cause;
    d.confidence = verdict.confidence;
    d.signalsUsed = evidenceFor(verdict.cause, at);
    d.explanation =
        core::ExplanationTemplates::render(app.name, verdict.cause, verdict.confidence, d.signalsUsed);
    return test::keptThroughRefresh(event);
}

// Fifty closures of sixteen applications, newest first.
std::vector<app::AppEvent> history()
{
    std::vector<app::AppEvent> events;
    for (int i = 0; i < 50; ++i) {
        const App& app = kApps[(i * 7) % std::size(kApps)];
        const Verdict& verdict = kVerdicts[(i * 5 + i / 3) % std::size(kVerdicts)];
        events.push_back(closure(app, verdict, 3.0 + i * 47.0));
    }
    return events;
}

// Stand-ins for the installed applications' icons: a coloured tile with the initial.
void writeIcon(const App& app, const std::filesystem::path& path)
{
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 128);
    fill.setColorAt(0, app.colour.lighter(125));
    fill.setColorAt(1, app.colour);
    painter.fillRect(image.rect(), fill);
    QFont font = painter.font();
    font.setPixelSize(68);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, QString(QChar(app.name[0])));
    painter.end();
    image.save(QString::fromStdString(path.string()), "PNG");
}

// `suffix` names the palette in the file names: "" for light, "-dark".
void renderMainWindow(const QString& suffix)
{
    test::ModelFixture fixture;
    const std::filesystem::path icons = fixture.directory() / "icons";
    std::filesystem::create_directories(icons);
    for (const App& app : kApps) {
        writeIcon(app, icons / (std::string(app.desktopId) + ".png"));
    }
    const std::vector<app::AppEvent> events = history();
    fixture.wording = core::Wording::linuxDesktop; // as the Linux desktop app speaks
    app::AppModel& model = fixture.makeModel(events);
    QSettings settings(QString::fromStdString((fixture.directory() / "settings.ini").string()),
                       QSettings::IniFormat);
    settings.setValue(RootView::kOnboardingCompletedKey, true);
    MainWindowOptions options;
    options.settings = &settings;
    options.iconNameLookup = [icons](const std::string& appPath) -> std::optional<std::string> {
        const std::filesystem::path id = std::filesystem::path(appPath).stem();
        return (icons / (id.string() + ".png")).string();
    };
    MainWindow window(model, std::move(options));
    window.resize(1180, 760);
    // Away from the offscreen pointer, which would otherwise hover the first toolbar button.
    window.move(80, 80);
    window.show();
    QApplication::setActiveWindow(&window);
    model.setSelectedEventID(model.events()[0].id);

    RootView& root = *window.rootView();
    EXPECT_EQ(root.sidebar()->subtitleLabel()->text(), "Latest closures \u2022 50/50");
    EXPECT_EQ(root.sidebar()->listView()->model()->rowCount(), 50);
    EventDetailView* detail = root.eventDetail();
    ASSERT_NE(detail, nullptr);
    auto* timeline = detail->findChild<FailureTimelineView*>();
    ASSERT_NE(timeline, nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return !timeline->isAnimating(); }));
    test::saveScreenshot(window, QStringLiteral("main-window") + suffix);

    detail->confidenceDetailsToggle()->click();
    if (detail->alternativesToggle() != nullptr) {
        detail->alternativesToggle()->click();
    }
    detail->detailsToggle()->click();
    auto* scroll = detail->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    QCoreApplication::processEvents();
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    EXPECT_TRUE(detail->detailsToggle()->isVisible());
    test::saveScreenshot(window, QStringLiteral("main-window-details") + suffix);

    window.showAbout();
    ASSERT_NE(window.aboutDialog(), nullptr);
    window.aboutDialog()->adjustSize();
    QCoreApplication::processEvents();
    test::saveScreenshot(*window.aboutDialog(), QStringLiteral("about") + suffix);
}

TEST(WindowScreenshot, MainWindowWithHistoryAndDetail)
{
    const test::ScopedPalette light(test::lightPalette());
    renderMainWindow(QString());
}

TEST(WindowScreenshot, MainWindowInTheDark)
{
    const test::ScopedPalette dark(test::darkPalette());
    renderMainWindow(QStringLiteral("-dark"));
}

} // namespace
} // namespace exitwise::ui
