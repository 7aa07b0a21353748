// processingProject: tone mapping of previews and of the full image, the
// local-contrast and mask maps, the per-layer tables and small layer queries.

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/rawFileIO.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "platform/systemMemory.h"
#include "project/filterKernels.h"
#include "project/localContrast.h"
#include "project/processingProject.h"
#include "project/toneMappingTables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

int processingProject::taskCount() const
{
    return idealThreadCount(batchRunning);
}

namespace {

// Maps an 8-bit RGB buffer through the black and white values.
void applyClipValues(quint8 *buffer, qint64 bytes, double black, double white)
{
    const double range = std::fabs(white - black) > 1e-9 ? white - black : 1e-9;
    quint8 table[256];
    for (int v = 0; v < 256; ++v) {
        double t = (v - black * 255.0) / range;
        if (!(t > 0.0))
            t = 0.0;
        table[v] = quint8(std::min(t, 255.0));
    }
    for (qint64 i = 0; i < bytes; ++i)
        buffer[i] = table[buffer[i]];
}

const void *levelData(const pyramid &p, int level)
{
    if (level < 0 || level >= p.levelCount)
        return nullptr;
    return p.levels[level].data;
}

} // namespace

void processingProject::doToneMapping(processingParams_t *settings, uint8_t *externalBuffer,
                                      bool skipStatistics, bool fullQuality)
{
    if (!settings)
        return;
    const int layer = settings->layerIndex;
    if (layer < 0 || layer >= LAYER_COUNT || !layerExists[layer]) {
        debugLog("%s: Trying to tonemap non-existing layer: %d\n", "processingProject::doToneMapping",
                 layer);
        return;
    }
    if (!settings->precalculated) {
        debugLog("%s: Trying to tonemap using invalid tone mapping settings (not precalculated)\n",
                 "processingProject::doToneMapping");
        return;
    }
    QMutexLocker locker(&toneMappingMutex);
    imageBusyFlag = true;
    const int n = taskCount();

    // With an external buffer only the statistics pass writes (into that
    // buffer); the view's layer outputs belong to the view and its thread.
    bool render = !externalBuffer;
    if (!skipStatistics && hdrImage.levelCount > 0) {
        // Statistics over the smallest level.
        const int level = hdrImage.levelCount - 1;
        const pyramidLevel_t &lv = hdrImage.levels[level];
        toneMappingPreviewJob_t job;
        job.fullWidth = width;
        job.fullHeight = height;
        job.width = lv.width;
        job.height = lv.height;
        job.scale = width > 0 ? double(lv.width) / width : 1.0;
        job.hdr = static_cast<float *>(lv.data);
        job.localFine = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_FINE], level));
        job.localMedium = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_MEDIUM], level));
        job.localCoarse = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_COARSE], level));
        job.maskLuminance = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_MASK], level));
        job.hdrMedian = hdrState.hdrMedian;
        job.lcCorrection = hdrState.lcCorrection;
        job.params = settings;
        job.output = externalBuffer ? externalBuffer : (smallPreview ? displayBuffer : nullptr);
        job.threads = n;
        const bool haveHistograms = settings->histograms[0] && settings->histograms[1]
                                    && settings->histograms[2] && settings->histograms[3]
                                    && settings->cumulative[0] && settings->cumulative[1]
                                    && settings->cumulative[2] && settings->cumulative[3];
        if (job.hdr && haveHistograms) {
            toneMapStatistics(job, settings->histograms);
            cumulativeFromHistograms(settings->histograms, settings->cumulative,
                                     qint64(lv.width) * lv.height);
            if (applyAutoClipping(settings) && !externalBuffer) {
                debugLog("disableAutoClipping\n");
                emit disableAutoClipping();
            }
            const qint64 bytes = qint64(lv.width) * lv.height * 3;
            if (externalBuffer) {
                applyClipValues(externalBuffer, bytes, settings->blackPointValue,
                                settings->whitePointValue);
                render = false;
            } else if (smallPreview && displayBuffer) {
                applyClipValues(displayBuffer, bytes, settings->blackPointValue,
                                settings->whitePointValue);
                doTransform(TRANSFORM_TO_MONITOR_8, displayBuffer, displayBuffer,
                            uint32_t(qint64(lv.width) * lv.height));
            }
        }
    }

    if (render && view.hdr && view.width > 0 && view.height > 0 && view.layerOutput[layer]) {
        previewOutputReady = false;
        toneMappingPreviewJob_t job;
        job.fullWidth = width;
        job.fullHeight = height;
        job.width = view.width;
        job.height = view.height;
        job.offsetX = view.offsetX;
        job.offsetY = view.offsetY;
        job.scale = view.zoom;
        job.hdr = view.hdr;
        job.localFine = view.localFine;
        job.localMedium = view.localMedium;
        job.localCoarse = view.localCoarse;
        job.maskLuminance = view.maskLuminance;
        job.detail = view.detail;
        job.detailFactor = view.detailFactor;
        job.hdrMedian = hdrState.hdrMedian;
        job.lcCorrection = hdrState.lcCorrection;
        job.params = settings;
        job.layerMask = layer > 0 ? view.layerMask[layer] : nullptr;
        job.output = view.layerOutput[layer];
        const bool live = optionsInstance && optionsInstance->performance.liveToneMapping;
        const int resample = optionsInstance ? optionsInstance->performance.resample : 1;
        job.step = (fullQuality || !live) ? 1 : std::max(1, resample);
        job.threads = n;
        toneMapPreview(job);
        previewOutputReady = true;
        smallPreview = false;
    }
    imageBusyFlag = false;
    locker.unlock();
    progressCounter = 0;
}

