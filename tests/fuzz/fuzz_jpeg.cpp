// Fuzz target of JPEG loading as the photo loader does it: the platform
// reader's size probe, the decode into 16-bit RGB (full size through libjpeg
// directly, then at half size through the platform reader) and the EXIF
// reader on the same file.
#include "imageio/exifReader.h"
#include "project/photoLoading.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QString>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The image plug-ins are found through the application object.
    static int argc = 1;
    static char name[] = "fuzz_jpeg";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    exifSetQuiet(true);
    static const QString path = QDir::tempPath() + QString("/lumidra_fuzz_jpeg_%1.jpg").arg(qint64(getpid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    if (reader.canRead() && reader.size().isValid()) {
        const int64_t w = reader.size().width(), h = reader.size().height();
        for (int divisor : {1, 2}) {
            const int dw = int(w / divisor), dh = int(h / divisor);
            if (dw <= 0 || dh <= 0 || int64_t(dw) * dh > 1 << 20)
                continue;
            std::unique_ptr<uint16_t[]> rgb16(new (std::nothrow) uint16_t[size_t(dw) * dh * 3]);
            if (rgb16)
                photoLoading::loadStandardImage(path, dw, dh, divisor, rgb16.get());
        }
    }
    exifInfo_t exif;
    std::memset(&exif, 0, sizeof exif);
    exifReadFile(path, &exif);
    exifFreeStripTables(&exif);
    QFile::remove(path);
    return 0;
}
