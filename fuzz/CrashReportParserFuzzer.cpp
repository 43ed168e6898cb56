// SPDX-License-Identifier: MIT
// Crash report text, as anyone may drop it into the system crash directory.

#include "FuzzSupport.h"
#include "core/RecordJson.h"
#include "core/Text.h"
#include "core/evidence/CrashReportParser.h"
#include "core/evidence/CrashReportProvider.h"

using namespace exitwise;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::asText(data, size);
    const core::Date modifiedAt = core::dateFromSecondsSince1970(1772374509.25);

    const core::CrashReportSignal report =
        core::CrashReportParser::parse(text, "/var/crash/x.crash", modifiedAt);
    if (report.dyldFailureKind && !report.suspectedDyldFailure) {
        fuzz::fail("a classified loader failure is not suspected");
    }
    const core::detail::ReportProcess process = core::detail::reportProcess(text);
    if (process.name && process.name->empty()) {
        fuzz::fail("an empty process name");
    }
    static_cast<void>(core::detail::crashReportPolicyKind(report.terminationReason, text));

    // The provider reads only valid UTF-8; what it makes of it is stored with the event.
    if (core::text::isValidUtf8(text)) {
        const core::Signal signal(report);
        static_cast<void>(signal.summary());
        fuzz::expectStableEncoding(
            core::json::encode(signal), [](const core::json::Json& v) { return core::json::decodeSignal(v); },
            [](const core::Signal& s) { return core::json::encode(s); });
    }
    return 0;
}
