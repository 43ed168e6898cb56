// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/Signal.h"

#include <cstdint>
#include <optional>
#include <string>

namespace exitwise::core {

// What is known of one closure the moment it is seen: which application, when, and how the
// system reported its end. The monitor's report, the ledger line, the engine's input and the
// stored event all start from these; their JSON forms share the same flat keys.
struct TerminationFacts
{
    // Every member has an initialiser, so designated initialisers may name only what they set.
    std::string appName{};
    // The desktop-file id on Linux.
    std::optional<std::string> bundleIdentifier{};
    std::optional<std::int32_t> pid{};
    std::optional<std::string> appPath{};
    std::optional<Date> launchedAt{};
    Date terminatedAt{};
    // Absent only in events stored without one; read through reason().
    std::optional<TerminationReason> terminationReason{};
    std::optional<std::string> terminationRawValue{};
    std::optional<QuitAttribution> terminationQuitAttribution{};

    // The reason as the rules read it: an unreported reason is unknown.
    [[nodiscard]] TerminationReason reason() const
    {
        return terminationReason.value_or(TerminationReason::unknown);
    }

    friend bool operator==(const TerminationFacts&, const TerminationFacts&) = default;
};

} // namespace exitwise::core
