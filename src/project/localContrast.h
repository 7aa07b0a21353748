#ifndef LOCALCONTRAST_H
#define LOCALCONTRAST_H

// The local-contrast maps: a local rank transform of the image's luminance
// over three window sizes (fine, medium, coarse), and the luminance of the
// mask operation. Free functions over buffers; the project's drivers call
// them once per HDR image.
//
// The rank transform gives every pixel the share of its window's samples that
// lie below its own level, with a soft edge: for level p, window samples below
// lo = p - W[p] count fully, those in [lo, hi) with hi = p + W[p]/2 count with a
// weight falling linearly from 1 to 0. Windows are squares of radius k around
// blocks of s x s pixels, sampled every s-th pixel, cut off at the image
// border (or wrapped horizontally in panorama mode).
//
// The computation slides per-column histograms down the image and the window
// histograms across it (two levels of bins, so every query is a few dozen
// additions), which gives the same maps as counting every window directly at a
// small fraction of the cost.

#include "project/taskResult.h"

#include <QtGlobal>
#include <cstddef>
#include <memory>
#include <vector>

constexpr int LC_LEVELS = 2048;       // 11-bit input levels
constexpr int LC_COARSE_BINS = 128;   // bins of 16 levels
constexpr int LC_SUPER_BINS = 8;      // bins of 256 levels

struct _localContrastPrepare_threadParams_t
{
    qint64 start = 0, end = 0;         // pixel range
    const float *input = nullptr;      // float RGB
    quint16 *output = nullptr;         // 11-bit values 0..2047
    double exponent = 0.75;
};

// A task's own histograms. The driver keeps one per task from pass to pass,
// so that the memory is set up once for the three passes, and may lend it
// memory that is already in use by the process (see computeLocalContrastMaps);
// a pass zeroes what it uses.
struct localContrastScratch_t
{
    unsigned char *data = nullptr;
    size_t size = 0;
    std::unique_ptr<unsigned char[]> own;
    // At least n bytes (the content is left as it is); a larger block of its
    // own replaces a smaller one.
    unsigned char *reserve(size_t n)
    {
        if (n > size) {
            own.reset(new unsigned char[n]);
            data = own.get();
            size = n;
        }
        return data;
    }
};

// A block of memory the caller lends to the passes for their histograms
// while they run (its content is overwritten).
struct spareMemory_t
{
    void *data = nullptr;
    size_t bytes = 0;
};

struct _localContrast_threadParams_t
{
    int width = 0, height = 0;
    int firstColumn = 0, lastColumn = 0; // pixel columns [first, last), first a multiple of the step
    const quint16 *input = nullptr;      // 11-bit values
    quint16 *output = nullptr;           // 0..65535
    int radius = 0;                      // window radius in pixels (even)
    bool panorama = false;               // wrap around horizontally
    bool fine = false;
    const int *valueWindow = nullptr;    // LC_LEVELS entries
    localContrastScratch_t *scratch = nullptr; // the task's histograms; null: the task makes its own
};

struct _powHdrLum_threadParams_t
{
    qint64 start = 0, end = 0;
    const float *input = nullptr;
    quint16 *output = nullptr;
    double exponent = 2.0 / 3.0;
};

void localContrastPrepareThread(const _localContrastPrepare_threadParams_t &p);
void powHdrLumThread(const _powHdrLum_threadParams_t &p);

// One window pass over the task's columns. Cancelled when breakFlag or
// abortBackgroundFlag stopped it (its columns are then partly computed).
taskResult_t localContrastThread(const _localContrast_threadParams_t &p);

// The same pass counting every window sample directly: slow, for checking.
taskResult_t localContrastThreadReference(const _localContrast_threadParams_t &p);

// The value-window table W of a pass.
void localContrastValueWindow(int *table, bool fine);

// Sampling step of a pass: 1 for the fine pass of an image under 2000 pixels
// on its short side, else 2.
int localContrastStep(bool fine, int width, int height);

// Radius of pass 1 (medium), 2 (fine) or 3 (coarse) for an image whose short
// side is m pixels (rounded down to even).
int localContrastRadius(int pass, int m);

// Builds the three maps from the float RGB image: the 11-bit luminance goes
// into scratch (width x height values), then the medium, fine and coarse
// passes. Done only when every pass finished; cancelled when a stop flag
// ended a pass.
// The tasks' histograms are carved from the spare blocks where they fit
// (memory already touched costs nothing more to use; new memory is slow to
// fault in on virtual machines), else allocated.
taskResult_t computeLocalContrastMaps(const float *hdr, int width, int height, double lcCorrection,
                              bool panorama, quint16 *scratch, quint16 *fineMap,
                              quint16 *mediumMap, quint16 *coarseMap, int threads,
                              const std::vector<spareMemory_t> &spare = {});

// Builds the mask luminance: min(1, luminance^(2/3)) as 16 bits, smoothed by
// a bilateral filter (sigma 10, range 0.2) along rows into scratch and along
// columns back into maskMap. Done only when both passes finished.
taskResult_t computeMaskLuminance(const float *hdr, int width, int height, quint16 *scratch,
                          quint16 *maskMap, int threads);

#endif // LOCALCONTRAST_H
