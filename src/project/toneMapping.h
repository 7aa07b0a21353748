#ifndef TONEMAPPING_H
#define TONEMAPPING_H

// The tone-mapping kernel and the layer merge, as free functions over plain
// buffers, plus the drivers that split the work into tasks.
//
// Conventions: the HDR input is interleaved float RGB (linear, nominally 0..1;
// NaN and infinite samples are replaced by 0 in place); the local-contrast maps
// and the mask luminance are 16-bit single-channel maps of the processed area;
// outputs are 16-bit RGB (full size) or 8-bit RGB (previews); masks are 8-bit
// (0 = layer absent, 255 = fully applied). Pixel indices and ranges are 64-bit
// and half-open [start, end). Full-size tasks stop when abortBackgroundFlag is
// set (unless ignoreAbort) and report it: a stopped task returns false.

#include "project/processingParams.h"
#include "project/taskResult.h"

#include <QtGlobal>
#include <cstdint>

constexpr int TM_HISTOGRAM_SIZE = 4096;
constexpr int TM_MAX_TASKS = 64;

struct toneMapping_threadParams_t
{
    qint64 start = 0, end = 0;          // pixel index range of this task
    qint64 total = 0;                   // pixels of the processed area
    int fullWidth = 0, fullHeight = 0;  // size of the full image (level 0)
    int width = 0, height = 0;          // size of the processed area
    int offsetX = 0, offsetY = 0;       // position of the area in full-image pixels
    double scale = 1.0;                 // area pixels per full-image pixel
    double hdrMedian = 0.5, lcCorrection = 1.0;
    float *hdr = nullptr;               // input RGB; bad samples are zeroed in place
    const quint16 *localFine = nullptr, *localMedium = nullptr, *localCoarse = nullptr;
    const quint16 *maskLuminance = nullptr;
    quint16 *output16 = nullptr;        // full-size RGB output, or null
    quint8 *output8 = nullptr;          // preview RGB output, or null
    const qint16 *detail = nullptr;     // detail image for sharpening, or null
    const quint8 *layerMask = nullptr;  // this layer's mask, or null
    const processingParams_t *params = nullptr;
    quint32 *histLuminance = nullptr, *histRed = nullptr, *histGreen = nullptr,
            *histBlue = nullptr;        // 4096 counters each; null in render passes
    double detailFactor = 1.0;
    bool ignoreAbort = false;
    int step = 1;                       // subsampling step (1 = every pixel)
};

struct mergeLayers_threadParams_t
{
    qint64 total = 0;
    qint64 start = 0, end = 0;
    int layerIndex = 0;                 // the layer being accumulated
    const quint16 *source = nullptr;    // the freshly tone-mapped layer
    const quint16 *accumulated = nullptr; // set only for the final pass over the base layer
    quint16 *destination = nullptr;
    const quint8 *masks[LAYER_COUNT] = {}; // null for absent or disabled layers
    double opacities[LAYER_COUNT] = {};
    bool ignoreAbort = false;
};

// Indices of the project's four 16-bit maps.
constexpr int LC_PYRAMID_MASK = 0;
constexpr int LC_PYRAMID_FINE = 1;
constexpr int LC_PYRAMID_MEDIUM = 2;
constexpr int LC_PYRAMID_COARSE = 3;

// The image view's visible window with its buffers, written by the view and
// read by the preview tone mapping.
struct previewWindow_t
{
    int width = 0, height = 0;       // device pixels
    int offsetX = 0, offsetY = 0;    // position in level-0 pixels
    double zoom = 1.0;               // window pixels per level-0 pixel
    bool ready = false;
    float *hdr = nullptr;            // float RGB
    quint16 *localFine = nullptr, *localMedium = nullptr, *localCoarse = nullptr;
    quint16 *maskLuminance = nullptr;
    qint16 *detail = nullptr;        // the sharpening detail at the window's scale
    double detailFactor = 1.0;
    quint8 *layerOutput[LAYER_COUNT] = {}; // 8-bit RGB per layer (0 = base)
    quint8 *layerMask[LAYER_COUNT] = {};   // 8-bit view masks of layers 1..9
    quint8 *maskBackup = nullptr;
};

