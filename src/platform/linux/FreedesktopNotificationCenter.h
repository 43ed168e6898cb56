// SPDX-License-Identifier: MIT
#pragma once

#include "app/NotificationCenter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>

#include <deque>
#include <functional>

namespace exitwise::platform {

// User notifications through the freedesktop notification server on a D-Bus connection.
// There is no permission to ask for: a server that answers counts as authorised, a missing one
// as denied. Notifications carry a "default" action, our desktop ID, the request's icon and
// either the desktop's default message sound or a request for silence; the server's id for each
// request identifier is kept until the server closes that notification, so a later request for
// the same identifier replaces it in place.
class FreedesktopNotificationCenter final : public app::NotificationCenter
{
    Q_OBJECT

public:
    static constexpr const char* kDesktopEntry = "exitwise";
    static constexpr const char* kSoundName = "message-new-instant";

    explicit FreedesktopNotificationCenter(QDBusConnection connection = QDBusConnection::sessionBus(),
                                           QObject* parent = nullptr);
    ~FreedesktopNotificationCenter() override;

    void getNotificationSettings(SettingsCompletion completion) override;
    void requestAuthorization(app::NotificationAuthorizationOptions options,
                              AuthorizationCompletion completion) override;
    void add(app::NotificationRequest request, AddCompletion completion) override;

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Posted
    {
        QString identifier;
        QVariantMap userInfo;
    };

    struct Due
    {
        app::NotificationRequest request;
        AddCompletion completion;
    };

    using ReplyHandler = std::function<void(const QDBusMessage& reply)>;

    // Calls without blocking; the handler always runs later, with the reply or an error message.
    void call(const QDBusMessage& message, ReplyHandler handler);
    void probeServer(std::function<void(bool present)> completion);
    void sendNext();
    void remember(uint id, const app::NotificationRequest& request);
    void forgetAll();

    QDBusConnection m_connection;
    bool m_isSubscribed = false;
    // One Notify at a time, so a replacement always knows the id it replaces.
    std::deque<Due> m_due;
    bool m_isSending = false;
    QHash<QString, uint> m_idsByIdentifier;
    QHash<uint, Posted> m_posted;
};

} // namespace exitwise::platform
