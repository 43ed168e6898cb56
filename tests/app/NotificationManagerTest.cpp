// SPDX-License-Identifier: MIT
#include "app/NotificationManager.h"

#include "support/EventLoop.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace exitwise::app {
namespace {

using namespace std::chrono_literals;
using Status = NotificationAuthorizationStatus;
using core::DominantCause;
using core::EndState;
using test::waitUntil;

const core::Date T0 = core::dateFromReferenceSeconds(786300000.0);

// Answers at once unless `holdAdds` is set; then each add waits for completeNextAdd().
class FakeNotificationCenter final : public NotificationCenter
{
public:
    Status status = Status::authorized;
    bool grants = true;
    std::optional<NotificationError> authorizationError;
    std::optional<NotificationError> addError;
    bool holdAdds = false;

    std::vector<NotificationAuthorizationOptions> authorizationRequests;
    std::vector<NotificationRequest> added;
    std::vector<AddCompletion> heldAdds;

    void getNotificationSettings(SettingsCompletion completion) override { completion({status}); }

    void requestAuthorization(NotificationAuthorizationOptions options,
                              AuthorizationCompletion completion) override
    {
        authorizationRequests.push_back(options);
        if (grants && !authorizationError) {
            status = Status::authorized;
        }
        completion(grants, authorizationError);
    }

    void add(NotificationRequest request, AddCompletion completion) override
    {
        added.push_back(std::move(request));
        if (holdAdds) {
            heldAdds.push_back(std::move(completion));
        } else {
            completion(addError);
        }
    }

