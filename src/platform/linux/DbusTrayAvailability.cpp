// SPDX-License-Identifier: MIT
#include "platform/linux/DbusTrayAvailability.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace exitwise::platform {

namespace {

constexpr int kCallTimeoutMs = 5000;

QString text(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

} // namespace

DbusTrayAvailability::DbusTrayAvailability(QDBusConnection bus,
                                           std::function<bool()> xembedTrayPresent,
                                           std::chrono::milliseconds pollInterval,
                                           QObject* parent)
    : app::TrayAvailability(parent)
    , m_bus(std::move(bus))
    , m_serviceWatcher(text(kWatcherService),
                       m_bus,
                       QDBusServiceWatcher::WatchForRegistration
                           | QDBusServiceWatcher::WatchForUnregistration)
    , m_xembedTrayPresent(std::move(xembedTrayPresent))
{
    // A panel that restarts takes the name again and registers its host anew.
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { askWatcher(); });
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        ++m_question;
        setState(false, m_xembedTray);
    });
    // Without these the state would only change when the watcher itself comes and goes.
    (void)m_bus.connect(text(kWatcherService), text(kWatcherPath), text(kWatcherInterface),
                        QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(onHostRegistered()));
    (void)m_bus.connect(text(kWatcherService), text(kWatcherPath), text(kWatcherInterface),
                        QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(onHostUnregistered()));

    if (m_xembedTrayPresent) {
        m_poll.setInterval(pollInterval);
        connect(&m_poll, &QTimer::timeout, this, &DbusTrayAvailability::pollXembed);
        pollXembed();
    }
    askWatcher();
}

void DbusTrayAvailability::onHostRegistered()
{
    ++m_question;
    setState(true, m_xembedTray);
}

void DbusTrayAvailability::onHostUnregistered()
{
    // Another host may still be there.
    askWatcher();
}

void DbusTrayAvailability::askWatcher()
{
    if (!m_bus.isConnected()) {
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(text(kWatcherService), text(kWatcherPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << text(kWatcherInterface) << QStringLiteral("IsStatusNotifierHostRegistered");
    const quint64 question = ++m_question;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get, kCallTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, question](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (question != m_question) {
                    return;
                }
                // No watcher, or one that cannot say: no host.
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                setState(!reply.isError() && reply.value().variant().toBool(), m_xembedTray);
            });
}

void DbusTrayAvailability::pollXembed()
{
    setState(m_hostRegistered, m_xembedTrayPresent());
}

void DbusTrayAvailability::setState(bool hostRegistered, bool xembedTray)
{
    const bool was = isAvailable();
    m_hostRegistered = hostRegistered;
    m_xembedTray = xembedTray;
    const bool now = isAvailable();
    if (m_xembedTrayPresent) {
        // Qt follows an XEmbed tray that restarts by itself; polling is only for the first one.
        if (now) {
            m_poll.stop();
        } else if (!m_poll.isActive()) {
            m_poll.start();
        }
    }
    if (now != was) {
        emit availabilityChanged(now);
    }
}

} // namespace exitwise::platform
