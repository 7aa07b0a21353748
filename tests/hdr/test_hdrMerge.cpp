// The per-pixel merge formulas on small hand-checked cases and on a synthetic
// bracket rendered from a known scene through a known response curve.

#include "app/sharedFlags.h"
#include "hdr/hdrMerge.h"
#include "project/tableSizes.h"
#include "syntheticBracket.h"
#include "testSupport.h"

#include <cmath>
#include <vector>

namespace {

// A merge set-up over plain vectors: photos, weight tables and the project tables.
struct mergeFixture {
    int width = 0, height = 0;
    std::vector<std::vector<quint16>> photos;
    std::vector<std::vector<double>> weights;
    std::vector<std::vector<quint16>> smart;
    std::vector<std::vector<quint8>> ghost;
    std::vector<double> responseR, responseG, responseB, ghostWeight, penaltyLow, penaltyHigh;
    hdrMergeTables_t tables;
    std::vector<float> output;

    mergeFixture(int w, int h, int photoCount) : width(w), height(h)
    {
        photos.assign(size_t(photoCount), std::vector<quint16>(size_t(w) * h * 3, 0));
        weights.assign(size_t(photoCount), std::vector<double>(SAMPLE_TABLE_SIZE, 1.0));
        smart.assign(size_t(photoCount), std::vector<quint16>(size_t(w) * h, 0));
        ghost.assign(size_t(photoCount), std::vector<quint8>(size_t(w) * h, 0));
        responseR.resize(SAMPLE_TABLE_SIZE);
        for (int i = 0; i < SAMPLE_TABLE_SIZE; i++)
            responseR[size_t(i)] = i / 65535.0;   // linear camera unless a test says otherwise
        responseG = responseB = responseR;
        ghostWeight.assign(SAMPLE_TABLE_SIZE, 1.0);
        penaltyLow.assign(SAMPLE_TABLE_SIZE, 0.0);
        penaltyHigh.assign(SAMPLE_TABLE_SIZE, 0.0);
        output.assign(size_t(w) * h * 3, -1.0f);
        tables.photoCount = photoCount;
        for (int i = 0; i < photoCount; i++) {
            tables.photo[i].included = true;
            tables.photo[i].evLn = i * M_LN2;
            tables.photo[i].lowLevel = 0;
            tables.photo[i].highLevel = 65535;
        }
    }

    void setPixel(int photo, int index, quint16 r, quint16 g, quint16 b)
    {
        quint16 *p = photos[size_t(photo)].data() + size_t(index) * 3;
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }

    _HDRgeneration_threadParams_t record(int method)
    {
        tables.responseR = responseR.data();
        tables.responseG = responseG.data();
        tables.responseB = responseB.data();
        tables.ghostWeightTable = ghostWeight.data();
        tables.exposurePenaltyLow = penaltyLow.data();
        tables.exposurePenaltyHigh = penaltyHigh.data();
        for (int i = 0; i < tables.photoCount; i++)
            tables.photo[i].mergeBuffer = weights[size_t(i)].data();
        _HDRgeneration_threadParams_t p;
        p.method = method;
        p.start = 0;
        p.count = width * height;
        p.width = width;
        p.output = output.data();
        p.tables = &tables;
        for (int i = 0; i < tables.photoCount; i++) {
            p.pixels[i] = photos[size_t(i)].data();
            p.smartMasks[i] = smart[size_t(i)].data();
            p.ghostMasks[i] = ghost[size_t(i)].data();
        }
        return p;
    }

    double merge(int method, _HDRgeneration_threadParams_t *custom = nullptr)
    {
        _HDRgeneration_threadParams_t p = custom ? *custom : record(method);
        double mn = 0, mx = 0;
        mergeChunk(p, &mn, &mx);
        return mx;
    }

    float out(int index, int channel) const { return output[size_t(index) * 3 + size_t(channel)]; }

    bool allFinite() const
    {
        for (float v : output)
            if (!std::isfinite(v))
                return false;
        return true;
    }
};

} // namespace

