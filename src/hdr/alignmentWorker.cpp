#include "hdr/alignmentWorker.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "hdr/projectGeometry.h"

#include <algorithm>

alignmentWorker::alignmentWorker(const geometryPass_t &pass, const std::vector<double> &ev,
                                 int baseIndex, QObject *parent)
    : QObject(parent), pass(pass), ev(ev)
{
    params.baseIndex = baseIndex;
    cropRect.right = pass.width - 1;
    cropRect.bottom = pass.height - 1;
}

alignmentWorker::alignmentWorker(processingProject *project, QObject *parent)
    : alignmentWorker(geometryPassOf(project), projectExposureValues(project),
                      projectBasePhoto(project), parent)
{
    afterResize = [project](int w, int h) { projectAfterGeometry(project, w, h); };
}

alignmentWorker::~alignmentWorker() = default;

void alignmentWorker::setParams(const alignmentParams_t &p)
{
    params = p;
}

bool alignmentWorker::autoAlignEx()
{
    errorText.clear();
    const int count = std::min(pass.photoCount, ALIGN_MAX_PHOTOS);
    autoAlignSource_t src;
    src.width = pass.width;
    src.height = pass.height;
    src.photoCount = count;
    src.ev = ev;
    src.ev.resize(size_t(count), 0.0);
    src.threadCount = pass.threadCount;
    src.workBuffer = pass.workIn;
    const geometryPass_t photos = pass;
    const int64_t bytes = int64_t(pass.width) * pass.height * 3 * int64_t(sizeof(uint16_t));
    src.readPhoto = [photos, bytes](int k, uint16_t *rgb) {
        return readPhotoImage(photos.photo(k), rgb, bytes);
    };
    src.histogramMatch = histogramMatch ? histogramMatch : pass.histogramMatch;
    src.progress = [this](int rows) { emit incProgress(rows); };

    autoAlignResult_t out;
    const bool ok = autoAlignPhotos(src, params.baseIndex, params.toAlign, out);
    if (!ok) {
        errorText = out.error;
        return false;
    }
    for (int k = 0; k < count && k < int(out.transforms.size()); ++k) {
        const bool selected = k != params.baseIndex && (params.toAlign == -1 || params.toAlign == k);
        if (!selected)
            continue;
        transforms[k] = out.transforms[size_t(k)];
        for (int i = 0; i < 4; ++i) {
            basePins[k][i] = out.basePins[size_t(k)][size_t(i)];
            photoPins[k][i] = out.photoPins[size_t(k)][size_t(i)];
        }
    }
    return true;
}

void alignmentWorker::transformFromPins(int photo, const alignPin_t *base, const alignPin_t *own)
{
    if (photo < 0 || photo >= ALIGN_MAX_PHOTOS)
        return;
    if (!base || !own)
        transforms[photo].setIdentity();
    else
        fitTransform(params.method, own, base, transforms[photo]);
    debugLog("AI %d\n", photo);
    for (int i = 0; i < 8; ++i)
        debugLog("ai[%d]=%lf\n", i, transforms[photo].a[i]);
    debugLog("\n");
}

bool alignmentWorker::applyAlignment()
{
    errorText.clear();
    applied = false;
    const int W = pass.width, H = pass.height;
    const int count = std::min(pass.photoCount, ALIGN_MAX_PHOTOS);
    if (params.cropAutomatically) {
        cropRect = computeAlignedCrop(W, H, params.baseIndex, params.method, transforms, count);
    } else {
        cropRect = alignCrop_t();
        cropRect.right = W - 1;
        cropRect.bottom = H - 1;
    }
    geometryPass_t p = pass;
    p.photoCount = count;
    p.progress = [this](int rows) {
        progressCounter += uint64_t(rows);
        emit incProgress(rows);
    };
    int failed = 0;
    if (!alignPhotoImages(p, transforms, params.method, cropRect, &failed)) {
        errorText = tr("The aligned photos could not be stored; the photos are unchanged.");
        return false;
    }
    const int sx = cropRect.right - cropRect.left + 1, sy = cropRect.bottom - cropRect.top + 1;
    pass.width = sx;
    pass.height = sy;
    if (afterResize)
        afterResize(sx, sy);
    applied = true;
    return true;
}

void alignmentWorker::doAutoAlign()
{
    result = autoAlignEx();
    emit finished();
}

void alignmentWorker::doApplyAlignment()
{
    applyAlignment();
    emit finished();
}
