// Filter kernels: each against a short double-precision reference on a small
// image, plus the edge cases that used to misbehave (radius 64, detail
// overflow, 32-bit products, deep flood fills).
#include "project/filterKernels.h"

#include "app/sharedFlags.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int W = 9, H = 7;

std::vector<uint16_t> randomRgb16(int w, int h, unsigned seed, int maxValue = 65535)
{
    std::mt19937 rng(seed);
    std::vector<uint16_t> v(size_t(w) * h * 3);
    for (auto &s : v)
        s = uint16_t(rng() % unsigned(maxValue + 1));
    return v;
}

double clamp16(double v) { return std::min(65535.0, std::max(0.0, v)); }

struct yccRef {
    double y, cr, cb;
};
yccRef ycc(const uint16_t *p)
{
    return {clamp16(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]), 0.5 * p[0] - 0.4187 * p[1] - 0.0813 * p[2],
            0.5 * p[2] - 0.3313 * p[1] - 0.1687 * p[0]};
}
void rebuild(double y, const yccRef &c, const uint16_t *in, uint16_t *out, double op)
{
    const double rgb[3] = {clamp16(y + 1.402 * c.cr), clamp16(y - 0.34414 * c.cb - 0.71414 * c.cr),
                           clamp16(y + 1.772 * c.cb)};
    for (int k = 0; k < 3; ++k)
        out[k] = uint16_t((1 - op) * in[k] + op * rgb[k]);
}

// Reference of one bilateral RGB pass along rows (vertical false) or columns.
std::vector<uint16_t> refBilateralRgb(const std::vector<uint16_t> &in, int w, int h, bool vertical,
                                      const double *spatial, int r, const double *range, double op)
{
    std::vector<uint16_t> out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint16_t *c = &in[(size_t(y) * w + x) * 3];
            const yccRef cc = ycc(c);
            const long long cy = (long long)cc.y;
            double s = 0, ws = 0;
            for (int k = -r; k <= r; ++k) {
                const int xx = vertical ? x : x + k, yy = vertical ? y + k : y;
                if (xx < 0 || yy < 0 || xx >= w || yy >= h)
                    continue;
                const long long d = (long long)ycc(&in[(size_t(yy) * w + xx) * 3]).y;
                const double wt = spatial[std::abs(k)] * range[(d - cy) * (d - cy) / 65535];
                s += d / 65535.0 * wt;
                ws += wt;
            }
            rebuild(clamp16(s / ws * 65535), cc, c, &out[(size_t(y) * w + x) * 3], op);
        }
    return out;
}

// Reference of the separable blur / sharpen (both passes).
std::vector<uint16_t> refSeparable(std::vector<uint16_t> img, int w, int h, const double *wt, int r, int mode,
                                   double amount, double threshold)
{
    std::vector<uint16_t> tmp(img.size());
    auto mean = [&](const std::vector<uint16_t> &src, int x, int y, bool vertical, int ch) {
        double s = 0, ws = 0;
        for (int k = -r; k <= r - 1; ++k) {
            const int xx = vertical ? x : x + k, yy = vertical ? y + k : y;
            if (xx < 0 || yy < 0 || xx >= w || yy >= h)
                continue;
            s += src[(size_t(yy) * w + xx) * 3 + ch] * wt[std::abs(k)];
            ws += wt[std::abs(k)];
        }
        return s / ws;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                tmp[(size_t(y) * w + x) * 3 + c] = uint16_t(mean(img, x, y, false, c));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint16_t *o = &img[(size_t(y) * w + x) * 3];
            if (mode == 0) {
                for (int c = 0; c < 3; ++c)
                    o[c] = uint16_t((1 - amount) * o[c] + amount * mean(tmp, x, y, true, c));
            } else {
                long long d[3];
                for (int c = 0; c < 3; ++c)
                    d[c] = (long long)o[c] - (long long)mean(tmp, x, y, true, c);
                const double ov = (std::llabs(d[0]) + std::llabs(d[1]) + std::llabs(d[2])) / 3.0 / 65535;
                if (ov > threshold)
                    for (int c = 0; c < 3; ++c)
                        o[c] = uint16_t(clamp16(std::trunc(d[c] * amount * (1 - std::fabs(ov - threshold)) + o[c])));
            }
        }
    return img;
}

} // namespace

