// SPDX-License-Identifier: MIT
#include "platform/linux/DbusSingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace exitwise::platform {

namespace {

constexpr int kActivateTimeoutMs = 3000;

} // namespace

DbusSingleInstance::DbusSingleInstance(QDBusConnection connection, QObject* parent)
    : QObject(parent)
    , m_connection(std::move(connection))
{}

DbusSingleInstance::~DbusSingleInstance()
{
    if (m_ownsName) {
        m_connection.unregisterObject(QString::fromLatin1(kObjectPath));
        (void)m_connection.unregisterService(QString::fromLatin1(kServiceName));
    }
}

DbusSingleInstance::Claim DbusSingleInstance::claim()
{
    QDBusConnectionInterface* bus = m_connection.isConnected() ? m_connection.interface() : nullptr;
    if (bus == nullptr) {
        return Claim::noBus;
    }
    const QString service = QString::fromLatin1(kServiceName);
    const QString path = QString::fromLatin1(kObjectPath);
    // The object is in place before the name is, so no activation finds the name without it.
    if (!m_connection.registerObject(path, this, QDBusConnection::ExportScriptableSlots)) {
        return Claim::noBus;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus->registerService(
        service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_ownsName = true;
        return Claim::first;
    }
    m_connection.unregisterObject(path);
    if (!reply.isValid()) {
        return Claim::noBus; // the bus refused to answer: better two instances than none
    }
    const QDBusMessage activate = QDBusMessage::createMethodCall(
        service, path, QString::fromLatin1(kServiceName), QStringLiteral("Activate"));
    // Waits for the answer so the request is delivered before this process ends; events keep
    // flowing meanwhile.
    (void)m_connection.call(activate, QDBus::BlockWithGui, kActivateTimeoutMs);
    return Claim::alreadyRunning;
}

void DbusSingleInstance::Activate()
{
    emit activationRequested();
}

} // namespace exitwise::platform
