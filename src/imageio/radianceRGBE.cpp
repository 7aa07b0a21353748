#include "imageio/radianceRGBE.h"
#include "imageio/imageFileLimits.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/sharedFlags.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int READ_BUFFER_SIZE = 16384;

using imageFileLimits::filePtr;

filePtr openRead(const QString &path)
{
    return imageFileLimits::openReadFile(path, READ_BUFFER_SIZE);
}

// Bytes from the current position to the end of the file, -1 when unknown.
int64_t bytesLeft(FILE *f)
{
    const long here = ftell(f);
    if (here < 0 || fseek(f, 0, SEEK_END) != 0)
        return -1;
    const long end = ftell(f);
    if (fseek(f, here, SEEK_SET) != 0 || end < here)
        return -1;
    return int64_t(end) - here;
}

// Header lines up to the empty line, then the resolution line. Fills the
// format flag and primaries when asked. False when the resolution line cannot
// be read or gives an unusable size.
bool readHeader(FILE *f, int &width, int &height, bool *formatOk, double *primaries, bool *primariesPresent)
{
    char line[imageLoader::RADIANCE_LINE_SIZE];
    // The first line ("#?RADIANCE" or anything else) is read like the others.
    // A header of more than 64K lines is not a Radiance file.
    int lines = 0;
    for (;;) {
        const int len = imageLoader::readHeaderLine(f, line);
        if (len == 0)
            break;
        if (++lines > 65536)
            return false;
        char *eq = strchr(line, '=');
        if (!eq)
            continue;
        *eq = 0;
        const char *value = eq + 1;
        if (strcmp(line, "FORMAT") == 0) {
            const size_t n = strcspn(value, " ");
            if (formatOk && !(n == strlen("32-bit_rle_rgbe") && strncmp(value, "32-bit_rle_rgbe", n) == 0))
                *formatOk = false;
        } else if (strcmp(line, "PRIMARIES") == 0 && primaries) {
            double p[8];
            if (sscanf(value, "%lf %lf %lf %lf %lf %lf %lf %lf", &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6],
                       &p[7]) == 8) {
                std::copy(p, p + 8, primaries);
                if (primariesPresent)
                    *primariesPresent = true;
            }
        }
    }
    if (imageLoader::readHeaderLine(f, line) == 0)
        return false;
    char axis1[256], axis2[256];
    int n1 = 0, n2 = 0;
    // Every file is taken as top row first, left to right, whatever the signs.
    if (sscanf(line, "%255[^ ] %d %255[^ ] %d", axis1, &n1, axis2, &n2) != 4)
        return false;
    if (!imageFileLimits::sizeAcceptable(n1, n2))
        return false;
    height = n1;
    width = n2;
    return true;
}

// Smallest number of bytes one scanline of this width can take in the file.
int64_t minimalScanlineBytes(int width)
{
    if (width >= 8 && width <= 0x7fff)
        return 4 + 4 * 2 * ((int64_t(width) + 126) / 127); // four components of full runs
    return int64_t(width) * 4;
}

inline double rgbeScale(int e)
{
    // 2^(e - 128), exactly, by repeated squaring.
    int n = e - 128;
    const bool invert = n < 0;
    if (invert)
        n = -n;
    double result = 1.0, base = 2.0;
    while (n) {
        if (n & 1)
            result *= base;
        base *= base;
        n >>= 1;
    }
    return invert ? 1.0 / result : result;
}

// At this scale the largest exponents exceed the float range: such values
// are held at the largest float instead of becoming infinite.
inline float decodeComponent(int mantissa, double scale)
{
    return float(std::min(mantissa * scale, double(FLT_MAX)));
}

// One run-length coded component of a scanline into dst (width bytes, stride 4).
bool readRunLengthComponent(FILE *f, uint8_t *dst, int width)
{
    int x = 0;
    while (x < width) {
        const int code = fgetc(f);
        if (code == EOF)
            return false;
        if (code > 128) {
            const int count = code - 128;
            const int value = fgetc(f);
            if (value == EOF || count > width - x)
                return false;
            for (int i = 0; i < count; ++i, ++x)
                dst[x * 4] = uint8_t(value);
        } else {
            const int count = code;
            if (count == 0 || count > width - x)
                return false;
            for (int i = 0; i < count; ++i, ++x) {
                const int value = fgetc(f);
                if (value == EOF)
                    return false;
                dst[x * 4] = uint8_t(value);
            }
        }
    }
    return true;
}

