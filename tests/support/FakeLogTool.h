// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/LogTool.h"

#include <mutex>
#include <optional>
#include <string>

namespace exitwise::test {

// Prints a fixed text and remembers what it was asked.
class FakeLogTool final : public core::LogTool
{
public:
    struct Call
    {
        core::Date start;
        core::Date end;
        std::string predicate;
        std::chrono::milliseconds timeout{};
    };

    explicit FakeLogTool(std::string output = {})
        : m_output(std::move(output))
    {}

    [[nodiscard]] std::string show(core::Date start,
                                   core::Date end,
                                   std::string_view predicate,
                                   std::chrono::milliseconds timeout) const override
    {
        const std::lock_guard lock(m_mutex);
        m_lastCall = Call{start, end, std::string(predicate), timeout};
        return m_output;
    }

    [[nodiscard]] std::optional<Call> lastCall() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lastCall;
    }

private:
    std::string m_output;
    mutable std::mutex m_mutex;
    mutable std::optional<Call> m_lastCall;
};

} // namespace exitwise::test
