// SPDX-License-Identifier: MIT
#include "platform/linux/FreedesktopNotificationCenter.h"

#include "platform/linux/DesktopEntry.h"
#include "support/PlatformFixtures.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>

#include <chrono>
#include <filesystem>
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

    // Serves as the notification server on `bus`; whether that worked.
    bool serveOn(QDBusConnection& bus)
    {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
               && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

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

class FreedesktopNotificationCenterTest : public test::ServiceBusTest
{
protected:
    void SetUp() override
    {
        test::ServiceBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_center = std::make_unique<FreedesktopNotificationCenter>(client());
        QObject::connect(m_center.get(), &app::NotificationCenter::notificationActivated,
                         [this](const QString& identifier, const QVariantMap& userInfo) {
                             activations.emplace_back(identifier, userInfo);
                         });
    }

    FakeNotificationServer& startServer()
    {
        m_server = std::make_unique<FakeNotificationServer>();
        EXPECT_TRUE(m_server->serveOn(service()));
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
        std::optional<std::optional<app::NotificationError>> result;
        m_center->add(std::move(request), [&](auto error) { result.emplace(std::move(error)); });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(std::nullopt);
    }

    app::NotificationAuthorizationStatus authorizationStatus(FreedesktopNotificationCenter* center = nullptr)
    {
        std::optional<app::NotificationSettings> settings;
        (center != nullptr ? center : m_center.get())
            ->getNotificationSettings([&](app::NotificationSettings answer) { settings = answer; });
        EXPECT_TRUE(waitUntil([&] { return settings.has_value(); }));
        return settings ? settings->authorizationStatus : app::NotificationAuthorizationStatus::notDetermined;
    }

    // A round trip to the server: its signals sent before now have been handled.
    void sync() { (void)authorizationStatus(); }

    std::unique_ptr<FakeNotificationServer> m_server;
    std::unique_ptr<FreedesktopNotificationCenter> m_center;
    std::vector<std::pair<QString, QVariantMap>> activations; // identifier, user info
};

TEST_F(FreedesktopNotificationCenterTest, PostsWithTheIconAndAsksForSilenceWithoutASound)
{
    struct Case
    {
        const char* what;
        const char* icon;
        bool sound;
        const char* appIcon;
    };
    // clang-format off
    const Case cases[] = {
        {"no icon, sound",     "",                            true,  ""},
        {"theme icon, silent", "org.gnome.TextEditor",        false, "org.gnome.TextEditor"},
        {"image path, sound",  "/opt/My App/icon #1.png",     true,  "file:///opt/My%20App/icon%20%231.png"},
        {"image path, silent", "/usr/share/pixmaps/gimp.png", false, "file:///usr/share/pixmaps/gimp.png"},
    };
    // clang-format on
    FakeNotificationServer& server = startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(add(QString::fromLatin1(c.what), {}, 0ms, c.sound, QString::fromUtf8(c.icon)),
                  std::nullopt);

        const FakeNotificationServer::Call& call = server.calls.back();
        EXPECT_EQ(call.appIcon, QString::fromUtf8(c.appIcon));
        EXPECT_EQ(call.hints.value(QStringLiteral("sound-name")),
                  c.sound ? QVariant(QStringLiteral("message-new-instant")) : QVariant());
        const QVariant suppress = call.hints.value(QStringLiteral("suppress-sound"));
        EXPECT_EQ(suppress, c.sound ? QVariant() : QVariant(true));
        EXPECT_EQ(suppress.typeId(), c.sound ? QMetaType::UnknownType : QMetaType::Bool) << "a D-Bus boolean";
        EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("exitwise"));
    }
    // The server's own timeout, and a default action to click.
    const FakeNotificationServer::Call& call = server.calls.front();
    EXPECT_EQ(QStringList({call.appName, call.summary, call.body}),
              QStringList({QStringLiteral("Exitwise"), QStringLiteral("Mail closed"),
                           QStringLiteral("Closed after 2m 5s.")}));
    EXPECT_EQ(call.actions, QStringList({QStringLiteral("default"), QStringLiteral("Open")}));
    EXPECT_EQ(call.expireTimeout, -1);
    EXPECT_EQ(authorizationStatus(), app::NotificationAuthorizationStatus::authorized);
}

