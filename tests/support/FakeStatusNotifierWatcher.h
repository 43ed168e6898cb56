// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

namespace exitwise::test {

// Plays a panel's StatusNotifierWatcher on a test bus: the object a tray host runs and that
// applications register their items with. `registerOn` claims the well-known name; a host
// registers later with `registerHost`, as a panel does once it has drawn its tray.
class FakeStatusNotifierWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    static constexpr const char* kService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kPath = "/StatusNotifierWatcher";

    // Exports the object and takes the name on `bus`; whether both worked.
    bool registerOn(QDBusConnection bus)
    {
        m_bus = bus;
        return m_bus.registerObject(QString::fromLatin1(kPath), this, QDBusConnection::ExportAllContents)
               && m_bus.registerService(QString::fromLatin1(kService));
    }
    void unregister()
    {
        m_bus.unregisterService(QString::fromLatin1(kService));
        m_bus.unregisterObject(QString::fromLatin1(kPath));
    }

    void registerHost()
    {
        m_hostRegistered = true;
        emit StatusNotifierHostRegistered(); // exported objects relay their signals to the bus
    }

    [[nodiscard]] bool isHostRegistered() const { return m_hostRegistered; }
    [[nodiscard]] QStringList items() const { return m_items; }
    [[nodiscard]] int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        // An item may register by object path only; the caller's name is then the service.
        m_items << (service.startsWith(QLatin1Char('/')) ? message().service() + service : service);
        emit StatusNotifierItemRegistered(m_items.constLast());
    }
    void RegisterStatusNotifierHost(const QString& /*service*/) { registerHost(); }

signals:
    void StatusNotifierHostRegistered();
    void StatusNotifierItemRegistered(const QString& service);

private:
    QDBusConnection m_bus{QString()};
    bool m_hostRegistered = false;
    QStringList m_items;
};

} // namespace exitwise::test
