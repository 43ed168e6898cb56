// SPDX-License-Identifier: MIT
#include "app/monitor/ExitEvidence.h"

#include "core/evidence/LinuxSignals.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace exitwise::app::ExitEvidence {

namespace {

using core::ProcessExit;
using core::QuitAttribution;
using core::TerminationReason;

constexpr std::array<std::string_view, 3> kQuitSignals{"SIGTERM", "SIGINT", "SIGHUP"};
constexpr std::array<std::string_view, 3> kKillSignals{"SIGKILL", "SIGXCPU", "SIGXFSZ"};

template <std::size_t N> bool oneOf(const std::array<std::string_view, N>& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

std::optional<QuitEvidence::Classification> classify(const ProcessExit& exit, bool endedUnresponsive)
{
    if (endedUnresponsive) {
        std::string raw = "ended by the desktop after it stopped responding";
        if (exit.kind != ProcessExit::Kind::unknown) {
            raw += " (" + exit.text() + ")";
        }
        return QuitEvidence::Classification{TerminationReason::killed, std::move(raw), std::nullopt,
                                            std::nullopt};
    }
    switch (exit.kind) {
    case ProcessExit::Kind::unknown:
        return std::nullopt;
    case ProcessExit::Kind::exited:
        if (exit.code == 0) {
            return QuitEvidence::Classification{TerminationReason::quit, exit.text(),
                                                QuitAttribution::unknown, std::nullopt};
        }
        return QuitEvidence::Classification{TerminationReason::unknown, exit.text(), std::nullopt,
                                            std::nullopt};
    case ProcessExit::Kind::signaled:
        break;
    }
    if (oneOf(kKillSignals, exit.signal)) {
        return QuitEvidence::Classification{TerminationReason::killed, exit.text(), std::nullopt,
                                            std::nullopt};
    }
    if (exit.coreDumped || core::linuxsignals::dumpsCore(exit.signal)) {
        return QuitEvidence::Classification{TerminationReason::crashed, exit.text(), std::nullopt,
                                            std::nullopt};
    }
    if (oneOf(kQuitSignals, exit.signal)) {
        return QuitEvidence::Classification{TerminationReason::quit, exit.text(), QuitAttribution::unknown,
                                            std::nullopt};
    }
    return QuitEvidence::Classification{TerminationReason::unknown, exit.text(), std::nullopt, std::nullopt};
}

bool logMayRefine(const ProcessExit& exit, bool endedUnresponsive)
{
    if (endedUnresponsive) {
        return false;
    }
    switch (exit.kind) {
    case ProcessExit::Kind::unknown:
        return true;
    case ProcessExit::Kind::exited:
        return exit.code != 0;
    case ProcessExit::Kind::signaled:
        return !exit.coreDumped && !core::linuxsignals::dumpsCore(exit.signal);
    }
    return true;
}

QuitEvidence::Classification combine(const std::optional<QuitEvidence::Classification>& fromExit,
                                     const std::optional<QuitEvidence::Classification>& fromLog)
{
    if (!fromExit) {
        return fromLog.value_or(unknownClassification());
    }
    const bool memoryKill = fromLog && fromLog->evidence == QuitEvidence::Evidence::memoryKill;
    if (memoryKill && fromExit->reason != TerminationReason::crashed) {
        return QuitEvidence::Classification{TerminationReason::killed,
                                            fromExit->rawValue + "; " + fromLog->rawValue, std::nullopt,
                                            QuitEvidence::Evidence::memoryKill};
    }
    return *fromExit;
}

QuitEvidence::Classification unknownClassification()
{
    return QuitEvidence::Classification{TerminationReason::unknown, ProcessExit::unknown().text(),
                                        std::nullopt, std::nullopt};
}

} // namespace exitwise::app::ExitEvidence
