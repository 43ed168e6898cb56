// SPDX-License-Identifier: MIT
#include "core/RecordJson.h"

#include <utility>

namespace exitwise::core::json {

namespace {

template <class T, class F>
void put(Json& object, const char* key, const std::optional<T>& value, F&& encodeValue)
{
    if (value) {
        object[key] = encodeValue(*value);
    }
}

void put(Json& object, const char* key, const std::optional<std::string>& value)
{
    if (value) {
        object[key] = *value;
    }
}

auto dateDecoder(const Options& options)
{
    return [&options](const Json& value) { return decodeDate(value, options); };
}

template <class E> auto enumDecoder()
{
    return [](const Json& value) { return decodeEnum<E>(value); };
}

template <class E> auto enumEncoder()
{
    return [](E value) { return encodeEnum(value); };
}

TerminationSignal decodeTermination(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return TerminationSignal{
        r.required("timestamp", dateDecoder(options)), r.required("reason", enumDecoder<TerminationReason>()),
        r.optional("rawValue", decodeString), r.optional("quitAttribution", enumDecoder<QuitAttribution>())};
}

CrashReportSignal decodeCrashReport(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return CrashReportSignal{r.required("timestamp", dateDecoder(options)),
                             r.optional("sourcePath", decodeString),
                             r.optional("exceptionType", decodeString),
                             r.optional("terminationReason", decodeString),
                             r.optional("terminationSignal", decodeString),
                             r.optional("dyldErrorMessage", decodeString),
                             r.optional("dyldFailureKind", enumDecoder<DyldFailureKind>()),
                             r.required("suspectedDyldFailure", decodeBool),
                             r.required("suspectedJetsamMemory", decodeBool),
                             r.required("suspectedWatchdogHang", decodeBool)};
}

PolicySignal decodePolicy(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return PolicySignal{r.required("timestamp", dateDecoder(options)),
                        r.required("kind", enumDecoder<PolicyBlockKind>()),
                        r.required("message", decodeString)};
}

DyldSignal decodeDyld(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return DyldSignal{r.required("timestamp", dateDecoder(options)),
                      r.required("kind", enumDecoder<DyldFailureKind>()),
                      r.required("message", decodeString)};
}

JetsamSignal decodeJetsam(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return JetsamSignal{r.required("timestamp", dateDecoder(options)), r.required("message", decodeString),
                        r.required("evidence", enumDecoder<MemoryPressureEvidence>())};
}

WatchdogSignal decodeWatchdog(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return WatchdogSignal{r.required("timestamp", dateDecoder(options)), r.required("message", decodeString)};
}

LaunchdSignal decodeLaunchd(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return LaunchdSignal{r.required("timestamp", dateDecoder(options)),
                         r.optional("serviceName", decodeString), r.required("message", decodeString),
                         r.optional("exitCount", decodeInt64)};
}

UnifiedLogSignal decodeUnifiedLog(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return UnifiedLogSignal{r.required("timestamp", dateDecoder(options)),
                            r.optional("process", decodeString), r.required("message", decodeString)};
}

} // namespace

Json encode(const TerminationSignal& value, const Options& options)
{
    Json object = Json::object();
    object["timestamp"] = encodeDate(value.timestamp, options);
    object["reason"] = encodeEnum(value.reason);
    put(object, "rawValue", value.rawValue);
    put(object, "quitAttribution", value.quitAttribution, enumEncoder<QuitAttribution>());
    return object;
}

Json encode(const CrashReportSignal& value, const Options& options)
{
    Json object = Json::object();
    object["timestamp"] = encodeDate(value.timestamp, options);
    put(object, "sourcePath", value.sourcePath);
    put(object, "exceptionType", value.exceptionType);
    put(object, "terminationReason", value.terminationReason);
    put(object, "terminationSignal", value.terminationSignal);
    put(object, "dyldErrorMessage", value.dyldErrorMessage);
    put(object, "dyldFailureKind", value.dyldFailureKind, enumEncoder<DyldFailureKind>());
    object["suspectedDyldFailure"] = value.suspectedDyldFailure;
    object["suspectedJetsamMemory"] = value.suspectedJetsamMemory;
    object["suspectedWatchdogHang"] = value.suspectedWatchdogHang;
    return object;
}

Json encode(const PolicySignal& value, const Options& options)
{
    return Json{{"timestamp", encodeDate(value.timestamp, options)},
                {"kind", encodeEnum(value.kind)},
                {"message", value.message}};
}

Json encode(const DyldSignal& value, const Options& options)
{
    return Json{{"timestamp", encodeDate(value.timestamp, options)},
                {"kind", encodeEnum(value.kind)},
                {"message", value.message}};
}

Json encode(const JetsamSignal& value, const Options& options)
{
    return Json{{"timestamp", encodeDate(value.timestamp, options)},
                {"message", value.message},
                {"evidence", encodeEnum(value.evidence)}};
}

Json encode(const WatchdogSignal& value, const Options& options)
{
    return Json{{"timestamp", encodeDate(value.timestamp, options)}, {"message", value.message}};
}

Json encode(const LaunchdSignal& value, const Options& options)
{
    Json object = Json::object();
    object["timestamp"] = encodeDate(value.timestamp, options);
    put(object, "serviceName", value.serviceName);
    object["message"] = value.message;
    put(object, "exitCount", value.exitCount, [](std::int64_t n) { return Json(n); });
    return object;
}

Json encode(const UnifiedLogSignal& value, const Options& options)
{
    Json object = Json::object();
    object["timestamp"] = encodeDate(value.timestamp, options);
    put(object, "process", value.process);
    object["message"] = value.message;
    return object;
}

Json encode(const Signal& value, const Options& options)
{
    Json object = Json::object();
    object["type"] = encodeEnum(value.type());
    object["payload"] =
        std::visit([&options](const auto& payload) { return encode(payload, options); }, value.payload());
    return object;
}

Signal decodeSignal(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    const auto type = r.required("type", enumDecoder<SignalType>());
    return r.required("payload", [&](const Json& payload) -> Signal {
        switch (type) {
        case SignalType::termination:
            return decodeTermination(payload, options);
        case SignalType::crashReport:
            return decodeCrashReport(payload, options);
        case SignalType::policy:
            return decodePolicy(payload, options);
        case SignalType::dyld:
            return decodeDyld(payload, options);
        case SignalType::jetsam:
            return decodeJetsam(payload, options);
        case SignalType::watchdog:
            return decodeWatchdog(payload, options);
        case SignalType::launchd:
            return decodeLaunchd(payload, options);
        case SignalType::unifiedLog:
            break;
        }
        return decodeUnifiedLog(payload, options);
    });
}

Json encode(const TimestampWindow& value, const Options& options)
{
    return Json{{"start", encodeDate(value.start, options)}, {"end", encodeDate(value.end, options)}};
}

TimestampWindow decodeTimestampWindow(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return TimestampWindow{r.required("start", dateDecoder(options)),
                           r.required("end", dateDecoder(options))};
}

void encodeFacts(Json& object, const TerminationFacts& facts, const Options& options, ReasonKey reason)
{
    const auto date = [&options](Date d) { return encodeDate(d, options); };
    object["appName"] = facts.appName;
    put(object, "bundleIdentifier", facts.bundleIdentifier);
    put(object, "pid", facts.pid, [](std::int32_t pid) { return Json(pid); });
    put(object, "appPath", facts.appPath);
    put(object, "launchedAt", facts.launchedAt, date);
    object["terminatedAt"] = date(facts.terminatedAt);
    if (reason == ReasonKey::required) {
        object["terminationReason"] = encodeEnum(facts.reason());
    } else {
        put(object, "terminationReason", facts.terminationReason, enumEncoder<TerminationReason>());
    }
    put(object, "terminationRawValue", facts.terminationRawValue);
    put(object, "terminationQuitAttribution", facts.terminationQuitAttribution,
        enumEncoder<QuitAttribution>());
}

TerminationFacts decodeFacts(const ObjectReader& r, const Options& options, ReasonKey reason)
{
    return TerminationFacts{
        r.required("appName", decodeString),
        r.optional("bundleIdentifier", decodeString),
        r.optional("pid", decodeInt32),
        r.optional("appPath", decodeString),
        r.optional("launchedAt", dateDecoder(options)),
        r.required("terminatedAt", dateDecoder(options)),
        reason == ReasonKey::required
            ? std::optional(r.required("terminationReason", enumDecoder<TerminationReason>()))
            : r.optional("terminationReason", enumDecoder<TerminationReason>()),
        r.optional("terminationRawValue", decodeString),
        r.optional("terminationQuitAttribution", enumDecoder<QuitAttribution>()),
    };
}

Json encode(const EventContext& value, const Options& options)
{
    Json object = Json::object();
    encodeFacts(object, value, options, ReasonKey::required);
    object["window"] = encode(value.window, options);
    return object;
}

EventContext decodeEventContext(const Json& value,
                                const Options& options,
                                const std::function<TimestampWindow(Date)>& defaultWindow)
{
    const ObjectReader r(value);
    TerminationFacts facts = decodeFacts(r, options, ReasonKey::required);
    const auto window = [&](const Json& w) { return decodeTimestampWindow(w, options); };
    TimestampWindow searched = defaultWindow
                                   ? r.optional("window", window).value_or(defaultWindow(facts.terminatedAt))
                                   : r.required("window", window);
    return EventContext{std::move(facts), std::move(searched), std::nullopt};
}

EventContext decodeEventContext(const Json& value, const Options& options)
{
    return decodeEventContext(value, options, nullptr);
}

Json encode(const ExplanationCard& value, const Options&)
{
    Json object = Json::object();
    object["whatHappened"] = value.whatHappened;
    object["why"] = value.why;
    object["whatToDo"] = value.whatToDo;
    if (!value.alternatives.empty()) {
        object["alternatives"] = value.alternatives;
    }
    put(object, "confidenceNote", value.confidenceNote);
    return object;
}

ExplanationCard decodeExplanationCard(const Json& value, const Options&)
{
    const ObjectReader r(value);
    return ExplanationCard{
        r.required("whatHappened", decodeString),
        r.required("why", decodeString),
        r.required("whatToDo", decodeString),
        r.optional("alternatives", [](const Json& list) { return decodeArray(list, decodeString); })
            .value_or(std::vector<std::string>{}),
        r.optional("confidenceNote", decodeString),
    };
}

Json encode(const Diagnosis& value, const Options& options)
{
    Json signals = Json::array();
    for (const Signal& signal : value.signalsUsed) {
        signals.push_back(encode(signal, options));
    }
    Json object = Json::object();
    object["endState"] = encodeEnum(value.endState);
    object["dominantCause"] = encodeEnum(value.dominantCause);
    object["confidence"] = encodeEnum(value.confidence);
    object["signalsUsed"] = std::move(signals);
    object["window"] = encode(value.window, options);
    object["explanation"] = encode(value.explanation, options);
    return object;
}

Diagnosis decodeDiagnosis(const Json& value, const Options& options)
{
    const ObjectReader r(value);
    return Diagnosis{
        r.required("endState", enumDecoder<EndState>()),
        r.required("dominantCause", enumDecoder<DominantCause>()),
        r.required("confidence", enumDecoder<Confidence>()),
        r.required("signalsUsed",
                   [&](const Json& list) {
                       return decodeArray(list, [&](const Json& s) { return decodeSignal(s, options); });
                   }),
        r.required("window", [&](const Json& w) { return decodeTimestampWindow(w, options); }),
        r.required("explanation", [&](const Json& card) { return decodeExplanationCard(card, options); }),
    };
}

} // namespace exitwise::core::json