// The run-length scanline header: 2, 2, then the width in two bytes.
bool isRunLengthHeader(const uint8_t head[4], int width)
{
    return width >= 8 && width <= 0x7fff && head[0] == 2 && head[1] == 2 && head[2] < 128;
}

// Pixels of the older coding: flat pixels, where a pixel 1, 1, 1, n repeats
// the pixel before it n times, and each further such pixel in a row repeats
// it n times 256 times more than the one before (n << 8, n << 16, ...). The
// first pixel is already in first. A run never crosses the end of the
// scanline; at the start of a scanline it repeats the last pixel of the row
// above (previous, null on the first row). line receives width pixels;
// scratch holds width pixels too. Pixels are read in blocks of at most what
// the row still needs (runs only make the input shorter), and what the row
// did not use is given back to the file.
bool readOldStyleScanline(FILE *f, const uint8_t first[4], uint8_t *line, int width, const uint8_t *previous,
                          uint8_t *scratch)
{
    uint8_t last[4] = {0, 0, 0, 0};
    bool haveLast = previous != nullptr;
    if (previous)
        memcpy(last, previous, 4);
    int x = 0;
    int shift = 0;
    memcpy(scratch, first, 4);
    int64_t available = 1;
    for (;;) {
        for (int64_t i = 0; i < available; ++i) {
            const uint8_t *px = scratch + i * 4;
            if (px[0] == 1 && px[1] == 1 && px[2] == 1) {
                if (!haveLast || shift > 24)
                    return false;
                const int64_t count = int64_t(px[3]) << shift;
                if (count > width - x)
                    return false;
                for (int64_t k = 0; k < count; ++k, ++x)
                    memcpy(line + size_t(x) * 4, last, 4);
                shift += 8;
            } else {
                memcpy(line + size_t(x) * 4, px, 4);
                memcpy(last, px, 4);
                haveLast = true;
                ++x;
                shift = 0;
            }
            if (x >= width) {
                const int64_t unread = (available - i - 1) * 4;
                return unread == 0 || fseek(f, -long(unread), SEEK_CUR) == 0;
            }
        }
        // The file may end sooner when the rest of the file is runs.
        available = int64_t(fread(scratch, 4, size_t(width - x), f));
        if (available == 0)
            return false;
    }
}

// Reads one scanline into line (width x 4 bytes, R G B E per pixel); scratch
// holds as much.
bool readScanline(FILE *f, uint8_t *line, uint8_t *scratch, int width, int row)
{
    uint8_t head[4];
    if (fread(head, 1, 4, f) != 4) {
        debugLog("%s: file ends at scanline %d\n", "imageLoader::loadRadianceRGBE", row);
        return false;
    }
    if (isRunLengthHeader(head, width)) {
        const int length = head[2] * 256 + head[3];
        if (length != width) {
            debugLog("%s: scanline %d has length %d instead of %d\n", "imageLoader::loadRadianceRGBE", row, length,
                     width);
            return false;
        }
        for (int c = 0; c < 4; ++c) {
            if (!readRunLengthComponent(f, line + c, width)) {
                debugLog("%s: bad run-length data in scanline %d\n", "imageLoader::loadRadianceRGBE", row);
                return false;
            }
        }
        return true;
    }
    // The line still holds the row above: its last pixel starts a leading run.
    uint8_t above[4];
    if (row > 0)
        memcpy(above, line + size_t(width - 1) * 4, 4);
    if (!readOldStyleScanline(f, head, line, width, row > 0 ? above : nullptr, scratch)) {
        debugLog("%s: scanline %d is cut short or has a bad run\n", "imageLoader::loadRadianceRGBE", row);
        return false;
    }
    return true;
}

