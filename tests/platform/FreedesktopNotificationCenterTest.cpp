// SPDX-License-Identifier: MIT
#include "platform/linux/FreedesktopNotificationCenter.h"

#include "platform/linux/DesktopEntry.h"
#include "support/PlatformFixtures.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QElapsedTimer>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace exitwise::platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// The notification server's side of the bus, as much of it as the centre uses. It keeps the
// arguments of each Notify: application name, replaced id, icon, summary, body, actions, hints
// and timeout.
class FakeNotificationServer : public QDBusVirtualObject
{
public:
    std::vector<QVariantList> calls;
    std::set<uint> shown;
    bool failsNotify = false;

    // Serves as the notification server on `bus`; whether that worked.
    bool serveOn(const QDBusConnection& bus)
    {
        m_bus = bus;
        return m_bus.registerVirtualObject(kPath, this) && m_bus.registerService(kService);
    }
    void close(uint id)
    {
        shown.erase(id);
        emitSignal(QStringLiteral("NotificationClosed"), {id, 2u});
    }
    void click(uint id, const QString& action) { emitSignal(QStringLiteral("ActionInvoked"), {id, action}); }

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override
    {
        if (call.member() != QLatin1String("Notify")) {
            // GetServerInformation: the centre asks only whether there is an answer.
            return bus.send(
                call.createReply(QVariantList{QStringLiteral("fake"), QString(), QString(), QString()}));
        }
        calls.push_back(call.arguments());
        calls.back()[6] = qdbus_cast<QVariantMap>(calls.back()[6]); // the hints arrive still marshalled
        if (failsNotify) {
            return bus.send(
                call.createErrorReply(QDBusError::Failed, QStringLiteral("too many notifications")));
        }
        const uint replaced = calls.back()[1].toUInt();
        const uint id = shown.contains(replaced) ? replaced : m_nextId++;
        shown.insert(id);
        return bus.send(call.createReply(QVariant(id)));
    }
    [[nodiscard]] QString introspect(const QString& /*path*/) const override { return {}; }

private:
    void emitSignal(const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    QDBusConnection m_bus{QString()};
    uint m_nextId = 1;
};

using namespace std::chrono_literals;

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
        ASSERT_TRUE(server.serveOn(service()));
        m_center = std::make_unique<FreedesktopNotificationCenter>(client());
        QObject::connect(m_center.get(), &app::NotificationCenter::notificationActivated,
                         [this](const QString& identifier, const QVariantMap& userInfo) {
                             activations.emplace_back(identifier, userInfo);
                         });
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

    app::NotificationAuthorizationStatus authorizationStatus()
    {
        std::optional<app::NotificationSettings> settings;
        m_center->getNotificationSettings([&](app::NotificationSettings answer) { settings = answer; });
        EXPECT_TRUE(waitUntil([&] { return settings.has_value(); }));
        return settings ? settings->authorizationStatus : app::NotificationAuthorizationStatus::notDetermined;
    }

    // A round trip to the server: its signals sent before now have been handled.
    void sync() { (void)authorizationStatus(); }

    FakeNotificationServer server;
    std::unique_ptr<FreedesktopNotificationCenter> m_center;
    std::vector<std::pair<QString, QVariantMap>> activations; // identifier, user info
};

