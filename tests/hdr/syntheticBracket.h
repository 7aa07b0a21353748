#ifndef SYNTHETICBRACKET_H
#define SYNTHETICBRACKET_H

// Synthetic brackets for the HDR tests: a known linear radiance scene photographed
// through a known response curve at known exposures.

#include <QtGlobal>

#include <vector>

namespace syntheticBracket {

// The program's standard response polynomial (value proportional to linear light
// at a normalised sample x).
extern const double standardCoefficients[6];

// 65536-entry response table of a polynomial.
std::vector<double> responseTable(const double *c, int count);

// Sample a camera with the given response table produces for linear light L
// (the smallest sample whose response reaches L), quantised to 8 bits (x 257)
// when eightBit is set.
quint16 cameraSample(const std::vector<double> &response, double linear, bool eightBit);

// Radiance of pixel (x, y) of a width x height scene: a horizontal log ramp from
// 2^lowEv to 2^highEv (in units of the response's top value) with a gentle
// vertical texture so that rows differ.
double sceneRadiance(int x, int y, int width, int height, double lowEv, double highEv);

// One photo of the scene at exposure 2^ev: interleaved 16-bit RGB (grey).
std::vector<quint16> renderPhoto(const std::vector<double> &response, int width, int height, double ev,
                                 bool eightBit, double lowEv, double highEv);

} // namespace syntheticBracket

#endif // SYNTHETICBRACKET_H
