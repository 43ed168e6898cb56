// SPDX-License-Identifier: MIT
#include "platform/linux/FreedesktopNotificationCenter.h"

#include "app/NotificationManager.h"
#include "platform/linux/DesktopEntry.h"
#include "support/EventLoop.h"
#include "support/PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace exitwise::platform {

// The notification server's side of the bus, as much of it as the centre uses.
class FakeNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
        qint64 receivedAtMs = 0;
    };

    std::vector<Call> calls;
    std::map<uint, Call> shown;
    bool failsNotify = false;
    QElapsedTimer clock;

    FakeNotificationServer() { clock.start(); }

    void close(uint id)
    {
        shown.erase(id);
        emit NotificationClosed(id, 2);
    }
    void click(uint id, const QString& action) { emit ActionInvoked(id, action); }

public slots:
    uint Notify(const QString& appName,
                uint replacesId,
                const QString& appIcon,
                const QString& summary,
                const QString& body,
                const QStringList& actions,
                const QVariantMap& hints,
                int expireTimeout)
    {
        calls.push_back(Call{appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout,
                             clock.elapsed()});
        if (failsNotify) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("too many notifications"));
            return 0;
        }
        const uint id = shown.count(replacesId) != 0 ? replacesId : m_nextId++;
        shown[id] = calls.back();
        return id;
    }

    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("Exitwise tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

    QStringList GetCapabilities()
    {
        return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("sound")};
    }

    void CloseNotification(uint id) { close(id); }

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& actionKey);

private:
    uint m_nextId = 1;
};

namespace {

using namespace std::chrono_literals;

const QString kService = QStringLiteral("org.freedesktop.Notifications");

using test::waitUntil;

struct Activation
{
    QString identifier;
    QVariantMap userInfo;
};

class FreedesktopNotificationCenterTest : public ::testing::Test
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
        m_serverName = QStringLiteral("server-%1").arg(counter);
        m_clientName = QStringLiteral("client-%1").arg(counter);
        m_serverConnection =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(s_bus->address(), m_serverName));
        m_clientConnection =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(s_bus->address(), m_clientName));
        ASSERT_TRUE(m_serverConnection->isConnected() && m_clientConnection->isConnected());
        m_center = std::make_unique<FreedesktopNotificationCenter>(*m_clientConnection);
        QObject::connect(m_center.get(), &app::NotificationCenter::notificationActivated,
                         [this](const QString& identifier, const QVariantMap& userInfo) {
                             activations.push_back({identifier, userInfo});
                         });
    }

    void TearDown() override
    {
        m_center.reset();
        m_server.reset();
        m_serverConnection.reset();
        m_clientConnection.reset();
        QDBusConnection::disconnectFromBus(m_serverName);
        QDBusConnection::disconnectFromBus(m_clientName);
    }

    FakeNotificationServer& startServer()
    {
        m_server = std::make_unique<FakeNotificationServer>();
        EXPECT_TRUE(m_serverConnection->registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), m_server.get(),
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        EXPECT_TRUE(m_serverConnection->registerService(kService));
        return *m_server;
    }

    std::optional<app::NotificationError> add(const QString& identifier,
                                              QVariantMap userInfo = {},
                                              std::chrono::milliseconds delay = 0ms,
                                              bool playsDefaultSound = true,
                                              const QString& icon = {})
    {
        app::NotificationRequest request{identifier,
                                         {QStringLiteral("Mail closed"),
                                          QStringLiteral("Closed after 2m 5s."), std::move(userInfo),
                                          playsDefaultSound, icon},
                                         delay};
        bool done = false;
        std::optional<app::NotificationError> result;
        m_center->add(std::move(request), [&](std::optional<app::NotificationError> error) {
            done = true;
            result = std::move(error);
        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return result;
    }

    app::NotificationAuthorizationStatus authorizationStatus()
    {
        std::optional<app::NotificationSettings> settings;
        m_center->getNotificationSettings([&](app::NotificationSettings answer) { settings = answer; });
        EXPECT_TRUE(waitUntil([&] { return settings.has_value(); }));
        return settings ? settings->authorizationStatus : app::NotificationAuthorizationStatus::notDetermined;
    }

    // A round trip to the server: its signals sent before now have been handled.
    void sync() { (void)authorizationStatus(); }

    inline static std::unique_ptr<test::PrivateBus> s_bus;
    QString m_serverName;
    QString m_clientName;
    std::unique_ptr<QDBusConnection> m_serverConnection;
    std::unique_ptr<QDBusConnection> m_clientConnection;
    std::unique_ptr<FakeNotificationServer> m_server;
    std::unique_ptr<FreedesktopNotificationCenter> m_center;
    std::vector<Activation> activations;
};

TEST_F(FreedesktopNotificationCenterTest, PostsWithDefaultActionSoundAndDesktopEntry)
{
    FakeNotificationServer& server = startServer();
    EXPECT_EQ(authorizationStatus(), app::NotificationAuthorizationStatus::authorized);

    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);

    ASSERT_EQ(server.calls.size(), 1u);
    const FakeNotificationServer::Call& call = server.calls.front();
    EXPECT_EQ(call.appName, QStringLiteral("Exitwise"));
    EXPECT_EQ(call.replacesId, 0u);
    EXPECT_EQ(call.summary, QStringLiteral("Mail closed"));
    EXPECT_EQ(call.body, QStringLiteral("Closed after 2m 5s."));
    ASSERT_EQ(call.actions.size(), 2);
    EXPECT_EQ(call.actions.front(), QStringLiteral("default"));
    EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("exitwise"));
    EXPECT_EQ(call.hints.value(QStringLiteral("sound-name")).toString(),
              QStringLiteral("message-new-instant"));
    EXPECT_EQ(call.expireTimeout, -1);
}

