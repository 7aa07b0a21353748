#include "project/photoLoading.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/rawFileIO.h"
#include "imageio/jpegReader.h"

#include <QImage>
#include <QImageReader>
#include <QLocale>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace {

struct fileCloser {
    void operator()(FILE *f) const
    {
        if (f)
            fclose(f);
    }
};
using filePtr = std::unique_ptr<FILE, fileCloser>;

int64_t fileSizeOf(FILE *f)
{
    if (fseeko(f, 0, SEEK_END) != 0)
        return -1;
    const off_t end = ftello(f);
    return end < 0 ? -1 : int64_t(end);
}

bool entryInRange(int entry)
{
    return entry >= 0 && entry < PROJECT_MAX_PHOTO_ENTRIES;
}

// Copies rows [y0, y1) of img (its own row 0 = output row y0 - firstRow)
// into rgb16.
bool convertRows(const QImage &img, int firstRow, int y0, int y1, int width, uint16_t *rgb16)
{
    for (int y = y0; y < y1; ++y) {
        const uchar *line = img.constScanLine(y - firstRow);
        uint16_t *out = rgb16 + size_t(y) * width * 3;
        switch (img.format()) {
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_ARGB32_Premultiplied:
            for (int x = 0; x < width; ++x) {
                const QRgb p = reinterpret_cast<const QRgb *>(line)[x];
                out[x * 3 + 0] = uint16_t(qRed(p) * 257);
                out[x * 3 + 1] = uint16_t(qGreen(p) * 257);
                out[x * 3 + 2] = uint16_t(qBlue(p) * 257);
            }
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < width * 3; ++x)
                out[x] = uint16_t(line[x] * 257);
            break;
        case QImage::Format_Grayscale8:
            for (int x = 0; x < width; ++x)
                out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = uint16_t(line[x] * 257);
            break;
        case QImage::Format_RGBX64:
            for (int x = 0; x < width; ++x) {
                const QRgba64 p = reinterpret_cast<const QRgba64 *>(line)[x];
                out[x * 3 + 0] = p.red();
                out[x * 3 + 1] = p.green();
                out[x * 3 + 2] = p.blue();
            }
            break;
        default:
            return false;
        }
    }
    return true;
}

// Brings other pixel formats (palette, 16-bit, mono, ...) to one of the four
// read directly: 16-bit sources keep their 16 bits.
QImage normalised(const QImage &img)
{
    switch (img.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB888:
    case QImage::Format_Grayscale8:
        return img;
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return img.convertToFormat(QImage::Format_RGBX64);
    default:
        return img.convertToFormat(QImage::Format_RGB32);
    }
}

} // namespace

namespace photoLoading {

int stripeCount(int64_t width, int64_t height)
{
    return int(width * height / 20000000) + 1;
}

bool loadStandardImage(const QString &path, int width, int height, int divisor, uint16_t *rgb16, int *stripes,
                       QString *error)
{
    const int n = stripeCount(width, height);
    if (stripes)
        *stripes = n;
    if (width <= 0 || height <= 0 || !rgb16)
        return false;
    // Full-size JPEGs: one libjpeg decode straight into the 16-bit rows.
    if (divisor == 1) {
        switch (imageLoader::loadJPEG16(path, width, height, rgb16)) {
        case imageLoader::jpegDecodeResult::decoded:
            return true;
        case imageLoader::jpegDecodeResult::failed:
            return false;
        case imageLoader::jpegDecodeResult::notHandled:
            break;
        }
    }
    QImage scaled;
    if (divisor != 1) {
        QImageReader reader(path);
        reader.setAutoTransform(false);
        reader.setScaledSize(QSize(width, height));
        if (!reader.read(&scaled) || scaled.width() != width || scaled.height() != height)
            return false;
        scaled = normalised(scaled);
        if (scaled.isNull()) {
            if (error)
                *error = "UNSUPPORTED IMAGE FORMAT";
            return false;
        }
    }
    for (int k = 0; k < n; ++k) {
        const int y0 = height / n * k;
        const int y1 = k == n - 1 ? height : height / n * (k + 1);
        if (y1 <= y0)
            continue;
        if (divisor != 1) {
            if (!convertRows(scaled, 0, y0, y1, width, rgb16))
                return false;
            continue;
        }
        QImageReader reader(path);
        reader.setAutoTransform(false);
        if (reader.size() != QSize(width, height))
            return false;
        reader.setClipRect(QRect(0, y0, width, y1 - y0));
        QImage stripe;
        if (!reader.read(&stripe) || stripe.width() != width || stripe.height() != y1 - y0)
            return false;
        stripe = normalised(stripe);
        if (stripe.isNull() || !convertRows(stripe, y0, y0, y1, width, rgb16)) {
            if (error)
                *error = "UNSUPPORTED IMAGE FORMAT";
            return false;
        }
    }
    return true;
}

bool extractExifCarrier(const QString &projectPath, const projectHeader_t &header, int entry, const QString &target,
                        bool *written)
{
    if (written)
        *written = false;
    if (!entryInRange(entry))
        return false;
    const int64_t offset = header.exifCarrierOffset(entry);
    if (offset == 0)
        return true;
    filePtr f(openFileWide(projectPath, "rb"));
    if (!f)
        return false;
    const int64_t size = fileSizeOf(f.get());
    uint8_t lengthBytes[8];
    if (offset < 0 || size < 0 || offset > size - 8 || fseeko(f.get(), off_t(offset), SEEK_SET) != 0 ||
        fread(lengthBytes, 1, 8, f.get()) != 8)
        return false;
    uint64_t length = 0;
    for (int i = 7; i >= 0; --i)
        length = length << 8 | lengthBytes[i];
    // The carrier must lie inside the file and be of a sensible size.
    if (length == 0 || length > uint64_t(MAX_EXIF_CARRIER_BYTES) || length > uint64_t(size - offset - 8)) {
        debugLog("%s: EXIF carrier of entry %d has a bad length (%llu)\n", "photoLoading::extractExifCarrier", entry,
                 (unsigned long long)length);
        return false;
    }
    QByteArray bytes;
    bytes.resize(int(length));
    if (fread(bytes.data(), 1, size_t(length), f.get()) != size_t(length))
        return false;
    checkedSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        debugLog("%s: cannot write %s (%s)\n", "photoLoading::extractExifCarrier", qPrintable(target),
                 qPrintable(out.errorText()));
        return false;
    }
    if (written)
        *written = true;
    return true;
}

