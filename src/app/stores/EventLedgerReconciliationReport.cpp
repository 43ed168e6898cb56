// SPDX-License-Identifier: MIT
#include "app/stores/EventLedgerReconciliationReport.h"

#include "core/Text.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace exitwise::app {

namespace json = core::json;
using json::Json;

Json encode(const EventLedgerMismatch& mismatch, const json::Options& options)
{
    Json object = Json::object();
    object["ledgerEntryID"] = encode(mismatch.ledgerEntryID);
    object["appName"] = mismatch.appName;
    if (mismatch.bundleIdentifier) {
        object["bundleIdentifier"] = *mismatch.bundleIdentifier;
    }
    if (mismatch.pid) {
        object["pid"] = *mismatch.pid;
    }
    object["terminatedAt"] = json::encodeDate(mismatch.terminatedAt, options);
    object["terminationReason"] = json::encodeEnum(mismatch.terminationReason);
    if (mismatch.terminationQuitAttribution) {
        object["terminationQuitAttribution"] = json::encodeEnum(*mismatch.terminationQuitAttribution);
    }
    if (mismatch.terminationRawValue) {
        object["terminationRawValue"] = *mismatch.terminationRawValue;
    }
    object["reason"] = mismatch.reason;
    return object;
}

EventLedgerMismatch decodeEventLedgerMismatch(const Json& value, const json::Options& options)
{
    const json::ObjectReader r(value);
    const auto date = [&options](const Json& v) { return json::decodeDate(v, options); };
    return EventLedgerMismatch{
        r.required("ledgerEntryID", decodeUuid),
        r.required("appName", json::decodeString),
        r.optional("bundleIdentifier", json::decodeString),
        r.optional("pid", json::decodeInt32),
        r.required("terminatedAt", date),
        r.required("terminationReason", json::decodeEnum<core::TerminationReason>),
        r.optional("terminationQuitAttribution", json::decodeEnum<core::QuitAttribution>),
        r.optional("terminationRawValue", json::decodeString),
        r.required("reason", json::decodeString),
    };
}

Json encode(const EventLedgerReconciliationReport& report, const json::Options& options)
{
    Json mismatches = Json::array();
    for (const EventLedgerMismatch& mismatch : report.mismatches) {
        mismatches.push_back(encode(mismatch, options));
    }
    Json object = Json::object();
    object["generatedAt"] = json::encodeDate(report.generatedAt, options);
    object["evidenceCount"] = report.evidenceCount;
    object["recordedEventCount"] = report.recordedEventCount;
    object["mismatchCount"] = report.mismatchCount;
    object["mismatches"] = std::move(mismatches);
    return object;
}

namespace {

// Per byte: 0 plain ASCII, 1 needs an escape, 2 part of a multi-byte character.
constexpr std::array<std::uint8_t, 256> kEscapeClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[static_cast<std::size_t>(c)] = c < 0x20 || c == '"' || c == '\\' ? 1 : c >= 0x80 ? 2 : 0;
    }
    return table;
}();

// Appends a JSON string as the serializer writes it (no ASCII escaping, lower-case \u00xx).
void appendString(std::string& out, std::string_view text)
{
    const std::size_t mark = out.size();
    out += '"';
    std::size_t run = 0;
    bool ascii = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::uint8_t kind = kEscapeClass[c];
        if (kind != 1) {
            ascii = ascii && kind == 0;
            continue;
        }
        out.append(text.substr(run, i - run));
        run = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    out.append(text.substr(run));
    out += '"';
    if (!ascii && !core::text::isValidUtf8(text)) {
        // Rare: let the serializer replace the invalid bytes exactly as it always does.
        out.resize(mark);
        out += json::dumpCompact(Json(std::string(text)));
    }
}

// Writes the members of one object at a fixed indentation, keys already in sorted order.
class PrettyObject
{
public:
    PrettyObject(std::string& out, std::size_t indent)
        : m_out(out)
        , m_indent(indent)
    {
        m_out += '{';
    }

