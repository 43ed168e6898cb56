// SPDX-License-Identifier: MIT
#include "platform/linux/LogindSessionEvents.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>

namespace exitwise::platform {

namespace {

Q_LOGGING_CATEGORY(lcLogind, "exitwise.platform.logind", QtInfoMsg)

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kActive = QStringLiteral("Active");
const QString kLockedHint = QStringLiteral("LockedHint");
constexpr int kCallTimeoutMs = 2000;

} // namespace

LogindSessionEvents::LogindSessionEvents(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{}

bool LogindSessionEvents::start()
{
    if (!m_bus.isConnected()) {
        qCDebug(lcLogind) << "no system bus; no power-off or session notices";
        return false;
    }
    if (!m_bus.connect(kService, kManagerPath, kManagerInterface, QStringLiteral("PrepareForShutdown"), this,
                       SLOT(onPrepareForShutdown(bool)))) {
        qCDebug(lcLogind) << "cannot subscribe to logind:" << m_bus.lastError().message();
        return false;
    }
    // Asynchronous: start-up never waits for logind. Signals are only sent on the real session
    // path, never on /session/auto, so the path is resolved first.
    QDBusMessage getSession = QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface,
                                                             QStringLiteral("GetSession"));
    getSession << QStringLiteral("auto");
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(getSession, kCallTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *finished;
        if (reply.isError()) {
            qCDebug(lcLogind) << "no logind session:" << reply.error().message() << "; session notices off";
            return;
        }
        watchSession(reply.value().path());
    });
    return true;
}

void LogindSessionEvents::watchSession(const QString& path)
{
    if (path.isEmpty()
        || !m_bus.connect(kService, path, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                          SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)))) {
        qCDebug(lcLogind) << "cannot watch the logind session" << path << "; session notices off";
        return;
    }
    m_sessionPath = path;
    refreshSessionState(false);
}

void LogindSessionEvents::onPrepareForShutdown(bool starting)
{
    // false: a shutdown was cancelled.
    if (starting) {
        emit willPowerOff();
    }
}

void LogindSessionEvents::onPropertiesChanged(const QString& interface,
                                              const QVariantMap& changed,
                                              const QStringList& invalidated)
{
    if (interface != kSessionInterface) {
        return;
    }
    applySessionState(changed, true);
    if (invalidated.contains(kActive) || invalidated.contains(kLockedHint)) {
        refreshSessionState(true);
    }
}

void LogindSessionEvents::applySessionState(const QVariantMap& properties, bool announce)
{
    bool resigned = false;
    if (const auto it = properties.constFind(kActive); it != properties.constEnd()) {
        const bool active = it->toBool();
        resigned = resigned || (m_active && !active);
        m_active = active;
    }
    if (const auto it = properties.constFind(kLockedHint); it != properties.constEnd()) {
        const bool locked = it->toBool();
        resigned = resigned || (!m_locked && locked);
        m_locked = locked;
    }
    if (resigned && announce) {
        emit sessionDidResignActive();
    }
}

void LogindSessionEvents::refreshSessionState(bool announce)
{
    QDBusMessage getAll = QDBusMessage::createMethodCall(kService, m_sessionPath, kPropertiesInterface,
                                                         QStringLiteral("GetAll"));
    getAll << kSessionInterface;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(getAll, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, announce](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QVariantMap> reply = *call;
                if (!reply.isError()) {
                    applySessionState(reply.value(), announce);
                }
                call->deleteLater();
            });
}

} // namespace exitwise::platform
