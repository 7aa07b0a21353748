// Ghost deviation, label helpers and mask radii.

#include "hdr/ghostMaths.h"
#include "project/tableSizes.h"
#include "testSupport.h"

#include <cmath>
#include <vector>

namespace {

struct deviationFixture {
    std::vector<double> linear, weight;
    bool included[3] = {true, true, true};
    double evLn[3] = {0.0, M_LN2, 2 * M_LN2};
    ghostDeviationTables_t t;

    deviationFixture()
    {
        linear.resize(SAMPLE_TABLE_SIZE);
        for (int i = 0; i < SAMPLE_TABLE_SIZE; i++)
            linear[size_t(i)] = i / 65535.0;
        weight.assign(SAMPLE_TABLE_SIZE, 1.0);
        t.photoCount = 2;
        t.included = included;
        t.evLn = evLn;
        t.responseR = t.responseG = t.responseB = linear.data();
        t.ghostWeightTable = weight.data();
    }

    double deviation(std::initializer_list<quint16> samples, std::initializer_list<double> exposure)
    {
        std::vector<quint16> s(samples);
        std::vector<double> e(exposure);
        return ghostDeviation(t, s.data(), s.data(), s.data(), e.data());
    }
};

} // namespace

TEST(ghostMaths, agreeingPhotosOneStopApartDeviateNothing)
{
    deviationFixture f;
    EXPECT_NEAR(f.deviation({10000, 20000}, {1.0, 2.0}), 0.0, 1e-12);
}

TEST(ghostMaths, disagreeingWellExposedPhotosDeviateStrongly)
{
    deviationFixture f;
    // sqrt-normalised values 0.39 and 0.13 one stop apart: d = 0.5 x 0.5 x 2 / ln2 x 0.5 = 0.72.
    const double n0 = std::sqrt(50000 / 65535.0), n1 = std::sqrt(5000 / 65535.0 / 2.0);
    const double expect = std::fabs(n0 - n1) / (n0 + n1 + 1e-5) * 0.5 / M_LN2 * 2.0;
    EXPECT_NEAR(f.deviation({50000, 5000}, {1.0, 2.0}), expect, 1e-9);
    EXPECT_GT(expect, 0.5);
    // The weight table scales the measure; zero weight (clipped samples) hides it.
    std::fill(f.weight.begin(), f.weight.end(), 0.0);
    EXPECT_EQ(f.deviation({50000, 5000}, {1.0, 2.0}), 0.0);
}

TEST(ghostMaths, pairsUnderHalfAStopCountAsHalfAStop)
{
    deviationFixture f;
    f.evLn[1] = 0.1;   // 0.1 apart in log units: weighed as 0.5
    const double n0 = std::sqrt(40000 / 65535.0), n1 = std::sqrt(20000 / 65535.0);
    const double expect = std::fabs(n0 - n1) / (n0 + n1 + 1e-5) * 0.5 / 0.5 * 2.0;
    EXPECT_NEAR(f.deviation({40000, 20000}, {1.0, 1.0}), expect, 1e-9);
    // Unchecked photos never count; the measure is limited to 1.
    f.included[1] = false;
    EXPECT_EQ(f.deviation({40000, 20000}, {1.0, 1.0}), 0.0);
    f.included[1] = true;
    f.evLn[1] = 0.0;
    EXPECT_LE(f.deviation({65535, 1}, {1.0, 1.0}), 1.0);
}

TEST(ghostMaths, labelsWrapAndFillUnsetRegions)
{
    EXPECT_EQ(ghostLabelOf(0), 1);
    EXPECT_EQ(ghostLabelOf(100), 1);
    EXPECT_EQ(ghostLabelOf(57), 58);
    std::vector<quint8> mask = {0, 255, 3, 255, 128};
    fillUnsetLabels(mask.data(), qint64(mask.size()), 104);
    EXPECT_EQ(mask, (std::vector<quint8>{0, 5, 3, 5, 128}));
}

TEST(ghostMaths, regionScoreFavoursBrightUnclippedPhotos)
{
    std::vector<quint8> mask = {255, 255, 0};
    const std::vector<quint16> dark(9, 1000), mid(9, 30000), clipped(9, 65535);
    const double sDark = ghostRegionScore(mask.data(), 3, 0, dark.data());
    const double sMid = ghostRegionScore(mask.data(), 3, 0, mid.data());
    const double sClipped = ghostRegionScore(mask.data(), 3, 0, clipped.data());
    EXPECT_NEAR(sDark, 2 * (1.1 * 1000 - 3276.8), 1e-9);
    EXPECT_GT(sMid, sDark);
    EXPECT_GT(sMid, sClipped);
    // Only pixels from start on count.
    EXPECT_NEAR(ghostRegionScore(mask.data(), 3, 1, mid.data()), 1.1 * 30000 - 3276.8, 1e-9);
}

TEST(ghostMaths, maskRadiiAndRamp)
{
    int expand = 0, smooth = 0;
    ghostMaskRadii(5, 1400, &expand, &smooth);
    EXPECT_EQ(expand, 6);
    EXPECT_EQ(smooth, 25);
    ghostMaskRadii(1, 200, &expand, &smooth);   // small previews keep the minimum radii
    EXPECT_EQ(expand, 2);
    EXPECT_EQ(smooth, 8);
    ghostMaskRadii(99, 1400, &expand, &smooth);  // out-of-range index: the largest spread
    EXPECT_EQ(expand, 18);
    quint8 ramp[256];
    ghostMaskRamp(ramp);
    EXPECT_EQ(ramp[0], 0);
    EXPECT_EQ(ramp[128], 113);   // floor((128/255)^2 x 450) = floor(113.4)
    EXPECT_EQ(ramp[255], 255);
}

// Detected regions of one subject share a photo; subjects far apart do not.
TEST(ghostMaths, regionsOfOneSubjectAreGrouped)
{
    // Rectangles of detected pixels (value 128) on a 100 x 60 mask.
    struct rect_t { int x0, y0, x1, y1; };   // inclusive
    struct case_t {
        const char *name;
        std::vector<rect_t> rects;
        std::vector<int> groups;   // expected group per region, in scan order
    };
    const case_t cases[] = {
        // Two tall strips 8 pixels apart: the two sides of one walking figure.
        {"two strips of one figure", {{10, 10, 14, 49}, {23, 10, 27, 49}}, {0, 0}},
        // The same strips and a small region far to the right: another subject.
        {"a second subject far away", {{10, 10, 14, 49}, {23, 10, 27, 49}, {90, 20, 93, 23}}, {0, 0, 2}},
        // Joined through a third region that is close to both.
        {"chain", {{10, 10, 13, 13}, {40, 10, 43, 13}, {17, 12, 37, 17}}, {0, 0, 0}},
        // Touching the borders of the mask.
        {"at the edges", {{0, 0, 3, 59}, {96, 0, 99, 59}}, {0, 1}},
    };
    for (const case_t &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<quint8> mask(100 * 60, 0);
        for (const rect_t &r : c.rects)
            for (int y = r.y0; y <= r.y1; y++)
                for (int x = r.x0; x <= r.x1; x++)
                    mask[size_t(y) * 100 + x] = 128;
        const std::vector<quint8> before = mask;
        const std::vector<ghostRegion_t> regions = ghostRegions(mask.data(), 100, 60);
        EXPECT_EQ(mask, before);
        ASSERT_EQ(regions.size(), c.groups.size());
        const std::vector<int> groups = ghostSubjects(regions);
        for (size_t i = 0; i < groups.size(); i++)
            EXPECT_EQ(groups[i], c.groups[i]) << "region " << i;
    }
}
