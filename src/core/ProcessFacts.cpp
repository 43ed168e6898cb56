// SPDX-License-Identifier: MIT
#include "core/ProcessFacts.h"

#include <utility>

namespace exitwise::core {

ProcessExit ProcessExit::unknown()
{
    return ProcessExit{};
}

ProcessExit ProcessExit::exited(int code)
{
    ProcessExit exit;
    exit.kind = Kind::exited;
    exit.code = code;
    return exit;
}

ProcessExit ProcessExit::signaled(std::string signal, bool coreDumped)
{
    ProcessExit exit;
    exit.kind = Kind::signaled;
    exit.signal = std::move(signal);
    exit.coreDumped = coreDumped;
    return exit;
}

std::string ProcessExit::text() const
{
    switch (kind) {
    case Kind::exited:
        return "exited with code " + std::to_string(code);
    case Kind::signaled:
        return "terminated by " + signal + (coreDumped ? " (core dumped)" : "");
    case Kind::unknown:
        break;
    }
    return "exit status unknown";
}

} // namespace exitwise::core
