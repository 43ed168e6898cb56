// SPDX-License-Identifier: MIT
#include "platform/linux/CrashRecordSources.h"

#include "core/evidence/UnresponsiveMarker.h"
#include "platform/linux/AbrtProblemSource.h"
#include "platform/linux/ApportReportSource.h"
#include "platform/linux/JournalCoredumpSource.h"
#include "platform/linux/UnresponsiveMarkerSource.h"
#include "sys/FileIo.h"

#include <cstdlib>

namespace exitwise::platform {

namespace {

std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name)
{
    const std::optional<std::string> value = sys::environment(name);
    if (!value || value->front() != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(*value);
}

} // namespace

std::vector<std::shared_ptr<const core::CrashRecordSource>>
createCrashRecordSources(const CrashRecordSourceSettings& settings)
{
    std::vector<std::shared_ptr<const core::CrashRecordSource>> sources;
    sources.push_back(std::make_shared<JournalCoredumpSource>(settings.journalDirectory));
    sources.push_back(std::make_shared<ApportReportSource>(
        settings.apportDirectory.value_or(std::filesystem::path(ApportReportSource::kDefaultDirectory))));
    sources.push_back(std::make_shared<AbrtProblemSource>(
        settings.abrtDirectory.value_or(std::filesystem::path(AbrtProblemSource::kDefaultDirectory))));
    if (const auto cache = settings.cacheDirectory ? settings.cacheDirectory : userCacheDirectory()) {
        sources.push_back(std::make_shared<UnresponsiveMarkerSource>(
            *cache / std::filesystem::path(core::UnresponsiveMarker::kCacheSubdirectory)));
    }
    return sources;
}

std::optional<std::filesystem::path> userCacheDirectory()
{
    if (auto cache = absoluteFromEnvironment("XDG_CACHE_HOME")) {
        return cache;
    }
    if (const auto home = absoluteFromEnvironment("HOME")) {
        return *home / ".cache";
    }
    return std::nullopt;
}

} // namespace exitwise::platform
