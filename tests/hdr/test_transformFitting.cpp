#include "hdr/transformFitting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

alignTransform_t makeTransform(std::initializer_list<double> v)
{
    alignTransform_t t;
    int i = 0;
    for (double d : v)
        t.a[i++] = d;
    return t;
}

// Largest distance between two transforms' images of a grid over w x h.
double maxDeviation(int method, const alignTransform_t &a, const alignTransform_t &b, int w, int h)
{
    double worst = 0;
    for (int y = 0; y <= h; y += h / 8)
        for (int x = 0; x <= w; x += w / 8) {
            double X1, Y1, X2, Y2;
            applyTransform(method, a, x, y, X1, Y1);
            applyTransform(method, b, x, y, X2, Y2);
            worst = std::max(worst, std::hypot(X1 - X2, Y1 - Y2));
        }
    return worst;
}

void makePins(int method, const alignTransform_t &truth, const std::vector<alignPin_t> &base,
              std::vector<alignPin_t> &photo, double noise, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> n(-noise, noise);
    photo.clear();
    for (const alignPin_t &b : base) {
        double X, Y;
        applyTransform(method, truth, b.x, b.y, X, Y);
        photo.push_back({float(X + n(rng)), float(Y + n(rng))});
    }
}

} // namespace

TEST(fitTransform, recoversKnownTransformsFromExactAndNoisyPins)
{
    const int W = 3000, H = 2000;
    const double angle = 0.02;
    struct testCase {
        const char *name;
        int method;
        alignTransform_t truth;
        double noise;
        double tolerance;
    } cases[] = {
        {"shift", 0, makeTransform({1, 0, 12.5, 0, 1, -7.25, 0, 0}), 0, 1e-4},
        {"shift noisy", 0, makeTransform({1, 0, 12.5, 0, 1, -7.25, 0, 0}), 0.2, 0.3},
        {"similarity", 1,
         makeTransform({std::cos(angle), -std::sin(angle), 20, std::sin(angle), std::cos(angle),
                        -15, 0, 0}),
         0, 0.01},
        {"similarity noisy", 1,
         makeTransform({std::cos(angle), -std::sin(angle), 20, std::sin(angle), std::cos(angle),
                        -15, 0, 0}),
         0.2, 1.0},
        {"perspective", 3, makeTransform({1.01, 0.015, -8, -0.012, 0.995, 5, 2e-6, -3e-6}), 0,
         0.01},
        {"perspective noisy", 3,
         makeTransform({1.01, 0.015, -8, -0.012, 0.995, 5, 2e-6, -3e-6}), 0.1, 1.0},
    };
    const std::vector<alignPin_t> base = {{300, 250}, {2700, 1800}, {350, 1750}, {2650, 200}};
    for (const testCase &tc : cases) {
        std::vector<alignPin_t> photo;
        makePins(tc.method, tc.truth, base, photo, tc.noise, 7);
        alignTransform_t fit;
        fitTransform(tc.method, photo.data(), base.data(), fit);
        EXPECT_LT(maxDeviation(tc.method, fit, tc.truth, W, H), tc.tolerance) << tc.name;
    }
}

TEST(fitTransform, degeneratePinsGiveIdentity)
{
    const std::vector<alignPin_t> same = {{10, 10}, {50, 60}, {10, 90}, {80, 15}};
    for (int method : {0, 1, 3}) {
        alignTransform_t t;
        t.a[2] = 99;
        fitTransform(method, same.data(), same.data(), t);
        EXPECT_TRUE(t.isIdentity()) << method;
    }
    // Two equal base pins: theta stays 0 and only the mean shift remains.
    const std::vector<alignPin_t> base = {{10, 10}, {10, 10}};
    const std::vector<alignPin_t> photo = {{15, 8}, {25, 8}};
    alignTransform_t t;
    fitTransform(1, photo.data(), base.data(), t);
    EXPECT_EQ(t.a[0], 1);
    EXPECT_EQ(t.a[1], 0);
    EXPECT_FLOAT_EQ(t.a[2], 10);
    EXPECT_FLOAT_EQ(t.a[5], -2);
    // Null pins give identity.
    fitTransform(3, nullptr, base.data(), t);
    EXPECT_TRUE(t.isIdentity());
    // Collinear perspective pins: finite values, no failure.
    const std::vector<alignPin_t> line = {{0, 0}, {10, 10}, {20, 20}, {30, 30}};
    const std::vector<alignPin_t> line2 = {{1, 0}, {11, 10}, {21, 20}, {31, 30}};
    fitTransform(3, line2.data(), line.data(), t);
    for (double v : t.a)
        EXPECT_TRUE(std::isfinite(v));
}

