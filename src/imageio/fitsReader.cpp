#include "imageio/fitsReader.h"
#include "imageio/imageFileLimits.h"

#include "app/debugLog.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int CARD_SIZE = 80;
constexpr int BLOCK_SIZE = 2880;

using imageFileLimits::filePtr;

filePtr openRead(const QString &path)
{
    return imageFileLimits::openReadFile(path);
}

int64_t fileSize(FILE *f)
{
    const long here = ftell(f);
    if (here < 0 || fseek(f, 0, SEEK_END) != 0)
        return -1;
    const long end = ftell(f);
    if (fseek(f, here, SEEK_SET) != 0)
        return -1;
    return end;
}

// The keywords read from the primary header, in matching order.
enum keyword_t {
    kBitpix, kNaxis, kNaxis1, kNaxis2, kNaxis3, kExptime, kSnapshot, kFocallen, kAptdia, kBackgrnd,
    kTimeObs, kDateObs, kTelescop, kInstrume, kCount
};
const char *const KEYWORDS[kCount] = {"BITPIX  ", "NAXIS   ", "NAXIS1  ", "NAXIS2  ", "NAXIS3  ",
                                      "EXPTIME ", "SNAPSHOT", "FOCALLEN", "APTDIA  ", "BACKGRND",
                                      "TIME-OBS", "DATE-OBS", "TELESCOP", "INSTRUME"};

struct fitsHeader_t {
    long bitpix = 0;
    long naxis = 2;
    long naxis1 = 0;
    long naxis2 = 0;
    long naxis3 = 1;
    double exptime = 1.0;
    long snapshot = 1;
    long focallen = 1;
    long aptdia = 1;
    long backgrnd = 0;
    QByteArray timeObs, dateObs, telescop, instrume;
    int64_t dataOffset = 0;
};

// Text values are copied up to their length limit, then cleaned: trimmed,
// apostrophes and double quotes removed.
QByteArray textValue(const char *value, int limit)
{
    QByteArray v = QByteArray(value).left(limit);
    v.replace('\'', "").replace('"', "");
    return v.trimmed();
}

QByteArray cutAtSlash(QByteArray v)
{
    const int slash = v.indexOf('/');
    if (slash >= 0)
        v.truncate(slash);
    return v.trimmed();
}

// Cards up to END; the end of the file is the only limit on their number.
bool readHeader(FILE *f, fitsHeader_t &h)
{
    char card[CARD_SIZE + 1];
    int64_t cards = 0;
    for (;;) {
        if (fread(card, 1, CARD_SIZE, f) != CARD_SIZE) {
            debugLog("%s: Header seems to be incorrect.\n", "imageLoader::getFITSinfo");
            return false;
        }
        card[CARD_SIZE] = 0;
        ++cards;
        if (strncmp(card, "END", 3) == 0)
            break;
        int key = 0;
        while (key < kCount && !strstr(card, KEYWORDS[key]))
            ++key;
        if (key == kCount)
            continue;
        const char *eq = strchr(card, '=');
        const char *value = eq ? eq + 1 : "";
        switch (key) {
        case kBitpix: h.bitpix = strtol(value, nullptr, 10); break;
        case kNaxis: h.naxis = strtol(value, nullptr, 10); break;
        case kNaxis1: h.naxis1 = strtol(value, nullptr, 10); break;
        case kNaxis2: h.naxis2 = strtol(value, nullptr, 10); break;
        case kNaxis3: h.naxis3 = strtol(value, nullptr, 10); break;
        case kExptime: h.exptime = strtod(value, nullptr); break;
        case kSnapshot: h.snapshot = strtol(value, nullptr, 10); break;
        case kFocallen: h.focallen = strtol(value, nullptr, 10); break;
        case kAptdia: h.aptdia = strtol(value, nullptr, 10); break;
        case kBackgrnd: h.backgrnd = strtol(value, nullptr, 10); break;
        case kTimeObs: h.timeObs = textValue(value, 15); break;
        case kDateObs: h.dateObs = textValue(value, 15); break;
        case kTelescop: h.telescop = textValue(value, 31); break;
        case kInstrume: h.instrume = textValue(value, 39); break;
        }
    }
    // The data start at the first block boundary after the END card.
    h.dataOffset = (cards * CARD_SIZE + BLOCK_SIZE - 1) / BLOCK_SIZE * BLOCK_SIZE;
    return true;
}

