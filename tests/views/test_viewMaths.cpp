#include "views/viewMaths.h"
#include "widgets/zoomWidget.h"

#include <gtest/gtest.h>
#include <cmath>

TEST(viewMaths, backgroundIndexWrapsBothWays)
{
    struct {
        int stored, expected;
    } cases[] = {{0, 0}, {2, 2}, {7, 7}, {8, 0}, {9, 1}, {-1, 7}, {-8, 0}, {-9, 7}};
    for (const auto &c : cases)
        EXPECT_EQ(backgroundIndex(c.stored), c.expected) << c.stored;
}

TEST(viewMaths, fitZoom)
{
    struct {
        int w, h, W, H;
        double dpr, expected;
    } cases[] = {
        {0, 500, 600, 400, 1.0, 100},     // empty image
        {1000, 0, 600, 400, 1.0, 100},
        {1000, 500, 600, 400, 1.0, 59},   // zx = 59, zy = 78
        {1000, 500, 600, 400, 2.0, 118},  // device pixels count
        {6000, 4000, 1920, 1080, 1.0, 26}, // zx = 31, zy = 26
        {100, 100, 600, 400, 1.0, 363},
    };
    for (const auto &c : cases)
        EXPECT_EQ(fitZoomPercent(c.w, c.h, c.W, c.H, c.dpr), c.expected) << c.w << "x" << c.h;
}

TEST(viewMaths, fitStepNeverExceedsTheFitZoom)
{
    const QVector<int> &steps = zoomWidget::zoomSteps();
    const struct {
        double fit;
        int expectedPercent; // -1: the current index stays
    } cases[] = {
        {59, 58}, {60, 60}, {26, 26}, {115, 112}, {116, 116}, {128.9, 128}, {207.5, 200},
        {1, 1}, {0.5, 1}, // below the first step: the smallest there is
        {400, 400}, {5000, -1}, {0, -1}, {-3, -1},
    };
    for (const auto &c : cases) {
        const int index = zoomWidget::fitStepIndex(steps, c.fit, 17);
        if (c.expectedPercent < 0) {
            EXPECT_EQ(index, 17) << c.fit;
            continue;
        }
        ASSERT_GE(index, 0);
        EXPECT_EQ(steps[index], c.expectedPercent) << c.fit;
    }
    // Every fit between 1 and 400 %: the largest step not above it.
    for (double fit = 1.0; fit <= 400.0; fit += 0.25) {
        const int index = zoomWidget::fitStepIndex(steps, fit, -1);
        ASSERT_LE(steps[index], fit) << fit;
        if (index + 1 < steps.size()) {
            ASSERT_GT(steps[index + 1], fit) << fit;
        }
    }
}

TEST(viewMaths, scrollRanges)
{
    // 2000 x 1000 image, centre (1000, 500), 400 x 300 canvas at zoom 1.
    scrollLimits_t l = scrollLimits(1.0, 1000, 500, 2000, 1000, 400, 300, 1.0);
    // Truncation toward zero: int(200 - 1000 + 0.5) = -799.
    EXPECT_EQ(l.minX, -799);
    EXPECT_EQ(l.maxX, 799);
    EXPECT_EQ(l.minY, -349);
    EXPECT_EQ(l.maxY, 349);
    int lo, hi;
    scrollBarRange(l.minX, l.maxX, lo, hi);
    EXPECT_EQ(lo, -819);
    EXPECT_EQ(hi, 819);
    // Smaller than the view at this zoom: no scrolling.
    l = scrollLimits(0.1, 1000, 500, 2000, 1000, 400, 300, 1.0);
    EXPECT_GE(l.minX, l.maxX);
    scrollBarRange(l.minX, l.maxX, lo, hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 0);
}

TEST(viewMaths, zoomAtPointKeepsPointUnderMouse)
{
    // Image point p shows at p * s + origin with origin = W/2 - cx * s - pos.
    const int cx = 500, p = 800;
    const double W = 600, s0 = 0.5, s = 1.0, pos0 = 0.0;
    const double pos = zoomAtPointPosition(pos0, s0, s, cx, p);
    const double before = p * s0 + W / 2 - cx * s0 - pos0;
    const double after = p * s + W / 2 - cx * s - pos;
    EXPECT_DOUBLE_EQ(before, after);
}

TEST(viewMaths, wheelScrollStep)
{
    struct {
        int value, dir, lo, hi;
        double s;
        int L, expected;
    } cases[] = {
        {0, 4, -1000, 1000, 1.0, 500, -50},   // 2000 / 20 * 500 / 1000
        {0, -4, -1000, 1000, 1.0, 500, 50},
        {0, 4, -1000, 1000, 2.0, 500, -25},   // slower when zoomed in
        {10, 0, -1000, 1000, 1.0, 500, 10},   // no direction
    };
    for (const auto &c : cases)
        EXPECT_EQ(wheelScrollValue(c.value, c.dir, c.lo, c.hi, c.s, c.L), c.expected);
}

