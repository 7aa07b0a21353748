#include "project/colorMaths.h"

#include <cmath>
#include <cstring>

namespace {

// Normalised black-body colours from 3500 K to 15500 K in steps of 100 K.
const double temperatureTable[121][3] = {
    {1.0000, 0.5809, 0.2433}, {1.0000, 0.5983, 0.2655}, {1.0000, 0.6153, 0.2881},
    {1.0000, 0.6318, 0.3112}, {1.0000, 0.6480, 0.3346}, {1.0000, 0.6636, 0.3583},
    {1.0000, 0.6789, 0.3823}, {1.0000, 0.6938, 0.4066}, {1.0000, 0.7083, 0.4310},
    {1.0000, 0.7223, 0.4556}, {1.0000, 0.7360, 0.4803}, {1.0000, 0.7494, 0.5051},
    {1.0000, 0.7623, 0.5299}, {1.0000, 0.7750, 0.5548}, {1.0000, 0.7872, 0.5797},
    {1.0000, 0.7992, 0.6045}, {1.0000, 0.8108, 0.6293}, {1.0000, 0.8221, 0.6541},
    {1.0000, 0.8330, 0.6787}, {1.0000, 0.8437, 0.7032}, {1.0000, 0.8541, 0.7277},
    {1.0000, 0.8642, 0.7519}, {1.0000, 0.8740, 0.7760}, {1.0000, 0.8836, 0.8000},
    {1.0000, 0.8929, 0.8238}, {1.0000, 0.9019, 0.8473}, {1.0000, 0.9107, 0.8707},
    {1.0000, 0.9193, 0.8939}, {1.0000, 0.9276, 0.9168}, {1.0000, 0.9357, 0.9396},
    {1.0000, 0.9436, 0.9621}, {1.0000, 0.9513, 0.9844}, {0.9937, 0.9526, 1.0000},
    {0.9726, 0.9395, 1.0000}, {0.9526, 0.9270, 1.0000}, {0.9337, 0.9150, 1.0000},
    {0.9157, 0.9035, 1.0000}, {0.8986, 0.8925, 1.0000}, {0.8823, 0.8819, 1.0000},
    {0.8668, 0.8718, 1.0000}, {0.8520, 0.8621, 1.0000}, {0.8379, 0.8527, 1.0000},
    {0.8244, 0.8437, 1.0000}, {0.8115, 0.8351, 1.0000}, {0.7992, 0.8268, 1.0000},
    {0.7874, 0.8187, 1.0000}, {0.7761, 0.8110, 1.0000}, {0.7652, 0.8035, 1.0000},
    {0.7548, 0.7963, 1.0000}, {0.7449, 0.7894, 1.0000}, {0.7353, 0.7827, 1.0000},
    {0.7260, 0.7762, 1.0000}, {0.7172, 0.7699, 1.0000}, {0.7086, 0.7638, 1.0000},
    {0.7004, 0.7579, 1.0000}, {0.6925, 0.7522, 1.0000}, {0.6848, 0.7467, 1.0000},
    {0.6774, 0.7414, 1.0000}, {0.6703, 0.7362, 1.0000}, {0.6635, 0.7311, 1.0000},
    {0.6568, 0.7263, 1.0000}, {0.6504, 0.7215, 1.0000}, {0.6442, 0.7169, 1.0000},
    {0.6382, 0.7124, 1.0000}, {0.6324, 0.7081, 1.0000}, {0.6268, 0.7039, 1.0000},
    {0.6213, 0.6998, 1.0000}, {0.6161, 0.6958, 1.0000}, {0.6109, 0.6919, 1.0000},
    {0.6060, 0.6881, 1.0000}, {0.6012, 0.6844, 1.0000}, {0.5965, 0.6808, 1.0000},
    {0.5919, 0.6773, 1.0000}, {0.5875, 0.6739, 1.0000}, {0.5833, 0.6706, 1.0000},
    {0.5791, 0.6674, 1.0000}, {0.5750, 0.6642, 1.0000}, {0.5711, 0.6611, 1.0000},
    {0.5673, 0.6581, 1.0000}, {0.5636, 0.6552, 1.0000}, {0.5599, 0.6523, 1.0000},
    {0.5564, 0.6495, 1.0000}, {0.5530, 0.6468, 1.0000}, {0.5496, 0.6441, 1.0000},
    {0.5463, 0.6415, 1.0000}, {0.5431, 0.6389, 1.0000}, {0.5400, 0.6364, 1.0000},
    {0.5370, 0.6340, 1.0000}, {0.5340, 0.6316, 1.0000}, {0.5312, 0.6293, 1.0000},
    {0.5283, 0.6270, 1.0000}, {0.5256, 0.6247, 1.0000}, {0.5229, 0.6225, 1.0000},
    {0.5203, 0.6204, 1.0000}, {0.5177, 0.6183, 1.0000}, {0.5152, 0.6162, 1.0000},
    {0.5128, 0.6142, 1.0000}, {0.5104, 0.6122, 1.0000}, {0.5080, 0.6103, 1.0000},
    {0.5057, 0.6084, 1.0000}, {0.5035, 0.6065, 1.0000}, {0.5013, 0.6047, 1.0000},
    {0.4991, 0.6029, 1.0000}, {0.4970, 0.6012, 1.0000}, {0.4950, 0.5994, 1.0000},
    {0.4930, 0.5978, 1.0000}, {0.4910, 0.5961, 1.0000}, {0.4891, 0.5945, 1.0000},
    {0.4872, 0.5929, 1.0000}, {0.4853, 0.5913, 1.0000}, {0.4835, 0.5898, 1.0000},
    {0.4817, 0.5882, 1.0000}, {0.4799, 0.5868, 1.0000}, {0.4782, 0.5853, 1.0000},
    {0.4765, 0.5839, 1.0000}, {0.4749, 0.5824, 1.0000}, {0.4733, 0.5811, 1.0000},
    {0.4717, 0.5797, 1.0000}, {0.4701, 0.5784, 1.0000}, {0.4686, 0.5770, 1.0000},
    {0.4671, 0.5757, 1.0000},
};
constexpr int NEUTRAL_ROW = 30; // 6500 K

void multiplyInto(float m[4][4], const float t[4][4])
{
    float out[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += m[i][k] * t[k][j];
            out[i][j] = s;
        }
    std::memcpy(m, out, sizeof(out));
}

void transformVector(const float m[4][4], const float v[4], float out[4])
{
    for (int j = 0; j < 4; ++j)
        out[j] = v[0] * m[0][j] + v[1] * m[1][j] + v[2] * m[2][j] + v[3] * m[3][j];
}

} // namespace

