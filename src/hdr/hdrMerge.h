#ifndef HDRMERGE_H
#define HDRMERGE_H

// The per-pixel HDR merge. generateHDRworker::generateHDR_core cuts the image
// into chunks, points one _HDRgeneration_threadParams_t per task at the chunk's
// pixels and runs mergeChunk on the thread pool.
//
// Layout: photos are interleaved 16-bit RGB (0..65535), the output interleaved
// 32-bit float RGB; Smart Merge masks are one 16-bit value per pixel, anti-ghost
// masks one byte per pixel (0 = photo not used there, 255 = fully used). Record
// pointers address the task's first pixel. Tables hold 65536 doubles indexed by a
// 16-bit sample; the confidence tables hold 4096 doubles.

#include <QtGlobal>

class processingProject;

constexpr int HDR_MAX_PHOTOS = 100;
constexpr int HDR_CONFIDENCE_ENTRIES = 4096;

// What the merge reads of one photo of the list.
struct hdrMergePhoto_t {
    bool included = false;
    double evLn = 0.0;
    double evlFix = 0.0;
    const double *mergeBuffer = nullptr;   // 65536 weights
    quint16 lowLevel = 0;
    quint16 highLevel = 65535;
    // Per-channel confidence tables of masked pixels (R, G, B), or null for the
    // neutral table (every entry 1).
    const double *confidence[3] = {nullptr, nullptr, nullptr};
};

// Tables and photo data shared read-only by all tasks of one merge; built once
// before the tasks start.
struct hdrMergeTables_t {
    int photoCount = 0;
    hdrMergePhoto_t photo[HDR_MAX_PHOTOS];
    const double *responseR = nullptr;
    const double *responseG = nullptr;
    const double *responseB = nullptr;
    const double *ghostWeightTable = nullptr;
    const double *exposurePenaltyLow = nullptr;
    const double *exposurePenaltyHigh = nullptr;
    double evMinLn = 0.0;
};

struct _HDRgeneration_threadParams_t {
    processingProject *project = nullptr;  // informational; the task reads `tables`
    double exposureReference = 0.0;
    int method = 0;                        // 0 True HDR, 1 Smart Merge, 2 plain average
    bool ghostRemoval = false;
    bool ghostRemovalRepair = false;
    double smartMergeOffset = 0.0;         // (5 - strength) / 10
    qint64 start = 0;                      // index of the task's first pixel
    int count = 0;                         // pixels of the task
    int width = 0;                         // image row length
    bool noiseWeighting = false;
    const quint16 *pixels[HDR_MAX_PHOTOS] = {};
    const quint16 *smartMasks[HDR_MAX_PHOTOS] = {};
    const quint8 *ghostMasks[HDR_MAX_PHOTOS] = {};
    float *output = nullptr;               // the whole image (pixel start is written first)
    const hdrMergeTables_t *tables = nullptr;
};

// Merges the record's pixels into output. Every pixel gets a finite value.
// Stops early (leaving the rest of the chunk untouched) when hdrBreakFlag or
// abortBackgroundFlag is raised; the flags are polled at least once per image row.
// Returns the row index of the last pixel merged, or -1 when none was.
int mergeChunk(const _HDRgeneration_threadParams_t &p, double *minOut, double *maxOut);

#endif // HDRMERGE_H
