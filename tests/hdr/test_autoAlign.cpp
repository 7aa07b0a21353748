#include "hdr/autoAlign.h"

#include "app/sharedFlags.h"
#include "testSupport.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

// A 3 x 3 homography from the eight coefficients (the ninth is 1).
struct homography {
    double m[9];
    explicit homography(const alignTransform_t &t)
    {
        for (int i = 0; i < 8; ++i)
            m[i] = t.a[i];
        m[8] = 1;
    }
    homography inverse() const
    {
        const double *a = m;
        double inv[9] = {a[4] * a[8] - a[5] * a[7], a[2] * a[7] - a[1] * a[8],
                         a[1] * a[5] - a[2] * a[4], a[5] * a[6] - a[3] * a[8],
                         a[0] * a[8] - a[2] * a[6], a[2] * a[3] - a[0] * a[5],
                         a[3] * a[7] - a[4] * a[6], a[1] * a[6] - a[0] * a[7],
                         a[0] * a[4] - a[1] * a[3]};
        homography h(alignTransform_t{});
        for (int i = 0; i < 9; ++i)
            h.m[i] = inv[i] / inv[8];
        return h;
    }
    void map(double x, double y, double &X, double &Y) const
    {
        const double w = m[6] * x + m[7] * y + m[8];
        X = (m[0] * x + m[1] * y + m[2]) / w;
        Y = (m[3] * x + m[4] * y + m[5]) / w;
    }
};

// Radiance of a textured scene: overlapping rectangles of random brightness.
struct scene {
    int w, h;
    std::vector<float> radiance;
    scene(int w_, int h_, unsigned seed) : w(w_), h(h_), radiance(size_t(w_) * h_, 0.3f)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> px(-20, w_), py(-20, h_), size(6, 40);
        std::uniform_real_distribution<float> value(0.03f, 0.9f);
        const int count = w_ * h_ / 150;
        for (int i = 0; i < count; ++i) {
            const int x0 = px(rng), y0 = py(rng), sw = size(rng), sh = size(rng);
            const float v = value(rng);
            for (int y = std::max(0, y0); y < std::min(h_, y0 + sh); ++y)
                for (int x = std::max(0, x0); x < std::min(w_, x0 + sw); ++x)
                    radiance[size_t(y) * w_ + x] = v;
        }
        // Soften the edges a little, as a lens would.
        std::vector<float> soft(radiance);
        for (int y = 1; y < h_ - 1; ++y)
            for (int x = 1; x < w_ - 1; ++x) {
                float s = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        s += radiance[size_t(y + dy) * w_ + x + dx];
                soft[size_t(y) * w_ + x] = s / 9;
            }
        radiance.swap(soft);
    }
    float sample(double x, double y) const
    {
        if (x < 0 || y < 0 || x > w - 1.001 || y > h - 1.001)
            return 0.3f;
        const int ix = int(x), iy = int(y);
        const double fx = x - ix, fy = y - iy;
        const float *p = &radiance[size_t(iy) * w + ix];
        return float((1 - fy) * ((1 - fx) * p[0] + fx * p[1]) + fy * ((1 - fx) * p[w] + fx * p[w + 1]));
    }
};

// Photo k: the scene seen through the inverse of its base-to-photo transform,
// exposed at ev and passed through a gamma response.
std::vector<uint16_t> renderPhoto(const scene &s, const alignTransform_t &truth, double ev)
{
    const homography toScene = homography(truth).inverse();
    std::vector<uint16_t> rgb(size_t(s.w) * s.h * 3);
    const double gain = std::pow(2.0, ev);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            double sx, sy;
            toScene.map(x, y, sx, sy);
            const double v = std::min(1.0, s.sample(sx, sy) * gain);
            const uint16_t g = uint16_t(std::pow(v, 1 / 2.2) * 65535);
            uint16_t *p = &rgb[(size_t(y) * s.w + x) * 3];
            p[0] = uint16_t(g * 0.9);
            p[1] = g;
            p[2] = uint16_t(g * 0.95);
        }
    return rgb;
}