TEST(viewMaths, pyramidLevelForZoom)
{
    const bool allReady[6] = {true, true, true, true, true, true};
    const bool level2Missing[6] = {true, true, false, true, true, true};
    struct {
        double s;
        const bool *ready;
        int levels, level, factor;
    } cases[] = {
        {1.0, allReady, 6, 0, 1},    {2.0, allReady, 6, 0, 1},   {0.5, allReady, 6, 1, 2},
        {0.3, allReady, 6, 1, 2},    // m = 3: level 1
        {0.25, allReady, 6, 2, 4},   {0.1, allReady, 6, 3, 8},   {0.01, allReady, 6, 5, 32},
        {0.1, level2Missing, 6, 1, 2}, {0.1, allReady, 1, 0, 1},
    };
    for (const auto &c : cases) {
        int level, factor;
        pyramidLevelFor(c.s, c.ready, c.levels, level, factor);
        EXPECT_EQ(level, c.level) << c.s;
        EXPECT_EQ(factor, c.factor) << c.s;
    }
}

TEST(viewMaths, stripesCoverAllRows)
{
    int first, end, covered = 0;
    for (int i = 0; i < 7; ++i) {
        stripeRows(1080, 7, i, first, end);
        EXPECT_EQ(first, covered);
        covered = end;
    }
    EXPECT_EQ(covered, 1080);
}

TEST(viewMaths, checkerboardSquares)
{
    EXPECT_EQ(checkerTone(0, 0, 1.0, 10, 20), 20);
    EXPECT_EQ(checkerTone(0, 15, 1.0, 10, 20), 20);
    EXPECT_EQ(checkerTone(0, 16, 1.0, 10, 20), 10);
    EXPECT_EQ(checkerTone(16, 16, 1.0, 10, 20), 20);
    EXPECT_EQ(checkerTone(0, 16, 2.0, 10, 20), 20); // 32-pixel squares above DPR 1
    EXPECT_EQ(checkerTone(0, 32, 2.0, 10, 20), 10);
}

TEST(viewMaths, guidelines)
{
    EXPECT_EQ(guidelineCount(400, true), 5);
    EXPECT_EQ(guidelineCount(400, false), 2);
    EXPECT_EQ(guidelineCount(100, true), 2);
    EXPECT_EQ(guidelineCount(5000, true), 20);
    EXPECT_EQ(guidelinePosition(0, 300, 1, 2), 100);
    EXPECT_EQ(guidelinePosition(0, 300, 2, 2), 200);
    EXPECT_EQ(guidelinePosition(10, 410, 5, 5), 10 + 5 * 66);
}

TEST(viewMaths, compositingWithoutCoverKeepsBase)
{
    const uint8_t base[3] = {10, 120, 250};
    const uint8_t layer[3] = {200, 0, 0};
    const uint8_t *layers[2] = {layer, layer};
    const double none[2] = {0.0, 0.0};
    uint8_t out[3] = {};
    compositeLayers(base, 2, layers, none, out);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[1], 120);
    EXPECT_EQ(out[2], 250);
    const double full[2] = {255.0, 0.0};
    compositeLayers(base, 2, layers, full, out);
    EXPECT_EQ(out[0], 200);
    EXPECT_EQ(out[1], 0);
    const double half[2] = {127.5, 0.0};
    compositeLayers(base, 2, layers, half, out);
    EXPECT_EQ(out[0], 105); // 10 * 0.5 + 200 * 0.5
}

