// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/Signal.h"
#include "support/Files.h"

#include <sys/stat.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::test {

// A temporary directory of report files whose modification times are set around `reference`,
// since the providers pick reports by those times.
class ReportDirectory : public TempDir
{
public:
    explicit ReportDirectory(core::Date reference)
        : TempDir("exitwise-reports")
        , m_reference(reference)
    {}

    // Writes `name`, modified `offset` seconds after the reference.
    std::filesystem::path write(const std::string& name, std::string_view content, double offset = 0) const
    {
        std::ofstream(path() / name, std::ios::binary) << content;
        touch(name, offset);
        return path() / name;
    }

    // Dates the entry `name` itself (not a link's target) `offset` seconds after the reference.
    void touch(const std::string& name, double offset) const
    {
        timespec times[2]{};
        times[0].tv_sec = static_cast<time_t>(core::secondsSince1970(m_reference) + offset);
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, (path() / name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << name;
    }

private:
    core::Date m_reference;
};

// The file name of the report whose signals came back, or "" when none did.
inline std::string chosenReport(const std::vector<core::Signal>& signals)
{
    if (signals.empty()) {
        return "";
    }
    const auto* report = signals.front().as<core::CrashReportSignal>();
    return report && report->sourcePath ? std::filesystem::path(*report->sourcePath).filename().string()
                                        : "?";
}

} // namespace exitwise::test
