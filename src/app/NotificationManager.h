// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/NotificationCenter.h"
#include "app/NotificationScope.h"

#include <QObject>
#include <QSettings>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace exitwise::app {

struct NotificationManagerOptions
{
    // The ended application's icon from its app path (the desktop entry): a theme icon name or an
    // absolute image path. Called on the manager's thread; no icon when empty or it finds none.
    std::function<std::optional<std::string>(const std::string& appPath)> iconLookup;
    // Where the scope is remembered between runs; without it the scope starts as every closure
    // and is forgotten at exit.
    std::unique_ptr<QSettings> settings;
};

// Announces each recorded closure with a user notification whose click leads back to the event.
// Calls run one at a time, in the order they were made, on the manager's thread; a call that
// waits for the centre never blocks that thread, it just holds back the calls behind it.
class NotificationManager : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(std::optional<NotificationError>)>;
    using AuthorizationCompletion = std::function<void(bool authorized)>;

    static constexpr std::chrono::milliseconds kTriggerDelay{100};
    static constexpr const char* kEventIdKey = "event_id";

    // `center` must outlive the manager and live on the same thread.
    explicit NotificationManager(NotificationCenter& center, QObject* parent = nullptr);
    NotificationManager(NotificationCenter& center,
                        NotificationManagerOptions options,
                        QObject* parent = nullptr);
    ~NotificationManager() override;

    // Both may be called from any thread; completions run on the manager's thread and are
    // dropped when the manager is destroyed first.
    //
    // Posts the event's notification when the scope, as it is when the call's turn comes, covers
    // the event and notifications are authorised. Completes with nothing once posted, when left
    // out or when not authorised; with the centre's error when posting failed.
    void notify(const AppEvent& event, Completion completion = {});
    // Asks for permission when the user has not decided yet; whether notifications may be shown.
    void ensureAuthorized(AuthorizationCompletion completion);

    // Which closures are announced. Manager's thread only; setScope remembers the choice and
    // emits scopeChanged when it differs from the current one.
    [[nodiscard]] NotificationScope scope() const { return m_scope; }
    void setScope(NotificationScope scope);

    // Only unexpected endings play the default sound; an ordinary quit arrives silently.
    [[nodiscard]] static NotificationRequest
    makeRequest(const AppEvent& event, const std::optional<std::string>& icon = std::nullopt);

signals:
    void scopeChanged(exitwise::app::NotificationScope scope);

private:
    using Finished = std::function<void()>;
    using Job = std::function<void(Finished)>;

    void enqueue(Job job);
    void runNext();
    void authorize(AuthorizationCompletion completion);
    void post(const AppEvent& event, Completion completion, Finished finished);
    [[nodiscard]] std::optional<std::string> iconFor(const AppEvent& event) const;

    NotificationCenter& m_center;
    NotificationManagerOptions m_options;
    NotificationScope m_scope = NotificationScope::everyClosure;
    std::deque<Job> m_jobs;
    bool m_isRunning = false;
};

} // namespace exitwise::app
