#ifndef HDRPREPROCESS_H
#define HDRPREPROCESS_H

// Kernels of the HDR preprocessing after the merge (normalising curve and
// luminance histogram, exposure statistics), of LDR enhancement (16-bit photo to
// float image) and of the wavelet noise filter. They work on plain buffers: the
// float image is interleaved RGB (three floats per pixel), photos interleaved
// 16-bit RGB; ranges are half-open [first, end). generateHDRworker drives them.

#include "project/taskResult.h"

#include <QtGlobal>

constexpr int HDR_HISTOGRAM_BINS = 16384;

struct _applyResponseCurve_threadParams_t {
    int *histogram = nullptr;     // HDR_HISTOGRAM_BINS counters owned by the task, zeroed by it
    int binCount = HDR_HISTOGRAM_BINS;
    float *image = nullptr;       // float RGB, changed in place
    float minimum = 0.0f;
    float maximum = 1.0f;
    int method = 0;               // 0 True HDR curve, 1 Smart Merge curve, other: linear
    qint64 first = 0, end = 0;    // pixels
};

// Normalises the range's pixels to 0..1 with the method's curve and counts their
// luminance.
void applyResponseCurveThread(const _applyResponseCurve_threadParams_t &p);

struct exposureStatistics_t {
    double lcCorrection = 1.0;
    double hdrMedian = 0.4;
};

// Local-contrast exponent and median from the summed luminance histogram of
// pixelCount pixels.
exposureStatistics_t exposureCorrection(const qint64 *histogram, int binCount, qint64 pixelCount);

struct _LDRenhancementPreprocess_threadParams_t {
    const quint16 *source = nullptr;   // 16-bit RGB
    float *destination = nullptr;      // float RGB
    qint64 first = 0, end = 0;         // pixels
    int width = 0;                     // row length (progress, break checks)
    bool applyCurve = false;           // apply the True HDR normalising curve
};

// Converts the range to float 0..1; stops at a row start when hdrBreakFlag is set.
// Returns cancelled when it stopped early.
taskResult_t ldrEnhancementPreprocessThread(const _LDRenhancementPreprocess_threadParams_t &p);

struct _waveletDenoise_threadParams_t {
    qint64 first = 0, end = 0;         // rows, columns or pixels, by step
    int width = 0, height = 0;
    float *image = nullptr;            // interleaved float RGB (YCbCr while filtering)
    float *planes[2] = {nullptr, nullptr}; // two width x height planes (1 and 2)
    float *line = nullptr;             // the task's scratch (WAVELET_COLUMN_BLOCK columns)
    int channel = 0;
    int sourcePlane = 0;               // 0 = the image channel, 1 or 2 = a plane
    int targetPlane = 1;               // 1 or 2
    int spacing = 1;
    float threshold = 0.0f;
    int level = 0;
};

// Columns the column pass keeps together in its scratch (the scratch holds
// height x WAVELET_COLUMN_BLOCK floats).
constexpr int WAVELET_COLUMN_BLOCK = 16;

void waveletRowsThread(const _waveletDenoise_threadParams_t &p);       // step 1
void waveletColumnsThread(const _waveletDenoise_threadParams_t &p);    // step 2
void waveletThresholdThread(const _waveletDenoise_threadParams_t &p);  // step 3
void waveletResidualThread(const _waveletDenoise_threadParams_t &p);   // step 4

// Softness factor d for softness step 1..10 (clamped into the table).
double denoiseSoftness(int step);

// Filters one channel of the float image with the five-level wavelet; the
// planes are scratch of width x height floats each. Returns false when
// hdrBreakFlag stopped it (the channel is then only partly filtered).
bool denoiseChannel(int width, int height, double strength, double softness, float *image,
                    float *plane1, float *plane2, int channel, int tasks);

#endif // HDRPREPROCESS_H
