#include "hdr/deghostWorker.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "hdr/generateHDRworker.h"
#include "hdr/ghostMaths.h"
#include "project/parallelRanges.h"
#include "project/filterKernels.h"
#include "project/processingProject.h"

#include <algorithm>
#include <cmath>
#include <vector>

void ghostDetectVarianceFull(const _ghostDetectVarianceFull_threadParams_t &p)
{
    processingProject *project = p.project;
    const int count = std::min<int>(project->photos.size(), GHOST_MAX_PHOTOS);
    double exposure[GHOST_MAX_PHOTOS], evLn[GHOST_MAX_PHOTOS];
    bool included[GHOST_MAX_PHOTOS];
    const quint16 *preview[GHOST_MAX_PHOTOS];
    double evMinLn = 0.0;
    for (int i = 0; i < count; i++)
        evMinLn = i == 0 ? project->photos[i].evLn : std::min(evMinLn, project->photos[i].evLn);
    for (int i = 0; i < count; i++) {
        const photoInfo_t &ph = project->photos[i];
        exposure[i] = std::exp(ph.evLn - evMinLn + ph.evlFix);
        evLn[i] = ph.evLn;
        included[i] = ph.included && ph.preview;
        preview[i] = ph.preview;
    }
    ghostDeviationTables_t t;
    t.photoCount = count;
    t.included = included;
    t.evLn = evLn;
    t.responseR = project->responseR;
    t.responseG = project->responseG;
    t.responseB = project->responseB;
    t.ghostWeightTable = project->ghostWeightTable;
    quint8 *labels = p.out ? p.out : static_cast<quint8 *>(project->ghostLabelMask.levels[0].data);
    quint16 r[GHOST_MAX_PHOTOS] = {}, g[GHOST_MAX_PHOTOS] = {}, b[GHOST_MAX_PHOTOS] = {};
    for (qint64 k = p.first; k < p.end; k++) {
        for (int i = 0; i < count; i++) {
            if (!included[i])
                continue;
            const quint16 *px = preview[i] + k * 3;
            r[i] = px[0];
            g[i] = px[1];
            b[i] = px[2];
        }
        const double d = ghostDeviation(t, r, g, b, exposure);
        labels[k] = quint8(std::min(255.0, std::floor(d / 0.2 * 255.0)));
    }
}

deghostWorker::deghostWorker(processingProject *project, int smoothness)
    : project(project), smoothness(smoothness)
{
}

void deghostWorker::fillUnsetMask(int label)
{
    quint8 *labels = static_cast<quint8 *>(project->ghostLabelMask.levels[0].data);
    if (labels)
        fillUnsetLabels(labels, qint64(project->previewWidth) * project->previewHeight, label);
}

