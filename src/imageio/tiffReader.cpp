#include "imageio/tiffReader.h"

#include "app/debugLog.h"
#include "app/rawFileIO.h"

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

bool refuse(const char *format, int value)
{
    debugLog(format, "imageLoader::loadTIFF", value);
    return false;
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

// ---- Size probe ----

bool imageLoader::getTIFFinfo(const QString &path, int *width, int *height, int *bitsPerSample)
{
    if (width)
        *width = 0;
    if (height)
        *height = 0;
    if (bitsPerSample)
        *bitsPerSample = 0;
    std::unique_ptr<FILE, int (*)(FILE *)> file(openFileWide(path, "rb"), std::fclose);
    if (!file)
        return false;
    uint8_t header[8];
    if (std::fread(header, 1, 8, file.get()) != 8 || (header[0] != 'I' && header[0] != 'M') || header[1] != header[0])
        return false;
    const bool be = header[0] == 'M';
    const long first = long(read32(header + 4, be));
    uint8_t buffer[12];
    if (first < 0 || std::fseek(file.get(), first, SEEK_SET) != 0 || std::fread(buffer, 1, 2, file.get()) != 2)
        return false;
    const int entries = read16(buffer, be);
    for (int i = 0; i < entries; ++i) {
        if (std::fseek(file.get(), first + 2 + 12 * long(i), SEEK_SET) != 0 || std::fread(buffer, 1, 12, file.get()) != 12)
            return false;
        const unsigned tag = read16(buffer, be), type = read16(buffer + 2, be);
        const uint32_t count = read32(buffer + 4, be);
        if (count == 1) {
            if (tag == 256 || tag == 257) {
                int value;
                if (type == 4)
                    value = int(read32(buffer + 8, be));
                else if (type == 3)
                    value = read16(buffer + 8, be);
                else
                    continue;
                if (tag == 256 && width)
                    *width = value;
                if (tag == 257 && height)
                    *height = value;
            } else if (tag == 258 && bitsPerSample) {
                *bitsPerSample = read16(buffer + 8, be);
            }
        } else {
            const long at = long(read32(buffer + 8, be));
            if (std::fseek(file.get(), at, SEEK_SET) != 0)
                return false;
            if (tag == 258) {
                uint8_t v[2];
                if (std::fread(v, 1, 2, file.get()) != 2)
                    return false;
                if (bitsPerSample)
                    *bitsPerSample = read16(v, be);
            }
        }
    }
    return true;
}

// ---- Decoding ----

bool imageLoader::loadTIFF(const QString &path, uint16_t *rgb16, float *rgbFloat, float *minimum,
                           float *maximum, exifInfo_t *exif, int width, int height)
{
    if (!exif)
        return false;
    mappedFile_t map;
    map.file.setFileName(path);
    if (map.file.open(QIODevice::ReadOnly) && map.file.size() > 0) {
        map.size = map.file.size();
        map.data = map.file.map(0, map.size);
    }
    if (!map.data) {
        debugLog("%s: mapping failed\n", "imageLoader::loadTIFF");
        return false;
    }
    exifProcessHeader(map.data, unsigned(std::min<int64_t>(map.size, 0xffffffff)), exif);
    exifInfo_t &t = *exif;
    if (t.rowsPerStrip <= 0 || t.rowsPerStrip > t.imageHeight)
        t.rowsPerStrip = t.imageHeight;

    if (t.bitsPerSample != 8 && t.bitsPerSample != 16 && t.bitsPerSample != 32)
        return refuse("%s: unsupported TIFF format (bits per sample = %d)\n", t.bitsPerSample);
    if (t.compression != 1 && t.compression != 5 && t.compression != 8 && t.compression != 32773
        && t.compression != 32946)
        return refuse("%s: unsupported TIFF format (compression = %d)\n", t.compression);
    if (t.samplesPerPixel != 1 && t.samplesPerPixel != 3 && t.samplesPerPixel != 4)
        return refuse("%s: unsupported TIFF format (samples per pixel = %d)\n", t.samplesPerPixel);
    if (t.tileWidth != 0 || t.tileLength != 0)
        return refuse("%s: unsupported TIFF format (tiled, tile width = %d)\n", t.tileWidth);
    if (t.planarConfiguration == 2 && t.samplesPerPixel > 1)
        return refuse("%s: unsupported TIFF format (planar configuration = %d)\n", t.planarConfiguration);
    const bool floatData = t.bitsPerSample == 32;
    if (t.sampleFormat != 0 && t.sampleFormat != (floatData ? 3 : 1))
        return refuse("%s: unsupported TIFF format (sample format = %d)\n", t.sampleFormat);
    if (t.imageWidth <= 0 || t.imageHeight <= 0 || t.imageWidth != width || t.imageHeight != height) {
        debugLog("%s: image size %d x %d differs from the probed %d x %d\n", "imageLoader::loadTIFF",
                 t.imageWidth, t.imageHeight, width, height);
        return false;
    }
    if (floatData ? !rgbFloat : !rgb16) {
        debugLog("%s: no buffer for %d-bit samples\n", "imageLoader::loadTIFF", t.bitsPerSample);
        return false;
    }
    if (t.stripCount <= 0 || !t.stripOffsets || !t.stripByteCounts || t.stripByteCountCount != t.stripCount) {
        debugLog("%s: damaged TIFF file (strip tables)\n", "imageLoader::loadTIFF");
        return false;
    }

    const int64_t w = width, h = height, spp = t.samplesPerPixel, bytesPerSample = t.bitsPerSample / 8;
    const int64_t rps = t.rowsPerStrip;
    const int64_t pixelBytes = spp * bytesPerSample;
    const int64_t rowBytes = w * pixelBytes;
    const int64_t stripBytes = rowBytes * rps;
    const bool bigEndian = t.motorola != 0;
    const int predictor = t.predictor == 2 || t.predictor == 3 ? t.predictor : 0;
    std::vector<uint8_t> strip;
    try {
        strip.resize(size_t(stripBytes));
    } catch (const std::bad_alloc &) {
        debugLog("%s: failed to allocate memory\n", "imageLoader::loadTIFF");
        return false;
    }

    float lo = 1e9f, hi = 0.0f;
    const int64_t strips = std::min<int64_t>(t.stripCount, (h + rps - 1) / rps);
    for (int64_t k = 0; k < strips; ++k) {
        const int64_t rows = std::min(rps, h - k * rps);
        const int64_t needed = rows * rowBytes;
        // The strip's bytes as far as the file really holds them.
        const int64_t offset = t.stripOffsets[k];
        const int64_t available =
            offset >= map.size ? 0 : std::min<int64_t>(t.stripByteCounts[k], map.size - offset);
        const uint8_t *src = map.data + (available ? offset : 0);
        const uint8_t *pixels = strip.data();
        std::memset(strip.data(), 0, size_t(needed));
        switch (t.compression) {
        case 1:
            if (available >= needed && predictor == 0)
                pixels = src; // straight from the mapping, never written
            else
                std::memcpy(strip.data(), src, size_t(std::min(available, needed)));
            break;
        case 5: {
            lzwState_t state;
            state.input = src;
            state.inputLength = available;
            if (lzwSetupDecode(&state) && lzwPreDecode(&state)) {
                if (state.compat)
                    lzwDecodeCompat(&state, strip.data(), needed);
                else
                    lzwDecode(&state, strip.data(), needed);
            }
            lzwFree(&state);
            break;
        }
        case 8:
        case 32946: {
            uLongf produced = uLongf(needed);
            if (available > 0)
                uncompress(strip.data(), &produced, src, uLong(available));
            break;
        }
        case 32773:
            decodePackBits(src, strip.data(), available, false, needed);
            break;
        }

        bool nativeOrder = !bigEndian;
        if (predictor && pixels == strip.data()) {
            for (int64_t r = 0; r < rows; ++r) {
                uint8_t *row = strip.data() + r * rowBytes;
                if (bytesPerSample == 1) {
                    tiffHorizontalPredictor8(row, rowBytes, int(spp));
                } else if (bytesPerSample == 4 && predictor == 3) {
                    tiffFloatPredictor(row, rowBytes, int(spp));
                } else {
                    // Differences apply to sample values: bring them to native order first.
                    if (bigEndian)
                        swapWords(row, rowBytes, int(bytesPerSample));
                    if (bytesPerSample == 2)
                        tiffHorizontalPredictor16(row, rowBytes, int(spp));
                    else
                        tiffHorizontalPredictor32(row, rowBytes, int(spp));
                }
            }
            if (bytesPerSample > 1)
                nativeOrder = true;
        }

        for (int64_t r = 0; r < rows; ++r) {
            const uint8_t *row = pixels + r * rowBytes;
            const int64_t y = k * rps + r;
            for (int64_t x = 0; x < w; ++x) {
                const uint8_t *p = row + x * pixelBytes;
                const int64_t o = (y * w + x) * 3;
                for (int c = 0; c < 3; ++c) {
                    const uint8_t *s = p + (spp == 1 ? 0 : c) * bytesPerSample;
                    if (bytesPerSample == 1) {
                        rgb16[o + c] = uint16_t(*s * 257);
                    } else if (bytesPerSample == 2) {
                        rgb16[o + c] = read16(s, !nativeOrder);
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
    if (floatData) {
        if (minimum)
            *minimum = lo;
        if (maximum)
            *maximum = hi;
    }
    return true;
}
