// SPDX-License-Identifier: MIT
#include "platform/linux/SdJournalWriter.h"

#include <QLoggingCategory>

#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include <cstring>
#include <string>
#include <vector>

namespace exitwise::platform {

namespace {
Q_LOGGING_CATEGORY(lcJournalWriter, "exitwise.platform.journalwriter", QtInfoMsg)
} // namespace

void SdJournalWriter::write(const app::JournalFields& fields)
{
    std::vector<std::string> items;
    items.reserve(fields.size());
    for (const auto& [name, value] : fields) {
        items.push_back(name + '=' + value);
    }
    std::vector<iovec> vector;
    vector.reserve(items.size());
    for (std::string& item : items) {
        vector.push_back(iovec{item.data(), item.size()});
    }
    // A datagram to journald: it only waits when journald's queue is full.
    const int r = sd_journal_sendv(vector.data(), static_cast<int>(vector.size()));
    if (r < 0) {
        qCDebug(lcJournalWriter) << "cannot write to the journal:" << std::strerror(-r);
    }
}

} // namespace exitwise::platform
