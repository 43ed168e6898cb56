// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportProvider.h"

#include "core/Text.h"
#include "core/evidence/CrashRecordEvidence.h"
#include "core/evidence/CrashReportParser.h"
#include "core/evidence/LinuxSignals.h"
#include "core/evidence/ReportCandidates.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <thread>
#include <utility>

namespace exitwise::core {

namespace {

constexpr std::array<std::string_view, 2> kExtensions{"crash", "ips"};
constexpr std::string_view kProcessKey = "Process:";
// Beyond this the report's own date is not trusted to describe the same event.
constexpr double kMaxReportDateDistance = 12 * 3600;

bool containsAny(std::string_view lowered, std::initializer_list<std::string_view> needles)
{
    return std::any_of(needles.begin(), needles.end(), [&](std::string_view needle) {
        return lowered.find(needle) != std::string_view::npos;
    });
}

std::optional<std::int32_t> parseInt32(std::string_view digits)
{
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-')) {
            return std::nullopt;
        }
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return std::nullopt;
    }
    return value;
}

// Equal under full case folding: each contains the other.
bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.empty() || b.empty()) {
        return a.empty() && b.empty();
    }
    return text::containsIgnoringCase(a, b) && text::containsIgnoringCase(b, a);
}

std::optional<PolicyBlockKind> policyKindFromKeywords(std::string_view lowered, bool codesignSpelledOut)
{
    if (containsAny(lowered, {"quarantine"})) {
        return PolicyBlockKind::quarantine;
    }
    if (containsAny(lowered, {"gatekeeper"})) {
        return PolicyBlockKind::gatekeeper;
    }
    if (containsAny(lowered, {"library validation"})) {
        return PolicyBlockKind::libraryValidation;
    }
    if (containsAny(lowered, {"hardened runtime"})) {
        return PolicyBlockKind::hardenedRuntime;
    }
    if (codesignSpelledOut ? containsAny(lowered, {"codesigning", "code signature", "amfi"})
                           : containsAny(lowered, {"code signature", "codesign", "amfi"})) {
        return PolicyBlockKind::codeSignature;
    }
    return std::nullopt;
}

std::vector<Signal> signalsOf(const CrashReportSignal& report, std::string_view text, Wording wording)
{
    const ExplanationWording& words = explanationWording(wording);
    std::vector<Signal> signals;
    signals.emplace_back(report);
    if (report.suspectedDyldFailure && report.dyldFailureKind) {
        signals.emplace_back(DyldSignal{report.timestamp, *report.dyldFailureKind,
                                        report.dyldErrorMessage.value_or("Dynamic loader failure")});
    }
    if (report.suspectedJetsamMemory) {
        signals.emplace_back(JetsamSignal{report.timestamp, std::string(words.memoryKillFromReport),
                                          MemoryPressureEvidence::directTermination});
    }
    if (report.suspectedWatchdogHang) {
        signals.emplace_back(WatchdogSignal{report.timestamp, std::string(words.hangFromReport)});
    }
    if (const auto kind = detail::crashReportPolicyKind(report.terminationReason, text)) {
        signals.emplace_back(PolicySignal{report.timestamp, *kind, "Security policy enforcement"});
    }
    return signals;
}

} // namespace

namespace detail {

ReportProcess reportProcess(std::string_view text)
{
    ReportProcess process;
    bool nameLineSeen = false;
    std::size_t pos = 0;
    while (pos <= text.size() && !(process.pid && nameLineSeen)) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string line = text::trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (!line.starts_with(kProcessKey)) {
            continue;
        }
        const std::size_t open = line.find('[');
        if (!process.pid) {
            const std::size_t close = line.find(']');
            if (open != std::string::npos && close != std::string::npos && close > open) {
                process.pid = parseInt32(std::string_view(line).substr(open + 1, close - open - 1));
            }
        }
        if (!nameLineSeen) {
            nameLineSeen = true;
            std::string name = text::trimmed(std::string_view(line).substr(kProcessKey.size()));
            if (const std::size_t bracket = name.find('['); bracket != std::string::npos) {
                name = text::trimmed(std::string_view(name).substr(0, bracket));
            }
            if (!name.empty()) {
                process.name = std::move(name);
            }
        }
    }
    return process;
}

std::optional<PolicyBlockKind> crashReportPolicyKind(const std::optional<std::string>& terminationReason,
                                                     std::string_view text)
{
    if (terminationReason) {
        if (const auto kind = policyKindFromKeywords(text::lowercased(*terminationReason), true)) {
            return kind;
        }
    }
    const std::string lowered = text::lowercased(text);
    if (!containsAny(lowered, {"blocked", "denied", "reject", "not allowed", "cannot be opened"})) {
        return std::nullopt;
    }
    return policyKindFromKeywords(lowered, false);
}

} // namespace detail

CrashReportProvider::CrashReportProvider(std::vector<std::filesystem::path> searchPaths,
                                         int maxCandidatesToInspect,
                                         CrashRecordOptions records,
                                         Wording wording)
    : m_searchPaths(std::move(searchPaths))
    , m_maxCandidatesToInspect(std::max(1, maxCandidatesToInspect))
    , m_records(std::move(records))
    , m_wording(wording)
{}

