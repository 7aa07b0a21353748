#ifndef CURVEMATHS_H
#define CURVEMATHS_H

// Curve maths shared by the curve editors, the layer settings, the preset
// thumbnails and the tone-mapping tables. Pure computations on plain arrays:
// no widgets, no threads, no state between calls.
//
// A curve is a list of control points (x = input level, y = output level, both
// 0..1); at most CURVE_MAX_POINTS of them, because the spline solver works on
// fixed arrays of that size. A selective (hue or brightness) saturation curve
// is a list of knee points. Points and knees that come from files may be out of
// range: every coordinate is clamped before it is used, so no table ever holds
// a value outside its documented range and no position becomes a bad index.

#include "project/tableSizes.h"

#include <QList>
#include <QPointF>
#include <QtGlobal>

// One knee of a selective saturation curve: position 0..1, level 0..1 (0.5 =
// no change) and the width of its bell.
struct selKneePoints_t
{
    double x = 0.0;
    double y = 0.5;
    double sigma = 1.0;
};

constexpr int CURVE_MAX_POINTS = 32;   // points of one curve (fixed solver arrays)
constexpr int CURVE_MAX_KNEES = 32;    // knees of one selective curve
constexpr double KNEE_SIGMA_MIN = 0.1; // range the selective-curve editor offers
constexpr double KNEE_SIGMA_MAX = 2.0;

enum curveMode_t { CURVE_SPLINE = 0, CURVE_LINEAR = 1 };

// Fills table[0..n-1] (entry i stands for the level i/(n-1)) from the control
// points, in list order, by the rule of mode (0 natural cubic spline, 1 piecewise
// linear). Any other mode leaves the table untouched. Returns false and leaves
// the table untouched when n < 2 or the list holds more than CURVE_MAX_POINTS
// points. An empty list gives the identity, a single point a constant table.
bool curveToTable(double *table, int n, const QList<QPointF> &points, int mode);

// The same curve as a 65536-entry 16-bit table: lut[i] = round(table[i] x 65535).
// Returns false and leaves the table untouched when the curve is refused or its
// temporary buffer can't be allocated.
bool curveToLut16(quint16 *lut, const QList<QPointF> &points, int mode);

// Fills table[0..n-1] (values -1..1, 0 = no change) from the knee points. wrap is
// true for the hue curve (its ends meet) and false for the brightness curve.
// With invert set (the tables used for processing) every value is negated, so a
// knee above the middle line gives a positive entry. Returns false and leaves the
// table untouched when n < 2 or the list holds more than CURVE_MAX_KNEES knees.
bool selectiveCurveToTable(double *table, int n, const QList<selKneePoints_t> &knees,
                           bool invert, bool wrap);

// Resamples a histogram of sourceCount counts into binCount display bins,
// smooths them with the kernel 1, 3, 1 and scales them so that the tallest bin
// is exactly height pixels high (all zeros stay zero).
void resampleHistogram(const quint32 *source, int sourceCount, int *bins, int binCount,
                       int height);

// The levels editor's form: the same resampling and smoothing in doubles,
// normalised so that the tallest bin is 1.0.
void resampleHistogramNormalized(const quint32 *source, int sourceCount, double *bins,
                                 int binCount);

// The resampling and the 1, 3, 1 smoothing (integer sums) without scaling:
// the levels editor normalises its four channels together.
void resampleHistogramCounts(const quint32 *source, int sourceCount, double *bins, int binCount);

#endif // CURVEMATHS_H
