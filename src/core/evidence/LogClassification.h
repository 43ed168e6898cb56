// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/EventContext.h"
#include "core/Signal.h"
#include "core/evidence/LogVocabulary.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The vocabulary with which system log text is read: fixed term lists, tests built on them and
// the two classifiers that turn log text into signals. Pure functions, safe from any thread.
// Every term test is a case-insensitive substring test. The classifiers read with the macOS
// vocabulary unless given the Linux desktop one (LogVocabulary.h), which adds the Linux tables
// and reads relevance by the kernel's way of naming processes.
namespace exitwise::core::logclass {

inline constexpr std::array<std::string_view, 7> kMemoryTerms{
    "jetsam",        "memorystatus", "memory pressure", "RESOURCE_TYPE_MEMORY",
    "out of memory", "vm pressure",  "highwater"};
inline constexpr std::array<std::string_view, 7> kTerminationTerms{
    "killed", "terminated", "exited", "was killed", "kill reason", "signal 9", "sigkill"};
inline constexpr std::array<std::string_view, 7> kQuitTerms{
    "SIGTERM",           "signal 15",           "force quit", "quit request",
    "requested to quit", "termination request", "was quit"};
inline constexpr std::array<std::string_view, 4> kLogoutTerms{"logout", "session logout", "session ended",
                                                              "log out"};
inline constexpr std::array<std::string_view, 4> kShutdownTerms{"shutdown", "poweroff", "restart",
                                                                "power off"};
inline constexpr std::array<std::string_view, 4> kUpdateTerms{"software update", "softwareupdated",
                                                              "install update", "updated"};
inline constexpr std::array<std::string_view, 4> kManagementTerms{"mdm", "managed", "device management",
                                                                  "configuration profile"};
inline constexpr std::array<std::string_view, 4> kWatchdogTerms{"watchdog", "Application Not Responding",
                                                                "unresponsive", "spindump"};
inline constexpr std::array<std::string_view, 5> kCrashTerms{"EXC_", "SIGABRT", "segmentation fault", "crash",
                                                             "abort trap"};
inline constexpr std::array<std::string_view, 7> kBlockTerms{
    "blocked", "deny", "denied", "rejected", "cannot be opened", "not allowed", "killed"};
inline constexpr std::array<std::string_view, 6> kLoaderGateTerms{"dyld",  "library",      "mach-o",
                                                                  "image", "architecture", "validation"};
inline constexpr std::array<std::string_view, 3> kMissingLibraryTerms{"library not loaded", "image not found",
                                                                      "no such file"};
inline constexpr std::array<std::string_view, 3> kArchitectureTerms{
    "wrong architecture", "incompatible architecture", "bad cpu type in executable"};
inline constexpr std::array<std::string_view, 3> kValidationTerms{
    "library validation", "not valid for use in process", "code signature"};
inline constexpr std::array<std::string_view, 3> kInactiveTerms{"service inactive", "state = inactive",
                                                                "service became inactive"};
inline constexpr std::array<std::string_view, 9> kServiceFailureTerms{"failed to start",
                                                                      "failed with",
                                                                      "exited with non-zero",
                                                                      "exited abnormally",
                                                                      "crashed",
                                                                      "xpc connection invalid",
                                                                      "xpc connection interrupted",
                                                                      "could not connect",
                                                                      "connection invalid"};
inline constexpr std::array<std::string_view, 3> kThrottleTerms{"service only ran for", "will try again in",
                                                                "throttle"};

// Lengths, in user-perceived characters, at which texts are cut and given a trailing "…".
inline constexpr std::size_t kMessageLength = 220;
inline constexpr std::size_t kRawValueMessageLength = 120;
inline constexpr std::size_t kOutputLength = 600;

[[nodiscard]] bool containsMemoryTerm(std::string_view message);
[[nodiscard]] bool containsTerminationTerm(std::string_view message);
[[nodiscard]] bool containsQuitTerm(std::string_view message);
[[nodiscard]] bool containsWatchdogTerm(std::string_view message);
[[nodiscard]] bool containsCrashTerm(std::string_view message);
// A service-failure term and no inactive term.
[[nodiscard]] bool isServiceFailure(std::string_view message);
// A policy kind and a block term.
[[nodiscard]] bool isPolicyBlock(std::string_view message);

[[nodiscard]] std::optional<PolicyBlockKind> policyKind(std::string_view message);
// Never `other`: only the three kinds the loader terms name.
[[nodiscard]] std::optional<DyldFailureKind> loaderKind(std::string_view message);
[[nodiscard]] QuitAttribution attributeQuit(std::string_view process, std::string_view message);
// The first "com.…" service label in the message.
[[nodiscard]] std::optional<std::string> serviceLabel(std::string_view message);
// How often a service exited or crashed, from the first exit-count phrase; 2 for a bare
// throttle notice.
[[nodiscard]] std::optional<std::int64_t> parseExitCount(std::string_view message);

// The message names the application, its bundle identifier or its pid.
[[nodiscard]] bool mentionsEvent(const EventContext& context, std::string_view message);

// The loader failure a message shows. With the Linux vocabulary the Linux loader lines are
// read instead, and `other` is possible (a missing symbol or symbol version).
[[nodiscard]] std::optional<DyldFailureKind> loaderKind(std::string_view message,
                                                        const LogVocabulary& vocabulary);

// How the kernel names the process: its comm, else its executable's file name cut to 15 bytes;
// empty when neither is known.
[[nodiscard]] std::string kernelName(const ProcessFacts& process);
// The application's own systemd unit, the last part of its control group when that is an
// application's scope or service ("app-…", "snap.…"); empty otherwise, since a shared unit
// (a login session's scope, a terminal's) says nothing about one process.
[[nodiscard]] std::string applicationUnit(const ProcessFacts& process);

// How a log entry bears on the event, read with the Linux vocabulary.
enum class Bearing
{
    none,
    // The application's own output: an entry of its pid, or, without pids, of its name.
    ownOutput,
    // Another process's message about the application.
    application,
    // A message about another unit of the application (a helper's service).
    helper
};

// Linux relevance by the shapes in which the kernel and its services name a process, tried in
// this order, the first shape found deciding:
// - the entry's own pid; an entry of another pid that goes by the application's own name is
//   another instance and never relevant;
// - "comm[pid]", "process N ", "pid=N," naming the event's pid as a whole number; a message
//   naming another pid this way is not about the application, whatever else it says;
// - systemd-oomd's victim cgroup being the application's or one above it;
// - unit names: the application's own unit; another unit carrying its bundle identifier (a
//   helper's, or the application's own when its unit is unknown); any other unit: not relevant;
// - the comm as a whole word; the name or bundle identifier anywhere.
// The kernel names a thread by its own id and name, so a crash in a thread other than the main
// one is not found here; the exit status and the crash record still tell it.
[[nodiscard]] Bearing bearing(const EventContext& context,
                              std::string_view process,
                              std::optional<std::int32_t> processIdentifier,
                              std::string_view message);

// The entry mentions the event, comes from the event's pid or from a process named like the
// application. With the Linux vocabulary: its bearing is the application's own output or
// another process's message about the application.
[[nodiscard]] bool isRelevant(const EventContext& context,
                              std::string_view process,
                              std::optional<std::int32_t> processIdentifier,
                              std::string_view message,
                              const LogVocabulary& vocabulary = LogVocabulary::macos());

// What one structured log entry says about the event.
struct EntryFindings
{
    bool relevant = false;
    // Linux vocabulary only: how the entry bears on the event, and the logging process's role.
    Bearing bearing = Bearing::none;
    LogVocabulary::Role role = LogVocabulary::Role::none;
    // Term tests of a relevant entry's message; false for an irrelevant one.
    bool memoryTerm = false;
    bool terminationTerm = false;
    // classifyEntry's signals.
    std::vector<Signal> signals;
};

// With the Linux vocabulary the signals come from the Linux tables, by who logged the entry:
// - the application's own output: a runtime abort line (a crash whose raw text ends in
//   "(abort)"), a loader line (a loader failure), a helper's failure (a helper signal); an abort
//   or loader line that names another program is that helper's;
// - the kernel, the memory killers, the service manager, the session manager: memory kills
//   (killed, and a direct memory signal) before anything else, so a SIGTERM from a memory killer
//   is no quit; kernel fault lines and the service manager's core dumps of the application's
//   unit (crashed); then the macOS termination terms; another unit's failure (a helper signal);
// - the crash reporter: nothing, since its records are crash reports of their own and counting
//   its lines too would count one crash twice;
// - any other process naming the application: loader failures only.
[[nodiscard]] EntryFindings examineEntry(const EventContext& context,
                                         std::string_view process,
                                         std::optional<std::int32_t> processIdentifier,
                                         Date date,
                                         std::string_view message,
                                         const LogVocabulary& vocabulary = LogVocabulary::macos());

// Signals from one structured log entry, dated at the entry; none for an irrelevant entry.
[[nodiscard]] std::vector<Signal> classifyEntry(const EventContext& context,
                                                std::string_view process,
                                                std::optional<std::int32_t> processIdentifier,
                                                Date date,
                                                std::string_view message,
                                                const LogVocabulary& vocabulary = LogVocabulary::macos());

// One line of log-tool output, "2026-03-01 14:05:09+0100 localhost notes-bin[4711]: message".
struct LogLine
{
    std::string_view process;
    std::optional<std::int32_t> processIdentifier;
    std::string_view message;

    friend bool operator==(const LogLine&, const LogLine&) = default;
};

// Nothing for a line that is not an entry line of that shape.
[[nodiscard]] std::optional<LogLine> parseLogLine(std::string_view line);

// The lines of log-tool output that are log entries (those that begin with a yyyy-MM-dd date),
// joined by "\n". Banners and headers, which may quote the query's own search terms, are dropped.
[[nodiscard]] std::string entryLines(std::string_view output);

// Signals from the log tool's whole output, dated at the termination. Only entry lines count.
// With the Linux vocabulary each line is read as an entry (examineEntry) and only relevant lines
// count, also for the raw text.
[[nodiscard]] std::vector<Signal> classifyOutput(const EventContext& context,
                                                 std::string_view output,
                                                 bool includeRawEntries,
                                                 const LogVocabulary& vocabulary = LogVocabulary::macos());

} // namespace exitwise::core::logclass