alignTransform_t similarityAboutCentre(double angle, double sx, double sy, int w, int h,
                                       double p6 = 0, double p7 = 0)
{
    alignTransform_t t;
    const double c = std::cos(angle), s = std::sin(angle), cx = w / 2.0, cy = h / 2.0;
    t.a[0] = c;
    t.a[1] = -s;
    t.a[2] = cx - c * cx + s * cy + sx;
    t.a[3] = s;
    t.a[4] = c;
    t.a[5] = cy - s * cx - c * cy + sy;
    t.a[6] = p6;
    t.a[7] = p7;
    return t;
}

double rmsDeviation(const alignTransform_t &a, const alignTransform_t &b, int w, int h)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y < h; y += h / 16)
        for (int x = 0; x < w; x += w / 16) {
            double X1, Y1, X2, Y2;
            applyTransform(3, a, x, y, X1, Y1);
            applyTransform(3, b, x, y, X2, Y2);
            sum += (X1 - X2) * (X1 - X2) + (Y1 - Y2) * (Y1 - Y2);
            ++n;
        }
    return std::sqrt(sum / n);
}

autoAlignSource_t sourceOf(const std::vector<std::vector<uint16_t>> &photos, int w, int h,
                           std::vector<double> ev)
{
    autoAlignSource_t src;
    src.width = w;
    src.height = h;
    src.photoCount = int(photos.size());
    src.ev = std::move(ev);
    src.threadCount = 4;
    src.seed = 12345;
    src.readPhoto = [&photos](int k, uint16_t *rgb) {
        std::copy(photos[size_t(k)].begin(), photos[size_t(k)].end(), rgb);
        return true;
    };
    return src;
}

} // namespace

TEST(autoAlign, sizesFollowTheShorterSide)
{
    struct testCase {
        int w, h, depth, radius, top;
    } cases[] = {
        {64, 500, 0, 20, 0},  {65, 65, 1, 12, 0},    {129, 200, 1, 12, 0}, {130, 200, 2, 12, 1},
        {259, 300, 2, 16, 1}, {260, 400, 3, 16, 2},  {6000, 4000, 6, 48, 2},
    };
    for (const testCase &tc : cases) {
        const alignSizes_t s = alignmentSizes(tc.w, tc.h);
        EXPECT_EQ(s.depth, tc.depth) << tc.w << "x" << tc.h;
        EXPECT_EQ(s.tileRadius, tc.radius) << tc.w << "x" << tc.h;
        EXPECT_EQ(s.topMatchLevel, tc.top) << tc.w << "x" << tc.h;
        EXPECT_LT(s.topMatchLevel, std::max(1, s.depth));
    }
}

TEST(autoAlign, pinsSpreadCheckAndQuadrantOrder)
{
    // A square's corners spread around their centre; four collinear points do not.
    int x[4] = {0, 100, 0, 100}, y[4] = {0, 100, 100, 0}, cx = 0, cy = 0;
    ASSERT_TRUE(pinsSpreadCheck(x, y, cx, cy));
    EXPECT_NEAR(cx, 50, 1);
    EXPECT_NEAR(cy, 50, 1);
    int lx[4] = {0, 10, 20, 30}, ly[4] = {0, 0, 0, 0};
    EXPECT_FALSE(pinsSpreadCheck(lx, ly, cx, cy));

    const corner corners[4] = {{100, 100, 1}, {0, 0, 1}, {100, 0, 1}, {0, 100, 1}};
    int picked[4] = {0, 1, 2, 3};
    sortPinsByQuadrant(picked, corners, 50, 50);
    EXPECT_EQ(picked[0], 1); // top-left
    EXPECT_EQ(picked[1], 0); // bottom-right
    EXPECT_EQ(picked[2], 3); // bottom-left
    EXPECT_EQ(picked[3], 2); // top-right
}