TEST(hdrMerge, plainAverageIsTheMeanOfTheRawValues)
{
    mergeFixture f(2, 1, 3);
    f.setPixel(0, 0, 100, 200, 300);
    f.setPixel(1, 0, 400, 500, 600);
    f.setPixel(2, 0, 700, 800, 901);
    f.setPixel(0, 1, 65535, 0, 1);
    f.tables.photo[1].included = false;   // unchecked photos take no part
    f.merge(2);
    EXPECT_FLOAT_EQ(f.out(0, 0), 400.0f);
    EXPECT_FLOAT_EQ(f.out(0, 1), 500.0f);
    EXPECT_FLOAT_EQ(f.out(0, 2), 600.5f);
    EXPECT_FLOAT_EQ(f.out(1, 0), 65535.0f / 2);
    EXPECT_FLOAT_EQ(f.out(1, 2), 0.5f);
}

TEST(hdrMerge, smartMergeWeighsRawValuesByMaskAndStrength)
{
    struct caseRow {
        const char *name;
        double offset;     // (5 - strength) / 10
        double w0, w1;     // table weights at the two masks
        double expectR;
    };
    const caseRow cases[] = {
        {"strength 5 adds nothing", 0.0, 0.75, 0.25, (1000 * 0.75 + 3000 * 0.25) / 1.0},
        {"strength 0 raises by 0.5 then clamps", 0.5, 0.75, 0.25, (1000 * 1.0 + 3000 * 0.75) / 1.75},
        {"negative offset clamps at 0", -0.5, 0.75, 0.25, 1000.0},
        {"all weights 0 falls back to the average", 0.0, 0.0, 0.0, 2000.0},
    };
    for (const caseRow &c : cases) {
        SCOPED_TRACE(c.name);
        mergeFixture f(1, 1, 2);
        f.setPixel(0, 0, 1000, 1000, 1000);
        f.setPixel(1, 0, 3000, 3000, 3000);
        f.smart[0][0] = 100;
        f.smart[1][0] = 200;
        f.weights[0][100] = c.w0;
        f.weights[1][200] = c.w1;
        _HDRgeneration_threadParams_t p = f.record(1);
        p.smartMergeOffset = c.offset;
        f.merge(1, &p);
        EXPECT_NEAR(f.out(0, 0), c.expectR, 1e-3);
        EXPECT_TRUE(f.allFinite());
    }
}

TEST(hdrMerge, trueHdrDividesEachPhotoByItsExposure)
{
    mergeFixture f(1, 1, 2);
    // Photo 0 at exposure 1, photo 1 twice as bright; linear response.
    f.setPixel(0, 0, 10000, 20000, 30000);
    f.setPixel(1, 0, 20000, 40000, 60000);
    f.weights[0][20000] = 1.0;   // mean of photo 0 = 20000
    f.weights[1][40000] = 3.0;   // mean of photo 1 = 40000
    f.merge(0);
    // Both photos see the same light: the merge gives it back whatever the weights.
    EXPECT_NEAR(f.out(0, 0), 10000 / 65535.0, 1e-6);
    EXPECT_NEAR(f.out(0, 1), 20000 / 65535.0, 1e-6);
    EXPECT_NEAR(f.out(0, 2), 30000 / 65535.0, 1e-6);

    // With different light the weights decide: (1 x a + 3 x b / 2) / 4.
    f.setPixel(1, 0, 30000, 40000, 50000);
    f.merge(0);
    EXPECT_NEAR(f.out(0, 0), (10000 + 3 * 15000) / 4.0 / 65535.0, 1e-6);
    // exposureReference scales the result by exp(reference).
    _HDRgeneration_threadParams_t p = f.record(0);
    p.exposureReference = M_LN2;
    f.merge(0, &p);
    EXPECT_NEAR(f.out(0, 0), 2 * (10000 + 3 * 15000) / 4.0 / 65535.0, 1e-6);
}

