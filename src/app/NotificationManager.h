// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/NotificationCenter.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

namespace exitwise::app {

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

    // Both may be called from any thread; completions run on the manager's thread and are
    // dropped when the manager is destroyed first.
    //
    // Posts the event's notification when notifications are authorised. Completes with nothing
    // once posted or when not authorised; with the centre's error when posting failed.
    void notify(const AppEvent& event, Completion completion = {});
    // Asks for permission when the user has not decided yet; whether notifications may be shown.
    void ensureAuthorized(AuthorizationCompletion completion);

    [[nodiscard]] static NotificationRequest makeRequest(const AppEvent& event);

private:
    using Finished = std::function<void()>;
    using Job = std::function<void(Finished)>;

    void enqueue(Job job);
    void runNext();
    void authorize(AuthorizationCompletion completion);
    void post(const AppEvent& event, Completion completion, Finished finished);

    NotificationCenter& m_center;
    std::deque<Job> m_jobs;
    bool m_isRunning = false;
};

} // namespace exitwise::app
