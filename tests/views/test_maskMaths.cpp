#include "views/maskPainter.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <vector>

TEST(maskMaths, thirtyTwoBrushPresets)
{
    const std::vector<brushPreset_t> p = brushPresets();
    ASSERT_EQ(p.size(), 32u);
    const int sizes[4] = {56, 40, 22, 8};
    const double hardness[4] = {0.8, 0.6, 0.4, 0.2};
    const double softness[4] = {0.06, 0.12, 0.18, 0.24};
    for (int k = 0; k < 8; ++k)
        for (int s = 0; s < 4; ++s) {
            const brushPreset_t &b = p[size_t(k * 4 + s)];
            EXPECT_EQ(b.radius, sizes[s]);
            EXPECT_NEAR(b.hardness, hardness[k % 4], 1e-12);
            EXPECT_NEAR(b.softness, softness[k % 4], 1e-12);
            EXPECT_EQ(b.square, k >= 4);
        }
    // The default preset: round, radius 22, hardness 0.8, softness 0.06.
    EXPECT_EQ(p[2].radius, 22);
    EXPECT_FALSE(p[2].square);
}

TEST(maskMaths, stampsAtBothResolutions)
{
    brushPreset_t b;
    b.radius = 20;
    b.hardness = 0.5;
    b.softness = 0.1;
    brushStamp_t view, full;
    buildStamps(b, 0.5, view, full); // at 50 % the full stamp is twice as wide
    EXPECT_EQ(view.radius, 20);
    EXPECT_EQ(full.radius, 40);
    EXPECT_EQ(full.stride, 81);
    ASSERT_EQ(full.data.size(), 81u * 81u);
    // Centre fully on, corner (outside the circle) off.
    EXPECT_EQ(view.data[20 * 41 + 20], 255);
    EXPECT_EQ(full.data[40 * 81 + 40], 255);
    EXPECT_EQ(view.data[0], 0);
    // The same point of the brush has the same value in both stamps.
    for (int d = 0; d <= 20; ++d) {
        const int v = view.data[20 * 41 + 20 + d];
        const int f = full.data[40 * 81 + 40 + 2 * d];
        EXPECT_NEAR(v, f, 2) << d;
    }
    // Values fall monotonically from the centre.
    for (int d = 1; d <= 40; ++d)
        EXPECT_LE(full.data[40 * 81 + 40 + d], full.data[40 * 81 + 40 + d - 1]);
    // Hard core: radius x hardness stays at 255.
    EXPECT_EQ(full.data[40 * 81 + 40 + 19], 255);

    brushPreset_t sq = b;
    sq.square = true;
    buildStamps(sq, 1.0, view, full);
    // A square brush reaches further into the corner than a round one.
    brushStamp_t round;
    buildStamps(b, 1.0, round, full);
    EXPECT_GT(view.data[size_t(20 + 14) * 41 + 20 + 14], round.data[size_t(20 + 14) * 41 + 20 + 14]);
}

TEST(maskMaths, intelligentWeight)
{
    // Similarity 0.65 at threshold 6: ((0.65 - 0.3) / 0.7)^6 = 0.015625.
    // Grey reference 0, colour with sqrt = 0.35 in every channel.
    const double v = 0.35 * 0.35;
    EXPECT_NEAR(intelligentWeight(v, v, v, 0, 0, 0, 6), 0.015625, 1e-12);
    EXPECT_DOUBLE_EQ(intelligentWeight(0.3, 0.4, 0.5, 0.3, 0.4, 0.5, 6), 1.0);
    EXPECT_NEAR(intelligentWeight(v, v, v, 0, 0, 0, 1), 0.5, 1e-12);
    // A negative threshold gives the reciprocal, clamped to 1.
    EXPECT_DOUBLE_EQ(intelligentWeight(v, v, v, 0, 0, 0, -2), 1.0);
    // Very different colours (below 30 % similarity) get nothing, also for
    // bright HDR values where an even power of the negative base would be large.
    EXPECT_DOUBLE_EQ(intelligentWeight(9.0, 9.0, 9.0, 0, 0, 0, 6), 0.0);
    EXPECT_DOUBLE_EQ(intelligentWeight(1.0, 1.0, 1.0, 0, 0, 0, 6), 0.0);
    EXPECT_DOUBLE_EQ(intelligentWeight(-1.0, 0.0, 0.0, 0, 0, 0, 6), 1.0); // negatives count as 0
}

