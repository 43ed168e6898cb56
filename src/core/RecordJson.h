// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"
#include "core/EventContext.h"
#include "core/Json.h"
#include "core/Signal.h"
#include "core/TerminationFacts.h"
#include "core/TimestampWindow.h"

// JSON forms of the signal and diagnosis records. Encoders omit absent optional fields;
// decoders throw json::DecodeError naming the failing path.
namespace exitwise::core::json {

[[nodiscard]] Json encode(const TerminationSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const CrashReportSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const PolicySignal& value, const Options& options = {});
[[nodiscard]] Json encode(const DyldSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const JetsamSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const WatchdogSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const LaunchdSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const UnifiedLogSignal& value, const Options& options = {});
[[nodiscard]] Json encode(const Signal& value, const Options& options = {});
[[nodiscard]] Json encode(const TimestampWindow& value, const Options& options = {});
[[nodiscard]] Json encode(const EventContext& value, const Options& options = {});
[[nodiscard]] Json encode(const ExplanationCard& value, const Options& options = {});
[[nodiscard]] Json encode(const Diagnosis& value, const Options& options = {});

[[nodiscard]] Signal decodeSignal(const Json& value, const Options& options = {});
[[nodiscard]] TimestampWindow decodeTimestampWindow(const Json& value, const Options& options = {});
[[nodiscard]] EventContext decodeEventContext(const Json& value, const Options& options = {});
[[nodiscard]] ExplanationCard decodeExplanationCard(const Json& value, const Options& options = {});
[[nodiscard]] Diagnosis decodeDiagnosis(const Json& value, const Options& options = {});

// The closure facts' flat keys, shared by every record that carries them. Absent optionals
// are omitted; where the reason is required it is always written (an unreported one as
// "unknown") and decoding fails without it.
enum class ReasonKey
{
    optional,
    required
};
void encodeFacts(Json& object, const TerminationFacts& facts, const Options& options, ReasonKey reason);
[[nodiscard]] TerminationFacts decodeFacts(const ObjectReader& r, const Options& options, ReasonKey reason);

// An event context whose "window" may be missing; `window` then supplies one from the
// termination time. Used by callers that build the window themselves.
[[nodiscard]] EventContext decodeEventContext(const Json& value,
                                              const Options& options,
                                              const std::function<TimestampWindow(Date)>& defaultWindow);

} // namespace exitwise::core::json
