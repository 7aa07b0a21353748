// Fuzz target of the OpenEXR reader path: the size probe (with its check of
// the file against the size it declares), then the decode into a float image
// of the probed size when that size is small. The library reads by path, so
// the input is written to a file first.
#include "imageio/openEXR.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <memory>
#include <new>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::tempPath() + QString("/lumidra_fuzz_openexr_%1.exr").arg(qint64(getpid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    int w = 0, h = 0;
    QString reason;
    if (imageLoader::getOpenEXRinfo(path, w, h, &reason) && int64_t(w) * h <= 1 << 20) {
        std::unique_ptr<float[]> rgb(new (std::nothrow) float[size_t(w) * h * 3]);
        float mn = 0, mx = 0;
        if (rgb)
            imageLoader::loadOpenEXR(path, w, h, rgb.get(), mn, mx);
    }
    QFile::remove(path);
    return 0;
}