// True when a file whose first scanline is not run-length coded holds every
// scanline. A file with room for all pixels flat is accepted at once; a
// smaller one must use runs, and the older coding can repeat a pixel
// millions of times in four bytes, so no ratio bounds it: its pixels are
// walked through here (two rows of buffer), so that a small file can never
// order a huge image.
bool oldStyleDataComplete(FILE *f, int width, int height)
{
    const int64_t left = bytesLeft(f);
    if (left >= int64_t(width) * height * 4)
        return true;
    const long start = ftell(f);
    if (start < 0)
        return false;
    std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[size_t(width) * 4]);
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[size_t(width) * 4]);
    bool ok = line && scratch;
    for (int y = 0; y < height && ok; ++y)
        ok = readScanline(f, line.get(), scratch.get(), width, y);
    return fseek(f, start, SEEK_SET) == 0 && ok;
}

} // namespace

namespace imageLoader {

int readHeaderLine(FILE *file, char *buffer)
{
    int len = 0;
    for (int read = 0; read < RADIANCE_LINE_SIZE - 1; ++read) {
        const int c = fgetc(file);
        if (c == EOF || c == '\n')
            break;
        buffer[len++] = char(c);
    }
    // A line of 255 characters or more is cut and its 255th character dropped.
    if (len == RADIANCE_LINE_SIZE - 1)
        --len;
    buffer[len] = 0;
    return len;
}

bool getRadianceRGBEinfo(FILE *file, int &width, int &height, double primaries[8], bool &primariesPresent,
                         QString *reason)
{
    bool formatOk = true;
    primariesPresent = false;
    auto refuse = [reason](const char *why) {
        debugLog("%s: %s\n", "imageLoader::getRadianceRGBEinfo", why);
        if (reason)
            *reason = QString::fromLatin1(why);
        return false;
    };
    if (!readHeader(file, width, height, &formatOk, primaries, &primariesPresent))
        return refuse("Not a Radiance picture, or its header or size line is damaged.");
    if (!formatOk)
        return refuse("Unsupported Radiance format (only 32-bit_rle_rgbe pictures can be read).");
    // A header that promises more pixels than the file can hold is refused
    // before anybody allocates the image.
    const long dataStart = ftell(file);
    uint8_t head[4];
    if (dataStart < 0 || fread(head, 1, 4, file) != 4 || fseek(file, dataStart, SEEK_SET) != 0)
        return refuse("The Radiance picture has no pixel data.");
    if (isRunLengthHeader(head, width)) {
        const int64_t left = bytesLeft(file);
        if (left >= 0 && left < minimalScanlineBytes(width) * height)
            return refuse("The Radiance file is too short for the size its header declares.");
    } else if (!oldStyleDataComplete(file, width, height)) {
        return refuse("The Radiance file is too short for the size its header declares, or its pixel runs are "
                      "damaged.");
    }
    return true;
}

bool getRadianceRGBEinfo(const QString &path, int &width, int &height, double primaries[8], bool &primariesPresent,
                         QString *reason)
{
    primariesPresent = false;
    filePtr f = openRead(path);
    if (!f) {
        if (reason)
            *reason = QStringLiteral("Cannot open the file (%1).").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return getRadianceRGBEinfo(f.get(), width, height, primaries, primariesPresent, reason);
}

bool loadRadianceRGBE(FILE *file, int width, int height, float *rgb, float &minimum, float &maximum)
{
    int fileWidth = 0, fileHeight = 0;
    if (!readHeader(file, fileWidth, fileHeight, nullptr, nullptr, nullptr))
        return false;
    if (fileWidth != width || fileHeight != height) {
        debugLog("%s_%d: bad size", "imageLoader::loadRadianceRGBE", 939);
        return false;
    }
    std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[size_t(width) * 4]);
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[size_t(width) * 4]);
    if (!line || !scratch)
        return false;
    double minV = 9e9, maxV = 0.0;
    double scales[256];
    for (int e = 0; e < 256; ++e)
        scales[e] = rgbeScale(e);
    for (int y = 0; y < height; ++y) {
        if (!readScanline(file, line.get(), scratch.get(), width, y))
            return false;
        float *out = rgb + size_t(y) * width * 3;
        const uint8_t *p = line.get();
        for (int x = 0; x < width; ++x, p += 4, out += 3) {
            const double s = scales[p[3]];
            for (int c = 0; c < 3; ++c) {
                const float v = decodeComponent(p[c], s);
                out[c] = v;
                if (v > maxV)
                    maxV = v;
                if (v < minV)
                    minV = v;
            }
        }
    }
    minimum = float(minV);
    maximum = float(maxV);
    return true;
}