TEST_F(FreedesktopNotificationCenterTest, ReplacesItsNotificationOfTheSameIdentifierWhileItIsShown)
{
    FakeNotificationServer& server = startServer();
    for (const char* identifier : {"A", "A", "B"}) {
        ASSERT_EQ(add(QString::fromLatin1(identifier)), std::nullopt);
    }
    const uint first = server.shown.begin()->first;
    server.close(first);
    sync();
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt); // the server closed it: posted afresh

    std::vector<uint> replaced;
    for (const FakeNotificationServer::Call& call : server.calls) {
        replaced.push_back(call.replacesId);
    }
    EXPECT_EQ(replaced, (std::vector<uint>{0, first, 0, 0}));
    EXPECT_EQ(server.shown.size(), 2u);
}

TEST_F(FreedesktopNotificationCenterTest, ForgetsIdsWhenAnotherServerTakesOver)
{
    FakeNotificationServer& first = startServer();
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);
    ASSERT_EQ(first.calls.size(), 1u);

    bool ownerChanged = false;
    QDBusServiceWatcher watcher(kService, client(), QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(
        &watcher, &QDBusServiceWatcher::serviceOwnerChanged,
        [&](const QString&, const QString&, const QString& newOwner) { ownerChanged = !newOwner.isEmpty(); });
    test::BusConnection other(s_bus->address());
    FakeNotificationServer second;
    ASSERT_TRUE(service().unregisterService(kService));
    ASSERT_TRUE(second.serveOn(other.connection));
    ASSERT_TRUE(waitUntil([&] { return ownerChanged; }));

    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);

    ASSERT_EQ(second.calls.size(), 1u);
    EXPECT_EQ(second.calls.front().replacesId, 0u);
}

TEST_F(FreedesktopNotificationCenterTest, WaitsForTheRequestedDelayAndHandsBackTheServersError)
{
    FakeNotificationServer& server = startServer();
    const qint64 addedAt = server.clock.elapsed();
    ASSERT_EQ(add(QStringLiteral("A"), {}, 150ms), std::nullopt);
    ASSERT_EQ(server.calls.size(), 1u);
    EXPECT_GE(server.calls.front().receivedAtMs - addedAt, 145);

    server.failsNotify = true;
    EXPECT_EQ(add(QStringLiteral("B")),
              app::NotificationError{"cannot post notification: too many notifications"});
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
    EXPECT_EQ(authorizationStatus(&offline), app::NotificationAuthorizationStatus::denied);
    std::optional<app::NotificationError> failure;
    offline.add({QStringLiteral("A"), {}, 0ms},
                [&](std::optional<app::NotificationError> error) { failure = error; });
    ASSERT_TRUE(waitUntil([&] { return failure.has_value(); }));
    EXPECT_EQ(failure->message, "cannot post notification: not connected to D-Bus");
}

TEST_F(FreedesktopNotificationCenterTest, AClickOnTheDefaultActionOfOurOwnNotificationActivatesIt)
{
    FakeNotificationServer& server = startServer();
    ASSERT_EQ(add(QStringLiteral("A"), {{QStringLiteral("event_id"), QStringLiteral("e1")}}), std::nullopt);
    const uint id = server.shown.begin()->first;

    server.click(id, QStringLiteral("other"));
    server.click(id + 100, QStringLiteral("default")); // another application's notification
    server.click(id, QStringLiteral("default"));
    ASSERT_TRUE(waitUntil([&] { return !activations.empty(); }));
    sync();
    ASSERT_EQ(activations.size(), 1u);
    EXPECT_EQ(activations.front().first, QStringLiteral("A"));
    EXPECT_EQ(activations.front().second, (QVariantMap{{QStringLiteral("event_id"), QStringLiteral("e1")}}));

    server.close(id);
    sync();
    server.click(id, QStringLiteral("default"));
    sync();
    EXPECT_EQ(activations.size(), 1u) << "a closed notification is no longer ours";
}

// The desktop entry we install: servers find it by the desktop-entry hint.
TEST(ShippedDesktopEntry, NamesTheApplicationTheNotificationsComeFrom)
{
    const std::string file = EXITWISE_DESKTOP_FILE;
    EXPECT_EQ(std::filesystem::path(file).stem(), std::string(FreedesktopNotificationCenter::kDesktopEntry));
    EXPECT_EQ(desktopEntryIconName(file), "exitwise");
    // GNOME lists an application under its notification settings only with this key.
    EXPECT_NE(test::readFile(file).find("\nX-GNOME-UsesNotifications=true\n"), std::string::npos);
}

} // namespace
} // namespace exitwise::platform

#include "FreedesktopNotificationCenterTest.moc"
