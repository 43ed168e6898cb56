// SPDX-License-Identifier: MIT
#include "app/NotificationScope.h"

#include <QSettings>
#include <QString>

namespace exitwise::app {

namespace {

QString settingsKey()
{
    return QString::fromLatin1(kNotificationScopeKey.data(), qsizetype(kNotificationScopeKey.size()));
}

const QString kEveryClosure = QStringLiteral("everyClosure");
const QString kUnexpectedOnly = QStringLiteral("unexpectedOnly");

} // namespace

bool isUnexpectedEnding(core::EndState endState, core::DominantCause cause)
{
    if (cause == core::DominantCause::dependencyHelperFailure) {
        return true;
    }
    switch (endState) {
    case core::EndState::crash:
    case core::EndState::killed:
    case core::EndState::launchBlocked:
        return true;
    case core::EndState::cleanExit:
        return false;
    }
    return true;
}

bool isUnexpectedEnding(const core::Diagnosis& diagnosis)
{
    return isUnexpectedEnding(diagnosis.endState, diagnosis.dominantCause);
}

bool isAnnounced(NotificationScope scope, const core::Diagnosis& diagnosis)
{
    return scope == NotificationScope::everyClosure || isUnexpectedEnding(diagnosis);
}

NotificationScope readNotificationScope(const QSettings& settings)
{
    return settings.value(settingsKey()).toString() == kUnexpectedOnly ? NotificationScope::unexpectedOnly
                                                                       : NotificationScope::everyClosure;
}

void writeNotificationScope(QSettings& settings, NotificationScope scope)
{
    settings.setValue(settingsKey(),
                      scope == NotificationScope::unexpectedOnly ? kUnexpectedOnly : kEveryClosure);
    // Written at once: a choice made just before the session ends must not be lost.
    settings.sync();
}

} // namespace exitwise::app
