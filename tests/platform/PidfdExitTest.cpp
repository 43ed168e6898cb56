// SPDX-License-Identifier: MIT
#include "platform/linux/PidfdExit.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

TEST(ProcessExit, ComesFromTheWaitStatus)
{
    using core::ProcessExit;
    const struct
    {
        int status;
        ProcessExit exit;
    } cases[] = {
        // clang-format off
        {0x0100, ProcessExit::exited(1)},
        {0xff00, ProcessExit::exited(255)},
        {9,      ProcessExit::signaled("SIGKILL", false)},
        {0x8b,   ProcessExit::signaled("SIGSEGV", true)},
        {6,      ProcessExit::signaled("SIGABRT", false)},
        {0x137f, ProcessExit::unknown()}, // stopped by SIGSTOP: not an end
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(exitFromWaitStatus(c.status), c.exit) << c.status;
    }
}

} // namespace
} // namespace exitwise::platform
