// SPDX-License-Identifier: MIT
#include "core/evidence/UnifiedLogProvider.h"

#include "core/Text.h"
#include "core/evidence/LogClassification.h"

#include <array>
#include <charconv>
#include <cmath>
#include <unordered_set>
#include <utility>

namespace exitwise::core {

namespace {

using Field = LogPredicate::Field;

constexpr double kCorrelationSeconds = 30.0;

constexpr std::array<std::string_view, 12> kToolSystemTerms{
    "jetsam",     "memorystatus",       "watchdog",         "spindump", "code signature", "quarantine",
    "Gatekeeper", "library validation", "hardened runtime", "launchd",  "SIGTERM",        "terminated"};

bool within(Date a, Date b, double seconds)
{
    return std::abs((a - b).count()) <= seconds;
}

// Memory pressure near the termination of a killed process, or, for an unexplained one, next
// to a termination message.
bool correlatedPressure(const EventContext& context,
                        const std::vector<Date>& memoryDates,
                        const std::vector<Date>& terminationDates)
{
    if (memoryDates.empty()) {
        return false;
    }
    if (context.reason() == TerminationReason::crashed || context.reason() == TerminationReason::quit) {
        return false;
    }
    bool nearTermination = false;
    for (const Date memory : memoryDates) {
        nearTermination = nearTermination || within(memory, context.terminatedAt, kCorrelationSeconds);
    }
    if (!nearTermination) {
        return false;
    }
    if (context.reason() == TerminationReason::killed) {
        return true;
    }
    for (const Date termination : terminationDates) {
        for (const Date memory : memoryDates) {
            if (within(termination, memory, kCorrelationSeconds)) {
                return true;
            }
        }
    }
    return false;
}

std::string deduplicationKey(const Signal& signal)
{
    std::array<char, 64> buffer{};
    const auto [end, ec] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), secondsSince1970(signal.timestamp()));
    std::string key(buffer.data(), ec == std::errc() ? end : buffer.data());
    key += '|';
    key += signal.summary();
    return key;
}

} // namespace

UnifiedLogProviderOptions UnifiedLogProviderOptions::forLinuxDesktop()
{
    UnifiedLogProviderOptions options;
    options.dialect = LogDialect::linuxDesktop;
    options.systemProcessesOfInterest =
        LogVocabulary::linuxDesktop().withServices(std::move(options.systemProcessesOfInterest));
    return options;
}

UnifiedLogProvider::UnifiedLogProvider(std::shared_ptr<const LogStore> store,
                                       std::shared_ptr<const LogTool> tool,
                                       UnifiedLogProviderOptions options)
    : m_store(std::move(store))
    , m_tool(std::move(tool))
    , m_options(std::move(options))
{}

std::vector<Signal> UnifiedLogProvider::collectSignals(const EventContext& context) const
{
    try {
        if (auto signals = collectFromStore(context)) {
            return deduplicated(std::move(*signals));
        }
        return deduplicated(collectFromTool(context));
    } catch (const std::exception&) {
        // A provider never fails the diagnosis: an unreadable log is no evidence.
        return {};
    }
}

std::optional<std::vector<Signal>> UnifiedLogProvider::collectFromStore(const EventContext& context) const
{
    if (!m_store) {
        return std::nullopt;
    }
    const LogQuery query{context.window.start, context.window.end,
                         storePredicate(context, m_options.systemProcessesOfInterest, m_options.dialect)};
    const LogVocabulary& vocabulary = LogVocabulary::of(m_options.dialect);

    std::vector<Signal> signals;
    std::vector<Date> memoryDates;
    std::vector<Date> terminationDates;
    bool directMemory = false;
    const auto visit = [&](const LogEntry& entry) {
        if (entry.date > context.window.end) {
            return false;
        }
        logclass::EntryFindings findings = logclass::examineEntry(
            context, entry.process, entry.processIdentifier, entry.date, entry.message, vocabulary);
        if (findings.memoryTerm) {
            memoryDates.push_back(entry.date);
        }
        if (findings.terminationTerm) {
            terminationDates.push_back(entry.date);
        }
        for (Signal& signal : findings.signals) {
            directMemory = directMemory || signal.type() == SignalType::jetsam;
            signals.push_back(std::move(signal));
        }
        if (m_options.includeRawEntries) {
            signals.emplace_back(UnifiedLogSignal{entry.date, entry.process,
                                                  text::shortened(entry.message, logclass::kMessageLength)});
        }
        return static_cast<std::int64_t>(signals.size()) < m_options.maxEntries;
    };

    std::optional<LogStoreError> error;
    try {
        error = m_store->readEntries(query, visit);
    } catch (const std::exception& e) {
        error = LogStoreError{e.what()};
    }
    if (error) {
        return std::nullopt;
    }
    if (!directMemory && correlatedPressure(context, memoryDates, terminationDates)) {
        signals.emplace_back(JetsamSignal{
            context.terminatedAt, "Correlated memory pressure and process termination near event time",
            MemoryPressureEvidence::correlatedPressure});
    }
    return signals;
}

