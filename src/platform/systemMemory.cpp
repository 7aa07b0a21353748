#include "platform/systemMemory.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

#include <QByteArray>
#include <QFile>
#include <QList>

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

void *callocImageBuffer(size_t bytes)
{
    void *p = std::calloc(bytes ? bytes : 1, 1);
#ifdef MADV_HUGEPAGE
    // Only the whole 2 MB pages inside the block; a refusal changes nothing.
    constexpr uintptr_t hugePage = uintptr_t(2) << 20;
    if (p && bytes >= HUGE_PAGE_MIN_BYTES) {
        const uintptr_t start = (uintptr_t(p) + hugePage - 1) & ~(hugePage - 1);
        const uintptr_t end = (uintptr_t(p) + bytes) & ~(hugePage - 1);
        if (end > start)
            madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    }
#endif
    return p;
}
