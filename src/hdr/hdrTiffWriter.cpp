#include "hdr/hdrTiffWriter.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/sharedFlags.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

int tiffMessage(TIFF *, void *, const char *module, const char *fmt, va_list ap)
{
    char text[512];
    vsnprintf(text, sizeof text, fmt, ap);
    debugLog("%s: libtiff (%s): %s\n", "saveHdrTiff", module ? module : "-", text);
    return 1;
}

bool setText(TIFF *tif, ttag_t tag, const QString &value)
{
    if (value.isEmpty())
        return true;
    const QByteArray bytes = value.toUtf8();
    return TIFFSetField(tif, tag, bytes.constData()) == 1;
}

bool writeExifDirectory(TIFF *tif, const hdrTiffExif_t &exif, uint64_t *offset)
{
    if (TIFFCreateEXIFDirectory(tif) != 0)   // 0 is success here
        return false;
    bool ok = true;
    if (exif.exposureTime > 0.0)
        ok &= TIFFSetField(tif, EXIFTAG_EXPOSURETIME, exif.exposureTime) == 1;
    if (exif.fNumber > 0.0)
        ok &= TIFFSetField(tif, EXIFTAG_FNUMBER, exif.fNumber) == 1;
    if (exif.focalLength > 0.0)
        ok &= TIFFSetField(tif, EXIFTAG_FOCALLENGTH, exif.focalLength) == 1;
    if (exif.exposureBias != 0.0)
        ok &= TIFFSetField(tif, EXIFTAG_EXPOSUREBIASVALUE, exif.exposureBias) == 1;
    if (exif.iso > 0) {
        const uint16_t iso = uint16_t(std::min(exif.iso, 65535));
        ok &= TIFFSetField(tif, EXIFTAG_ISOSPEEDRATINGS, 1, &iso) == 1;
    }
    ok &= setText(tif, EXIFTAG_DATETIMEORIGINAL, exif.dateTime);
    ok &= setText(tif, EXIFTAG_LENSMODEL, exif.lensModel);
    return ok && TIFFWriteCustomDirectory(tif, offset) == 1;
}

// Writes the whole file into an open descriptor; false on any failure. The
// EXIF directory is written first, so that the main directory (written last,
// after the pixels) can carry its offset without being read back.
bool writeTiff(TIFF *tif, int width, int height, const float *rgb, bool normalize, double minimum,
               double maximum, bool deflate, const hdrTiffExif_t *exif)
{
    // An EXIF directory needs at least one entry: without any value none is
    // written (make and model still go to the main directory).
    uint64_t exifOffset = 0;
    const bool exifEntries = exif && (exif->exposureTime > 0.0 || exif->fNumber > 0.0 || exif->focalLength > 0.0
                                      || exif->exposureBias != 0.0 || exif->iso > 0 || !exif->dateTime.isEmpty()
                                      || !exif->lensModel.isEmpty());
    if (exifEntries) {
        if (!writeExifDirectory(tif, *exif, &exifOffset))
            return false;
        TIFFFreeDirectory(tif);   // the EXIF values, while their field list is current
        if (TIFFCreateDirectory(tif) != 0)
            return false;
    }
    const qint64 rowFloats = qint64(width) * 3;
    const uint32_t rowsPerStrip = uint32_t(std::max<qint64>(1, (256 * 1024) / (rowFloats * 4)));
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width)) == 1
              && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height)) == 1
              && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32) == 1
              && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3) == 1
              && TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) == 1
              && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1
              && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1
              && TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1
              && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) == 1
              && TIFFSetField(tif, TIFFTAG_SOFTWARE, "Lumidra " LUMIDRA_VERSION) == 1;
    if (deflate)
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1
             && TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT) == 1;
    else
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1;
    if (ok && exif) {
        ok = setText(tif, TIFFTAG_MAKE, exif->make) && setText(tif, TIFFTAG_MODEL, exif->model)
             && setText(tif, TIFFTAG_DATETIME, exif->dateTime)
             && (!exifEntries || TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset) == 1);
    }
    if (!ok)
        return false;

    const double offset = normalize ? minimum : 0.0;
    const double range = normalize ? maximum - minimum : 1.0;
    const double scale = range != 0.0 ? 1.0 / range : 1.0;
    std::vector<float> row(static_cast<size_t>(rowFloats));
    for (int y = 0; y < height; y++) {
        const float *src = rgb + qint64(y) * rowFloats;
        if (normalize)
            for (qint64 i = 0; i < rowFloats; i++)
                row[size_t(i)] = float((src[i] - offset) * scale);
        else
            std::copy(src, src + rowFloats, row.begin());
        if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) != 1)
            return false;
        progressCounter.fetch_add(1, std::memory_order_relaxed);
    }
    return TIFFWriteDirectory(tif) == 1 && TIFFFlush(tif) == 1;
}

} // namespace

bool saveHdrTiff(const QString &path, int width, int height, const float *rgb, bool normalize,
                 double minimum, double maximum, bool deflate, const hdrTiffExif_t *exif, bool replaceReadOnly,
                 QString *reason)
{
    debugLog("Saving 32-bit TIFF image...\n");
    auto failWith = [&](const QString &why) {
        debugLog("%s: Cannot write file %s (%s).\n", "saveHdrTiff", qPrintable(path), qPrintable(why));
        if (reason)
            *reason = why;
        return false;
    };
    if (width <= 0 || height <= 0 || !rgb || path.isEmpty())
        return failWith(QStringLiteral("bad arguments"));
    checkedSaveFile file(path);
    file.setReplaceReadOnly(replaceReadOnly);
    if (!file.openForLibrary())
        return failWith(file.errorText());
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffMessage, nullptr);
    // Classic TIFF addresses 4 GiB; larger images (big panoramas) are written as BigTIFF.
    const bool big = qint64(width) * height * 12 > (qint64(1) << 32) - (qint64(64) << 20);
    TIFF *tif = TIFFFdOpenExt(file.descriptor(), QFile::encodeName(file.temporaryPath()).constData(),
                              big ? "w8" : "w", options);
    TIFFOpenOptionsFree(options);
    const bool ok = tif && writeTiff(tif, width, height, rgb, normalize, minimum, maximum, deflate, exif);
    if (tif)
        TIFFCleanup(tif);   // frees the handle; the descriptor stays with the save
    if (!ok)
        return failWith(QStringLiteral("libtiff could not write the file"));
    if (!file.commit())
        return failWith(file.errorText());
    return true;
}
