#ifndef SYSTEMMEMORY_H
#define SYSTEMMEMORY_H

// Memory the system can still give without swapping (MemAvailable of
// /proc/meminfo), in bytes; 0 when unknown.

#include <QtGlobal>

qint64 availableMemoryBytes();

#endif // SYSTEMMEMORY_H
