// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/Signal.h"

#include <optional>
#include <string>
#include <string_view>

namespace exitwise::core {

// Turns the text of one crash report into a CrashReportSignal. Stateless and thread-safe;
// never fails: whatever is not found stays absent.
class CrashReportParser
{
public:
    // `text` is UTF-8 (plain report or JSON-bodied). `timestamp` is used when the report has no
    // parsable "Date/Time:". Dates without an offset are read in the current time zone (TZ).
    [[nodiscard]] static CrashReportSignal
    parse(std::string_view text, std::optional<std::string> sourcePath, Date timestamp);
};

namespace detail {

// The value after `key` on the first line that starts with it (case-sensitive, no leading
// blanks), trimmed; absent when that value is empty.
[[nodiscard]] std::optional<std::string> headerValue(std::string_view text, std::string_view key);

// A "Date/Time:" value in one of the accepted layouts ("2025-03-01 14:05:09[.123][ +0100]").
[[nodiscard]] std::optional<Date> parseReportDate(std::string_view value);

[[nodiscard]] std::optional<std::string> dyldErrorMessage(std::string_view text);

[[nodiscard]] std::optional<DyldFailureKind>
classifyDyldFailure(const std::optional<std::string>& message,
                    const std::optional<std::string>& terminationReason,
                    std::string_view text);

} // namespace detail

} // namespace exitwise::core