    void completeNextAdd()
    {
        AddCompletion completion = std::move(heldAdds.front());
        heldAdds.erase(heldAdds.begin());
        completion(std::nullopt);
    }
};

AppEvent closure(std::string name,
                 std::optional<double> ranForSeconds = 3,
                 EndState endState = EndState::crash,
                 DominantCause cause = DominantCause::crashBug)
{
    AppEvent event;
    event.id = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    event.appName = std::move(name);
    event.terminatedAt = T0;
    if (ranForSeconds) {
        event.launchedAt = T0 - core::Seconds(*ranForSeconds);
    }
    event.diagnosis.endState = endState;
    event.diagnosis.dominantCause = cause;
    return event;
}

// Runs notify to completion; the error it completed with.
std::optional<NotificationError> notifyAndWait(NotificationManager& manager, const AppEvent& event)
{
    auto outcome = std::make_shared<std::optional<std::optional<NotificationError>>>();
    manager.notify(event, [outcome](std::optional<NotificationError> error) { *outcome = std::move(error); });
    EXPECT_TRUE(waitUntil([&] { return outcome->has_value(); }));
    return outcome->value_or(std::nullopt);
}

TEST(NotificationManager, PostsTheClosureWithItsContent)
{
    struct Case
    {
        const char* name;
        std::optional<double> ranFor;
        const char* title;
        const char* body;
    };
    // clang-format off
    const Case cases[] = {
        {"Safari",            std::nullopt, "Safari closed \u2014 Click to see why.",            "Open Exitwise for details."},
        {"Safari",            61.0,         "Safari closed \u2014 Click to see why.",            "Closed after 1m 1s."},
        {"Two\nLines\x1b[2J", 1.0,          "Two Lines\uFFFD[2J closed \u2014 Click to see why.", "Closed after 1 seconds."},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        FakeNotificationCenter center;
        NotificationManager manager(center);
        EXPECT_EQ(notifyAndWait(manager, closure(c.name, c.ranFor)), std::nullopt);

        ASSERT_EQ(center.added.size(), 1u);
        const NotificationRequest& request = center.added.front();
        EXPECT_EQ(request.identifier, "0F8FAD5B-D9CB-469F-A165-70867728950E");
        EXPECT_EQ(request.content.title, QString::fromUtf8(c.title));
        EXPECT_EQ(request.content.body, QString::fromUtf8(c.body));
        EXPECT_EQ(request.content.userInfo,
                  (QVariantMap{{"event_id", QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E")}}));
        EXPECT_EQ(request.delay, 100ms);
    }
}

TEST(NotificationManager, PostsOnlyWhenAuthorised)
{
    struct Case
    {
        const char* name;
        Status status;
        bool grants;
        std::optional<NotificationError> authorizationError;
        bool asks;
        bool posts;
    };
    // clang-format off
    const Case cases[] = {
        {"not determined, granted",        Status::notDetermined, true,  std::nullopt,           true,  true},
        {"not determined, refused",        Status::notDetermined, false, std::nullopt,           true,  false},
        {"not determined, request failed", Status::notDetermined, true,  NotificationError{"no"}, true,  false},
        {"denied",                         Status::denied,        true,  std::nullopt,           false, false},
        {"authorised",                     Status::authorized,    false, std::nullopt,           false, true},
        {"provisional",                    Status::provisional,   false, std::nullopt,           false, true},
        {"ephemeral",                      Status::ephemeral,     false, std::nullopt,           false, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNotificationCenter center;
        center.status = c.status;
        center.grants = c.grants;
        center.authorizationError = c.authorizationError;
        NotificationManager manager(center);

        // Refusal is silent: the caller sees no error either way.
        EXPECT_EQ(notifyAndWait(manager, closure("Mail")), std::nullopt);

        EXPECT_EQ(center.added.size(), c.posts ? 1u : 0u);
        ASSERT_EQ(center.authorizationRequests.size(), c.asks ? 1u : 0u);
        if (c.asks) {
            const NotificationAuthorizationOptions& options = center.authorizationRequests.front();
            EXPECT_TRUE(options.alert && options.sound && options.badge);
        }
    }
}

TEST(NotificationManager, HandsAPostingErrorBackWithoutRetrying)
{
    FakeNotificationCenter center;
    center.addError = NotificationError{"cannot post notification: server gone"};
    NotificationManager manager(center);
    EXPECT_EQ(notifyAndWait(manager, closure("Mail")), center.addError);
    EXPECT_EQ(center.added.size(), 1u);
}

// One call at a time, in order; what is pending when the manager goes away never completes.
TEST(NotificationManager, RunsOneCallAtATimeInOrderUntilDestroyed)
{
    FakeNotificationCenter center;
    center.holdAdds = true;
    std::vector<std::string> completed;
    const auto completes = [&completed](std::string name) {
        return [&completed, name](auto) { completed.push_back(name); };
    };
    bool authorizationAnswered = false;
    {
        NotificationManager manager(center);
        manager.notify(closure("First"), completes("First"));
        manager.ensureAuthorized([&](bool authorized) { authorizationAnswered = authorized; });
        manager.notify(closure("Second"), completes("Second"));

        ASSERT_TRUE(waitUntil([&] { return center.added.size() == 1; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(center.added.size(), 1u) << "the second call started before the first finished";
        EXPECT_FALSE(authorizationAnswered);

        center.completeNextAdd();
        ASSERT_TRUE(waitUntil([&] { return center.added.size() == 2; }));
        EXPECT_TRUE(authorizationAnswered);
        EXPECT_EQ(completed, std::vector<std::string>{"First"});

        manager.notify(closure("Held"), completes("Held"));
        manager.notify(closure("Never"), completes("Never"));
        center.completeNextAdd();
        EXPECT_EQ(completed, (std::vector<std::string>{"First", "Second"}));
        EXPECT_EQ(center.added.back().content.title,
                  QStringLiteral("Second closed \u2014 Click to see why."));
        ASSERT_TRUE(waitUntil([&] { return center.added.size() == 3; }));
    }
    center.completeNextAdd(); // must not touch the destroyed manager
    QCoreApplication::processEvents();
    EXPECT_EQ(completed, (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(center.added.size(), 3u);
}

TEST(NotificationManager, CompletesOnItsOwnThreadWhenCalledFromAnother)
{
    FakeNotificationCenter center;
    NotificationManager manager(center);
    std::optional<QThread*> completedOn;
    std::thread([&] {
        manager.notify(closure("Mail"), [&](auto) { completedOn = QThread::currentThread(); });
    }).join();

    ASSERT_TRUE(waitUntil([&] { return completedOn.has_value(); }));
    EXPECT_EQ(*completedOn, QCoreApplication::instance()->thread());
    EXPECT_EQ(center.added.size(), 1u);
}

TEST(NotificationManager, AnnouncesWhatItsScopeCoversAndSoundsOnlyForUnexpectedEndings)
{
    struct Case
    {
        EndState endState;
        DominantCause cause;
        bool unexpected;
    };
    // clang-format off
    const Case cases[] = {
        {EndState::crash,         DominantCause::crashBug,                true},
        {EndState::killed,        DominantCause::killedJetsamMemory,      true},
        {EndState::launchBlocked, DominantCause::policyBlocked,           true},
        {EndState::cleanExit,     DominantCause::dependencyHelperFailure, true},
        {EndState::cleanExit,     DominantCause::explicitQuit,            false},
        {EndState::cleanExit,     DominantCause::unknown,                 false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(core::rawValue(c.endState)) + " / " + std::string(core::rawValue(c.cause)));
        EXPECT_EQ(isUnexpectedEnding(c.endState, c.cause), c.unexpected);
        for (const NotificationScope scope :
             {NotificationScope::everyClosure, NotificationScope::unexpectedOnly}) {
            SCOPED_TRACE(scope == NotificationScope::everyClosure ? "every closure" : "unexpected only");
            FakeNotificationCenter center;
            NotificationManager manager(center);
            manager.setScope(scope);
            EXPECT_EQ(notifyAndWait(manager, closure("Notes", 30, c.endState, c.cause)), std::nullopt);

            const bool posts = scope == NotificationScope::everyClosure || c.unexpected;
            ASSERT_EQ(center.added.size(), posts ? 1u : 0u);
            if (posts) {
                EXPECT_EQ(center.added.front().content.playsDefaultSound, c.unexpected);
            } else {
                EXPECT_TRUE(center.authorizationRequests.empty()) << "asked for permission it did not need";
            }
        }
    }
}

TEST(NotificationManager, ShowsTheIconOfTheEndedApplication)
{
    struct Case
    {
        const char* what;
        std::optional<std::string> appPath;
        std::optional<std::string> found;
        QString icon;
    };
    const std::string entry = "/usr/share/applications/org.gnome.TextEditor.desktop";
    // clang-format off
    const Case cases[] = {
        {"theme name",         entry,         "org.gnome.TextEditor",     QStringLiteral("org.gnome.TextEditor")},
        {"image path",         entry,         "/opt/editor/icon one.png", QStringLiteral("/opt/editor/icon one.png")},
        {"entry without icon", entry,         std::nullopt,               QString()},
        {"no app path",        std::nullopt,  "never asked",              QString()},
        {"empty app path",     std::string(), "never asked",              QString()},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeNotificationCenter center;
        std::vector<std::string> lookedUp;
        NotificationManagerOptions options;
        options.iconLookup = [&](const std::string& appPath) {
            lookedUp.push_back(appPath);
            return c.found;
        };
        NotificationManager manager(center, std::move(options));
        AppEvent event = closure("Text Editor");
        event.appPath = c.appPath;
        (void)notifyAndWait(manager, event);

        ASSERT_EQ(center.added.size(), 1u);
        EXPECT_EQ(center.added.front().content.icon, c.icon);
        EXPECT_EQ(lookedUp, c.appPath.value_or("").empty() ? std::vector<std::string>{}
                                                           : std::vector<std::string>{entry});
    }
}

// Settings of the application's own names, kept under a temporary configuration directory.
class NotificationScopeSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_config.path().string()));
    }

    void TearDown() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }

    static NotificationManagerOptions remembered()
    {
        NotificationManagerOptions options;
        options.settings =
            std::make_unique<QSettings>(QStringLiteral("exitwise"), QStringLiteral("Exitwise"));
        return options;
    }

    test::TempDir m_config{"exitwise-config"};
};

TEST_F(NotificationScopeSettingsTest, TheChoiceSurvivesARestart)
{
    FakeNotificationCenter center;
    {
        NotificationManager manager(center, remembered());
        EXPECT_EQ(manager.scope(), NotificationScope::everyClosure) << "the default before any choice";
        std::vector<NotificationScope> changes;
        QObject::connect(&manager, &NotificationManager::scopeChanged,
                         [&](NotificationScope scope) { changes.push_back(scope); });
        manager.setScope(NotificationScope::unexpectedOnly);
        manager.setScope(NotificationScope::unexpectedOnly);
        EXPECT_EQ(changes, std::vector<NotificationScope>{NotificationScope::unexpectedOnly});
    }
    EXPECT_NE(
        test::readFile(m_config.path() / "exitwise/Exitwise.conf").find("exws_notify_about=unexpectedOnly"),
        std::string::npos);

    NotificationManager restarted(center, remembered());
    EXPECT_EQ(restarted.scope(), NotificationScope::unexpectedOnly);
    (void)notifyAndWait(restarted, closure("Notes", 30, EndState::cleanExit, DominantCause::explicitQuit));
    EXPECT_TRUE(center.added.empty()) << "an ordinary quit was announced after the restart";

    restarted.setScope(NotificationScope::everyClosure);
    EXPECT_EQ(NotificationManager(center, remembered()).scope(), NotificationScope::everyClosure);

    // A choice it cannot read means every closure.
    for (const QVariant& stored : {QVariant(QStringLiteral("sometimes")), QVariant(1), QVariant(QString())}) {
        QSettings(QStringLiteral("exitwise"), QStringLiteral("Exitwise"))
            .setValue(QStringLiteral("exws_notify_about"), stored);
        EXPECT_EQ(NotificationManager(center, remembered()).scope(), NotificationScope::everyClosure)
            << stored.toString().toStdString();
    }
}

} // namespace
} // namespace exitwise::app