TEST(autoAlign, coarseOffsetFindsAGlobalShift)
{
    const int W = 320, H = 240;
    scene s(W, H, 3);
    alignTransform_t shift;
    shift.a[2] = 10;
    shift.a[5] = -6;
    const std::vector<uint16_t> base = renderPhoto(s, alignTransform_t(), 0);
    const std::vector<uint16_t> moved = renderPhoto(s, shift, 0);
    const alignSizes_t sz = alignmentSizes(W, H);
    pyramid pb, pp;
    ASSERT_TRUE(pb.makePyramid(W, H, sz.depth, 1, 1, true));
    ASSERT_TRUE(pp.makePyramid(W, H, sz.depth, 1, 1, true));
    std::vector<uint16_t> work = base;
    matchLevelsState_t st;
    matchLevels(work.data(), W, H, true, 0, st, pb, nullptr, nullptr, 0);
    work = moved;
    matchLevels(work.data(), W, H, false, 0, st, pp, nullptr, nullptr, 1);
    int ox = 99, oy = 99;
    coarseOffset(pp, pb, sz.depth, ox, oy);
    // The photo point (x - ox, y - oy) shows base point (x, y): ox = -10, oy = 6.
    EXPECT_NEAR(ox, -10, 2);
    EXPECT_NEAR(oy, 6, 2);
    coarseOffset(pb, pb, sz.depth, ox, oy);
    EXPECT_EQ(ox, 0);
    EXPECT_EQ(oy, 0);
}

TEST(autoAlign, syntheticBracketsRecoverKnownTransforms)
{
    hdrBreakFlag = false;
    const int W = 640, H = 480;
    scene s(W, H, 11);
    const std::vector<alignTransform_t> truth = {
        similarityAboutCentre(0.004, 3.3, -2.6, W, H, 4e-6, -3e-6),
        alignTransform_t(),
        similarityAboutCentre(-0.006, -5.7, 4.25, W, H, -3e-6, 5e-6),
    };
    const std::vector<double> ev = {-1.5, 0, 1.5};
    std::vector<std::vector<uint16_t>> photos;
    for (size_t k = 0; k < truth.size(); ++k)
        photos.push_back(renderPhoto(s, truth[k], ev[k]));

    autoAlignSource_t src = sourceOf(photos, W, H, ev);
    int progressRows = 0;
    src.progress = [&progressRows](int rows) { progressRows += rows; };
    autoAlignResult_t result;
    ASSERT_TRUE(autoAlignPhotos(src, 1, -1, result)) << qPrintable(result.error);
    for (int k : {0, 2}) {
        EXPECT_TRUE(result.aligned[size_t(k)]) << k;
        EXPECT_LT(rmsDeviation(result.transforms[size_t(k)], truth[size_t(k)], W, H), 0.5) << k;
    }
    EXPECT_TRUE(result.transforms[1].isIdentity());
    EXPECT_GT(progressRows, 0);

    // Only the selected photo is aligned; the other keeps identity and counts as ok.
    ASSERT_TRUE(autoAlignPhotos(src, 1, 2, result));
    EXPECT_TRUE(result.transforms[0].isIdentity());
    EXPECT_TRUE(result.aligned[0]);
    EXPECT_LT(rmsDeviation(result.transforms[2], truth[2], W, H), 0.5);
}

TEST(autoAlign, identicalPhotosGiveIdentity)
{
    hdrBreakFlag = false;
    const int W = 400, H = 300;
    scene s(W, H, 5);
    std::vector<std::vector<uint16_t>> photos(2, renderPhoto(s, alignTransform_t(), 0));
    autoAlignSource_t src = sourceOf(photos, W, H, {0, 0});
    autoAlignResult_t result;
    ASSERT_TRUE(autoAlignPhotos(src, 0, -1, result));
    EXPECT_TRUE(result.aligned[1]);
    EXPECT_LT(rmsDeviation(result.transforms[1], alignTransform_t(), W, H), 0.4);
}

