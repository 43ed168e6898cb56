// SPDX-License-Identifier: MIT
#pragma once

#include "app/ClosureJournal.h"

namespace exitwise::platform {

// Sends entries to the local journald through its socket. Without a journald (a container, a
// system that has none) entries are dropped.
class SdJournalWriter : public app::JournalWriter
{
public:
    void write(const app::JournalFields& fields) override;
};

} // namespace exitwise::platform
