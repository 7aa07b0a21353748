#ifndef HDRGEOMETRYSTAGES_H
#define HDRGEOMETRYSTAGES_H

// The HDR worker's two geometric stages, written so that the worker's stage
// slots (generateHDR_preLensCorrection, generateHDR_preAutoAlign) only
// gather the project's data, call these and emit finished with the result.

#include "hdr/alignmentWorker.h"
#include "hdr/geometryPhotoFiles.h"
#include "hdr/lensfunDb.h"

#include <QString>
#include <functional>
#include <vector>

struct geometryStageResult_t {
    bool ok = false;
    QString statusText; // the lens stage's one-line result for the dialog
    int newWidth = 0;
    int newHeight = 0;
    // The alignment stage's transform of every photo (identity for the base),
    // in full-size pixel coordinates of the photos before the pass, mapping a
    // base position to the photo's position; empty when the search failed.
    std::vector<alignTransform_t> transforms;
};

// Finds the database camera and lens of the photos' metadata, fetches the
// lens's calibration for the focal length, and corrects every photo with the
// image centre as the optical centre and cropping on. afterResize runs the
// project's bookkeeping with the new size. Not ok when the camera, the lens
// or its calibration is unknown, or when the photos could not be stored (the
// photos are then unchanged).
geometryStageResult_t lensCorrectionStage(const lensfunDb &db, const QString &exifCamera,
                                          const QString &exifLens, double focalLength,
                                          const geometryPass_t &pass,
                                          const std::function<void(int, int)> &afterResize);

// Aligns every photo to the base photo with the perspective model and
// automatic cropping, then applies the transforms. Ok after a break that
// follows a successful search (nothing applied); not ok when the search
// failed or the aligned photos could not be stored.
geometryStageResult_t autoAlignStage(const geometryPass_t &pass, const std::vector<double> &ev,
                                     int baseIndex,
                                     const std::function<void(int, int)> &afterResize,
                                     bool *applied = nullptr);

#endif // HDRGEOMETRYSTAGES_H
