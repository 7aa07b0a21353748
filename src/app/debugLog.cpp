#include "app/debugLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// Temporary implementation: formats to standard error only when LUMIDRA_DEBUG
// is set. Replaced by the settings-driven log file.
void debugLog(const char *format, ...)
{
    static const bool enabled = std::getenv("LUMIDRA_DEBUG") != nullptr;
    if (!enabled)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void toggleLogToFileSetting(bool) {}