int bytesPerSample(long bitpix)
{
    return bitpix == 16 ? 2 : 4;
}

void fillShootingData(const fitsHeader_t &h, exifInfo_t *exif)
{
    if (h.snapshot != 0)
        exif->exposureTime = float(h.exptime / double(h.snapshot));
    exif->iso = 100;
    if (h.aptdia != 0)
        exif->fNumber = float(double(h.focallen) / double(h.aptdia));
    exif->focalLength = float(h.focallen);
    QByteArray date = h.dateObs;
    date.replace('-', ':');
    snprintf(exif->dateTime, sizeof exif->dateTime, "%s %s", date.constData(), h.timeObs.constData());
    snprintf(exif->make, sizeof exif->make, "%s", cutAtSlash(h.telescop).constData());
    snprintf(exif->model, sizeof exif->model, "%s", cutAtSlash(h.instrume).constData());
}

// One sample in the file's big-endian coding. Not-a-number and infinite
// floats (blank pixels) come back as NaN and are left out of the stretch.
inline double decodeSample(const uint8_t *p, long bitpix)
{
    if (bitpix == 16)
        return double(int16_t(uint16_t(p[0] << 8 | p[1])));
    const uint32_t u = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    if (bitpix == 32)
        return double(int32_t(u));
    float v;
    memcpy(&v, &u, sizeof v);
    return std::isfinite(v) ? double(v) : NAN;
}

} // namespace

