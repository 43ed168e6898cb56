// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QSettings;

namespace exitwise::app {

// Every closure entry carries this MESSAGE_ID: `journalctl MESSAGE_ID=…` and log shippers select
// closures by it, and the readers of the journal here leave such entries out of the evidence.
inline constexpr std::string_view kClosureMessageId = "ef40f9b1c23147b79ce4aea7f9de707b";
// SYSLOG_IDENTIFIER of the entries; anything the journal holds under it is ours, never evidence.
inline constexpr std::string_view kJournalIdentifier = "exitwise";
// Names and ids from desktop entries are cut to this many characters in an entry.
inline constexpr std::size_t kMaxJournalNameCharacters = 200;

// One journal entry: upper-case field names with their values, in order.
using JournalFields = std::vector<std::pair<std::string, std::string>>;

// The entry of one recorded closure: MESSAGE ("Notes ended: Crash · Crashed: app bug · High"),
// PRIORITY (3 for a crash, 4 for another unexpected ending, 6 for a clean exit), the fixed
// MESSAGE_ID and identifier, and EXITWISE_* fields holding the record's values (dates in
// ISO 8601 UTC with milliseconds; absent values leave their field out). Values hold no NUL or
// line break and stay short, whatever the desktop entry said.
[[nodiscard]] JournalFields closureJournalFields(const AppEvent& event);

// Where entries go: the system journal on Linux.
class JournalWriter
{
public:
    virtual ~JournalWriter() = default;
    // Writes one entry; an entry the journal does not take is dropped (there is nowhere better
    // to say so than the journal itself).
    virtual void write(const JournalFields& fields) = 0;
};

// Kept in the application's settings; a missing value reads as on.
inline constexpr std::string_view kClosureJournalKey = "exws_journal_closures";
[[nodiscard]] bool readClosureJournalEnabled(const QSettings& settings);
void writeClosureJournalEnabled(QSettings& settings, bool enabled);

// Writes each recorded closure to the journal while switched on (the default). Main thread only.
class ClosureJournal
{
public:
    // `writer` must outlive this. Without `settings` the switch starts on and is forgotten at exit.
    explicit ClosureJournal(JournalWriter& writer, std::unique_ptr<QSettings> settings = nullptr);
    ~ClosureJournal();
    ClosureJournal(const ClosureJournal&) = delete;
    ClosureJournal& operator=(const ClosureJournal&) = delete;

    [[nodiscard]] bool isEnabled() const { return m_enabled; }
    // Remembers the choice in the settings.
    void setEnabled(bool enabled);
    // Call once for each closure as it is recorded, never for a re-evaluated old one.
    void publish(const AppEvent& event);

private:
    JournalWriter& m_writer;
    std::unique_ptr<QSettings> m_settings;
    bool m_enabled = true;
};

} // namespace exitwise::app
