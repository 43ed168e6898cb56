// SPDX-License-Identifier: MIT
#include "cli/EvidenceSources.h"

#include "app/DataDirectory.h"
#include "platform/linux/EvidenceFactory.h"

namespace exitwise::cli {

platform::EvidenceSettings evidenceSettings(const EvidenceOptions& options,
                                            const std::filesystem::path& dataDirectory)
{
    platform::EvidenceSettings settings;
    settings.reportDirectories.assign(options.reportDirectories.begin(), options.reportDirectories.end());
    settings.dataDirectory = dataDirectory;
    if (!options.journalDirectory.empty()) {
        settings.journalDirectory = std::filesystem::path(options.journalDirectory);
    }
    return settings;
}

core::DiagnosisEngine::Providers evidenceProviders(const EvidenceOptions& options)
{
    // Resolved only: reading evidence never creates the data directory.
    return platform::createEvidenceProviders(evidenceSettings(options, app::resolveAppSupportDirectory()));
}

} // namespace exitwise::cli
