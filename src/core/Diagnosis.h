// SPDX-License-Identifier: MIT
#pragma once

#include "core/Enum.h"
#include "core/Signal.h"
#include "core/TimestampWindow.h"

#include <optional>
#include <string>
#include <vector>

namespace exitwise::core {

enum class EndState
{
    crash,
    killed,
    cleanExit,
    launchBlocked
};

enum class DominantCause
{
    policyBlocked,
    dyldFailure,
    crashBug,
    crashAbort,
    killedWatchdogHang,
    killedJetsamMemory,
    explicitQuit,
    dependencyHelperFailure,
    unknown
};

enum class Confidence
{
    high,
    medium,
    low
};

template <> struct EnumTraits<EndState>
{
    static constexpr std::array<std::pair<EndState, std::string_view>, 4> values{{
        {EndState::crash, "Crash"},
        {EndState::killed, "Killed"},
        {EndState::cleanExit, "Clean exit"},
        {EndState::launchBlocked, "Launch blocked"},
    }};
};

template <> struct EnumTraits<DominantCause>
{
    static constexpr std::array<std::pair<DominantCause, std::string_view>, 9> values{{
        {DominantCause::policyBlocked, "OS policy restriction"},
        {DominantCause::dyldFailure, "Dynamic loader failure"},
        {DominantCause::crashBug, "Crashed: app bug"},
        {DominantCause::crashAbort, "Crashed: forced abort"},
        {DominantCause::killedWatchdogHang, "Killed: unresponsive"},
        {DominantCause::killedJetsamMemory, "Killed: memory pressure"},
        {DominantCause::explicitQuit, "Quit request"},
        {DominantCause::dependencyHelperFailure, "Dependency/helper failure"},
        {DominantCause::unknown, "Unknown"},
    }};
};

template <> struct EnumTraits<Confidence>
{
    static constexpr std::array<std::pair<Confidence, std::string_view>, 3> values{{
        {Confidence::high, "High"},
        {Confidence::medium, "Medium"},
        {Confidence::low, "Low"},
    }};
};

// The plain-language explanation of one diagnosis.
struct ExplanationCard
{
    std::string whatHappened;
    std::string why;
    std::string whatToDo;
    std::vector<std::string> alternatives;
    std::optional<std::string> confidenceNote;

    friend bool operator==(const ExplanationCard&, const ExplanationCard&) = default;
};

// The engine's verdict on one closure.
struct Diagnosis
{
    EndState endState = EndState::cleanExit;
    DominantCause dominantCause = DominantCause::unknown;
    Confidence confidence = Confidence::low;
    std::vector<Signal> signalsUsed;
    TimestampWindow window;
    ExplanationCard explanation;

    friend bool operator==(const Diagnosis&, const Diagnosis&) = default;
};

} // namespace exitwise::core
