// SPDX-License-Identifier: MIT
#include "cli/DesktopApp.h"

#include "app/AppModel.h"
#include "app/BroadcastCenter.h"
#include "app/ClosureJournal.h"
#include "app/DataDirectory.h"
#include "app/LoginItems.h"
#include "app/NotificationCenter.h"
#include "app/NotificationManager.h"
#include "app/RecorderLock.h"
#include "cli/Commands.h"
#include "cli/ModelComposition.h"
#include "cli/StopSignalHandler.h"
#include "platform/linux/DbusSingleInstance.h"
#include "platform/linux/DbusTrayAvailability.h"
#include "platform/linux/DesktopEntry.h"
#include "platform/linux/PlatformFactory.h"
#include "platform/linux/XcbTrayProbe.h"
#include "sys/FileIo.h"
#include "ui/AppDelegate.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"
#include "ui/TrayWindowPolicy.h"

#include <QApplication>
#include <QDBusConnection>
#include <QSocketNotifier>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <variant>

namespace exitwise::cli {

namespace {

bool isSet(const char* name)
{
    return sys::environment(name).has_value();
}

// Qt aborts when it cannot reach a display; say what is wrong instead.
bool hasDisplay()
{
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

} // namespace

int runDesktopApp(int& argc, char** argv, DesktopAppOptions startOptions)
{
    if (!hasDisplay()) {
        printError("no graphical display found: start Exitwise from a desktop session, or use a subcommand "
                   "(see 'exitwise --help')");
        return kExitFailure;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Exitwise"));
    QApplication::setOrganizationName(QStringLiteral("exitwise"));
    QGuiApplication::setDesktopFileName(QStringLiteral("exitwise"));
    ui::initResources();
    QApplication::setWindowIcon(ui::appIcon());
    const auto stopHandler = installStopHandler(application);

    platform::DbusSingleInstance instance(QDBusConnection::sessionBus());
    if (instance.claim() == platform::DbusSingleInstance::Claim::alreadyRunning) {
        std::cerr << "exitwise: Exitwise is already running; its window was brought forward" << std::endl;
        return kExitOk;
    }
    // Another recorder the single instance cannot see: `watch`, or an app without a session bus.
    auto claim = app::claimDataDirectory(app::appSupportDirectory(),
                                         "the Exitwise desktop app, pid " + std::to_string(::getpid()));
    if (const auto* refusal = std::get_if<std::string>(&claim)) {
        printError(*refusal);
        return kExitFailure;
    }

    // Qt decides once whether its tray icons use D-Bus, so it is not asked before a tray is known:
    // the item is made when the session bus or the X server shows a tray, which at login is often
    // after Exitwise started. An XEmbed tray only serves an X11 window system.
    std::unique_ptr<platform::XcbTrayProbe> xembedProbe;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        xembedProbe = platform::XcbTrayProbe::connect();
    }
    std::function<bool()> xembedTrayPresent;
    if (xembedProbe) {
        xembedTrayPresent = [probe = xembedProbe.get()] { return probe->trayPresent(); };
    }
    platform::DbusTrayAvailability tray(QDBusConnection::sessionBus(), std::move(xembedTrayPresent));

    app::BroadcastCenter broadcasts;
    ModelComposition composition(&broadcasts);
    app::AppModel& model = composition.model();
    const std::unique_ptr<app::LoginItems> loginItems = platform::createLoginItems();

    ui::AppDelegateOptions options;
    options.tray = &tray;
    app::NotificationManager& notifications = composition.notificationManager();
    options.notificationScope = [&notifications] { return notifications.scope(); };
    options.onChangeNotificationScope = [&notifications](app::NotificationScope scope) {
        notifications.setScope(scope);
    };
    app::ClosureJournal& journal = composition.closureJournal();
    options.journalEntriesEnabled = [&journal] { return journal.isEnabled(); };
    options.onToggleJournalEntries = [&journal](bool enabled) { journal.setEnabled(enabled); };
    ui::AppDelegate delegate(*loginItems, broadcasts, std::move(options));
    // A click on "… closed — Click to see why." selects the closure; the desktop does not
    // activate the application by itself, so the window comes forward to show it.
    QObject::connect(&composition.notificationCenter(), &app::NotificationCenter::notificationActivated,
                     &delegate, [&delegate](const QString& identifier, const QVariantMap& userInfo) {
                         if (delegate.handleNotificationActivated(identifier, userInfo)) {
                             delegate.bringMainWindowForward();
                         }
                     });

    QObject::connect(&instance, &platform::DbusSingleInstance::activationRequested, &delegate,
                     &ui::AppDelegate::bringMainWindowForward);

    ui::MainWindowOptions windowOptions;
    windowOptions.iconNameLookup = [](const std::string& appPath) {
        return platform::desktopEntryIconName(appPath);
    };
    windowOptions.quit = [&delegate] { delegate.quit(); };
    windowOptions.dataDirectory = QString::fromStdString(composition.dataDirectory().string());
    if (const auto& note = composition.evidenceNote()) {
        windowOptions.evidenceNote = QString::fromStdString(*note);
    }
    ui::MainWindow window(model, std::move(windowOptions));
    // Said once, beside any other note: the closures are still shown, but no longer kept.
    QObject::connect(&model, &app::AppModel::saveFailed, &window, [&window](const QString& message) {
        std::cerr << "exitwise: closures cannot be saved (" << message.toStdString() << ")" << std::endl;
        const QString note = QStringLiteral("Closures cannot be saved (%1).").arg(message);
        const QString shown = window.persistentStatusMessage();
        window.setPersistentStatusMessage(shown.isEmpty() ? note : shown + QStringLiteral("  ") + note);
    });
    QObject::connect(&window, &ui::MainWindow::contentShown, &delegate, [&delegate, &model] {
        delegate.setModel(&model);
        delegate.installStatusItem();
        delegate.refreshPopoverContent();
    });
    // Started in the tray, the window may never show: the popover needs the model from the start.
    delegate.setModel(&model);
    delegate.installStatusItem();

    ui::TrayWindowPolicyOptions policyOptions;
    policyOptions.startInTray = startOptions.startInTray;
    policyOptions.showNote = [&window](const QString& note) { window.setPersistentStatusMessage(note); };
    if (const auto& note = composition.evidenceNote()) {
        // Said once, here and on standard error, rather than with every closure.
        std::cerr << "exitwise: " << *note << std::endl;
        QString text = QString::fromStdString(*note);
        text[0] = text[0].toUpper();
        policyOptions.otherNote = text + QLatin1Char('.');
    }
    ui::TrayWindowPolicy policy(delegate, window, std::move(policyOptions));
    policy.start();

    return application.exec() == 0 ? kExitOk : kExitFailure;
}

} // namespace exitwise::cli
