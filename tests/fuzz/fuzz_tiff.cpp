// Fuzz target: the TIFF reader (size probe and full decode). The input is
// written to a file, probed, and decoded into buffers of the probed size
// when that size is small.
#include "imageio/tiffReader.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    exifSetQuiet(true);
    tiffSetQuiet(true);
    static const QString path = QDir::tempPath() + QString("/lumidra_fuzz_tiff_%1.tif").arg(qint64(getpid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    int w = 0, h = 0, bps = 0;
    if (imageLoader::getTIFFinfo(path, &w, &h, &bps) && w > 0 && h > 0 && int64_t(w) * h <= 1 << 16) {
        std::vector<uint16_t> rgb16(size_t(w) * h * 3);
        std::vector<float> rgbFloat(size_t(w) * h * 3);
        float lo = 0, hi = 0;
        exifInfo_t info;
        std::memset(&info, 0, sizeof info);
        imageLoader::loadTIFF(path, rgb16.data(), rgbFloat.data(), &lo, &hi, &info, w, h);
        exifFreeStripTables(&info);
    }
    QFile::remove(path);
    return 0;
}
