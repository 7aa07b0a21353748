// Fuzz target: the mask undo file reader. The first two bytes choose the
// mask size; the rest is the file.
#include "project/pyramid.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int w = 1 + data[0] % 64;
    const int h = 1 + data[1] % 64;
    static const QString path =
        QDir::tempPath() + QString("/lumidra_fuzz_mask_%1").arg(qint64(getpid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(reinterpret_cast<const char *>(data + 2), qint64(size - 2));
    }
    pyramid p;
    if (p.makePyramid(w, h, 2, 1, 1, true) && p.readMaskFile(path))
        p.buildLevelsFrom(0);
    QFile::remove(path);
    return 0;
}