TEST_F(FreedesktopNotificationCenterTest, PostsWithTheIconAndAsksForSilenceWithoutASound)
{
    struct Case
    {
        const char* icon;
        bool sound;
        const char* appIcon;
    };
    // clang-format off
    const Case cases[] = {
        {"",                            true,  ""},
        {"org.gnome.TextEditor",        false, "org.gnome.TextEditor"},
        {"/opt/My App/icon #1.png",     true,  "file:///opt/My%20App/icon%20%231.png"},
    };
    // clang-format on
    const QVariantMap sound{{QStringLiteral("desktop-entry"), QStringLiteral("exitwise")},
                            {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    const QVariantMap silent{{QStringLiteral("desktop-entry"), QStringLiteral("exitwise")},
                             {QStringLiteral("suppress-sound"), true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.icon);
        // Each its own notification: the icon is the identifier.
        ASSERT_EQ(add(QString::fromUtf8(c.icon), {}, 0ms, c.sound, QString::fromUtf8(c.icon)), std::nullopt);
        // The server's own timeout, and a default action to click.
        EXPECT_EQ(server.calls.back(),
                  (QVariantList{QStringLiteral("Exitwise"), 0u, QString::fromUtf8(c.appIcon),
                                QStringLiteral("Mail closed"), QStringLiteral("Closed after 2m 5s."),
                                QStringList{QStringLiteral("default"), QStringLiteral("Open")},
                                c.sound ? sound : silent, -1}));
        EXPECT_EQ(server.calls.back()[6].toMap().value(QStringLiteral("suppress-sound")).typeId(),
                  c.sound ? QMetaType::UnknownType : QMetaType::Bool)
            << "a D-Bus boolean";
    }
    EXPECT_EQ(authorizationStatus(), app::NotificationAuthorizationStatus::authorized);
}

TEST_F(FreedesktopNotificationCenterTest, ReplacesItsShownNotificationOfTheSameIdentifierOnTheSameServer)
{
    for (const char* identifier : {"A", "A", "B"}) {
        ASSERT_EQ(add(QString::fromLatin1(identifier)), std::nullopt);
    }
    const uint first = *server.shown.begin();
    server.close(first);
    sync();
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt); // the server closed it: posted afresh

    std::vector<uint> replaced;
    for (const QVariantList& call : server.calls) {
        replaced.push_back(call[1].toUInt());
    }
    EXPECT_EQ(replaced, (std::vector<uint>{0, first, 0, 0}));

    // Another server takes over: the ids shown by the first mean nothing to it.
    test::BusConnection other(s_bus->address());
    FakeNotificationServer second;
    ASSERT_TRUE(service().unregisterService(kService));
    ASSERT_TRUE(second.serveOn(other.connection));
    sync(); // the bus told of the new owner before it answers
    ASSERT_EQ(add(QStringLiteral("A")), std::nullopt);

    EXPECT_EQ(second.calls.at(0)[1].toUInt(), 0u);
}

TEST_F(FreedesktopNotificationCenterTest, WaitsForTheDelayAndReportsAServerThatRefusesOrIsGone)
{
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(add(QStringLiteral("A"), {}, 150ms), std::nullopt);
    EXPECT_GE(clock.elapsed(), 145);

    server.failsNotify = true;
    EXPECT_EQ(add(QStringLiteral("B")),
              app::NotificationError{"cannot post notification: too many notifications"});

    // Without a server nothing is authorised.
    ASSERT_TRUE(service().unregisterService(kService));
    EXPECT_EQ(authorizationStatus(), app::NotificationAuthorizationStatus::denied);

    std::optional<bool> granted;
    m_center->requestAuthorization({true, true, true},
                                   [&](bool answer, std::optional<app::NotificationError> error) {
                                       EXPECT_EQ(error, std::nullopt);
                                       granted = answer;
                                   });
    ASSERT_TRUE(waitUntil([&] { return granted.has_value(); }));
    EXPECT_FALSE(*granted);

    m_center = std::make_unique<FreedesktopNotificationCenter>(QDBusConnection(QStringLiteral("offline")));
    EXPECT_EQ(authorizationStatus(), app::NotificationAuthorizationStatus::denied);
    EXPECT_EQ(add(QStringLiteral("A")),
              app::NotificationError{"cannot post notification: not connected to D-Bus"});
}

TEST_F(FreedesktopNotificationCenterTest, AClickOnTheDefaultActionOfOurOwnNotificationActivatesIt)
{
    ASSERT_EQ(add(QStringLiteral("A"), {{QStringLiteral("event_id"), QStringLiteral("e1")}}), std::nullopt);
    const uint id = *server.shown.begin();

    server.click(id, QStringLiteral("other"));
    server.click(id + 100, QStringLiteral("default")); // another application's notification
    server.click(id, QStringLiteral("default"));
    server.close(id);
    server.click(id, QStringLiteral("default")); // a closed notification is no longer ours
    sync();
    const std::pair<QString, QVariantMap> activation{QStringLiteral("A"),
                                                     {{QStringLiteral("event_id"), QStringLiteral("e1")}}};
    EXPECT_EQ(activations, std::vector{activation});
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
