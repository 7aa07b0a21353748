#include "platform/systemMemory.h"

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
