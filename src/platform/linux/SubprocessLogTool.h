// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/LogTool.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {

// The log tool as a child process: `exitwise-log` on Linux, started with the same nine
// arguments the system tool takes. Dates are passed in the local time zone.
class SubprocessLogTool final : public core::LogTool
{
public:
    // A journal directory, when given, reaches the tool as EXITWISE_JOURNAL_DIR so that it reads
    // the same journal as the log store.
    explicit SubprocessLogTool(std::filesystem::path executable,
                               std::optional<std::filesystem::path> journalDirectory = std::nullopt);

    [[nodiscard]] std::string show(core::Date start,
                                   core::Date end,
                                   std::string_view predicate,
                                   std::chrono::milliseconds timeout) const override;

    // show --style syslog --start S --end E --predicate P
    [[nodiscard]] static std::vector<std::string>
    arguments(core::Date start, core::Date end, std::string_view predicate);

    // exitwise-log in the directory of the running executable; empty when that is unknown.
    [[nodiscard]] static std::filesystem::path besideCurrentExecutable();

private:
    std::filesystem::path m_executable;
    std::optional<std::filesystem::path> m_journalDirectory;
};

} // namespace exitwise::platform
