#ifndef LENSCORRECTION_H
#define LENSCORRECTION_H

// Geometric distortion and transverse chromatic aberration (TCA) removal with
// one calibration record of the lens database, and the search for the largest
// rectangle that stays covered by image data after the correction.
// Images are interleaved 16-bit RGB.

#include "hdr/lensfunDb.h"

#include <cstdint>

struct lensCropRect_t {
    int left = 0;
    int top = 0;
    int right = 0;  // inclusive
    int bottom = 0; // inclusive
};

// Normalisation factor of the radius: g = 2 / (s - 1) * sqrt(c^2 + 1) /
// sqrt(e^2 + 1) * m with s the shorter side, e the image's aspect ratio,
// c the calibration's aspect ratio and m its crop-factor ratio.
double lensRadiusFactor(int width, int height, const lensCalibData &calib);

// Source scale of one channel (0 red, 1 green, 2 blue) at normalised radius r.
double lensTcaFactor(const lensCalibData &calib, int channel, double r);
double lensDistortionFactor(const lensCalibData &calib, double r);

struct _lensCorrection_threadParams_t {
    int width;
    int height;
    int firstRow;
    int endRow; // exclusive
    const uint16_t *source;
    uint16_t *destination;
    int centreX; // whole pixels
    int centreY;
    double radiusFactor;
    lensCalibData calib; // own copy (implicitly shared lists)
};

// Corrects the rows [firstRow, endRow) of the destination; a sample whose
// source lies outside the image (or in its last row or column) becomes 0.
void lensCorrectionWorkerRows(const _lensCorrection_threadParams_t &p);

// Runs the correction over the whole image in threadCount row bands.
void runLensCorrection(const uint16_t *source, uint16_t *destination, int width, int height,
                       const lensCalibData &calib, double centreX, double centreY,
                       int threadCount);

struct _getCropRectParams_t {
    lensCalibData calib;
    double radiusFactor;
    double centreX; // fractions of the width and height
    double centreY;
    int top = 0;
    int left = 0;
    int right = 0;
    int bottom = 0;
    int width;
    int height;
    int step;
    int firstRow;
    int endRow;
};
void cropRectRows(_getCropRectParams_t &p);

// The largest reasonable rectangle fully covered after correction, sampled on
// a grid of the given step in the border zone, then shrunk until its outline
// is covered; the whole image when the result is inverted or smaller than
// half the image either way.
lensCropRect_t computeLensCropRect(int width, int height, int step, const lensCalibData &calib,
                                   double centreX, double centreY, int threadCount);

// Whether the outline of the rectangle (sampled every step pixels) takes
// every channel from inside the source image.
bool lensRectCovered(int width, int height, const lensCalibData &calib, double centreX,
                     double centreY, const lensCropRect_t &rect, int step);

// Sampling step the HDR stage uses: max(1, floor(sqrt(W^2 + H^2) / 1000)).
int lensCropStep(int width, int height);

#endif // LENSCORRECTION_H
