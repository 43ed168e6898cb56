// SPDX-License-Identifier: MIT
#pragma once

#include "core/EventContext.h"
#include "core/Signal.h"
#include "core/SignalProvider.h"
#include "core/evidence/LogPredicate.h"
#include "core/evidence/LogStore.h"
#include "core/evidence/LogTool.h"
#include "core/evidence/LogVocabulary.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::core {

struct UnifiedLogProviderOptions
{
    // Reading stops once this many signals have been collected.
    std::int64_t maxEntries = 250;
    // Also emit one unifiedLog signal per entry read.
    bool includeRawEntries = false;
    // System processes whose messages are searched for the application's name.
    std::vector<std::string> systemProcessesOfInterest{"syspolicyd",      "amfid",   "runningboardd",
                                                       "launchservicesd", "launchd", "ReportCrash",
                                                       "reportcrash",     "kernel"};
    // How long the log tool may run when the store cannot be read.
    std::chrono::milliseconds toolTimeout{6000};
    // The vocabulary entries are read with; it also shapes the queries.
    LogDialect dialect = LogDialect::macos;

    // The options for a Linux desktop: the Linux vocabulary, and the system processes of
    // interest followed by the Linux services that play their roles.
    [[nodiscard]] static UnifiedLogProviderOptions forLinuxDesktop();
};

// Reads the system log around a termination: the log store for the event's window, or, when
// the store cannot be opened or queried, one run of the log tool. Immutable; collectSignals
// may run on several threads at once.
class UnifiedLogProvider final : public SignalProvider
{
public:
    // A null store goes straight to the tool; a null tool makes that path yield nothing.
    UnifiedLogProvider(std::shared_ptr<const LogStore> store,
                       std::shared_ptr<const LogTool> tool,
                       UnifiedLogProviderOptions options = {});

    [[nodiscard]] std::vector<Signal> collectSignals(const EventContext& context) const override;

    [[nodiscard]] const UnifiedLogProviderOptions& options() const { return m_options; }

    // The entries asked of the store: the application's pid, its process name, its bundle
    // identifier in a message, its name in a message of a system process of interest, its name
    // in any message.
    [[nodiscard]] static LogPredicate
    storePredicate(const EventContext& context, const std::vector<std::string>& systemProcessesOfInterest);
    // With the Linux vocabulary, after those: a message of a system process of interest that
    // names the pid the way the kernel and its services do ("[4711]", "process 4711 ",
    // "pid=4711,"), the comm or the application's unit.
    [[nodiscard]] static LogPredicate
    storePredicate(const EventContext& context,
                   const std::vector<std::string>& systemProcessesOfInterest,
                   LogDialect dialect);
    // The tool's predicate: the application's name or bundle identifier, or one of a fixed set
    // of system terms.
    [[nodiscard]] static LogPredicate toolPredicate(const EventContext& context);
    // The tool's predicate for the options: with the Linux vocabulary the store's, since the
    // tool reads the same journal and only entries about the application count.
    [[nodiscard]] static LogPredicate toolPredicate(const EventContext& context,
                                                    const UnifiedLogProviderOptions& options);

    // Drops each signal whose timestamp and summary were already seen; order is kept.
    [[nodiscard]] static std::vector<Signal> deduplicated(std::vector<Signal> signals);

private:
    // Nothing when the store cannot be opened or queried.
    [[nodiscard]] std::optional<std::vector<Signal>> collectFromStore(const EventContext& context) const;
    [[nodiscard]] std::vector<Signal> collectFromTool(const EventContext& context) const;

    std::shared_ptr<const LogStore> m_store;
    std::shared_ptr<const LogTool> m_tool;
    UnifiedLogProviderOptions m_options;
};

} // namespace exitwise::core