TEST_F(FreedesktopNotificationCenterTest, PassesTheIconAndAsksForSilenceWithoutASound)
{
    struct Case
    {
        const char* what;
        QString icon;
        bool playsDefaultSound;
        QString appIcon;
        QVariant soundName; // invalid: no such hint
        QVariant suppressSound;
    };
    const QVariant none;
    const QVariant sound(QStringLiteral("message-new-instant"));
    // clang-format off
    const Case cases[] = {
        {"no icon, sound",      QString(),                                  true,  QString(),                                      sound, none},
        {"theme icon, silent",  QStringLiteral("org.gnome.TextEditor"),     false, QStringLiteral("org.gnome.TextEditor"),         none,  true},
        {"image path, sound",   QStringLiteral("/opt/My App/icon #1.png"),  true,  QStringLiteral("file:///opt/My%20App/icon%20%231.png"), sound, none},
        {"image path, silent",  QStringLiteral("/usr/share/pixmaps/gimp.png"), false, QStringLiteral("file:///usr/share/pixmaps/gimp.png"), none, true},
    };
    // clang-format on
    FakeNotificationServer& server = startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(add(QString::fromLatin1(c.what), {}, 0ms, c.playsDefaultSound, c.icon), std::nullopt);

        const FakeNotificationServer::Call& call = server.calls.back();
        EXPECT_EQ(call.appIcon, c.appIcon);
        EXPECT_EQ(call.hints.value(QStringLiteral("sound-name")), c.soundName);
        const QVariant suppress = call.hints.value(QStringLiteral("suppress-sound"));
        EXPECT_EQ(suppress, c.suppressSound);
        if (suppress.isValid()) {
            EXPECT_EQ(suppress.typeId(), QMetaType::Bool) << "the hint is a D-Bus boolean";
        }
        EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("exitwise"));
    }
}

TEST_F(FreedesktopNotificationCenterTest, ReplacesTheNotificationOfTheSameIdentifier)
{
    FakeNotificationServer& server = startServer();

    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);
    ASSERT_EQ(add(QStringLiteral("B")), std::nullopt);

    ASSERT_EQ(server.calls.size(), 3u);
    EXPECT_EQ(server.calls[1].replacesId, server.shown.begin()->first);
    EXPECT_EQ(server.calls[2].replacesId, 0u);
    EXPECT_EQ(server.shown.size(), 2u);
}

TEST_F(FreedesktopNotificationCenterTest, PostsAfreshOnceTheServerClosedTheNotification)
{
    FakeNotificationServer& server = startServer();
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);
    const uint first = server.shown.begin()->first;

    server.close(first);
    sync();
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);

    EXPECT_EQ(server.calls.back().replacesId, 0u);
    EXPECT_EQ(server.shown.size(), 1u);
}

