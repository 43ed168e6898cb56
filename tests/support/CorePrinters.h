// SPDX-License-Identifier: MIT
#pragma once

// GoogleTest printers so failures show raw values and summaries instead of bytes.

#include "core/Diagnosis.h"
#include "core/Signal.h"

#include <ostream>

namespace exitwise::core {

inline void PrintTo(EndState value, std::ostream* os)
{
    *os << '"' << rawValue(value) << '"';
}
inline void PrintTo(DominantCause value, std::ostream* os)
{
    *os << '"' << rawValue(value) << '"';
}
inline void PrintTo(Confidence value, std::ostream* os)
{
    *os << '"' << rawValue(value) << '"';
}
inline void PrintTo(const Signal& value, std::ostream* os)
{
    *os << rawValue(value.type()) << " @" << secondsSinceReferenceDate(value.timestamp()) << ": "
        << value.summary();
}

} // namespace exitwise::core
