#include "app/sharedFlags.h"
#include "project/localContrast.h"
#include "project/parallelRanges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Deterministic 11-bit test image: smooth gradients with sharp blocks and
// every level reachable.
std::vector<quint16> patternImage(int w, int h)
{
    std::vector<quint16> img(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int v = (x * 37 + y * 11) % 2048;
            if (((x / 7) + (y / 5)) % 3 == 0)
                v = (v * 13 + 500) % 2048;
            if (x % 17 == 0)
                v = 2047;
            if (y % 19 == 0)
                v = 0;
            img[size_t(y) * w + x] = quint16(v);
        }
    }
    return img;
}

struct passCase
{
    const char *name;
    int width, height, radius;
    bool fine, panorama;
    int tasks;
};

class localContrastPass : public ::testing::TestWithParam<passCase>
{
};

// The pass's parameters for the columns [firstColumn, lastColumn) of a case.
_localContrast_threadParams_t passParams(const passCase &c, const std::vector<quint16> &input,
                                         const std::vector<int> &window, int firstColumn, int lastColumn)
{
    _localContrast_threadParams_t p;
    p.width = c.width;
    p.height = c.height;
    p.firstColumn = firstColumn;
    p.lastColumn = lastColumn;
    p.input = input.data();
    p.radius = c.radius;
    p.panorama = c.panorama;
    p.fine = c.fine;
    p.valueWindow = window.data();
    return p;
}

} // namespace

// The sliding-histogram pass gives the same map as counting every window.
TEST_P(localContrastPass, matchesDirectCount)
{
    const passCase &c = GetParam();
    const std::vector<quint16> input = patternImage(c.width, c.height);
    std::vector<int> window(LC_LEVELS);
    localContrastValueWindow(window.data(), c.fine);
    std::vector<quint16> fast(input.size(), 1), slow(input.size(), 2);
    const int s = localContrastStep(c.fine, c.width, c.height);
    const int gridWidth = (c.width + s - 1) / s;
    for (const range_t &r : splitRanges(gridWidth, c.tasks)) {
        _localContrast_threadParams_t p =
            passParams(c, input, window, int(r.first) * s, std::min(int(r.end) * s, c.width));
        p.output = fast.data();
        ASSERT_EQ(localContrastThread(p), taskResult_t::done);
        p.output = slow.data();
        ASSERT_EQ(localContrastThreadReference(p), taskResult_t::done);
    }
    int worst = 0;
    for (size_t i = 0; i < input.size(); ++i)
        worst = std::max(worst, std::abs(int(fast[i]) - int(slow[i])));
    // Only the order of the additions differs: at most one unit of truncation.
    EXPECT_LE(worst, 1) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    localContrast, localContrastPass,
    ::testing::Values(passCase{"fineStep1", 61, 47, 8, true, false, 3},
                      passCase{"mediumStep2", 75, 58, 10, false, false, 2},
                      passCase{"oddSizesStep2", 53, 41, 20, false, false, 4},
                      passCase{"radiusLargerThanImage", 33, 29, 80, false, false, 2},
                      passCase{"panoramaWrap", 64, 40, 12, false, true, 3},
                      passCase{"panoramaFine", 45, 30, 8, true, true, 5},
                      passCase{"singleTask", 40, 90, 14, true, false, 1},
                      // Long rows under a small window: many levels go unread
                      // for more columns than the window holds.
                      passCase{"longRowsSmallWindow", 301, 37, 6, false, false, 2}),
    [](const ::testing::TestParamInfo<passCase> &info) { return std::string(info.param.name); });

// The driver hands every pass of a task the same histograms: what a larger
// pass (or a different image) left in them must not leak into the next one.
TEST(localContrast, scratchKeptFromPassToPassChangesNothing)
{
    const passCase passes[] = {{"large", 75, 58, 30, false, false, 1},
                               {"small", 61, 47, 8, true, false, 1},
                               {"panorama", 64, 40, 12, false, true, 1},
                               {"large again", 75, 58, 20, false, false, 1}};
    localContrastScratch_t kept;
    int round = 0;
    for (const passCase &c : passes) {
        SCOPED_TRACE(c.name);
        std::vector<quint16> input = patternImage(c.width, c.height);
        for (quint16 &v : input)
            v = quint16((v + 97 * round) % 2048);
        ++round;
        std::vector<int> window(LC_LEVELS);
        localContrastValueWindow(window.data(), c.fine);
        std::vector<quint16> fresh(input.size(), 1), reused(input.size(), 2);
        _localContrast_threadParams_t p = passParams(c, input, window, 0, c.width);
        p.output = fresh.data();
        ASSERT_EQ(localContrastThread(p), taskResult_t::done);
        p.output = reused.data();
        p.scratch = &kept;
        ASSERT_EQ(localContrastThread(p), taskResult_t::done);
        EXPECT_EQ(fresh, reused);
    }
}