TEST(filterKernels, spatialWeightsReachRadius64Safely)
{
    double w[FILTER_WEIGHT_TAPS];
    EXPECT_EQ(buildSpatialWeights(1000, POSTPROCESS_WEIGHT_CUTOFF, w), 64);
    EXPECT_GT(w[64], 0);
    const int r = buildSpatialWeights(2, POSTPROCESS_WEIGHT_CUTOFF, w);
    double sum = 0;
    for (int i = 0; i < 64; ++i)
        sum += std::exp(-i * i / 8.0);
    EXPECT_NEAR(w[0], 1 / sum, 1e-15);
    EXPECT_LT(w[r], 0.001);
    EXPECT_GE(w[r - 1], 0.001);

    // A radius-64 bilateral and blur pass over a short image read entry 64
    // of their tables (ASan checks the reads).
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    buildRangeWeights(0.5, range.data());
    std::vector<uint16_t> img = randomRgb16(150, 3, 5), out(img.size());
    _bilateral_threadParams_t b{false, img.data(), out.data(), 150, 3, 0, 3, 1.0, w, 64, range.data()};
    buildSpatialWeights(1000, POSTPROCESS_WEIGHT_CUTOFF, w);
    bilateralRgbThread(b);
    EXPECT_EQ(out, refBilateralRgb(img, 150, 3, false, w, 64, range.data(), 1.0));
    _separableConvolution3_threadParams_t s{0, false, img.data(), out.data(), 150, 3, 0, 3, 1.0, 0, w, 64};
    separableConvolution3Thread(s);
}

TEST(filterKernels, bilateralRgbMatchesReference)
{
    double spatial[FILTER_WEIGHT_TAPS];
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    for (const double sigma : {0.8, 2.0}) {
        for (const double op : {1.0, 0.4}) {
            const int r = buildSpatialWeights(sigma, POSTPROCESS_WEIGHT_CUTOFF, spatial);
            buildRangeWeights(0.3, range.data());
            // 9 x 7 and a tall 5 x 40 (more rows than the luminance ring holds).
            for (const auto &size : {std::pair<int, int>{W, H}, std::pair<int, int>{5, 40}}) {
                const int w = size.first, h = size.second;
                const std::vector<uint16_t> img = randomRgb16(w, h, 7);
                for (bool vertical : {false, true}) {
                    std::vector<uint16_t> out(img.size());
                    // A task over the middle lines only, to check the range offsets.
                    const int lines = vertical ? w : h;
                    _bilateral_threadParams_t p{vertical, img.data(), out.data(), w, h, 1, lines - 1, op,
                                                spatial, r, range.data()};
                    bilateralRgbThread(p);
                    const std::vector<uint16_t> ref = refBilateralRgb(img, w, h, vertical, spatial, r, range.data(), op);
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x) {
                            const int line = vertical ? x : y;
                            if (line < 1 || line >= lines - 1)
                                continue;
                            for (int c = 0; c < 3; ++c)
                                ASSERT_EQ(out[(size_t(y) * w + x) * 3 + c], ref[(size_t(y) * w + x) * 3 + c])
                                    << "sigma " << sigma << " opacity " << op << " vertical " << vertical << " at "
                                    << x << "," << y << " size " << w << "x" << h;
                        }
                }
            }
        }
    }
}

TEST(filterKernels, bilateralGrayKeepsIsolatedExtremes)
{
    // Neighbours that differ by 65535 get a range weight of almost 0.
    double spatial[FILTER_WEIGHT_TAPS];
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    const int r = buildSpatialWeights(2, POSTPROCESS_WEIGHT_CUTOFF, spatial);
    buildRangeWeights(0.05, range.data());
    std::vector<uint16_t> img(W * H, 0), out(W * H, 1);
    img[3 * W + 4] = 65535;
    _bilateral_threadParams_t p{false, img.data(), out.data(), W, H, 0, H, 1.0, spatial, r, range.data()};
    EXPECT_EQ(bilateralGrayThread(p), taskResult_t::done);
    EXPECT_GE(out[3 * W + 4], 65530);
    EXPECT_EQ(out[3 * W + 3], 0);

    // The grey pass stops when asked to and says so, along rows and along
    // columns, for either flag.
    for (const bool vertical : {false, true}) {
        for (std::atomic<bool> *flag : {&breakFlag, &abortBackgroundFlag}) {
            std::vector<uint16_t> untouched(W * H, 7);
            p.output = untouched.data();
            p.vertical = vertical;
            p.end = vertical ? W : H;
            *flag = true;
            const taskResult_t result = bilateralGrayThread(p);
            *flag = false;
            EXPECT_EQ(result, taskResult_t::cancelled) << vertical;
            EXPECT_EQ(untouched[0], 7) << vertical;
        }
    }
}

