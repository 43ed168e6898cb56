// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <cstdint>
#include <optional>
#include <string>

namespace exitwise::core {

// One message read from the system log, as the log store hands it to the provider.
struct LogEntry
{
    Date date;
    // The name of the program that logged the message.
    std::string process;
    // Absent when the source does not know it (kernel messages).
    std::optional<std::int32_t> processIdentifier;
    // Executable path of the logging process; empty when unknown.
    std::string imagePath;
    std::string message;

    friend bool operator==(const LogEntry&, const LogEntry&) = default;
};

} // namespace exitwise::core
