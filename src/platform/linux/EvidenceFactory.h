// SPDX-License-Identifier: MIT
#pragma once

#include "core/DiagnosisEngine.h"
#include "core/ExplanationWording.h"
#include "core/evidence/CrashRecord.h"
#include "core/evidence/LogTool.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace exitwise::platform {

// The words a user of this desktop reads: explanations, evidence messages and raw texts.
inline constexpr core::Wording kWording = core::Wording::linuxDesktop;

struct EvidenceSettings
{
    // Where crash and hang reports are looked for; empty: the default report directories of
    // the data directory.
    std::vector<std::filesystem::path> reportDirectories;
    std::filesystem::path dataDirectory;
    // A journal directory to read instead of the system journal.
    std::optional<std::filesystem::path> journalDirectory;
};

// The log tool beside the running executable, reading the same journal as the log store.
[[nodiscard]] std::shared_ptr<const core::LogTool> createLogTool(const EvidenceSettings& settings);

// Where this machine keeps crash records: systemd-coredump's entries in the journal read by the
// log store, apport's reports (also in report directories given instead of the defaults),
// ABRT's problem directories, KWin's markers in the user's cache.
[[nodiscard]] std::vector<std::shared_ptr<const core::CrashRecordSource>>
crashRecordSourcesFor(const EvidenceSettings& settings);

// The providers of the diagnosis engine, in the application's order: crash reports, hang
// reports, the system log (250 entries, no raw lines). Their messages are in kWording.
[[nodiscard]] core::DiagnosisEngine::Providers createEvidenceProviders(const EvidenceSettings& settings);

} // namespace exitwise::platform
