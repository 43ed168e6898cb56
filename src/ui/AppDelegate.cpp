// SPDX-License-Identifier: MIT
#include "ui/AppDelegate.h"

#include "app/AppModel.h"
#include "app/BroadcastCenter.h"
#include "app/LoginItems.h"
#include "app/TrayAvailability.h"
#include "app/Uuid.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/PopoverWindow.h"
#include "ui/Resources.h"
#include "ui/SystemTrayStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QUuid>

#include <cmath>
#include <optional>

namespace exitwise::ui {

AppDelegate::AppDelegate(app::LoginItems& loginItems,
                         app::BroadcastCenter& broadcasts,
                         AppDelegateOptions options,
                         QObject* parent)
    : QObject(parent)
    , m_loginItems(loginItems)
    , m_broadcasts(broadcasts)
    , m_options(std::move(options))
    , m_popover(std::make_unique<PopoverWindow>())
{
    initResources();
    if (!m_options.clock) {
        m_options.clock = [] { return core::now(); };
    }
    if (m_options.tray != nullptr) {
        connect(m_options.tray, &app::TrayAvailability::availabilityChanged, this, [this](bool available) {
            if (available && m_wantsStatusItem) {
                installStatusItem();
            }
        });
    }
    m_ageTimer.setInterval(std::chrono::minutes(1));
    connect(&m_ageTimer, &QTimer::timeout, this, &AppDelegate::refreshStatusItem);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setModel(app::AppModel* model)
{
    if (m_model == model) {
        return;
    }
    if (m_model) {
        disconnect(m_model, nullptr, this, nullptr);
    }
    m_model = model;
    if (m_model) {
        connect(m_model, &app::AppModel::eventsChanged, this, &AppDelegate::refreshStatusItem);
        connect(m_model, &app::AppModel::monitoringPausedChanged, this, &AppDelegate::refreshStatusItem);
    }
    refreshStatusItem();
}

app::AppModel* AppDelegate::model() const
{
    return m_model;
}

MenuBarPopoverContentView* AppDelegate::popoverContent() const
{
    return qobject_cast<MenuBarPopoverContentView*>(m_popover->content());
}

void AppDelegate::installStatusItem()
{
    m_wantsStatusItem = true;
    if (m_didInstallStatusItem) {
        return;
    }
    if (m_options.tray != nullptr && !m_options.tray->isAvailable()) {
        return; // installed when a tray appears
    }
    m_didInstallStatusItem = true;
    m_statusItem =
        m_options.makeStatusItem ? m_options.makeStatusItem() : std::make_unique<SystemTrayStatusItem>();
    if (!m_statusItem) {
        return;
    }
    m_statusMenu = std::make_unique<QMenu>();
    connect(m_statusMenu->addAction(QStringLiteral("Open full window")), &QAction::triggered, this,
            &AppDelegate::bringMainWindowForward);
    m_pauseAction = m_statusMenu->addAction(QStringLiteral("Pause monitoring"));
    m_pauseAction->setCheckable(true);
    connect(m_pauseAction, &QAction::triggered, this, &AppDelegate::setPausedFromMenu);
    m_statusMenu->addSeparator();
    connect(m_statusMenu->addAction(QStringLiteral("Quit")), &QAction::triggered, this, &AppDelegate::quit);
    connect(m_statusItem.get(), &StatusItem::triggered, this, &AppDelegate::togglePopover);
    const bool paused = m_model && m_model->isMonitoringPaused();
    m_pauseAction->setChecked(paused);
    m_shownPaused = paused;
    m_statusItem->show(trayIcon(paused), statusToolTip(), m_statusMenu.get());
    m_ageTimer.start();
    refreshPopoverContent();
    emit statusItemInstalled();
}

void AppDelegate::refreshStatusItem()
{
    if (!m_statusItem || !m_model) {
        return;
    }
    const bool paused = m_model->isMonitoringPaused();
    m_pauseAction->setChecked(paused);
    if (paused != m_shownPaused) { // a new icon makes a D-Bus tray fetch it again
        m_shownPaused = paused;
        m_statusItem->setIcon(trayIcon(paused));
    }
    m_statusItem->setToolTip(statusToolTip());
}

QString AppDelegate::statusToolTip() const
{
    if (!m_model) {
        return QStringLiteral("Exitwise");
    }
    const std::vector<app::AppEvent>& events = m_model->events();
    return detail::statusToolTip(m_model->isMonitoringPaused(), events.empty() ? nullptr : &events.front(),
                                 m_options.clock());
}

void AppDelegate::setPausedFromMenu(bool paused)
{
    if (m_model) {
        m_model->setMonitoringPaused(paused);
    }
    refreshStatusItem(); // without a model the check mark snaps back
}

void AppDelegate::refreshPopoverContent()
{
    if (!m_model) {
        return;
    }
    MenuBarPopoverContentView::Options options;
    options.launchAtLoginEnabled = m_loginItems.status() == app::LoginItemStatus::enabled;
    options.supportsLaunchAtLogin = true;
    options.onToggleLaunchAtLogin = [this](bool enabled) { setLaunchAtLogin(enabled); };
    options.onOpenWindow = [this] {
        bringMainWindowForward();
        m_popover->dismiss();
    };
    options.onQuit = [this] { quit(); };
    options.notificationScope = m_options.notificationScope;
    options.onChangeNotificationScope = m_options.onChangeNotificationScope;
    options.journalEntriesEnabled = m_options.journalEntriesEnabled;
    options.onToggleJournalEntries = m_options.onToggleJournalEntries;
    m_popover->setContent(new MenuBarPopoverContentView(*m_model, std::move(options)));
}

void AppDelegate::togglePopover()
{
    if (!m_statusItem) {
        return;
    }
    if (m_popover->isVisible()) {
        m_popover->dismiss();
        return;
    }
    if (m_popover->closedByItselfJustNow()) {
        return; // the click on the item is what closed it
    }
    refreshPopoverContent();
    if (m_popover->content() == nullptr) {
        return; // nothing to show before the model is handed over
    }

    const QRect anchor = m_statusItem->geometry();
    std::optional<QPoint> cursor;
    QScreen* screen = nullptr;
    if (anchor.isValid() && !anchor.isEmpty()) {
        screen = QGuiApplication::screenAt(anchor.center());
    } else {
        // The desktop gave no position: the pointer is where the user just clicked.
        const QPoint pointer = QCursor::pos();
        screen = QGuiApplication::screenAt(pointer);
        if (screen != nullptr) {
            cursor = pointer;
        }
    }
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    m_popover->move(detail::popoverPosition(m_popover->size(), available, anchor, cursor));
    m_popover->show();
    m_popover->raise();
    m_popover->activateWindow();
}

void AppDelegate::setLaunchAtLogin(bool enabled)
{
    // A failure needs no message: the refreshed switch shows the state the service really has.
    if (enabled) {
        (void)m_loginItems.registerItem();
    } else {
        (void)m_loginItems.unregisterItem();
    }
    // The open panel is updated in place, so the switch keeps the keyboard focus.
    if (auto* content = popoverContent()) {
        content->setLaunchAtLoginEnabled(m_loginItems.status() == app::LoginItemStatus::enabled);
    } else {
        refreshPopoverContent();
    }
}

void AppDelegate::bringMainWindowForward()
{
    // A visible window first, then one closed to the tray, and a minimised one only when there
    // is nothing else: that one is restored, since raising it alone would show nothing.
    QMainWindow* chosen = nullptr;
    QMainWindow* minimised = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<QMainWindow*>(widget);
        if (window == nullptr || window->windowType() != Qt::Window) {
            continue;
        }
        if (window->isMinimized()) {
            minimised = minimised != nullptr ? minimised : window;
        } else if (chosen == nullptr || (window->isVisible() && !chosen->isVisible())) {
            chosen = window;
        }
    }
    if (chosen == nullptr && minimised != nullptr) {
        chosen = minimised;
        chosen->setWindowState(chosen->windowState() & ~Qt::WindowMinimized);
    }
    if (chosen == nullptr) {
        return;
    }
    chosen->show();
    chosen->raise();
    chosen->activateWindow();
}

void AppDelegate::quit()
{
    m_popover->dismiss();
    if (m_options.quit) {
        m_options.quit();
    } else {
        QCoreApplication::quit();
    }
}

bool AppDelegate::handleNotificationActivated(const QString& /*identifier*/, const QVariantMap& userInfo)
{
    const auto value = userInfo.constFind(QStringLiteral("event_id"));
    if (value == userInfo.cend() || value->metaType() != QMetaType::fromType<QString>()) {
        return false;
    }
    const std::optional<app::Uuid> id = app::Uuid::parse(value->toString().toStdString());
    if (!id) {
        return false;
    }
    const auto& bytes = id->bytes();
    const QUuid uuid = QUuid::fromRfc4122(
        QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    m_broadcasts.post(QString::fromLatin1(app::BroadcastCenter::kDidSelectEventFromNotification),
                      {{QStringLiteral("event_id"), QVariant::fromValue(uuid)}});
    return true;
}

namespace detail {

QString closureAge(core::Seconds age)
{
    const double seconds = age.count();
    if (!(seconds >= 60.0)) { // also NaN
        return QStringLiteral("just now");
    }
    const auto whole = [seconds](double unit) { return static_cast<long long>(std::floor(seconds / unit)); };
    if (seconds < 3600.0) {
        return QStringLiteral("%1 min ago").arg(whole(60.0));
    }
    if (seconds < 86400.0) {
        return QStringLiteral("%1 h ago").arg(whole(3600.0));
    }
    if (seconds < 2 * 86400.0) {
        return QStringLiteral("yesterday");
    }
    return QStringLiteral("%1 days ago").arg(whole(86400.0));
}

QString statusToolTip(bool paused, const app::AppEvent* newest, core::Date now)
{
    const QString state =
        paused ? QStringLiteral("Exitwise — Paused") : QStringLiteral("Exitwise — Monitoring");
    if (newest == nullptr) {
        return state + QStringLiteral("\nNo closures yet");
    }
    const std::string_view endState = core::rawValue(newest->diagnosis.endState);
    return state + QLatin1Char('\n') + QString::fromStdString(newest->appName) + QStringLiteral(" — ")
           + QString::fromUtf8(endState.data(), static_cast<qsizetype>(endState.size()))
           + QStringLiteral(", ") + closureAge(now - newest->terminatedAt);
}

} // namespace detail

} // namespace exitwise::ui
