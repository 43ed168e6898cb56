// SPDX-License-Identifier: MIT
#pragma once

#include "core/ExplanationWording.h"
#include "core/SignalProvider.h"
#include "core/evidence/CrashRecord.h"
#include "core/evidence/ReportPaths.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::core {

// Where the system keeps crash records, and how long to wait for one that has not landed yet:
// a crash record is written after the process has gone (systemd-coredump logs once it has made
// a stack trace), so a diagnosis that starts at once may be ahead of it. The times count from
// the termination.
struct CrashRecordOptions
{
    std::vector<std::shared_ptr<const CrashRecordSource>> sources;
    // The exit status says the process dumped core: its record is on its way.
    std::chrono::milliseconds settleForDumpedCore{1500};
    // Nobody could tell how the process ended: a record may or may not come.
    std::chrono::milliseconds settleForUnknownExit{1000};
    // It exited with an error: perhaps because a helper crashed, whose record may be on its way.
    std::chrono::milliseconds settleForFailedExit{1000};
    std::chrono::milliseconds pollInterval{50};
};

// Finds the crash report written for the ended process: files named "*.crash" or "*.ips"
// (any case) modified inside the event's window whose names point at the application. Only
// the best few by name are read; the best report that really belongs to the process wins.
// Immutable; collectSignals may run on several threads at once.
class CrashReportProvider final : public SignalProvider
{
public:
    // Anyone can drop files into the system crash directory; larger ones are never read.
    static constexpr std::uintmax_t kMaxReportBytes = 16u * 1024u * 1024u;

    // `maxCandidatesToInspect` below 1 is raised to 1. Signals made from a report's hints carry
    // the texts of `wording`.
    explicit CrashReportProvider(std::vector<std::filesystem::path> searchPaths,
                                 int maxCandidatesToInspect = kDefaultMaxReportCandidates,
                                 CrashRecordOptions records = {},
                                 Wording wording = Wording::macos);

    [[nodiscard]] std::vector<Signal> collectSignals(const EventContext& context) const override;

    [[nodiscard]] const std::vector<std::filesystem::path>& searchPaths() const { return m_searchPaths; }
    [[nodiscard]] int maxCandidatesToInspect() const { return m_maxCandidatesToInspect; }
    [[nodiscard]] const CrashRecordOptions& recordOptions() const { return m_records; }

    // How long after the termination to wait for the application's crash record: by what the
    // platform learnt of its exit. Nothing to wait for without sources or facts.
    [[nodiscard]] std::chrono::milliseconds settleTime(const EventContext& context) const;

private:
    [[nodiscard]] std::vector<Signal> collectFromReports(const EventContext& context) const;
    [[nodiscard]] std::vector<CrashRecord> collectRecords(const EventContext& context) const;

    std::vector<std::filesystem::path> m_searchPaths;
    int m_maxCandidatesToInspect;
    CrashRecordOptions m_records;
    Wording m_wording;
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
