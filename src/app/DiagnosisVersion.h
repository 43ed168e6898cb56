// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace exitwise::app {

// The version text of a program with the given marketing version and build number:
// "1.4+27", "1.4" without a build, the build alone without a version, "dev" with neither.
// An empty short version is kept as it stands.
[[nodiscard]] std::string diagnosisVersionText(const std::optional<std::string>& shortVersion,
                                               const std::optional<std::string>& buildNumber);

// The version text of this build; stored with every diagnosis so that a later version can
// tell whether its verdict changed.
[[nodiscard]] std::string currentDiagnosisVersion();

} // namespace exitwise::app
