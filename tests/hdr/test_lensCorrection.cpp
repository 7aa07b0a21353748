#include "hdr/lensCorrection.h"

#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

std::vector<uint16_t> testImage(int w, int h)
{
    std::vector<uint16_t> img(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                img[(size_t(y) * w + x) * 3 + c] = uint16_t(1000 + ((x * 37 + y * 91 + c * 5000) % 60000));
    return img;
}

lensCalibData neutral()
{
    lensCalibData c;
    c.lens.aspectRatio = 1.5;
    c.cropFactorRatio = 1.0;
    return c;
}

} // namespace

TEST(lensCorrection, neutralCalibrationCopiesButTheLastRowAndColumn)
{
    const int W = 41, H = 29;
    const std::vector<uint16_t> src = testImage(W, H);
    std::vector<uint16_t> out(src.size(), 7);
    runLensCorrection(src.data(), out.data(), W, H, neutral(), 0.5, 0.5, 3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * W + x) * 3 + c;
                if (x == W - 1 || y == H - 1) {
                    ASSERT_EQ(out[i], 0) << x << "," << y;
                } else {
                    ASSERT_EQ(out[i], src[i]) << x << "," << y;
                }
            }
}

TEST(lensCorrection, greenIsNeverScaledByTca)
{
    const int W = 60, H = 40;
    const std::vector<uint16_t> src = testImage(W, H);
    std::vector<uint16_t> plain(src.size()), tca(src.size());
    lensCalibData c = neutral();
    runLensCorrection(src.data(), plain.data(), W, H, c, 0.5, 0.5, 2);
    c.tca.enabled = true;
    c.tca.model = LENS_TCA_LINEAR;
    c.tca.linear = {0, 1.02, 0.98};
    runLensCorrection(src.data(), tca.data(), W, H, c, 0.5, 0.5, 2);
    int redDiffers = 0, blueDiffers = 0;
    for (size_t i = 0; i < src.size(); i += 3) {
        ASSERT_EQ(tca[i + 1], plain[i + 1]);
        redDiffers += tca[i] != plain[i];
        blueDiffers += tca[i + 2] != plain[i + 2];
    }
    EXPECT_GT(redDiffers, 100);
    EXPECT_GT(blueDiffers, 100);
    EXPECT_DOUBLE_EQ(lensTcaFactor(c, 1, 0.7), 1.0);
    c.tca.model = LENS_TCA_POLY3;
    c.tca.poly3 = {0, 0.01, 1.001, -0.02, 0.999};
    EXPECT_DOUBLE_EQ(lensTcaFactor(c, 0, 0.5), 0.01 * 0.25 + 1.001);
    EXPECT_DOUBLE_EQ(lensTcaFactor(c, 2, 0.5), -0.02 * 0.25 + 0.999);
}

TEST(lensCorrection, distortionModels)
{
    lensCalibData c = neutral();
    c.lens.enabled = true;
    c.lens.model = LENS_DIST_PTLENS;
    c.lens.ptlens = {0, 0.01, -0.02, 0.03};
    EXPECT_DOUBLE_EQ(lensDistortionFactor(c, 0.0), 1 - 0.01 + 0.02 - 0.03);
    EXPECT_DOUBLE_EQ(lensDistortionFactor(c, 1.0), 1.0); // normalised at r = 1
    c.lens.model = LENS_DIST_POLY3;
    c.lens.poly3 = {0, -0.05};
    EXPECT_DOUBLE_EQ(lensDistortionFactor(c, 0.5), -0.05 * 0.25 + 1.05);
    c.lens.model = LENS_DIST_POLY5;
    c.lens.poly5 = {0, 0.1, 0.2};
    EXPECT_DOUBLE_EQ(lensDistortionFactor(c, 0.5), 0.2 * 0.0625 + 0.1 * 0.25 + 1);
    c.lens.enabled = false;
    EXPECT_DOUBLE_EQ(lensDistortionFactor(c, 0.5), 1.0);
    // g for a 3:2 image and calibration, crop ratio 1: 2 / (s - 1).
    EXPECT_NEAR(lensRadiusFactor(300, 200, neutral()), 2.0 / 199, 1e-12);
    EXPECT_EQ(lensCropStep(3000, 4000), 5);
    EXPECT_EQ(lensCropStep(100, 100), 1);
}

