#ifndef FILTERKERNELS_H
#define FILTERKERNELS_H

// Image kernels shared by tone mapping, local contrast, post-processing,
// the HDR engine and the transforms.
//
// Rules for every kernel here:
// - Images are interleaved RGB or single-channel, row-major, no row padding.
//   16-bit samples are unsigned 0..65535; float samples are linear, nominally
//   0..1. Pixel indices and buffer sizes are computed in 64 bits.
// - The caller allocates every buffer. A kernel touches only what its record
//   names and only its own rows, columns or pixels.
// - Ranges in records are half-open: [first, end). Drivers split the work
//   with project/parallelRanges.h (n equal ranges, the last taking the
//   remainder), one record per task, and wait for all tasks.
// - A task adds 1 to progressCounter per row or column it finishes (per
//   pixel range for the detail image).
// - Only the grey bilateral pass polls flags (breakFlag, abortBackgroundFlag);
//   it stops at the next row, leaves the rest of its range as it was and
//   returns taskResult_t::cancelled.
// - Samples are truncated toward zero when converted and clamped to 0..65535
//   where they can overflow; products are formed in 64 bits or doubles.
// - Weight tables have FILTER_WEIGHT_TAPS (65) entries: a radius can reach 64.

#include "project/tableSizes.h"
#include "project/taskResult.h"

#include <cstdint>

constexpr int FILTER_MAX_RADIUS = 64;
constexpr int FILTER_WEIGHT_TAPS = FILTER_MAX_RADIUS + 1;
constexpr int MEDIAN_MAX_RADIUS = 5; // gather buffer of 11 x 11
constexpr int MEDIAN_GATHER_SIZE = (2 * MEDIAN_MAX_RADIUS + 1) * (2 * MEDIAN_MAX_RADIUS + 1);
constexpr int MEDIAN_SHAPE_COUNT = 12;
constexpr double POSTPROCESS_WEIGHT_CUTOFF = 0.001;
constexpr double MASK_LUMINANCE_WEIGHT_CUTOFF = 0.005;
// The detail image stores signed 16-bit values; the difference times 2.5
// can reach about +-164,000, so it saturates instead of wrapping.
constexpr double DETAIL_GAIN = 2.5;

struct _unsharpMaskThreadParams_t {
    int64_t start;             // pixel range
    int64_t end;
    const float *input;        // float RGB
    int16_t *detail;           // the detail image (pass 0: the gamma luminance, as 0..65535)
    uint16_t *luminanceCopy;   // optional copy of the pass-0 value, or null
};

struct _bilateral_threadParams_t {
    bool vertical;             // false: along rows, a range of rows; true: along columns
    const uint16_t *input;
    uint16_t *output;          // a different buffer than input
    int32_t width;
    int32_t height;
    int32_t first;             // rows (horizontal pass) or columns (vertical pass)
    int32_t end;
    double opacity;
    const double *spatialWeights; // FILTER_WEIGHT_TAPS entries
    int32_t radius;               // 0..FILTER_MAX_RADIUS
    const double *rangeWeights;   // SAMPLE_TABLE_SIZE entries
};

struct _separableConvolution3_threadParams_t {
    int32_t mode;              // 0 = blur, 1 = sharpen (vertical pass)
    bool vertical;
    const uint16_t *input;     // 16-bit RGB
    uint16_t *output;          // 16-bit RGB; the vertical pass blends with its current value
    int32_t width;
    int32_t height;
    int32_t first;             // rows or columns
    int32_t end;
    double amount;             // opacity (blur) or strength (sharpen)
    double threshold;
    const double *weights;     // FILTER_WEIGHT_TAPS entries
    int32_t radius;
};

struct _median_threadParams_t {
    const uint16_t *input;     // 16-bit RGB
    uint16_t *output;          // 16-bit RGB, pixels left alone keep their value
    int32_t width;
    int32_t height;
    int32_t firstRow;
    int32_t endRow;
    double opacity;
    double threshold;
    const uint8_t *shape;      // (2r + 1)^2 bytes, 1 = inside
    int32_t radius;            // 0..MEDIAN_MAX_RADIUS
};