bool colorTemperatureToRgb(rgbDouble_t &rgb, double kelvin)
{
    bool inRange = true;
    if (!(kelvin >= COLOR_TEMPERATURE_MIN)) { // also catches NaN
        kelvin = COLOR_TEMPERATURE_MIN;
        inRange = false;
    }
    if (kelvin >= COLOR_TEMPERATURE_MAX) {
        kelvin = 15499.999;
        inRange = false;
    }
    const double d = std::trunc(kelvin / 100.0) * 100.0;
    const int e = int((d - COLOR_TEMPERATURE_MIN) / 100.0);
    const double f = (kelvin - d) / 100.0;
    double c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = (temperatureTable[e][i] * (1 - f) + temperatureTable[e + 1][i] * f)
               / temperatureTable[NEUTRAL_ROW][i];
    rgb.r = c[0];
    rgb.g = c[1];
    rgb.b = c[2];
    return inRange;
}

int colorTemperatureSettingToKelvin(double v)
{
    return v < 1 ? int((v - 1) * 3000 + 6500) : int((v - 1) * 9000 + 6500);
}

void estimateTemperatureTint(const rgbDouble_t &sample, double &temperature, double &tint)
{
    if (sample.r == 0 || sample.g == 0 || sample.b == 0) {
        temperature = 1;
        tint = 1;
        return;
    }
    double lo = COLOR_TEMPERATURE_MIN, hi = COLOR_TEMPERATURE_MAX, t = 9500;
    rgbDouble_t c;
    while (hi - lo > 0.1) {
        colorTemperatureToRgb(c, t);
        if (c.b / c.r > sample.b / sample.r)
            hi = t;
        else
            lo = t;
        t = (lo + hi) / 2;
    }
    temperature = t > 6500 ? (t - 6500) / 9000 + 1 : (t - 6500) / 3000 + 1;

    colorTemperatureToRgb(c, colorTemperatureSettingToKelvin(temperature));
    double bestError = 1000;
    tint = 1;
    for (double step = 0; step <= 2; step += 0.01) {
        const double mR = c.b / c.r;
        const double mG = c.b / (c.g * (step + 0.4) / 1.4);
        const double error = std::fabs((mR / mG) * (sample.r / sample.g) - 1)
                             + std::fabs((1 / mG) * (sample.b / sample.g) - 1);
        if (error < bestError) {
            bestError = error;
            tint = step;
        }
    }
}

