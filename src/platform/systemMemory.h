#ifndef SYSTEMMEMORY_H
#define SYSTEMMEMORY_H

// Memory the system can still give without swapping (MemAvailable of
// /proc/meminfo), in bytes; 0 when unknown.

#include <QtGlobal>
#include <cstddef>

qint64 availableMemoryBytes();

// calloc for image buffers: blocks of HUGE_PAGE_MIN_BYTES and more are asked
// to be backed by transparent huge pages (where the system offers them on
// request), so that first touching a fresh 24-megapixel image costs a few
// hundred page faults instead of tens of thousands. Free with std::free.
constexpr size_t HUGE_PAGE_MIN_BYTES = size_t(16) << 20;
void *callocImageBuffer(size_t bytes);

#endif // SYSTEMMEMORY_H
