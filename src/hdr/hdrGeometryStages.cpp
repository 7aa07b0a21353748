#include "hdr/hdrGeometryStages.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "hdr/lensCorrectionWorker.h"
#include "hdr/lensLookup.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString stageText(const char *text)
{
    return QCoreApplication::translate("generateHDRworker", text);
}

} // namespace

geometryStageResult_t lensCorrectionStage(const lensfunDb &db, const QString &exifCamera,
                                          const QString &exifLens, double focalLength,
                                          const geometryPass_t &pass,
                                          const std::function<void(int, int)> &afterResize)
{
    geometryStageResult_t r;
    r.newWidth = pass.width;
    r.newHeight = pass.height;
    debugLog("Lens correction prior to HDR generation...\n");
    int camera = -1, fullFrame = -1, lens = -1;
    findCameraByExif(db, exifCamera, camera, fullFrame);
    lensCalibData calib;
    bool found = false;
    if (camera >= 0) {
        QList<int> generic;
        findLensesForCamera(db, db.cameraAt(camera), exifLens, focalLength, lens, generic);
        double minFocal = 0, maxFocal = 0;
        found = lens >= 0 && db.getCalibData(calib, minFocal, maxFocal, db.cameraAt(camera),
                                             db.lensAt(lens), focalLength);
    }
    if (!found) {
        r.statusText = stageText("Camera and lens models cannot be determined.");
        return r;
    }
    const lensCropRect_t crop = computeLensCropRect(
        pass.width, pass.height, lensCropStep(pass.width, pass.height), calib, 0.5, 0.5,
        pass.threadCount);
    lensCorrectionWorker worker(pass, calib, true, crop, 0.5, 0.5);
    worker.afterResize = afterResize;
    if (!worker.correct()) {
        r.statusText = stageText("Lens correction failed: the photos could not be stored.");
        return r;
    }
    r.ok = true;
    r.newWidth = crop.right - crop.left + 1;
    r.newHeight = crop.bottom - crop.top + 1;
    r.statusText = stageText("Detected camera and lens") + QStringLiteral(": ") +
                   db.cameraAt(camera).model + QStringLiteral(", ") + db.lensAt(lens).model;
    return r;
}

geometryStageResult_t autoAlignStage(const geometryPass_t &pass, const std::vector<double> &ev,
                                     int baseIndex,
                                     const std::function<void(int, int)> &afterResize,
                                     bool *applied)
{
    geometryStageResult_t r;
    r.newWidth = pass.width;
    r.newHeight = pass.height;
    if (applied)
        *applied = false;
    debugLog("Auto alignment prior to HDR generation (midId=%d)...\n", baseIndex);
    alignmentWorker worker(pass, ev, baseIndex);
    alignmentParams_t params;
    params.baseIndex = baseIndex;
    params.toAlign = -1;
    params.method = ALIGN_METHOD_PERSPECTIVE;
    params.cropAutomatically = true;
    worker.setParams(params);
    worker.afterResize = afterResize;
    if (!worker.autoAlignEx()) {
        r.statusText = worker.errorText;
        return r;
    }
    const int count = std::min(pass.photoCount, ALIGN_MAX_PHOTOS);
    for (int k = 0; k < count; ++k) {
        alignTransform_t t = worker.transforms[k];
        if (k == baseIndex)
            t.setIdentity();
        r.transforms.push_back(t);
    }
    if (hdrBreakFlag) {
        r.ok = true;
        return r;
    }
    if (!worker.applyAlignment()) {
        r.statusText = worker.errorText;
        return r;
    }
    if (applied)
        *applied = true;
    r.ok = true;
    r.newWidth = worker.cropRect.right - worker.cropRect.left + 1;
    r.newHeight = worker.cropRect.bottom - worker.cropRect.top + 1;
    return r;
}
