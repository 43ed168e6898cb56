// SPDX-License-Identifier: MIT
#include "platform/linux/LogindSessionEvents.h"

#include "support/PlatformFixtures.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>

#include <chrono>
#include <gtest/gtest.h>
#include <memory>

namespace exitwise::platform {

// logind's manager, as far as session lookup goes.
class FakeLogindManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QString sessionPath = QStringLiteral("/org/freedesktop/login1/session/_32");
    QString askedFor;

public slots:
    QDBusObjectPath GetSession(const QString& id)
    {
        askedFor = id;
        return QDBusObjectPath(sessionPath);
    }
};

class FakeLogindSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active MEMBER active)
    Q_PROPERTY(bool LockedHint MEMBER lockedHint)

public:
    bool active = true;
    bool lockedHint = false;
};

namespace {

using namespace std::chrono_literals;
using test::waitUntil;

const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");

class LogindSessionEventsTest : public test::ServiceBusTest
{
protected:
    void serveLogind()
    {
        ASSERT_TRUE(service().registerObject(kManagerPath, &m_manager, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service().registerObject(m_manager.sessionPath, &m_session,
                                             QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(service().registerService(QStringLiteral("org.freedesktop.login1")));
    }

    LogindSessionEvents& events()
    {
        m_events = std::make_unique<LogindSessionEvents>(client());
        QObject::connect(m_events.get(), &LogindSessionEvents::willPowerOff, [this] { ++powerOffs; });
        QObject::connect(m_events.get(), &LogindSessionEvents::sessionDidResignActive, [this] { ++resigns; });
        return *m_events;
    }

    void
    send(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        ASSERT_TRUE(service().send(signal));
    }

    void prepareForShutdown(bool starting)
    {
        send(kManagerPath, QStringLiteral("org.freedesktop.login1.Manager"),
             QStringLiteral("PrepareForShutdown"), {starting});
    }

    // Everything the server sent before this has been delivered to the client.
    void sync()
    {
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), kManagerPath,
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        // Asynchronous: the fake answers from this very thread.
        const QDBusPendingCall call = client().asyncCall(ping, 2000);
        EXPECT_TRUE(waitUntil([&] { return call.isFinished(); }));
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    FakeLogindManager m_manager;
    FakeLogindSession m_session;
    std::unique_ptr<LogindSessionEvents> m_events;
    int powerOffs = 0;
    int resigns = 0;
};

TEST_F(LogindSessionEventsTest, TheOwnSessionTurningInactiveOrLockedResignsItAndShutdownPowersOff)
{
    m_session.lockedHint = true; // locked already at start: not a new notice
    serveLogind();
    LogindSessionEvents& watcher = events();
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(waitUntil([&] { return !watcher.sessionPath().isEmpty(); }));
    EXPECT_EQ(m_manager.askedFor, QStringLiteral("auto"));
    EXPECT_EQ(watcher.sessionPath(), m_manager.sessionPath);
    sync();
    EXPECT_EQ(resigns, 0);

    const QString own = m_manager.sessionPath;
    const QString other = QStringLiteral("/org/freedesktop/login1/session/c2");
    const QString session = QStringLiteral("org.freedesktop.login1.Session");
    const QString user = QStringLiteral("org.freedesktop.login1.User");
    struct Step
    {
        const char* what;
        QVariantMap changed;
        QStringList invalidated;
        QString path;
        QString interface;
        int resigns;
    };
    // clang-format off
    const Step steps[] = {
        {"unlocked",              {{"LockedHint", false}},                   {},         own,   session, 0},
        {"locked",                {{"LockedHint", true}},                    {},         own,   session, 1},
        {"still locked",          {{"LockedHint", true}},                    {},         own,   session, 1},
        {"user switched",         {{"Active", false}},                       {},         own,   session, 2},
        {"back",                  {{"Active", true}, {"IdleHint", false}},   {},         own,   session, 2},
        {"another session",       {{"Active", false}},                       {},         other, session, 2},
        {"another interface",     {{"Active", false}},                       {},         own,   user,    2},
        {"invalidated: inactive", {},                                        {"Active"}, own,   session, 3},
    };
    // clang-format on
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        m_session.active = step.invalidated.isEmpty(); // what a read of the invalidated value finds
        send(step.path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("PropertiesChanged"), {step.interface, step.changed, step.invalidated});
        if (step.resigns > resigns) {
            EXPECT_TRUE(waitUntil([&] { return resigns == step.resigns; }));
        }
        sync();
        EXPECT_EQ(resigns, step.resigns);
    }
    EXPECT_EQ(powerOffs, 0);

    // Shutdown starting is a power-off notice; its cancellation is none.
    prepareForShutdown(true);
    EXPECT_TRUE(waitUntil([&] { return powerOffs == 1; }));
    prepareForShutdown(false);
    sync();
    EXPECT_EQ(powerOffs, 1);
}

TEST_F(LogindSessionEventsTest, WithoutLogindThereAreNoNotices)
{
    LogindSessionEvents& session = events();
    EXPECT_TRUE(session.start());
    prepareForShutdown(true); // from someone who is not logind
    waitUntil([] { return false; }, 200ms);
    EXPECT_TRUE(session.sessionPath().isEmpty());
    EXPECT_EQ(powerOffs, 0);

    EXPECT_FALSE(LogindSessionEvents(QDBusConnection(QStringLiteral("no-such-bus"))).start());
}

} // namespace
} // namespace exitwise::platform

#include "LogindSessionEventsTest.moc"
