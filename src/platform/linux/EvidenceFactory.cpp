// SPDX-License-Identifier: MIT
#include "platform/linux/EvidenceFactory.h"

#include "core/evidence/CrashReportProvider.h"
#include "core/evidence/ReportPaths.h"
#include "core/evidence/SpindumpProvider.h"
#include "core/evidence/UnifiedLogProvider.h"
#include "platform/linux/JournalLogStore.h"
#include "platform/linux/SubprocessLogTool.h"

namespace exitwise::platform {

std::shared_ptr<const core::LogTool> createLogTool(const EvidenceSettings& settings)
{
    return std::make_shared<SubprocessLogTool>(SubprocessLogTool::besideCurrentExecutable(),
                                               settings.journalDirectory);
}

core::DiagnosisEngine::Providers createEvidenceProviders(const EvidenceSettings& settings)
{
    const std::vector<std::filesystem::path> reportPaths =
        settings.reportDirectories.empty() ? core::defaultReportSearchPaths(settings.dataDirectory)
                                           : settings.reportDirectories;
    core::UnifiedLogProviderOptions logOptions;
    logOptions.maxEntries = 250;
    logOptions.includeRawEntries = false;
    return {
        std::make_shared<core::CrashReportProvider>(reportPaths, core::kDefaultMaxReportCandidates),
        std::make_shared<core::SpindumpProvider>(reportPaths, core::kDefaultMaxReportCandidates),
        std::make_shared<core::UnifiedLogProvider>(
            std::make_shared<JournalLogStore>(settings.journalDirectory), createLogTool(settings),
            logOptions),
    };
}

} // namespace exitwise::platform
