// SPDX-License-Identifier: MIT
#include "platform/linux/LogindSessionEvents.h"

#include "support/EventLoop.h"
#include "support/PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QLoggingCategory>

#include <chrono>
#include <functional>
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

const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");

using test::waitUntil;

class LogindSessionEventsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_bus = std::make_unique<test::PrivateBus>(); }
    static void TearDownTestSuite() { s_bus.reset(); }

    void SetUp() override
    {
        if (!s_bus->failure().empty()) {
            GTEST_SKIP() << s_bus->failure();
        }
        static int counter = 0;
        ++counter;
        m_serverName = QStringLiteral("logind-%1").arg(counter);
        m_clientName = QStringLiteral("client-%1").arg(counter);
        m_server =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(s_bus->address(), m_serverName));
        m_client =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(s_bus->address(), m_clientName));
        ASSERT_TRUE(m_server->isConnected() && m_client->isConnected());
    }

    void TearDown() override
    {
        m_events.reset();
        m_server.reset();
        m_client.reset();
        QDBusConnection::disconnectFromBus(m_serverName);
        QDBusConnection::disconnectFromBus(m_clientName);
    }

    void serveLogind()
    {
        ASSERT_TRUE(m_server->registerObject(QStringLiteral("/org/freedesktop/login1"), &m_manager,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(m_server->registerObject(m_manager.sessionPath, &m_session,
                                             QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(m_server->registerService(QStringLiteral("org.freedesktop.login1")));
    }

    LogindSessionEvents& events()
    {
        m_events = std::make_unique<LogindSessionEvents>(*m_client);
        QObject::connect(m_events.get(), &LogindSessionEvents::willPowerOff, [this] { ++powerOffs; });
        QObject::connect(m_events.get(), &LogindSessionEvents::sessionDidResignActive, [this] { ++resigns; });
        return *m_events;
    }

    void
    send(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        ASSERT_TRUE(m_server->send(signal));
    }

    void propertiesChanged(const QVariantMap& changed,
                           const QStringList& invalidated = {},
                           const QString& path = {},
                           const QString& interface = kSessionInterface)
    {
        send(path.isEmpty() ? m_manager.sessionPath : path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("PropertiesChanged"), {interface, changed, invalidated});
    }

    // Everything the server sent before this has been delivered to the client.
    void sync()
    {
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        // Asynchronous: the fake answers from this very thread.
        const QDBusPendingCall call = m_client->asyncCall(ping, 2000);
        EXPECT_TRUE(waitUntil([&] { return call.isFinished(); }));
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    static inline std::unique_ptr<test::PrivateBus> s_bus;
    QString m_serverName;
    QString m_clientName;
    std::unique_ptr<QDBusConnection> m_server;
    std::unique_ptr<QDBusConnection> m_client;
    FakeLogindManager m_manager;
    FakeLogindSession m_session;
    std::unique_ptr<LogindSessionEvents> m_events;
    int powerOffs = 0;
    int resigns = 0;
};

TEST_F(LogindSessionEventsTest, ShutdownStartingIsAPowerOffNotice)
{
    serveLogind();
    ASSERT_TRUE(events().start());
    send(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
         QStringLiteral("PrepareForShutdown"), {true});
    EXPECT_TRUE(waitUntil([&] { return powerOffs == 1; }));
    send(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
         QStringLiteral("PrepareForShutdown"), {false}); // cancelled
    sync();
    EXPECT_EQ(powerOffs, 1);
}

TEST_F(LogindSessionEventsTest, TheOwnSessionTurningInactiveOrLockedResignsIt)
{
    m_session.lockedHint = true; // locked already at start: not a new notice
    serveLogind();
    LogindSessionEvents& session = events();
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(waitUntil([&] { return !session.sessionPath().isEmpty(); }));
    EXPECT_EQ(m_manager.askedFor, QStringLiteral("auto"));
    EXPECT_EQ(session.sessionPath(), m_manager.sessionPath);
    sync();
    EXPECT_EQ(resigns, 0);

    const struct
    {
        const char* what;
        std::function<void()> change;
        int resigns;
    } steps[] = {
        {"unlocked",
         [&] {
             propertiesChanged({{"LockedHint", false}});
         },
         0},
        {"locked",
         [&] {
             propertiesChanged({{"LockedHint", true}});
         },
         1},
        {"still locked",
         [&] {
             propertiesChanged({{"LockedHint", true}});
         },
         1},
        {"unlocked again",
         [&] {
             propertiesChanged({{"LockedHint", false}, {"Active", true}});
         },
         1},
        {"another user switched in",
         [&] {
             propertiesChanged({{"Active", false}});
         },
         2},
        {"back",
         [&] {
             propertiesChanged({{"Active", true}, {"IdleHint", false}});
         },
         2},
        {"another session",
         [&] {
             propertiesChanged({{"Active", false}}, {}, "/org/freedesktop/login1/session/c2");
         },
         2},
        {"another interface",
         [&] {
             propertiesChanged({{"Active", false}}, {}, {}, QStringLiteral("org.freedesktop.login1.User"));
         },
         2},
        {"invalidated, now inactive",
         [&] {
             m_session.active = false;
             propertiesChanged({}, {QStringLiteral("Active")});
         },
         3},
    };
    for (const auto& step : steps) {
        step.change();
        if (step.resigns > resigns) {
            EXPECT_TRUE(waitUntil([&] { return resigns == step.resigns; })) << step.what;
        }
        sync();
        EXPECT_EQ(resigns, step.resigns) << step.what;
    }
    EXPECT_EQ(powerOffs, 0);
}

TEST_F(LogindSessionEventsTest, WithoutLogindThereAreNoNoticesAndOneDebugLine)
{
    static int lines = 0;
    lines = 0;
    QLoggingCategory::setFilterRules(QStringLiteral("exitwise.platform.logind.debug=true"));
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString&) {
            if (QString::fromUtf8(context.category).startsWith(QStringLiteral("exitwise.platform.logind"))) {
                ++lines;
            }
        });
    LogindSessionEvents& session = events();
    EXPECT_TRUE(session.start());
    EXPECT_TRUE(waitUntil([] { return lines > 0; }));
    send(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
         QStringLiteral("PrepareForShutdown"), {true}); // from someone who is not logind
    waitUntil([] { return false; }, 100ms);
    EXPECT_EQ(lines, 1);
    EXPECT_TRUE(session.sessionPath().isEmpty());
    EXPECT_EQ(powerOffs, 0);

    LogindSessionEvents unconnected(QDBusConnection(QStringLiteral("no-such-bus")));
    EXPECT_FALSE(unconnected.start());
    EXPECT_EQ(lines, 2);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules({});
}

} // namespace
} // namespace exitwise::platform

#include "LogindSessionEventsTest.moc"
