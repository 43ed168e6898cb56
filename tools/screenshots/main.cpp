// SPDX-License-Identifier: MIT
// Draws the desktop views with realistic sample data on the offscreen platform and saves them as
// PNG files in the directory given as the argument, for looking at the finished product
// (scripts/screenshots).

#include "app/AppModel.h"
#include "app/BroadcastCenter.h"
#include "app/RecordFiles.h"
#include "app/WorkspaceEvents.h"
#include "app/stores/EventStore.h"
#include "core/ExplanationTemplates.h"
#include "support/EventLoop.h"
#include "support/SampleEvents.h"
#include "support/StableEvents.h"
#include "support/ThemePalettes.h"
#include "ui/EventDetailView.h"
#include "ui/FailureTimelineView.h"
#include "ui/IdleDetailView.h"
#include "ui/MainWindow.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/PopoverWindow.h"
#include "ui/Resources.h"
#include "ui/RootView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace exitwise::screenshots {
namespace {

using core::Confidence;
using core::DominantCause;
using core::EndState;

// A real model over a temporary data directory: the events are stored first, the monitor does
// not start and the clock stands still.
class SampleModel
{
public:
    explicit SampleModel(const std::vector<app::AppEvent>& stored,
                         core::Wording wording = core::Wording::macos)
    {
        if (!m_directory.isValid()) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        if (!stored.empty()) {
            if (const auto error = app::records::atomicReplace(directory() / "events.json",
                                                               app::EventStore::encodeEventFile(stored))) {
                throw std::runtime_error(error->message());
            }
        }
        app::AppModel::Dependencies d;
        d.dataDirectory = directory();
        d.workspace = &m_workspace;
        d.broadcasts = &m_broadcasts;
        d.clock = [] { return test::sampleTime(3600); };
        d.startMonitoring = false;
        d.engine = core::DiagnosisEngine({}, wording);
        m_model = std::make_unique<app::AppModel>(std::move(d));
        QCoreApplication::processEvents(); // the start-up refresh
    }

    [[nodiscard]] app::AppModel& model() { return *m_model; }
    [[nodiscard]] std::filesystem::path directory() const { return m_directory.path().toStdString(); }

private:
    QTemporaryDir m_directory;
    app::WorkspaceEvents m_workspace;
    app::BroadcastCenter m_broadcasts;
    std::unique_ptr<app::AppModel> m_model;
};

class Album
{
public:
    explicit Album(const QDir& directory)
        : m_directory(directory)
    {}

