// SPDX-License-Identifier: MIT
#include "support/JournalFixture.h"

#include "platform/linux/Subprocess.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace exitwise::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBootId = "0123456789abcdef0123456789abcdef";
// The boot's start in microseconds since 1970; every record lies after it.
constexpr std::uint64_t kBootRealtime = 1'000'000'000'000'000;

bool isPrintable(const std::string& value)
{
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

// Printable values as NAME=value; others as NAME, a little-endian 64-bit length and the bytes.
void appendField(std::string& out, const char* name, const std::string& value)
{
    out += name;
    if (isPrintable(value)) {
        out += '=';
        out += value;
    } else {
        out += '\n';
        std::uint64_t length = value.size();
        for (int i = 0; i < 8; ++i) {
            out += static_cast<char>(length & 0xff);
            length >>= 8;
        }
        out += value;
    }
    out += '\n';
}

} // namespace

bool JournalFixture::available()
{
    std::error_code error;
    return fs::exists(kRemoteTool, error);
}

JournalFixture::JournalFixture()
{
    std::string pattern = (fs::temp_directory_path() / "exitwise-journal-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_root = pattern;
        m_directory = m_root / "journal";
        fs::create_directories(m_directory);
    }
}

JournalFixture::~JournalFixture()
{
    std::error_code ignored;
    if (!m_root.empty()) {
        fs::remove_all(m_root, ignored);
    }
}

std::string JournalFixture::exportText(const std::vector<JournalRecord>& records)
{
    std::string out;
    for (const JournalRecord& record : records) {
        const auto realtime = static_cast<std::uint64_t>(std::llround(record.time * 1e6));
        out += "__REALTIME_TIMESTAMP=" + std::to_string(realtime) + "\n";
        // Entries of one boot are ordered by their monotonic time, also across files.
        out += "__MONOTONIC_TIMESTAMP=" + std::to_string(realtime - kBootRealtime) + "\n";
        out += std::string("_BOOT_ID=") + kBootId + "\n";
        if (!record.identifier.empty()) {
            appendField(out, "SYSLOG_IDENTIFIER", record.identifier);
        }
        if (record.pid) {
            appendField(out, "_PID", std::to_string(*record.pid));
        }
        if (!record.comm.empty()) {
            appendField(out, "_COMM", record.comm);
        }
        if (!record.exe.empty()) {
            appendField(out, "_EXE", record.exe);
        }
        appendField(out, "MESSAGE", record.message);
        out += '\n';
    }
    return out;
}

std::string JournalFixture::exportText(const std::vector<JournalFields>& entries)
{
    std::string out;
    for (const JournalFields& entry : entries) {
        const auto realtime = static_cast<std::uint64_t>(std::llround(entry.time * 1e6));
        out += "__REALTIME_TIMESTAMP=" + std::to_string(realtime) + "\n";
        out += "__MONOTONIC_TIMESTAMP=" + std::to_string(realtime - kBootRealtime) + "\n";
        out += std::string("_BOOT_ID=") + kBootId + "\n";
        for (const auto& [name, value] : entry.fields) {
            appendField(out, name.c_str(), value);
        }
        out += '\n';
    }
    return out;
}

std::string JournalFixture::write(const std::vector<JournalRecord>& records, const std::string& name) const
{
    return writeExport(exportText(records), name);
}

std::string JournalFixture::writeFields(const std::vector<JournalFields>& entries,
                                        const std::string& name) const
{
    return writeExport(exportText(entries), name);
}

std::string JournalFixture::writeExport(const std::string& text, const std::string& name) const
{
    if (m_root.empty()) {
        return "cannot create a temporary directory";
    }
    const fs::path input = m_root / (name + ".export");
    std::ofstream(input, std::ios::binary) << text;

    platform::SubprocessOptions options;
    options.timeout = std::chrono::minutes(2);
    // Written aside and moved in whole: a reader that follows the directory sees the file appear
    // complete, never half-written.
    const fs::path staging = m_root / "staging";
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