std::chrono::milliseconds CrashReportProvider::settleTime(const EventContext& context) const
{
    if (m_records.sources.empty() || !context.process || !context.process->exit) {
        return std::chrono::milliseconds(0);
    }
    const ProcessExit& exit = *context.process->exit;
    switch (exit.kind) {
    case ProcessExit::Kind::signaled:
        return exit.coreDumped || linuxsignals::dumpsCore(exit.signal) ? m_records.settleForDumpedCore
                                                                       : std::chrono::milliseconds(0);
    case ProcessExit::Kind::unknown:
        return m_records.settleForUnknownExit;
    case ProcessExit::Kind::exited:
        return exit.code != 0 ? m_records.settleForFailedExit : std::chrono::milliseconds(0);
    }
    return std::chrono::milliseconds(0);
}

std::vector<CrashRecord> CrashReportProvider::collectRecords(const EventContext& context) const
{
    // The wait counts from the termination, not from now: the diagnosis may start late.
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        context.terminatedAt + settleTime(context) - now());
    const auto deadline =
        std::chrono::steady_clock::now() + std::max(remaining, std::chrono::milliseconds(0));
    while (true) {
        std::vector<CrashRecord> records;
        for (const auto& source : m_records.sources) {
            try {
                std::vector<CrashRecord> more = source->records(context.window);
                records.insert(records.end(), std::make_move_iterator(more.begin()),
                               std::make_move_iterator(more.end()));
            } catch (const std::exception&) {
                // An unreadable source is no evidence.
            }
        }
        const crashrecords::Findings findings = crashrecords::examine(context, records);
        if (findings.aboutApplication() || !findings.helpers.empty()
            || std::chrono::steady_clock::now() >= deadline) {
            return records;
        }
        std::this_thread::sleep_for(m_records.pollInterval);
    }
}

std::vector<Signal> CrashReportProvider::collectSignals(const EventContext& context) const
{
    const crashrecords::Findings findings = crashrecords::examine(context, collectRecords(context));
    std::vector<Signal> signals;
    if (const auto report = crashrecords::report(findings)) {
        // A record names the process by pid: no report file can be a better match.
        signals = signalsOf(*report, std::string_view(), m_wording);
    } else {
        signals = collectFromReports(context);
    }
    std::vector<Signal> helpers = crashrecords::helperSignals(findings);
    signals.insert(signals.end(), std::make_move_iterator(helpers.begin()),
                   std::make_move_iterator(helpers.end()));
    return signals;
}

std::vector<Signal> CrashReportProvider::collectFromReports(const EventContext& context) const
{
    const detail::ReportNameScorer scorer(context, true);
    detail::ReportSearch search;
    search.extensions = kExtensions;
    search.nameScore = [&](std::string_view lowerName) { return scorer.score(lowerName); };
    search.maxFileSize = kMaxReportBytes;
    std::vector<detail::ReportCandidate> candidates =
        detail::findReportCandidates(m_searchPaths, context.window, search);
    detail::rankReportCandidates(candidates, context.terminatedAt);

    const std::size_t inspected =
        std::min(candidates.size(), static_cast<std::size_t>(m_maxCandidatesToInspect));
    std::optional<double> bestScore;
    std::vector<Signal> best;
    for (std::size_t i = 0; i < inspected; ++i) {
        const detail::ReportCandidate& candidate = candidates[i];
        const auto file = detail::readReportHead(candidate.path, kMaxReportBytes + 1);
        if (!file || file->bytes.size() > kMaxReportBytes || !text::isValidUtf8(file->bytes)) {
            continue;
        }
        const std::string_view text = file->bytes;
        if (text.starts_with("ProblemType:")) {
            continue; // an apport report: a crash record, read by its own source
        }
        // Signals end up in JSON, which needs valid UTF-8 even where a file name is not.
        const CrashReportSignal report = CrashReportParser::parse(
            text, text::sanitizedUtf8(candidate.path.native()), candidate.modifiedAt);
        const detail::ReportProcess process = detail::reportProcess(text);

        double score = candidate.score;
        const double reportDistance = std::abs((context.terminatedAt - report.timestamp).count());
        score -= reportDistance <= kMaxReportDateDistance
                     ? reportDistance
                     : std::abs((context.terminatedAt - candidate.modifiedAt).count());
        const bool pidsKnown = context.pid && process.pid;
        const bool pidMatches = pidsKnown && *context.pid == *process.pid;
        if (pidsKnown) {
            score += pidMatches ? 500 : -250;
        }
        const bool nameMatches = process.name && equalsIgnoringCase(*process.name, context.appName);
        if (nameMatches) {
            score += 100;
        }

        const bool anonymous = !process.pid && !process.name;
        const bool accepted = pidMatches || nameMatches || (anonymous && candidate.score >= 60);
        if (!accepted) {
            continue;
        }
        if (!bestScore || score > *bestScore) {
            bestScore = score;
            best = signalsOf(report, text, m_wording);
        }
    }
    return best;
}

} // namespace exitwise::core
