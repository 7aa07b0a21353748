#ifndef EXPOSUREVALUES_H
#define EXPOSUREVALUES_H

// Exposure values of a bracket: candidates from the EXIF exposure settings,
// from the EXIF exposure bias of an auto-exposure series and from the image
// content; the brightness ranks; the recentring on the middle photo; and the
// consistency checks the HDR dialog warns with.
//
// The maths are free functions over the photo list and an evState_t; the
// project's sortPhotosByEV, computeAutoEV, evRange, aebEVdiff and minEVdiff
// run them on its own photos and fields.

#include "project/photoInfo.h"

#include <QList>
#include <cstdint>

// The project's EV fields (EV units, their ln 2 multiples and photo positions).
struct evState_t {
    bool evFromExif = false;   // the EXIF exposure settings gave a value (last photo examined)
    bool biasDistinct = false; // no two photos share an exposure bias at 1/100 EV
    double evMin = 0, evMax = 0, evMean = 0;
    double evMinLn = 0, evMaxLn = 0, evMeanLn = 0;
    int32_t idxMid = 0, idxMin = 0, idxMax = 0;
};

namespace exposureValues {

// EV from exposure time t (s), f-number n and ISO s: log2(t / n^2 x s / 100).
// Values at most 1e-7 in magnitude count as missing and are replaced by t = 1,
// n = 1, s = 100; fromExif is false only when all three are missing (EV 0).
double evFromExposure(double t, double n, double s, bool &fromExif);

// EV of b relative to a from their 16-bit previews (previewWidth x
// previewHeight x 3), through the linearisation table L and the weight table
// W (65,536 doubles each); positive when b is brighter. 0 when memory fails.
double computeAutoEV(const photoInfo_t &a, const photoInfo_t &b, int previewWidth, int previewHeight,
                     const double *L, const double *W);

// Recentres ev on the photo nearest the mean and fills the range fields.
void evRange(QList<photoInfo_t> &photos, evState_t &state);

// Fills evExif, exifBias, ev, brightnessRank and evAuto of every photo.
void sortPhotosByEV(QList<photoInfo_t> &photos, evState_t &state, int previewWidth, int previewHeight,
                    const double *L, const double *W);

// True when the EXIF EVs and the AEB bias disagree by 0.5 EV or more.
bool aebEVdiff(const QList<photoInfo_t> &photos, const evState_t &state);

// True when two photos are less than 0.01 EV apart.
bool minEVdiff(const QList<photoInfo_t> &photos);

} // namespace exposureValues

#endif // EXPOSUREVALUES_H
