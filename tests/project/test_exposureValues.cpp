#include "project/exposureValues.h"

#include "project/tableSizes.h"
#include "testSupport.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A known camera: linear light = (v / 65535)^2.2, hat-shaped weights.
struct camera_t {
    std::vector<double> L, W;
    camera_t() : L(SAMPLE_TABLE_SIZE), W(SAMPLE_TABLE_SIZE)
    {
        for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i) {
            const double x = i / 65535.0;
            L[i] = std::pow(x, 2.2) + 1e-6;
            W[i] = 1.0 - std::fabs(2.0 * x - 1.0);
        }
    }
    uint16_t encode(double linear) const
    {
        const double v = std::pow(std::min(1.0, std::max(0.0, linear)), 1.0 / 2.2) * 65535.0;
        return uint16_t(std::lround(v));
    }
};

// Owns the preview buffers of a synthetic bracket (photo records share them).
struct bracket_t {
    int w = 160, h = 120;
    std::vector<std::unique_ptr<uint16_t[]>> buffers;
    QList<photoInfo_t> photos;

    // A textured scene of about five stops, seen at exposure 2^ev, shifted
    // by (sx, sy) preview pixels.
    void add(const camera_t &cam, double ev, int sx = 0, int sy = 0)
    {
        std::unique_ptr<uint16_t[]> buf(new uint16_t[size_t(w) * h * 3]);
        double sum = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const double u = (x - sx) / double(w), v = (y - sy) / double(h);
                const double scene = 0.02 * std::pow(2.0, 5.0 * (0.5 + 0.25 * std::sin(9 * u) + 0.25 * std::cos(7 * v)));
                for (int c = 0; c < 3; ++c) {
                    const uint16_t s = cam.encode(scene * std::pow(2.0, ev) * (1.0 + 0.1 * c));
                    buf[(size_t(y) * w + x) * 3 + c] = s;
                    sum += s;
                }
            }
        }
        photoInfo_t p;
        memset(&p.exif, 0, sizeof p.exif);
        p.preview = buf.get();
        p.meanBrightness = sum / (double(w) * h * 3);
        buffers.push_back(std::move(buf));
        photos.append(p);
    }
};

} // namespace

TEST(exposureValues, evFromExposureRules)
{
    struct { const char *name; double t, n, s, expect; bool fromExif; } cases[] = {
        {"all three", 2.0, 4.5, 200.0, std::log2(2.0 / 20.25 * 2.0), true},
        {"no f-number", 0.5, 0.0, 100.0, -1.0, true},
        {"only time", 0.25, 0.0, 0.0, -2.0, true},
        {"nothing", 0.0, 0.0, 0.0, 0.0, false},
        {"tiny values count as missing", 1e-8, -1e-8, 1e-9, 0.0, false},
    };
    for (const auto &c : cases) {
        bool fromExif = !c.fromExif;
        EXPECT_NEAR(exposureValues::evFromExposure(c.t, c.n, c.s, fromExif), c.expect, 1e-12) << c.name;
        EXPECT_EQ(fromExif, c.fromExif) << c.name;
    }
}

TEST(exposureValues, computeAutoEVFindsKnownSteps)
{
    const camera_t cam;
    struct { double step; int sx, sy; } cases[] = {{1.0, 0, 0}, {-1.0, 0, 0}, {2.0, 0, 0}, {1.3, 0, 0},
                                                  {-0.7, 0, 0}, {1.0, 8, -4}, {0.25, 0, 0}};
    for (const auto &c : cases) {
        bracket_t b;
        b.add(cam, -1.0);
        b.add(cam, -1.0 + c.step, c.sx, c.sy);
        const double ev = exposureValues::computeAutoEV(b.photos[0], b.photos[1], b.w, b.h, cam.L.data(), cam.W.data());
        EXPECT_NEAR(ev, c.step, 1.0 / 16.0) << "step " << c.step << " shift " << c.sx << "," << c.sy;
    }
    // Without previews (or tables) there is nothing to compare.
    photoInfo_t empty;
    EXPECT_EQ(exposureValues::computeAutoEV(empty, empty, 10, 10, cam.L.data(), cam.W.data()), 0.0);
}

