#include "project/curveMaths.h"
#include "project/tableSizes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

QList<QPointF> pts(std::initializer_list<QPointF> list)
{
    return QList<QPointF>(list);
}

// A straight line through two points, flat outside them: the reference for
// two-point curves in both modes.
double twoPointReference(double t, QPointF a, QPointF b)
{
    if (t < a.x())
        return a.y();
    if (t > b.x())
        return b.y();
    return a.y() + (t - a.x()) * (b.y() - a.y()) / (b.x() - a.x());
}

struct curveCase
{
    const char *name;
    QList<QPointF> points;
    int mode;
};

class curveTableTest : public ::testing::TestWithParam<curveCase>
{
};

} // namespace

TEST(curveMaths, identityInBothModes)
{
    for (int mode : {0, 1}) {
        std::vector<double> table(1001, -1.0);
        ASSERT_TRUE(curveToTable(table.data(), 1001, pts({{0, 0}, {1, 1}}), mode));
        for (int i = 0; i < 1001; ++i)
            EXPECT_NEAR(table[size_t(i)], i / 1000.0, 1e-12) << "mode " << mode << " i " << i;
        std::vector<quint16> lut(SAMPLE_TABLE_SIZE, 7);
        ASSERT_TRUE(curveToLut16(lut.data(), pts({{0, 0}, {1, 1}}), mode));
        for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
            ASSERT_EQ(lut[size_t(i)], i) << "mode " << mode;
    }
}

