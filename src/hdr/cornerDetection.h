#ifndef CORNERDETECTION_H
#define CORNERDETECTION_H

// FAST-9 segment-test corner detector with its score and non-maximum
// suppression, over 8-bit grey samples addressed by a first-pixel pointer and
// a row stride in bytes (so a chunk of a larger image can be scanned in place).
// Corner arrays are malloc'ed here and released by the caller with free().

#include <cstdint>

struct fastXY_t {
    int32_t x;
    int32_t y;
};

// Byte offsets of the 16 pixels of the radius-3 circle for a row stride,
// starting straight below the centre and turning towards +x.
void fastMakeOffsets(int32_t offsets[16], int stride);

// Every pixel at least 3 pixels inside each border whose circle holds 9
// contiguous pixels all brighter than centre + threshold or all darker than
// centre - threshold. Corners come in scan order. Returns null with count 0
// when none is found (or on allocation failure).
fastXY_t *fast9Detect(const uint8_t *image, int width, int height, int stride, int threshold,
                      int *count);

// Largest threshold (between threshold and 255) at which the pixel still
// passes the segment test.
int fast9CornerScore(const uint8_t *pixel, const int32_t offsets[16], int threshold);

// Whether the pixel passes the segment test at the threshold.
bool fast9IsCorner(const uint8_t *pixel, const int32_t offsets[16], int threshold);

// Keeps the corners none of whose eight neighbours is a corner with an equal
// or higher score (equal neighbours both go). Corners must be in scan order;
// the kept ones keep it. Returns null with count 0 when nothing is kept.
fastXY_t *fastNonmaxSuppression(const fastXY_t *corners, const int *scores, int count,
                                int *outCount);

#endif // CORNERDETECTION_H
