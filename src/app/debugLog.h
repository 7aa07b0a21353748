#ifndef APP_DEBUGLOG_H
#define APP_DEBUGLOG_H

// The debug log lives in platform/debugLog.h (the lowest layer, so that the
// platform stand-ins can log too). This header keeps the older include path
// working; new code includes platform/debugLog.h.

#include "platform/debugLog.h"

#endif // APP_DEBUGLOG_H
