// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportParser.h"

#include "core/Text.h"

#include <chrono>
#include <ctime>
#include <initializer_list>
#include <utility>

namespace exitwise::core {

namespace {

// Yields the lines of a text split at line feeds; a trailing carriage return stays in the line.
class LineCursor
{
public:
    explicit LineCursor(std::string_view text)
        : m_text(text)
    {}

    [[nodiscard]] bool next(std::string_view& line)
    {
        if (m_pos > m_text.size()) {
            return false;
        }
        const std::size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos) {
            line = m_text.substr(m_pos);
            m_pos = m_text.size() + 1;
        } else {
            line = m_text.substr(m_pos, end - m_pos);
            m_pos = end + 1;
        }
        return true;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool containsAny(std::string_view lowered, std::initializer_list<std::string_view> needles)
{
    for (const std::string_view needle : needles) {
        if (lowered.find(needle) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// Cursor over a date value; every reader consumes only on success.
class DateScanner
{
public:
    explicit DateScanner(std::string_view text)
        : m_text(text)
    {}

    [[nodiscard]] bool atEnd() const { return m_pos == m_text.size(); }

    bool literal(char c)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    // Between minDigits and maxDigits ASCII digits; `count` receives how many were read.
    std::optional<long> number(std::size_t minDigits, std::size_t maxDigits, std::size_t* count = nullptr)
    {
        long value = 0;
        std::size_t n = 0;
        while (n < maxDigits && m_pos + n < m_text.size() && m_text[m_pos + n] >= '0'
               && m_text[m_pos + n] <= '9') {
            value = value * 10 + (m_text[m_pos + n] - '0');
            ++n;
        }
        if (n < minDigits) {
            return std::nullopt;
        }
        m_pos += n;
        if (count != nullptr) {
            *count = n;
        }
        return value;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// "+0100", "-0800" or "+01:00", as seconds east of UTC.
std::optional<long> parseOffset(DateScanner& scanner)
{
    int sign = 0;
    if (scanner.literal('+')) {
        sign = 1;
    } else if (scanner.literal('-')) {
        sign = -1;
    } else {
        return std::nullopt;
    }
    const auto hours = scanner.number(2, 2);
    if (!hours) {
        return std::nullopt;
    }
    scanner.literal(':');
    const auto minutes = scanner.number(2, 2);
    if (!minutes || *hours > 23 || *minutes > 59) {
        return std::nullopt;
    }
    return sign * (*hours * 3600 + *minutes * 60);
}

std::optional<std::time_t>
localTimeToEpoch(std::chrono::year_month_day ymd, long hour, long minute, long second)
{
    std::tm fields{};
    fields.tm_year = static_cast<int>(ymd.year()) - 1900;
    fields.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    fields.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    fields.tm_hour = static_cast<int>(hour);
    fields.tm_min = static_cast<int>(minute);
    fields.tm_sec = static_cast<int>(second);
    fields.tm_isdst = -1;
    // Pick up a TZ changed since the last conversion.
    tzset();
    const std::time_t result = std::mktime(&fields);
    if (result == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return result;
}

std::optional<DyldFailureKind>
classifyLowered(std::string_view message, std::string_view reason, std::string_view text)
{
    // Keywords never hold a line feed, so testing the parts one by one equals testing them joined.
    const auto anyPart = [&](std::initializer_list<std::string_view> needles) {
        return containsAny(message, needles) || containsAny(reason, needles) || containsAny(text, needles);
    };
    if (!anyPart(
            {"dyld", "library not loaded", "image not found", "wrong architecture", "library validation"})) {
        return std::nullopt;
    }
    if (anyPart({"library not loaded", "image not found", "no such file"})) {
        return DyldFailureKind::missingLibrary;
    }
    if (anyPart({"wrong architecture", "incompatible architecture", "bad cpu type in executable"})) {
        return DyldFailureKind::wrongArchitecture;
    }
    if (anyPart({"library validation", "not valid for use in process", "code signature"})) {
        return DyldFailureKind::libraryValidation;
    }
    if (reason.find("dyld") != std::string_view::npos) {
        return DyldFailureKind::other;
    }
    if (anyPart({"dyld error", "dyld:", "symbol not found", "could not load inserted library",
                 "abort_with_payload"})) {
        return DyldFailureKind::other;
    }
    return std::nullopt;
}

} // namespace

namespace detail {

std::optional<std::string> headerValue(std::string_view text, std::string_view key)
{
    LineCursor lines(text);
    std::string_view line;
    while (lines.next(line)) {
        if (line.starts_with(key)) {
            std::string value = text::trimmed(line.substr(key.size()));
            if (value.empty()) {
                return std::nullopt;
            }
            return value;
        }
    }
    return std::nullopt;
}

std::optional<Date> parseReportDate(std::string_view value)
{
    using namespace std::chrono;
    DateScanner scanner(value);
    const auto y = scanner.number(4, 4);
    if (!y || !scanner.literal('-')) {
        return std::nullopt;
    }
    const auto mo = scanner.number(1, 2);
    if (!mo || !scanner.literal('-')) {
        return std::nullopt;
    }
    const auto d = scanner.number(1, 2);
    if (!d || !scanner.literal(' ')) {
        return std::nullopt;
    }
    const auto h = scanner.number(1, 2);
    if (!h || !scanner.literal(':')) {
        return std::nullopt;
    }
    const auto mi = scanner.number(1, 2);
    if (!mi || !scanner.literal(':')) {
        return std::nullopt;
    }
    const auto s = scanner.number(1, 2);
    if (!s) {
        return std::nullopt;
    }
    double fraction = 0.0;
    if (scanner.literal('.')) {
        std::size_t digits = 0;
        const auto f = scanner.number(1, 9, &digits);
        if (!f) {
            return std::nullopt;
        }
        fraction = static_cast<double>(*f);
        for (std::size_t i = 0; i < digits; ++i) {
            fraction /= 10.0;
        }
    }
    std::optional<long> offset;
    if (scanner.literal(' ')) {
        offset = parseOffset(scanner);
        if (!offset) {
            return std::nullopt;
        }
    }
    if (!scanner.atEnd()) {
        return std::nullopt;
    }

    const year_month_day ymd{year{static_cast<int>(*y)}, month{static_cast<unsigned>(*mo)},
                             day{static_cast<unsigned>(*d)}};
    if (!ymd.ok() || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    double epochSeconds = 0.0;
    if (offset) {
        const auto utc = sys_days(ymd) + hours(*h) + minutes(*mi) + seconds(*s) - seconds(*offset);
        epochSeconds = static_cast<double>(utc.time_since_epoch().count());
    } else {
        const auto local = localTimeToEpoch(ymd, *h, *mi, *s);
        if (!local) {
            return std::nullopt;
        }
        epochSeconds = static_cast<double>(*local);
    }
    return dateFromSecondsSince1970(epochSeconds + fraction);
}

std::optional<std::string> dyldErrorMessage(std::string_view text)
{
    constexpr std::string_view kKey = "Dyld Error Message:";
    LineCursor lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string trimmedLine = text::trimmed(line);
        if (trimmedLine.starts_with("dyld:")) {
            return trimmedLine;
        }
        if (trimmedLine.starts_with(kKey)) {
            std::string rest = text::trimmed(std::string_view(trimmedLine).substr(kKey.size()));
            if (!rest.empty()) {
                return rest;
            }
            // The message often sits on the line below the key. Peek without consuming it.
            LineCursor peek = lines;
            std::string_view nextLine;
            if (peek.next(nextLine)) {
                std::string following = text::trimmed(nextLine);
                if (!following.empty()) {
                    return following;
                }
            }
            continue;
        }
        if (trimmedLine.find("Library not loaded:") != std::string::npos) {
            return trimmedLine;
        }
    }
    return std::nullopt;
}

std::optional<DyldFailureKind> classifyDyldFailure(const std::optional<std::string>& message,
                                                   const std::optional<std::string>& terminationReason,
                                                   std::string_view text)
{
    const std::string loweredMessage = message ? text::lowercased(*message) : std::string();
    const std::string loweredReason =
        terminationReason ? text::lowercased(*terminationReason) : std::string();
    return classifyLowered(loweredMessage, loweredReason, text::lowercased(text));
}

} // namespace detail

CrashReportSignal
CrashReportParser::parse(std::string_view text, std::optional<std::string> sourcePath, Date timestamp)
{
    CrashReportSignal signal;
    signal.timestamp = timestamp;
    if (const auto dateText = detail::headerValue(text, "Date/Time:")) {
        if (const auto date = detail::parseReportDate(*dateText)) {
            signal.timestamp = *date;
        }
    }
    signal.sourcePath = std::move(sourcePath);
    signal.exceptionType = detail::headerValue(text, "Exception Type:");
    signal.terminationReason = detail::headerValue(text, "Termination Reason:");
    signal.terminationSignal = detail::headerValue(text, "Termination Signal:");
    if (!signal.terminationSignal) {
        signal.terminationSignal = detail::headerValue(text, "Signal:");
    }
    signal.dyldErrorMessage = detail::dyldErrorMessage(text);

    const std::string lowered = text::lowercased(text);
    signal.dyldFailureKind = classifyLowered(
        signal.dyldErrorMessage ? text::lowercased(*signal.dyldErrorMessage) : std::string(),
        signal.terminationReason ? text::lowercased(*signal.terminationReason) : std::string(), lowered);
    signal.suspectedDyldFailure =
        (signal.dyldErrorMessage && !signal.dyldErrorMessage->empty()) || signal.dyldFailureKind.has_value();
    signal.suspectedJetsamMemory =
        containsAny(lowered, {"jetsam", "memory pressure", "resource_type_memory"});
    signal.suspectedWatchdogHang =
        containsAny(lowered, {"watchdog", "application not responding", "spindump"});
    return signal;
}

} // namespace exitwise::core
