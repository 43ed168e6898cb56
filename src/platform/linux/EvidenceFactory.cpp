// SPDX-License-Identifier: MIT
#include "platform/linux/EvidenceFactory.h"

#include "core/evidence/CrashReportProvider.h"
#include "core/evidence/ReportPaths.h"
#include "core/evidence/SpindumpProvider.h"
#include "core/evidence/UnifiedLogProvider.h"
#include "platform/linux/ApportReportSource.h"
#include "platform/linux/CrashRecordSources.h"
#include "platform/linux/JournalLogStore.h"
#include "platform/linux/SubprocessLogTool.h"

namespace exitwise::platform {

std::shared_ptr<const core::LogTool> createLogTool(const EvidenceSettings& settings)
{
    return std::make_shared<SubprocessLogTool>(SubprocessLogTool::besideCurrentExecutable(),
                                               settings.journalDirectory);
}

std::vector<std::shared_ptr<const core::CrashRecordSource>>
crashRecordSourcesFor(const EvidenceSettings& settings)
{
    CrashRecordSourceSettings sources;
    sources.journalDirectory = settings.journalDirectory;
    auto result = platform::createCrashRecordSources(sources);
    // Report directories given instead of the defaults may hold apport reports too.
    for (const std::filesystem::path& directory : settings.reportDirectories) {
        result.push_back(std::make_shared<ApportReportSource>(directory));
    }
    return result;
}

core::DiagnosisEngine::Providers createEvidenceProviders(const EvidenceSettings& settings)
{
    const std::vector<std::filesystem::path> reportPaths =
        settings.reportDirectories.empty() ? core::defaultReportSearchPaths(settings.dataDirectory)
                                           : settings.reportDirectories;
    core::CrashRecordOptions records;
    records.sources = crashRecordSourcesFor(settings);
    const core::UnifiedLogProviderOptions logOptions = core::UnifiedLogProviderOptions::forLinuxDesktop();
    return {
        std::make_shared<core::CrashReportProvider>(reportPaths, core::kDefaultMaxReportCandidates,
                                                    std::move(records), kWording),
        std::make_shared<core::SpindumpProvider>(reportPaths, core::kDefaultMaxReportCandidates, kWording),
        std::make_shared<core::UnifiedLogProvider>(
            std::make_shared<JournalLogStore>(settings.journalDirectory), createLogTool(settings),
            logOptions),
    };
}

} // namespace exitwise::platform