void colorMatrixMultiply(const float a[4][4], const float b[4][4], float out[4][4])
{
    float r[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += b[i][k] * a[k][j];
            r[i][j] = s;
        }
    std::memcpy(out, r, sizeof(r));
}

namespace colorMatrix {

void identity(float m[4][4])
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = i == j ? 1.0f : 0.0f;
}

void saturate(float m[4][4], float s)
{
    const float wr = LUMINANCE_WEIGHT_R, wg = LUMINANCE_WEIGHT_G, wb = LUMINANCE_WEIGHT_B;
    const float t[4][4] = {
        {wr * (1 - s) + s, wr * (1 - s), wr * (1 - s), 0},
        {wg * (1 - s), wg * (1 - s) + s, wg * (1 - s), 0},
        {wb * (1 - s), wb * (1 - s), wb * (1 - s) + s, 0},
        {0, 0, 0, 1},
    };
    multiplyInto(m, t);
}

void rotateX(float m[4][4], float s, float c)
{
    float t[4][4];
    identity(t);
    t[1][1] = c;
    t[1][2] = s;
    t[2][1] = -s;
    t[2][2] = c;
    multiplyInto(m, t);
}

void rotateY(float m[4][4], float s, float c)
{
    float t[4][4];
    identity(t);
    t[0][0] = c;
    t[0][2] = -s;
    t[2][0] = s;
    t[2][2] = c;
    multiplyInto(m, t);
}

void rotateZ(float m[4][4], float s, float c)
{
    float t[4][4];
    identity(t);
    t[0][0] = c;
    t[0][1] = s;
    t[1][0] = -s;
    t[1][1] = c;
    multiplyInto(m, t);
}

void shearZ(float m[4][4], float dx, float dy)
{
    float t[4][4];
    identity(t);
    t[0][2] = dx;
    t[1][2] = dy;
    multiplyInto(m, t);
}

// A rotation about the grey axis that keeps luminance: turn the grey axis
// onto Z, shear so that the luminance plane is level, rotate, undo.
void hueRotate(float m[4][4], float degrees)
{
    float h[4][4];
    identity(h);
    const float invSqrt2 = float(1 / std::sqrt(2.0));
    const float invSqrt3 = float(1 / std::sqrt(3.0));
    const float sqrt2by3 = float(std::sqrt(2.0) / std::sqrt(3.0));
    rotateX(h, invSqrt2, invSqrt2);
    rotateY(h, -invSqrt3, sqrt2by3);
    const float lum[4] = {LUMINANCE_WEIGHT_R, LUMINANCE_WEIGHT_G, LUMINANCE_WEIGHT_B, 1};
    float l[4];
    transformVector(h, lum, l);
    const float zsx = l[0] / l[2], zsy = l[1] / l[2];
    shearZ(h, zsx, zsy);
    const double a = degrees * 3.141592653589793 / 180;
    rotateZ(h, float(std::sin(a)), float(std::cos(a)));
    shearZ(h, -zsx, -zsy);
    rotateY(h, invSqrt3, sqrt2by3);
    rotateX(h, -invSqrt2, invSqrt2);
    multiplyInto(m, h);
}

} // namespace colorMatrix
