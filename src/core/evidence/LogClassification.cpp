// SPDX-License-Identifier: MIT
#include "core/evidence/LogClassification.h"

#include "core/Text.h"
#include "core/evidence/CaseFolding.h"

#include <charconv>
#include <regex>
#include <utility>

namespace exitwise::core::logclass {

namespace {

using detail::caseFolded;
using detail::foldedContains;

template <std::size_t N> std::array<std::string, N> foldAll(const std::array<std::string_view, N>& terms)
{
    std::array<std::string, N> result;
    for (std::size_t i = 0; i < N; ++i) {
        result[i] = caseFolded(terms[i]);
    }
    return result;
}

// Each list is folded once, on first use.
template <const auto& Terms> bool containsAny(std::string_view folded)
{
    static const auto foldedTerms = foldAll(Terms);
    for (const std::string& term : foldedTerms) {
        if (foldedContains(folded, term)) {
            return true;
        }
    }
    return false;
}

bool memoryTerm(std::string_view folded)
{
    return containsAny<kMemoryTerms>(folded);
}

bool terminationTerm(std::string_view folded)
{
    return containsAny<kTerminationTerms>(folded);
}

bool quitTerm(std::string_view folded)
{
    return containsAny<kQuitTerms>(folded);
}

bool watchdogTerm(std::string_view folded)
{
    return containsAny<kWatchdogTerms>(folded);
}

bool crashTerm(std::string_view folded)
{
    return containsAny<kCrashTerms>(folded);
}

bool serviceFailure(std::string_view folded)
{
    return !containsAny<kInactiveTerms>(folded) && containsAny<kServiceFailureTerms>(folded);
}

std::optional<PolicyBlockKind> policyKindOf(std::string_view folded)
{
    if (foldedContains(folded, "quarantine")) {
        return PolicyBlockKind::quarantine;
    }
    if (foldedContains(folded, "gatekeeper")) {
        return PolicyBlockKind::gatekeeper;
    }
    if (foldedContains(folded, "library validation")) {
        return PolicyBlockKind::libraryValidation;
    }
    if (foldedContains(folded, "hardened runtime")) {
        return PolicyBlockKind::hardenedRuntime;
    }
    if (foldedContains(folded, "code signature") || foldedContains(folded, "codesign")
        || foldedContains(folded, "amfi")) {
        return PolicyBlockKind::codeSignature;
    }
    return std::nullopt;
}

bool policyBlock(std::string_view folded)
{
    return policyKindOf(folded).has_value() && containsAny<kBlockTerms>(folded);
}

std::optional<DyldFailureKind> loaderKindOf(std::string_view folded)
{
    if (!containsAny<kLoaderGateTerms>(folded)) {
        return std::nullopt;
    }
    if (containsAny<kMissingLibraryTerms>(folded)) {
        return DyldFailureKind::missingLibrary;
    }
    if (containsAny<kArchitectureTerms>(folded)) {
        return DyldFailureKind::wrongArchitecture;
    }
    if (containsAny<kValidationTerms>(folded)) {
        return DyldFailureKind::libraryValidation;
    }
    return std::nullopt;
}

QuitAttribution attributionOf(std::string_view process, std::string_view folded)
{
    if (containsAny<kLogoutTerms>(folded)) {
        return QuitAttribution::logout;
    }
    if (containsAny<kShutdownTerms>(folded)) {
        return QuitAttribution::shutdown;
    }
    if (containsAny<kUpdateTerms>(folded)) {
        return QuitAttribution::update;
    }
    if (containsAny<kManagementTerms>(folded)) {
        return QuitAttribution::mdm;
    }
    return caseFolded(process) == "launchd" ? QuitAttribution::unknown : QuitAttribution::userRequest;
}

// The patterns fail to compile only if the regex library is broken; such a pattern is skipped.
std::vector<std::regex> compiledPatterns(std::initializer_list<const char*> sources,
                                         std::regex::flag_type flags)
{
    std::vector<std::regex> result;
    for (const char* source : sources) {
        try {
            result.emplace_back(source, flags);
        } catch (const std::regex_error&) {
        }
    }
    return result;
}

const std::vector<std::regex>& exitCountPatterns()
{
    static const std::vector<std::regex> patterns =
        compiledPatterns({R"((?:exited|crashed|failed).{0,24}\((\d+)\s+times\))", R"((\d+)\s+recent crashes)",
                          R"(throttled after\s+(\d+)\s+failures)"},
                         std::regex::ECMAScript | std::regex::icase);
    return patterns;
}

const std::vector<std::regex>& serviceLabelPattern()
{
    static const std::vector<std::regex> pattern =
        compiledPatterns({R"((com\.[A-Za-z0-9\.\-_]+))"}, std::regex::ECMAScript);
    return pattern;
}

// The standard library's regex matcher recurses once per character a `+` repetition consumes,
// so a hostile message with a long enough run would overflow the stack. Runs longer than
// `maxRun` are cut to `maxRun`; that changes no result for the patterns here: a cut run of
// digits is still too long to be a count, and a cut run of spaces is still longer than the
// 24 characters `.{0,24}` may span.
template <class IsRunChar>
std::string boundedRuns(std::string_view text, IsRunChar isRunChar, std::size_t maxRun)
{
    std::string result;
    result.reserve(text.size());
    std::size_t run = 0;
    for (const char c : text) {
        run = isRunChar(c) ? run + 1 : 0;
        if (run <= maxRun) {
            result.push_back(c);
        }
    }
    return result;
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::optional<std::int64_t> signedDecimal(std::string_view text)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> exitCount(std::string_view message, std::string_view folded)
{
    constexpr std::size_t kMaxRun = 40;
    const std::string digitsBounded = boundedRuns(message, isAsciiDigit, kMaxRun);
    const std::string bounded = boundedRuns(
        digitsBounded, [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }, kMaxRun);
    for (const std::regex& pattern : exitCountPatterns()) {
        std::smatch match;
        if (std::regex_search(bounded, match, pattern) && match.size() > 1 && match[1].matched) {
            if (auto value = signedDecimal(match.str(1))) {
                return value;
            }
        }
    }
    if (containsAny<kThrottleTerms>(folded)) {
        return 2;
    }
    return std::nullopt;
}

std::optional<std::string> labelOf(std::string_view message)
{
    constexpr std::size_t kMaxLabel = 1024;
    const auto isLabelChar = [](char c) {
        return isAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-'
               || c == '_';
    };
    const std::string bounded = boundedRuns(message, isLabelChar, kMaxLabel);
    for (const std::regex& pattern : serviceLabelPattern()) {
        std::smatch match;
        if (std::regex_search(bounded, match, pattern)) {
            return match.str(0);
        }
    }
    return std::nullopt;
}

// The event's identifying texts, folded once per classification.
struct EventTerms
{
    explicit EventTerms(const EventContext& context)
        : appName(caseFolded(context.appName))
        , bundleIdentifier(context.bundleIdentifier ? caseFolded(*context.bundleIdentifier) : std::string())
        , pidText(context.pid ? std::to_string(*context.pid) : std::string())
    {}

    [[nodiscard]] bool mentionedIn(std::string_view message, std::string_view folded) const
    {
        return foldedContains(folded, appName) || foldedContains(folded, bundleIdentifier)
               || (!pidText.empty() && message.find(pidText) != std::string_view::npos);
    }

    std::string appName;
    std::string bundleIdentifier;
    std::string pidText;
};

bool relevant(const EventContext& context,
              const EventTerms& terms,
              std::string_view process,
              std::optional<std::int32_t> processIdentifier,
              std::string_view message,
              std::string_view folded)
{
    return terms.mentionedIn(message, folded)
           || (context.pid && processIdentifier && *context.pid == *processIdentifier)
           || (!terms.appName.empty() && caseFolded(process) == terms.appName);
}

bool startsWithDate(std::string_view line)
{
    static constexpr std::string_view kShape = "dddd-dd-dd";
    if (line.size() < kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == 'd' ? !isAsciiDigit(line[i]) : line[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

bool containsMemoryTerm(std::string_view message)
{
    return memoryTerm(caseFolded(message));
}

bool containsTerminationTerm(std::string_view message)
{
    return terminationTerm(caseFolded(message));
}

bool containsQuitTerm(std::string_view message)
{
    return quitTerm(caseFolded(message));
}

bool containsWatchdogTerm(std::string_view message)
{
    return watchdogTerm(caseFolded(message));
}

bool containsCrashTerm(std::string_view message)
{
    return crashTerm(caseFolded(message));
}

bool isServiceFailure(std::string_view message)
{
    return serviceFailure(caseFolded(message));
}

bool isPolicyBlock(std::string_view message)
{
    return policyBlock(caseFolded(message));
}

std::optional<PolicyBlockKind> policyKind(std::string_view message)
{
    return policyKindOf(caseFolded(message));
}

std::optional<DyldFailureKind> loaderKind(std::string_view message)
{
    return loaderKindOf(caseFolded(message));
}

QuitAttribution attributeQuit(std::string_view process, std::string_view message)
{
    return attributionOf(process, caseFolded(message));
}

std::optional<std::string> serviceLabel(std::string_view message)
{
    return labelOf(message);
}

std::optional<std::int64_t> parseExitCount(std::string_view message)
{
    return exitCount(message, caseFolded(message));
}

bool mentionsEvent(const EventContext& context, std::string_view message)
{
    return EventTerms(context).mentionedIn(message, caseFolded(message));
}

bool isRelevant(const EventContext& context,
                std::string_view process,
                std::optional<std::int32_t> processIdentifier,
                std::string_view message)
{
    return relevant(context, EventTerms(context), process, processIdentifier, message, caseFolded(message));
}

EntryFindings examineEntry(const EventContext& context,
                           std::string_view process,
                           std::optional<std::int32_t> processIdentifier,
                           Date date,
                           std::string_view message)
{
    EntryFindings findings;
    const std::string folded = caseFolded(message);
    if (!relevant(context, EventTerms(context), process, processIdentifier, message, folded)) {
        return findings;
    }
    findings.relevant = true;
    const bool memory = findings.memoryTerm = memoryTerm(folded);
    const bool termination = findings.terminationTerm = terminationTerm(folded);
    const bool watchdog = watchdogTerm(folded);
    const std::string shortMessage = text::shortened(message, kMessageLength);

    std::vector<Signal>& signals = findings.signals;
    const auto rawValue = [&] {
        return std::string(process) + ": " + text::shortened(message, kRawValueMessageLength);
    };
    if (quitTerm(folded)) {
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::quit, rawValue(), attributionOf(process, folded)});
    } else if (watchdog || (memory && termination)) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::killed, rawValue(), std::nullopt});
    } else if (crashTerm(folded)) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::crashed, rawValue(), std::nullopt});
    }
    if ((process == "syspolicyd" || process == "amfid") && policyBlock(folded)) {
        signals.emplace_back(PolicySignal{date, *policyKindOf(folded), shortMessage});
    }
    if (const auto kind = loaderKindOf(folded)) {
        signals.emplace_back(DyldSignal{date, *kind, shortMessage});
    }
    if (watchdog) {
        signals.emplace_back(WatchdogSignal{date, shortMessage});
    }
    if (memory && termination) {
        signals.emplace_back(JetsamSignal{date, shortMessage, MemoryPressureEvidence::directTermination});
    }
    if (process == "launchd" && serviceFailure(folded)) {
        signals.emplace_back(LaunchdSignal{date, labelOf(message), shortMessage, exitCount(message, folded)});
    }
    return findings;
}

