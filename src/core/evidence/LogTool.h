// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <chrono>
#include <string>
#include <string_view>

namespace exitwise::core {

// The system's command-line log tool, run once per query: "show" in syslog style over a time
// window with a predicate in LogPredicate's text form.
class LogTool
{
public:
    virtual ~LogTool() = default;

    // What the tool printed on standard output, as valid UTF-8 (invalid sequences replaced);
    // empty when it could not be launched or printed nothing. A tool still running after
    // `timeout` is terminated and what it printed so far is returned. Blocks the caller for
    // about `timeout` at most; safe to call from several threads at once.
    [[nodiscard]] virtual std::string
    show(Date start, Date end, std::string_view predicate, std::chrono::milliseconds timeout) const = 0;
};

} // namespace exitwise::core