TEST(lensCorrection, cropRectangleStaysCoveredAfterCorrection)
{
    const int W = 600, H = 400;
    const std::vector<uint16_t> src(size_t(W) * H * 3, 20000);
    std::vector<uint16_t> out(src.size());
    // poly3: scale = k r^2 + 1 - k, r = 1 at the middle of the long edges.
    enum { CROPPED, WHOLE, ANY };
    struct testCase {
        const char *name;
        double k;
        int expected;
    } cases[] = {
        {"corners sample outside", 0.08, CROPPED},
        {"centre magnified, border inside", -0.08, ANY},
        {"stronger correction", 0.2, CROPPED},
        {"pulls the border in by more than half", 20.0, WHOLE},
    };
    for (const testCase &tc : cases) {
        lensCalibData c = neutral();
        c.lens.enabled = true;
        c.lens.model = LENS_DIST_POLY3;
        c.lens.poly3 = {0, tc.k};
        const lensCropRect_t r = computeLensCropRect(W, H, lensCropStep(W, H), c, 0.5, 0.5, 4);
        const bool whole = r.left == 0 && r.top == 0 && r.right == W - 1 && r.bottom == H - 1;
        if (tc.expected != ANY) {
            EXPECT_EQ(whole, tc.expected == WHOLE) << tc.name << " " << r.left << "," << r.top
                                                   << " " << r.right << "," << r.bottom;
        }
        if (whole)
            continue;
        EXPECT_GE(r.right - r.left + 1, W / 2);
        EXPECT_GE(r.bottom - r.top + 1, H / 2);
        runLensCorrection(src.data(), out.data(), W, H, c, 0.5, 0.5, 4);
        // Every pixel of the rectangle carries image data.
        for (int y = r.top; y <= r.bottom; ++y)
            for (int x = r.left; x <= r.right; ++x)
                ASSERT_NE(out[(size_t(y) * W + x) * 3 + 1], 0) << tc.name << " " << x << "," << y;
        // A mild correction needs no shrinking: beyond its corners data is missing.
        if (tc.k == 0.08) {
            EXPECT_EQ(out[(size_t(r.top - 3) * W + r.left - 3) * 3 + 1], 0) << tc.name;
        }
    }
}

TEST(lensCorrection, realCalibrationFromTheDatabase)
{
    if (!QDir(LENSFUN_SYSTEM_FOLDER).exists())
        GTEST_SKIP() << "lensfun data not installed";
    lensfunDb db(LENSFUN_SYSTEM_FOLDER, QString());
    ASSERT_TRUE(db.load());
    int camera = -1, lens = -1;
    const QList<lensfunCamera> cams = db.cameras();
    for (int i = 0; i < cams.size(); ++i)
        if (cams[i].model == "Canon EOS 5D Mark III")
            camera = i;
    const QList<lensfunLens> lenses = db.lenses();
    for (int i = 0; i < lenses.size(); ++i)
        if (lenses[i].model == "Canon EF 16-35mm f/2.8L USM")
            lens = i;
    ASSERT_GE(camera, 0);
    ASSERT_GE(lens, 0);
    lensCalibData calib;
    double lo = 0, hi = 0;
    ASSERT_TRUE(db.getCalibData(calib, lo, hi, db.cameraAt(camera), db.lensAt(lens), 16));
    EXPECT_TRUE(calib.lens.enabled);
    EXPECT_TRUE(calib.tca.enabled);
    const int W = 300, H = 200;
    const std::vector<uint16_t> src(size_t(W) * H * 3, 30000);
    std::vector<uint16_t> out(src.size());
    const lensCropRect_t r = computeLensCropRect(W, H, 1, calib, 0.5, 0.5, 4);
    runLensCorrection(src.data(), out.data(), W, H, calib, 0.5, 0.5, 4);
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_NE(out[(size_t(y) * W + x) * 3 + c], 0) << x << "," << y << " ch " << c;
}

