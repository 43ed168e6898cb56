// SPDX-License-Identifier: MIT
#include "app/NotificationManager.h"

#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"

#include <QCoreApplication>
#include <QSettings>
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

AppEvent
closure(std::string name, EndState endState = EndState::crash, DominantCause cause = DominantCause::crashBug)
{
    return test::eventWithVerdict(std::move(name), test::sampleTime(), endState, cause,
                                  core::Confidence::high);
}

// Runs notify to completion; the error it completed with.
std::optional<NotificationError> notifyAndWait(NotificationManager& manager, const AppEvent& event)
{
    auto outcome = std::make_shared<std::optional<std::optional<NotificationError>>>();
    manager.notify(event, [outcome](std::optional<NotificationError> error) { *outcome = std::move(error); });
    EXPECT_TRUE(waitUntil([&] { return outcome->has_value(); }));
    return outcome->value_or(std::nullopt);
}

// The request: the event's identifier, its title, how long it ran when that is known, and the
// icon the lookup finds for its desktop entry (a theme name or an image path, as it is).
TEST(NotificationManager, PostsTheClosureWithItsContentAndIcon)
{
    struct Case
    {
        std::optional<core::Date> launchedAt;
        std::optional<std::string> appPath;
        std::optional<std::string> found;
        QString body;
        QString icon;
    };
    const std::string entry = "/usr/share/applications/org.gnome.TextEditor.desktop";
    const char* image = "/opt/editor/icon one.png";
    const core::Date ranFor61 = test::sampleTime(-61);
    // clang-format off
    const Case cases[] = {
        {ranFor61,     entry,         image,         "Closed after 1m 1s.",        image},
        {std::nullopt, entry,         std::nullopt,  "Open Exitwise for details.", QString()},
        {ranFor61,     std::nullopt,  "never asked", "Closed after 1m 1s.",        QString()},
        {ranFor61,     std::string(), "never asked", "Closed after 1m 1s.",        QString()},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.toStdString() + " " + c.appPath.value_or("<no app path>"));
        FakeNotificationCenter center;
        std::vector<std::string> lookedUp;
        NotificationManagerOptions options;
        options.iconLookup = [&](const std::string& appPath) {
            lookedUp.push_back(appPath);
            return c.found;
        };
        NotificationManager manager(center, std::move(options));
        AppEvent event = closure("Safari");
        event.launchedAt = c.launchedAt;
        event.appPath = c.appPath;
        const QString id = QString::fromStdString(event.id.toString());
        EXPECT_EQ(notifyAndWait(manager, event), std::nullopt);

        ASSERT_EQ(center.added.size(), 1u);
        const NotificationRequest& request = center.added.front();
        EXPECT_EQ(std::tuple(request.identifier, request.content.title, request.content.body, request.delay),
                  std::tuple(id, QStringLiteral("Safari closed \u2014 Click to see why."), c.body, 100ms));
        EXPECT_EQ(request.content.userInfo, (QVariantMap{{"event_id", id}}));
        EXPECT_EQ(request.content.icon, c.icon);
        EXPECT_EQ(lookedUp, c.appPath.value_or("").empty() ? std::vector<std::string>{}
                                                           : std::vector<std::string>{entry});
    }
}