TEST(hdrMerge, pixelOutsideEveryUsableRangeTakesTheBestCandidate)
{
    // Three photos, EV 0, 1, 2; every weight 0: only the fall-back rules give a value.
    mergeFixture f(3, 1, 3);
    for (auto &w : f.weights)
        std::fill(w.begin(), w.end(), 0.0);
    for (int i = 0; i < 3; i++) {
        f.tables.photo[i].lowLevel = 1000;
        f.tables.photo[i].highLevel = 60000;
    }
    // Pixel 0: under in photos 0 and 1 -> the brightest under photo (1) is used.
    f.setPixel(0, 0, 100, 100, 100);
    f.setPixel(1, 0, 200, 200, 200);
    f.setPixel(2, 0, 30000, 30000, 30000);
    // Pixel 1: nobody under, over in photos 1 and 2 -> the darkest over photo (1).
    f.setPixel(0, 1, 30000, 30000, 30000);
    f.setPixel(1, 1, 65000, 65000, 65000);
    f.setPixel(2, 1, 65535, 65535, 65535);
    // Pixel 2: inside every range with weight 0 -> defined black, never NaN.
    for (int i = 0; i < 3; i++)
        f.setPixel(i, 2, 30000, 30000, 30000);
    f.merge(0);
    EXPECT_NEAR(f.out(0, 0), 200 / 65535.0 / 2.0, 1e-7);
    EXPECT_NEAR(f.out(1, 0), 65000 / 65535.0 / 2.0, 1e-7);
    EXPECT_EQ(f.out(2, 0), 0.0f);
    EXPECT_TRUE(f.allFinite());
}

TEST(hdrMerge, ghostMaskedPixelsTakeTheMaskedPhotoAndStayFinite)
{
    mergeFixture f(3, 1, 2);
    f.setPixel(0, 0, 10000, 10000, 10000);
    f.setPixel(1, 0, 40000, 40000, 40000);   // photo 1 disagrees (a ghost)
    f.ghost[1][0] = 255;                     // pixel 0 fully from photo 1
    f.setPixel(0, 1, 10000, 10000, 10000);
    f.setPixel(1, 1, 40000, 40000, 40000);
    f.ghost[0][1] = 255;
    f.ghost[1][1] = 255;                     // two masks over 255: shared equally
    // Pixel 2: masked, every weight 0 and no fall-back candidate.
    for (auto &w : f.weights)
        std::fill(w.begin() + 20000, w.end(), 0.0);
    f.setPixel(0, 2, 30000, 30000, 30000);
    f.setPixel(1, 2, 30000, 30000, 30000);
    f.ghost[0][2] = 128;
    _HDRgeneration_threadParams_t p = f.record(0);
    p.ghostRemoval = true;
    f.merge(0, &p);
    EXPECT_NEAR(f.out(0, 0), 40000 / 65535.0 / 2.0, 1e-6);
    EXPECT_NEAR(f.out(1, 0), (10000 / 65535.0 + 20000 / 65535.0) / 2.0, 1e-6);
    // 128/255 of photo 0's value, the ordinary merge (no weight: black) for the rest.
    EXPECT_NEAR(f.out(2, 0), 128 / 255.0 * 30000 / 65535.0, 1e-6);
    EXPECT_TRUE(f.allFinite());

    // Confidence tables multiply masked contributions only with noise weighting on;
    // without tables (not filled by the ghost dialog) the factor is neutral.
    std::vector<double> half(4096, 0.5);
    _HDRgeneration_threadParams_t q = f.record(0);
    q.ghostRemoval = true;
    q.noiseWeighting = true;
    f.merge(0, &q);
    EXPECT_NEAR(f.out(0, 0), 40000 / 65535.0 / 2.0, 1e-6);
    for (int c = 0; c < 3; c++)
        f.tables.photo[1].confidence[c] = half.data();
    f.merge(0, &q);
    EXPECT_NEAR(f.out(0, 0), 0.5 * 40000 / 65535.0 / 2.0, 1e-6);
}