bool processingProject::doToneMappingFull()
{
    const qint64 total = qint64(width) * height;
    if (total <= 0 || hdrImage.levelCount < 1 || outputImage.levelCount < 1
        || !hdrImage.levels[0].data || !outputImage.levels[0].data) {
        debugLog("%s: no image\n", "processingProject::doToneMappingFull");
        return false;
    }
    const int n = taskCount();
    int rendered = 0;
    for (int k = 0; k < LAYER_COUNT; ++k)
        rendered += layerExists[k] && layerEnabled[k] && (k == 0 || layersOn) ? 1 : 0;
    // The output image, written only by the tone mapping below, keeps the
    // detail image's luminance meanwhile so that it is computed once. With a
    // single layer it holds the detail image too (its last third, which the
    // tone mapping overwrites only where the detail has been read): no new
    // memory.
    quint16 *output = static_cast<quint16 *>(outputImage.levels[0].data);
    const bool detailInOutput = rendered == 1 && outputImage.levelBytes(0) >= size_t(total) * 6;
    std::unique_ptr<qint16[]> ownDetail;
    qint16 *detail = reinterpret_cast<qint16 *>(output + 2 * total);
    if (!detailInOutput) {
        ownDetail.reset(new (std::nothrow) qint16[size_t(total)]);
        if (!ownDetail) {
            debugLog("%s: failed to allocate memory\n", "processingProject::doToneMappingFull");
            return false;
        }
        adviseHugePages(ownDetail.get(), size_t(total) * sizeof(qint16));
        detail = ownDetail.get();
    }
    double detailFactor = 1.0;
    unsharpMask(static_cast<const float *>(hdrImage.levels[0].data), detail,
                detailInOutput ? output + total : output, width, height, panoramaMode,
                detailFactor, 1.0, width, height, n);

    toneMappingFullJob_t job;
    job.width = width;
    job.height = height;
    job.hdr = static_cast<float *>(hdrImage.levels[0].data);
    job.localFine = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_FINE], 0));
    job.localMedium = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_MEDIUM], 0));
    job.localCoarse = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_COARSE], 0));
    job.maskLuminance = static_cast<const quint16 *>(levelData(lcPyramids[LC_PYRAMID_MASK], 0));
    job.detail = detail;
    job.detailInOutput = detailInOutput;
    job.detailFactor = detailFactor;
    job.hdrMedian = hdrState.hdrMedian;
    job.lcCorrection = hdrState.lcCorrection;
    job.layersOn = layersOn;
    for (int k = 0; k < LAYER_COUNT; ++k) {
        if (!layerExists[k] || !layerEnabled[k])
            continue;
        job.layers[k] = &layerSettings[k];
        job.masks[k] = static_cast<const quint8 *>(levelData(layerMasks[k], 0));
    }
    job.output = static_cast<quint16 *>(outputImage.levels[0].data);
    job.threads = n;
    QMutexLocker locker(&toneMappingMutex);
    const bool complete = toneMapFull(job) == taskResult_t::done;
    if (!complete)
        debugLog("%s: the image is incomplete\n", "processingProject::doToneMappingFull");
    return complete;
}