void deghostWorker::maskStatistics(qint64 start)
{
    quint8 *labels = static_cast<quint8 *>(project->ghostLabelMask.levels[0].data);
    if (!labels)
        return;
    const qint64 n = qint64(project->previewWidth) * project->previewHeight;
    int best = -1;
    double bestScore = 0.0;
    for (int i = 0; i < project->photos.size(); i++) {
        const photoInfo_t &p = project->photos[i];
        if (!p.included || !p.preview)
            continue;
        const double score = ghostRegionScore(labels, n, start, p.preview);
        if (best < 0 || score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    if (best >= 0)
        fillUnsetLabels(labels, n, project->photos[best].id);
}

void deghostWorker::autoAntiGhostMask(double threshold, int photoIndex)
{
    debugLog("auto anti ghost mask\n");
    quint8 *labels = static_cast<quint8 *>(project->ghostLabelMask.levels[0].data);
    const int w = project->previewWidth, h = project->previewHeight;
    const qint64 n = qint64(w) * h;
    if (!labels || n <= 0 || !project->responseR || !project->ghostWeightTable)
        return;
    deviationMap(labels);
    std::vector<quint8> scratch(static_cast<size_t>(n));
    gaussianKernelInt(labels, scratch.data(), w, h, 7);
    const double limit = threshold * 255.0;
    for (qint64 k = 0; k < n; k++)
        labels[k] = labels[k] >= limit ? 128 : 0;
    gaussianKernelInt(labels, scratch.data(), w, h, 2);
    for (qint64 k = 0; k < n; k++)
        if (labels[k])
            labels[k] = 128;

    const bool best = photoIndex < 0 || photoIndex >= project->photos.size();
    if (best) {
        labelSubjects(labels, w, h);
    } else {
        const int label = project->photos[photoIndex].id;
        for (qint64 k = 0; k < n; k++) {
            if (labels[k] != 128)
                continue;
            floodFillAt(labels, w, h, int32_t(k % w), int32_t(k / w), 255);
            fillUnsetMask(label);
        }
    }
    debugLog("auto anti ghost mask - end\n");
}

void deghostWorker::deviationMap(quint8 *out)
{
    const qint64 n = qint64(project->previewWidth) * project->previewHeight;
    const int tasks = int(std::min<qint64>(idealThreadCount(project->quiet), n));
    runTasks(tasks, [&](int i) {
        _ghostDetectVarianceFull_threadParams_t p;
        p.project = project;
        p.out = out;
        const range_t part = taskRange(n, tasks, i);
        p.first = part.first;
        p.end = part.end;
        ghostDetectVarianceFull(p);
    });
}

std::vector<quint8> deghostWorker::stillPixels(double threshold)
{
    // What the detection with this threshold would find, without the
    // labelling: blurred deviation at or above the threshold, and what is
    // labelled already.
    const int w = project->previewWidth, h = project->previewHeight;
    const qint64 n = qint64(w) * h;
    std::vector<quint8> moving(static_cast<size_t>(n)), scratch(static_cast<size_t>(n));
    deviationMap(moving.data());
    gaussianKernelInt(moving.data(), scratch.data(), w, h, 7);
    const quint8 *labels = static_cast<const quint8 *>(project->ghostLabelMask.levels[0].data);
    const double limit = threshold * 255.0;
    for (qint64 k = 0; k < n; k++)
        moving[size_t(k)] = moving[size_t(k)] >= limit || (labels && labels[k]) ? 255 : 0;
    // A margin around what moved: its blurred edge is a mixture.
    gaussianKernelInt(moving.data(), scratch.data(), w, h, 3);
    for (qint64 k = 0; k < n; k++)
        moving[size_t(k)] = moving[size_t(k)] ? 0 : 255;
    return moving;
}

void deghostWorker::labelSubjects(quint8 *labels, int w, int h)
{
    const std::vector<ghostRegion_t> regions = ghostRegions(labels, w, h);
    const std::vector<int> group = ghostSubjects(regions);
    int subjects = 0;
    for (size_t r = 0; r < regions.size(); r++)
        subjects += group[r] == int(r);
    debugLog("%s: %d ghost regions, %d subjects\n", "deghostWorker::labelSubjects", int(regions.size()), subjects);
    std::vector<bool> done(regions.size(), false);
    for (size_t r = 0; r < regions.size(); r++) {
        if (done[r])
            continue;
        // Every region of this subject is marked for the choice; the first
        // marked pixel (regions are in scan order) starts the count.
        for (size_t q = r; q < regions.size(); q++)
            if (group[q] == group[r]) {
                const ghostRegion_t &g = regions[q];
                floodFillAt(labels, w, h, int32_t(g.seed % w), int32_t(g.seed / w), 255);
                done[q] = true;
            }
        maskStatistics(regions[r].seed);
    }
}

bool deghostWorker::matchTonesToMerge(const generateHDRoptions_t &merge, double threshold)
{
    const qint64 n = qint64(project->previewWidth) * project->previewHeight;
    if (n <= 0 || !project->responseR || !project->responseG || !project->responseB || !project->ghostWeightTable)
        return false;
    generateHDRoptions_t o = merge;
    o.project = project;
    o.preview = true;
    o.ghostRemoval = false;
    o.exposureReference = 0.0;
    generateHDRworker previewMerge(o);
    const float *hdrPreview = static_cast<const float *>(project->hdrImage.levels[0].data);
    if (!previewMerge.generateHDR_core() || !hdrPreview)
        return false;
    // Exposure factors as the merge divides by them; the scale puts the top
    // response value of the darkest photo at the last bin.
    double smallest = 0.0;
    bool first = true;
    for (const photoInfo_t &p : project->photos) {
        if (!p.included)
            continue;
        const double f = std::exp(p.evLn + p.evlFix);
        smallest = first ? f : std::min(smallest, f);
        first = false;
    }
    const double top = project->responseR[65535];
    if (first || !(top > 0.0))
        return false;
    const double invScale = smallest / top;
    const std::vector<quint8> still = stillPixels(threshold);
    const qint64 stillCount = std::count(still.begin(), still.end(), quint8(255));
    // When almost everything moved (or the photos are not aligned) the still
    // pixels are too few to follow the tones: whole histograms then.
    const bool byPixel = stillCount >= n / GHOST_TONE_MIN_STILL_SHARE;
    debugLog("%s: %lld of %lld preview pixels still, tones matched %s\n", "deghostWorker::matchTonesToMerge",
             (long long)stillCount, (long long)n, byPixel ? "pixel by pixel" : "by histograms");
    std::vector<double> hdrTables;
    double *hdrCumulative[4] = {};
    if (!byPixel) {
        hdrTables.resize(size_t(4) * GHOST_TONE_BINS);
        for (int t = 0; t < 4; t++)
            hdrCumulative[t] = hdrTables.data() + size_t(t) * GHOST_TONE_BINS;
        ghostHdrCumulative(hdrPreview, n, invScale, hdrCumulative);
    }
    const double *response[3] = {project->responseR, project->responseG, project->responseB};
    bool ok = true;
    for (photoInfo_t &p : project->photos) {
        if (!p.included)
            continue;
        if (!p.preview || !std::all_of(p.workTables, p.workTables + PHOTO_WORK_TABLES, [](const double *t) { return t; })) {
            ok = false;
            continue;
        }
        const double exposure = std::exp(p.evLn + p.evlFix);
        if (byPixel) {
            ghostStillToneGains(p.preview, hdrPreview, still.data(), n, response, exposure, invScale, p.workTables,
                                p.workTables + 4);
        } else {
            ghostPhotoCumulative(p.preview, n, response, exposure, invScale, p.workTables);
            for (int t = 0; t < 4; t++)
                ghostToneGains(p.workTables[t], hdrCumulative[t], p.workTables[4 + t]);
        }
    }
    return ok;
}

bool deghostWorker::makeAntiGhostMasks(bool full)
{
    const int pw = project->previewWidth, ph = project->previewHeight;
    const qint64 pn = qint64(pw) * ph;
    const quint8 *labels = static_cast<const quint8 *>(project->ghostLabelMask.levels[0].data);
    if (!labels || pn <= 0)
        return false;
    const int longSide = std::max(pw, ph);
    if (full)
        debugLog("Making full deghost maps...\n");
    quint8 ramp[256];
    ghostMaskRamp(ramp);
    for (photoInfo_t &p : project->photos) {
        if (!p.included || !p.mask)
            continue;
        const quint8 label = quint8(ghostLabelOf(p.id));
        for (qint64 k = 0; k < pn; k++)
            p.mask[k] = labels[k] == label ? 255 : 0;
    }
    int expand = 0, smooth = 0;
    ghostMaskRadii(smoothness, longSide, &expand, &smooth);
    std::vector<quint8> scratch(static_cast<size_t>(pn));
    for (photoInfo_t &p : project->photos) {
        if (!p.included || !p.mask)
            continue;
        gaussianKernelInt(p.mask, scratch.data(), pw, ph, int(std::floor(expand * 1.3)));
        for (qint64 k = 0; k < pn; k++)
            if (p.mask[k])
                p.mask[k] = 255;
        progressCounter.fetch_add(quint64(project->height / 2));
        gaussianKernelInt(p.mask, scratch.data(), pw, ph, smooth);
        progressCounter.fetch_add(quint64(project->height / 2));
        for (qint64 k = 0; k < pn; k++)
            p.mask[k] = ramp[p.mask[k]];
    }
    if (!full)
        return true;

    const int w = project->width, h = project->height, d = std::max(1, project->previewDivisor);
    pyramid fullMask;
    if (!fullMask.makePyramid(w, h, 1, 1, 1, true))
        return false;
    std::vector<quint8> fullScratch(static_cast<size_t>(qint64(w) * h));
    quint8 *out = static_cast<quint8 *>(fullMask.levels[0].data);
    bool ok = true;
    for (photoInfo_t &p : project->photos) {
        if (!p.included || !p.mask)
            continue;
        if (hdrBreakFlag.load())
            return false;
        // A photo without any masked pixel gets an empty mask: no need to
        // enlarge and blur zeros.
        const bool empty = std::all_of(p.mask, p.mask + pn, [](quint8 v) { return v == 0; });
        if (empty) {
            std::fill(out, out + qint64(w) * h, 0);
            progressCounter.fetch_add(quint64(h));
            if (!project->writeToTempFile(p, 3, fullMask, qint64(w) * h))
                ok = false;
            progressCounter.fetch_add(quint64(h));
            continue;
        }
        for (int y = 0; y < h; y++) {
            const int py = y / d;
            quint8 *row = out + qint64(y) * w;
            if (py >= ph) {
                std::fill(row, row + w, 0);
                continue;
            }
            const quint8 *src = p.mask + qint64(py) * pw;
            for (int x = 0; x < w; x++) {
                const int px = x / d;
                row[x] = px < pw ? src[px] : 0;
            }
            progressCounter.fetch_add(1);
        }
        gaussianKernelInt(out, fullScratch.data(), w, h, d * 3);
        if (!project->writeToTempFile(p, 3, fullMask, qint64(w) * h))
            ok = false;   // logged by writeToTempFile; the merge then refuses to run
        progressCounter.fetch_add(quint64(h));
    }
    return ok;
}