TEST_P(curveTableTest, twoPointsGiveALineFlatOutside)
{
    const curveCase &c = GetParam();
    const int n = 201;
    std::vector<double> table(n, -1.0);
    ASSERT_TRUE(curveToTable(table.data(), n, c.points, c.mode));
    for (int i = 0; i < n; ++i) {
        const double t = i / double(n - 1);
        EXPECT_NEAR(table[size_t(i)], twoPointReference(t, c.points[0], c.points[1]), 1e-9)
            << c.name << " i " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    curveMaths, curveTableTest,
    ::testing::Values(curveCase{"splineRising", {{0.2, 0.1}, {0.8, 0.9}}, 0},
                      curveCase{"linearRising", {{0.2, 0.1}, {0.8, 0.9}}, 1},
                      curveCase{"splineFalling", {{0.25, 0.75}, {0.75, 0.25}}, 0},
                      curveCase{"linearFlat", {{0.0, 0.4}, {1.0, 0.4}}, 1}),
    [](const ::testing::TestParamInfo<curveCase> &info) { return std::string(info.param.name); });

TEST(curveMaths, threePointSplinePassesThroughMiddlePoint)
{
    // (0,0) (0.5,0.75) (1,1): r1 = -1, m1 = -0.5, c1 = -1.5; d0 = -1, b0 = 1.75.
    const int n = 101;
    std::vector<double> table(n);
    ASSERT_TRUE(curveToTable(table.data(), n, pts({{0, 0}, {0.5, 0.75}, {1, 1}}), 0));
    EXPECT_NEAR(table[50], 0.75, 1e-12);
    EXPECT_DOUBLE_EQ(table[0], 0.0);
    EXPECT_NEAR(table[100], 1.0, 1e-12);
    for (int i = 0; i <= 50; ++i) {
        const double u = i / 100.0;
        EXPECT_NEAR(table[size_t(i)], 1.75 * u - u * u * u, 1e-12) << i;
    }
    for (int i = 51; i <= 100; ++i) {
        const double u = i / 100.0 - 0.5;
        // Second segment: c = -1.5, d = 1, b = 0.5 + 0.75 - 0.25 = 1.0.
        EXPECT_NEAR(table[size_t(i)], 0.75 + u - 1.5 * u * u + u * u * u, 1e-12) << i;
    }
}

TEST(curveMaths, coincidentAndUnsortedPointsStayFinite)
{
    struct
    {
        const char *name;
        QList<QPointF> points;
    } cases[] = {
        {"coincident", {{0.4, 0.2}, {0.4, 0.8}}},
        {"coincidentInside", {{0, 0}, {0.4, 0.2}, {0.4, 0.8}, {1, 1}}},
        {"unsorted", {{0, 0}, {0.7, 0.9}, {0.3, 0.1}, {1, 1}}},
        {"backAndForth", {{0.5, 0.5}, {0.3, 0.2}, {0.5, 0.9}}},
    };
    for (const auto &c : cases) {
        for (int mode : {0, 1}) {
            std::vector<double> table(513, -5.0);
            ASSERT_TRUE(curveToTable(table.data(), 513, c.points, mode)) << c.name;
            for (double v : table) {
                ASSERT_TRUE(std::isfinite(v)) << c.name << " mode " << mode;
                ASSERT_GE(v, 0.0) << c.name;
                ASSERT_LE(v, 1.0) << c.name;
            }
            // The last entry belongs to the last point.
            EXPECT_NEAR(table.back(), c.points.last().y(), 1e-9) << c.name;
        }
    }
    // Unsorted: the segment (0.7 -> 0.3) runs backwards and is skipped; the entries
    // after 0.7 come from the segment (0.3 -> 1), which is linear in mode 1.
    std::vector<double> table(101);
    ASSERT_TRUE(curveToTable(table.data(), 101, pts({{0, 0}, {0.7, 0.9}, {0.3, 0.1}, {1, 1}}), 1));
    EXPECT_NEAR(table[35], 0.45, 1e-12);
    EXPECT_NEAR(table[80], 0.1 + (0.8 - 0.3) * 0.9 / 0.7, 1e-12);
}

TEST(curveMaths, overshootIsClampedAndOtherModesLeaveTable)
{
    std::vector<double> table(1001);
    ASSERT_TRUE(curveToTable(table.data(), 1001, pts({{0, 0}, {0.1, 1}, {0.2, 0}, {1, 0}}), 0));
    double lowest = 1, highest = 0;
    for (double v : table) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    EXPECT_EQ(lowest, 0.0);
    EXPECT_EQ(highest, 1.0);

    std::vector<double> untouched(64, 0.123);
    EXPECT_TRUE(curveToTable(untouched.data(), 64, pts({{0, 0}, {1, 1}}), 2));
    for (double v : untouched)
        EXPECT_EQ(v, 0.123);
}

TEST(curveMaths, refusesTooManyPointsAndBadSizes)
{
    QList<QPointF> many;
    for (int i = 0; i < 40; ++i)
        many.append(QPointF(i / 39.0, i / 39.0));
    std::vector<double> table(256, 0.5);
    EXPECT_FALSE(curveToTable(table.data(), 256, many, 0));
    EXPECT_FALSE(curveToTable(table.data(), 1, pts({{0, 0}, {1, 1}}), 0));
    for (double v : table)
        EXPECT_EQ(v, 0.5);
    std::vector<quint16> lut(SAMPLE_TABLE_SIZE, 42);
    EXPECT_FALSE(curveToLut16(lut.data(), many, 0));
    EXPECT_EQ(lut[1000], 42);

    // Exactly 32 points is allowed.
    many = many.mid(0, 32);
    EXPECT_TRUE(curveToTable(table.data(), 256, many, 0));
}

TEST(curveMaths, outOfRangePointsAreClamped)
{
    // y beyond 0..1 at the flat ends would overflow the 16-bit table; x beyond
    // 0..1 would put the segment ends outside the table.
    std::vector<quint16> lut(SAMPLE_TABLE_SIZE);
    ASSERT_TRUE(curveToLut16(lut.data(), pts({{-0.5, -3.0}, {1.7, 4.0}}), 1));
    EXPECT_EQ(lut[0], 0);
    EXPECT_EQ(lut[65535], 65535);
    ASSERT_TRUE(curveToLut16(lut.data(), pts({{0.5, 2.0}, {0.6, -1.0}}), 0));
    EXPECT_EQ(lut[0], 65535);
    EXPECT_EQ(lut[65535], 0);
    ASSERT_TRUE(curveToLut16(lut.data(), pts({{0.2, std::nan("")}, {0.8, 1.0}}), 1));
    EXPECT_EQ(lut[0], 0);

    // Fewer than two points: the identity, or a constant at the one point's level.
    std::vector<double> table(11);
    ASSERT_TRUE(curveToTable(table.data(), 11, QList<QPointF>(), 0));
    EXPECT_DOUBLE_EQ(table[3], 0.3);
    ASSERT_TRUE(curveToTable(table.data(), 11, pts({{0.3, 1.4}}), 0));
    for (double v : table)
        EXPECT_EQ(v, 1.0);
}

TEST(curveMaths, selectiveCurves)
{
    const int n = SAMPLE_TABLE_SIZE;
    std::vector<double> table(n, 9.0);

    ASSERT_TRUE(selectiveCurveToTable(table.data(), n, {}, true, true));
    for (double v : table)
        ASSERT_EQ(v, 0.0);

    // One knee near the start: on the hue curve the bell's tail reaches the end
    // of the table; on the brightness curve it does not.
    const QList<selKneePoints_t> one{{0.02, 1.0, 1.0}};
    ASSERT_TRUE(selectiveCurveToTable(table.data(), n, one, true, true));
    const int p = int((n - 1) * 0.02);
    EXPECT_NEAR(table[size_t(p)], 1.0, 1e-12); // y = 1 -> A = -1, inverted +1
    EXPECT_GT(table[n - 1], 0.5);
    EXPECT_EQ(table[n / 2], 0.0); // far from the knee: below 0.01, exactly 0
    std::vector<double> open(n);
    ASSERT_TRUE(selectiveCurveToTable(open.data(), n, one, true, false));
    EXPECT_NEAR(open[size_t(p)], 1.0, 1e-12);
    EXPECT_EQ(open[n - 1], 0.0);
    EXPECT_GT(open[0], 0.5); // the left tail of the open curve
    for (int i = 0; i < n; ++i)
        ASSERT_TRUE(open[size_t(i)] == 0.0 || std::fabs(open[size_t(i)]) >= 0.01);

    // invert off gives the negated table.
    std::vector<double> plain(n);
    ASSERT_TRUE(selectiveCurveToTable(plain.data(), n, one, false, false));
    EXPECT_NEAR(plain[size_t(p)], -1.0, 1e-12);

    // Two knees closer than their mean sigma / 10: a straight blend of their levels.
    const QList<selKneePoints_t> close{{0.50, 1.0, 1.0}, {0.55, 0.0, 1.0}};
    ASSERT_TRUE(selectiveCurveToTable(table.data(), n, close, true, false));
    const int a = int((n - 1) * 0.50), b = int((n - 1) * 0.55);
    const int mid = a + (b - a) / 4;
    const double t = (0.55 - mid / double(n - 1)) / 0.05;
    EXPECT_NEAR(table[size_t(mid)], -(t * -1.0 + (1 - t) * 1.0), 1e-9);

    // Out-of-range knees are clamped, never used as indices; a huge list is refused.
    const QList<selKneePoints_t> wild{{-3.0, 7.0, -5.0}, {9.0, -2.0, 100.0}};
    ASSERT_TRUE(selectiveCurveToTable(table.data(), n, wild, true, true));
    for (double v : table)
        ASSERT_TRUE(std::isfinite(v) && v >= -1.0 && v <= 1.0);
    QList<selKneePoints_t> many;
    for (int i = 0; i < 33; ++i)
        many.append({i / 33.0, 0.7, 1.0});
    std::fill(table.begin(), table.end(), 0.25);
    EXPECT_FALSE(selectiveCurveToTable(table.data(), n, many, true, true));
    EXPECT_EQ(table[100], 0.25);
}

TEST(curveMaths, histogramResampling)
{
    // 8 source counts into 4 bins: each pair of sources lands in one bin.
    const quint32 source[8] = {10, 10, 0, 0, 0, 0, 40, 40};
    int bins[4];
    resampleHistogram(source, 8, bins, 4, 100);
    // acc: bin0 = 10 + 10*0.5 = 15, bin1 = 5, bin2 = 0, bin3 = 40+40*0.5+20+... clamp
    int maximum = 0;
    for (int v : bins)
        maximum = std::max(maximum, v);
    EXPECT_EQ(maximum, 100);
    EXPECT_LT(bins[1], bins[0]);
    EXPECT_EQ(bins[3], 100);

    double normalized[4];
    resampleHistogramNormalized(source, 8, normalized, 4);
    EXPECT_DOUBLE_EQ(normalized[3], 1.0);
    EXPECT_GT(normalized[0], normalized[1]);

    const quint32 zeros[16] = {};
    int flat[5] = {1, 1, 1, 1, 1};
    resampleHistogram(zeros, 16, flat, 5, 50);
    for (int v : flat)
        EXPECT_EQ(v, 0);
}

TEST(curveMaths, unscaledHistogramCountsMatchTheScaledBins)
{
    // Two routes to the display bins: the unscaled integer sums, scaled by
    // hand, give exactly the scaled bins.
    std::vector<quint32> source(4096);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = quint32((i * 7919u) % 1000u);
    for (int binCount : {1, 37, 300, 5000}) {
        std::vector<double> counts(size_t(binCount), -1.0);
        std::vector<int> scaled(size_t(binCount) + 1, -1);
        resampleHistogramCounts(source.data(), 4096, counts.data(), binCount);
        resampleHistogram(source.data(), 4096, scaled.data(), binCount, 200);
        double top = 0.0;
        for (double v : counts) {
            ASSERT_EQ(v, std::floor(v)); // integer smoothing sums
            top = std::max(top, v);
        }
        ASSERT_GT(top, 0.0);
        for (int b = 0; b < binCount; ++b)
            ASSERT_EQ(int(counts[size_t(b)] / top * 200), scaled[size_t(b)]) << binCount << " " << b;
    }
    std::vector<double> untouched(4, 5.0);
    resampleHistogramCounts(nullptr, 4096, untouched.data(), 4);
    EXPECT_EQ(untouched[0], 5.0);
}
