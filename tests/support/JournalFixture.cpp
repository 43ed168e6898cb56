// SPDX-License-Identifier: MIT
#include "support/JournalFixture.h"

#include "platform/linux/Subprocess.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <system_error>

namespace exitwise::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBootId = "0123456789abcdef0123456789abcdef";
// The boot's start in microseconds since 1970; every record lies after it.
constexpr std::uint64_t kBootRealtime = 1'000'000'000'000'000;

// Printable values as NAME=value; others as NAME, a little-endian 64-bit length and the bytes.
void appendField(std::string& out, const std::string& name, const std::string& value)
{
    out += name;
    const bool printable = std::none_of(
        value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    if (printable) {
        out += '=' + value;
    } else {
        out += '\n';
        const std::uint64_t length = value.size();
        for (int byte = 0; byte < 8; ++byte) {
            out += static_cast<char>((length >> (8 * byte)) & 0xff);
        }
        out += value;
    }
    out += '\n';
}

std::string exportText(const std::vector<JournalFields>& entries)
{
    std::string out;
    for (const JournalFields& entry : entries) {
        const auto realtime = static_cast<std::uint64_t>(std::llround(entry.time * 1e6));
        out += "__REALTIME_TIMESTAMP=" + std::to_string(realtime) + "\n";
        // Entries of one boot are ordered by their monotonic time, also across files.
        out += "__MONOTONIC_TIMESTAMP=" + std::to_string(realtime - kBootRealtime) + "\n";
        out += std::string("_BOOT_ID=") + kBootId + "\n";
        for (const auto& [name, value] : entry.fields) {
            appendField(out, name, value);
        }
        out += '\n';
    }
    return out;
}

} // namespace

bool JournalFixture::available()
{
    std::error_code error;
    return fs::exists(kRemoteTool, error);
}

JournalFixture::JournalFixture()
    : m_root("exitwise-journal")
    , m_directory(m_root.path() / "journal")
{
    fs::create_directories(m_directory);
}

std::string JournalFixture::write(const std::vector<JournalRecord>& records, const std::string& name) const
{
    std::vector<JournalFields> entries;
    for (const JournalRecord& record : records) {
        JournalFields& entry = entries.emplace_back(JournalFields{.time = record.time, .fields = {}});
        const std::pair<const char*, std::string> fields[] = {
            {"SYSLOG_IDENTIFIER", record.identifier},
            {"_PID", record.pid ? std::to_string(*record.pid) : ""},
            {"_COMM", record.comm},
            {"_EXE", record.exe},
        };
        for (const auto& [field, value] : fields) {
            if (!value.empty()) {
                entry.fields.emplace_back(field, value);
            }
        }
        entry.fields.emplace_back("MESSAGE", record.message);
    }
    return writeFields(entries, name);
}

std::string JournalFixture::writeFields(const std::vector<JournalFields>& entries,
                                        const std::string& name) const
{
    const fs::path input = m_root.path() / (name + ".export");
    std::ofstream(input, std::ios::binary) << exportText(entries);

    platform::SubprocessOptions options;
    options.timeout = std::chrono::minutes(2);
    // Written aside and moved in whole: a reader that follows the directory sees the file appear
    // complete, never half-written.
    const fs::path staging = m_root.path() / "staging";
    std::error_code ignored;
    fs::create_directories(staging, ignored);
    const auto result = platform::runSubprocess(
        kRemoteTool, {"--output=" + (staging / name).string(), input.string()}, options);
    fs::remove(input, ignored);
    if (!result.launched) {
        return result.error;
    }
    if (result.exitCode != 0) {
        return std::string(kRemoteTool) + " failed";
    }
    std::error_code error;
    fs::rename(staging / name, m_directory / name, error);
    return error ? "cannot move the journal file in place: " + error.message() : std::string();
}

} // namespace exitwise::test
