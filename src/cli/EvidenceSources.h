// SPDX-License-Identifier: MIT
#pragma once

#include "core/DiagnosisEngine.h"

#include <optional>
#include <string>
#include <vector>

namespace exitwise::cli {

// Where `diagnose --collect` looks for fresh evidence.
struct EvidenceOptions
{
    bool collect = false;
    std::vector<std::string> reportDirectories; // empty: the default report directories
    std::string journalDirectory;               // empty: the system journal
};

// The providers `diagnose --collect` runs, in the application's order.
[[nodiscard]] core::DiagnosisEngine::Providers evidenceProviders(const EvidenceOptions& options);

} // namespace exitwise::cli