bool processingProject::localContrast()
{
    if (width <= 0 || height <= 0 || !levelData(hdrImage, 0) || !levelData(outputImage, 0))
        return false;
    for (int k = LC_PYRAMID_FINE; k <= LC_PYRAMID_COARSE; ++k) {
        if (!levelData(lcPyramids[k], 0))
            return false;
    }
    // The first plane of level 0 of outputImage serves as scratch for the
    // 11-bit luminance. The passes' histograms go into memory that is written
    // later anyway: the third plane (the second is the mask's scratch) and
    // the lower levels of the three maps, rebuilt after the passes.
    const qint64 total = qint64(width) * height;
    std::vector<spareMemory_t> spare;
    if (outputImage.levelBytes(0) >= size_t(total) * 6)
        spare.push_back({static_cast<quint16 *>(outputImage.levels[0].data) + 2 * total,
                         size_t(total) * 2});
    for (int k = LC_PYRAMID_FINE; k <= LC_PYRAMID_COARSE; ++k) {
        for (int level = 1; level < lcPyramids[k].levelCount; ++level) {
            if (lcPyramids[k].levels[level].data)
                spare.push_back({lcPyramids[k].levels[level].data, lcPyramids[k].levelBytes(level)});
        }
    }
    const bool done = computeLocalContrastMaps(
        static_cast<const float *>(hdrImage.levels[0].data), width, height, hdrState.lcCorrection,
        panoramaMode, static_cast<quint16 *>(outputImage.levels[0].data),
        static_cast<quint16 *>(lcPyramids[LC_PYRAMID_FINE].levels[0].data),
        static_cast<quint16 *>(lcPyramids[LC_PYRAMID_MEDIUM].levels[0].data),
        static_cast<quint16 *>(lcPyramids[LC_PYRAMID_COARSE].levels[0].data), taskCount(), spare)
        == taskResult_t::done;
    for (int k = LC_PYRAMID_FINE; k <= LC_PYRAMID_COARSE; ++k)
        lcPyramids[k].buildLevelsFrom(0, taskCount());
    return done;
}

bool processingProject::computeMask()
{
    const qint64 total = qint64(width) * height;
    if (width <= 0 || height <= 0 || !levelData(hdrImage, 0) || !levelData(outputImage, 0)
        || !levelData(lcPyramids[LC_PYRAMID_MASK], 0) || outputImage.levelBytes(0) < size_t(total) * 4)
        return false;
    // The scratch is the second single-channel plane of level 0 of
    // outputImage: the local-contrast pass uses the first, so the two can run
    // at the same time.
    const bool done = computeMaskLuminance(
        static_cast<const float *>(hdrImage.levels[0].data), width, height,
        static_cast<quint16 *>(outputImage.levels[0].data) + total,
        static_cast<quint16 *>(lcPyramids[LC_PYRAMID_MASK].levels[0].data), taskCount())
        == taskResult_t::done;
    lcPyramids[LC_PYRAMID_MASK].buildLevelsFrom(0, taskCount());
    return done;
}

void processingProject::generateTMtable(processingParams_t *settings)
{
    buildMaskToneTable(settings, taskCount());
}

void processingProject::toneCurveTable(processingParams_t *settings)
{
    buildMaskWeightTable(settings);
}

void processingProject::vignetteProfile(processingParams_t *settings)
{
    buildVignetteProfile(settings);
}

