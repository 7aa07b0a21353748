#include "platform/keepAwake.h"

#include "platform/debugLog.h"

void keepSystemAwake(bool on)
{
    debugLog("%s: %s (not available on this platform)\n", "keepSystemAwake", on ? "on" : "off");
}
