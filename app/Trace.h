#pragma once

#include <QtGlobal>
#include <cstdio>

namespace og {

// One line on stdout when OG_TRACE_INSTANCE is set: the start-up milestones
// that the two-process tests wait for. Silent otherwise.
inline void traceLine(const char* text)
{
    if (qEnvironmentVariableIsSet("OG_TRACE_INSTANCE")) {
        std::fprintf(stdout, "%s\n", text);
        std::fflush(stdout);
    }
}

} // namespace og
