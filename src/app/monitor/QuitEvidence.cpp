// SPDX-License-Identifier: MIT
#include "app/monitor/QuitEvidence.h"

#include "core/EventContext.h"
#include "core/ExplanationWording.h"
#include "core/Text.h"
#include "core/evidence/LogClassification.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <vector>

namespace exitwise::app::QuitEvidence {

namespace {

bool containsAny(const std::string& haystack, std::initializer_list<std::string_view> needles)
{
    return std::any_of(needles.begin(), needles.end(), [&haystack](std::string_view needle) {
        return haystack.find(needle) != std::string::npos;
    });
}

bool contains(const std::string& haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string::npos;
}

std::optional<std::string> present(const std::optional<std::string>& value)
{
    if (value && !core::text::isBlank(*value)) {
        return value;
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 5> kSystemProcesses{"launchd", "runningboardd", "ReportCrash",
                                                           "kernel", "loginwindow"};

// The search terms in order, trimmed, blank ones and repeats (ignoring case) dropped.
std::vector<std::string> searchTerms(std::initializer_list<std::optional<std::string>> candidates)
{
    std::vector<std::string> terms;
    for (const auto& candidate : candidates) {
        if (!candidate) {
            continue;
        }
        std::string term = core::text::trimmed(*candidate);
        const bool repeated = std::any_of(terms.begin(), terms.end(), [&term](const std::string& known) {
            return core::text::lowercased(known) == core::text::lowercased(term);
        });
        if (!term.empty() && !repeated) {
            terms.push_back(std::move(term));
        }
    }
    return terms;
}

std::string predicateText(const std::vector<std::string>& processes, const std::vector<std::string>& terms)
{
    std::string text = "(process IN {";
    for (std::size_t i = 0; i < processes.size(); ++i) {
        text += (i > 0 ? ", \"" : "\"") + processes[i] + "\"";
    }
    text += "}) AND (";
    for (std::size_t i = 0; i < terms.size(); ++i) {
        if (i > 0) {
            text += " OR ";
        }
        text += "eventMessage CONTAINS[c] \"" + escapedTerm(terms[i]) + "\"";
    }
    return text + ")";
}

std::optional<std::string> pidText(std::optional<std::int32_t> pid)
{
    return pid ? std::optional<std::string>(std::to_string(*pid)) : std::nullopt;
}

// What the Linux reading found beyond the words of the system processes' lines.
struct LinuxFindings
{
    bool memoryKill = false;
    bool abort = false;
    bool crash = false;
};

// The raw texts name the log of the system whose dialect it is.
const core::ExplanationWording& wordsOf(core::LogDialect dialect)
{
    return core::explanationWording(dialect == core::LogDialect::linuxDesktop ? core::Wording::linuxDesktop
                                                                              : core::Wording::macos);
}

bool isAbortText(std::string_view lowered)
{
    return lowered.find("abort") != std::string_view::npos || lowered.find("abrt") != std::string_view::npos;
}

// The rows, in order, over the lower-cased lines that count.
std::optional<Classification> classifyText(const std::string& text,
                                           const std::string& identifier,
                                           const LinuxFindings& found,
                                           const core::ExplanationWording& words)
{
    using core::QuitAttribution;
    using core::TerminationReason;
    const auto raw = [&identifier](std::string_view pattern) {
        return core::filledIn(pattern, "{app}", identifier);
    };

    if (contains(text, "loginwindow") && contains(text, "quit:asn") && contains(text, "exitstatus=137")) {
        return Classification{TerminationReason::quit, raw(words.logoutForceQuitEvidence),
                              QuitAttribution::logout, Evidence::logoutForceQuit};
    }
    if (found.memoryKill) {
        return Classification{TerminationReason::killed, raw(words.memoryKillEvidence), std::nullopt,
                              Evidence::memoryKill};
    }
    // An abort gets its own text so that the diagnosis can tell it from other crashes.
    if (found.abort || containsAny(text, {"sigabrt", "abort trap"})) {
        return Classification{TerminationReason::crashed, raw(words.abortEvidence), std::nullopt,
                              Evidence::abort};
    }
    if (found.crash || containsAny(text, {"exc_", "segmentation fault", "reportcrash"})) {
        return Classification{TerminationReason::crashed, raw(words.crashEvidence), std::nullopt,
                              Evidence::crash};
    }
    if (containsAny(text, {"sigkill", "signal 9"})
        || (contains(text, "killed") && !contains(text, "sigterm"))) {
        return Classification{TerminationReason::killed, raw(words.killEvidence), std::nullopt,
                              Evidence::kill};
    }
    if (containsAny(text,
                    {"sigterm", "signal 15", "terminated", "quit", "exited with code", "normal exit"})) {
        return Classification{TerminationReason::quit, raw(words.quitEvidence), QuitAttribution::unknown,
                              Evidence::quit};
    }
    return std::nullopt;
}

} // namespace

std::string escapedTerm(std::string_view term)
{
    std::string result;
    for (char c : term) {
        if (c == '\\') {
            result += "\\\\";
        } else if (c == '"') {
            result += "\\\"";
        } else {
            result += c;
        }
    }
    return result;
}

std::optional<std::string> predicate(const std::optional<std::string>& name,
                                     const std::optional<std::string>& bundleIdentifier,
                                     std::optional<std::int32_t> pid)
{
    std::vector<std::string> terms;
    for (const auto& candidate : {name, bundleIdentifier, pidText(pid)}) {
        if (candidate) {
            if (std::string term = core::text::trimmed(*candidate); !term.empty()) {
                terms.push_back(std::move(term));
            }
        }
    }
    if (terms.empty()) {
        return std::nullopt;
    }
    return predicateText(std::vector<std::string>(kSystemProcesses.begin(), kSystemProcesses.end()), terms);
}

std::optional<std::string> predicate(const Target& target, core::LogDialect dialect)
{
    if (dialect == core::LogDialect::macos) {
        return predicate(target.name, target.bundleIdentifier, target.pid);
    }
    std::optional<std::string> comm;
    std::optional<std::string> unit;
    if (target.process) {
        comm = core::logclass::kernelName(*target.process);
        unit = core::logclass::applicationUnit(*target.process);
    }
    const std::vector<std::string> terms =
        searchTerms({target.name, target.bundleIdentifier, pidText(target.pid), comm, unit});
    if (terms.empty()) {
        return std::nullopt;
    }
    const std::vector<std::string> processes = core::LogVocabulary::linuxDesktop().withServices(
        std::vector<std::string>(kSystemProcesses.begin(), kSystemProcesses.end()));
    std::string text = predicateText(processes, terms);
    if (target.pid) {
        text += " OR processIdentifier == " + std::to_string(*target.pid);
    }
    return text;
}

std::string identifier(const std::optional<std::string>& name,
                       const std::optional<std::string>& bundleIdentifier,
                       std::optional<std::int32_t> pid)
{
    if (auto value = present(name)) {
        return *value;
    }
    if (auto value = present(bundleIdentifier)) {
        return *value;
    }
    return pid ? std::to_string(*pid) : std::string();
}

std::optional<Classification> classify(std::string_view output, const std::string& identifier)
{
    // Only entry lines count: a banner may quote the query's own search terms.
    const std::string entries = core::logclass::entryLines(output);
    if (entries.empty()) {
        return std::nullopt;
    }
    return classifyText(core::text::lowercased(entries), identifier, {}, wordsOf(core::LogDialect::macos));
}

std::optional<Classification>
classify(std::string_view output, const Target& target, core::LogDialect dialect)
{
    const std::string name = identifier(target.name, target.bundleIdentifier, target.pid);
    if (dialect == core::LogDialect::macos) {
        return classify(output, name);
    }
    using Role = core::LogVocabulary::Role;
    const core::LogVocabulary& vocabulary = core::LogVocabulary::linuxDesktop();
    core::TerminationFacts facts;
    facts.appName = present(target.name).value_or("");
    facts.bundleIdentifier = target.bundleIdentifier;
    facts.pid = target.pid;
    core::EventContext context = core::contextAround(std::move(facts), 0.0);
    context.process = target.process;

    LinuxFindings found;
    std::string systemText;
    const std::string entries = core::logclass::entryLines(output);
    std::string_view rest = entries;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        const auto parsed = core::logclass::parseLogLine(line);
        if (!parsed) {
            continue;
        }
        const core::logclass::EntryFindings findings = core::logclass::examineEntry(
            context, parsed->process, parsed->processIdentifier, core::Date(), parsed->message, vocabulary);
        if (!findings.relevant) {
            continue;
        }
        for (const core::Signal& signal : findings.signals) {
            if (const auto* memory = signal.as<core::JetsamSignal>()) {
                found.memoryKill =
                    found.memoryKill || memory->evidence == core::MemoryPressureEvidence::directTermination;
            } else if (const auto* termination = signal.as<core::TerminationSignal>();
                       termination && termination->reason == core::TerminationReason::crashed) {
                (isAbortText(core::text::lowercased(termination->rawValue.value_or(""))) ? found.abort
                                                                                         : found.crash) =
                    true;
            }
        }
        if (findings.bearing != core::logclass::Bearing::application || findings.role == Role::none) {
            continue; // the application's own output counts only through its abort lines
        }
        const std::string lowered = core::text::lowercased(line);
        if (findings.role == Role::crashReporter) {
            // The crash reporter's line is the one line here that tells of a core dump.
            if (vocabulary.contains(core::LogVocabulary::Phrase::crashRecord, lowered)) {
                (vocabulary.contains(core::LogVocabulary::Phrase::abortSignal, lowered) ? found.abort
                                                                                        : found.crash) = true;
            }
            continue;
        }
        systemText += lowered;
        systemText += '\n';
    }
    return classifyText(systemText, name, found, wordsOf(dialect));
}

Classification defaultClassification(core::LogDialect dialect)
{
    return Classification{core::TerminationReason::quit, std::string(wordsOf(dialect).terminationNotice),
                          core::QuitAttribution::unknown};
}

} // namespace exitwise::app::QuitEvidence
