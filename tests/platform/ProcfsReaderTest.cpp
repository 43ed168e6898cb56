// SPDX-License-Identifier: MIT
#include "platform/linux/ProcfsReader.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

// The line of "<pid> (<comm>) <state>", cut after field 25 as older kernels write it, or with all
// 52 fields of a current kernel's, the last the exit code.
std::string
statLine(const std::string& head, int ppid, const std::string& start, const std::string& exitCode = "")
{
    std::string line = head + " " + std::to_string(ppid) + " 1 1 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 1 0 "
                       + start + " 1000 50 18446744073709551615";
    for (int field = 26; !exitCode.empty() && field <= 52; ++field) {
        line += " " + (field < 52 ? std::to_string(field) : exitCode);
    }
    return line + "\n";
}

TEST(ProcStat, ParsesTheFieldsAfterTheLastParenthesis)
{
    const std::uint64_t latest = 18446744073709551615ULL;
    const struct
    {
        std::string line;
        std::optional<ProcStat> stat;
    } cases[] = {
        // clang-format off
        {statLine("1234 (gedit) S", 1000, "987654"), ProcStat{"gedit", 'S', 1000, 987654, std::nullopt}},
        {statLine("78 (a) b (c)) Z", 2, "18446744073709551615"),
         ProcStat{"a) b (c)", 'Z', 2, latest, std::nullopt}},
        {statLine("1234 (gedit) Z", 1000, "987654", "139"), ProcStat{"gedit", 'Z', 1000, 987654, 139}},
        {statLine("1234 (gedit) Z", 1000, "987654", "x"), ProcStat{"gedit", 'Z', 1000, 987654, std::nullopt}},
        {"1234 (gedit) S 1000 1 1", std::nullopt},              // cut short
        {statLine("1234 gedit S", 1, "5"), std::nullopt},       // no parentheses
        {statLine("1234 (gedit) S", 1, "x5"), std::nullopt},    // not a number
        {statLine("1234 (gedit) SS", 1, "5"), std::nullopt},    // not a state
        {"", std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseProcStat(c.line), c.stat) << c.line;
    }
}

TEST(ProcStat, TheUnifiedHierarchyNamesTheControlGroup)
{
    const std::string unit =
        "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.gnome.Evince-12345.scope";
    const struct
    {
        std::string text;
        std::string path;
    } cases[] = {
        // clang-format off
        {"0::" + unit + "\n", unit},
        {"12:cpu:/\n1:name=systemd:/user.slice/session-2.scope\n0::/user.slice/session-2.scope\n",
         "/user.slice/session-2.scope"},
        {"0::/", "/"},
        {"1:name=systemd:/user.slice/session-2.scope\n", ""},
        {"10::/not-unified\n", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unifiedCgroupPath(c.text), c.path) << c.text;
    }
}

} // namespace
} // namespace exitwise::platform
