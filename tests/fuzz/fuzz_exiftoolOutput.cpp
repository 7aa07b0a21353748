// Fuzz target: the exiftool output parser. The input is split into lines as
// exiftool's reply would be; the record's text fields must stay terminated.
#include "imageio/exiftoolOutput.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QStringList lines;
    for (const QByteArray &l : bytes.split('\n'))
        lines << QString::fromUtf8(l);
    PartialExif_t record;
    std::memset(&record, 0, sizeof record);
    parseExiftoolOutput(lines, &record);
    if (!std::memchr(record.dateTimeOriginal, 0, sizeof record.dateTimeOriginal)
        || !std::memchr(record.exposureTimeText, 0, sizeof record.exposureTimeText)
        || !std::memchr(record.aspectRatio, 0, sizeof record.aspectRatio))
        std::abort();
    julianDay(int(record.imageWidth), record.imageHeight, record.bracketShotNumber);
    return 0;
}