// One task of tone mapping. Cancelled when abortBackgroundFlag stopped it
// early, failed when its record lacks the image or the settings.
taskResult_t toneMappingThread(const toneMapping_threadParams_t &p);

// One task of the layer merge. Cancelled when abortBackgroundFlag stopped it
// early.
taskResult_t mergeLayersThread(const mergeLayers_threadParams_t &p);

// Everything a full-size tone mapping reads, captured by the caller.
struct toneMappingFullJob_t
{
    int width = 0, height = 0;
    float *hdr = nullptr;
    const quint16 *localFine = nullptr, *localMedium = nullptr, *localCoarse = nullptr;
    const quint16 *maskLuminance = nullptr;
    const qint16 *detail = nullptr;     // may be null (no sharpening)
    // The detail image is the last third of output (the w x h values after
    // the first 2 w h samples). Only for a job that renders one layer: its
    // pixels are then rendered in rounds such that no output write reaches a
    // detail value still to be read.
    bool detailInOutput = false;
    double detailFactor = 1.0;
    double hdrMedian = 0.5, lcCorrection = 1.0;
    bool layersOn = false;
    const processingParams_t *layers[LAYER_COUNT] = {}; // null = layer absent or disabled
    const quint8 *masks[LAYER_COUNT] = {};             // level-0 masks of those layers
    quint16 *output = nullptr;          // width x height x 3
    int threads = 1;
};

// Renders every used layer at full size and merges them through their masks
// into job.output. Done only for a complete image; failed when a layer record
// is not precalculated or memory runs out; cancelled when abortBackgroundFlag
// stopped a pass (the output is then partly rendered).
taskResult_t toneMapFull(const toneMappingFullJob_t &job);

// Everything a preview render pass reads: one layer over the visible window.
struct toneMappingPreviewJob_t
{
    int fullWidth = 0, fullHeight = 0;
    int width = 0, height = 0;          // the window
    int offsetX = 0, offsetY = 0;
    double scale = 1.0;
    float *hdr = nullptr;               // window pixels
    const quint16 *localFine = nullptr, *localMedium = nullptr, *localCoarse = nullptr;
    const quint16 *maskLuminance = nullptr;
    const qint16 *detail = nullptr;
    double detailFactor = 1.0;
    double hdrMedian = 0.5, lcCorrection = 1.0;
    const processingParams_t *params = nullptr;
    const quint8 *layerMask = nullptr;
    quint8 *output = nullptr;           // width x height x 3
    int step = 1;
    int threads = 1;
};

// Renders one layer into an 8-bit window; stripes start on multiples of step
// rows. Preview tasks ignore abortBackgroundFlag and always finish (failed
// only for a job without image, settings or output).
taskResult_t toneMapPreview(const toneMappingPreviewJob_t &job);

// The statistics pass: renders (optionally into output8, with clipping off)
// and sums the luminance, red, green and blue histograms (4096 counters each)
// into histograms[0..3], which are zeroed first.
void toneMapStatistics(const toneMappingPreviewJob_t &job, quint32 *const histograms[4]);

// Cumulative percentages from the histograms (Part of the statistics): red,
// green and blue into cumulative[1..3], their mean into cumulative[0].
void cumulativeFromHistograms(const quint32 *const histograms[4], double *const cumulative[4],
                              qint64 pixelCount);

// Automatic clipping on the mean cumulative table: sets blackPointValue and
// whitePointValue when autoClipping is on (returns true when a requested
// percentage was below 1e-4, i.e. auto clipping should be switched off), then
// always clippedBelow and clippedAbove.
bool applyAutoClipping(processingParams_t *params);

#endif // TONEMAPPING_H