TEST(filterKernels, separableBlurAndSharpenMatchReference)
{
    double w[FILTER_WEIGHT_TAPS];
    const struct {
        int mode;
        double sigma, amount, threshold;
    } cases[] = {{0, 1.0, 1.0, 0}, {0, 2.5, 0.5, 0}, {1, 1.0, 2.0, 0.0}, {1, 1.5, 1.0, 0.05}, {1, 1.0, 3.0, 0.9}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " sigma " << c.sigma);
        const int r = buildSpatialWeights(c.sigma, POSTPROCESS_WEIGHT_CUTOFF, w);
        for (const auto &size : {std::pair<int, int>{W, H}, std::pair<int, int>{6, 45}}) {
            const int iw = size.first, ih = size.second;
            const std::vector<uint16_t> img = randomRgb16(iw, ih, 11);
            const std::vector<uint16_t> expected = refSeparable(img, iw, ih, w, r, c.mode, c.amount, c.threshold);
            for (int tasks : {1, 3}) {
                std::vector<uint16_t> work = img, scratch(img.size());
                if (c.mode == 0)
                    gaussianBlurRgb16(work.data(), scratch.data(), iw, ih, c.sigma, c.amount, tasks);
                else
                    sharpenRgb16(work.data(), scratch.data(), iw, ih, c.sigma, c.amount, c.threshold, tasks);
                EXPECT_EQ(work, expected);
            }
        }
    }
    // Below the threshold sharpening leaves pixels alone.
    std::vector<uint16_t> flat(W * H * 3, 1000), scratch(flat.size());
    flat[3 * (3 * W + 4)] = 1100;
    std::vector<uint16_t> before = flat;
    sharpenRgb16(flat.data(), scratch.data(), W, H, 1.0, 5.0, 0.5, 2);
    EXPECT_EQ(flat, before);
}

TEST(filterKernels, medianMatchesReference)
{
    for (int shapeIndex = 0; shapeIndex < MEDIAN_SHAPE_COUNT; ++shapeIndex) {
        SCOPED_TRACE(shapeIndex);
        uint8_t shape[MEDIAN_GATHER_SIZE];
        const int r = buildMedianShape(shapeIndex, shape);
        EXPECT_EQ(r, shapeIndex % 3 + 1);
        const std::vector<uint16_t> img = randomRgb16(W, H, 21 + shapeIndex);
        // Reference.
        std::vector<uint16_t> expected = img;
        const double threshold = 0.05, op = 0.8;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                std::vector<int> g;
                const uint16_t *c = &img[(size_t(y) * W + x) * 3];
                const yccRef cc = ycc(c);
                for (int dy = -r; dy <= r; ++dy)
                    for (int dx = -r; dx <= r; ++dx)
                        if (y + dy >= 0 && y + dy < H && x + dx >= 0 && x + dx < W
                            && shape[(dy + r) * (2 * r + 1) + dx + r])
                            g.push_back(int(ycc(&img[(size_t(y + dy) * W + x + dx) * 3]).y));
                double sum = 0;
                for (int v : g)
                    sum += v;
                const double othersMean = (sum - int(cc.y)) / double(g.size() - 1);
                if (threshold < std::fabs(othersMean - int(cc.y)) / 65535) {
                    std::sort(g.begin(), g.end());
                    rebuild(g[g.size() / 2], cc, c, &expected[(size_t(y) * W + x) * 3], op);
                }
            }
        std::vector<uint16_t> work = img, scratch(img.size());
        medianRgb16(work.data(), scratch.data(), W, H, shapeIndex, threshold, op, 3);
        EXPECT_EQ(work, expected);
    }
    // Square shape 1 is the 3 x 3 window; cross shape 9 is 5 pixels.
    uint8_t shape[MEDIAN_GATHER_SIZE];
    buildMedianShape(9, shape);
    EXPECT_EQ(std::count(shape, shape + 9, 1), 5);
}

