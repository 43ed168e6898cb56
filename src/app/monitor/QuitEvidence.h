// SPDX-License-Identifier: MIT
#pragma once

#include "core/ProcessFacts.h"
#include "core/Signal.h"
#include "core/evidence/LogVocabulary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The short system-log query the monitor runs around a termination, and how its output is
// read. Pure functions.
namespace exitwise::app::QuitEvidence {

// How far around the termination the log is searched, and how long the query may take.
inline constexpr double kSecondsBefore = 8.0;
inline constexpr double kSecondsAfter = 2.0;
inline constexpr int kTimeoutSeconds = 2;

// Which log evidence decided a classification: the session manager's force quit at logout, a
// crash, an abort, a kill, a memory killer's kill, a quit.
enum class Evidence
{
    logoutForceQuit,
    crash,
    abort,
    kill,
    memoryKill,
    quit
};

struct Classification
{
    core::TerminationReason reason = core::TerminationReason::quit;
    std::string rawValue;
    std::optional<core::QuitAttribution> attribution;
    // Absent when no log line decided (a system notice, the default).
    std::optional<Evidence> evidence{};

    friend bool operator==(const Classification&, const Classification&) = default;
};

// The terminated application as the query sees it.
struct Target
{
    std::optional<std::string> name;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::int32_t> pid;
    // On Linux the kernel and its services name the process by its comm and its unit.
    std::optional<core::ProcessFacts> process;
};

// Escapes a term for a double-quoted predicate string: backslashes first, then quotes.
[[nodiscard]] std::string escapedTerm(std::string_view term);

// The predicate over the five system processes, or nothing when no search term remains.
[[nodiscard]] std::optional<std::string> predicate(const std::optional<std::string>& name,
                                                   const std::optional<std::string>& bundleIdentifier,
                                                   std::optional<std::int32_t> pid);
// With the Linux vocabulary the process list gains the Linux services, the search terms the comm
// and the application's unit (the pid's kernel shapes all contain the pid, already a term), and
// the application's own output is selected by its pid: "(process IN {…}) AND (…) OR
// processIdentifier == 4711". The macOS form otherwise.
[[nodiscard]] std::optional<std::string> predicate(const Target& target, core::LogDialect dialect);

// The name used in the raw texts: the name, else the bundle identifier, else the pid.
[[nodiscard]] std::string identifier(const std::optional<std::string>& name,
                                     const std::optional<std::string>& bundleIdentifier,
                                     std::optional<std::int32_t> pid);

// Reads the log tool's output. Only entry lines (those that begin with a yyyy-MM-dd date)
// count: a banner that repeats the predicate would otherwise match its own search terms.
[[nodiscard]] std::optional<Classification> classify(std::string_view output, const std::string& identifier);
// With the Linux vocabulary only lines that bear on the application count (see
// core::logclass::examineEntry), and the rows are: the logout force quit; a memory killer's
// kill ("journal: memory kill evidence for …", before the quit row, so that earlyoom's SIGTERM
// is a kill); an abort (a runtime abort line in the application's own output, an abort signal
// in a crash record or unit line, or "sigabrt"/"abort trap"); a crash (a kernel fault line, the
// crash reporter's "dumped core", the unit's core dump, or the macOS crash words); then the
// macOS kill and quit rows on the system processes' lines. The application's own output
// counts only through its abort lines. The macOS form otherwise.
[[nodiscard]] std::optional<Classification>
classify(std::string_view output, const Target& target, core::LogDialect dialect);

// The classification when neither a system notice nor the log says anything. Raw texts, here and
// from classify(), name the log and the notice of the dialect's system.
[[nodiscard]] Classification defaultClassification(core::LogDialect dialect = core::LogDialect::macos);

} // namespace exitwise::app::QuitEvidence
