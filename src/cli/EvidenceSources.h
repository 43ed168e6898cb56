// SPDX-License-Identifier: MIT
#pragma once

#include "core/DiagnosisEngine.h"
#include "platform/linux/EvidenceFactory.h"

#include <filesystem>
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

[[nodiscard]] platform::EvidenceSettings evidenceSettings(const EvidenceOptions& options,
                                                          const std::filesystem::path& dataDirectory);

// The providers `diagnose --collect` runs, in the application's order.
[[nodiscard]] core::DiagnosisEngine::Providers evidenceProviders(const EvidenceOptions& options);

} // namespace exitwise::cli
