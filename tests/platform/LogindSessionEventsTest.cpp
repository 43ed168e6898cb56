// SPDX-License-Identifier: MIT
#include "platform/linux/LogindSessionEvents.h"

#include "support/PlatformFixtures.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>

#include <gtest/gtest.h>
#include <memory>

namespace exitwise::platform {

const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kOwnSession = QStringLiteral("/org/freedesktop/login1/session/_32");

// logind's manager, as far as session lookup goes.
class FakeLogindManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QString askedFor;

public slots:
    QDBusObjectPath GetSession(const QString& id)
    {
        askedFor = id;
        return QDBusObjectPath(kOwnSession);
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

using test::waitUntil;

class LogindSessionEventsTest : public test::ServiceBusTest
{
protected:
    LogindSessionEvents& events()
    {
        m_events = std::make_unique<LogindSessionEvents>(client());
        QObject::connect(m_events.get(), &LogindSessionEvents::willPowerOff, [this] { ++powerOffs; });
        QObject::connect(m_events.get(), &LogindSessionEvents::sessionDidResignActive, [this] { ++resigns; });
        return *m_events;
    }

    void prepareForShutdown(bool starting)
    {
        ASSERT_TRUE(service().send(
            QDBusMessage::createSignal(kManagerPath, QStringLiteral("org.freedesktop.login1.Manager"),
                                       QStringLiteral("PrepareForShutdown"))
            << starting));
    }

    // Everything the server sent before this has been delivered to the client. Asynchronous: the
    // server answers from this very thread.
    void sync()
    {
        const QDBusPendingCall call = client().asyncCall(QDBusMessage::createMethodCall(
            service().baseService(), kManagerPath, QStringLiteral("org.freedesktop.DBus.Peer"),
            QStringLiteral("Ping")));
        EXPECT_TRUE(waitUntil([&] { return call.isFinished(); }));
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    std::unique_ptr<LogindSessionEvents> m_events;
    int powerOffs = 0;
    int resigns = 0;
};

TEST_F(LogindSessionEventsTest, TheOwnSessionTurningInactiveOrLockedResignsItAndShutdownPowersOff)
{
    FakeLogindManager manager;
    FakeLogindSession logindSession;
    logindSession.lockedHint = true; // locked already at start: not a new notice
    ASSERT_TRUE(service().registerObject(kManagerPath, &manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service().registerObject(kOwnSession, &logindSession, QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(service().registerService(QStringLiteral("org.freedesktop.login1")));
    LogindSessionEvents& watcher = events();
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(waitUntil([&] { return watcher.sessionPath() == kOwnSession; }));
    EXPECT_EQ(manager.askedFor, QStringLiteral("auto"));
    sync(); // the state read at start has arrived

    const QString own = kOwnSession;
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
        {"unlocked",              {{"LockedHint", false}},                 {},         own,   session, 0},
        {"locked",                {{"LockedHint", true}},                  {},         own,   session, 1},
        {"still locked",          {{"LockedHint", true}},                  {},         own,   session, 1},
        {"user switched",         {{"Active", false}},                     {},         own,   session, 2},
        {"back",                  {{"Active", true}, {"IdleHint", false}}, {},         own,   session, 2},
        {"another session",       {{"Active", false}},                     {},         other, session, 2},
        {"another interface",     {{"Active", false}},                     {},         own,   user,    2},
        {"invalidated: inactive", {},                                      {"Active"}, own,   session, 3},
    };
    // clang-format on
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        logindSession.active = step.invalidated.isEmpty(); // what a read of the invalidated value finds
        ASSERT_TRUE(service().send(
            QDBusMessage::createSignal(step.path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("PropertiesChanged"))
            << step.interface << step.changed << step.invalidated));
        (void)waitUntil([&] { return resigns == step.resigns; }); // a re-read takes a round trip
        sync();
        EXPECT_EQ(resigns, step.resigns);
    }

    // Shutdown starting is a power-off notice; its cancellation and session changes are none.
    prepareForShutdown(false);
    prepareForShutdown(true);
    sync();
    EXPECT_EQ(powerOffs, 1);
}

TEST_F(LogindSessionEventsTest, WithoutLogindThereAreNoNotices)
{
    LogindSessionEvents& session = events();
    EXPECT_TRUE(session.start());
    prepareForShutdown(true); // from someone who is not logind
    sync();
    EXPECT_TRUE(session.sessionPath().isEmpty());
    EXPECT_EQ(powerOffs, 0);

    EXPECT_FALSE(LogindSessionEvents(QDBusConnection(QStringLiteral("no-such-bus"))).start());
}

} // namespace
} // namespace exitwise::platform

#include "LogindSessionEventsTest.moc"
