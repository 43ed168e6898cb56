// SPDX-License-Identifier: MIT
#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <string>

namespace exitwise::test {

// A D-Bus daemon of our own for tests that play a service (logind, a notification server).
// Without service directories nothing on it is started on demand. `failure()` says why it could
// not start; tests skip then.
class PrivateBus
{
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            m_failure = "dbus-daemon is not installed";
            return;
        }
        QFile config(m_directory.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly)) {
            m_failure = "cannot write the bus configuration";
            return;
        }
        config.write(
            QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                           "<auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>")
                .arg(m_directory.path())
                .toUtf8());
        config.close();
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config.fileName(),
                                QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        while (m_daemon.waitForReadyRead(5000) && !m_daemon.canReadLine()) {
        }
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty()) {
            m_failure = "dbus-daemon did not start: " + m_daemon.readAllStandardError().toStdString();
        }
    }

    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(3000);
    }

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    [[nodiscard]] const QString& address() const { return m_address; }
    [[nodiscard]] const std::string& failure() const { return m_failure; }

private:
    QTemporaryDir m_directory;
    QProcess m_daemon;
    QString m_address;
    std::string m_failure;
};

} // namespace exitwise::test