TEST(autoAlign, smallImagesAlignOrFailClearly)
{
    hdrBreakFlag = false;
    // Depth 0: refused with a reason.
    {
        std::vector<std::vector<uint16_t>> photos(2, std::vector<uint16_t>(64 * 80 * 3, 1000));
        autoAlignSource_t src = sourceOf(photos, 80, 64, {0, 1});
        autoAlignResult_t result;
        EXPECT_FALSE(autoAlignPhotos(src, 0, -1, result));
        EXPECT_FALSE(result.error.isEmpty());
    }
    // Depth 1 and 2: the tile search starts on a level the pyramid has, so
    // tiles are really compared and small photos align.
    struct testCase {
        int w, h;
    } cases[] = {{120, 100}, {200, 150}, {300, 250}};
    for (const testCase &tc : cases) {
        scene s(tc.w, tc.h, 21);
        alignTransform_t shift;
        shift.a[2] = 2;
        shift.a[5] = -1;
        std::vector<std::vector<uint16_t>> photos = {renderPhoto(s, alignTransform_t(), 0),
                                                     renderPhoto(s, shift, 0.5)};
        autoAlignSource_t src = sourceOf(photos, tc.w, tc.h, {0, 0.5});
        autoAlignResult_t result;
        // A textured scene this small still aligns.
        ASSERT_TRUE(autoAlignPhotos(src, 0, -1, result)) << tc.w << ": " << qPrintable(result.error);
        EXPECT_TRUE(result.aligned[1]) << tc.w;
        EXPECT_LT(rmsDeviation(result.transforms[1], shift, tc.w, tc.h), 1.0) << tc.w;
    }
    // A flat photo has no corners: a clear failure.
    std::vector<std::vector<uint16_t>> flat(2, std::vector<uint16_t>(300 * 200 * 3, 30000));
    autoAlignSource_t src = sourceOf(flat, 300, 200, {0, 0});
    autoAlignResult_t result;
    EXPECT_FALSE(autoAlignPhotos(src, 0, -1, result));
    EXPECT_FALSE(result.error.isEmpty());
}

namespace {

std::vector<uint16_t> loadRgb16(const QString &path, int &w, int &h)
{
    QImage img(path);
    img = img.convertToFormat(QImage::Format_RGB888);
    w = img.width();
    h = img.height();
    std::vector<uint16_t> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uchar *line = img.constScanLine(y);
        for (int i = 0; i < w * 3; ++i)
            rgb[size_t(y) * w * 3 + i] = uint16_t(line[i] * 257);
    }
    return rgb;
}

// Gradient magnitude of the grey image, normalised to its own mean, so that
// differently exposed frames can be compared.
std::vector<float> gradientImage(const std::vector<uint16_t> &rgb, int w, int h)
{
    std::vector<float> grey(size_t(w) * h), g(size_t(w) * h, 0);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = std::log1p(float(rgb[i * 3] + rgb[i * 3 + 1] + rgb[i * 3 + 2]) / 3.0f);
    double sum = 0;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const float gx = grey[size_t(y) * w + x + 1] - grey[size_t(y) * w + x - 1];
            const float gy = grey[size_t(y + 1) * w + x] - grey[size_t(y - 1) * w + x];
            g[size_t(y) * w + x] = std::sqrt(gx * gx + gy * gy);
            sum += g[size_t(y) * w + x];
        }
    const float mean = float(sum / g.size());
    for (float &v : g)
        v /= mean > 0 ? mean : 1;
    return g;
}

// The integer shift within +-r that best lines up b with a (correlation of
// the gradient images over the central area).
void bestShift(const std::vector<float> &a, const std::vector<float> &b, int w, int h, int r,
               int &sx, int &sy)
{
    double best = -1;
    const int m = w / 8;
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx) {
            double c = 0;
            for (int y = m; y < h - m; ++y)
                for (int x = m; x < w - m; ++x)
                    c += a[size_t(y) * w + x] * b[size_t(y + dy) * w + x + dx];
            if (c > best) {
                best = c;
                sx = dx;
                sy = dy;
            }
        }
}

} // namespace