TEST_F(FreedesktopNotificationCenterTest, DeliversClicksOnTheDefaultActionOfItsOwnNotifications)
{
    FakeNotificationServer& server = startServer();
    const QVariantMap userInfo{
        {QStringLiteral("event_id"), QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E")}};
    ASSERT_EQ(add(QStringLiteral("A"), userInfo), std::nullopt);
    const uint id = server.shown.begin()->first;

    server.click(id, QStringLiteral("other"));
    server.click(id + 100, QStringLiteral("default")); // another application's notification
    server.click(id, QStringLiteral("default"));

    ASSERT_TRUE(waitUntil([&] { return !activations.empty(); }));
    sync();
    ASSERT_EQ(activations.size(), 1u);
    EXPECT_EQ(activations.front().identifier, QStringLiteral("A"));
    EXPECT_EQ(activations.front().userInfo, userInfo);

    server.close(id);
    sync();
    server.click(id, QStringLiteral("default"));
    sync();
    EXPECT_EQ(activations.size(), 1u) << "a closed notification is no longer ours";
}

TEST_F(FreedesktopNotificationCenterTest, ForgetsIdsWhenAnotherServerTakesOver)
{
    FakeNotificationServer& first = startServer();
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);
    ASSERT_EQ(first.calls.size(), 1u);

    bool ownerChanged = false;
    QDBusServiceWatcher watcher(kService, *m_clientConnection, QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(
        &watcher, &QDBusServiceWatcher::serviceOwnerChanged,
        [&](const QString&, const QString&, const QString& newOwner) { ownerChanged = !newOwner.isEmpty(); });
    const QString otherName = m_serverName + QStringLiteral("-b");
    QDBusConnection other = QDBusConnection::connectToBus(s_bus->address(), otherName);
    FakeNotificationServer second;
    ASSERT_TRUE(other.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &second,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(m_serverConnection->unregisterService(kService));
    ASSERT_TRUE(other.registerService(kService));
    ASSERT_TRUE(waitUntil([&] { return ownerChanged; }));

    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);

    ASSERT_EQ(second.calls.size(), 1u);
    EXPECT_EQ(second.calls.front().replacesId, 0u);
    other.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(otherName);
}

TEST_F(FreedesktopNotificationCenterTest, HandsBackTheServersError)
{
    FakeNotificationServer& server = startServer();
    server.failsNotify = true;

    const auto error = add(QStringLiteral("A"));

    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->message, "cannot post notification: too many notifications");
}

TEST_F(FreedesktopNotificationCenterTest, WaitsForTheRequestedDelay)
{
    FakeNotificationServer& server = startServer();
    const qint64 addedAt = server.clock.elapsed();

    ASSERT_EQ(add(QStringLiteral("A"), {}, 150ms), std::nullopt);

    ASSERT_EQ(server.calls.size(), 1u);
    EXPECT_GE(server.calls.front().receivedAtMs - addedAt, 145);
}

TEST_F(FreedesktopNotificationCenterTest, WithoutAServerNothingIsAuthorised)
{
    EXPECT_EQ(authorizationStatus(), app::NotificationAuthorizationStatus::denied);

    std::optional<bool> granted;
    m_center->requestAuthorization({true, true, true},
                                   [&](bool answer, std::optional<app::NotificationError> error) {
                                       EXPECT_EQ(error, std::nullopt);
                                       granted = answer;
                                   });
    ASSERT_TRUE(waitUntil([&] { return granted.has_value(); }));
    EXPECT_FALSE(*granted);

    FreedesktopNotificationCenter offline(QDBusConnection(QStringLiteral("never-connected")));
    std::optional<app::NotificationSettings> settings;
    offline.getNotificationSettings([&](app::NotificationSettings answer) { settings = answer; });
    ASSERT_TRUE(waitUntil([&] { return settings.has_value(); }));
    EXPECT_EQ(settings->authorizationStatus, app::NotificationAuthorizationStatus::denied);
    std::optional<app::NotificationError> failure;
    offline.add({QStringLiteral("A"), {}, 0ms},
                [&](std::optional<app::NotificationError> error) { failure = error; });
    ASSERT_TRUE(waitUntil([&] { return failure.has_value(); }));
    EXPECT_EQ(failure->message, "cannot post notification: not connected to D-Bus");
}

// The manager over the real centre: what a user sees and what a click hands back.
class NotificationPipelineTest : public FreedesktopNotificationCenterTest
{
protected:
    std::optional<app::NotificationError> notify(app::NotificationManager& manager,
                                                 const app::AppEvent& event)
    {
        bool done = false;
        std::optional<app::NotificationError> result;
        manager.notify(event, [&](std::optional<app::NotificationError> error) {
            done = true;
            result = std::move(error);
        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return result;
    }

    static app::AppEvent event()
    {
        app::AppEvent event;
        event.id = app::Uuid::random();
        event.appName = "Text Editor";
        event.terminatedAt = core::dateFromReferenceSeconds(786300125.0);
        event.launchedAt = core::dateFromReferenceSeconds(786300000.0);
        return event;
    }
};

TEST_F(NotificationPipelineTest, AnnouncesAClosureAndLeadsBackToIt)
{
    FakeNotificationServer& server = startServer();
    app::NotificationManager manager(*m_center);
    const app::AppEvent closure = event();

    ASSERT_EQ(notify(manager, closure), std::nullopt);
    ASSERT_EQ(notify(manager, closure), std::nullopt);

    ASSERT_EQ(server.calls.size(), 2u);
    EXPECT_EQ(server.calls.front().summary, QStringLiteral("Text Editor closed \u2014 Click to see why."));
    EXPECT_EQ(server.calls.front().body, QStringLiteral("Closed after 2m 5s."));
    EXPECT_EQ(server.calls.front().actions.front(), QStringLiteral("default"));
    ASSERT_EQ(server.shown.size(), 1u) << "the same event is announced once";

    server.click(server.shown.begin()->first, QStringLiteral("default"));
    ASSERT_TRUE(waitUntil([&] { return !activations.empty(); }));
    const QVariant eventId = activations.front().userInfo.value(QStringLiteral("event_id"));
    ASSERT_EQ(eventId.typeId(), QMetaType::QString);
    EXPECT_EQ(app::Uuid::parse(eventId.toString().toStdString()), closure.id);
}

TEST_F(NotificationPipelineTest, ShowsTheEndedApplicationsIconAndSoundsOnlyForUnexpectedEndings)
{
    FakeNotificationServer& server = startServer();
    QTemporaryDir applications;
    ASSERT_TRUE(applications.isValid());
    const auto writeEntry = [&](const QString& fileName, const QString& icon) {
        QFile file(applications.filePath(fileName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Editor\nExec=editor\nIcon=%1\n")
                       .arg(icon)
                       .toUtf8());
        return file.fileName().toStdString();
    };
    const QString imagePath = applications.filePath(QStringLiteral("editor.png"));
    app::NotificationManagerOptions options;
    options.iconLookup = [](const std::string& appPath) { return desktopEntryIconName(appPath); };
    app::NotificationManager manager(*m_center, std::move(options));

    app::AppEvent crash = event();
    crash.appPath =
        writeEntry(QStringLiteral("org.gnome.TextEditor.desktop"), QStringLiteral("accessories-text-editor"));
    crash.diagnosis.endState = core::EndState::crash;
    crash.diagnosis.dominantCause = core::DominantCause::crashBug;
    app::AppEvent quit = event();
    quit.appPath = writeEntry(QStringLiteral("editor.desktop"), imagePath);
    quit.diagnosis.endState = core::EndState::cleanExit;
    quit.diagnosis.dominantCause = core::DominantCause::explicitQuit;

    ASSERT_EQ(notify(manager, crash), std::nullopt);
    ASSERT_EQ(notify(manager, quit), std::nullopt);

    ASSERT_EQ(server.calls.size(), 2u);
    const FakeNotificationServer::Call& crashed = server.calls[0];
    EXPECT_EQ(crashed.appIcon, QStringLiteral("accessories-text-editor"));
    EXPECT_EQ(crashed.hints.value(QStringLiteral("sound-name")).toString(),
              QStringLiteral("message-new-instant"));
    EXPECT_FALSE(crashed.hints.contains(QStringLiteral("suppress-sound")));
    const FakeNotificationServer::Call& quitted = server.calls[1];
    EXPECT_EQ(quitted.appIcon, QStringLiteral("file://") + imagePath);
    EXPECT_FALSE(quitted.hints.contains(QStringLiteral("sound-name")));
    EXPECT_EQ(quitted.hints.value(QStringLiteral("suppress-sound")), QVariant(true));
}

TEST_F(NotificationPipelineTest, AnnouncesOnlyUnexpectedEndingsWhenAskedTo)
{
    FakeNotificationServer& server = startServer();
    app::NotificationManager manager(*m_center);
    manager.setScope(app::NotificationScope::unexpectedOnly);

    app::AppEvent quit = event();
    quit.diagnosis.dominantCause = core::DominantCause::explicitQuit;
    app::AppEvent killed = event();
    killed.appName = "Photos";
    killed.diagnosis.endState = core::EndState::killed;
    killed.diagnosis.dominantCause = core::DominantCause::killedJetsamMemory;

    ASSERT_EQ(notify(manager, quit), std::nullopt);
    ASSERT_EQ(notify(manager, killed), std::nullopt);

    ASSERT_EQ(server.calls.size(), 1u);
    EXPECT_EQ(server.calls.front().summary, QStringLiteral("Photos closed \u2014 Click to see why."));
}

TEST_F(NotificationPipelineTest, StaysSilentWithoutAServer)
{
    app::NotificationManager manager(*m_center);

    // Posting would have failed with an error: none means nothing was attempted.
    EXPECT_EQ(notify(manager, event()), std::nullopt);
}

} // namespace
} // namespace exitwise::platform

#include "FreedesktopNotificationCenterTest.moc"