TEST(filterKernels, medianAtCornerWithBarShape)
{
    // A radius-1 vertical bar at the top-left corner sees only the centre and
    // the pixel below it; a constant column returns the centre.
    uint8_t shape[MEDIAN_GATHER_SIZE];
    const int r = buildMedianShape(3, shape);
    std::vector<uint16_t> img(W * H * 3, 30000), out = img;
    _median_threadParams_t p{img.data(), out.data(), W, H, 0, 1, 1.0, 0.0, shape, r};
    medianThread(p);
    EXPECT_EQ(out, img);
}

TEST(filterKernels, quickSortInt)
{
    int a[] = {5, -1, 3, 3, 0, 9};
    quickSortInt(a, 1, 4);
    EXPECT_EQ(std::vector<int>(a, a + 6), (std::vector<int>{5, -1, 0, 3, 3, 9}));
}

TEST(filterKernels, sampleTargetBalanceKnownAnswer)
{
    _sampleTargetBalance_threadParams_t p{};
    uint16_t px[3] = {32768, 16384, 49152};
    p.image = px;
    p.width = 1;
    p.height = 1;
    p.firstRow = 0;
    p.endRow = 1;
    p.opacity = 0.5;
    p.sample[0][0] = 0.5; p.target[0][0] = 0.25; // red shadows
    p.sample[1][1] = 0.4; p.target[1][1] = 0.6;  // green midtones
    p.sample[2][2] = 0.3;                        // blue highlights, target 0: off
    const double r = 32768 / 65535.0, g = 16384 / 65535.0, b = 49152 / 65535.0;
    const double L = 0.3086 * r + 0.6094 * g + 0.082 * b;
    const double ws = (1 - L) * (1 - L), wm = 1 - 4 * (L - 0.5) * (L - 0.5);
    const double nr = std::min(1.0, r * ws * 0.25 / 0.5 + (1 - ws) * r);
    const double ng = std::min(1.0, g * wm * 0.6 / 0.41 + (1 - wm) * g);
    sampleTargetBalanceRgb16(p, 1);
    EXPECT_EQ(px[0], uint16_t((0.5 * r + 0.5 * nr) * 65535));
    EXPECT_EQ(px[1], uint16_t((0.5 * g + 0.5 * ng) * 65535));
    EXPECT_EQ(px[2], uint16_t(b * 65535));
}