std::vector<Signal> UnifiedLogProvider::collectFromTool(const EventContext& context) const
{
    if (!m_tool) {
        return {};
    }
    const std::string output = m_tool->show(context.window.start, context.window.end,
                                            toolPredicate(context, m_options).text(), m_options.toolTimeout);
    if (output.empty()) {
        return {};
    }
    return logclass::classifyOutput(context, output, m_options.includeRawEntries,
                                    LogVocabulary::of(m_options.dialect));
}

LogPredicate UnifiedLogProvider::storePredicate(const EventContext& context,
                                                const std::vector<std::string>& systemProcessesOfInterest)
{
    std::vector<LogPredicate> operands;
    if (context.pid) {
        operands.push_back(LogPredicate::equals(Field::processIdentifier, std::int64_t{*context.pid}));
    }
    operands.push_back(LogPredicate::equals(Field::process, context.appName));
    if (context.bundleIdentifier && !context.bundleIdentifier->empty()) {
        operands.push_back(
            LogPredicate::containsIgnoringCase(Field::composedMessage, *context.bundleIdentifier));
    }
    std::vector<LogPredicate::Literal> processes(systemProcessesOfInterest.begin(),
                                                 systemProcessesOfInterest.end());
    std::vector<LogPredicate> systemMention;
    systemMention.push_back(LogPredicate::grouped(LogPredicate::in(Field::process, std::move(processes))));
    systemMention.push_back(
        LogPredicate::grouped(LogPredicate::containsIgnoringCase(Field::composedMessage, context.appName)));
    operands.push_back(LogPredicate::allOf(std::move(systemMention)));
    operands.push_back(LogPredicate::containsIgnoringCase(Field::composedMessage, context.appName));
    return LogPredicate::anyOf(std::move(operands));
}

LogPredicate UnifiedLogProvider::storePredicate(const EventContext& context,
                                                const std::vector<std::string>& systemProcessesOfInterest,
                                                LogDialect dialect)
{
    LogPredicate predicate = storePredicate(context, systemProcessesOfInterest);
    if (dialect == LogDialect::macos) {
        return predicate;
    }
    std::vector<std::string> shapes;
    if (context.pid) {
        const std::string pid = std::to_string(*context.pid);
        shapes = {"[" + pid + "]", "process " + pid + " ", "pid=" + pid + ","};
    }
    if (context.process) {
        for (std::string name :
             {logclass::kernelName(*context.process), logclass::applicationUnit(*context.process)}) {
            if (!name.empty()) {
                shapes.push_back(std::move(name));
            }
        }
    }
    if (shapes.empty()) {
        return predicate;
    }
    std::vector<LogPredicate> named;
    for (std::string& shape : shapes) {
        named.push_back(LogPredicate::containsIgnoringCase(Field::composedMessage, std::move(shape)));
    }
    std::vector<LogPredicate::Literal> processes(systemProcessesOfInterest.begin(),
                                                 systemProcessesOfInterest.end());
    std::vector<LogPredicate> systemMention;
    systemMention.push_back(LogPredicate::grouped(LogPredicate::in(Field::process, std::move(processes))));
    systemMention.push_back(LogPredicate::grouped(LogPredicate::anyOf(std::move(named))));

    std::vector<LogPredicate> operands = predicate.operands();
    operands.push_back(LogPredicate::allOf(std::move(systemMention)));
    return LogPredicate::anyOf(std::move(operands));
}

LogPredicate UnifiedLogProvider::toolPredicate(const EventContext& context,
                                               const UnifiedLogProviderOptions& options)
{
    if (options.dialect == LogDialect::linuxDesktop) {
        return storePredicate(context, options.systemProcessesOfInterest, options.dialect);
    }
    return toolPredicate(context);
}

LogPredicate UnifiedLogProvider::toolPredicate(const EventContext& context)
{
    const std::string& name = context.appName;
    const std::string bundle = context.bundleIdentifier.value_or(std::string());
    constexpr int kDoubleSpace = 2;

    std::vector<LogPredicate> application;
    application.push_back(LogPredicate::containsIgnoringCase(Field::eventMessage, name));
    application.push_back(LogPredicate::containsIgnoringCase(Field::processImagePath, name));
    application.push_back(LogPredicate::containsIgnoringCase(Field::senderImagePath, name));
    application.push_back(LogPredicate::containsIgnoringCase(Field::eventMessage, bundle));

    std::vector<LogPredicate> system;
    for (const std::string_view term : kToolSystemTerms) {
        system.push_back(LogPredicate::containsIgnoringCase(Field::eventMessage, std::string(term)));
    }

    std::vector<LogPredicate> both;
    both.push_back(LogPredicate::grouped(LogPredicate::anyOf(std::move(application), kDoubleSpace)));
    both.push_back(LogPredicate::grouped(LogPredicate::anyOf(std::move(system), kDoubleSpace)));
    return LogPredicate::anyOf(std::move(both));
}

std::vector<Signal> UnifiedLogProvider::deduplicated(std::vector<Signal> signals)
{
    std::unordered_set<std::string> seen;
    std::vector<Signal> result;
    result.reserve(signals.size());
    for (Signal& signal : signals) {
        if (seen.insert(deduplicationKey(signal)).second) {
            result.push_back(std::move(signal));
        }
    }
    return result;
}

} // namespace exitwise::core