TEST(maskMaths, segmentPositions)
{
    struct {
        QPoint a, b;
        int spacing;
        std::vector<QPoint> expected;
    } cases[] = {
        {{5, 5}, {5, 5}, 3, {{5, 5}}}, // zero length: one stamp, no 0 / 0
        {{0, 0}, {9, 0}, 3, {{0, 0}, {3, 0}, {6, 0}, {9, 0}}},
        {{9, 0}, {0, 0}, 3, {{0, 0}, {3, 0}, {6, 0}, {9, 0}}},
        {{0, 0}, {8, 4}, 4, {{0, 0}, {4, 2}, {8, 4}}},
        {{0, 10}, {2, 0}, 5, {{2, 0}, {1, 5}, {0, 10}}},
        {{0, 0}, {2, 1}, 0, {{0, 0}, {1, 0}, {2, 1}}}, // spacing at least 1
    };
    for (const auto &c : cases)
        EXPECT_EQ(segmentStampPositions(c.a, c.b, c.spacing), c.expected);
}

namespace {

struct maskFixture {
    int w = 40, h = 30;
    std::vector<uint8_t> mask = std::vector<uint8_t>(size_t(40 * 30), 0);
    maskTarget_t target() { return {mask.data(), w, h, nullptr}; }
    int at(int x, int y) const { return mask[size_t(y * w + x)]; }
};

} // namespace

TEST(maskMaths, paintingAndErasingStayInRange)
{
    maskFixture f;
    brushPreset_t b;
    b.radius = 6;
    brushStamp_t view, full;
    buildStamps(b, 1.0, view, full);
    const double ref[3] = {0, 0, 0};
    // One stamp at the press point paints.
    paintSegment(f.target(), full, QPoint(10, 10), QPoint(10, 10), false, 1.0, ref, 6, 3);
    EXPECT_EQ(f.at(10, 10), 255);
    EXPECT_EQ(f.at(30, 10), 0);
    // Repeated painting never lowers a value nor passes 255.
    std::vector<uint8_t> before = f.mask;
    for (int k = 0; k < 5; ++k)
        paintSegment(f.target(), full, QPoint(0, 10), QPoint(39, 12), false, 0.5, ref, 6, 3);
    for (size_t i = 0; i < f.mask.size(); ++i)
        ASSERT_GE(f.mask[i], before[i]);
    EXPECT_GT(f.at(30, 11), 0);
    // Erasing never goes below 0 and lowers painted values.
    before = f.mask;
    for (int k = 0; k < 10; ++k)
        paintSegment(f.target(), full, QPoint(0, 10), QPoint(39, 12), true, 1.0, ref, 6, 2);
    for (size_t i = 0; i < f.mask.size(); ++i)
        ASSERT_LE(f.mask[i], before[i]);
    EXPECT_EQ(f.at(20, 11), 0);
    // A stamp partly or wholly outside the mask is clipped, not written outside.
    paintSegment(f.target(), full, QPoint(-3, -3), QPoint(-100, -50), false, 1.0, ref, 6, 4);
    EXPECT_EQ(f.at(0, 0), 255);
}

TEST(maskMaths, stampKernelMatchesDirectFormula)
{
    // One stamp, painted over an existing value, thread split irrelevant.
    maskFixture one, many;
    std::fill(one.mask.begin(), one.mask.end(), uint8_t(100));
    many.mask = one.mask;
    brushPreset_t b;
    b.radius = 5;
    b.hardness = 0.2;
    b.softness = 0.3;
    brushStamp_t view, full;
    buildStamps(b, 1.0, view, full);
    const double ref[3] = {0, 0, 0};
    paintSegment(one.target(), full, QPoint(20, 15), QPoint(20, 15), false, 0.7, ref, 6, 1);
    paintSegment(many.target(), full, QPoint(20, 15), QPoint(20, 15), false, 0.7, ref, 6, 5);
    EXPECT_EQ(one.mask, many.mask);
    for (int j = 0; j < full.stride; ++j)
        for (int i = 0; i < full.stride; ++i) {
            const int g = int(full.data[size_t(j * full.stride + i)] * 0.7);
            const int expected = g > 0 ? std::min(255, int(g * (1.0 - 100 / 255.0) + 100)) : 100;
            ASSERT_EQ(one.at(20 + i - 5, 15 + j - 5), expected) << i << "," << j;
        }
}

