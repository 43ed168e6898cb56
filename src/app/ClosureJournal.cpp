// SPDX-License-Identifier: MIT
#include "app/ClosureJournal.h"

#include "app/DateFormats.h"
#include "app/NotificationScope.h"
#include "app/PrintableText.h"
#include "core/Text.h"

#include <QSettings>
#include <QString>

namespace exitwise::app {

namespace {

// A character of many combining marks is still one character: the bytes are bounded too.
constexpr std::size_t kMaxValueBytes = 1024;

QString settingsKey()
{
    return QString::fromLatin1(kClosureJournalKey.data(), qsizetype(kClosureJournalKey.size()));
}

// Names come from desktop entries we do not control: one line, valid UTF-8, no NUL, short.
std::string journalValue(std::string_view text)
{
    std::string value = printableLine(core::text::shortened(text, kMaxJournalNameCharacters));
    if (value.size() > kMaxValueBytes) {
        std::size_t end = kMaxValueBytes;
        while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) {
            --end;
        }
        value.resize(end);
    }
    return value;
}

const char* priority(const core::Diagnosis& diagnosis)
{
    if (diagnosis.endState == core::EndState::crash) {
        return "3"; // err
    }
    return isUnexpectedEnding(diagnosis) ? "4" /* warning */ : "6" /* info */;
}

} // namespace

JournalFields closureJournalFields(const AppEvent& event)
{
    const core::Diagnosis& diagnosis = event.diagnosis;
    const std::string name = journalValue(event.appName);
    const std::string endState(core::rawValue(diagnosis.endState));
    const std::string cause(core::rawValue(diagnosis.dominantCause));
    const std::string confidence(core::rawValue(diagnosis.confidence));

    JournalFields fields{
        {"MESSAGE_ID", std::string(kClosureMessageId)},
        {"MESSAGE", name + " ended: " + endState + " · " + cause + " · " + confidence},
        {"PRIORITY", priority(diagnosis)},
        {"SYSLOG_IDENTIFIER", std::string(kJournalIdentifier)},
        {"EXITWISE_EVENT_ID", event.id.toString()},
        {"EXITWISE_APP_NAME", name},
    };
    if (event.bundleIdentifier) {
        fields.emplace_back("EXITWISE_DESKTOP_ID", journalValue(*event.bundleIdentifier));
    }
    if (event.pid) {
        fields.emplace_back("EXITWISE_PID", std::to_string(*event.pid));
    }
    fields.emplace_back("EXITWISE_END_STATE", endState);
    fields.emplace_back("EXITWISE_CAUSE", cause);
    fields.emplace_back("EXITWISE_CONFIDENCE", confidence);
    if (event.diagnosisVersion) {
        fields.emplace_back("EXITWISE_DIAGNOSIS_VERSION", journalValue(*event.diagnosisVersion));
    }
    if (event.launchedAt) {
        fields.emplace_back("EXITWISE_LAUNCHED_AT", iso8601Milliseconds(*event.launchedAt));
    }
    fields.emplace_back("EXITWISE_ENDED_AT", iso8601Milliseconds(event.terminatedAt));
    return fields;
}

bool readClosureJournalEnabled(const QSettings& settings)
{
    return settings.value(settingsKey(), true).toBool();
}

void writeClosureJournalEnabled(QSettings& settings, bool enabled)
{
    settings.setValue(settingsKey(), enabled);
    settings.sync();
}

ClosureJournal::ClosureJournal(JournalWriter& writer, std::unique_ptr<QSettings> settings)
    : m_writer(writer)
    , m_settings(std::move(settings))
{
    if (m_settings) {
        m_enabled = readClosureJournalEnabled(*m_settings);
    }
}

ClosureJournal::~ClosureJournal() = default;

void ClosureJournal::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (m_settings) {
        writeClosureJournalEnabled(*m_settings, enabled);
    }
}

void ClosureJournal::publish(const AppEvent& event)
{
    if (m_enabled) {
        m_writer.write(closureJournalFields(event));
    }
}

} // namespace exitwise::app
