// SPDX-License-Identifier: MIT
// The crash records Linux keeps, as anyone may write them: an apport report dropped into the
// world-writable /var/crash (fed whole and in pieces), the items of a problem directory, the
// fields of a journal entry and a marker file's name. Input: fields split at 0x1F.

#include "FuzzSupport.h"
#include "core/Text.h"
#include "core/evidence/CrashRecordEvidence.h"
#include "core/evidence/LinuxCrashRecords.h"
#include "core/evidence/UnresponsiveMarker.h"

#include <map>

using namespace exitwise;
namespace records = core::linuxcrashrecords;

namespace {

void checkRecord(const std::optional<core::CrashRecord>& record)
{
    if (!record) {
        return;
    }
    for (const std::string* text :
         {&record->command, &record->executable, &record->signal, &record->cgroup, &record->message}) {
        if (!core::text::isValidUtf8(*text) || text->size() > records::kMaxValueBytes) {
            fuzz::fail("a kept text is not valid UTF-8 of bounded size", *text);
        }
    }
    // What the diagnosis makes of it must hold too.
    core::EventContext context = core::contextAround({.appName = "Notes",
                                                      .pid = record->pid,
                                                      .terminatedAt = record->timestamp,
                                                      .terminationReason = core::TerminationReason::unknown},
                                                     180.0);
    const auto findings = core::crashrecords::examine(context, {*record});
    if (const auto report = core::crashrecords::report(findings)) {
        static_cast<void>(core::Signal(*report).summary());
    }
    for (const core::Signal& signal : core::crashrecords::helperSignals(findings)) {
        static_cast<void>(signal.summary());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto parts = fuzz::fields(fuzz::asText(data, size), 3);
    const core::Date modifiedAt = core::dateFromSecondsSince1970(1796641220.0);

    // An apport report, whole and in pieces of a size the input chooses: the same record.
    const std::string_view report = parts[2];
    const auto whole = records::apportRecord(report, modifiedAt, "/var/crash/x.crash");
    checkRecord(whole);
    records::ApportReportReader reader;
    const std::size_t piece = parts[0].empty() ? 1 : static_cast<unsigned char>(parts[0][0]) % 97 + 1;
    for (std::size_t at = 0; at < report.size() && !reader.complete(); at += piece) {
        reader.feed(report.substr(at, piece));
        if (reader.keptBytes() > 64 * 1024) {
            fuzz::fail("the apport reader keeps too much");
        }
    }
    if (!reader.complete() && reader.record(modifiedAt, "/var/crash/x.crash") != whole) {
        fuzz::fail("an apport report read in pieces differs from the whole");
    }

    // The same text as "NAME=value" lines: a journal entry's fields, a problem directory's items.
    std::map<std::string, std::string, std::less<>> items;
    std::string_view rest = parts[1];
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            items[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
        }
    }
    const records::ItemLookup lookup = [&](std::string_view name) -> std::optional<std::string> {
        if (const auto it = items.find(name); it != items.end()) {
            return it->second;
        }
        return std::nullopt;
    };
    checkRecord(records::coredumpRecord(lookup, modifiedAt));
    checkRecord(records::abrtRecord(lookup, modifiedAt, "/var/spool/abrt/ccpp-1"));
    static_cast<void>(records::parseAsctimeDate(parts[0]));

    if (const auto marker = core::UnresponsiveMarker::parseFileName(parts[0])) {
        if (marker->pid <= 0 || marker->executable.empty() || marker->bootId.size() != 32) {
            fuzz::fail("a marker name parsed into nonsense");
        }
    }
    return 0;
}
