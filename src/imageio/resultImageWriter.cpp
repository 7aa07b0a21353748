#include "imageio/resultImageWriter.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "imageio/stripedJpeg.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <tiffio.h>
#include <vector>

namespace {

int tiffMessage(TIFF *, void *, const char *module, const char *fmt, va_list ap)
{
    char text[512];
    vsnprintf(text, sizeof text, fmt, ap);
    debugLog("%s: libtiff (%s): %s\n", "writeResultImage", module ? module : "-", text);
    return 1;
}

// 8-bit image of the result: each sample v becomes v * 255 / 65535 truncated.
// A null image when the memory could not be had.
QImage toEightBit(int width, int height, const uint16_t *rgb)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; y++) {
        const uint16_t *src = rgb + qint64(y) * width * 3;
        QRgb *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; x++, src += 3)
            dst[x] = qRgb(int(uint32_t(src[0]) * 255u / 65535u), int(uint32_t(src[1]) * 255u / 65535u),
                          int(uint32_t(src[2]) * 255u / 65535u));
        progressCounter.fetch_add(uint64_t(width / 2), std::memory_order_relaxed);
    }
    return image;
}

bool writeTiff(TIFF *tif, int width, int height, const uint16_t *rgb, const resultSaveOptions_t &options)
{
    const bool sixteen = options.tiffBitDepth == 2;
    const qint64 rowBytes = qint64(width) * 3 * (sixteen ? 2 : 1);
    const uint32_t rowsPerStrip = uint32_t(std::max<qint64>(1, (256 * 1024) / rowBytes));
    uint16_t compression = COMPRESSION_NONE;
    if (options.tiffCompression == 1)
        compression = COMPRESSION_LZW;
    else if (options.tiffCompression == 2)
        compression = COMPRESSION_ADOBE_DEFLATE;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width)) == 1
              && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height)) == 1
              && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, sixteen ? 16 : 8) == 1
              && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3) == 1
              && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1
              && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1
              && TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1
              && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) == 1
              && TIFFSetField(tif, TIFFTAG_COMPRESSION, compression) == 1
              && TIFFSetField(tif, TIFFTAG_SOFTWARE, "Lumidra " LUMIDRA_VERSION) == 1;
    // No resolution tags without a resolution.
    if (ok && options.dpi > 0)
        ok = TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1
             && TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(options.dpi)) == 1
             && TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(options.dpi)) == 1;
    if (ok && compression != COMPRESSION_NONE)
        ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1;
    if (!ok)
        return false;
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (int y = 0; y < height; y++) {
        const uint16_t *src = rgb + qint64(y) * width * 3;
        if (sixteen) {
            std::copy(src, src + qint64(width) * 3, reinterpret_cast<uint16_t *>(row.data()));
        } else {
            for (qint64 i = 0; i < qint64(width) * 3; i++)
                row[size_t(i)] = uint8_t(uint32_t(src[i]) * 255u / 65535u);
        }
        if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) != 1)
            return false;
        progressCounter.fetch_add(uint64_t(width), std::memory_order_relaxed);
    }
    return TIFFWriteDirectory(tif) == 1 && TIFFFlush(tif) == 1;
}

} // namespace

int resultFormatForName(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return resultTiff;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return resultJpeg;
    return resultPng;
}

QString repairResultSuffix(const QString &fileName, int filterFormat)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    switch (filterFormat) {
    case resultPng:
        return suffix == QLatin1String("png") ? fileName : fileName + QStringLiteral(".png");
    case resultTiff:
        return suffix == QLatin1String("tif") || suffix == QLatin1String("tiff") ? fileName
                                                                                  : fileName + QStringLiteral(".tif");
    default:
        return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") ? fileName
                                                                                  : fileName + QStringLiteral(".jpg");
    }
}

