// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace exitwise::platform {

// Power-off and session notices from logind (org.freedesktop.login1 on the given bus,
// normally the system bus). The session is the caller's own, resolved once at start().
class LogindSessionEvents : public QObject
{
    Q_OBJECT

public:
    explicit LogindSessionEvents(QDBusConnection bus, QObject* parent = nullptr);

    // Subscribes to PrepareForShutdown and asks logind for the caller's session, whose property
    // changes are watched once the answer arrives. False when there is no bus. Without logind or
    // a session there are simply no such events; one debug line says why.
    [[nodiscard]] bool start();

    // The resolved session object path; empty until logind has answered, or without a session.
    [[nodiscard]] QString sessionPath() const { return m_sessionPath; }

signals:
    // The system is about to shut down or restart.
    void willPowerOff();
    // The session stopped being the active one (another user switched in) or was locked.
    void sessionDidResignActive();

private slots:
    // Slots named in QtDBus's string-based connect.
    void onPrepareForShutdown(bool starting);
    void
    onPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void watchSession(const QString& path);
    // `announce` false: learn the state at start without reporting it.
    void applySessionState(const QVariantMap& properties, bool announce);
    void refreshSessionState(bool announce);

    QDBusConnection m_bus;
    QString m_sessionPath;
    // Notices go out on transitions only: Active true → false, LockedHint false → true.
    bool m_active = true;
    bool m_locked = false;
};

} // namespace exitwise::platform
