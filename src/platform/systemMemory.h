#ifndef SYSTEMMEMORY_H
#define SYSTEMMEMORY_H

// Memory the system can still give without swapping (MemAvailable of
// /proc/meminfo), in bytes; 0 when unknown.

#include <QtGlobal>
#include <cstddef>

qint64 availableMemoryBytes();

// Asks the system to back the whole 2 MiB pages inside [data, data + bytes)
// with transparent huge pages (the system's "madvise" mode gives them only
// to ranges that ask). A large image buffer then takes one page fault and
// one page clearing per 2 MiB instead of per 4 KiB, and its rows need far
// fewer address translations; on a virtual machine a 4 KiB fault can cost
// a hundred times the clearing itself. The content never changes, so any
// buffer may be passed, written or not; buffers under 4 MiB are left as
// they are. Returns the number of bytes marked (0 when nothing was).
size_t adviseHugePages(void *data, size_t bytes);

#endif // SYSTEMMEMORY_H
