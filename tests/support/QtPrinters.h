// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <ostream>

// Readable failure messages for Qt strings in GoogleTest expectations.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