TEST(lensCorrection, distortedGridComesBackStraight)
{
    // A grid of dots photographed through a lens with a known distortion: the
    // dot that belongs at u sits at c + (u - c) f(|u - c| g) in the photo.
    // The correction must put every dot back within half a pixel.
    const int W = 300, H = 200;
    struct lens_t
    {
        const char *name;
        int model;
        std::vector<double> k;
    };
    const lens_t lenses[] = {{"poly3 barrel", LENS_DIST_POLY3, {0, -0.04}},
                             {"poly5 pincushion", LENS_DIST_POLY5, {0, 0.03, 0.01}},
                             {"ptlens", LENS_DIST_PTLENS, {0, 0.02, -0.08, 0.05}}};
    for (const lens_t &l : lenses) {
        SCOPED_TRACE(l.name);
        lensCalibData c = neutral();
        c.lens.enabled = true;
        c.lens.model = l.model;
        if (l.model == LENS_DIST_POLY3)
            c.lens.poly3 = {l.k[0], l.k[1]};
        else if (l.model == LENS_DIST_POLY5)
            c.lens.poly5 = {l.k[0], l.k[1], l.k[2]};
        else
            c.lens.ptlens = {l.k[0], l.k[1], l.k[2], l.k[3]};
        const double g = lensRadiusFactor(W, H, c);
        const double cx = int(0.5 * W), cy = int(0.5 * H);
        struct dot_t
        {
            double ux, uy, dx, dy;
        };
        std::vector<dot_t> dots;
        for (int gy = 20; gy <= H - 20; gy += 32)
            for (int gx = 20; gx <= W - 20; gx += 32) {
                const double f = lensDistortionFactor(c, std::hypot(gx - cx, gy - cy) * g);
                dots.push_back({double(gx), double(gy), cx + (gx - cx) * f, cy + (gy - cy) * f});
            }
        std::vector<uint16_t> photo(size_t(W) * H * 3, 0);
        for (const dot_t &d : dots)
            for (int y = int(d.dy) - 6; y <= int(d.dy) + 6; y++)
                for (int x = int(d.dx) - 6; x <= int(d.dx) + 6; x++) {
                    if (x < 0 || y < 0 || x >= W || y >= H)
                        continue;
                    const double v = 60000.0 * std::exp(-((x - d.dx) * (x - d.dx) + (y - d.dy) * (y - d.dy)) / 4.5);
                    for (int ch = 0; ch < 3; ch++) {
                        uint16_t &s = photo[(size_t(y) * W + x) * 3 + ch];
                        s = uint16_t(std::min(65535.0, s + v));
                    }
                }
        std::vector<uint16_t> out(photo.size());
        runLensCorrection(photo.data(), out.data(), W, H, c, 0.5, 0.5, 2);

        // Centroid of the green channel in a window around the ideal position.
        const auto centroid = [&](const std::vector<uint16_t> &img, double ux, double uy, double &mx, double &my) {
            double s = 0, sx = 0, sy = 0;
            for (int y = int(uy) - 7; y <= int(uy) + 7; y++)
                for (int x = int(ux) - 7; x <= int(ux) + 7; x++) {
                    const double v = img[(size_t(y) * W + x) * 3 + 1];
                    s += v;
                    sx += v * x;
                    sy += v * y;
                }
            mx = sx / std::max(s, 1.0);
            my = sy / std::max(s, 1.0);
        };
        double worstBefore = 0, worstAfter = 0;
        for (const dot_t &d : dots) {
            double mx, my;
            centroid(out, d.ux, d.uy, mx, my);
            worstAfter = std::max(worstAfter, std::hypot(mx - d.ux, my - d.uy));
            worstBefore = std::max(worstBefore, std::hypot(d.dx - d.ux, d.dy - d.uy));
        }
        EXPECT_GT(worstBefore, 2.0) << "the lens must move the outer dots";
        EXPECT_LT(worstAfter, 0.5);
    }
}