QColor processingProject::transformColor(const QColor &color) const
{
    const uint8_t in[3] = {uint8_t(color.red()), uint8_t(color.green()), uint8_t(color.blue())};
    uint8_t out[3] = {in[0], in[1], in[2]};
    // Without a display transform the display shows the colour as it is.
    if (!doTransform(TRANSFORM_TO_MONITOR_8, in, out, 1))
        return color;
    return QColor(out[0], out[1], out[2]);
}

void processingProject::prepareHistogramMatch(const photoInfo_t &a, const photoInfo_t &b,
                                              double *tablesA[4], double *tablesB[4],
                                              bool *aIsDarker)
{
    constexpr int BINS = 4096;
    const qint64 pixels = qint64(previewWidth) * previewHeight;
    std::unique_ptr<double[]> cdf(new (std::nothrow) double[size_t(2) * 4 * BINS]());
    if (!cdf) {
        debugLog("%s: failed to allocate memory\n", "processingProject::prepareHistogramMatch");
        return;
    }
    if (pixels <= 0 || !a.preview || !b.preview)
        return;
    const photoInfo_t *photo[2] = {&a, &b};
    for (int k = 0; k < 2; ++k) {
        double *h = cdf.get() + size_t(k) * 4 * BINS;
        const uint16_t *px = photo[k]->preview;
        for (qint64 i = 0; i < pixels; ++i) {
            const int r = px[i * 3] / 16, g = px[i * 3 + 1] / 16, bl = px[i * 3 + 2] / 16;
            h[r] += 1;
            h[BINS + g] += 1;
            h[2 * BINS + bl] += 1;
            h[3 * BINS + (r + g + bl) / 3] += 1;
        }
        for (int t = 0; t < 4; ++t) {
            double *table = h + size_t(t) * BINS;
            double running = 0.0;
            for (int j = 0; j < BINS; ++j) {
                running += table[j];
                table[j] = running / double(pixels);
            }
            gaussianSmoothHistogram4096(table);
        }
    }
    const bool flag = std::exp(a.evLn) <= std::exp(b.evLn);
    const int darker = flag ? 0 : 1;
    double **darkTables = flag ? tablesA : tablesB;
    double **brightTables = flag ? tablesB : tablesA;
    for (int t = 0; t < 4; ++t) {
        const double *cd = cdf.get() + size_t(darker) * 4 * BINS + size_t(t) * BINS;
        const double *cb = cdf.get() + size_t(1 - darker) * 4 * BINS + size_t(t) * BINS;
        for (int i = 0; i < BINS; ++i) {
            int found = BINS - 1;
            for (int k = 0; k < BINS; ++k) {
                if (cd[i] <= cb[k]) {
                    found = k;
                    break;
                }
            }
            if (darkTables && darkTables[t])
                darkTables[t][i] = double(found + 1) / double(i + 1);
            if (brightTables && brightTables[t])
                brightTables[t][i] = 1.0;
        }
    }
    if (aIsDarker)
        *aIsDarker = flag;
}

int processingProject::enabledLayerCount() const
{
    if (!layersOn)
        return 1;
    int count = 1;
    for (int k = 1; k < LAYER_COUNT; ++k)
        count += layerExists[k] ? 1 : 0;
    return count;
}

bool processingProject::isProjectInput() const
{
    if (photos.isEmpty())
        return false;
    return QFileInfo(photos.first().filePath).fileName().contains("-lmpx");
}

void processingProject::removeLayerUndoFiles()
{
    for (int k = 1; k < LAYER_COUNT; ++k) {
        if (layerExists[k])
            layerMasks[k].clear();
        for (int step = 1;; ++step) {
            const QString path =
                QDir(sessionPath).filePath(QString("layerUndo_%1_%2").arg(k).arg(step));
            const bool exists = QFile::exists(path);
            if (step > layerUndoCount[k] && !exists)
                break;
            if (exists)
                QFile::remove(path);
        }
        layerUndoCount[k] = 0;
    }
}

// Fills one channel of the output curves of a layer record.
void buildLookupTableParallel(processingProject *project, processingParams_t *settings, int channel)
{
    buildLookupTable(settings, channel, project ? project->taskCount() : idealThreadCount(false));
}
