#include "imageio/exifReader.h"

#include "app/rawFileIO.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::atomic<bool> quietMode{false};

// Directories one header may visit: a forged file could otherwise link
// thousands of sub-directories from each directory.
constexpr int EXIF_MAX_DIRECTORIES = 64;
constexpr int EXIF_MAX_NESTING = 4;
constexpr uint32_t EXIF_MAX_COMPONENTS = 65536;
thread_local int directoriesVisited = 0;

const int bytesPerFormat[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

void exifPrint(const char *format, ...) __attribute__((format(printf, 1, 2)));
void exifPrint(const char *format, ...)
{
    if (quietMode)
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

enum : unsigned {
    TAG_IMAGE_WIDTH = 0x0100,
    TAG_IMAGE_HEIGHT = 0x0101,
    TAG_BITS_PER_SAMPLE = 0x0102,
    TAG_COMPRESSION = 0x0103,
    TAG_MAKE = 0x010F,
    TAG_MODEL = 0x0110,
    TAG_STRIP_OFFSETS = 0x0111,
    TAG_ORIENTATION = 0x0112,
    TAG_SAMPLES_PER_PIXEL = 0x0115,
    TAG_ROWS_PER_STRIP = 0x0116,
    TAG_STRIP_BYTE_COUNTS = 0x0117,
    TAG_PLANAR_CONFIGURATION = 0x011C,
    TAG_PHOTOMETRIC = 0x0106,
    TAG_DATETIME = 0x0132,
    TAG_PREDICTOR = 0x013D,
    TAG_TILE_WIDTH = 0x0142,
    TAG_TILE_LENGTH = 0x0143,
    TAG_SAMPLE_FORMAT = 0x0153,
    TAG_EXPOSURE_TIME = 0x829A,
    TAG_FNUMBER = 0x829D,
    TAG_EXIF_OFFSET = 0x8769,
    TAG_ICC_PROFILE = 0x8773,
    TAG_EXPOSURE_PROGRAM = 0x8822,
    TAG_ISO_EQUIVALENT = 0x8827,
    TAG_DATETIME_ORIGINAL = 0x9003,
    TAG_SHUTTER_SPEED = 0x9201,
    TAG_APERTURE = 0x9202,
    TAG_EXPOSURE_BIAS = 0x9204,
    TAG_MAX_APERTURE = 0x9205,
    TAG_METERING_MODE = 0x9207,
    TAG_LIGHT_SOURCE = 0x9208,
    TAG_FOCAL_LENGTH = 0x920A,
    TAG_EXIF_IMAGE_WIDTH = 0xA002,
    TAG_EXIF_IMAGE_LENGTH = 0xA003,
    TAG_INTEROP_OFFSET = 0xA005,
    TAG_FOCAL_PLANE_XRES = 0xA20E,
    TAG_FOCAL_PLANE_UNITS = 0xA210,
    TAG_EXPOSURE_INDEX = 0xA215,
    TAG_EXPOSURE_MODE = 0xA402,
    TAG_WHITE_BALANCE = 0xA403,
    TAG_FOCAL_LENGTH_35MM = 0xA405,
};

bool isStoredNumericTag(unsigned tag)
{
    switch (tag) {
    case TAG_IMAGE_WIDTH: case TAG_IMAGE_HEIGHT: case TAG_BITS_PER_SAMPLE: case TAG_COMPRESSION:
    case TAG_SAMPLES_PER_PIXEL: case TAG_ROWS_PER_STRIP: case TAG_PREDICTOR: case TAG_PLANAR_CONFIGURATION:
    case TAG_SAMPLE_FORMAT: case TAG_PHOTOMETRIC: case TAG_TILE_WIDTH: case TAG_TILE_LENGTH: case TAG_ORIENTATION:
    case TAG_FNUMBER: case TAG_APERTURE: case TAG_MAX_APERTURE: case TAG_FOCAL_LENGTH:
    case TAG_EXPOSURE_TIME: case TAG_SHUTTER_SPEED: case TAG_EXPOSURE_BIAS: case TAG_WHITE_BALANCE:
    case TAG_EXPOSURE_MODE: case TAG_METERING_MODE: case TAG_LIGHT_SOURCE: case TAG_EXPOSURE_PROGRAM:
    case TAG_ISO_EQUIVALENT: case TAG_EXPOSURE_INDEX: case TAG_FOCAL_LENGTH_35MM: case TAG_FOCAL_PLANE_XRES:
    case TAG_FOCAL_PLANE_UNITS: case TAG_EXIF_IMAGE_WIDTH: case TAG_EXIF_IMAGE_LENGTH:
        return true;
    default:
        return false;
    }
}

// Copies an ASCII value of byteCount bytes into a text field, stopping at
// the first NUL and keeping the terminator.
void copyText(char *field, size_t fieldSize, const uint8_t *value, uint64_t byteCount)
{
    const size_t n = size_t(std::min<uint64_t>(byteCount, fieldSize - 1));
    size_t i = 0;
    for (; i < n && value[i]; ++i)
        field[i] = char(value[i]);
    field[i] = 0;
}

// Reads the components of a SHORT or LONG array (StripOffsets,
// StripByteCounts) into a fresh heap table.
uint32_t *readOffsetTable(const exifInfo_t *info, const uint8_t *value, int format, uint32_t count)
{
    if (format != 3 && format != 4)
        return nullptr;
    uint32_t *table = static_cast<uint32_t *>(std::calloc(count ? count : 1, sizeof(uint32_t)));
    if (!table)
        return nullptr;
    for (uint32_t i = 0; i < count; ++i)
        table[i] = format == 3 ? exifGet16(info, value + 2 * i) : uint32_t(exifGet32(info, value + 4 * i));
    return table;
}

} // namespace

void exifSetQuiet(bool quiet)
{
    quietMode = quiet;
}

unsigned int exifGet16(const exifInfo_t *info, const uint8_t *p)
{
    return info->motorola ? (unsigned(p[0]) << 8) | p[1] : (unsigned(p[1]) << 8) | p[0];
}

int exifGet32(const exifInfo_t *info, const uint8_t *p)
{
    const uint32_t v = info->motorola
                           ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                           : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    return int(v);
}

double exifReadFormatValue(const exifInfo_t *info, const uint8_t *value, int format, int *numerator,
                           int *denominator)
{
    switch (format) {
    case 1:
        return value[0];
    case 6:
        return int8_t(value[0]);
    case 3:
        return exifGet16(info, value);
    case 8:
        return int16_t(exifGet16(info, value));
    case 4:
        return uint32_t(exifGet32(info, value));
    case 9:
        return exifGet32(info, value);
    case 5:
    case 10: {
        const int32_t num = exifGet32(info, value);
        const int32_t den = exifGet32(info, value + 4);
        if (numerator)
            *numerator = num;
        if (denominator)
            *denominator = den;
        if (den == 0)
            return 0;
        return format == 5 ? double(uint32_t(num)) / double(uint32_t(den)) : double(num) / double(den);
    }
    case 11: {
        const uint32_t bits = uint32_t(exifGet32(info, value));
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    case 12: {
        const uint64_t hi = uint32_t(exifGet32(info, value + (info->motorola ? 0 : 4)));
        const uint64_t lo = uint32_t(exifGet32(info, value + (info->motorola ? 4 : 0)));
        const uint64_t bits = (hi << 32) | lo;
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    default:
        exifPrint("EXIF: Illegal format code %d in Exif header\n", format);
        return 0;
    }
}

namespace {

// One directory entry: its tag, format, component count and where its value is.
struct exifEntry_t
{
    unsigned tag = 0;
    int format = 0;
    uint32_t components = 0;
    uint64_t byteCount = 0;
    const uint8_t *value = nullptr;
    bool hasValue = false;
};

// Where the value of one 12-byte directory entry lies and how many bytes it
// has; false (with a log line) for an entry this reader skips: an unknown
// format, too many components, or a value outside the data.
bool locateEntryValue(const uint8_t *base, const uint8_t *entry, int64_t dataEnd, exifInfo_t *info,
                      exifEntry_t &e)
{
    e.tag = exifGet16(info, entry);
    e.format = int(exifGet16(info, entry + 2));
    e.components = uint32_t(exifGet32(info, entry + 4));
    if (e.format > 12) {
        exifPrint("EXIF: Illegal number format %d for tag %04x in Exif\n", e.format, e.tag);
        return false;
    }
    if (e.components > EXIF_MAX_COMPONENTS) {
        exifPrint("EXIF: Too many components %d for tag %04x in Exif\n", int(e.components), e.tag);
        return false;
    }
    e.byteCount = uint64_t(e.components) * uint64_t(bytesPerFormat[e.format]);
    if (e.byteCount > 4) {
        const uint64_t offset = uint32_t(exifGet32(info, entry + 8));
        if (offset + e.byteCount > uint64_t(dataEnd)) {
            exifPrint("EXIF: Illegal value pointer for tag %04x in Exif\n", e.tag);
            return false;
        }
        e.value = base + offset;
        if (offset > info->largestOffset)
            info->largestOffset = offset;
    } else {
        e.value = entry + 8;
    }
    // A value shorter than one component of its format is not read (a
    // count of 0 would otherwise read past a 4-byte value field).
    e.hasValue = e.components >= 1 && e.format >= 1;
    return true;
}

// Stores a numeric tag the record keeps: v is the value, iv its integer part
// (0 when it does not fit), num/den the parts of a rational.
void storeNumericTag(exifInfo_t *info, unsigned tag, double v, int32_t iv, int num, int den)
{
    switch (tag) {
    case TAG_IMAGE_WIDTH: info->imageWidth = iv; break;
    case TAG_IMAGE_HEIGHT: info->imageHeight = iv; break;
    case TAG_BITS_PER_SAMPLE: info->bitsPerSample = iv; break;
    case TAG_COMPRESSION: info->compression = iv; break;
    case TAG_SAMPLES_PER_PIXEL: info->samplesPerPixel = iv; break;
    case TAG_ROWS_PER_STRIP: info->rowsPerStrip = iv; break;
    case TAG_PREDICTOR: info->predictor = iv; break;
    case TAG_PLANAR_CONFIGURATION: info->planarConfiguration = iv; break;
    case TAG_SAMPLE_FORMAT: info->sampleFormat = iv; break;
    case TAG_PHOTOMETRIC:
        if (!info->photometricPresent) {
            info->photometric = iv;
            info->photometricPresent = 1;
        }
        break;
    case TAG_TILE_WIDTH: info->tileWidth = iv; break;
    case TAG_TILE_LENGTH: info->tileLength = iv; break;
    case TAG_ORIENTATION:
        if (info->orientation == -1) {
            if (iv < 0 || iv > 8) {
                exifPrint("EXIF: Undefined rotation value %d in Exif\n", iv);
                info->orientation = 0;
            } else {
                info->orientation = iv;
            }
        }
        break;
    case TAG_FNUMBER:
        info->fNumber = v == 0 ? 1.0f : float(v);
        break;
    case TAG_APERTURE:
    case TAG_MAX_APERTURE:
        if (info->fNumber == 0)
            info->fNumber = float(std::exp2(v / 2));
        break;
    case TAG_FOCAL_LENGTH: info->focalLength = float(v); break;
    case TAG_EXPOSURE_TIME:
        info->exposureTime = float(v);
        info->exposureNumerator = num;
        info->exposureDenominator = den;
        break;
    case TAG_SHUTTER_SPEED:
        if (info->exposureTime == 0)
            info->exposureTime = float(1 / std::exp2(v));
        break;
    case TAG_EXPOSURE_BIAS: info->exposureBias = float(v); break;
    case TAG_WHITE_BALANCE: info->whiteBalance = iv; break;
    case TAG_EXPOSURE_MODE: info->exposureMode = iv; break;
    case TAG_METERING_MODE: info->meteringMode = iv; break;
    case TAG_LIGHT_SOURCE: info->lightSource = iv; break;
    case TAG_EXPOSURE_PROGRAM: info->exposureProgram = iv; break;
    case TAG_ISO_EQUIVALENT:
        info->iso = iv < 50 ? iv * 200 : iv;
        break;
    case TAG_EXPOSURE_INDEX:
        if (info->iso == 0)
            info->iso = iv;
        break;
    case TAG_FOCAL_LENGTH_35MM: info->focalLength35 = float(v); break;
    case TAG_FOCAL_PLANE_XRES: info->focalPlaneXResolution = float(v); break;
    case TAG_FOCAL_PLANE_UNITS:
        switch (iv) {
        case 1:
        case 2: info->focalPlaneUnit = 25.4f; break;
        case 3: info->focalPlaneUnit = 10.0f; break;
        case 4: info->focalPlaneUnit = 1.0f; break;
        case 5: info->focalPlaneUnit = 0.001f; break;
        default: break;
        }
        break;
    case TAG_EXIF_IMAGE_WIDTH:
    case TAG_EXIF_IMAGE_LENGTH:
        if (iv > info->exifImageWidth)
            info->exifImageWidth = iv;
        break;
    default:
        break;
    }
}

// Follows a link to another directory (sub-directory or next directory) when
// the nesting allows it.
void followDirectoryLink(int level, const uint8_t *base, int64_t target, unsigned int length, exifInfo_t *info)
{
    if (level < EXIF_MAX_NESTING)
        exifProcessDir(level + 1, base, base + target, length, info);
    else
        exifPrint("Maximum Exif directory nesting exceeded (corrupt Exif header)\n");
}

} // namespace

void exifProcessDir(int level, const uint8_t *base, const uint8_t *dir, unsigned int length, exifInfo_t *info)
{
    const int64_t dataEnd = length;
    const int64_t start = dir - base;
    if (start < 0 || start + 2 > dataEnd)
        return;
    if (++directoriesVisited > EXIF_MAX_DIRECTORIES) {
        exifPrint("EXIF: Too many Exif directories\n");
        return;
    }
    const int entries = int(exifGet16(info, dir));
    exifPrint("NumDirEntries = %d\n", entries);
    const int64_t dirEnd = start + 2 + 12 * int64_t(entries);
    if (dirEnd + 4 > dataEnd && dirEnd != dataEnd && dirEnd + 2 != dataEnd) {
        exifPrint("EXIF: Illegally sized Exif subdirectory (%d entries)\n", entries);
        return;
    }

    for (int de = 0; de < entries; ++de) {
        exifEntry_t e;
        if (!locateEntryValue(base, dir + 2 + 12 * de, dataEnd, info, e))
            continue;

        if (e.tag == TAG_IMAGE_WIDTH && info->imageWidth != 0) {
            exifPrint("TODO: second EXIF...! BREAK!\n");
            return;
        }

        switch (e.tag) {
        case TAG_MAKE:
            if (e.format == 2)
                copyText(info->make, sizeof info->make, e.value, e.byteCount);
            break;
        case TAG_MODEL:
            if (e.format == 2)
                copyText(info->model, sizeof info->model, e.value, e.byteCount);
            break;
        case TAG_DATETIME_ORIGINAL:
        case TAG_DATETIME:
            if (e.format == 2 && info->dateTime[0] == 0)
                copyText(info->dateTime, 20, e.value, e.byteCount);
            break;
        case TAG_EXIF_OFFSET:
        case TAG_INTEROP_OFFSET: {
            if (!e.hasValue)
                break;
            const int64_t sub = uint32_t(exifGet32(info, e.value));
            if (sub + 2 > dataEnd)
                exifPrint("EXIF: Illegal Exif or interop ofset directory link\n");
            else
                followDirectoryLink(level, base, sub, length, info);
            break;
        }
        case TAG_ICC_PROFILE:
            exifPrint("ICC_PROFILE is present in EXIF!\n");
            break;
        case TAG_STRIP_OFFSETS:
            if (!e.hasValue)
                break;
            std::free(info->stripOffsets);
            info->stripOffsets = readOffsetTable(info, e.value, e.format, e.components);
            info->stripCount = info->stripOffsets ? int32_t(e.components) : 0;
            break;
        case TAG_STRIP_BYTE_COUNTS:
            if (!e.hasValue)
                break;
            std::free(info->stripByteCounts);
            info->stripByteCounts = readOffsetTable(info, e.value, e.format, e.components);
            info->stripByteCountCount = info->stripByteCounts ? int32_t(e.components) : 0;
            break;
        default: {
            if (!e.hasValue || !isStoredNumericTag(e.tag))
                break;
            int num = 0, den = 0;
            const double v = exifReadFormatValue(info, e.value, e.format, &num, &den);
            const int32_t iv = std::isfinite(v) && std::fabs(v) < 2147483647.0 ? int32_t(v) : 0;
            storeNumericTag(info, e.tag, v, iv, num, den);
            break;
        }
        }
    }

    // Link to the next directory, when its 4 bytes are there.
    if (dirEnd + 4 <= dataEnd) {
        const int64_t next = uint32_t(exifGet32(info, dir + 2 + 12 * int64_t(entries)));
        if (next == 0)
            return;
        if (next + 2 > dataEnd) {
            if (next >= dataEnd + 20)
                exifPrint("EXIF: Illegal subdirectory link in Exif header\n");
            return;
        }
        followDirectoryLink(level, base, next, length, info);
    }
}

void exifProcessHeader(const uint8_t *tiffHeader, unsigned int length, exifInfo_t *info)
{
    info->orientation = -1;
    directoriesVisited = 0;
    const int64_t size = length;
    if (size < 8 || !tiffHeader) {
        exifPrint("EXIF: Exif header too short\n");
        info->orientation = 0;
        return;
    }
    if (tiffHeader[0] == 'I' && tiffHeader[1] == 'I') {
        info->motorola = 0;
    } else if (tiffHeader[0] == 'M' && tiffHeader[1] == 'M') {
        info->motorola = 1;
    } else {
        exifPrint("EXIF: Invalid Exif alignment marker.\n");
        info->orientation = 0;
        return;
    }
    if (exifGet16(info, tiffHeader + 2) != 42) {
        exifPrint("EXIF: Invalid Exif start (1)\n");
        info->orientation = 0;
        return;
    }
    const int64_t first = uint32_t(exifGet32(info, tiffHeader + 4));
    if (first < 8 || first > size - 16) {
        exifPrint("EXIF: Invalid offset for first Exif IFD value\n");
        info->orientation = 0;
        return;
    }
    if (first > 16)
        exifPrint("EXIF: Suspicious offset of first Exif IFD value\n");
    exifProcessDir(0, tiffHeader, tiffHeader + first, length, info);

    if (info->focalPlaneXResolution != 0) {
        info->ccdWidth = float(double(info->exifImageWidth) * info->focalPlaneUnit / info->focalPlaneXResolution);
        if (info->focalLength != 0 && info->focalLength35 == 0 && info->ccdWidth > 0)
            info->focalLength35 = float(info->focalLength / info->ccdWidth * 36 + 0.5);
    }
    if (info->orientation == -1)
        info->orientation = 0;
}

bool exifReadJpegSections(FILE *file, exifInfo_t *info)
{
    if (!file || !info)
        return false;
    const int a = std::fgetc(file), b = std::fgetc(file);
    if (a != 0xFF || b != 0xD8) {
        exifPrint("EXIF: not a JPEG file\n");
        return false;
    }
    bool exifDone = false;
    for (;;) {
        int marker = 0, previous = 0, padding = 0;
        for (;;) {
            marker = std::fgetc(file);
            if (marker == EOF) {
                exifPrint("EXIF: Premature end of file\n");
                return false;
            }
            if (previous == 0xFF && marker != 0xFF)
                break;
            previous = marker;
            if (++padding > 10) {
                exifPrint("EXIF: Extraneous %d padding bytes before section %02X (no EXIF header found)\n",
                          padding - 1, marker);
                return false;
            }
        }
        const int hi = std::fgetc(file), lo = std::fgetc(file);
        if (hi == EOF || lo == EOF) {
            exifPrint("EXIF: Premature end of file\n");
            return false;
        }
        const int sectionLength = (hi << 8) | lo;
        if (sectionLength < 2) {
            exifPrint("EXIF: invalid marker\n");
            return false;
        }
        std::vector<uint8_t> data;
        try {
            data.resize(size_t(sectionLength));
        } catch (const std::bad_alloc &) {
            exifPrint("EXIF: Could not allocate memory\n");
            return false;
        }
        data[0] = uint8_t(hi);
        data[1] = uint8_t(lo);
        if (std::fread(data.data() + 2, 1, size_t(sectionLength - 2), file) != size_t(sectionLength - 2)) {
            exifPrint("EXIF: Premature end of file\n");
            return false;
        }
        if (marker == 0xDA)
            return true;
        if (marker == 0xE1) {
            // "Exif\0\0" after the length, then the TIFF header: a section of
            // fewer than 8 bytes can't be one.
            if (sectionLength >= 8 && std::memcmp(data.data() + 2, "Exif\0\0", 6) == 0) {
                if (!exifDone) {
                    exifProcessHeader(data.data() + 8, unsigned(sectionLength - 8), info);
                    exifDone = true;
                }
            } else {
                exifPrint("EXIF: found other EXIF header (XMP?)\n");
            }
        }
    }
}

bool exifReadFile(const QString &path, exifInfo_t *info)
{
    FILE *file = openFileWide(path, "rb");
    if (!file) {
        exifPrint("EXIF: can't open '%s'\n", qPrintable(path));
        return false;
    }
    const bool ok = exifReadJpegSections(file, info);
    std::fclose(file);
    if (!ok)
        exifPrint("EXIF: Exif headers not found in '%s'\n", qPrintable(path));
    return ok;
}

const char *exifLightSourceName(int code)
{
    switch (code) {
    case 1: return "Daylight";
    case 2: return "Fluorescent";
    case 3: return "Incandescent";
    case 4: return "Flash";
    case 9: return "Fine weather";
    case 11: return "Shade";
    default: return "?";
    }
}

void exifFreeStripTables(exifInfo_t *info)
{
    if (!info)
        return;
    std::free(info->stripOffsets);
    std::free(info->stripByteCounts);
    info->stripOffsets = nullptr;
    info->stripByteCounts = nullptr;
    info->stripCount = 0;
    info->stripByteCountCount = 0;
}
