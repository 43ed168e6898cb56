// SPDX-License-Identifier: MIT
#pragma once

#include "app/monitor/QuitEvidence.h"
#include "core/ProcessFacts.h"

#include <optional>

// How an application ended, from the exit status the platform read for it: the monitor's
// first-hand evidence. Pure functions.
namespace exitwise::app::ExitEvidence {

// The classification the exit status gives:
//   a signal whose default is a core dump (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS,
//   SIGQUIT, SIGABRT) or any signal that dumped core → crashed ("terminated by SIGABRT (core
//   dumped)" passes the abort test through "abrt");
//   SIGKILL, and the resource limits SIGXCPU and SIGXFSZ → killed;
//   SIGTERM, SIGINT, SIGHUP and exit code 0 → quit, attribution unknown;
//   any other signal or exit code → unknown, the text naming it.
// A process the desktop ended because it stopped responding was killed, whatever signal it
// used. Nothing when the status is unknown and the desktop did not end it.
[[nodiscard]] std::optional<QuitEvidence::Classification> classify(const core::ProcessExit& exit,
                                                                   bool endedUnresponsive);

// Whether the system log can still change what the exit status says (a memory killer sends
// SIGKILL or SIGTERM; an exit status nobody could read says nothing), so the log is worth asking.
[[nodiscard]] bool logMayRefine(const core::ProcessExit& exit, bool endedUnresponsive);

// The exit status and the log together. The exit status is first-hand and decides, except that
// a memory killer the log names explains a SIGKILL, a SIGTERM or an unusual exit as a memory
// kill (earlyoom asks with SIGTERM first; an application may end itself on it). A crash stays
// a crash. Without an exit status the log decides; with neither, unknown.
[[nodiscard]] QuitEvidence::Classification
combine(const std::optional<QuitEvidence::Classification>& fromExit,
        const std::optional<QuitEvidence::Classification>& fromLog);

// The classification when the exit status could not be read and the log says nothing: unknown,
// not a quit — nothing shows that anyone asked the application to quit.
[[nodiscard]] QuitEvidence::Classification unknownClassification();

} // namespace exitwise::app::ExitEvidence
