// SPDX-License-Identifier: MIT
#include "cli/DesktopApp.h"

#include "app/AppModel.h"
#include "app/BroadcastCenter.h"
#include "app/LoginItems.h"
#include "app/NotificationCenter.h"
#include "cli/Commands.h"
#include "cli/ModelComposition.h"
#include "cli/StopSignalHandler.h"
#include "platform/linux/DbusSingleInstance.h"
#include "platform/linux/DesktopEntry.h"
#include "platform/linux/PlatformFactory.h"
#include "ui/AppDelegate.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"
#include "ui/StatusItem.h"

#include <QApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <cstdlib>
#include <iostream>
#include <memory>

namespace exitwise::cli {

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt aborts when it cannot reach a display; say what is wrong instead.
bool hasDisplay()
{
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

} // namespace

int runDesktopApp(int& argc, char** argv)
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

    // With a tray, closing the window leaves Exitwise running there; without one the window is
    // the only way in, so closing it quits.
    const bool hasTray = QSystemTrayIcon::isSystemTrayAvailable();
    QApplication::setQuitOnLastWindowClosed(!hasTray);

    app::BroadcastCenter broadcasts;
    ModelComposition composition(&broadcasts);
    app::AppModel& model = composition.model();
    const std::unique_ptr<app::LoginItems> loginItems = platform::createLoginItems();

    ui::AppDelegateOptions options;
    if (!hasTray) {
        options.makeStatusItem = [] { return std::unique_ptr<ui::StatusItem>(); };
    }
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
    ui::MainWindow window(model, std::move(windowOptions));
    QObject::connect(&window, &ui::MainWindow::contentShown, &delegate, [&delegate, &model] {
        delegate.setModel(&model);
        delegate.installStatusItem();
        delegate.refreshPopoverContent();
    });
    QStringList notes;
    if (!hasTray) {
        notes << QStringLiteral(
            "No system tray found: Exitwise stays in this window. Closing it quits Exitwise.");
    }
    if (const auto& note = composition.evidenceNote()) {
        // Said once, here and on standard error, rather than with every closure.
        std::cerr << "exitwise: " << *note << std::endl;
        QString text = QString::fromStdString(*note);
        text[0] = text[0].toUpper();
        notes << text + QLatin1Char('.');
    }
    if (!notes.isEmpty()) {
        window.setPersistentStatusMessage(notes.join(QLatin1Char(' ')));
    }
    window.show();

    return application.exec() == 0 ? kExitOk : kExitFailure;
}

} // namespace exitwise::cli