bool writeResultImage(const QString &path, int width, int height, const uint16_t *rgb,
                      const resultSaveOptions_t &options, bool replaceReadOnly, QString *reason)
{
    auto failWith = [&](const QString &why) {
        debugLog("Saving failed: %s (%s)\n", qPrintable(path), qPrintable(why));
        if (reason)
            *reason = why;
        return false;
    };
    if (width <= 0 || height <= 0 || !rgb || path.isEmpty())
        return failWith(QStringLiteral("bad arguments"));
    if (options.format < resultJpeg || options.format > resultPng)
        return failWith(QStringLiteral("unknown format"));

    checkedSaveFile file(path);
    file.setReplaceReadOnly(replaceReadOnly);

    if (options.format == resultTiff) {
        if (options.tiffBitDepth != 1 && options.tiffBitDepth != 2)
            return failWith(QStringLiteral("unknown bit depth"));
        if (!file.openForLibrary())
            return failWith(file.errorText());
        TIFFOpenOptions *tiffOptions = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(tiffOptions, tiffMessage, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(tiffOptions, tiffMessage, nullptr);
        const qint64 bytes = qint64(width) * height * 3 * options.tiffBitDepth;
        const bool big = bytes > (qint64(1) << 32) - (qint64(64) << 20);
        TIFF *tif = TIFFFdOpenExt(file.descriptor(), QFile::encodeName(file.temporaryPath()).constData(),
                                  big ? "w8" : "w", tiffOptions);
        TIFFOpenOptionsFree(tiffOptions);
        const bool ok = tif && writeTiff(tif, width, height, rgb, options);
        if (tif)
            TIFFCleanup(tif);   // the descriptor stays with the save
        if (!ok)
            return failWith(QStringLiteral("libtiff could not write the file"));
        if (!file.commit())
            return failWith(file.errorText());
        return true;
    }

    // Encoded in memory first: the image library's encoders do not all clean
    // up after a write failing midway, and the checked save then writes the
    // bytes in one go.
    QByteArray encoded;
    if (options.format == resultJpeg) {
        stripedJpegOptions_t jpeg;
        jpeg.quality = std::clamp(options.jpegQuality, 0, 100);
        jpeg.dpi = options.dpi;
        jpeg.taskCount = options.taskCount;
        jpeg.runParallel = options.runParallel;
        QString why;
        bool ok = false;
        if (options.resize) {
            if (options.resizeWidth <= 0 || options.resizeHeight <= 0)
                return failWith(QStringLiteral("bad resize size"));
            QImage image = toEightBit(width, height, rgb);
            if (image.isNull())
                return failWith(QStringLiteral("not enough memory for the image"));
            debugLog("Resizing JPEG (%d x %d)...\n", options.resizeWidth, options.resizeHeight);
            image = image.scaled(options.resizeWidth, options.resizeHeight, Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
            if (image.isNull())
                return failWith(QStringLiteral("not enough memory for the resized image"));
            const QImage &scaled = image;
            const int sw = scaled.width();
            ok = encodeStripedJpeg(
                sw, scaled.height(),
                [&scaled, sw](int y, uint8_t *out) {
                    const QRgb *in = reinterpret_cast<const QRgb *>(scaled.constScanLine(y));
                    for (int x = 0; x < sw; ++x, out += 3) {
                        out[0] = uint8_t(qRed(in[x]));
                        out[1] = uint8_t(qGreen(in[x]));
                        out[2] = uint8_t(qBlue(in[x]));
                    }
                },
                jpeg, &encoded, &why);
            progressCounter.fetch_add(uint64_t(qint64(width) * height / 2), std::memory_order_relaxed);
        } else {
            // Rows are converted to 8 bits (v * 255 / 65535 truncated) as the
            // stripes ask for them: no full 8-bit copy of the image.
            ok = encodeStripedJpeg(
                width, height,
                [rgb, width](int y, uint8_t *out) {
                    const uint16_t *in = rgb + qint64(y) * width * 3;
                    for (qint64 i = 0; i < qint64(width) * 3; ++i)
                        out[i] = uint8_t(uint32_t(in[i]) * 255u / 65535u);
                    progressCounter.fetch_add(uint64_t(width), std::memory_order_relaxed);
                },
                jpeg, &encoded, &why);
        }
        if (!ok)
            return failWith(why);
    } else {
        QImage image = toEightBit(width, height, rgb);
        if (image.isNull())
            return failWith(QStringLiteral("not enough memory for the image"));
        if (options.dpi > 0) {
            const int dotsPerMetre = int(options.dpi * 39.37);
            image.setDotsPerMeterX(dotsPerMetre);
            image.setDotsPerMeterY(dotsPerMetre);
        }
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, QByteArray("png"));
        if (!writer.write(image))
            return failWith(writer.errorString());
        progressCounter.fetch_add(uint64_t(qint64(width) * height / 2), std::memory_order_relaxed);
    }
    if (!file.open(QIODevice::WriteOnly))
        return failWith(file.errorText());
    if (file.write(encoded) != encoded.size()) {
        const QString why = file.errorText();
        file.discard();
        return failWith(why.isEmpty() ? QStringLiteral("the file could not be written") : why);
    }
    if (!file.commit())
        return failWith(file.errorText());
    return true;
}