TEST(maskMaths, intelligentPaintingFollowsColour)
{
    maskFixture f;
    // Left half dark, right half bright.
    std::vector<float> image(size_t(f.w * f.h * 3));
    for (int y = 0; y < f.h; ++y)
        for (int x = 0; x < f.w; ++x)
            for (int c = 0; c < 3; ++c)
                image[size_t((y * f.w + x) * 3 + c)] = x < 20 ? 0.05f : 0.9f;
    maskTarget_t t = f.target();
    t.image = image.data();
    brushPreset_t b;
    b.radius = 15;
    brushStamp_t view, full;
    buildStamps(b, 1.0, view, full);
    const double ref[3] = {0.05, 0.05, 0.05};
    paintSegment(t, full, QPoint(20, 15), QPoint(20, 15), false, 1.0, ref, 6, 2);
    EXPECT_GE(f.at(17, 15), 250); // float colours: similarity just under 1
    EXPECT_EQ(f.at(23, 15), 0);
}

TEST(maskMaths, strokeMatchesStampsLaidOneByOne)
{
    // A long stroke over a wide mask is shared among the tasks by column
    // bands; every pixel must still see the stamps in the stroke's order, so
    // the result equals laying the stamps one after the other on one task,
    // for painting (soft brush, overlapping stamps, intelligent weight) and
    // erasing, strokes in both directions and ones leaving the mask.
    const int W = 300, H = 90;
    std::vector<float> image(size_t(W) * H * 3);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = float((i * 37) % 101) / 100.0f;
    brushPreset_t b;
    b.radius = 20;
    b.hardness = 0.4;
    b.softness = 0.2;
    brushStamp_t view, full;
    buildStamps(b, 1.0, view, full);
    const int spacing = std::max(1, full.radius / 6);
    const double ref[3] = {0.4, 0.5, 0.6};
    struct strokeCase_t {
        QPoint a, b;
        bool erase, intelligent;
    };
    const strokeCase_t cases[] = {
        {QPoint(10, 40), QPoint(290, 52), false, false},
        {QPoint(280, 70), QPoint(-30, 10), false, true},
        {QPoint(150, -15), QPoint(160, 100), false, false}, // along y, past both edges
        {QPoint(0, 45), QPoint(299, 45), true, false},
    };
    for (const strokeCase_t &c : cases) {
        std::vector<uint8_t> start(size_t(W) * H);
        for (size_t i = 0; i < start.size(); ++i)
            start[i] = uint8_t((i * 13) % 256);
        std::vector<uint8_t> oneByOne = start, oneTask = start, manyTasks = start;
        const maskTarget_t base{nullptr, W, H, c.intelligent ? image.data() : nullptr};
        maskTarget_t t = base;
        for (const QPoint &pos : segmentStampPositions(c.a, c.b, spacing)) {
            t.mask = oneByOne.data();
            paintSegment(t, full, pos, pos, c.erase, 0.6, ref, 6, 1);
        }
        t.mask = oneTask.data();
        paintSegment(t, full, c.a, c.b, c.erase, 0.6, ref, 6, 1);
        t.mask = manyTasks.data();
        paintSegment(t, full, c.a, c.b, c.erase, 0.6, ref, 6, 7);
        EXPECT_NE(oneByOne, start);
        EXPECT_EQ(oneTask, oneByOne);
        EXPECT_EQ(manyTasks, oneByOne);
    }
}