TEST(filterKernels, recursiveGaussianMatchesReference)
{
    // The wide image has several column blocks of 32 for the tasks to share.
    for (const auto &size : {std::pair<int, int>{9, 7}, std::pair<int, int>{75, 6}})
    for (bool panorama : {false, true}) {
        const int W = size.first, H = size.second;
        SCOPED_TRACE(testing::Message() << "panorama " << panorama << " width " << W);
        std::vector<uint16_t> img(W * H);
        std::mt19937 rng(3);
        for (auto &v : img)
            v = uint16_t(rng());
        // Reference.
        const double sigma = 1.3;
        const double b = std::exp(std::log(0.5) / sigma * std::sqrt(2.0));
        const uint64_t a = uint64_t(b * 65536 * b);
        auto run = [&](std::vector<uint64_t> &v) {
            uint64_t y = v[0];
            for (auto &x : v) { y = ((65535 - a) * x + a * y) >> 16; x = y; }
            y = v.back();
            for (auto it = v.rbegin(); it != v.rend(); ++it) { y = ((65535 - a) * *it + a * y) >> 16; *it = y; }
        };
        std::vector<uint16_t> ref = img;
        const int extra = panorama ? int(2.5 * sigma) : 0;
        const int to = panorama ? std::min(W - 1 + extra, 2 * (W - 1)) : W - 1;
        for (int y = 0; y < H; ++y) {
            std::vector<uint64_t> v;
            for (int x = -extra; x <= to; ++x)
                v.push_back(img[y * W + (panorama ? ((x % (W - 1)) + (W - 1)) % (W - 1) : x)]);
            run(v);
            for (int x = 1; x <= W - 2; ++x)
                ref[y * W + x] = uint16_t(v[x + extra]);
        }
        for (int x = 1; x < W; ++x) {
            std::vector<uint64_t> v;
            for (int y = 0; y < H; ++y)
                v.push_back(ref[y * W + x]);
            run(v);
            for (int y = 0; y < H; ++y)
                ref[y * W + x] = uint16_t(v[y]);
        }
        for (int y = 0; y < H; ++y) {
            ref[y * W + W - 1] = ref[y * W + W - 2];
            ref[y * W] = ref[y * W + 1];
        }
        // Any split among tasks gives the same image (rows, then column blocks).
        for (int tasks : {1, 3, 0}) {
            std::vector<uint16_t> out = img;
            recursiveGaussian16(H, panorama, sigma, out.data(), W, tasks);
            EXPECT_EQ(out, ref) << "tasks " << tasks;
        }
    }
    // White stays (nearly) white: the products exceed 32 bits.
    std::vector<uint16_t> white(W * H, 65535);
    recursiveGaussian16(H, false, 5, white.data(), W);
    EXPECT_GE(*std::min_element(white.begin(), white.end()), 65500);
    // A sigma whose coefficient rounds to 0 leaves the image unchanged.
    std::vector<uint16_t> img(W * H, 1234);
    img[10] = 9;
    std::vector<uint16_t> before = img;
    recursiveGaussian16(H, false, 0.1, img.data(), W);
    EXPECT_EQ(img, before);
    recursiveGaussian16(H, false, 1e300, img.data(), W);
    EXPECT_EQ(img, before);
}

TEST(filterKernels, detailImageSaturatesInsteadOfWrapping)
{
    // One bright pixel on black: the difference x 2.5 exceeds 32767.
    const int w = 16, h = 16;
    std::vector<float> rgb(size_t(w) * h * 3, 0.0f);
    for (int k = 0; k < 3; ++k)
        rgb[(8 * w + 8) * 3 + k] = 1.0f;
    std::vector<int16_t> detail(size_t(w) * h);
    std::vector<uint16_t> copy(size_t(w) * h);
    double factor = 0;
    unsharpMask(rgb.data(), detail.data(), copy.data(), w, h, false, factor, 1.0, 600, 900, 3);
    EXPECT_DOUBLE_EQ(factor, 1.0);
    EXPECT_EQ(copy[8 * w + 8], 32767);
    EXPECT_EQ(detail[8 * w + 8], 32767);
    EXPECT_LE(detail[8 * w + 9], 0);
    // Without the copy buffer the same detail is recomputed.
    std::vector<int16_t> detail2(size_t(w) * h);
    unsharpMask(rgb.data(), detail2.data(), nullptr, w, h, false, factor, 0.25, 600, 600, 1);
    EXPECT_DOUBLE_EQ(factor, 0.5);
    EXPECT_EQ(detail2, detail);
    // Luminance of a grey 0.5: (0.5)^(1/2.2) x 32767.
    std::vector<float> grey(3, 0.5f);
    int16_t d1;
    uint16_t c1;
    unsharpMask(grey.data(), &d1, &c1, 1, 1, false, factor, 1, 600, 600, 1);
    EXPECT_EQ(c1, uint16_t(std::pow(0.5, 0.45454545454545453) * 32767));
}

TEST(filterKernels, integerGaussianMatchesReference)
{
    const int r = 3;
    std::vector<uint8_t> img(W * H), scratch(W * H);
    std::mt19937 rng(9);
    for (auto &v : img)
        v = uint8_t(rng());
    std::vector<long long> k(2 * r + 1);
    long long ks = 0;
    for (int j = -r; j <= r; ++j)
        ks += k[j + r] = (long long)(std::exp(-j * j / (2 * 1.05 * 1.05)) * 256);
    std::vector<uint8_t> tmp(W * H), ref(W * H);
    for (int pass = 0; pass < 2; ++pass) {
        const std::vector<uint8_t> &src = pass ? tmp : img;
        std::vector<uint8_t> &dst = pass ? ref : tmp;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                long long s = 0, out = 0;
                for (int j = -r; j <= r; ++j) {
                    const int xx = pass ? x : x + j, yy = pass ? y + j : y;
                    if (xx < 0 || yy < 0 || xx >= W || yy >= H)
                        out += k[j + r];
                    else
                        s += src[yy * W + xx] * k[j + r];
                }
                dst[y * W + x] = uint8_t(s / (ks - out));
            }
    }
    gaussianKernelInt(img.data(), scratch.data(), W, H, r);
    EXPECT_EQ(img, ref);
}

