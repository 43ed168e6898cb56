// SPDX-License-Identifier: MIT
#include "core/evidence/CrashRecordEvidence.h"

#include "core/Text.h"

#include <algorithm>
#include <cmath>

namespace exitwise::core::crashrecords {

namespace {

std::string_view fileName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Only the first 15 bytes of a program's name reach comm.
bool commandNames(std::string_view command, std::string_view name)
{
    constexpr std::size_t kCommLength = 15;
    return !command.empty() && command == name.substr(0, kCommLength);
}

bool namesApplication(const EventContext& context, const CrashRecord& record)
{
    if (std::abs((record.timestamp - context.terminatedAt).count()) > kNameMatchSeconds) {
        return false;
    }
    if (context.process) {
        const ProcessFacts& facts = *context.process;
        if (!facts.executable.empty() && !record.executable.empty()) {
            // A marker knows only the program's file name up to its first dot.
            const std::string_view program = fileName(facts.executable);
            return record.executable == facts.executable
                   || (record.kind == CrashRecord::Kind::unresponsiveKill
                       && record.executable == program.substr(0, program.find('.')));
        }
        if (!facts.command.empty() && !record.command.empty()) {
            return record.command == facts.command;
        }
    }
    const std::string_view program =
        record.executable.empty() ? std::string_view(record.command) : fileName(record.executable);
    return !context.appName.empty() && !program.empty()
           && (text::lowercased(program) == text::lowercased(context.appName)
               || commandNames(record.command, context.appName));
}

bool isApplications(const EventContext& context, const CrashRecord& record)
{
    if (context.pid) {
        return record.pid == context.pid;
    }
    return namesApplication(context, record);
}

bool isHelper(const EventContext& context, const CrashRecord& record)
{
    if (record.kind != CrashRecord::Kind::crash || !context.pid || !record.pid || record.pid == context.pid) {
        return false;
    }
    if (record.parentPid == context.pid) {
        return true;
    }
    // The root group and an empty one say nothing: every process outside a unit shares them.
    const std::string& group = context.process ? context.process->cgroup : std::string();
    return !group.empty() && group != "/" && record.cgroup == group;
}

std::string helperName(const CrashRecord& record)
{
    if (!record.command.empty()) {
        return record.command;
    }
    return std::string(fileName(record.executable));
}

bool later(const CrashRecord& a, const CrashRecord& b)
{
    return a.timestamp > b.timestamp;
}

} // namespace

Findings examine(const EventContext& context, const std::vector<CrashRecord>& records)
{
    Findings findings;
    for (const CrashRecord& record : records) {
        if (isApplications(context, record)) {
            std::optional<CrashRecord>& slot =
                record.kind == CrashRecord::Kind::crash ? findings.crash : findings.unresponsiveKill;
            if (!slot || later(record, *slot)) {
                slot = record;
            }
            continue;
        }
        if (!isHelper(context, record)) {
            continue;
        }
        const std::string name = helperName(record);
        auto helper = std::find_if(findings.helpers.begin(), findings.helpers.end(),
                                   [&](const HelperFailure& h) { return h.name == name; });
        if (helper == findings.helpers.end()) {
            findings.helpers.push_back({name, {}});
            helper = std::prev(findings.helpers.end());
        }
        helper->records.push_back(record);
    }
    for (HelperFailure& helper : findings.helpers) {
        std::stable_sort(
            helper.records.begin(), helper.records.end(),
            [](const CrashRecord& a, const CrashRecord& b) { return a.timestamp < b.timestamp; });
    }
    return findings;
}

std::optional<CrashReportSignal> report(const Findings& findings)
{
    auto present = [](const std::string& text) {
        return text.empty() ? std::nullopt : std::optional<std::string>(text);
    };
    if (findings.unresponsiveKill) {
        // The signal the desktop sent is in the crash record that may follow the marker.
        const CrashRecord& marker = *findings.unresponsiveKill;
        const CrashRecord* crash = findings.crash ? &*findings.crash : nullptr;
        CrashReportSignal signal{crash != nullptr ? crash->timestamp : marker.timestamp,
                                 present(marker.source),
                                 std::nullopt,
                                 std::string(kUnresponsiveReason),
                                 crash != nullptr ? present(crash->signal) : std::nullopt,
                                 std::nullopt,
                                 std::nullopt,
                                 false,
                                 false,
                                 true};
        return signal;
    }
    if (!findings.crash) {
        return std::nullopt;
    }
    const CrashRecord& crash = *findings.crash;
    return CrashReportSignal{crash.timestamp,
                             present(crash.source),
                             present(crash.signal),
                             present(crash.message),
                             present(crash.signal),
                             std::nullopt,
                             std::nullopt,
                             false,
                             false,
                             false};
}

std::vector<Signal> helperSignals(const Findings& findings)
{
    std::vector<Signal> signals;
    for (const HelperFailure& helper : findings.helpers) {
        const CrashRecord& last = helper.records.back();
        std::string message = last.message;
        if (message.empty()) {
            message =
                "Helper " + helper.name + (last.signal.empty() ? " crashed" : " crashed: " + last.signal);
        }
        const auto count = static_cast<std::int64_t>(helper.records.size());
        signals.emplace_back(LaunchdSignal{last.timestamp, helper.name, std::move(message),
                                           count > 1 ? std::optional<std::int64_t>(count) : std::nullopt});
    }
    return signals;
}

} // namespace exitwise::core::crashrecords