std::vector<Signal> classifyEntry(const EventContext& context,
                                  std::string_view process,
                                  std::optional<std::int32_t> processIdentifier,
                                  Date date,
                                  std::string_view message)
{
    return examineEntry(context, process, processIdentifier, date, message).signals;
}

std::string entryLines(std::string_view output)
{
    std::string result;
    while (!output.empty()) {
        const std::size_t newline = output.find('\n');
        std::string_view line = output.substr(0, newline);
        output = newline == std::string_view::npos ? std::string_view() : output.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (startsWithDate(line)) {
            if (!result.empty()) {
                result.push_back('\n');
            }
            result.append(line);
        }
    }
    return result;
}

std::vector<Signal>
classifyOutput(const EventContext& context, std::string_view output, bool includeRawEntries)
{
    const std::string lines = entryLines(output);
    if (lines.empty()) {
        return {};
    }
    const std::string folded = caseFolded(lines);
    const Date date = context.terminatedAt;

    std::vector<Signal> signals;
    if (memoryTerm(folded) && terminationTerm(folded)) {
        signals.emplace_back(JetsamSignal{date, "jetsam/memory pressure signal from unified log",
                                          MemoryPressureEvidence::directTermination});
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::killed, "log show: jetsam", std::nullopt});
    }
    if (watchdogTerm(folded)) {
        signals.emplace_back(WatchdogSignal{date, "watchdog/unresponsive signal from unified log"});
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::killed, "log show: watchdog", std::nullopt});
    }
    if (policyBlock(folded)) {
        signals.emplace_back(
            PolicySignal{date, *policyKindOf(folded), "security policy signal from unified log"});
    }
    if (const auto kind = loaderKindOf(folded)) {
        signals.emplace_back(DyldSignal{date, *kind, "dynamic loader signal from unified log"});
    }
    if (serviceFailure(folded)) {
        signals.emplace_back(LaunchdSignal{
            date, std::nullopt, "helper/service failure signal from unified log", exitCount(lines, folded)});
    }
    if (quitTerm(folded)) {
        signals.emplace_back(TerminationSignal{
            date, TerminationReason::quit, "log show: SIGTERM/quit request", attributionOf("log", folded)});
    }
    if (includeRawEntries) {
        signals.emplace_back(UnifiedLogSignal{date, "log", text::shortened(lines, kOutputLength)});
    }
    return signals;
}

} // namespace exitwise::core::logclass
