#include "imageio/tiffReader.h"

#include "app/debugLog.h"
#include "app/rawFileIO.h"
#include "imageio/imageFileLimits.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>
#include <zlib.h>

namespace {

std::atomic<bool> quietMode{false};

void tiffPrint(const char *format, ...) __attribute__((format(printf, 1, 2)));
void tiffPrint(const char *format, ...)
{
    if (quietMode)
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

constexpr int LZW_CLEAR = 256;
constexpr int LZW_EOI = 257;
constexpr int LZW_FIRST_FREE = 258;
constexpr int LZW_MAX_BITS = 12;

// Next code of nbits bits, most or least significant bit first; -1 when the
// input is exhausted.
int lzwNextCode(lzwState_t *s)
{
    if (s->bitsLeft < s->nbits)
        return -1;
    int code = 0;
    for (int i = 0; i < s->nbits; ++i) {
        const int64_t bit = s->bitPosition + i;
        const uint8_t byte = s->input[bit >> 3];
        const int b = s->compat ? (byte >> (bit & 7)) & 1 : (byte >> (7 - (bit & 7))) & 1;
        if (s->compat)
            code |= b << i;
        else
            code = (code << 1) | b;
    }
    s->bitPosition += s->nbits;
    s->bitsLeft -= s->nbits;
    return code;
}

void lzwResetTable(lzwState_t *s)
{
    s->nbits = 9;
    s->maxCode = s->compat ? 511 : 510;
    s->freeEntry = LZW_FIRST_FREE;
    for (int i = LZW_FIRST_FREE; i < LZW_TABLE_SIZE; ++i)
        s->table[i] = lzwCode_t{-1, 0, 0, 0};
}

// Writes the string of code at out, cut at the end of the destination.
// False when the prefix chain is broken.
bool lzwEmit(lzwState_t *s, int code, uint8_t *dst, int64_t &out, int64_t length)
{
    const int64_t stringLength = s->table[code].length;
    const int64_t room = length - out;
    const int64_t written = std::min(stringLength, room);
    int p = code;
    for (int64_t i = stringLength - 1; i >= 0; --i) {
        if (p < 0) {
            tiffPrint("Bogus encoding, loop in the code table\n");
            return false;
        }
        if (i < written)
            dst[out + i] = s->table[p].value;
        p = s->table[p].prefix;
    }
    out += written;
    return true;
}

int lzwDecodeAny(lzwState_t *s, uint8_t *dst, int64_t length)
{
    if (!s || !s->table || !dst)
        return 0;
    int64_t out = 0;
    const char *wrongLength = s->compat ? "Wrong length of decoded string: data probably corrupted\n"
                                        : "Wrong length of decoded string\n";
    while (out < length) {
        int code = lzwNextCode(s);
        if (code < 0) {
            tiffPrint("LZWDecode: Strip not terminated with EOI code.\n");
            break;
        }
        if (code == LZW_EOI)
            break;
        if (code == LZW_CLEAR) {
            lzwResetTable(s);
            code = lzwNextCode(s);
            if (code < 0) {
                tiffPrint("LZWDecode: Strip not terminated with EOI code.\n");
                break;
            }
            if (code == LZW_EOI)
                break;
            if (code >= LZW_CLEAR) {
                tiffPrint("LZWDecode: Corrupted LZW table\n");
                return 0;
            }
            dst[out++] = uint8_t(code);
            s->oldCode = code;
            continue;
        }
        if (s->oldCode < 0) {
            // A stream that does not start with Clear: only a literal can come first.
            if (code >= LZW_CLEAR) {
                tiffPrint("LZWDecode: Corrupted LZW table\n");
                return 0;
            }
            dst[out++] = uint8_t(code);
            s->oldCode = code;
            continue;
        }
        if (s->freeEntry >= LZW_TABLE_SIZE || s->oldCode >= LZW_TABLE_SIZE || code > s->freeEntry) {
            tiffPrint("Corrupted LZW table\n");
            return 0;
        }
        const lzwCode_t &old = s->table[s->oldCode];
        if (old.length == 0) {
            tiffPrint("%s", wrongLength);
            return 0;
        }
        // New entry: the previous string plus the first byte of the current
        // one (of the previous one when the code is the entry being added).
        lzwCode_t &entry = s->table[s->freeEntry];
        entry.prefix = s->oldCode;
        entry.firstChar = old.firstChar;
        entry.value = code == s->freeEntry ? old.firstChar : s->table[code].firstChar;
        entry.length = uint16_t(old.length + 1);
        if (++s->freeEntry > s->maxCode) {
            if (s->nbits < LZW_MAX_BITS)
                ++s->nbits;
            s->maxCode = s->compat ? (1 << s->nbits) - 1 : (1 << s->nbits) - 2;
        }
        if (s->table[code].length == 0) {
            tiffPrint("%s", wrongLength);
            return 0;
        }
        if (!lzwEmit(s, code, dst, out, length))
            break;
        s->oldCode = code;
    }
    if (out < length) {
        tiffPrint("Not enough data at (short %llu bytes)\n", (unsigned long long)(length - out));
        return 0;
    }
    return 1;
}

struct mappedFile_t {
    QFile file;
    const uint8_t *data = nullptr;
    int64_t size = 0;
    ~mappedFile_t()
    {
        if (data)
            file.unmap(const_cast<uint8_t *>(data));
    }
};

inline uint16_t read16(const uint8_t *p, bool bigEndian)
{
    return bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

inline uint32_t read32(const uint8_t *p, bool bigEndian)
{
    return bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Turns the 16- or 32-bit words of a buffer into native (little-endian) order.
void swapWords(uint8_t *p, int64_t bytes, int wordSize)
{
    for (int64_t i = 0; i + wordSize <= bytes; i += wordSize)
        std::reverse(p + i, p + i + wordSize);
}

} // namespace

void tiffSetQuiet(bool quiet)
{
    quietMode = quiet;
}

// ---- LZW ----

int lzwSetupDecode(lzwState_t *state)
{
    if (!state)
        return 0;
    state->table = new (std::nothrow) lzwCode_t[LZW_TABLE_SIZE];
    if (!state->table) {
        tiffPrint("No space for LZW code table.\n");
        return 0;
    }
    for (int i = 0; i < LZW_TABLE_SIZE; ++i)
        state->table[i] = i < 256 ? lzwCode_t{-1, 1, uint8_t(i), uint8_t(i)} : lzwCode_t{-1, 0, 0, 0};
    return 1;
}

int lzwPreDecode(lzwState_t *state)
{
    if (!state || !state->table)
        return 0;
    state->compat = false;
    if (state->inputLength >= 2 && state->input[0] == 0 && (state->input[1] & 1)) {
        tiffPrint("Old-style LZW codes, convert file\n");
        state->compat = true;
    }
    lzwResetTable(state);
    state->bitPosition = 0;
    state->bitsLeft = state->inputLength * 8;
    state->oldCode = -1;
    return 1;
}

int lzwDecode(lzwState_t *state, uint8_t *destination, int64_t destinationLength)
{
    return lzwDecodeAny(state, destination, destinationLength);
}

int lzwDecodeCompat(lzwState_t *state, uint8_t *destination, int64_t destinationLength)
{
    return lzwDecodeAny(state, destination, destinationLength);
}

void lzwFree(lzwState_t *state)
{
    if (state) {
        delete[] state->table;
        state->table = nullptr;
    }
}

// ---- Predictors ----

void tiffHorizontalPredictor8(uint8_t *row, int64_t rowBytes, int stride)
{
    for (int64_t i = stride; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + row[i - stride]);
}

void tiffHorizontalPredictor16(uint8_t *row, int64_t rowBytes, int stride)
{
    const int64_t words = rowBytes / 2;
    for (int64_t i = stride; i < words; ++i) {
        uint16_t a, b;
        std::memcpy(&a, row + 2 * i, 2);
        std::memcpy(&b, row + 2 * (i - stride), 2);
        a = uint16_t(a + b);
        std::memcpy(row + 2 * i, &a, 2);
    }
}

void tiffHorizontalPredictor32(uint8_t *row, int64_t rowBytes, int stride)
{
    const int64_t words = rowBytes / 4;
    for (int64_t i = stride; i < words; ++i) {
        uint32_t a, b;
        std::memcpy(&a, row + 4 * i, 4);
        std::memcpy(&b, row + 4 * (i - stride), 4);
        a += b;
        std::memcpy(row + 4 * i, &a, 4);
    }
}

void tiffFloatPredictor(uint8_t *row, int64_t rowBytes, int stride)
{
    tiffHorizontalPredictor8(row, rowBytes, stride);
    const int64_t count = rowBytes / 4;
    std::unique_ptr<uint8_t[]> planes(new (std::nothrow) uint8_t[size_t(rowBytes ? rowBytes : 1)]);
    if (!planes)
        return;
    std::memcpy(planes.get(), row, size_t(rowBytes));
    // Planes hold the most significant bytes first; the result is a
    // little-endian float per sample.
    for (int64_t j = 0; j < count; ++j)
        for (int b = 0; b < 4; ++b)
            row[4 * j + b] = planes[size_t((3 - b) * count + j)];
}

// ---- PackBits ----

int64_t imageLoader::decodePackBits(const uint8_t *source, uint8_t *destination, int64_t sourceLength,
                                    bool unbounded, int64_t destinationLength)
{
    if (!source || !destination || (sourceLength <= 0 && !unbounded))
        return 0;
    int64_t in = 0, out = 0;
    auto more = [&](int64_t need) { return unbounded || in + need <= sourceLength; };
    while (out < destinationLength && more(1)) {
        const int n = source[in++];
        if (n < 128) {
            int64_t count = std::min<int64_t>(n + 1, destinationLength - out);
            if (!unbounded)
                count = std::min(count, sourceLength - in);
            std::memcpy(destination + out, source + in, size_t(count));
            in += n + 1;
            out += count;
        } else if (n > 128) {
            if (!more(1))
                break;
            const int64_t count = std::min<int64_t>(257 - n, destinationLength - out);
            std::memset(destination + out, source[in++], size_t(count));
            out += count;
        }
    }
    return out;
}

// ---- Directory checks ----

namespace {

// Largest expansion each compression can reach: what a strip of n stored
// bytes can decode to at most. PackBits turns 2 bytes into 128; an LZW code
// (9 bits at least) yields at most one table entry's string; Deflate stays
// below 1032 to 1.
int64_t largestDecodedSize(int compression, int64_t storedBytes)
{
    switch (compression) {
    case 5:
        return storedBytes * 8 / 9 * LZW_TABLE_SIZE + LZW_TABLE_SIZE;
    case 8:
    case 32946:
        return storedBytes * 1032 + 64;
    case 32773:
        return storedBytes * 64 + 128;
    default:
        return storedBytes;
    }
}

// What the pixel loop needs to know about an accepted file.
struct tiffLayout_t {
    int64_t width = 0, height = 0;
    int64_t samplesPerPixel = 0, bytesPerSample = 0;
    int64_t rowsPerStrip = 0, rowBytes = 0, pixelBytes = 0;
    int64_t strips = 0;         // strips that hold rows of the image
    int compression = 1;
    int predictor = 0;
    bool bigEndian = false;
    bool floatData = false;
    bool whiteIsZero = false;   // grey samples count down from white
};

bool refuseWith(QString *reason, const QString &text)
{
    debugLog("%s: %s\n", "imageLoader::loadTIFF", qPrintable(text));
    if (reason)
        *reason = text;
    return false;
}

QString unsupported(const char *what, int value)
{
    return QStringLiteral("unsupported TIFF format (%1 = %2)").arg(QLatin1String(what)).arg(value);
}

// Maps the file and walks its first directory into exif.
bool mapAndParse(const QString &path, mappedFile_t &map, exifInfo_t &exif, QString *reason)
{
    map.file.setFileName(path);
    if (map.file.open(QIODevice::ReadOnly) && map.file.size() > 0) {
        map.size = map.file.size();
        map.data = map.file.map(0, map.size);
    }
    if (!map.data)
        return refuseWith(reason, QStringLiteral("cannot read the file"));
    if (map.size < 8 || (map.data[0] != 'I' && map.data[0] != 'M') || map.data[1] != map.data[0])
        return refuseWith(reason, QStringLiteral("not a TIFF file"));
    const uint16_t version = read16(map.data + 2, map.data[0] == 'M');
    if (version == 43)
        return refuseWith(reason, QStringLiteral("unsupported TIFF format (BigTIFF)"));
    if (version != 42)
        return refuseWith(reason, QStringLiteral("not a TIFF file"));
    exifProcessHeader(map.data, unsigned(std::min<int64_t>(map.size, 0xffffffff)), &exif);
    if (exif.rowsPerStrip <= 0 || exif.rowsPerStrip > exif.imageHeight)
        exif.rowsPerStrip = exif.imageHeight;
    if (exif.samplesPerPixel == 0)
        exif.samplesPerPixel = 1;   // the format's defaults
    if (exif.compression == 0)
        exif.compression = 1;
    return true;
}

// The sample layouts the reader decodes: 1 grey sample (black or white is
// zero), or RGB with an optional fourth (alpha) sample; unsigned integers of
// 8 or 16 bits or 32-bit floats; strips, chunky.
bool checkFormat(const exifInfo_t &t, tiffLayout_t &l, QString *reason)
{
    if (t.bitsPerSample != 8 && t.bitsPerSample != 16 && t.bitsPerSample != 32)
        return refuseWith(reason, unsupported("bits per sample", t.bitsPerSample));
    if (t.compression != 1 && t.compression != 5 && t.compression != 8 && t.compression != 32773
        && t.compression != 32946)
        return refuseWith(reason, unsupported("compression", t.compression));
    if (t.samplesPerPixel != 1 && t.samplesPerPixel != 3 && t.samplesPerPixel != 4)
        return refuseWith(reason, unsupported("samples per pixel", t.samplesPerPixel));
    if (t.tileWidth != 0 || t.tileLength != 0)
        return refuseWith(reason, QStringLiteral("unsupported TIFF format (tiled, tile width = %1)").arg(t.tileWidth));
    if (t.planarConfiguration == 2 && t.samplesPerPixel > 1)
        return refuseWith(reason, unsupported("planar configuration", t.planarConfiguration));
    l.floatData = t.bitsPerSample == 32;
    // Without a SampleFormat tag samples are unsigned integers.
    if (l.floatData && t.sampleFormat == 0)
        return refuseWith(reason, QStringLiteral("unsupported TIFF format (32-bit integer samples)"));
    if (t.sampleFormat != 0 && t.sampleFormat != (l.floatData ? 3 : 1))
        return refuseWith(reason, unsupported("sample format", t.sampleFormat));
    if (t.photometricPresent) {
        const int pi = t.photometric;
        const bool grey = t.samplesPerPixel == 1;
        if (pi == 6)
            return refuseWith(reason, QStringLiteral("unsupported TIFF format (YCbCr colour)"));
        if (pi == 3)
            return refuseWith(reason, QStringLiteral("unsupported TIFF format (palette colour)"));
        if (grey ? pi != 0 && pi != 1 : pi != 2)
            return refuseWith(reason, unsupported("photometric interpretation", pi));
        if (pi == 0 && l.floatData)
            return refuseWith(reason, QStringLiteral("unsupported TIFF format (floating-point WhiteIsZero)"));
        l.whiteIsZero = pi == 0;
    }
    return true;
}

// The size and strip tables, and whether the file can hold the pixels it
// declares: every strip lies inside the file and, decoded, can fill its
// rows. Checked before anyone allocates the image.
bool checkStrips(const exifInfo_t &t, int64_t fileSize, tiffLayout_t &l, QString *reason)
{
    if (!imageFileLimits::sizeAcceptable(t.imageWidth, t.imageHeight))
        return refuseWith(reason, QStringLiteral("bad image size %1 x %2").arg(t.imageWidth).arg(t.imageHeight));
    if (t.stripCount <= 0 || !t.stripOffsets || !t.stripByteCounts || t.stripByteCountCount != t.stripCount)
        return refuseWith(reason, QStringLiteral("damaged TIFF file (strip tables)"));
    l.width = t.imageWidth;
    l.height = t.imageHeight;
    l.samplesPerPixel = t.samplesPerPixel;
    l.bytesPerSample = t.bitsPerSample / 8;
    l.rowsPerStrip = t.rowsPerStrip;
    l.pixelBytes = l.samplesPerPixel * l.bytesPerSample;
    l.rowBytes = l.width * l.pixelBytes;
    l.compression = t.compression;
    l.bigEndian = t.motorola != 0;
    l.predictor = t.predictor == 2 || t.predictor == 3 ? t.predictor : 0;
    const int64_t stripsNeeded = (l.height + l.rowsPerStrip - 1) / l.rowsPerStrip;
    if (t.stripCount < stripsNeeded)
        return refuseWith(reason, QStringLiteral("incomplete TIFF file (%1 of %2 strips)").arg(t.stripCount).arg(stripsNeeded));
    l.strips = stripsNeeded;
    for (int64_t k = 0; k < l.strips; ++k) {
        const int64_t offset = t.stripOffsets[k], count = t.stripByteCounts[k];
        const int64_t rows = std::min(l.rowsPerStrip, l.height - k * l.rowsPerStrip);
        if (count <= 0 || offset + count > fileSize)
            return refuseWith(reason, QStringLiteral("incomplete TIFF file (the data of strip %1 ends early)").arg(k));
        if (largestDecodedSize(l.compression, count) < rows * l.rowBytes)
            return refuseWith(reason, QStringLiteral("incomplete TIFF file (strip %1 holds %2 bytes, too few for %3 rows)")
                                          .arg(k).arg(count).arg(rows));
    }
    return true;
}

// Decodes strip k into strip (rows x rowBytes), predictor undone. pixels
// points at the result (the mapping itself for plain uncompressed strips);
// nativeOrder says whether multi-byte samples are now in native order. False
// when the strip's data does not decode to all of its rows.
bool decodeStrip(const mappedFile_t &map, const exifInfo_t &t, const tiffLayout_t &l, int64_t k,
                 std::vector<uint8_t> &strip, const uint8_t *&pixels, bool &nativeOrder)
{
    const int64_t rows = std::min(l.rowsPerStrip, l.height - k * l.rowsPerStrip);
    const int64_t needed = rows * l.rowBytes;
    const uint8_t *src = map.data + t.stripOffsets[k];
    const int64_t available = t.stripByteCounts[k];   // inside the file (checkStrips)
    pixels = strip.data();
    bool complete = false;
    switch (l.compression) {
    case 1:
        complete = available >= needed;
        if (complete && l.predictor == 0)
            pixels = src; // straight from the mapping, never written
        else if (complete)
            std::memcpy(strip.data(), src, size_t(needed));
        break;
    case 5: {
        lzwState_t state;
        state.input = src;
        state.inputLength = available;
        if (lzwSetupDecode(&state) && lzwPreDecode(&state))
            complete = (state.compat ? lzwDecodeCompat(&state, strip.data(), needed)
                                     : lzwDecode(&state, strip.data(), needed)) == 1;
        lzwFree(&state);
        break;
    }
    case 8:
    case 32946: {
        uLongf produced = uLongf(needed);
        const int z = uncompress(strip.data(), &produced, src, uLong(available));
        // A buffer filled exactly before the stream's end marker still holds every row.
        complete = (z == Z_OK || z == Z_BUF_ERROR) && int64_t(produced) == needed;
        break;
    }
    case 32773:
        complete = imageLoader::decodePackBits(src, strip.data(), available, false, needed) == needed;
        break;
    }
    if (!complete)
        return false;

    nativeOrder = !l.bigEndian;
    if (l.predictor && pixels == strip.data()) {
        for (int64_t r = 0; r < rows; ++r) {
            uint8_t *row = strip.data() + r * l.rowBytes;
            const int spp = int(l.samplesPerPixel);
            if (l.bytesPerSample == 1) {
                tiffHorizontalPredictor8(row, l.rowBytes, spp);
            } else if (l.bytesPerSample == 4 && l.predictor == 3) {
                tiffFloatPredictor(row, l.rowBytes, spp);
            } else {
                // Differences apply to sample values: bring them to native order first.
                if (l.bigEndian)
                    swapWords(row, l.rowBytes, int(l.bytesPerSample));
                if (l.bytesPerSample == 2)
                    tiffHorizontalPredictor16(row, l.rowBytes, spp);
                else
                    tiffHorizontalPredictor32(row, l.rowBytes, spp);
            }
        }
        if (l.bytesPerSample > 1)
            nativeOrder = true;
    }
    return true;
}

// Stores the decoded rows of strip k as RGB (16-bit or float).
void storeStripRows(const tiffLayout_t &l, int64_t k, const uint8_t *pixels, bool nativeOrder, uint16_t *rgb16,
                    float *rgbFloat, float &lo, float &hi)
{
    const int64_t rows = std::min(l.rowsPerStrip, l.height - k * l.rowsPerStrip);
    const uint16_t invert = l.whiteIsZero ? 0xffff : 0;
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t *row = pixels + r * l.rowBytes;
        const int64_t y = k * l.rowsPerStrip + r;
        for (int64_t x = 0; x < l.width; ++x) {
            const uint8_t *p = row + x * l.pixelBytes;
            const int64_t o = (y * l.width + x) * 3;
            for (int c = 0; c < 3; ++c) {
                const uint8_t *s = p + (l.samplesPerPixel == 1 ? 0 : c) * l.bytesPerSample;
                if (l.bytesPerSample == 1) {
                    rgb16[o + c] = uint16_t(*s * 257) ^ invert;
                } else if (l.bytesPerSample == 2) {
                    rgb16[o + c] = read16(s, !nativeOrder) ^ invert;
                } else {
                    const uint32_t bits = read32(s, !nativeOrder);
                    float v;
                    std::memcpy(&v, &bits, 4);
                    rgbFloat[o + c] = v;
                    if (v > hi)
                        hi = v;
                    if (v < lo)
                        lo = v;
                }
            }
        }
    }
}

} // namespace

// ---- Size probe ----

bool imageLoader::getTIFFinfo(const QString &path, int *width, int *height, int *bitsPerSample, QString *reason)
{
    if (width)
        *width = 0;
    if (height)
        *height = 0;
    if (bitsPerSample)
        *bitsPerSample = 0;
    mappedFile_t map;
    exifInfo_t t;
    std::memset(&t, 0, sizeof t);
    const bool parsed = mapAndParse(path, map, t, reason);
    tiffLayout_t l;
    const bool ok = parsed && checkFormat(t, l, reason) && checkStrips(t, map.size, l, reason);
    exifFreeStripTables(&t);
    if (!ok)
        return false;
    if (width)
        *width = t.imageWidth;
    if (height)
        *height = t.imageHeight;
    if (bitsPerSample)
        *bitsPerSample = t.bitsPerSample;
    return true;
}

// ---- Decoding ----

bool imageLoader::loadTIFF(const QString &path, uint16_t *rgb16, float *rgbFloat, float *minimum,
                           float *maximum, exifInfo_t *exif, int width, int height, QString *reason)
{
    if (!exif)
        return false;
    mappedFile_t map;
    if (!mapAndParse(path, map, *exif, reason))
        return false;
    const exifInfo_t &t = *exif;
    tiffLayout_t l;
    if (!checkFormat(t, l, reason))
        return false;
    if (t.imageWidth != width || t.imageHeight != height)
        return refuseWith(reason, QStringLiteral("image size %1 x %2 differs from the probed %3 x %4")
                                      .arg(t.imageWidth).arg(t.imageHeight).arg(width).arg(height));
    if (l.floatData ? !rgbFloat : !rgb16)
        return refuseWith(reason, QStringLiteral("no buffer for %1-bit samples").arg(t.bitsPerSample));
    if (!checkStrips(t, map.size, l, reason))
        return false;
    std::vector<uint8_t> strip;
    try {
        strip.resize(size_t(l.rowBytes * l.rowsPerStrip));
    } catch (const std::bad_alloc &) {
        return refuseWith(reason, QStringLiteral("not enough memory"));
    }
    float lo = 1e9f, hi = 0.0f;
    for (int64_t k = 0; k < l.strips; ++k) {
        const uint8_t *pixels = nullptr;
        bool nativeOrder = true;
        if (!decodeStrip(map, t, l, k, strip, pixels, nativeOrder))
            return refuseWith(reason, QStringLiteral("incomplete TIFF file (strip %1 is damaged or cut short)").arg(k));
        storeStripRows(l, k, pixels, nativeOrder, rgb16, rgbFloat, lo, hi);
    }
    if (l.floatData) {
        if (minimum)
            *minimum = lo;
        if (maximum)
            *maximum = hi;
    }
    return true;
}
