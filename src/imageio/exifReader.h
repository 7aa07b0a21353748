#ifndef EXIFREADER_H
#define EXIFREADER_H

// A small self-contained EXIF reader. It scans a JPEG file's markers for the
// APP1 "Exif" section, walks the TIFF image file directories inside it and
// copies the tags the program needs into an exifInfo_t. The same directory
// walker fills the strip layout fields the TIFF reader uses.
//
// Every length and offset is checked against the bytes really present, in
// 64-bit arithmetic, before anything is read: a damaged or forged section
// only stops the walk, it never reads outside its buffer. Diagnostics go to
// standard output; none reaches the user.

#include <cstdint>
#include <cstdio>

#include <QString>

// Plain record, zero-filled before use (memset); one lives in every photoInfo_t.
// Copies are byte copies: the strip tables are shared and owned by the
// project, which frees them with the photo (exifFreeStripTables).
struct exifInfo_t {
    int32_t imageWidth;          // 0100 ImageWidth
    int32_t imageHeight;         // 0101 ImageLength
    int32_t bitsPerSample;       // 0102 (first value)
    int32_t compression;         // 0103
    int32_t samplesPerPixel;     // 0115
    int32_t rowsPerStrip;        // 0116
    int32_t predictor;           // 013D
    int32_t stripCount;          // number of components of 0111
    uint32_t *stripOffsets;      // 0111 StripOffsets (heap, stripCount entries)
    uint32_t *stripByteCounts;   // 0117 StripByteCounts (heap, stripByteCountCount entries)
    int32_t stripByteCountCount; // number of components of 0117 (the reader requires stripCount)
    uint8_t motorola;            // 1 = big-endian ("MM"), 0 = little-endian ("II")
    uint64_t largestOffset;      // largest value offset met in the walk
    char make[32];               // 010F Make (at most 31 characters)
    char model[40];              // 0110 Model (at most 39 characters)
    char dateTime[32];           // 9003 DateTimeOriginal or 0132 DateTime, first found
    float fNumber;               // 829D FNumber, else 2^(v/2) of 9202 / 9205
    float focalLength;           // 920A, mm
    float exposureTime;          // 829A, s; else 1 / 2^v of 9201
    int32_t exposureNumerator;   // the two halves of the 829A rational
    int32_t exposureDenominator;
    float exposureBias;          // 9204, EV
    int32_t orientation;         // 0112, 0 when none
    int32_t whiteBalance;        // A403
    int32_t exposureMode;        // A402
    int32_t meteringMode;        // 9207
    int32_t lightSource;         // 9208
    int32_t exposureProgram;     // 8822
    int32_t iso;                 // 8827 ISOSpeedRatings, else A215 ExposureIndex
    float focalLength35;         // A405, else computed from the focal plane
    float ccdWidth;              // computed, mm
    float focalPlaneUnit;        // A210 in mm per unit
    float focalPlaneXResolution; // A20E
    int32_t exifImageWidth;      // the larger of A002 and A003
    // Tiled TIFF directories (0142 TileWidth, 0143 TileLength): the strip
    // reader refuses them with a clear message instead of misreading them.
    int32_t tileWidth;
    int32_t tileLength;
    int32_t planarConfiguration; // 011C (0 when absent, 1 chunky, 2 planar)
    int32_t sampleFormat;        // 0153 (0 when absent)
    int32_t photometric;         // 0106 PhotometricInterpretation, first found (see photometricPresent)
    uint8_t photometricPresent;  // 1 when 0106 was found (its value 0, WhiteIsZero, is meaningful)
};

// Opens path for binary reading, scans it and fills info (which the caller
// zero-filled). False when the file can't be opened or no EXIF was found
// before the start of scan.
bool exifReadFile(const QString &path, exifInfo_t *info);

// Scans the JPEG markers of an open stream up to the start of scan and
// processes the first APP1 "Exif" section.
bool exifReadJpegSections(FILE *file, exifInfo_t *info);

// Reads the TIFF header at tiffHeader (length bytes available) and walks
// its first directory chain.
void exifProcessHeader(const uint8_t *tiffHeader, unsigned int length, exifInfo_t *info);

// Walks one directory at dir; base is the TIFF header, length the bytes
// available from base.
void exifProcessDir(int level, const uint8_t *base, const uint8_t *dir, unsigned int length,
                    exifInfo_t *info);

// Converts one value of the given TIFF format at value (the caller has
// checked that its bytes are present). numerator/denominator may be null.
double exifReadFormatValue(const exifInfo_t *info, const uint8_t *value, int format,
                           int *numerator, int *denominator);

unsigned int exifGet16(const exifInfo_t *info, const uint8_t *p);
int exifGet32(const exifInfo_t *info, const uint8_t *p);

// Text for an EXIF LightSource code.
const char *exifLightSourceName(int code);

// Diagnostics go to standard output; quiet mode (fuzzing, tests) drops them.
void exifSetQuiet(bool quiet);

// Frees the two strip tables and nulls them (stripCount becomes 0).
void exifFreeStripTables(exifInfo_t *info);

#endif // EXIFREADER_H
