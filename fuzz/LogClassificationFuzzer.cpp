// SPDX-License-Identifier: MIT
// System log text: one structured entry, and the log tool's whole output.
// Input: application name, process, message (the rest), separated by 0x1F. Read with the macOS
// and the Linux vocabulary.

#include "FuzzSupport.h"
#include "core/evidence/LogClassification.h"

using namespace exitwise;
namespace logclass = core::logclass;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto f = fuzz::fields(fuzz::asText(data, size), 3);
    const core::Date at = core::dateFromSecondsSince1970(1.7e9);
    const core::EventContext context =
        core::contextAround({.appName = std::string(f[0]),
                             .bundleIdentifier = "org.example." + std::string(f[0]),
                             .pid = 812,
                             .terminatedAt = at,
                             .terminationReason = core::TerminationReason::killed},
                            180.0);

    for (const core::Signal& signal : logclass::classifyEntry(context, f[1], 812, at, f[2])) {
        if (signal.timestamp() != at) {
            fuzz::fail("an entry's signal is not dated at the entry");
        }
        static_cast<void>(signal.summary());
    }
    static_cast<void>(logclass::parseExitCount(f[2]));
    static_cast<void>(logclass::serviceLabel(f[2]));
    for (const bool raw : {false, true}) {
        for (const core::Signal& signal : logclass::classifyOutput(context, f[2], raw)) {
            static_cast<void>(signal.summary());
        }
    }

    // The Linux reading: the process facts are named after the application, so that the
    // message's shapes can meet them.
    core::EventContext linuxContext = context;
    core::ProcessFacts facts;
    facts.command = std::string(f[0].substr(0, 15));
    facts.executable = "/usr/bin/" + std::string(f[0]);
    facts.cgroup = "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-" + std::string(f[0])
                   + "-812.scope";
    linuxContext.process = facts;
    const core::LogVocabulary& vocabulary = core::LogVocabulary::linuxDesktop();
    for (const core::Signal& signal :
         logclass::classifyEntry(linuxContext, f[1], 812, at, f[2], vocabulary)) {
        if (signal.timestamp() != at) {
            fuzz::fail("an entry's signal is not dated at the entry");
        }
        static_cast<void>(signal.summary());
    }
    static_cast<void>(logclass::bearing(linuxContext, f[1], std::nullopt, f[2]));
    static_cast<void>(logclass::parseLogLine(f[2]));
    for (const core::Signal& signal : logclass::classifyOutput(linuxContext, f[2], true, vocabulary)) {
        static_cast<void>(signal.summary());
    }
    return 0;
}
