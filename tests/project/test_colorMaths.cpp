// Colour maths: black-body colours, the white-balance estimate and the
// saturation and hue matrices.
#include "project/colorMaths.h"

#include <gtest/gtest.h>
#include <cmath>

namespace {

void apply(const float m[4][4], const float in[3], float out[3])
{
    for (int j = 0; j < 3; ++j)
        out[j] = in[0] * m[0][j] + in[1] * m[1][j] + in[2] * m[2][j] + m[3][j];
}

} // namespace

TEST(colorMaths, temperatureToRgbKnownValues)
{
    const struct {
        double kelvin;
        bool inRange;
        double r, g, b;
    } cases[] = {
        {6500, true, 1, 1, 1},
        {3500, true, 1.0, 0.5809 / 0.9436, 0.2433 / 0.9621},
        {3400, false, 1.0, 0.5809 / 0.9436, 0.2433 / 0.9621},
        // Halfway between the 6600 K and 6700 K rows.
        {6650, true, (1.0 + 0.9937) / 2, (0.9513 + 0.9526) / 2 / 0.9436, (0.9844 + 1.0) / 2 / 0.9621},
        {20000, false, 0.4686 * 0.00001 + 0.4671 * 0.99999, (0.5770 * 0.00001 + 0.5757 * 0.99999) / 0.9436,
         1.0 / 0.9621},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kelvin);
        rgbDouble_t rgb;
        EXPECT_EQ(colorTemperatureToRgb(rgb, c.kelvin), c.inRange);
        EXPECT_NEAR(rgb.r, c.r, 1e-4);
        EXPECT_NEAR(rgb.g, c.g, 1e-4);
        EXPECT_NEAR(rgb.b, c.b, 1e-4);
    }
    rgbDouble_t edge;
    EXPECT_FALSE(colorTemperatureToRgb(edge, 15500));
    EXPECT_TRUE(colorTemperatureToRgb(edge, 15499));
}

TEST(colorMaths, settingToKelvin)
{
    EXPECT_EQ(colorTemperatureSettingToKelvin(0), 3500);
    EXPECT_EQ(colorTemperatureSettingToKelvin(1), 6500);
    EXPECT_EQ(colorTemperatureSettingToKelvin(2), 15500);
    EXPECT_EQ(colorTemperatureSettingToKelvin(0.5), 5000);
}

TEST(colorMaths, estimateTemperatureTint)
{
    double t = 0, tint = 0;
    estimateTemperatureTint({0.5, 0, 0.4}, t, tint);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(tint, 1);

    // A grey sample is neutral: 6500 K and the tint whose green factor is 1.
    estimateTemperatureTint({0.4, 0.4, 0.4}, t, tint);
    EXPECT_NEAR(t, 1.0, 1e-4);
    EXPECT_NEAR(tint, 1.0, 0.006);

    // The colour of a 4000 K light is recognised as such.
    rgbDouble_t warm;
    colorTemperatureToRgb(warm, 4000);
    estimateTemperatureTint(warm, t, tint);
    EXPECT_NEAR(t, (4000.0 - 6500) / 3000 + 1, 1e-4);
    rgbDouble_t cold;
    colorTemperatureToRgb(cold, 10000);
    estimateTemperatureTint(cold, t, tint);
    EXPECT_NEAR(t, (10000.0 - 6500) / 9000 + 1, 1e-4);
}

TEST(colorMaths, matrices)
{
    float m[4][4];
    colorMatrix::identity(m);
    const float grey[3] = {0.3f, 0.3f, 0.3f};
    const float colour[3] = {0.9f, 0.2f, 0.4f};
    float out[3];

    colorMatrix::saturate(m, 0);
    apply(m, colour, out);
    const float lum = 0.3086f * 0.9f + 0.6094f * 0.2f + 0.082f * 0.4f;
    for (float v : out)
        EXPECT_NEAR(v, lum, 1e-6);

    colorMatrix::identity(m);
    colorMatrix::hueRotate(m, 0);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(m[i][j], i == j ? 1 : 0, 1e-5);

    for (float angle : {30.0f, 90.0f, 180.0f, 275.0f}) {
        SCOPED_TRACE(angle);
        colorMatrix::identity(m);
        colorMatrix::hueRotate(m, angle);
        apply(m, grey, out);
        for (float v : out)
            EXPECT_NEAR(v, 0.3f, 1e-5);
        apply(m, colour, out);
        EXPECT_NEAR(0.3086f * out[0] + 0.6094f * out[1] + 0.082f * out[2], lum, 1e-5);
    }
    // 120 degrees three times is a full turn.
    colorMatrix::identity(m);
    for (int i = 0; i < 3; ++i)
        colorMatrix::hueRotate(m, 120);
    apply(m, colour, out);
    EXPECT_NEAR(out[0], 0.9f, 1e-4);
    EXPECT_NEAR(out[1], 0.2f, 1e-4);

    // Order: M x T, the new operation acts after the earlier ones.
    float a[4][4], b[4][4], c[4][4];
    colorMatrix::identity(a);
    colorMatrix::shearZ(a, 1, 0); // B += R
    colorMatrix::identity(b);
    colorMatrix::rotateZ(b, 1, 0); // (R, G) -> (-G, R)
    colorMatrixMultiply(a, b, c);  // c = b x a: rotate first, then shear
    float m2[4][4];
    colorMatrix::identity(m2);
    colorMatrix::rotateZ(m2, 1, 0);
    colorMatrix::shearZ(m2, 1, 0);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_FLOAT_EQ(c[i][j], m2[i][j]);
    colorMatrixMultiply(a, b, b); // out may be b
    EXPECT_FLOAT_EQ(b[0][2], c[0][2]);
}
