// SPDX-License-Identifier: MIT
#include "platform/linux/SubprocessLogTool.h"

#include "core/Text.h"
#include "platform/linux/LocalTime.h"
#include "platform/linux/Subprocess.h"

#include <system_error>
#include <utility>

namespace exitwise::platform {

SubprocessLogTool::SubprocessLogTool(std::filesystem::path executable,
                                     std::optional<std::filesystem::path> journalDirectory)
    : m_executable(std::move(executable))
    , m_journalDirectory(std::move(journalDirectory))
{}

std::string SubprocessLogTool::show(core::Date start,
                                    core::Date end,
                                    std::string_view predicate,
                                    std::chrono::milliseconds timeout) const
{
    SubprocessOptions options;
    options.timeout = timeout;
    if (m_journalDirectory) {
        options.environment.push_back("EXITWISE_JOURNAL_DIR=" + m_journalDirectory->string());
    }
    const SubprocessResult result =
        runSubprocess(m_executable.string(), arguments(start, end, predicate), options);
    if (result.standardOutput.empty()) {
        return {};
    }
    return core::text::sanitizedUtf8(result.standardOutput);
}

std::vector<std::string>
SubprocessLogTool::arguments(core::Date start, core::Date end, std::string_view predicate)
{
    return {"show",
            "--style",
            "syslog",
            "--start",
            formatLocalDateTime(start),
            "--end",
            formatLocalDateTime(end),
            "--predicate",
            std::string(predicate)};
}

std::filesystem::path SubprocessLogTool::besideCurrentExecutable()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return self.parent_path() / "exitwise-log";
}

} // namespace exitwise::platform
