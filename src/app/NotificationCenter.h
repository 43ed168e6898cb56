// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace exitwise::app {

enum class NotificationAuthorizationStatus
{
    notDetermined,
    denied,
    authorized,
    provisional,
    ephemeral
};

struct NotificationSettings
{
    NotificationAuthorizationStatus authorizationStatus = NotificationAuthorizationStatus::notDetermined;
};

struct NotificationAuthorizationOptions
{
    bool alert = false;
    bool sound = false;
    bool badge = false;
};

struct NotificationContent
{
    QString title;
    QString body;
    QVariantMap userInfo; // handed back unchanged when the notification is clicked
    // Without the default sound the notification is silent: the centre asks for no sound at all.
    bool playsDefaultSound = false;
    // A theme icon name or an absolute image path; none when empty.
    QString icon;
};

struct NotificationRequest
{
    // A later request with the same identifier replaces the earlier notification.
    QString identifier;
    NotificationContent content;
    // Shown this long after being added; never repeated.
    std::chrono::milliseconds delay{0};
};

struct NotificationError
{
    std::string message;

    friend bool operator==(const NotificationError&, const NotificationError&) = default;
};

// The desktop's user-notification service. Every operation calls its completion exactly once,
// on this object's thread, possibly before the call returns; completions still pending when the
// centre is destroyed are dropped. Call it only from its own thread.
class NotificationCenter : public QObject
{
    Q_OBJECT

public:
    using SettingsCompletion = std::function<void(NotificationSettings)>;
    using AuthorizationCompletion = std::function<void(bool granted, std::optional<NotificationError>)>;
    using AddCompletion = std::function<void(std::optional<NotificationError>)>;

    using QObject::QObject;
    ~NotificationCenter() override = default;

    virtual void getNotificationSettings(SettingsCompletion completion) = 0;
    virtual void requestAuthorization(NotificationAuthorizationOptions options,
                                      AuthorizationCompletion completion) = 0;
    // Completes once the request is posted, or with the reason it could not be.
    virtual void add(NotificationRequest request, AddCompletion completion) = 0;

signals:
    // The user clicked a notification this centre posted.
    void notificationActivated(const QString& identifier, const QVariantMap& userInfo);
};

} // namespace exitwise::app