bool readProjectPhoto(const QString &projectPath, const projectHeader_t &header, int entry, int width, int height,
                      uint16_t *rgb16, bool *decoded)
{
    if (decoded)
        *decoded = false;
    if (!entryInRange(entry) || width <= 0 || height <= 0)
        return false;
    const int64_t offset = header.pixelDataOffset(entry);
    if (offset == 0)
        return true;
    filePtr f(openFileWide(projectPath, "rb"));
    if (!f)
        return false;
    const int64_t size = fileSizeOf(f.get());
    if (offset < 0 || size < 0 || offset >= size || fseeko(f.get(), off_t(offset), SEEK_SET) != 0)
        return false;
    const int32_t blockSize = header.blockSize();
    if (blockSize <= 0)
        return false;
    // readRawFile checks every block against the block size and never writes
    // past the expected bytes; its work buffer is sized for the largest block
    // a block of that size can be stored as.
    if (!readRawFile(f.get(), rgb16, uint64_t(width) * uint64_t(height) * 6, uint32_t(blockSize)))
        return false;
    if (decoded)
        *decoded = true;
    return true;
}

int orientationMode(int exifOrientation)
{
    switch (exifOrientation) {
    case 3:
        return 1;
    case 6:
        return 2;
    case 8:
        return 0;
    default:
        return -1;
    }
}

void rotateImage16(const uint16_t *src, int width, int height, int mode, uint16_t *dst)
{
    const size_t w = size_t(width), h = size_t(height);
    for (size_t y = 0; y < h; ++y) {
        for (size_t x = 0; x < w; ++x) {
            size_t to;
            switch (mode) {
            case 1: // half turn
                to = (h - 1 - y) * w + (w - 1 - x);
                break;
            case 2: // quarter turn clockwise: new size h x w
                to = x * h + (h - 1 - y);
                break;
            case 0: // quarter turn counter-clockwise
                to = (w - 1 - x) * h + y;
                break;
            default:
                to = y * w + x;
                break;
            }
            const uint16_t *s = src + (y * w + x) * 3;
            uint16_t *d = dst + to * 3;
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
}

} // namespace photoLoading

namespace {

template <typename T, typename F>
void reduceBlocks(const T *src, int width, int height, int divisor, uint16_t *dst, int pw, int ph, F toSample)
{
    const int d = std::max(1, divisor);
    for (int py = 0; py < ph; ++py) {
        const int y0 = py * d, y1 = std::min(height, y0 + d);
        for (int px = 0; px < pw; ++px) {
            const int x0 = px * d, x1 = std::min(width, x0 + d);
            double sum[3] = {0, 0, 0};
            int count = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x, ++count)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += double(src[(size_t(y) * width + x) * 3 + c]);
            uint16_t *out = dst + (size_t(py) * pw + px) * 3;
            for (int c = 0; c < 3; ++c)
                out[c] = count ? toSample(sum[c] / count) : 0;
        }
    }
}

} // namespace

