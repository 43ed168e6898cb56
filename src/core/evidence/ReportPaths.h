// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <vector>

namespace exitwise::core {

// How many ranked report files the providers open at most in the shipped configuration.
inline constexpr int kDefaultMaxReportCandidates = 3;

// The directories searched for crash and hang reports on Linux, in search order: the user's
// own reports under the data directory, then the system-wide crash directory.
[[nodiscard]] inline std::vector<std::filesystem::path>
defaultReportSearchPaths(const std::filesystem::path& dataDirectory)
{
    return {dataDirectory / "DiagnosticReports", "/var/crash"};
}

} // namespace exitwise::core
