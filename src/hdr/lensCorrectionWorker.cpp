#include "hdr/lensCorrectionWorker.h"

#include "hdr/projectGeometry.h"

lensCorrectionWorker::lensCorrectionWorker(const geometryPass_t &pass, const lensCalibData &calib,
                                           bool cropOn, const lensCropRect_t &crop,
                                           double centreX, double centreY, QObject *parent)
    : QObject(parent), cropRect(crop), cropOn(cropOn), centreX(centreX), centreY(centreY),
      calib(calib), pass(pass)
{
}

lensCorrectionWorker::lensCorrectionWorker(processingProject *project, const lensCalibData &calib,
                                           bool cropOn, const lensCropRect_t &crop,
                                           double centreX, double centreY, QObject *parent)
    : lensCorrectionWorker(geometryPassOf(project), calib, cropOn, crop, centreX, centreY, parent)
{
    afterResize = [project](int w, int h) { projectAfterGeometry(project, w, h); };
}

bool lensCorrectionWorker::correct()
{
    lensCropRect_t rect = cropRect;
    if (!cropOn) {
        rect = lensCropRect_t();
        rect.right = pass.width - 1;
        rect.bottom = pass.height - 1;
    }
    if (!correctPhotoImages(pass, calib, centreX, centreY, rect))
        return false;
    pass.width = rect.right - rect.left + 1;
    pass.height = rect.bottom - rect.top + 1;
    if (afterResize)
        afterResize(pass.width, pass.height);
    return true;
}

void lensCorrectionWorker::doCorrection()
{
    result = correct();
    emit finished(result);
}