TEST(filterKernels, blockAverages)
{
    // 3 x 3 RGB with c = 2: output 2 x 2, edge blocks average what exists.
    std::vector<uint16_t> src(27);
    for (int i = 0; i < 27; ++i)
        src[i] = uint16_t(i * 1000);
    std::vector<uint16_t> dst(12);
    parallelFor(2, 3, 3, src.data(), dst.data());
    EXPECT_EQ(dst[0], uint16_t((0 + 3000 + 9000 + 12000) / 4));
    EXPECT_EQ(dst[3], uint16_t((6000 + 15000) / 2));
    EXPECT_EQ(dst[9], 24000);

    std::vector<float> f(27, 0.5f);
    f[0] = 2.0f; // clamps at the end
    boxDownsampleToRgb16(2, 3, 3, f.data(), false, 1.0, dst.data());
    EXPECT_EQ(dst[0], uint16_t((2.0 + 0.5 * 3) / 4 * 65535));
    EXPECT_EQ(dst[11], uint16_t(0.5 * 65535));
    boxDownsampleToRgb16(3, 3, 3, f.data(), false, 4.0, dst.data());
    EXPECT_EQ(dst[0], 65535);
    // xyY of D65 white with Y = 0.5 is grey 0.5; y = 0 is black.
    std::vector<float> xyY = {0.3127f, 0.3290f, 0.5f, 0.3f, 0.0f, 0.9f};
    boxDownsampleToRgb16(1, 2, 1, xyY.data(), true, 1.0, dst.data());
    EXPECT_NEAR(dst[0], 0.5 * 65535, 200);
    EXPECT_NEAR(dst[1], 0.5 * 65535, 200);
    EXPECT_EQ(dst[3], 0);
}

TEST(filterKernels, floodFill)
{
    // Two regions separated by a wall; the fill stays in its region.
    const int w = 6, h = 4;
    std::vector<uint8_t> m = {
        0, 0, 1, 0, 0, 0,
        0, 0, 1, 0, 1, 0,
        1, 1, 1, 0, 1, 0,
        0, 0, 0, 0, 1, 0,
    };
    std::vector<uint8_t> expected = m;
    for (int i : {0, 1, 6, 7})
        expected[i] = 5;
    floodFillAt(m.data(), w, h, 1, 1, 5);
    EXPECT_EQ(m, expected);
    floodFillAt(m.data(), w, h, 0, 0, 5); // same value: nothing
    EXPECT_EQ(m, expected);
    floodFillAt(m.data(), w, h, -1, 0, 9); // outside: nothing
    floodFillAt(m.data(), w, h, 6, 0, 9);
    EXPECT_EQ(m, expected);

    // A 1400 x 1400 serpentine: one region of ~1M pixels in 700 runs.
    const int n = 1400;
    std::vector<uint8_t> big(size_t(n) * n, 0);
    for (int y = 1; y < n; y += 2)
        for (int x = 0; x < n; ++x)
            big[size_t(y) * n + x] = (x == ((y / 2) % 2 ? 0 : n - 1)) ? 0 : 1;
    floodFillAt(big.data(), n, n, 0, 0, 200);
    EXPECT_EQ(big[size_t(n - 1) * n + 0], 200);
    EXPECT_EQ(std::count(big.begin(), big.end(), 0), 0);
}