TEST(viewMaths, clippingWarnings)
{
    struct {
        int r, g, b;
        bool shadow, highlight;
        int expected;
    } cases[] = {
        {253, 253, 253, true, true, 1}, {255, 255, 250, false, true, 1}, {253, 253, 253, true, false, 0},
        {2, 2, 2, true, true, 2},       {3, 3, 3, true, true, 0},        {0, 0, 0, false, true, 0},
        {252, 252, 252, true, true, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(clippingWarning(c.r, c.g, c.b, c.shadow, c.highlight), c.expected) << c.r;
}

TEST(viewMaths, samplingRadiusAndWeights)
{
    struct {
        double s;
        int r;
    } cases[] = {{0.1, 2}, {0.2, 2}, {0.3, 2}, {1.0, 7}, {2.0, 14}, {4.0, 25}};
    for (const auto &c : cases)
        EXPECT_EQ(samplingRadius(c.s), c.r) << c.s;
    const std::vector<double> w = samplingWeights(7);
    ASSERT_EQ(w.size(), 15u * 15u);
    EXPECT_DOUBLE_EQ(w[7 * 15 + 7], 1.0);
    // q = trunc(4.2^2) = 17: weight of offset (3, 0) = exp(-9 / 34).
    EXPECT_NEAR(w[7 * 15 + 10], std::exp(-9.0 / 34.0), 1e-12);
    EXPECT_DOUBLE_EQ(w[0], w[15 * 15 - 1]);
}

TEST(viewMaths, cropHandleHitTest)
{
    // Rect 100..300 x 100..200, tolerance 6.
    struct {
        int x, y;
        bool edges;
        int expected;
    } cases[] = {
        {100, 100, true, 1}, {200, 100, true, 2}, {300, 100, true, 3}, {100, 150, true, 4},
        {300, 150, true, 5}, {100, 200, true, 6}, {200, 200, true, 7}, {300, 200, true, 8},
        {106, 94, true, 1},  {107, 100, true, 0}, {200, 100, false, 0}, {100, 150, false, 0},
        {200, 150, true, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cropHandleAt(c.x, c.y, 100, 100, 300, 200, c.edges, 6.0), c.expected) << c.x << "," << c.y;
}

TEST(viewMaths, cropRectangleEditing)
{
    const int W = 1000, H = 800;
    cropRect r;
    cropDrag_t create;
    create.startX = 300;
    create.startY = 400;
    r = updateCropRect(r, create, 100, 200, W, H, 0.0);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.top, 200);
    EXPECT_EQ(r.bottom, 400);
    EXPECT_EQ(r.width, 200);
    EXPECT_EQ(r.height, 200);
    // Creating past the picture is clamped.
    r = updateCropRect(r, create, -50, 900, W, H, 0.0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.bottom, H);

    // Moving keeps the size and stops at the edges.
    cropRect m{100, 300, 100, 300, 200, 200};
    cropDrag_t move;
    move.kind = CROP_DRAG_MOVE;
    move.offsetX = 50;
    move.offsetY = 50;
    cropRect moved = updateCropRect(m, move, 20, 40, W, H, 0.0);
    EXPECT_EQ(moved.left, 0);
    EXPECT_EQ(moved.right, 200);
    EXPECT_EQ(moved.top, 0);
    EXPECT_EQ(moved.bottom, 200);
    moved = updateCropRect(m, move, 990, 850, W, H, 0.0);
    EXPECT_EQ(moved.right, W);
    EXPECT_EQ(moved.left, W - 200);
    EXPECT_EQ(moved.bottom, H);
    EXPECT_EQ(moved.width, 200);

    // A handle cannot cross the opposite edge.
    cropDrag_t handle;
    handle.kind = CROP_DRAG_HANDLE;
    handle.handle = 1;
    cropRect h = updateCropRect(m, handle, 500, 500, W, H, 0.0);
    EXPECT_EQ(h.left, 300);
    EXPECT_EQ(h.top, 300);
    EXPECT_EQ(h.width, 0);
    handle.handle = 5;
    h = updateCropRect(m, handle, 400, 0, W, H, 0.0);
    EXPECT_EQ(h.right, 400);
    EXPECT_EQ(h.top, 100);
}

TEST(viewMaths, cropAspectKeptPastTheTop)
{
    const int W = 1000, H = 800;
    const double aspect = 2.0;
    cropRect r{200, 600, 100, 200, 400, 100};
    cropDrag_t handle;
    handle.kind = CROP_DRAG_HANDLE;
    handle.handle = 1;
    // Top-left corner dragged up-left past the top of the picture: the width
    // asks for more height than there is above the bottom edge.
    cropRect out = updateCropRect(r, handle, 0, -300, W, H, aspect);
    EXPECT_EQ(out.top, 0);
    EXPECT_EQ(out.bottom, 200);
    EXPECT_EQ(out.right, 600);
    EXPECT_EQ(out.left, 200);
    EXPECT_EQ(out.width, 2 * out.height);
    r = cropRect{200, 600, 300, 500, 400, 200};
    // Bottom-right corner dragged down: height follows the width.
    handle.handle = 8;
    out = updateCropRect(r, handle, 700, 790, W, H, aspect);
    EXPECT_EQ(out.width, 500);
    EXPECT_EQ(out.height, 250);
    // Creating with an aspect value.
    cropDrag_t create;
    create.startX = 100;
    create.startY = 100;
    out = updateCropRect(cropRect(), create, 400, 400, W, H, aspect);
    EXPECT_EQ(out.width, 300);
    EXPECT_EQ(out.height, 150);
    EXPECT_EQ(out.top, 100);
}

TEST(viewMaths, cropRotationAndDragValues)
{
    // From straight below the centre to slightly left of it: -5 degrees gives 355.
    const int W = 1000, H = 1000;
    const int dx = int(std::lround(std::tan(5.0 * 3.141592653589793 / 180.0) * 400.0));
    const double angle = cropRotationAngle(0.0, 500, 900, 500 - dx, 900, W, H);
    EXPECT_NEAR(angle, 355.0, 0.1);
    EXPECT_NEAR(cropRotationAngle(350.0, 500, 900, 500 + dx, 900, W, H), 355.0, 0.1);
    EXPECT_NEAR(cropRotationAngle(358.0, 500, 900, 500 + 2 * dx, 900, W, H), 8.0, 0.2);
    EXPECT_DOUBLE_EQ(cropDragValue(0.0, 100, 1000), 0.05);
    EXPECT_DOUBLE_EQ(cropDragValue(0.2, 500, 1000), 0.25);
    EXPECT_DOUBLE_EQ(cropDragValue(0.0, -2000, 1000), -0.25);
}
