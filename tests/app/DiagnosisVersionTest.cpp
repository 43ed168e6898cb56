// SPDX-License-Identifier: MIT
#include "app/DiagnosisVersion.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

TEST(DiagnosisVersion, CombinesShortVersionAndBuildNumber)
{
    struct Case
    {
        std::optional<std::string> shortVersion;
        std::optional<std::string> build;
        std::string expected;
    };
    const Case cases[] = {
        {"2.0", "15", "2.0+15"},
        {"2.0", "", "2.0"},
        {"2.0", std::nullopt, "2.0"},
        {std::nullopt, "15", "15"},
        {std::nullopt, std::nullopt, "dev"},
        {std::nullopt, "", "dev"},
        {"", "15", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(diagnosisVersionText(c.shortVersion, c.build), c.expected)
            << c.shortVersion.value_or("<none>") << " / " << c.build.value_or("<none>");
    }
    EXPECT_FALSE(currentDiagnosisVersion().empty()) << "this build's own";
}

} // namespace
} // namespace exitwise::app