// Refusal is silent: the caller sees no error either way; a posting error is handed back as it
// is, without a retry.
TEST(NotificationManager, PostsOnlyWhenAuthorised)
{
    struct Case
    {
        const char* name;
        Status status;
        bool grants;
        std::optional<NotificationError> authorizationError;
        std::optional<NotificationError> addError;
        bool asks;
        bool posts;
    };
    const NotificationError no{"no"};
    // clang-format off
    const Case cases[] = {
        {"undecided, granted",        Status::notDetermined, true,  std::nullopt, std::nullopt, true,  true},
        {"undecided, refused",        Status::notDetermined, false, std::nullopt, std::nullopt, true,  false},
        {"undecided, request failed", Status::notDetermined, true,  no,           std::nullopt, true,  false},
        {"denied",                    Status::denied,        true,  std::nullopt, std::nullopt, false, false},
        {"authorised",                Status::authorized,    false, std::nullopt, std::nullopt, false, true},
        {"authorised, post failed",   Status::authorized,    false, std::nullopt, no,           false, true},
        {"provisional",               Status::provisional,   false, std::nullopt, std::nullopt, false, true},
        {"ephemeral",                 Status::ephemeral,     false, std::nullopt, std::nullopt, false, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNotificationCenter center;
        center.status = c.status;
        center.grants = c.grants;
        center.authorizationError = c.authorizationError;
        center.addError = c.addError;
        NotificationManager manager(center);
        EXPECT_EQ(notifyAndWait(manager, closure("Mail")), c.addError);

        EXPECT_EQ(center.added.size(), c.posts ? 1u : 0u);
        ASSERT_EQ(center.authorizationRequests.size(), c.asks ? 1u : 0u);
        if (c.asks) {
            const NotificationAuthorizationOptions& options = center.authorizationRequests.front();
            EXPECT_TRUE(options.alert && options.sound && options.badge);
        }
    }
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

        manager.notify(closure("Held"), completes("Held"));
        manager.notify(closure("Never"), completes("Never"));
        center.completeNextAdd();
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
    // clang-format off
    const std::tuple<EndState, DominantCause, bool> cases[] = {
        {EndState::crash,         DominantCause::crashBug,                true},
        {EndState::killed,        DominantCause::killedJetsamMemory,      true},
        {EndState::launchBlocked, DominantCause::policyBlocked,           true},
        {EndState::cleanExit,     DominantCause::dependencyHelperFailure, true},
        {EndState::cleanExit,     DominantCause::explicitQuit,            false},
        {EndState::cleanExit,     DominantCause::unknown,                 false},
    };
    // clang-format on
    for (const auto& [endState, cause, unexpected] : cases) {
        SCOPED_TRACE(std::string(core::rawValue(endState)) + " / " + std::string(core::rawValue(cause)));
        for (const NotificationScope scope :
             {NotificationScope::everyClosure, NotificationScope::unexpectedOnly}) {
            SCOPED_TRACE(scope == NotificationScope::everyClosure ? "every closure" : "unexpected only");
            FakeNotificationCenter center;
            NotificationManager manager(center);
            manager.setScope(scope);
            EXPECT_EQ(notifyAndWait(manager, closure("Notes", endState, cause)), std::nullopt);

            const bool posts = scope == NotificationScope::everyClosure || unexpected;
            ASSERT_EQ(center.added.size(), posts ? 1u : 0u);
            if (posts) {
                EXPECT_EQ(center.added.front().content.playsDefaultSound, unexpected);
            } else {
                EXPECT_TRUE(center.authorizationRequests.empty()) << "asked for permission it did not need";
            }
        }
    }
}

TEST(NotificationManager, TheScopeChoiceSurvivesARestart)
{
    const test::TempDir config("exitwise-config");
    const QString file = QString::fromStdString((config.path() / "Exitwise.conf").string());
    const auto remembered = [&file] {
        NotificationManagerOptions options;
        options.settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
        return options;
    };
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
    EXPECT_NE(test::readFile(config.path() / "Exitwise.conf").find("exws_notify_about=unexpectedOnly"),
              std::string::npos);

    NotificationManager restarted(center, remembered());
    EXPECT_EQ(restarted.scope(), NotificationScope::unexpectedOnly);
    restarted.setScope(NotificationScope::everyClosure);
    EXPECT_EQ(NotificationManager(center, remembered()).scope(), NotificationScope::everyClosure);

    // A choice it cannot read means every closure.
    QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("exws_notify_about"), "sometimes");
    EXPECT_EQ(NotificationManager(center, remembered()).scope(), NotificationScope::everyClosure);
}

} // namespace
} // namespace exitwise::app
