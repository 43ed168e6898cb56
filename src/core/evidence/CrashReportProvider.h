// SPDX-License-Identifier: MIT
#pragma once

#include "core/SignalProvider.h"
#include "core/evidence/ReportPaths.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::core {

// Finds the crash report written for the ended process: files named "*.crash" or "*.ips"
// (any case) modified inside the event's window whose names point at the application. Only
// the best few by name are read; the best report that really belongs to the process wins.
// Immutable; collectSignals may run on several threads at once.
class CrashReportProvider final : public SignalProvider
{
public:
    // Anyone can drop files into the system crash directory; larger ones are never read.
    static constexpr std::uintmax_t kMaxReportBytes = 16u * 1024u * 1024u;

    // `maxCandidatesToInspect` below 1 is raised to 1.
    explicit CrashReportProvider(std::vector<std::filesystem::path> searchPaths,
                                 int maxCandidatesToInspect = kDefaultMaxReportCandidates);

    [[nodiscard]] std::vector<Signal> collectSignals(const EventContext& context) const override;

    [[nodiscard]] const std::vector<std::filesystem::path>& searchPaths() const { return m_searchPaths; }
    [[nodiscard]] int maxCandidatesToInspect() const { return m_maxCandidatesToInspect; }

private:
    std::vector<std::filesystem::path> m_searchPaths;
    int m_maxCandidatesToInspect;
};

namespace detail {

// The process a report describes, from its first "Process:" lines ("Process: Name [812]").
struct ReportProcess
{
    std::optional<std::int32_t> pid;
    std::optional<std::string> name;
};

[[nodiscard]] ReportProcess reportProcess(std::string_view text);

// Security-policy block named by a crash report's termination reason or, failing that, by
// its text when the text also speaks of a refusal.
[[nodiscard]] std::optional<PolicyBlockKind>
crashReportPolicyKind(const std::optional<std::string>& terminationReason, std::string_view text);

} // namespace detail

} // namespace exitwise::core