TEST(maskMaths, fill)
{
    maskFixture f;
    const double ref[3] = {0.5, 0.5, 0.5};
    f.mask[5] = 17;
    fillMaskValues(f.target(), false, ref, 6);
    EXPECT_EQ(std::count(f.mask.begin(), f.mask.end(), 255), f.w * f.h);
    fillMaskValues(f.target(), true, ref, 6);
    EXPECT_EQ(std::count(f.mask.begin(), f.mask.end(), 0), f.w * f.h);

    // Intelligent: moves toward weight x 255, never down when painting.
    std::vector<float> image(size_t(f.w * f.h * 3), 0.5f);
    for (int c = 0; c < 3; ++c)
        image[size_t(3 + c)] = 0.35f * 0.35f; // pixel 1 differs
    maskTarget_t t = f.target();
    t.image = image.data();
    f.mask[2] = 200;
    fillMaskValues(t, false, ref, 6);
    EXPECT_EQ(f.mask[0], 255);
    EXPECT_LT(f.mask[1], 255);
    EXPECT_EQ(f.mask[2], 255);
    const int partial = f.mask[1];
    fillMaskValues(t, true, ref, 6); // Ctrl: subtract
    EXPECT_EQ(f.mask[0], 0);
    EXPECT_EQ(f.mask[1], std::max(0, partial - int(intelligentWeight(image[3], image[4], image[5], 0.5, 0.5, 0.5, 6) * 255)));
}

TEST(maskMaths, gradientValues)
{
    const QPointF p1(0, 0), p2(100, 0);
    struct {
        double x, y, m, expected;
    } cases[] = {
        {-10, 5, 0.5, 1.0},   // beyond point 1
        {0, 0, 0.5, 1.0},     {100, 0, 0.5, 0.0},
        {110, 40, 0.5, 0.0},  // beyond point 2
        {50, 30, 0.5, 0.5},   // the middle, off the line
        {75, 0, 0.5, 0.25},   {25, 0, 0.5, 0.75},
        {80, 0, 0.2, 0.5},    // handle at 20 % from point 2
        {90, 0, 0.2, 0.25},   {40, 0, 0.2, 0.75},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(gradientValue(c.x, c.y, p1, p2, c.m), c.expected, 1e-9) << c.x << "," << c.y;
    // The middle position is held within [0.01, 0.99].
    EXPECT_DOUBLE_EQ(gradientValue(50, 0, p1, p2, 5.0), gradientValue(50, 0, p1, p2, 0.99));
    EXPECT_DOUBLE_EQ(gradientValue(50, 0, p1, p2, -1.0), gradientValue(50, 0, p1, p2, 0.01));
    // Both points on one spot: nothing.
    EXPECT_DOUBLE_EQ(gradientValue(3, 3, QPointF(3, 3), QPointF(3, 3), 0.5), 0.0);
}

TEST(maskMaths, gradientMiddleHandle)
{
    const QPoint p1(0, 0), p2(100, 0);
    struct {
        QPoint p3;
        double m;
    } cases[] = {
        {{50, 0}, 0.5},   {{80, 0}, 0.2},  {{20, 10}, 0.8}, {{-30, 0}, 1.0}, // beyond point 1
        {{130, 0}, 0.0},                                                 // beyond point 2
    };
    for (const auto &c : cases) {
        const double m = gradientMiddle(p1, p2, c.p3);
        EXPECT_NEAR(m, c.m, 0.01) << c.p3.x();
        const QPoint h = gradientHandlePoint(p1, p2, m);
        EXPECT_EQ(h.y(), 0);
    }
    EXPECT_EQ(gradientHandlePoint(p1, p2, 1.0), p1);
    EXPECT_EQ(gradientHandlePoint(p1, p2, 0.0), p2);
    EXPECT_DOUBLE_EQ(gradientMiddle(p1, p1, QPoint(5, 5)), 0.5); // no length
}

TEST(maskMaths, gradientIntoMaskAddsOverBackup)
{
    const int w = 50, h = 4;
    std::vector<uint8_t> backup(size_t(w * h), 100), mask(size_t(w * h), 0);
    const double ref[3] = {0, 0, 0};
    gradientIntoMask(mask.data(), backup.data(), w, h, QPointF(0, 0), QPointF(49, 0), 0.5, nullptr, ref, 6, 3);
    EXPECT_EQ(mask[0], 255);                                  // 100 + 255 capped
    EXPECT_EQ(mask[49], 100);                                 // value 0 at point 2
    EXPECT_EQ(mask[size_t(2 * w + 49)], 100);
    EXPECT_EQ(mask[size_t(w + 25)], int(100 + 24.0 / 49 * 255));
}