TEST(autoAlign, realMisalignedBracketAligns)
{
    LUMIDRA_REQUIRE_TESTDATA();
    hdrBreakFlag = false;
    const char *names[] = {"IMG_4209.jpg", "IMG_4210.jpg", "IMG_4211.jpg"};
    std::vector<std::vector<uint16_t>> photos;
    int w = 0, h = 0;
    for (const char *n : names) {
        const QString path =
            testSupport::testDataFile(QString("brackets/canal_aeb_misaligned_3exp/") + n);
        ASSERT_FALSE(path.isEmpty()) << n;
        photos.push_back(loadRgb16(path, w, h));
        ASSERT_GT(w, 0);
    }
    autoAlignSource_t src = sourceOf(photos, w, h, {0, -2, 2});
    autoAlignResult_t result;
    ASSERT_TRUE(autoAlignPhotos(src, 0, -1, result)) << qPrintable(result.error);

    const std::vector<float> baseGrad = gradientImage(photos[0], w, h);
    const double expected[3][2] = {{0, 0}, {14, -3}, {22, -11}};
    for (int k : {1, 2}) {
        ASSERT_TRUE(result.aligned[size_t(k)]) << k;
        // The frame is offset by about the measured shift...
        double X, Y;
        applyTransform(3, result.transforms[size_t(k)], w / 2.0, h / 2.0, X, Y);
        EXPECT_NEAR(std::fabs(X - w / 2.0), std::fabs(expected[k][0]), 3) << k;
        EXPECT_NEAR(std::fabs(Y - h / 2.0), std::fabs(expected[k][1]), 3) << k;
        // ...and once warped onto the base grid its gradients agree within 1 px.
        std::vector<uint16_t> warped(photos[size_t(k)].size());
        runGetTransformedImage(photos[size_t(k)].data(), warped.data(), w, h,
                               result.transforms[size_t(k)], 3, 4);
        const std::vector<float> g = gradientImage(warped, w, h);
        int sx = 99, sy = 99;
        bestShift(baseGrad, g, w, h, 3, sx, sy);
        EXPECT_LE(std::abs(sx), 1) << k;
        EXPECT_LE(std::abs(sy), 1) << k;
    }
}

TEST(autoAlign, histogramTablesBringThePhotoToTheBaseTones)
{
    // A photo at half the brightness with a gain table of 2 gives the same
    // grey levels as the base photo itself.
    const int W = 80, H = 70;
    std::vector<uint16_t> base(size_t(W) * H * 3), dark(base.size());
    for (size_t i = 0; i < base.size(); ++i) {
        base[i] = uint16_t(8000 + (i * 53) % 40000);
        dark[i] = uint16_t(base[i] / 2);
    }
    // Grey values are channel means: keep the three channels equal.
    for (size_t i = 0; i < base.size(); i += 3) {
        base[i + 1] = base[i + 2] = base[i];
        dark[i + 1] = dark[i + 2] = dark[i];
    }
    pyramid pb, pd;
    ASSERT_TRUE(pb.makePyramid(W, H, 1, 1, 1, true));
    ASSERT_TRUE(pd.makePyramid(W, H, 1, 1, 1, true));
    matchLevelsState_t st;
    matchLevels(base.data(), W, H, true, 1.0, st, pb, nullptr, nullptr, 0);
    std::vector<double> gain(4096, 2.0), one(4096, 1.0);
    matchLevels(dark.data(), W, H, false, 1.0, st, pd, gain.data(), one.data(), 1);
    int differ = 0;
    for (int i = 0; i < W * H; ++i)
        differ += std::abs(int(static_cast<uint8_t *>(pb.levels[0].data)[i]) -
                           int(static_cast<uint8_t *>(pd.levels[0].data)[i])) > 1;
    EXPECT_EQ(differ, 0);
}
