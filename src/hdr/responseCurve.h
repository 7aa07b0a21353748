#ifndef RESPONSECURVE_H
#define RESPONSECURVE_H

// Camera response recovery for True HDR: sample selection on the previews, the
// grid-search fit of the response polynomial and the exposure fix. The functions
// work on plain buffers so that they can be driven without a project;
// generateHDRworker::recoverResponseCurve fills the records from the project.
//
// A response polynomial maps a normalised sample x in 0..1 to a value
// proportional to linear light: sum over j of c[j] x^j.

#include <QtGlobal>

#include <vector>

constexpr int CURVE_MAX_COEFFICIENTS = 20;
constexpr int CURVE_SAMPLE_COUNT = 1024;   // samples taken per photo
constexpr int CURVE_MAX_PHOTOS = 100;

double responsePolynomial(const double *c, int count, double x);

// table[i] = polynomial at i / 65535 for i = 0..65535; a value of 0 or below,
// or an empty coefficient list, becomes 0.001.
void fillResponseTable(double *table65536, const double *c, int count);

// The photos as the recovery sees them (arrays per photo of the project's list).
struct responsePhotoSet_t {
    int photoCount = 0;
    const quint16 *const *previews = nullptr; // 16-bit RGB previews
    const bool *included = nullptr;
    const double *evLn = nullptr;
    const double *evlFix = nullptr;           // may be null (all 0)
    int width = 0, height = 0;                // preview size
    const quint8 *labelMask = nullptr;        // ghost label mask or null
    double evMinLn = 0.0;
    double evMeanLn = 0.0;
    const double *defaultResponse = nullptr;  // 65536-entry standard response table
    const double *ghostWeightTable = nullptr; // 65536 entries
};

// Picks up to CURVE_SAMPLE_COUNT well-spread, ghost-free pixels; writes for each
// accepted pixel one luminance byte per photo (out[s * photoCount + k]). out must
// hold CURVE_SAMPLE_COUNT * photoCount bytes. Returns the sample count, or 0 when
// too few were found. The random source is seeded by the caller.
int selectCurveSamples(const responsePhotoSet_t &set, quint8 *out, quint32 seed = 1);

// Refines c[1]..c[4] of the coefficients in place by a grid search (c[0], c[5]
// stay). exposures are linear factors per photo; use says which photos count.
void fitResponsePolynomial(int photoCount, const quint8 *samples, int sampleCount, const bool *use,
                           const double *exposures, double *c, int count, double scale);

// Sets evlFix (per photo) from the previews' brightness against the reference
// photo, with the fitted curve.
void fixExposureValues(const responsePhotoSet_t &set, const bool *use, const double *c, int count,
                       int reference, double *evlFix);

// The whole recovery: returns true when a curve was fitted (false = the standard
// coefficients were kept; evlFix are then all 0). coefficients must hold the
// starting (standard) coefficients on entry and receive the result.
bool recoverResponseCoefficients(const responsePhotoSet_t &set, double *coefficients, int count,
                                 std::vector<double> &evlFix);

#endif // RESPONSECURVE_H