bool loadRadianceRGBE(const QString &path, int width, int height, float *rgb, float &minimum, float &maximum)
{
    filePtr f = openRead(path);
    if (!f)
        return false;
    return loadRadianceRGBE(f.get(), width, height, rgb, minimum, maximum);
}

} // namespace imageLoader

namespace imageSaver {

void encodeRGBE(float r, float g, float b, uint8_t out[4])
{
    // Values the format cannot hold: not-a-number counts as 0, infinity as the
    // largest float, negative components as 0.
    auto sane = [](float v) {
        if (std::isnan(v) || v < 0.0f)
            return 0.0f;
        return std::min(v, 3.4e38f);
    };
    r = sane(r);
    g = sane(g);
    b = sane(b);
    const float m = std::max(std::max(r, g), std::max(b, 0.0f));
    if (m < 3e-38f) {
        out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    int e = 0;
    const double f = frexp(double(m), &e);
    const double scale = f * 256.0 / m;
    auto byte = [scale](float v) { return uint8_t(std::min(255.0, std::max(0.0, std::trunc(v * scale)))); };
    out[0] = byte(r);
    out[1] = byte(g);
    out[2] = byte(b);
    out[3] = uint8_t((e + 128) & 0xff);
}

bool saveRadianceRGBE(const QString &path, int width, int height, const float *rgb, bool normalise, double minimum,
                      double maximum, bool replaceReadOnly, QString *reason)
{
    debugLog("Save Radiance RGBE format...\n");
    auto failWith = [&](const QString &why) {
        debugLog("%s: Cannot write file %s (%s).\n", "imageSaver::saveRadianceRGBE", path.toLocal8Bit().constData(),
                 qPrintable(why));
        if (reason)
            *reason = why;
        return false;
    };
    if (width <= 0 || height <= 0 || !rgb)
        return failWith(QStringLiteral("no image"));
    // Every write is checked by itself (a full disk can cut one short without
    // an error); the file replaces an older one only when all went well.
    checkedSaveFile file(path);
    file.setReplaceReadOnly(replaceReadOnly);
    if (!file.open())
        return failWith(file.errorText());
    const QByteArray header = QByteArray("#?RADIANCE\n") + "FORMAT=32-bit_rle_rgbe\n" +
                              QByteArray("SOFTWARE=Lumidra " LUMIDRA_VERSION "\n") + "\n" +
                              QString::asprintf("-Y %d +X %d\n", height, width).toLatin1();
    bool ok = file.write(header) == header.size();

    double offset = 0.0, range = 1.0;
    if (normalise) {
        offset = minimum;
        range = maximum - minimum;
        if (!(range > 0.0))
            range = 1.0; // an empty range cannot be stretched; write the values unchanged
    }
    std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[size_t(width) * 4]);
    if (!line)
        return failWith(QStringLiteral("not enough memory"));
    const qint64 lineBytes = qint64(width) * 4;
    for (int y = 0; ok && y < height; ++y) {
        const float *in = rgb + size_t(y) * width * 3;
        uint8_t *out = line.get();
        for (int x = 0; x < width; ++x, in += 3, out += 4) {
            if (normalise)
                encodeRGBE(float((in[0] - offset) / range), float((in[1] - offset) / range),
                           float((in[2] - offset) / range), out);
            else
                encodeRGBE(in[0], in[1], in[2], out);
        }
        ok = file.write(reinterpret_cast<const char *>(line.get()), lineBytes) == lineBytes;
        ++progressCounter;
    }
    if (!ok || !file.commit())
        return failWith(file.errorText().isEmpty() ? QStringLiteral("write failed") : file.errorText());
    return true;
}

} // namespace imageSaver
