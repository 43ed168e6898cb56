// SPDX-License-Identifier: MIT
#include "app/DiagnosisVersion.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

TEST(DiagnosisVersion, CombinesShortVersionAndBuildNumber)
{
    using Version = std::optional<std::string>;
    const std::tuple<Version, Version, std::string> cases[] = {
        {"2.0", "15", "2.0+15"},
        {"2.0", "", "2.0"},
        {"2.0", std::nullopt, "2.0"},
        {std::nullopt, "15", "15"},
        {std::nullopt, std::nullopt, "dev"},
        {std::nullopt, "", "dev"},
        {"", "15", ""},
    };
    for (const auto& [shortVersion, build, expected] : cases) {
        EXPECT_EQ(diagnosisVersionText(shortVersion, build), expected)
            << shortVersion.value_or("<none>") << " / " << build.value_or("<none>");
    }
}

} // namespace
} // namespace exitwise::app