namespace imageLoader {

uint16_t fitsStretch(double t)
{
    if (!(t > 0.0))
        return 0;
    if (t >= 1.0)
        return 65535;
    const double y = 1.5385 * std::pow(t, 0.6) - 0.5385 * std::pow(t, 1.3);
    const double v = std::trunc(y * 65535.0);
    return uint16_t(v < 0 ? 0 : v > 65535 ? 65535 : v);
}

bool getFITSinfo(FILE *file, int *width, int *height, int64_t *dataOffset, int *channels, int *bitpix,
                 exifInfo_t *exif, QString *reason)
{
    auto refuse = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    fitsHeader_t h;
    if (!readHeader(file, h))
        return refuse(QStringLiteral("Header seems to be incorrect (the file ends before its END card)."));
    if (h.bitpix != 16 && h.bitpix != 32 && h.bitpix != -32) {
        debugLog("%s: Wrong data format (%d).\n", "imageLoader::getFITSinfo", int(h.bitpix));
        return refuse(QStringLiteral("Wrong data format (%1).").arg(h.bitpix));
    }
    if (h.naxis3 != 1 && h.naxis3 != 3) {
        debugLog("%s: Wrong number of channels (%d).\n", "imageLoader::getFITSinfo", int(h.naxis3));
        return refuse(QStringLiteral("Wrong number of channels (%1).").arg(h.naxis3));
    }
    if (h.naxis != 2 && h.naxis != 3) {
        debugLog("%s: Wrong number of axis (%d).\n", "imageLoader::getFITSinfo", int(h.naxis));
        return refuse(QStringLiteral("Wrong number of axis (%1).").arg(h.naxis));
    }
    debugLog("FITS: naxis=%d, channels=%d, bitpix=%d, dataPtr=%d\n", int(h.naxis), int(h.naxis3), int(h.bitpix),
             int(h.dataOffset));
    if (!imageFileLimits::sizeAcceptable(h.naxis1, h.naxis2)) {
        debugLog("%s: Wrong image size (%ld x %ld).\n", "imageLoader::getFITSinfo", h.naxis1, h.naxis2);
        return refuse(QStringLiteral("Wrong image size (%1 x %2).").arg(h.naxis1).arg(h.naxis2));
    }
    // The data must all be there: a short file is refused here, before anybody
    // allocates the image.
    const int64_t needed = int64_t(h.naxis1) * h.naxis2 * h.naxis3 * bytesPerSample(h.bitpix);
    const int64_t size = fileSize(file);
    if (size >= 0 && size - h.dataOffset < needed) {
        debugLog("%s: File too short (%lld bytes of image data, %lld needed).\n", "imageLoader::getFITSinfo",
                 (long long)std::max<int64_t>(0, size - h.dataOffset), (long long)needed);
        return refuse(QStringLiteral("File too short (%1 bytes of image data, %2 needed).")
                          .arg(std::max<int64_t>(0, size - h.dataOffset))
                          .arg(needed));
    }
    if (dataOffset && channels && bitpix) {
        // The data start exactly at the block boundary (the FITS standard); a
        // first sample whose bytes happen to be blanks stays part of the data.
        *dataOffset = h.dataOffset;
        *channels = int(h.naxis3);
        *bitpix = int(h.bitpix);
        debugLog("FITS: dataPtr=0x%llx\n", (unsigned long long)h.dataOffset);
    }
    if (width && height) {
        *width = int(h.naxis1);
        *height = int(h.naxis2);
    }
    if (exif)
        fillShootingData(h, exif);
    return true;
}

bool getFITSinfo(const QString &path, int *width, int *height, int64_t *dataOffset, int *channels, int *bitpix,
                 exifInfo_t *exif, QString *reason)
{
    filePtr f = openRead(path);
    if (!f) {
        if (reason)
            *reason = QStringLiteral("Cannot open the file (%1).").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return getFITSinfo(f.get(), width, height, dataOffset, channels, bitpix, exif, reason);
}

bool loadFITS(FILE *file, int width, int height, uint16_t *rgb16, exifInfo_t *exif)
{
    int64_t offset = 0;
    int channels = 0, bitpix = 0, fileWidth = 0, fileHeight = 0;
    if (fseek(file, 0, SEEK_SET) != 0)
        return false;
    if (!getFITSinfo(file, &fileWidth, &fileHeight, &offset, &channels, &bitpix, exif))
        return false;
    if (fileWidth != width || fileHeight != height) {
        debugLog("%s: Image size differs (%d x %d instead of %d x %d).\n", "imageLoader::loadFITS", fileWidth,
                 fileHeight, width, height);
        return false;
    }
    if (fseek(file, long(offset), SEEK_SET) != 0)
        return false;
    const size_t pixels = size_t(width) * height;
    const int sampleBytes = bytesPerSample(bitpix);
    std::unique_ptr<float[]> planes(new (std::nothrow) float[pixels * channels]);
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[size_t(width) * sampleBytes]);
    if (!planes || !row) {
        debugLog("%s: failed to allocate memory\n", "imageLoader::loadFITS");
        return false;
    }
    double minV = 1e10, maxV = -1e10;
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < height; ++y) {
            if (fread(row.get(), sampleBytes, size_t(width), file) != size_t(width)) {
                debugLog("%s: File ends in row %d of plane %d.\n", "imageLoader::loadFITS", y, c);
                return false;
            }
            // FITS rows run bottom-up: the first row read is the bottom row.
            float *out = planes.get() + pixels * c + size_t(height - 1 - y) * width;
            for (int x = 0; x < width; ++x) {
                const double v = decodeSample(row.get() + size_t(x) * sampleBytes, bitpix);
                out[x] = float(v);
                if (v < minV)
                    minV = v;
                if (v > maxV)
                    maxV = v;
            }
        }
    }
    debugLog("FITS: min=%f, max=%f\n", minV, maxV);
    // An image without any range (all samples equal, or none valid) cannot be
    // stretched: it becomes black instead of dividing by zero.
    const double range = maxV - minV;
    const bool flat = !(range > 0.0);
    for (size_t i = 0; i < pixels; ++i) {
        uint16_t *out = rgb16 + i * 3;
        for (int c = 0; c < 3; ++c) {
            const float v = planes[pixels * (channels == 3 ? c : 0) + i];
            out[c] = flat || std::isnan(v) ? 0 : fitsStretch((double(v) - minV) / range);
        }
    }
    return true;
}

bool loadFITS(const QString &path, int width, int height, uint16_t *rgb16, exifInfo_t *exif)
{
    filePtr f = openRead(path);
    if (!f)
        return false;
    return loadFITS(f.get(), width, height, rgb16, exif);
}

} // namespace imageLoader