namespace photoLoading {

void reduceToPreview(const uint16_t *src, int width, int height, int divisor, uint16_t *dst, int previewWidth,
                     int previewHeight)
{
    reduceBlocks(src, width, height, divisor, dst, previewWidth, previewHeight,
                 [](double v) { return uint16_t(std::min(65535.0, v + 0.5)); });
}

previewRowReducer::previewRowReducer(int w, int h, int d, uint16_t *out, int pw, int ph)
    : width(w), height(h), divisor(std::max(1, d)), previewWidth(std::max(0, pw)), previewHeight(std::max(0, ph)),
      dst(out), sums(size_t(std::max(0, pw)) * 3, 0.0)
{
    if (dst)
        std::fill(dst, dst + size_t(previewWidth) * size_t(previewHeight) * 3, uint16_t(0));
}

void previewRowReducer::addRows(int firstRow, int rowCount, const uint16_t *rows)
{
    if (!dst)
        return;
    const int d = divisor;
    for (int k = 0; k < rowCount; ++k) {
        const int y = firstRow + k;
        const int py = y / d;
        if (y < 0 || y >= height || py >= previewHeight)
            continue;
        const uint16_t *row = rows + size_t(k) * size_t(width) * 3;
        for (int px = 0; px < previewWidth; ++px) {
            const int x0 = px * d, x1 = std::min(width, x0 + d);
            double *sum = sums.data() + size_t(px) * 3;
            for (int x = x0; x < x1; ++x)
                for (int c = 0; c < 3; ++c)
                    sum[c] += double(row[size_t(x) * 3 + c]);
        }
        const int y0 = py * d, y1 = std::min(height, y0 + d);
        if (y != y1 - 1)
            continue;
        // The block row is complete: the same division and rounding as reduceToPreview.
        uint16_t *out = dst + size_t(py) * size_t(previewWidth) * 3;
        for (int px = 0; px < previewWidth; ++px) {
            const int x0 = px * d, x1 = std::min(width, x0 + d);
            const int count = x1 > x0 ? (y1 - y0) * (x1 - x0) : 0;
            double *sum = sums.data() + size_t(px) * 3;
            for (int c = 0; c < 3; ++c) {
                out[size_t(px) * 3 + c] = count ? uint16_t(std::min(65535.0, sum[c] / count + 0.5)) : 0;
                sum[c] = 0.0;
            }
        }
    }
}

void reduceFloatToPreview(const float *src, int width, int height, int divisor, double maximum, uint16_t *dst,
                          int previewWidth, int previewHeight)
{
    const double f = maximum > 0 ? 65535.0 / maximum : 0.0;
    reduceBlocks(src, width, height, divisor, dst, previewWidth, previewHeight, [f](double v) {
        const double x = v * f;
        return uint16_t(x >= 65535.0 ? 65535.0 : x > 0.0 ? x : 0.0);
    });
}

namespace {

// The shortest text of a number (no trailing zeros).
QString shortestNumber(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QStringList rawDecodeSwitches(const rawDecodeChoices_t &c, bool preview)
{
    QStringList a;
    switch (c.whiteBalance) {
    case rawDecodeChoices_t::AsShot:
        a << "-w";
        break;
    case rawDecodeChoices_t::AutoWhole:
        a << "-a";
        break;
    case rawDecodeChoices_t::AutoSelection:
        if (c.sampleX >= 0 && c.sampleY >= 0)
            a << "-A" << QString::number(2 * c.sampleX - c.sampleSize / 2)
              << QString::number(2 * c.sampleY - c.sampleSize / 2) << QString::number(c.sampleSize)
              << QString::number(c.sampleSize);
        else
            a << "-a";
        break;
    default:
        a << "-r" << shortestNumber(c.multipliers[0]) << shortestNumber(c.multipliers[1])
          << shortestNumber(c.multipliers[2]) << shortestNumber(c.multipliers[1]);
        break;
    }
    if (c.noiseFilter) {
        a << "-n" << shortestNumber(c.wavelet * 35);
        if (c.median > 0)
            a << "-m" << shortestNumber(c.median);
    }
    if (c.colorManagement && c.colorSpace > 1) {
        if (preview)
            a << "-h";
        else
            a << "-o" << QString::number(c.colorSpace);
    } else if (preview) {
        a << "-h";
    }
    if (!c.keepOrientation)
        a << "-t" << "0";
    if (c.other) {
        if (c.recoverHighlights)
            a << "-H" << "2" << "-g" << "5" << "7";
        if (c.brightness != 1.0)
            a << "-b" << QString::number(c.brightness, 'g', 2);
        if (!c.autoBrighten)
            a << "-W";
    } else {
        a << "-W";
    }
    a << "-c";
    if (preview)
        a << "-q" << "0";
    else
        a << "-q" << "2" << "-6";
    a << "-s" << "0";
    return a;
}

} // namespace photoLoading
