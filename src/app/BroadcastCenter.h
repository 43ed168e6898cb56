// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace exitwise::app {

// The in-process broadcast: one part of the application posts a named notice with user
// information, every listener hears it. Main thread only.
class BroadcastCenter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Posted when the user clicks a closure's notification; "event_id" holds the event's id.
    static constexpr const char* kDidSelectEventFromNotification = "Exitwise.didSelectEventFromNotification";

    void post(const QString& name, const QVariantMap& userInfo) { emit posted(name, userInfo); }

signals:
    void posted(const QString& name, const QVariantMap& userInfo);
};

} // namespace exitwise::app
