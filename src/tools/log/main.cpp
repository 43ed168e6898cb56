// SPDX-License-Identifier: MIT
// exitwise-log: prints the journal entries of a time window that match a log predicate, one
// syslog-style line each. It takes the arguments of the system log tool's "show":
//   exitwise-log show --style syslog --start "yyyy-MM-dd HH:mm:ss" --end "…" --predicate TEXT
// Dates are local time; --end covers its whole second. The journal is the one JournalLogStore
// reads (EXITWISE_JOURNAL_DIR, else the machine's).

#include "core/evidence/LogPredicate.h"
#include "platform/linux/JournalLogStore.h"
#include "platform/linux/LocalTime.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace {

using exitwise::core::LogEntry;
using exitwise::core::LogPredicate;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: exitwise-log show --style syslog --start \"yyyy-MM-dd HH:mm:ss\" --end \"yyyy-MM-dd HH:mm:ss\" "
    "--predicate TEXT\n";

int usageError(const std::string& message)
{
    std::fprintf(stderr, "exitwise-log: %s\n%s", message.c_str(), kUsage.data());
    return kExitUsage;
}

struct ShowArguments
{
    std::optional<std::string> style;
    std::optional<std::string> start;
    std::optional<std::string> end;
    std::optional<std::string> predicate;
};

// Every line is one entry: line breaks inside a message would start lines that are no entry.
std::string oneLine(std::string_view message)
{
    std::string result(message);
    for (char& c : result) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return result;
}

std::string syslogLine(const LogEntry& entry)
{
    std::string line = exitwise::platform::formatLocalTimestamp(entry.date);
    line += " localhost ";
    line += entry.process;
    if (entry.processIdentifier) {
        line += '[' + std::to_string(*entry.processIdentifier) + ']';
    }
    line += ": ";
    line += oneLine(entry.message);
    line += '\n';
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage.data(), stdout);
        return kExitOk;
    }
    if (argc < 2 || std::string_view(argv[1]) != "show") {
        return usageError(argc < 2 ? "missing command" : "unknown command '" + std::string(argv[1]) + "'");
    }

    ShowArguments arguments;
    const std::array<std::pair<std::string_view, std::optional<std::string>*>, 4> options{{
        {"--style", &arguments.style},
        {"--start", &arguments.start},
        {"--end", &arguments.end},
        {"--predicate", &arguments.predicate},
    }};
    for (int i = 2; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        std::optional<std::string>* target = nullptr;
        for (const auto& [name, slot] : options) {
            if (argument == name) {
                target = slot;
            }
        }
        if (target == nullptr) {
            return usageError("unknown argument '" + std::string(argument) + "'");
        }
        if (target->has_value()) {
            return usageError("'" + std::string(argument) + "' given twice");
        }
        if (i + 1 == argc) {
            return usageError("'" + std::string(argument) + "' needs a value");
        }
        *target = std::string(argv[++i]);
    }
    for (const auto& [name, slot] : options) {
        if (!slot->has_value()) {
            return usageError("missing '" + std::string(name) + "'");
        }
    }
    if (*arguments.style != "syslog") {
        return usageError("unsupported style '" + *arguments.style + "' (only syslog)");
    }
    const auto start = exitwise::platform::parseLocalDateTime(*arguments.start);
    if (!start) {
        return usageError("invalid --start '" + *arguments.start + "' (expected yyyy-MM-dd HH:mm:ss)");
    }
    const auto end = exitwise::platform::parseLocalDateTime(*arguments.end);
    if (!end) {
        return usageError("invalid --end '" + *arguments.end + "' (expected yyyy-MM-dd HH:mm:ss)");
    }
    auto parsed = LogPredicate::parse(*arguments.predicate);
    if (const auto* error = std::get_if<LogPredicate::ParseError>(&parsed)) {
        return usageError("invalid predicate: " + error->describe());
    }

    const exitwise::platform::JournalLogStore store;
    const exitwise::core::LogQuery query{*start, *end + exitwise::core::Seconds(0.999999),
                                         std::get<LogPredicate>(std::move(parsed))};
    const auto error = store.readEntries(query, [](const LogEntry& entry) {
        const std::string line = syslogLine(entry);
        return std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
    });
    if (std::fflush(stdout) != 0) {
        return kExitFailure;
    }
    if (error) {
        std::fprintf(stderr, "exitwise-log: %s\n", error->message.c_str());
        return kExitFailure;
    }
    return kExitOk;
}
