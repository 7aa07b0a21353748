#ifndef TIFFREADER_H
#define TIFFREADER_H

// The program's own TIFF reader: baseline strips (no tiles), chunky samples
// of 8, 16 or 32 bits (32 = IEEE float), 1, 3 or 4 samples per pixel,
// compressions none, LZW, Deflate and PackBits, horizontal and
// floating-point predictors. Integer images are delivered as 16-bit RGB
// (8-bit samples x 257), float images as float RGB with their minimum and
// maximum. A grey (one-sample) image fills all three channels.
//
// Grey images may count up from black or from white (WhiteIsZero, inverted
// on reading); YCbCr, palette and other colour spaces are refused by name.
//
// The file is memory-mapped. Before anything is allocated the directory is
// checked against the file: every strip must lie inside it and be able to
// decode to its rows (stored bytes times the largest ratio of the
// compression), so a tiny file cannot claim a huge image. A strip whose data
// ends early or does not decode to all of its rows refuses the file: a picture
// is never shown with a black part as if it were whole. Nothing is ever
// written into the read-only mapping. Every refusal gives its reason.

#include "imageio/exifReader.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace imageLoader {

// Probes the first directory: width, height and bits per sample (all set
// to 0 first). False, with the reason, for a file the reader would refuse
// (unreadable, not a TIFF, an unsupported layout, strips the file cannot
// hold).
bool getTIFFinfo(const QString &path, int *width, int *height, int *bitsPerSample, QString *reason = nullptr);

// Decodes the whole image. width and height are the size the caller's
// buffers were allocated for (from getTIFFinfo): a file whose directory
// disagrees is refused. Integer images go to rgb16 (width x height x 3),
// 32-bit images to rgbFloat (width x height x 3) with minimum and maximum.
// exif must be zero-filled; it receives the directory fields (and its strip
// tables, which the caller frees with exifFreeStripTables).
bool loadTIFF(const QString &path, uint16_t *rgb16, float *rgbFloat, float *minimum, float *maximum,
              exifInfo_t *exif, int width, int height, QString *reason = nullptr);

// TIFF PackBits. Stops when destinationLength bytes are written or, unless
// unbounded, when sourceLength bytes are consumed. Returns the bytes written.
// unbounded is only for callers that guarantee the source holds enough bytes.
int64_t decodePackBits(const uint8_t *source, uint8_t *destination, int64_t sourceLength, bool unbounded,
                       int64_t destinationLength);

} // namespace imageLoader

// LZW decoder state for one strip (TIFF 6.0 section 13, and the old-style
// least-significant-bit-first codes of early writers).
constexpr int LZW_TABLE_SIZE = 4095 + 1024;

struct lzwCode_t {
    int32_t prefix;     // entry of the string without its last byte, -1 for single bytes
    uint16_t length;    // string length, 0 = unused
    uint8_t value;      // last byte
    uint8_t firstChar;  // first byte
};

struct lzwState_t {
    const uint8_t *input = nullptr; // the strip's bytes
    int64_t inputLength = 0;
    int64_t bitPosition = 0;
    int64_t bitsLeft = 0;
    int nbits = 9;
    int maxCode = 510;
    int freeEntry = 258;
    int oldCode = -1;
    bool compat = false;            // old-style codes
    lzwCode_t *table = nullptr;
};

int lzwSetupDecode(lzwState_t *state);
int lzwPreDecode(lzwState_t *state);
int lzwDecode(lzwState_t *state, uint8_t *destination, int64_t destinationLength);
int lzwDecodeCompat(lzwState_t *state, uint8_t *destination, int64_t destinationLength);
void lzwFree(lzwState_t *state);

// The decoders print their diagnostics to standard output; quiet mode drops them.
void tiffSetQuiet(bool quiet);

// Predictor steps, per row, in place; stride = samples per pixel. The 16-
// and 32-bit forms work on native words.
void tiffHorizontalPredictor8(uint8_t *row, int64_t rowBytes, int stride);
void tiffHorizontalPredictor16(uint8_t *row, int64_t rowBytes, int stride);
void tiffHorizontalPredictor32(uint8_t *row, int64_t rowBytes, int stride);
void tiffFloatPredictor(uint8_t *row, int64_t rowBytes, int stride);

#endif // TIFFREADER_H
