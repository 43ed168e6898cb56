// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/EventContext.h"
#include "core/Signal.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The vocabulary with which system log text is read: fixed term lists, tests built on them and
// the two classifiers that turn log text into signals. Pure functions, safe from any thread.
// Every term test is a case-insensitive substring test.
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
// The entry mentions the event, comes from the event's pid or from a process named like the
// application.
[[nodiscard]] bool isRelevant(const EventContext& context,
                              std::string_view process,
                              std::optional<std::int32_t> processIdentifier,
                              std::string_view message);

// What one structured log entry says about the event.
struct EntryFindings
{
    bool relevant = false;
    // Term tests of a relevant entry's message; false for an irrelevant one.
    bool memoryTerm = false;
    bool terminationTerm = false;
    // classifyEntry's signals.
    std::vector<Signal> signals;
};

[[nodiscard]] EntryFindings examineEntry(const EventContext& context,
                                         std::string_view process,
                                         std::optional<std::int32_t> processIdentifier,
                                         Date date,
                                         std::string_view message);

// Signals from one structured log entry, dated at the entry; none for an irrelevant entry.
[[nodiscard]] std::vector<Signal> classifyEntry(const EventContext& context,
                                                std::string_view process,
                                                std::optional<std::int32_t> processIdentifier,
                                                Date date,
                                                std::string_view message);

// The lines of log-tool output that are log entries (those that begin with a yyyy-MM-dd date),
// joined by "\n". Banners and headers, which may quote the query's own search terms, are dropped.
[[nodiscard]] std::string entryLines(std::string_view output);

// Signals from the log tool's whole output, dated at the termination. Only entry lines count.
[[nodiscard]] std::vector<Signal>
classifyOutput(const EventContext& context, std::string_view output, bool includeRawEntries);

} // namespace exitwise::core::logclass
