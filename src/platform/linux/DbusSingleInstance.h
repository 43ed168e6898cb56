// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QObject>

namespace exitwise::platform {

// One desktop app per session: two would each record every closure and overwrite each other's
// event file. The first instance owns a well-known name on the session bus; a later one asks it
// to come forward and stops. Main thread only.
class DbusSingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.exitwise.Exitwise")

public:
    static constexpr const char* kServiceName = "org.exitwise.Exitwise";
    static constexpr const char* kObjectPath = "/org/exitwise/Exitwise";

    enum class Claim
    {
        first,          // this process is the instance; activationRequested() reports later starts
        alreadyRunning, // another instance has been asked to come forward
        noBus           // no session bus: nothing can be checked, so carry on
    };

    explicit DbusSingleInstance(QDBusConnection connection, QObject* parent = nullptr);
    ~DbusSingleInstance() override;

    [[nodiscard]] Claim claim();

public slots:
    // Called over the bus by a later start; named as D-Bus members are.
    Q_SCRIPTABLE void Activate();

signals:
    void activationRequested();

private:
    QDBusConnection m_connection;
    bool m_ownsName = false;
};

} // namespace exitwise::platform