TEST(exposureValues, biasSeriesWithoutExposureData)
{
    const camera_t cam;
    bracket_t b;
    const double biases[3] = {0.0, -2.0, 2.0};
    for (double bias : biases) {
        b.add(cam, bias - 1.0);
        b.photos.last().exif.exposureBias = float(bias);
    }
    evState_t s;
    exposureValues::sortPhotosByEV(b.photos, s, b.w, b.h, cam.L.data(), cam.W.data());
    EXPECT_FALSE(s.evFromExif);
    EXPECT_TRUE(s.biasDistinct);
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(b.photos[i].ev, biases[i]);
        EXPECT_DOUBLE_EQ(b.photos[i].evLn, biases[i] * M_LN2);
        EXPECT_NEAR(b.photos[i].evAuto, biases[i], 1.0 / 16.0);
    }
    EXPECT_EQ(s.idxMid, 0);
    EXPECT_DOUBLE_EQ(s.evMin, -2.0);
    EXPECT_DOUBLE_EQ(s.evMax, 2.0);
    EXPECT_EQ(s.idxMin, 1);
    EXPECT_EQ(s.idxMax, 2);
    EXPECT_NEAR(s.evMean, 0.0, 1e-12);
    // Ranks: the brightest (+2) first.
    EXPECT_EQ(b.photos[2].brightnessRank, 0);
    EXPECT_EQ(b.photos[0].brightnessRank, 1);
    EXPECT_EQ(b.photos[1].brightnessRank, 2);
    EXPECT_FALSE(exposureValues::minEVdiff(b.photos));
}

TEST(exposureValues, noExposureDataKeepsEv)
{
    const camera_t cam;
    bracket_t b;
    const double evs[3] = {0.5, 1.5, -0.5}; // set by hand before; equal (zero) bias
    for (double ev : evs) {
        b.add(cam, ev - 1.0);
        b.photos.last().ev = ev;
    }
    evState_t s;
    exposureValues::sortPhotosByEV(b.photos, s, b.w, b.h, cam.L.data(), cam.W.data());
    EXPECT_FALSE(s.evFromExif);
    EXPECT_FALSE(s.biasDistinct);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(b.photos[i].ev, evs[i]);
    // Content estimate recentred on the middle of the brightness order (0.5).
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(b.photos[i].evAuto, evs[i] - 0.5, 1.0 / 16.0) << i;
    EXPECT_FALSE(exposureValues::aebEVdiff(b.photos, s));
}

TEST(exposureValues, exifSeriesAndChecks)
{
    const camera_t cam;
    bracket_t b;
    // 1/100, 1/25, 1/400 s at f/8 ISO 100 with biases 0, +2, -2: consistent.
    const double times[3] = {0.01, 0.04, 0.0025};
    const double bias[3] = {0.0, 2.0, -2.0};
    for (int i = 0; i < 3; ++i) {
        b.add(cam, bias[i] - 1.0);
        b.photos.last().exif.exposureTime = float(times[i]);
        b.photos.last().exif.fNumber = 8.0f;
        b.photos.last().exif.iso = 100;
        b.photos.last().exif.exposureBias = float(bias[i]);
    }
    evState_t s;
    exposureValues::sortPhotosByEV(b.photos, s, b.w, b.h, cam.L.data(), cam.W.data());
    EXPECT_TRUE(s.evFromExif);
    EXPECT_TRUE(s.biasDistinct);
    EXPECT_EQ(s.idxMid, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(b.photos[i].ev, bias[i], 1e-5);
        EXPECT_DOUBLE_EQ(b.photos[i].evExif, b.photos[i].ev); // recentred EXIF values
        EXPECT_NEAR(b.photos[i].evAuto, bias[i], 1.0 / 16.0);
    }
    EXPECT_FALSE(exposureValues::aebEVdiff(b.photos, s));
    // A bias that disagrees with the exposure settings by 0.5 EV.
    b.photos[2].exifBias = -1.5;
    EXPECT_TRUE(exposureValues::aebEVdiff(b.photos, s));
    // Two equal EVs.
    b.photos[1].ev = b.photos[0].ev;
    EXPECT_TRUE(exposureValues::minEVdiff(b.photos));
}

TEST(exposureValues, evRangeTiesAndEmpty)
{
    QList<photoInfo_t> none;
    evState_t s;
    s.idxMid = 7;
    exposureValues::evRange(none, s);
    EXPECT_EQ(s.idxMid, 7);
    exposureValues::sortPhotosByEV(none, s, 0, 0, nullptr, nullptr);
    EXPECT_FALSE(exposureValues::aebEVdiff(none, s));
    EXPECT_FALSE(exposureValues::minEVdiff(none));

    // Mean 1: photos 0 (ev 0) and 1 (ev 2) are equally near; the later wins.
    QList<photoInfo_t> two;
    two.append(photoInfo_t());
    two.append(photoInfo_t());
    two[0].ev = 0.0;
    two[1].ev = 2.0;
    exposureValues::evRange(two, s);
    EXPECT_EQ(s.idxMid, 1);
    EXPECT_DOUBLE_EQ(two[0].ev, -2.0);
    EXPECT_DOUBLE_EQ(two[1].ev, 0.0);
    EXPECT_DOUBLE_EQ(s.evMeanLn, -M_LN2);
}