TEST(localContrast, radiiAndValueWindow)
{
    // Short side 1000: 116, 20 and 356 pixels.
    EXPECT_EQ(localContrastRadius(1, 1000), 116);
    EXPECT_EQ(localContrastRadius(2, 1000), 20);
    EXPECT_EQ(localContrastRadius(3, 1000), 356);
    // Small images keep the minimum radii.
    EXPECT_EQ(localContrastRadius(1, 50), 10);
    EXPECT_EQ(localContrastRadius(2, 50), 8);
    EXPECT_EQ(localContrastRadius(3, 50), 20);
    EXPECT_EQ(localContrastStep(true, 1999, 3000), 1);
    EXPECT_EQ(localContrastStep(true, 2000, 3000), 2);
    EXPECT_EQ(localContrastStep(false, 100, 100), 2);

    int table[LC_LEVELS];
    localContrastValueWindow(table, false);
    EXPECT_EQ(table[0], 80);
    EXPECT_EQ(table[1000], 200);
    EXPECT_EQ(table[1638], 320);
    EXPECT_EQ(table[1639], int(408 * 320 / 409.0));
    EXPECT_EQ(table[2047], 40);
    localContrastValueWindow(table, true);
    EXPECT_EQ(table[1000], 80);
    EXPECT_EQ(table[2000], 40);
}

TEST(localContrast, mapsAreMonotoneOnARamp)
{
    // A horizontal luminance ramp narrow enough to lie inside every window (the
    // smallest radii are 8, 10 and 20 pixels): every pixel sees the same samples,
    // so each map rises with the pixel's own level, from dark to bright.
    const int w = 9, h = 6;
    std::vector<float> hdr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float v = 0.02f + 0.9f * x / (w - 1);
            for (int c = 0; c < 3; ++c)
                hdr[(size_t(y) * w + x) * 3 + c] = v;
        }
    }
    std::vector<quint16> scratch(size_t(w) * h), fine(scratch.size()), medium(scratch.size()),
        coarse(scratch.size());
    ASSERT_EQ(computeLocalContrastMaps(hdr.data(), w, h, 1.0, false, scratch.data(), fine.data(),
                                       medium.data(), coarse.data(), 4),
              taskResult_t::done);
    for (const std::vector<quint16> *map : {&fine, &medium, &coarse}) {
        for (int y = 0; y < h; ++y) {
            for (int x = 1; x < w; ++x)
                ASSERT_GE((*map)[size_t(y) * w + x], (*map)[size_t(y) * w + x - 1])
                    << "x " << x << " y " << y;
        }
        EXPECT_LT((*map)[0], 10000);
        EXPECT_GT((*map)[size_t(w) - 1], 50000);
    }
    // The prepared luminance: (0.99 Y)^0.75 as 11 bits.
    const double Y = 0.02f * (0.2126729 + 0.7151522 + 0.072175);
    EXPECT_EQ(scratch[0], quint16(quint16(std::min(1.0, std::pow(0.99 * Y, 0.75)) * 65535.0) >> 5));
}

TEST(localContrast, breakStopsThePassAndReportsIt)
{
    const int w = 64, h = 64;
    std::vector<float> hdr(size_t(w) * h * 3, 0.3f);
    std::vector<quint16> a(size_t(w) * h), b(a.size()), c(a.size()), d(a.size());
    breakFlag = true;
    EXPECT_EQ(computeLocalContrastMaps(hdr.data(), w, h, 1.0, false, a.data(), b.data(), c.data(),
                                       d.data(), 2),
              taskResult_t::cancelled);
    breakFlag = false;
    abortBackgroundFlag = true;
    EXPECT_EQ(computeLocalContrastMaps(hdr.data(), w, h, 1.0, false, a.data(), b.data(), c.data(),
                                       d.data(), 2),
              taskResult_t::cancelled);
    abortBackgroundFlag = false;
    EXPECT_EQ(computeLocalContrastMaps(hdr.data(), w, h, 1.0, false, a.data(), b.data(), c.data(),
                                       d.data(), 2),
              taskResult_t::done);
}

TEST(localContrast, maskLuminance)
{
    // A flat image stays flat through the bilateral smoothing: every value is
    // min(1, luminance^(2/3)) as 16 bits; an edge stays an edge.
    const int w = 120, h = 30;
    std::vector<float> hdr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                hdr[(size_t(y) * w + x) * 3 + c] = x < w / 2 ? 0.125f : 0.9f;
    std::vector<quint16> scratch(size_t(w) * h), mask(scratch.size());
    ASSERT_EQ(computeMaskLuminance(hdr.data(), w, h, scratch.data(), mask.data(), 3), taskResult_t::done);
    const double lum = 0.125f * (0.3086 + 0.6094 + 0.082);
    const int dark = int(std::pow(lum, 2.0 / 3.0) * 65535.0);
    EXPECT_NEAR(mask[size_t(5) * w + 2], dark, 2);
    EXPECT_NEAR(mask[size_t(5) * w + w / 2 - 1], dark, 400);
    EXPECT_GT(mask[size_t(5) * w + w / 2], 55000);

    abortBackgroundFlag = true;
    EXPECT_EQ(computeMaskLuminance(hdr.data(), w, h, scratch.data(), mask.data(), 3), taskResult_t::cancelled);
    abortBackgroundFlag = false;
}