    void key(std::string_view name)
    {
        m_out += m_first ? "\n" : ",\n";
        m_first = false;
        m_out.append(m_indent + 2, ' ');
        m_out += '"';
        m_out += name;
        m_out += "\": ";
    }
    void string(std::string_view name, std::string_view value)
    {
        key(name);
        appendString(m_out, value);
    }
    void integer(std::string_view name, std::int64_t value)
    {
        key(name);
        m_out += std::to_string(value);
    }
    void date(std::string_view name, core::Date value)
    {
        key(name);
        // The same number the general encoder writes for this date.
        const double seconds = json::encodeDate(value, {}).get<double>();
        if (!std::isfinite(seconds)) {
            m_out += json::dumpCompact(Json(seconds));
            return;
        }
        json::appendNumber(m_out, seconds);
    }
    void close()
    {
        if (!m_first) {
            m_out += '\n';
            m_out.append(m_indent, ' ');
        }
        m_out += '}';
    }

private:
    std::string& m_out;
    std::size_t m_indent;
    bool m_first = true;
};

} // namespace

void writePrettyReportJson(const EventLedgerReconciliationReport& report,
                           const std::function<bool(std::string_view)>& sink)
{
    // Handed over in pieces of about this size, so a long report is never held whole.
    constexpr std::size_t kPiece = 1 << 20;
    std::string out;
    out.reserve(kPiece + 4096);
    bool sinkOk = true;
    PrettyObject root(out, 0);
    root.integer("evidenceCount", report.evidenceCount);
    root.date("generatedAt", report.generatedAt);
    root.integer("mismatchCount", report.mismatchCount);
    root.key("mismatches");
    if (report.mismatches.empty()) {
        out += "[]";
    } else {
        out += '[';
        bool first = true;
        for (const EventLedgerMismatch& m : report.mismatches) {
            out += first ? "\n    " : ",\n    ";
            first = false;
            PrettyObject item(out, 4);
            item.string("appName", m.appName);
            if (m.bundleIdentifier) {
                item.string("bundleIdentifier", *m.bundleIdentifier);
            }
            item.string("ledgerEntryID", m.ledgerEntryID.toString());
            if (m.pid) {
                item.integer("pid", *m.pid);
            }
            item.string("reason", m.reason);
            item.date("terminatedAt", m.terminatedAt);
            if (m.terminationQuitAttribution) {
                item.string("terminationQuitAttribution", core::rawValue(*m.terminationQuitAttribution));
            }
            if (m.terminationRawValue) {
                item.string("terminationRawValue", *m.terminationRawValue);
            }
            item.string("terminationReason", core::rawValue(m.terminationReason));
            item.close();
            if (out.size() >= kPiece && sinkOk) {
                sinkOk = sink(out);
                out.clear();
            }
        }
        out += "\n  ]";
    }
    root.integer("recordedEventCount", report.recordedEventCount);
    root.close();
    if (sinkOk) {
        sink(out);
    }
}

std::string prettyReportJson(const EventLedgerReconciliationReport& report)
{
    std::string text;
    writePrettyReportJson(report, [&text](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
}

EventLedgerReconciliationReport decodeEventLedgerReconciliationReport(const Json& value,
                                                                      const json::Options& options)
{
    const json::ObjectReader r(value);
    return EventLedgerReconciliationReport{
        r.required("generatedAt", [&options](const Json& v) { return json::decodeDate(v, options); }),
        r.required("evidenceCount", json::decodeInt64),
        r.required("recordedEventCount", json::decodeInt64),
        r.required("mismatchCount", json::decodeInt64),
        r.required("mismatches",
                   [&options](const Json& list) {
                       return json::decodeArray(
                           list, [&options](const Json& m) { return decodeEventLedgerMismatch(m, options); });
                   }),
    };
}

} // namespace exitwise::app
