// SPDX-License-Identifier: MIT
#include "platform/linux/FreedesktopNotificationCenter.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace exitwise::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

QDBusMessage methodCall(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

QString appIconArgument(const QString& icon)
{
    // The server takes a theme icon name or a file:// URI; a desktop entry may name an image by
    // its absolute path.
    if (icon.startsWith(QLatin1Char('/'))) {
        return QString::fromLatin1(QUrl::fromLocalFile(icon).toEncoded());
    }
    return icon;
}

QVariantMap notifyHints(const app::NotificationContent& content)
{
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), QString::fromLatin1(FreedesktopNotificationCenter::kDesktopEntry)}};
    if (content.playsDefaultSound) {
        hints.insert(QStringLiteral("sound-name"),
                     QString::fromLatin1(FreedesktopNotificationCenter::kSoundName));
    } else {
        // Some servers sound every notification unless told not to.
        hints.insert(QStringLiteral("suppress-sound"), true);
    }
    return hints;
}

} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection connection, QObject* parent)
    : app::NotificationCenter(parent)
    , m_connection(std::move(connection))
{
    // Both fail only without a usable connection; posting then fails the same way, so there is
    // nothing to click and nothing to forget.
    m_isSubscribed =
        m_connection.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                             SLOT(onActionInvoked(uint, QString)))
        && m_connection.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                                SLOT(onNotificationClosed(uint, uint)));

    // A restarted server hands out ids afresh; ours would replace someone else's notifications.
    auto* watcher =
        new QDBusServiceWatcher(kService, m_connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { forgetAll(); });
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter()
{
    if (m_isSubscribed) {
        m_connection.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                SLOT(onActionInvoked(uint, QString)));
        m_connection.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                                SLOT(onNotificationClosed(uint, uint)));
    }
}

void FreedesktopNotificationCenter::call(const QDBusMessage& message, ReplyHandler handler)
{
    if (!m_connection.isConnected()) {
        // Qt answers with a pending call that never finishes; fail the same way a call would.
        QMetaObject::invokeMethod(
            this,
            [handler = std::move(handler)] {
                handler(QDBusMessage::createError(QDBusError::Disconnected,
                                                  QStringLiteral("not connected to D-Bus")));
            },
            Qt::QueuedConnection);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [handler = std::move(handler)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                handler(finished->reply());
            });
}

void FreedesktopNotificationCenter::probeServer(std::function<void(bool present)> completion)
{
    // On a bus with activation this also starts the server.
    call(methodCall(QStringLiteral("GetServerInformation")),
         [completion = std::move(completion)](const QDBusMessage& reply) {
             completion(reply.type() == QDBusMessage::ReplyMessage);
         });
}

void FreedesktopNotificationCenter::getNotificationSettings(SettingsCompletion completion)
{
    probeServer([completion = std::move(completion)](bool present) {
        completion(app::NotificationSettings{present ? app::NotificationAuthorizationStatus::authorized
                                                     : app::NotificationAuthorizationStatus::denied});
    });
}

void FreedesktopNotificationCenter::requestAuthorization(app::NotificationAuthorizationOptions,
                                                         AuthorizationCompletion completion)
{
    probeServer([completion = std::move(completion)](bool present) { completion(present, std::nullopt); });
}

void FreedesktopNotificationCenter::add(app::NotificationRequest request, AddCompletion completion)
{
    const auto delay = std::max(request.delay, std::chrono::milliseconds(0));
    QTimer::singleShot(delay, this, [this, due = Due{std::move(request), std::move(completion)}]() mutable {
        m_due.push_back(std::move(due));
        sendNext();
    });
}

void FreedesktopNotificationCenter::sendNext()
{
    if (m_isSending || m_due.empty()) {
        return;
    }
    m_isSending = true;
    Due due = std::move(m_due.front());
    m_due.pop_front();

    const app::NotificationContent& content = due.request.content;
    QDBusMessage message = methodCall(QStringLiteral("Notify"));
    message << QStringLiteral("Exitwise") << m_idsByIdentifier.value(due.request.identifier, 0u)
            << appIconArgument(content.icon) << content.title << content.body
            << QStringList{kDefaultAction, QStringLiteral("Open")} << notifyHints(content)
            << -1; // the server's default timeout

    call(message, [this, due = std::move(due)](const QDBusMessage& reply) {
        m_isSending = false;
        std::optional<app::NotificationError> error;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            error = app::NotificationError{"cannot post notification: " + reply.errorMessage().toStdString()};
        } else if (reply.signature() != QLatin1String("u")) {
            error = app::NotificationError{"cannot post notification: the server gave no notification id"};
        } else {
            remember(reply.arguments().constFirst().toUInt(), due.request);
        }
        QPointer<FreedesktopNotificationCenter> self(this);
        if (due.completion) {
            due.completion(error);
        }
        if (self) {
            sendNext();
        }
    });
}

void FreedesktopNotificationCenter::remember(uint id, const app::NotificationRequest& request)
{
    // A server may answer a replacement with a new id when the old notification was gone.
    if (const auto previous = m_idsByIdentifier.constFind(request.identifier);
        previous != m_idsByIdentifier.cend() && *previous != id) {
        m_posted.remove(*previous);
    }
    m_idsByIdentifier.insert(request.identifier, id);
    m_posted.insert(id, Posted{request.identifier, request.content.userInfo});
}

void FreedesktopNotificationCenter::forgetAll()
{
    m_idsByIdentifier.clear();
    m_posted.clear();
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString& actionKey)
{
    // Servers may broadcast this to every client: only our own notifications count.
    const auto posted = m_posted.constFind(id);
    if (actionKey != kDefaultAction || posted == m_posted.cend()) {
        return;
    }
    const Posted clicked = *posted;
    emit notificationActivated(clicked.identifier, clicked.userInfo);
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint /*reason*/)
{
    const auto posted = m_posted.constFind(id);
    if (posted == m_posted.cend()) {
        return;
    }
    if (m_idsByIdentifier.value(posted->identifier) == id) {
        m_idsByIdentifier.remove(posted->identifier);
    }
    m_posted.erase(posted);
}

} // namespace exitwise::platform
