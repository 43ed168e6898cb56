// SPDX-License-Identifier: MIT
#include "core/evidence/LinuxCrashRecords.h"

#include "core/Text.h"
#include "core/evidence/LinuxSignals.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ctime>
#include <vector>

namespace exitwise::core::linuxcrashrecords {

namespace {

// A report line is kept up to here: enough for a key and a capped value.
constexpr std::size_t kMaxLineBytes = kMaxValueBytes + 64;

bool isBlankByte(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmedAscii(std::string_view text)
{
    while (!text.empty() && isBlankByte(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlankByte(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Records end up in JSON, which takes only valid UTF-8.
std::string keptText(std::string_view text)
{
    text = text.substr(0, kMaxValueBytes);
    if (text::isValidUtf8(text)) {
        return std::string(text);
    }
    return text::sanitizedUtf8(text);
}

std::string_view firstLine(std::string_view text)
{
    return text.substr(0, text.find('\n'));
}

template <class Integer> std::optional<Integer> decimal(std::string_view text)
{
    text = trimmedAscii(text);
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> positivePid(std::string_view text)
{
    const auto value = decimal<std::int32_t>(text);
    if (!value || *value <= 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<Date> dateFromSeconds(std::string_view text)
{
    const auto seconds = decimal<std::int64_t>(text);
    if (!seconds || *seconds <= 0) {
        return std::nullopt;
    }
    const Date date = dateFromSecondsSince1970(static_cast<double>(*seconds));
    return isSupportedDate(date) ? std::optional(date) : std::nullopt;
}

// The value of `key` in a /proc/PID/status text ("PPid:\t4450").
std::optional<std::string_view> statusValue(std::string_view status, std::string_view key)
{
    while (!status.empty()) {
        const std::string_view line = firstLine(status);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ':') {
            return trimmedAscii(line.substr(key.size() + 1));
        }
        status.remove_prefix(std::min(status.size(), line.size() + 1));
    }
    return std::nullopt;
}

// A control group path, given as a path or as /proc/PID/cgroup text (its "0::/…" line).
std::string cgroupPath(std::string_view text)
{
    for (std::string_view rest = text; !rest.empty();) {
        const std::string_view line = trimmedAscii(firstLine(rest));
        if (line.starts_with("0::/")) {
            return keptText(line.substr(3));
        }
        rest.remove_prefix(std::min(rest.size(), firstLine(rest).size() + 1));
    }
    const std::string_view trimmed = trimmedAscii(text);
    if (trimmed.starts_with('/') && trimmed.find('\n') == std::string_view::npos) {
        return keptText(trimmed);
    }
    return {};
}

std::string signalFromNumber(std::string_view text)
{
    const auto number = decimal<int>(text);
    if (!number || *number < 1 || *number > 64) {
        return {};
    }
    return linuxsignals::name(*number);
}

// "SIGSEGV" as is; names of signals without a fixed number ("SIGRTMIN+3") kept when they look
// like one.
std::string signalFromName(std::string_view text)
{
    text = trimmedAscii(text);
    if (const auto number = linuxsignals::number(text)) {
        return linuxsignals::name(*number);
    }
    const bool shaped =
        text.size() > 3 && text.size() <= 16 && text.starts_with("SIG")
        && std::all_of(text.begin() + 3, text.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-';
           });
    return shaped ? std::string(text) : std::string();
}

// ABRT names the signal in its reason: "notes-bin killed by SIGSEGV", "… killed by signal 11",
// and from older hooks "… killed by SIG11" when the number had no name.
std::string signalInReason(std::string_view reason)
{
    const auto after = [&](std::string_view marker) -> std::optional<std::string_view> {
        const std::size_t at = reason.find(marker);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view rest = reason.substr(at + marker.size());
        std::size_t length = 0;
        while (length < rest.size()
               && ((rest[length] >= 'A' && rest[length] <= 'Z')
                   || (rest[length] >= '0' && rest[length] <= '9') || rest[length] == '+')) {
            ++length;
        }
        return rest.substr(0, length);
    };
    if (const auto word = after("killed by SIG"); word && !word->empty()) {
        if (std::all_of(word->begin(), word->end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return signalFromNumber(*word);
        }
        return signalFromName("SIG" + std::string(*word));
    }
    if (const auto number = after("killed by signal "); number && !number->empty()) {
        return signalFromNumber(*number);
    }
    return {};
}

// The program of a command line whose first word is an absolute path. apport escapes spaces
// and backslashes in ProcCmdline ("/opt/My\ App/app").
std::string executableInCommandLine(std::string_view commandLine)
{
    commandLine = trimmedAscii(commandLine);
    if (!commandLine.starts_with('/')) {
        return {};
    }
    std::string program;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '\\' && i + 1 < commandLine.size()) {
            program.push_back(commandLine[++i]);
        } else if (c == ' ' || c == '\t' || c == '\n') {
            break;
        } else {
            program.push_back(c);
        }
    }
    return keptText(program);
}

bool namesProcess(const CrashRecord& record)
{
    return record.pid || !record.command.empty() || !record.executable.empty();
}

} // namespace

std::optional<CrashRecord> coredumpRecord(const ItemLookup& field, Date entryTime)
{
    const auto value = [&](std::string_view name) { return field(name).value_or(std::string()); };
    CrashRecord record;
    record.kind = CrashRecord::Kind::crash;
    record.pid = positivePid(value("COREDUMP_PID"));
    record.command = keptText(trimmedAscii(value("COREDUMP_COMM")));
    record.executable = keptText(trimmedAscii(value("COREDUMP_EXE")));
    const std::string status = value("COREDUMP_PROC_STATUS");
    if (record.command.empty()) {
        record.command = keptText(statusValue(status, "Name").value_or(""));
    }
    if (!namesProcess(record)) {
        return std::nullopt;
    }
    record.parentPid = positivePid(statusValue(status, "PPid").value_or(""));
    record.signal = signalFromName(value("COREDUMP_SIGNAL_NAME"));
    if (record.signal.empty()) {
        record.signal = signalFromNumber(value("COREDUMP_SIGNAL"));
    }
    record.timestamp = entryTime;
    if (const auto microseconds = decimal<std::int64_t>(value("COREDUMP_TIMESTAMP"));
        microseconds && *microseconds > 0) {
        const Date crashedAt = dateFromSecondsSince1970(static_cast<double>(*microseconds) / 1e6);
        if (isSupportedDate(crashedAt)) {
            record.timestamp = crashedAt;
        }
    }
    record.cgroup = keptText(trimmedAscii(value("COREDUMP_CGROUP")));
    const std::string file = keptText(trimmedAscii(value("COREDUMP_FILENAME")));
    record.source = file.empty() ? std::string(kCoredumpJournalSource) : file;
    record.message = keptText(trimmedAscii(firstLine(value("MESSAGE"))));
    return record;
}

void ApportReportReader::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (m_atLineStart) {
            m_atLineStart = false;
            // Continuation lines of values nobody reads, the core dump's among them.
            m_skippingLine = bytes.front() == ' ' && m_key == Key::other;
        }
        const std::size_t newline = bytes.find('\n');
        if (!m_skippingLine) {
            const std::string_view part = bytes.substr(0, newline);
            const std::size_t room = kMaxLineBytes - m_line.size();
            m_line.append(part.substr(0, room));
        }
        if (newline == std::string_view::npos) {
            return;
        }
        endLine();
        bytes.remove_prefix(newline + 1);
    }
}

void ApportReportReader::endLine()
{
    if (!m_skippingLine) {
        readLine(m_line);
    }
    m_line.clear();
    m_skippingLine = false;
    m_atLineStart = true;
}

void ApportReportReader::readLine(std::string_view line)
{
    if (line.starts_with(' ')) {
        // "Key:\n value line\n value line": one line of a multi-line value.
        const std::string_view content = line.substr(1);
        if (m_key == Key::procStatus) {
            const std::size_t colon = content.find(':');
            const std::string_view name = content.substr(0, colon);
            const std::string_view value = colon == std::string_view::npos ? "" : content.substr(colon + 1);
            if (name == "Name") {
                m_command = keptText(trimmedAscii(value));
            } else if (name == "Pid") {
                m_pid = positivePid(value);
            } else if (name == "PPid") {
                m_parentPid = positivePid(value);
            }
        } else if (m_key == Key::procCgroup && trimmedAscii(content).starts_with("0::/")) {
            m_cgroup = keptText(trimmedAscii(content).substr(3));
        }
        return;
    }
    m_key = Key::other;
    const std::size_t colon = line.find(':');
    const std::string_view key = line.substr(0, colon);
    if (colon == std::string_view::npos || key.empty()
        || !std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 0x7f; })) {
        return;
    }
    std::string_view value = line.substr(colon + 1);
    if (value.starts_with(' ')) {
        value.remove_prefix(1);
    }
    if (trimmedAscii(value) == "base64") {
        m_sawBinaryValue = true;
        return;
    }
    // A key given twice (a report added to later) keeps its last value, as apport reads it.
    const auto assign = [&](Key which, std::string& target) {
        m_key = which;
        target = keptText(trimmedAscii(value));
    };
    if (key == "ProblemType") {
        assign(Key::problemType, m_problemType);
    } else if (key == "Date") {
        assign(Key::date, m_date);
    } else if (key == "ExecutablePath") {
        assign(Key::executablePath, m_executablePath);
    } else if (key == "ProcCmdline") {
        assign(Key::procCmdline, m_procCmdline);
    } else if (key == "Signal") {
        assign(Key::signal, m_signal);
    } else if (key == "SignalName") {
        assign(Key::signalName, m_signalName);
    } else if (key == "ProcStatus") {
        m_key = Key::procStatus;
        m_command.clear();
        m_pid.reset();
        m_parentPid.reset();
    } else if (key == "ProcCgroup") {
        m_key = Key::procCgroup;
        m_cgroup = cgroupPath(value);
    }
}

std::optional<CrashRecord> ApportReportReader::record(Date modifiedAt, std::string source) const
{
    ApportReportReader reader = *this;
    if (!reader.m_atLineStart) {
        reader.endLine();
    }
    if (reader.m_problemType != "Crash") {
        return std::nullopt;
    }
    CrashRecord record;
    record.kind = CrashRecord::Kind::crash;
    record.pid = reader.m_pid;
    record.parentPid = reader.m_parentPid;
    record.command = reader.m_command;
    record.executable = reader.m_executablePath;
    if (record.executable.empty()) {
        record.executable = executableInCommandLine(reader.m_procCmdline);
    }
    if (!namesProcess(record)) {
        return std::nullopt;
    }
    record.signal = signalFromName(reader.m_signalName);
    if (record.signal.empty()) {
        record.signal = signalFromNumber(reader.m_signal);
    }
    record.timestamp = parseAsctimeDate(reader.m_date).value_or(modifiedAt);
    record.cgroup = reader.m_cgroup;
    record.source = keptText(source);
    return record;
}

std::size_t ApportReportReader::keptBytes() const
{
    return m_line.size() + m_problemType.size() + m_date.size() + m_executablePath.size()
           + m_procCmdline.size() + m_signal.size() + m_signalName.size() + m_command.size()
           + m_cgroup.size();
}

std::optional<CrashRecord> apportRecord(std::string_view text, Date modifiedAt, std::string source)
{
    ApportReportReader reader;
    reader.feed(text);
    return reader.record(modifiedAt, std::move(source));
}

std::optional<CrashRecord> abrtRecord(const ItemLookup& item, Date modifiedAt, std::string source)
{
    const auto value = [&](std::string_view name) { return item(name).value_or(std::string()); };
    std::string type(trimmedAscii(value("type")));
    if (type.empty()) {
        // Problem directories written before "type" existed.
        type = trimmedAscii(value("analyzer"));
    }
    if (type != "CCpp") {
        return std::nullopt;
    }
    CrashRecord record;
    record.kind = CrashRecord::Kind::crash;
    record.executable = keptText(trimmedAscii(value("executable")));
    if (record.executable.empty()) {
        record.executable = executableInCommandLine(value("cmdline"));
    }
    record.pid = positivePid(value("pid"));
    const std::string status = value("proc_pid_status");
    record.command = keptText(statusValue(status, "Name").value_or(""));
    record.parentPid = positivePid(statusValue(status, "PPid").value_or(""));

    // ABRT keeps one directory per problem: a repeat moves last_occurrence on, while the pid
    // and status stay those of the first occurrence.
    const auto first = dateFromSeconds(value("time"));
    const auto last = dateFromSeconds(value("last_occurrence"));
    if (first && last && *last > *first) {
        record.timestamp = *last;
        record.pid.reset();
        record.parentPid.reset();
    } else {
        record.timestamp = first ? *first : last.value_or(modifiedAt);
    }
    if (!namesProcess(record)) {
        return std::nullopt;
    }
    const std::string reason = value("reason");
    record.signal = signalFromNumber(value("signal"));
    if (record.signal.empty()) {
        record.signal = signalInReason(reason);
    }
    record.cgroup = cgroupPath(value("cgroup"));
    record.source = keptText(source);
    record.message = keptText(trimmedAscii(firstLine(trimmedAscii(reason))));
    return record;
}

std::optional<Date> parseAsctimeDate(std::string_view text)
{
    std::vector<std::string_view> words;
    for (text = trimmedAscii(text); !text.empty(); text = trimmedAscii(text)) {
        const auto end = std::find_if(text.begin(), text.end(), isBlankByte);
        const auto length = static_cast<std::size_t>(end - text.begin());
        words.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    constexpr std::array<std::string_view, 7> kWeekdays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (words.size() != 5 || std::find(kWeekdays.begin(), kWeekdays.end(), words[0]) == kWeekdays.end()) {
        return std::nullopt;
    }
    const auto month = std::find(kMonths.begin(), kMonths.end(), words[1]);
    const auto day = decimal<int>(words[2]);
    const std::string_view time = words[3];
    const auto year = decimal<int>(words[4]);
    if (month == kMonths.end() || !day || *day < 1 || *day > 31 || !year || *year < 1970 || *year > 9999
        || time.size() != 8 || time[2] != ':' || time[5] != ':') {
        return std::nullopt;
    }
    const auto twoDigits = [&](std::size_t at) -> std::optional<int> {
        const std::string_view digits = time.substr(at, 2);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        return decimal<int>(digits);
    };
    const auto hour = twoDigits(0);
    const auto minute = twoDigits(3);
    const auto second = twoDigits(6);
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    std::tm fields{};
    fields.tm_year = *year - 1900;
    fields.tm_mon = static_cast<int>(month - kMonths.begin());
    fields.tm_mday = *day;
    fields.tm_hour = *hour;
    fields.tm_min = *minute;
    fields.tm_sec = *second;
    fields.tm_isdst = -1;
    // Pick up a TZ changed since the last conversion.
    tzset();
    const std::time_t seconds = std::mktime(&fields);
    // mktime rolls 31 November over into December; such a date does not exist.
    if (seconds == static_cast<std::time_t>(-1) || fields.tm_mday != *day
        || fields.tm_mon != static_cast<int>(month - kMonths.begin())) {
        return std::nullopt;
    }
    return dateFromSecondsSince1970(static_cast<double>(seconds));
}

bool crashTimeInWindow(Date time, const TimestampWindow& window)
{
    if (time > window.end) {
        return false;
    }
    if (time >= window.start) {
        return true;
    }
    const double seconds = secondsSince1970(time);
    return seconds == std::floor(seconds) && time + Seconds(1) > window.start;
}

} // namespace exitwise::core::linuxcrashrecords