struct _sampleTargetBalance_threadParams_t {
    uint16_t *image;           // 16-bit RGB, changed in place
    int32_t width;
    int32_t height;
    int32_t firstRow;
    int32_t endRow;
    double opacity;
    double sample[3][3];       // [red, green, blue][shadows, midtones, highlights]
    double target[3][3];       // 0 switches a range off for that channel
};

// ---- Table builders (run once per filter, before the tasks start) ----

// weights[i] = exp(-i^2 / (2 sigma^2)) for i = 0..64, divided by the sum of
// entries 0..63; returns the radius: the first i whose weight is below
// cutOff, else 64.
int buildSpatialWeights(double sigma, double cutOff, double weights[FILTER_WEIGHT_TAPS]);
// range[i] = exp(-i / 65535 / (2 t^2)), SAMPLE_TABLE_SIZE entries.
void buildRangeWeights(double t, double *range);
// Shape mask of the post-processing median for a shape setting 0..11: fills
// (2r + 1)^2 bytes of shape (room for MEDIAN_GATHER_SIZE) and returns r.
int buildMedianShape(int shapeIndex, uint8_t shape[MEDIAN_GATHER_SIZE]);

// ---- Kernels ----

// Fills the detail image used for sharpening in tone mapping: gamma
// luminance, blurred by recursiveGaussian16, difference x 2.5 saturated to
// signed 16 bits. outFactor receives min(1, f) with
// f = sqrt(min(referenceWidth, referenceHeight) / 600 x scale). Runs
// idealThreadCount(false) tasks.
void unsharpMask(const float *input, int16_t *detail, uint16_t *luminanceCopy, int32_t width,
                 int32_t height, bool panorama, double &outFactor, double scale, int32_t referenceWidth,
                 int32_t referenceHeight, int taskCount = 0);
void unsharpMaskThread(int pass, const _unsharpMaskThreadParams_t &p);

// First-order recursive Gaussian on a 16-bit single-channel image, in place,
// in taskCount tasks (0: idealThreadCount(false)). Images narrower than 3
// columns are left alone.
void recursiveGaussian16(int32_t height, bool panorama, double sigma, uint16_t *image, int32_t width,
                         int taskCount = 0);

// Integer Gaussian of an 8-bit mask (OpenMP); scratch is width x height bytes.
void gaussianKernelInt(uint8_t *image, uint8_t *scratch, int32_t width, int32_t height, int32_t radius);

// c x c block average of 16-bit RGB (OpenMP over output rows); the output is
// ceil(width / c) x ceil(height / c).
void parallelFor(int32_t c, int32_t width, int32_t height, const uint16_t *source, uint16_t *destination);
// The same from float RGB (optionally read as x, y, Y), times weight, x 65535.
void boxDownsampleToRgb16(int32_t c, int32_t width, int32_t height, const float *source, bool fromXyY,
                          double weight, uint16_t *destination);

void bilateralRgbThread(const _bilateral_threadParams_t &p);
taskResult_t bilateralGrayThread(const _bilateral_threadParams_t &p);
void separableConvolution3Thread(const _separableConvolution3_threadParams_t &p);
void medianThread(const _median_threadParams_t &p);
// Sorts a[first] .. a[last] ascending (both inclusive).
void quickSortInt(int *a, int first, int last);
void sampleTargetBalanceThread(const _sampleTargetBalance_threadParams_t &p);

// Fills the 4-connected region of the seed's value with value (iterative,
// any region size). Nothing happens when the seed lies outside or already
// holds value.
void floodFillAt(uint8_t *mask, int32_t width, int32_t height, int32_t x, int32_t y, uint8_t value);

// ---- Drivers over 16-bit RGB images (post-processing filters) ----
// scratch is a 16-bit RGB buffer of the image's size; taskCount <= 0 means
// idealThreadCount(false).

void gaussianBlurRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                       double opacity, int taskCount = 0);
void sharpenRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                  double amount, double threshold, int taskCount = 0);
void bilateralRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                    double threshold, double opacity, int taskCount = 0);
// scratch receives a copy of the image and is the median's input.
void medianRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, int shapeIndex,
                 double threshold, double opacity, int taskCount = 0);
void sampleTargetBalanceRgb16(const _sampleTargetBalance_threadParams_t &settings, int taskCount = 0);

#endif // FILTERKERNELS_H
