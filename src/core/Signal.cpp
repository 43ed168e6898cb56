// SPDX-License-Identifier: MIT
#include "core/Signal.h"

#include "core/Text.h"

#include <string>
#include <type_traits>

namespace exitwise::core {

namespace {

std::string str(std::string_view view)
{
    return std::string(view);
}

std::string summaryOf(const TerminationSignal& s)
{
    std::string text = "Termination reason: " + str(rawValue(s.reason));
    if (s.quitAttribution) {
        text += " [" + str(rawValue(*s.quitAttribution)) + "]";
    }
    if (s.rawValue) {
        if (std::string raw = text::trimmed(*s.rawValue); !raw.empty()) {
            text += " (" + raw + ")";
        }
    }
    return text;
}

std::string summaryOf(const CrashReportSignal& s)
{
    if (s.exceptionType) {
        if (std::string type = text::trimmed(*s.exceptionType); !type.empty()) {
            return "Crash report: " + type;
        }
    }
    return "Crash report";
}

std::string summaryOf(const PolicySignal& s)
{
    return "Policy (" + str(rawValue(s.kind)) + "): " + s.message;
}

std::string summaryOf(const DyldSignal& s, std::string_view loader)
{
    return str(loader) + " (" + str(rawValue(s.kind)) + "): " + s.message;
}

std::string summaryOf(const JetsamSignal& s)
{
    if (s.evidence == MemoryPressureEvidence::correlatedPressure) {
        return "Memory pressure (correlated): " + s.message;
    }
    return "Memory pressure: " + s.message;
}

std::string summaryOf(const WatchdogSignal& s)
{
    return "Watchdog: " + s.message;
}

// Service names and processes are tested for emptiness as stored, without trimming.
std::string summaryOf(const LaunchdSignal& s)
{
    if (!s.serviceName || s.serviceName->empty()) {
        return "Helper/service issue";
    }
    std::string text = "Helper/service: " + *s.serviceName;
    if (s.exitCount) {
        text += " (repeat exits: " + std::to_string(*s.exitCount) + ")";
    }
    return text;
}

std::string summaryOf(const UnifiedLogSignal& s)
{
    if (s.process && !s.process->empty()) {
        return "Log (" + *s.process + "): " + s.message;
    }
    return "Log: " + s.message;
}

} // namespace

Date Signal::timestamp() const
{
    return std::visit([](const auto& payload) { return payload.timestamp; }, m_payload);
}

std::string Signal::summary(Wording wording) const
{
    return std::visit(
        [wording](const auto& payload) {
            if constexpr (std::is_same_v<std::decay_t<decltype(payload)>, DyldSignal>) {
                return summaryOf(payload, explanationWording(wording).loaderSummary);
            } else {
                return summaryOf(payload);
            }
        },
        m_payload);
}

} // namespace exitwise::core
