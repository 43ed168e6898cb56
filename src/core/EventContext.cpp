// SPDX-License-Identifier: MIT
#include "core/EventContext.h"

#include <utility>

namespace exitwise::core {

EventContext::EventContext(std::string appName,
                           std::optional<std::string> bundleIdentifier,
                           std::optional<std::int32_t> pid,
                           std::optional<Date> launchedAt,
                           Date terminatedAt,
                           TerminationReason terminationReason,
                           std::optional<std::string> terminationRawValue,
                           std::optional<QuitAttribution> terminationQuitAttribution,
                           TimestampWindow window)
    : appName(std::move(appName))
    , bundleIdentifier(std::move(bundleIdentifier))
    , pid(pid)
    , launchedAt(launchedAt)
    , terminatedAt(terminatedAt)
    , terminationReason(terminationReason)
    , terminationRawValue(std::move(terminationRawValue))
    , terminationQuitAttribution(terminationQuitAttribution)
    , window(std::move(window))
{}

EventContext::EventContext(std::string appName,
                           std::optional<std::string> bundleIdentifier,
                           std::optional<std::int32_t> pid,
                           std::optional<Date> launchedAt,
                           Date terminatedAt,
                           TerminationReason terminationReason,
                           std::optional<std::string> terminationRawValue,
                           std::optional<QuitAttribution> terminationQuitAttribution,
                           double correlationSeconds)
    : EventContext(std::move(appName),
                   std::move(bundleIdentifier),
                   pid,
                   launchedAt,
                   terminatedAt,
                   terminationReason,
                   std::move(terminationRawValue),
                   terminationQuitAttribution,
                   TimestampWindow{terminatedAt - Seconds(correlationSeconds),
                                   terminatedAt + Seconds(correlationSeconds)})
{}

} // namespace exitwise::core
