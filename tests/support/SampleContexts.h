// SPDX-License-Identifier: MIT
#pragma once

#include "core/EventContext.h"

#include <cstdint>
#include <optional>

namespace exitwise::test {

// "Sketch Pad" (org.example.SketchPad) ended at `at` for `reason`; its evidence is searched
// 180 s either side.
inline core::EventContext
sketchPadContext(core::Date at, core::TerminationReason reason, std::optional<std::int32_t> pid = 812)
{
    return core::contextAround({.appName = "Sketch Pad",
                                .bundleIdentifier = "org.example.SketchPad",
                                .pid = pid,
                                .terminatedAt = at,
                                .terminationReason = reason},
                               180.0);
}

// "Notes" on a Linux desktop: desktop id org.example.Notes, running notes-bin as pid 4711 in
// GNOME's scope for it. The kernel names it only as notes-bin[4711].
inline core::EventContext notesContext(core::Date at, core::TerminationReason reason)
{
    core::EventContext context = core::contextAround({.appName = "Notes",
                                                      .bundleIdentifier = "org.example.Notes",
                                                      .pid = 4711,
                                                      .terminatedAt = at,
                                                      .terminationReason = reason},
                                                     180.0);
    core::ProcessFacts facts;
    facts.command = "notes-bin";
    facts.executable = "/usr/lib/notes/notes-bin";
    facts.cgroup =
        "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Notes-4711.scope";
    context.process = facts;
    return context;
}

} // namespace exitwise::test
