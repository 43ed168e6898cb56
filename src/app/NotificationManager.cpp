// SPDX-License-Identifier: MIT
#include "app/NotificationManager.h"

#include "app/DurationText.h"
#include "app/PrintableText.h"

#include <QPointer>

#include <memory>
#include <utility>

namespace exitwise::app {

NotificationManager::NotificationManager(NotificationCenter& center, QObject* parent)
    : NotificationManager(center, NotificationManagerOptions{}, parent)
{}

NotificationManager::NotificationManager(NotificationCenter& center,
                                         NotificationManagerOptions options,
                                         QObject* parent)
    : QObject(parent)
    , m_center(center)
    , m_options(std::move(options))
{
    if (m_options.settings) {
        m_scope = readNotificationScope(*m_options.settings);
    }
}

NotificationManager::~NotificationManager() = default;

void NotificationManager::setScope(NotificationScope scope)
{
    if (scope == m_scope) {
        return;
    }
    m_scope = scope;
    if (m_options.settings) {
        writeNotificationScope(*m_options.settings, scope);
    }
    emit scopeChanged(scope);
}

NotificationRequest NotificationManager::makeRequest(const AppEvent& event,
                                                     const std::optional<std::string>& icon)
{
    const QString eventId = QString::fromStdString(event.id.toString());

    NotificationContent content;
    // The name comes from a desktop entry we do not control; keep the title on one line.
    content.title =
        QString::fromStdString(printableLine(event.appName)) + QStringLiteral(" closed — Click to see why.");
    content.body = event.launchedAt ? QStringLiteral("Closed after %1.")
                                          .arg(QString::fromStdString(notificationDurationText(
                                              (event.terminatedAt - *event.launchedAt).count())))
                                    : QStringLiteral("Open Exitwise for details.");
    content.userInfo = QVariantMap{{QString::fromLatin1(kEventIdKey), eventId}};
    content.playsDefaultSound = isUnexpectedEnding(event.diagnosis);
    if (icon) {
        content.icon = QString::fromStdString(*icon);
    }

    return NotificationRequest{eventId, std::move(content), kTriggerDelay};
}

void NotificationManager::notify(const AppEvent& event, Completion completion)
{
    enqueue([this, event, completion = std::move(completion)](Finished finished) mutable {
        post(event, std::move(completion), std::move(finished));
    });
}

void NotificationManager::ensureAuthorized(AuthorizationCompletion completion)
{
    enqueue([this, completion = std::move(completion)](Finished finished) {
        authorize([completion, finished](bool authorized) {
            if (completion) {
                completion(authorized);
            }
            finished();
        });
    });
}

void NotificationManager::enqueue(Job job)
{
    // Always through the event queue, even from our own thread: calls from several threads then
    // run in the order they were made.
    QMetaObject::invokeMethod(
        this,
        [this, job = std::move(job)]() mutable {
            m_jobs.push_back(std::move(job));
            runNext();
        },
        Qt::QueuedConnection);
}

void NotificationManager::runNext()
{
    if (m_isRunning || m_jobs.empty()) {
        return;
    }
    m_isRunning = true;
    Job job = std::move(m_jobs.front());
    m_jobs.pop_front();

    QPointer<NotificationManager> self(this);
    auto done = std::make_shared<bool>(false);
    job([self, done] {
        if (!self || *done) {
            return;
        }
        *done = true;
        self->m_isRunning = false;
        // Queued, so a centre that completes synchronously cannot recurse through a long queue.
        QMetaObject::invokeMethod(self.data(), &NotificationManager::runNext, Qt::QueuedConnection);
    });
}

std::optional<std::string> NotificationManager::iconFor(const AppEvent& event) const
{
    if (!m_options.iconLookup || !event.appPath || event.appPath->empty()) {
        return std::nullopt;
    }
    return m_options.iconLookup(*event.appPath);
}

void NotificationManager::authorize(AuthorizationCompletion completion)
{
    QPointer<NotificationManager> self(this);
    m_center.getNotificationSettings(
        [self, completion = std::move(completion)](NotificationSettings settings) {
            if (!self) {
                return;
            }
            switch (settings.authorizationStatus) {
            case NotificationAuthorizationStatus::notDetermined:
                self->m_center.requestAuthorization(
                    NotificationAuthorizationOptions{.alert = true, .sound = true, .badge = true},
                    [self, completion](bool granted, const std::optional<NotificationError>& error) {
                        if (self) {
                            completion(granted && !error);
                        }
                    });
                return;
            case NotificationAuthorizationStatus::authorized:
            case NotificationAuthorizationStatus::provisional:
            case NotificationAuthorizationStatus::ephemeral:
                completion(true);
                return;
            case NotificationAuthorizationStatus::denied:
                completion(false);
                return;
            }
            completion(false);
        });
}

void NotificationManager::post(const AppEvent& event, Completion completion, Finished finished)
{
    if (!isAnnounced(m_scope, event.diagnosis)) {
        if (completion) {
            completion(std::nullopt);
        }
        finished();
        return;
    }
    QPointer<NotificationManager> self(this);
    authorize([self, event, completion = std::move(completion), finished](bool authorized) mutable {
        if (!authorized) {
            // Refused or unavailable: silent, nothing to report.
            if (completion) {
                completion(std::nullopt);
            }
            finished();
            return;
        }
        self->m_center.add(makeRequest(event, self->iconFor(event)),
                           [self, completion, finished](const std::optional<NotificationError>& error) {
                               if (!self) {
                                   return;
                               }
                               if (completion) {
                                   completion(error);
                               }
                               finished();
                           });
    });
}

} // namespace exitwise::app
