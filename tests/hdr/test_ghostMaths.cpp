// Ghost deviation, label helpers and mask radii.

#include "hdr/ghostMaths.h"
#include "project/tableSizes.h"
#include "testSupport.h"

#include <algorithm>
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

// The count and gain tables the tone-gain functions fill: four of each.
struct toneTables_t {
    std::vector<double> store = std::vector<double>(size_t(8) * GHOST_TONE_BINS);
    double *count[4];
    double *gain[4];
    toneTables_t()
    {
        for (int t = 0; t < 4; t++) {
            count[t] = store.data() + size_t(t) * GHOST_TONE_BINS;
            gain[t] = store.data() + size_t(4 + t) * GHOST_TONE_BINS;
        }
    }
    toneTables_t(const toneTables_t &) = delete;
    toneTables_t &operator=(const toneTables_t &) = delete;
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

TEST(ghostMaths, regionScoreFavoursWellExposedPhotos)
{
    std::vector<quint8> mask = {255, 255, 0};
    const std::vector<quint16> dark(9, 1000), mid(9, 30000), clipped(9, 65535);
    const double sDark = ghostRegionScore(mask.data(), 3, 0, dark.data());
    const double sMid = ghostRegionScore(mask.data(), 3, 0, mid.data());
    const double sClipped = ghostRegionScore(mask.data(), 3, 0, clipped.data());
    auto exposedness = [](double l) { return std::exp(-(l - 0.5) * (l - 0.5) / 0.08); };
    EXPECT_NEAR(sDark, 2 * exposedness(1000 / 65535.0), 1e-9);
    EXPECT_GT(sMid, sDark);
    EXPECT_GT(sMid, sClipped);
    // Only pixels from start on count.
    EXPECT_NEAR(ghostRegionScore(mask.data(), 3, 1, mid.data()), exposedness(30000 / 65535.0), 1e-9);

    // A region of ten pixels: a photo with one clipped highlight and the rest
    // in the middle tones beats one that renders it all in the shadows.
    std::vector<quint8> region(10, 255);
    std::vector<quint16> brightShot(30, 36000), darkShot(30, 9000);
    std::fill(brightShot.begin(), brightShot.begin() + 3, quint16(65535));
    std::fill(darkShot.begin(), darkShot.begin() + 3, quint16(30000));
    EXPECT_GT(ghostRegionScore(region.data(), 10, 0, brightShot.data()),
              ghostRegionScore(region.data(), 10, 0, darkShot.data()));
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

TEST(ghostMaths, toneBinsAndGains)
{
    struct binRow_t {
        double radiance, invScale;
        int bin;
    };
    const binRow_t bins[] = {
        {1.0, 1.0, 4095}, {0.25, 1.0, 2047}, {8.0, 0.125, 4095}, {4.0, 1.0, 4095},
        {0.0, 1.0, 0},    {-1.0, 1.0, 0},    {std::nan(""), 1.0, 0},
    };
    for (const binRow_t &r : bins)
        EXPECT_EQ(ghostToneBin(r.radiance, r.invScale), r.bin) << "radiance " << r.radiance;

    // Cumulative tables of every pixel in one bin: a photo whose pixels sit in
    // bin 1000 while the merge has them in bin 2000 gains (2000.5 / 1000.5)^2
    // there (the bins stand for square roots of radiance).
    auto step = [](int at, double top) {
        std::vector<double> c(GHOST_TONE_BINS, 0.0);
        for (int i = at; i < GHOST_TONE_BINS; i++)
            c[size_t(i)] = top;
        return c;
    };
    struct gainRow_t {
        const char *name;
        std::vector<double> photo, hdr;
        int bin;
        double gain;
    };
    std::vector<double> dip = step(2000, 1.0);
    dip[3000] = 0.5;   // the merge's table falls back (smoothing at the end): the first bin reaching counts
    const gainRow_t gains[] = {
        {"brighter merge", step(1000, 1.0), step(2000, 1.0), 1000, std::pow(2000.5 / 1000.5, 2)},
        {"darker merge", step(2000, 1.0), step(1000, 1.0), 2000, std::pow(1000.5 / 2000.5, 2)},
        {"same tones", step(1500, 1.0), step(1500, 1.0), 1500, 1.0},
        {"merge never reaches", step(10, 1.0), step(10, 0.9), 10, std::pow(4095.5 / 10.5, 2)},
        {"merge dips after reaching", step(1000, 1.0), dip, 3500, std::pow(2000.5 / 3500.5, 2)},
    };
    std::vector<double> gain(GHOST_TONE_BINS);
    for (const gainRow_t &r : gains) {
        ghostToneGains(r.photo.data(), r.hdr.data(), gain.data());
        EXPECT_NEAR(gain[size_t(r.bin)], r.gain, 1e-12) << r.name;
    }
}

// A photo matched to an HDR image that holds exactly its own radiance keeps its
// tones (gain 1 wherever it has pixels); against the same image four times
// brighter (the square-root bins doubled) it gains 4.
TEST(ghostMaths, photoMatchedToItsOwnRadianceKeepsItsTones)
{
    std::vector<double> response(SAMPLE_TABLE_SIZE);
    for (int i = 0; i < SAMPLE_TABLE_SIZE; i++)
        response[size_t(i)] = std::pow(i / 65535.0, 2.2);
    const double *tables[3] = {response.data(), response.data(), response.data()};
    const int n = 4000;
    std::vector<quint16> preview(size_t(n) * 3);
    std::vector<float> same(size_t(n) * 3), brighter(size_t(n) * 3);
    const double exposure = 4.0, invScale = 1.0;   // the darkest photo's factor 1 puts the top at the last bin
    for (int k = 0; k < n; k++)
        for (int c = 0; c < 3; c++) {
            const quint16 v = quint16(2000 + (k * 61 + c * 7) % 48000);
            preview[size_t(k) * 3 + c] = v;
            same[size_t(k) * 3 + c] = float(response[v] / exposure);
            brighter[size_t(k) * 3 + c] = float(4.0 * response[v] / exposure);
        }
    std::vector<double> store(size_t(8) * GHOST_TONE_BINS);
    double *photoCum[4], *hdrCum[4];
    for (int t = 0; t < 4; t++) {
        photoCum[t] = store.data() + size_t(t) * GHOST_TONE_BINS;
        hdrCum[t] = store.data() + size_t(4 + t) * GHOST_TONE_BINS;
    }
    ghostPhotoCumulative(preview.data(), n, tables, exposure, invScale, photoCum);
    EXPECT_NEAR(photoCum[0][GHOST_TONE_BINS - 1], 1.0, 1e-9);
    std::vector<double> gain(GHOST_TONE_BINS);
    struct row_t {
        const char *name;
        const std::vector<float> *hdr;
        double expected;   // gain of the radiance
    };
    const row_t rows[] = {{"its own radiance", &same, 1.0}, {"two stops brighter", &brighter, 4.0}};
    for (const row_t &r : rows) {
        ghostHdrCumulative(r.hdr->data(), n, invScale, hdrCum);
        for (int t = 0; t < 4; t++) {
            ghostToneGains(photoCum[t], hdrCum[t], gain.data());
            // The photo's middle tones: bins of response 0.04 .. 0.06 over the exposure.
            for (int i = ghostToneBin(0.04 / exposure, invScale); i <= ghostToneBin(0.06 / exposure, invScale); i++)
                EXPECT_NEAR(gain[size_t(i)], r.expected, 0.03 * r.expected) << r.name << ", table " << t << ", bin " << i;
        }
    }
}

// Tone matching where nothing moved: the photo and the merge are compared
// pixel by pixel. Moving pixels (not still) and clipped or near-black samples
// say nothing of the photo's tone and must not sway the gains; tones the still
// pixels do not show take the gains of their neighbours.
TEST(ghostMaths, stillPixelsSetTheToneGains)
{
    std::vector<double> response(SAMPLE_TABLE_SIZE);
    for (int i = 0; i < SAMPLE_TABLE_SIZE; i++)
        response[size_t(i)] = std::pow(i / 65535.0, 2.2);
    const double *tables[3] = {response.data(), response.data(), response.data()};
    const double exposure = 4.0, invScale = 1.0;
    const int n = 6000;
    auto radianceOf = [&](quint16 v) { return response[v] / exposure; };

    struct row_t {
        const char *name;
        // Sample of pixel k, whether it is still, and what the merge shows
        // for a photo radiance x there.
        quint16 (*sample)(int k);
        bool (*still)(int k);
        double (*merge)(double x, int k);
        // Bins checked: samples lo..hi, and the gain expected there.
        quint16 lo, hi;
        double gain;
    };
    const row_t rows[] = {
        {"the photo's own radiance", [](int k) { return quint16(2000 + (k * 61) % 60000); }, [](int) { return true; },
         [](double x, int) { return x; }, 3000, 60000, 1.0},
        {"a merge twice as bright", [](int k) { return quint16(2000 + (k * 61) % 60000); }, [](int) { return true; },
         [](double x, int) { return 2.0 * x; }, 3000, 60000, 2.0},
        {"moving pixels left out", [](int k) { return quint16(2000 + (k * 61) % 60000); },
         [](int k) { return k % 2 == 0; }, [](double x, int k) { return k % 2 == 0 ? 2.0 * x : 0.05 * x; }, 3000,
         60000, 2.0},
        // Clipped samples (above 250/255) show a far brighter merge; the top
        // bins keep the gain of the last usable tones instead.
        {"clipped samples left out", [](int k) { return quint16(k % 3 == 0 ? 65535 : 2000 + (k * 61) % 60000); },
         [](int) { return true; }, [](double x, int k) { return k % 3 == 0 ? 40.0 * x : 0.5 * x; }, 3000, 65535, 0.5},
        // Only the darkest tones are still; the rest take their gain.
        {"tones without still pixels", [](int k) { return quint16(2000 + (k * 61) % 60000); },
         [](int k) { return 2000 + (k * 61) % 60000 < 20000; }, [](double x, int) { return 3.0 * x; }, 3000, 65535,
         3.0},
    };
    std::vector<quint16> preview(size_t(n) * 3);
    std::vector<float> hdr(size_t(n) * 3);
    std::vector<quint8> still(static_cast<size_t>(n));
    toneTables_t toneStore;
    double *const *count = toneStore.count;
    double *const *gain = toneStore.gain;
    for (const row_t &r : rows) {
        SCOPED_TRACE(r.name);
        for (int k = 0; k < n; k++) {
            still[size_t(k)] = r.still(k) ? 255 : 0;
            for (int c = 0; c < 3; c++) {
                const quint16 v = r.sample(k);
                preview[size_t(k) * 3 + c] = v;
                hdr[size_t(k) * 3 + c] = float(r.merge(radianceOf(v), k));
            }
        }
        ghostStillToneGains(preview.data(), hdr.data(), still.data(), n, tables, exposure, invScale, count, gain);
        for (int t = 0; t < 4; t++) {
            for (int i = ghostToneBin(radianceOf(r.lo), invScale); i <= ghostToneBin(radianceOf(r.hi), invScale); i++)
                ASSERT_NEAR(gain[t][i], r.gain, 1e-3 * r.gain) << "table " << t << ", bin " << i;
            // A brighter sample never comes out darker.
            for (int i = 1; i < GHOST_TONE_BINS; i++)
                ASSERT_GE(gain[t][i] * (i + 0.5) * (i + 0.5), gain[t][i - 1] * (i - 0.5) * (i - 0.5) * (1 - 1e-12))
                    << "table " << t << ", bin " << i;
        }
    }
}

// Between two still tones the gains run from one to the other; a tone curve
// that would turn the order of tones round is held level instead.
TEST(ghostMaths, stillToneGainsBridgeGapsAndKeepTheOrder)
{
    std::vector<double> response(SAMPLE_TABLE_SIZE);
    for (int i = 0; i < SAMPLE_TABLE_SIZE; i++)
        response[size_t(i)] = i / 65535.0;
    const double *tables[3] = {response.data(), response.data(), response.data()};
    // Two tones, bins 1000 and 2000 (radiance (bin / 4095)^2), with gains 1 and 4.
    const quint16 a = quint16(std::lround(std::pow(1000.5 / 4095.0, 2) * 65535.0));
    const quint16 b = quint16(std::lround(std::pow(2000.5 / 4095.0, 2) * 65535.0));
    struct row_t {
        const char *name;
        double gainA, gainB;
        int bin;
        double expected;
    };
    const row_t rows[] = {
        // Halfway between the two the log of the gain is about halfway.
        {"gap", 1.0, 4.0, 1480, 2.0},
        {"below the first tone", 1.0, 4.0, 200, 1.0},
        {"above the last tone", 1.0, 4.0, 3500, 4.0},
        // Tone b would come out darker than tone a: it is held a little above
        // a (a's gain reaches a few bins beyond it), far above its own 0.1.
        {"order kept", 1.0, 0.1, 2000, std::pow(1050.0 / 2000.5, 2)},
    };
    const int n = 200;
    std::vector<quint16> preview(size_t(n) * 3);
    std::vector<float> hdr(size_t(n) * 3);
    std::vector<quint8> still(static_cast<size_t>(n), 255);
    toneTables_t toneStore;
    double *const *count = toneStore.count;
    double *const *gain = toneStore.gain;
    for (const row_t &r : rows) {
        for (int k = 0; k < n; k++)
            for (int c = 0; c < 3; c++) {
                const quint16 v = k % 2 ? a : b;
                preview[size_t(k) * 3 + c] = v;
                hdr[size_t(k) * 3 + c] = float(response[v] * (k % 2 ? r.gainA : r.gainB));
            }
        ghostStillToneGains(preview.data(), hdr.data(), still.data(), n, tables, 1.0, 1.0, count, gain);
        EXPECT_DOUBLE_EQ(count[0][ghostToneBin(response[a], 1.0)], n / 2.0) << r.name;
        EXPECT_NEAR(gain[0][r.bin], r.expected, 0.1 * r.expected) << r.name;
        EXPECT_GE(gain[0][2000] * 2000.5 * 2000.5, gain[0][1000] * 1000.5 * 1000.5) << r.name;
    }
}
