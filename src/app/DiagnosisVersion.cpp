// SPDX-License-Identifier: MIT
#include "app/DiagnosisVersion.h"

#include "app/version.h"

namespace exitwise::app {

std::string diagnosisVersionText(const std::optional<std::string>& shortVersion,
                                 const std::optional<std::string>& buildNumber)
{
    const bool hasBuild = buildNumber && !buildNumber->empty();
    if (shortVersion) {
        if (hasBuild && !shortVersion->empty()) {
            return *shortVersion + "+" + *buildNumber;
        }
        return *shortVersion;
    }
    return hasBuild ? *buildNumber : "dev";
}

std::string currentDiagnosisVersion()
{
    // CMake always knows the project version; the build number is optional.
    return diagnosisVersionText(std::string(EXITWISE_SHORT_VERSION), std::string(EXITWISE_BUILD_NUMBER));
}

} // namespace exitwise::app
