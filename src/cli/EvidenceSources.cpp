// SPDX-License-Identifier: MIT
#include "cli/EvidenceSources.h"

#include "app/DataDirectory.h"
#include "core/evidence/CrashReportProvider.h"
#include "core/evidence/ReportPaths.h"
#include "core/evidence/SpindumpProvider.h"

#include <filesystem>

namespace exitwise::cli {

core::DiagnosisEngine::Providers evidenceProviders(const EvidenceOptions& options)
{
    std::vector<std::filesystem::path> reportPaths;
    if (options.reportDirectories.empty()) {
        // Resolved only: reading never creates the data directory.
        reportPaths = core::defaultReportSearchPaths(app::resolveAppSupportDirectory());
    } else {
        reportPaths.assign(options.reportDirectories.begin(), options.reportDirectories.end());
    }
    return {
        std::make_shared<core::CrashReportProvider>(reportPaths, core::kDefaultMaxReportCandidates),
        std::make_shared<core::SpindumpProvider>(reportPaths, core::kDefaultMaxReportCandidates),
    };
}

} // namespace exitwise::cli
