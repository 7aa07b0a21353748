#include "platform/systemMemory.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cstdint>
#include <sys/mman.h>

qint64 availableMemoryBytes()
{
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = f.read(64 * 1024).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QList<QByteArray> parts = line.mid(13).simplified().split(' ');
        bool ok = false;
        const qint64 kib = parts.isEmpty() ? 0 : parts[0].toLongLong(&ok);
        return ok && kib > 0 ? kib * 1024 : 0;
    }
    return 0;
}

size_t adviseHugePages(void *data, size_t bytes)
{
    constexpr uintptr_t HUGE_PAGE = uintptr_t(2) << 20;
    constexpr size_t SMALLEST = size_t(4) << 20;
    if (!data || bytes < SMALLEST)
        return 0;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(HUGE_PAGE - 1);
    if (end <= first)
        return 0;
#ifdef MADV_HUGEPAGE
    // A refusal (huge pages switched off, an old kernel) leaves ordinary pages.
    if (madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE) == 0)
        return size_t(end - first);
#endif
    return 0;
}