    void save(QWidget& widget, const QString& name)
    {
        const QString path = m_directory.filePath(name + QStringLiteral(".png"));
        if (!widget.grab().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            m_failed = true;
        }
    }
    [[nodiscard]] bool failed() const { return m_failed; }

private:
    QDir m_directory;
    bool m_failed = false;
};

app::AppEvent recentClosure(
    const std::string& name, double minutesAgo, EndState state, DominantCause cause, Confidence confidence)
{
    // Counted back from now, so the rows show times of today.
    app::AppEvent event = test::fullEvent(name, core::now() - core::Seconds(60.0 * minutesAgo));
    event.diagnosis.endState = state;
    event.diagnosis.dominantCause = cause;
    event.diagnosis.confidence = confidence;
    return event;
}

ui::MenuBarPopoverContentView::Options popoverOptions()
{
    ui::MenuBarPopoverContentView::Options options;
    options.supportsLaunchAtLogin = true;
    options.launchAtLoginEnabled = true;
    options.notificationScope = [] { return app::NotificationScope::unexpectedOnly; };
    options.onChangeNotificationScope = [](app::NotificationScope) {};
    return options;
}

// `suffix` names the palette in the file names: "" for light, "-dark".
void drawPopover(Album& album, const QString& suffix)
{
    SampleModel sample({
        recentClosure("Firefox", 3, EndState::killed, DominantCause::killedJetsamMemory, Confidence::high),
        recentClosure("Visual Studio Code", 26, EndState::killed, DominantCause::killedWatchdogHang,
                      Confidence::medium),
        recentClosure("GIMP", 95, EndState::crash, DominantCause::crashBug, Confidence::high),
        recentClosure("Thunderbird Mail with a very long window name indeed", 180, EndState::crash,
                      DominantCause::dependencyHelperFailure, Confidence::low),
        recentClosure("LibreOffice Writer", 420, EndState::cleanExit, DominantCause::explicitQuit,
                      Confidence::high),
        recentClosure("Inkscape", 900, EndState::launchBlocked, DominantCause::dyldFailure,
                      Confidence::medium),
    });
    ui::PopoverWindow popover;
    popover.setContent(new ui::MenuBarPopoverContentView(sample.model(), popoverOptions()));
    popover.show();
    QCoreApplication::processEvents();
    album.save(popover, QStringLiteral("popover") + suffix);
}

void drawEmptyPopover(Album& album, const QString& suffix)
{
    SampleModel sample({});
    ui::PopoverWindow popover;
    popover.setContent(new ui::MenuBarPopoverContentView(sample.model(), popoverOptions()));
    popover.show();
    QCoreApplication::processEvents();
    album.save(popover, QStringLiteral("popover-empty") + suffix);
}

void drawOnboarding(Album& album)
{
    ui::OnboardingChecklistView view;
    view.checkBoxes()[0]->setChecked(true);
    view.checkBoxes()[1]->setChecked(true);
    view.adjustSize();
    view.show();
    QCoreApplication::processEvents();
    album.save(view, QStringLiteral("onboarding"));
}

void drawIdle(Album& album)
{
    ui::IdleDetailView view;
    view.resize(620, 360);
    view.show();
    QCoreApplication::processEvents();
    album.save(view, QStringLiteral("idle"));
}

// The product icon on light and dark panels, at the sizes trays use.
void drawTrayIcon(Album& album)
{
    const QIcon icon = ui::appIcon();
    QWidget sheet;
    auto* layout = new QHBoxLayout(&sheet);
    for (const QColor& panel : {QColor(0xf2, 0xf2, 0xf2), QColor(0x2b, 0x2b, 0x2b)}) {
        for (const int size : {16, 22, 32, 64}) {
            auto* label = new QLabel(&sheet);
            label->setAutoFillBackground(true);
            QPalette palette = label->palette();
            palette.setColor(QPalette::Window, panel);
            label->setPalette(palette);
            label->setPixmap(icon.pixmap(size));
            label->setAlignment(Qt::AlignCenter);
            label->setFixedSize(72, 72);
            layout->addWidget(label);
        }
    }
    sheet.show();
    QCoreApplication::processEvents();
    album.save(sheet, QStringLiteral("tray-icon"));
}

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

// The window with the newest closure open, then with every section open and scrolled to the
// end, then the About dialog.
void drawMainWindow(Album& album, const QString& suffix)
{
    SampleModel sample(history(), core::Wording::linuxDesktop);
    app::AppModel& model = sample.model();
    const std::filesystem::path icons = sample.directory() / "icons";
    std::filesystem::create_directories(icons);
    for (const App& app : kApps) {
        writeIcon(app, icons / (std::string(app.desktopId) + ".png"));
    }
    QSettings settings(QString::fromStdString((sample.directory() / "settings.ini").string()),
                       QSettings::IniFormat);
    settings.setValue(ui::RootView::kOnboardingCompletedKey, true);
    ui::MainWindowOptions options;
    options.settings = &settings;
    options.iconNameLookup = [icons](const std::string& appPath) -> std::optional<std::string> {
        const std::filesystem::path id = std::filesystem::path(appPath).stem();
        return (icons / (id.string() + ".png")).string();
    };
    ui::MainWindow window(model, std::move(options));
    window.resize(1180, 760);
    // Away from the offscreen pointer, which would otherwise hover the first toolbar button.
    window.move(80, 80);
    window.show();
    QApplication::setActiveWindow(&window);
    model.setSelectedEventID(model.events()[0].id);

    ui::EventDetailView* detail = window.rootView()->eventDetail();
    auto* timeline = detail->findChild<ui::FailureTimelineView*>();
    if (!test::waitUntil([&] { return !timeline->isAnimating(); })) {
        std::fprintf(stderr, "the timeline is still moving\n");
    }
    album.save(window, QStringLiteral("main-window") + suffix);

    detail->confidenceDetailsToggle()->click();
    if (detail->alternativesToggle() != nullptr) {
        detail->alternativesToggle()->click();
    }
    detail->detailsToggle()->click();
    auto* scroll = detail->findChild<QScrollArea*>();
    QCoreApplication::processEvents();
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    album.save(window, QStringLiteral("main-window-details") + suffix);

    window.showAbout();
    window.aboutDialog()->adjustSize();
    QCoreApplication::processEvents();
    album.save(*window.aboutDialog(), QStringLiteral("about") + suffix);
}

} // namespace
} // namespace exitwise::screenshots

int main(int argc, char** argv)
{
    using namespace exitwise;
    // Pictures that do not depend on the machine: no display, one locale and time zone.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("TZ", "UTC", 1);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("exitwise-screenshots"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(directory.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    screenshots::Album album(directory);
    try {
        for (const bool dark : {false, true}) {
            const test::ScopedPalette palette(dark ? test::darkPalette() : test::lightPalette());
            const QString suffix = dark ? QStringLiteral("-dark") : QString();
            screenshots::drawPopover(album, suffix);
            screenshots::drawEmptyPopover(album, suffix);
            screenshots::drawMainWindow(album, suffix);
        }
        screenshots::drawOnboarding(album);
        screenshots::drawIdle(album);
        screenshots::drawTrayIcon(album);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return album.failed() ? 1 : 0;
}
