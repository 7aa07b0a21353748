#ifndef COLORMATHS_H
#define COLORMATHS_H

// Colour building blocks: the colour of a black body of a given temperature,
// the temperature and tint that neutralise a sampled colour, and 4 x 4 colour
// matrices.
//
// Matrices are row-major single-precision floats; a colour is the row vector
// (R, G, B, 1) times the matrix, so row 3 holds offsets. Every operation
// replaces M by M x T: it acts after those already in M.

#include "project/rgbDouble.h"

constexpr double COLOR_TEMPERATURE_MIN = 3500.0;
constexpr double COLOR_TEMPERATURE_MAX = 15500.0;
constexpr double COLOR_TEMPERATURE_NEUTRAL = 6500.0;
// Luminance weights of tone and colour work.
constexpr float LUMINANCE_WEIGHT_R = 0.3086f;
constexpr float LUMINANCE_WEIGHT_G = 0.6094f;
constexpr float LUMINANCE_WEIGHT_B = 0.082f;

// The light colour of a black body at kelvin, relative to 6500 K (which
// gives (1, 1, 1)). False when the temperature was clamped into 3500 .. 15500 K.
bool colorTemperatureToRgb(rgbDouble_t &rgb, double kelvin);

// Colour-adjust settings (temperature and tint, both 0..2, neutral 1) that
// turn the sampled colour grey.
void estimateTemperatureTint(const rgbDouble_t &sample, double &temperature, double &tint);

// Temperature setting (0..2) to kelvin: 0 = 3500 K, 1 = 6500 K, 2 = 15500 K.
int colorTemperatureSettingToKelvin(double setting);

// out = b x a; out may be b.
void colorMatrixMultiply(const float a[4][4], const float b[4][4], float out[4][4]);

namespace colorMatrix {
void identity(float m[4][4]);
void saturate(float m[4][4], float s);
void rotateX(float m[4][4], float sine, float cosine);
void rotateY(float m[4][4], float sine, float cosine);
void rotateZ(float m[4][4], float sine, float cosine);
void shearZ(float m[4][4], float dx, float dy);
void hueRotate(float m[4][4], float degrees);
} // namespace colorMatrix

#endif // COLORMATHS_H
