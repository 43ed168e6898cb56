// SPDX-License-Identifier: MIT
#pragma once

// What the widget tests share: what a view says, what the model recorded, and the collaborators
// a window or the tray side needs.

#include "app/LoginItems.h"
#include "support/Files.h"
#include "support/ModelFixture.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/PopoverWindow.h"
#include "ui/RootView.h"

#include <QLabel>
#include <QSettings>

#include <memory>
#include <string>
#include <vector>

namespace exitwise::test {

// The texts of every label under `widget`.
inline QStringList labelTexts(const QWidget& widget)
{
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

// The texts of every label under `widget` are the lines of tests/data/ui/`name`.txt, in order.
inline void expectTexts(const QWidget& widget, const std::string& name)
{
    const std::string path = std::string(EXITWISE_TEST_DATA_DIR) + "/ui/" + name + ".txt";
    const std::string texts = labelTexts(widget).join('\n').toStdString() + '\n';
    EXPECT_EQ(texts, readFile(path)) << path;
}

// The attribute `key` of each usage record named `name`, from the `from`th record on.
inline std::vector<std::string> usageValues(const ModelFixture& fixture,
                                            app::ProductAnalyticsEventName name,
                                            const std::string& key,
                                            std::size_t from = 0)
{
    const std::vector<app::ProductAnalyticsEvent> usage = fixture.usageEvents();
    std::vector<std::string> values;
    for (std::size_t i = from; i < usage.size(); ++i) {
        if (usage[i].name == name) {
            const auto found = usage[i].attributes.find(key);
            values.push_back(found == usage[i].attributes.end() ? "(absent)" : found->second);
        }
    }
    return values;
}

// The diagnosis views recorded from the `from`th usage record on, as "source event-id".
inline std::vector<std::string> viewsSince(const ModelFixture& fixture, std::size_t from = 0)
{
    const auto name = app::ProductAnalyticsEventName::diagnosisViewed;
    const std::vector<std::string> sources = usageValues(fixture, name, "source", from);
    const std::vector<std::string> ids = usageValues(fixture, name, "event_id", from);
    std::vector<std::string> views;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        views.push_back(sources[i] + " " + ids[i]);
    }
    return views;
}

// Window settings in the fixture's directory; `onboarded`: the checklist was completed before.
inline std::unique_ptr<QSettings> settingsIn(const ModelFixture& fixture, bool onboarded = true)
{
    auto settings = std::make_unique<QSettings>(
        QString::fromStdString((fixture.directory() / "settings.ini").string()), QSettings::IniFormat);
    settings->setValue(ui::RootView::kOnboardingCompletedKey, onboarded);
    return settings;
}

// The popover with the launch-at-login switch and the notification choice.
inline std::unique_ptr<ui::PopoverWindow> popoverWith(app::AppModel& model, app::NotificationScope scope)
{
    ui::MenuBarPopoverContentView::Options options;
    options.supportsLaunchAtLogin = true;
    options.notificationScope = [scope] { return scope; };
    options.onChangeNotificationScope = [](app::NotificationScope) {};
    auto popover = std::make_unique<ui::PopoverWindow>();
    popover->setContent(new ui::MenuBarPopoverContentView(model, std::move(options)));
    return popover;
}

// Launch at login without touching the user's autostart directory.
class FakeLoginItems final : public app::LoginItems
{
public:
    [[nodiscard]] app::LoginItemStatus status() const override
    {
        ++statusReads;
        return current;
    }
    [[nodiscard]] std::optional<app::LoginItemError> registerItem() override
    {
        ++registerCalls;
        if (failRegistration) {
            return app::LoginItemError{"cannot create autostart entry"};
        }
        current = app::LoginItemStatus::enabled;
        return std::nullopt;
    }
    [[nodiscard]] std::optional<app::LoginItemError> unregisterItem() override
    {
        ++unregisterCalls;
        current = app::LoginItemStatus::notRegistered;
        return std::nullopt;
    }

    app::LoginItemStatus current = app::LoginItemStatus::notRegistered;
    bool failRegistration = false;
    mutable int statusReads = 0;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

} // namespace exitwise::test
