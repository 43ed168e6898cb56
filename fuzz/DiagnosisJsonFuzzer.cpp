// SPDX-License-Identifier: MIT
// One diagnosis as JSON, as stored inside every event; the stored evidence is diagnosed again
// at every start.

#include "FuzzSupport.h"
#include "core/DiagnosisEngine.h"
#include "core/RecordJson.h"

using namespace exitwise;
namespace json = core::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    json::Json value;
    if (!fuzz::parseJson(fuzz::asText(data, size), value)) {
        return 0;
    }
    try {
        const core::Diagnosis diagnosis = json::decodeDiagnosis(value);
        fuzz::expectStableEncoding(
            json::encode(diagnosis), [](const json::Json& v) { return json::decodeDiagnosis(v); },
            [](const core::Diagnosis& d) { return json::encode(d); });

        const core::Date at = diagnosis.window.start + (diagnosis.window.end - diagnosis.window.start) / 2;
        const core::EventContext context =
            core::contextAround({.appName = "Sketch Pad",
                                 .bundleIdentifier = "org.example.SketchPad",
                                 .pid = 812,
                                 .terminatedAt = at,
                                 .terminationReason = core::TerminationReason::unknown},
                                180.0);
        const core::Diagnosis fresh = core::DiagnosisEngine().diagnose(context, diagnosis.signalsUsed, false);
        fuzz::expectStableEncoding(
            json::encode(fresh), [](const json::Json& v) { return json::decodeDiagnosis(v); },
            [](const core::Diagnosis& d) { return json::encode(d); });
    } catch (const json::DecodeError&) {
    }
    return 0;
}
