// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

namespace exitwise::core {

// The span in which evidence for one closure is searched. No ordering is enforced.
struct TimestampWindow
{
    Date start;
    Date end;

    friend bool operator==(const TimestampWindow&, const TimestampWindow&) = default;
};

} // namespace exitwise::core