TEST(filterKernels, driversSameResultForAnyTaskCount)
{
    const int w = 37, h = 23;
    const std::vector<uint16_t> img = randomRgb16(w, h, 99);
    std::vector<uint16_t> one = img, many = img, s1(img.size()), s2(img.size());
    bilateralRgb16(one.data(), s1.data(), w, h, 1.5, 0.3, 0.9, 1);
    bilateralRgb16(many.data(), s2.data(), w, h, 1.5, 0.3, 0.9, 7);
    EXPECT_EQ(one, many);
    progressCounter = 0;
    medianRgb16(one.data(), s1.data(), w, h, 1, 0.0, 1.0, 1);
    EXPECT_EQ(progressCounter.load(), uint64_t(h));
    medianRgb16(many.data(), s2.data(), w, h, 1, 0.0, 1.0, 64);
    EXPECT_EQ(one, many);
}

TEST(filterKernels, wideGrayBilateralAndGaussianMatchReference)
{
    // Wider than the column blocks the passes walk, with a partial last block
    // and a task range that starts and ends inside the image.
    const int w = 75, h = 41;
    std::mt19937 rng(11);
    std::vector<uint16_t> img(size_t(w) * h);
    for (auto &v : img)
        v = uint16_t(rng() % 4 ? 30000 + rng() % 5000 : rng());
    double spatial[FILTER_WEIGHT_TAPS];
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    const int r = buildSpatialWeights(4, MASK_LUMINANCE_WEIGHT_CUTOFF, spatial);
    buildRangeWeights(0.2, range.data());
    for (bool vertical : {false, true}) {
        SCOPED_TRACE(vertical);
        const int lines = vertical ? w : h, length = vertical ? h : w;
        const int first = 3, end = lines - 2;
        const double opacity = 0.7;
        std::vector<uint16_t> out(img.size(), 5), ref(img.size(), 5);
        for (int line = first; line < end; ++line)
            for (int i = 0; i < length; ++i) {
                auto at = [&](int j) { return vertical ? size_t(j) * w + line : size_t(line) * w + j; };
                const long long c = img[at(i)];
                double s = 0, ws = 0;
                for (int k = -r; k <= r; ++k) {
                    if (i + k < 0 || i + k >= length)
                        continue;
                    const long long d = img[at(i + k)];
                    const double wt = spatial[std::abs(k)] * range[(d - c) * (d - c) / 65535];
                    s += d / 65535.0 * wt;
                    ws += wt;
                }
                ref[at(i)] = uint16_t((1 - opacity) * c + opacity * clamp16(s / ws * 65535));
            }
        progressCounter = 0;
        _bilateral_threadParams_t p{vertical, img.data(), out.data(), w, h, first, end, opacity, spatial, r,
                                    range.data()};
        bilateralGrayThread(p);
        EXPECT_EQ(out, ref);
        EXPECT_EQ(progressCounter.load(), uint64_t(end - first)); // one step per line
    }

    // Recursive Gaussian: rows (inner columns kept), then every column but the first.
    const double sigma = 2.2;
    const double b = std::exp(std::log(0.5) / sigma * std::sqrt(2.0));
    const uint64_t a = uint64_t(b * 65536 * b);
    auto run = [&](std::vector<uint64_t> &v) {
        uint64_t y = v[0];
        for (auto &x : v) { y = ((65535 - a) * x + a * y) >> 16; x = y; }
        y = v.back();
        for (auto it = v.rbegin(); it != v.rend(); ++it) { y = ((65535 - a) * *it + a * y) >> 16; *it = y; }
    };
    std::vector<uint16_t> ref = img;
    for (int y = 0; y < h; ++y) {
        std::vector<uint64_t> v(img.begin() + y * w, img.begin() + (y + 1) * w);
        run(v);
        for (int x = 1; x <= w - 2; ++x)
            ref[size_t(y) * w + x] = uint16_t(v[size_t(x)]);
    }
    for (int x = 1; x < w; ++x) {
        std::vector<uint64_t> v;
        for (int y = 0; y < h; ++y)
            v.push_back(ref[size_t(y) * w + x]);
        run(v);
        for (int y = 0; y < h; ++y)
            ref[size_t(y) * w + x] = uint16_t(v[size_t(y)]);
    }
    for (int y = 0; y < h; ++y) {
        ref[size_t(y) * w + w - 1] = ref[size_t(y) * w + w - 2];
        ref[size_t(y) * w] = ref[size_t(y) * w + 1];
    }
    std::vector<uint16_t> blurred = img;
    recursiveGaussian16(h, false, sigma, blurred.data(), w);
    EXPECT_EQ(blurred, ref);
}