TEST(computeAlignedCrop, cases)
{
    const int W = 400, H = 300;
    std::vector<alignTransform_t> t(3);
    // Identity everywhere: the whole image.
    alignCrop_t c = computeAlignedCrop(W, H, 1, 3, t.data(), 3);
    EXPECT_EQ(c.left, 0);
    EXPECT_EQ(c.top, 0);
    EXPECT_EQ(c.right, W - 1);
    EXPECT_EQ(c.bottom, H - 1);

    // A shift of (+10, -4): 10 columns go on the right and 4 rows at the top.
    t[0].a[2] = 10;
    t[0].a[5] = -4;
    c = computeAlignedCrop(W, H, 1, 0, t.data(), 3);
    EXPECT_EQ(c.left, 0);
    EXPECT_EQ(c.top, 4);
    EXPECT_EQ(c.right, W - 11);
    EXPECT_EQ(c.bottom, H - 1);

    // The base photo's own transform is ignored.
    t[1].a[2] = 200;
    c = computeAlignedCrop(W, H, 1, 0, t.data(), 3);
    EXPECT_EQ(c.right, W - 11);

    // Opposite shifts of the other photos combine.
    t[2].a[2] = -6;
    t[2].a[5] = 3;
    c = computeAlignedCrop(W, H, 1, 0, t.data(), 3);
    EXPECT_EQ(c.left, 6);
    EXPECT_EQ(c.top, 4);
    EXPECT_EQ(c.right, W - 11);
    EXPECT_EQ(c.bottom, H - 4);

    // A common area narrower than W / 5: no crop at all.
    t[2].a[2] = -340;
    c = computeAlignedCrop(W, H, 1, 0, t.data(), 3);
    EXPECT_EQ(c.left, 0);
    EXPECT_EQ(c.right, W - 1);
    EXPECT_EQ(c.bottom, H - 1);

    // A small rotation about the centre under the full model crops inside the image
    // on every side.
    std::vector<alignTransform_t> r(2);
    const double a = 0.01, co = std::cos(a), si = std::sin(a), cx = W / 2.0, cy = H / 2.0;
    r[0] = makeTransform({co, -si, cx - co * cx + si * cy, si, co, cy - si * cx - co * cy, 0, 0});
    c = computeAlignedCrop(W, H, 1, 3, r.data(), 2);
    EXPECT_GT(c.left, 0);
    EXPECT_GT(c.top, 0);
    EXPECT_LT(c.right, W - 1);
    EXPECT_LT(c.bottom, H - 1);
    // Every corner of the crop maps inside the photo.
    for (int y : {c.top, c.bottom})
        for (int x : {c.left, c.right}) {
            double X, Y;
            applyTransform(3, r[0], x, y, X, Y);
            EXPECT_GT(X, -1);
            EXPECT_GT(Y, -1);
            EXPECT_LT(X, W);
            EXPECT_LT(Y, H);
        }
}

TEST(getTransformedImage, identityCopiesAndShiftBlackensOutside)
{
    const int W = 37, H = 23;
    std::vector<uint16_t> src(size_t(W) * H * 3), out(src.size(), 7);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint16_t(i * 131 % 65536);
    alignTransform_t id;
    runGetTransformedImage(src.data(), out.data(), W, H, id, 3, 4);
    EXPECT_EQ(out, src);

    alignTransform_t shift;
    shift.a[2] = 10;
    shift.a[5] = -4;
    runGetTransformedImage(src.data(), out.data(), W, H, shift, 0, 3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint16_t got = out[(size_t(y) * W + x) * 3 + c];
                const int sx = x + 10, sy = y - 4;
                if (sx >= W || sy < 0) {
                    EXPECT_EQ(got, 0) << x << "," << y;
                } else {
                    EXPECT_EQ(got, src[(size_t(sy) * W + sx) * 3 + c]) << x << "," << y;
                }
            }

    // Half-pixel shift: the bilinear mean of two neighbours, truncated.
    alignTransform_t half;
    half.a[2] = 0.5;
    runGetTransformedImage(src.data(), out.data(), W, H, half, 0, 2);
    const size_t i = (size_t(5) * W + 3) * 3;
    EXPECT_EQ(out[i], uint16_t((src[i] + src[i + 3]) * 0.5));

    // Packing the crop rectangle moves its rows to the start of the buffer.
    std::vector<uint16_t> img = src;
    alignCrop_t crop;
    crop.left = 2;
    crop.top = 3;
    crop.right = 20;
    crop.bottom = 10;
    packCropRect(img.data(), W, crop);
    const int sx = 19;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < sx; ++x)
            ASSERT_EQ(img[(size_t(y) * sx + x) * 3 + 1], src[(size_t(y + 3) * W + x + 2) * 3 + 1]);
}