TEST(hdrMerge, breakStopsWithinARowAndLeavesTheRestUntouched)
{
    mergeFixture f(64, 8, 2);
    hdrBreakFlag = true;
    f.merge(0);
    hdrBreakFlag = false;
    for (float v : f.output)
        EXPECT_EQ(v, -1.0f);

    // A record whose photo has no pixels (a missing temp file) merges nothing.
    _HDRgeneration_threadParams_t p = f.record(0);
    p.pixels[1] = nullptr;
    double mn = 0, mx = 0;
    EXPECT_EQ(mergeChunk(p, &mn, &mx), -1);
    EXPECT_EQ(f.output[0], -1.0f);
}

TEST(hdrMerge, chunkOffsetsAddressTheWholeImage)
{
    // Two tasks over one image, the second starting mid-row.
    mergeFixture f(10, 3, 1);
    for (int i = 0; i < 30; i++)
        f.setPixel(0, i, quint16(i * 100), 0, 0);
    _HDRgeneration_threadParams_t a = f.record(2);
    a.count = 13;
    _HDRgeneration_threadParams_t b = f.record(2);
    b.start = 13;
    b.count = 17;
    b.pixels[0] = f.photos[0].data() + 13 * 3;
    double mn, mx;
    EXPECT_EQ(mergeChunk(a, &mn, &mx), 1);
    EXPECT_EQ(mergeChunk(b, &mn, &mx), 2);
    EXPECT_EQ(mx, 2900.0);
    for (int i = 0; i < 30; i++)
        EXPECT_EQ(f.out(i, 0), i * 100.0f);
}

// A synthetic bracket through the standard response merges back to the scene.
struct bracketCase {
    const char *name;
    int frames;
    bool eightBit;
    double tolerance;   // in natural-log radiance
};

class hdrMergeBracket : public ::testing::TestWithParam<bracketCase> {};

TEST_P(hdrMergeBracket, trueHdrRecoversTheScene)
{
    const bracketCase c = GetParam();
    const int w = 200, h = 20;
    const std::vector<double> response = syntheticBracket::responseTable(syntheticBracket::standardCoefficients, 6);
    const double lowEv = -2.0 * (c.frames - 1) - 2.0, highEv = 1.0;
    mergeFixture f(w, h, c.frames);
    f.responseR = f.responseG = f.responseB = response;
    for (int k = 0; k < c.frames; k++) {
        const double ev = 2.0 * k;
        f.photos[size_t(k)] = syntheticBracket::renderPhoto(response, w, h, ev, c.eightBit, lowEv, highEv);
        f.tables.photo[k].evLn = ev * M_LN2;
        // A hat weight that ignores the clipped ends.
        for (int i = 0; i < SAMPLE_TABLE_SIZE; i++)
            f.weights[size_t(k)][size_t(i)] = std::max(0.0, 1.0 - std::fabs(i - 32768.0) / 30000.0);
        f.tables.photo[k].lowLevel = 2769;
        f.tables.photo[k].highLevel = 62767;
    }
    f.merge(0);
    ASSERT_TRUE(f.allFinite());
    const double top = response.back();
    double worst = 0.0;
    int checked = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const double scene = syntheticBracket::sceneRadiance(x, y, w, h, lowEv, highEv);
            // Well exposed: some photo sees the pixel between 10 % and 90 % of its range.
            bool wellExposed = false;
            for (int k = 0; k < c.frames; k++) {
                const quint16 s = f.photos[size_t(k)][(size_t(y) * w + x) * 3];
                wellExposed |= s > 6553 && s < 58981;
            }
            if (!wellExposed)
                continue;
            checked++;
            const double merged = f.out(y * w + x, 1) / top;
            worst = std::max(worst, std::fabs(std::log(merged) - std::log(scene)));
        }
    EXPECT_GT(checked, w * h / 2);
    EXPECT_LT(worst, c.tolerance) << "largest log-radiance error";
}

INSTANTIATE_TEST_SUITE_P(frames, hdrMergeBracket,
                         ::testing::Values(bracketCase{"three8", 3, true, 0.03},
                                           bracketCase{"five8", 5, true, 0.03},
                                           bracketCase{"three16", 3, false, 0.001},
                                           bracketCase{"five16", 5, false, 0.001}),
                         [](const auto &info) { return std::string(info.param.name); });
