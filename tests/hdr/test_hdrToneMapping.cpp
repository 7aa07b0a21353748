// From bracket to picture: a small synthetic bracket merged by the HDR worker,
// preprocessed, prepared for tone mapping by the preparation worker and
// tone-mapped at full size through the project, as hdr_pipeline --tonemap does.

#include "app/sharedFlags.h"
#include "hdr/generateHDRworker.h"
#include "project/toneMappingPreprocessWorker.h"
#include "project/curveMaths.h"
#include "project/toneMappingTables.h"
#include "projectFixture.h"
#include "syntheticBracket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int W = 160, H = 96;
constexpr double LOW_EV = -7.0, HIGH_EV = 1.0;

// Regions of the scene: a black corner, and a warm patch whose green and blue
// are one and two stops below its red.
bool inBlack(int x, int y) { return x < 12 && y < 12; }
bool inWarm(int x, int y) { return x >= 100 && x < 124 && y >= 60 && y < 84; }

// One photo at exposure 2^ev of the horizontal log ramp with both regions.
std::vector<quint16> renderPhoto(const std::vector<double> &response, double ev)
{
    std::vector<quint16> img(size_t(W) * H * 3);
    const double top = response.back();
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            const double radiance = inBlack(x, y) ? 0.0
                                                  : syntheticBracket::sceneRadiance(x, y, W, H, LOW_EV, HIGH_EV);
            for (int c = 0; c < 3; c++) {
                const double factor = inWarm(x, y) ? std::exp2(-double(c)) : 1.0;
                img[(size_t(y) * W + x) * 3 + c] =
                    syntheticBracket::cameraSample(response, radiance * factor * std::exp2(ev) * top, true);
            }
        }
    return img;
}

// The tables of a layer record from its settings, as the tone-mapping panels
// build them.
void precalculate(processingProject *project, processingParams_t &p)
{
    for (int c = 0; c < PP_CURVE_COUNT; c++)
        ASSERT_TRUE(curveToLut16(p.curveLut[c], p.curves[c].points, p.curves[c].type));
    for (int c = 0; c < 3; c++)
        buildLookupTableParallel(project, &p, c);
    project->generateTMtable(&p);
    project->toneCurveTable(&p);
    updateColorMatrix(&p);
    project->vignetteProfile(&p);
    p.precalculated = true;
}

struct pixelMeans_t {
    double r = 0, g = 0, b = 0;
    double luminance() const { return 0.2126 * r + 0.7152 * g + 0.0722 * b; }
};

pixelMeans_t meanOver(const quint16 *out, int x0, int x1, int y0, int y1)
{
    pixelMeans_t m;
    int n = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            const quint16 *px = out + (size_t(y) * W + x) * 3;
            m.r += px[0];
            m.g += px[1];
            m.b += px[2];
            n++;
        }
    m.r /= n;
    m.g /= n;
    m.b /= n;
    return m;
}

} // namespace

TEST(hdrToneMapping, bracketMergesPreparesAndToneMapsIntoASanePicture)
{
    hdrProjectFixture f;
    const std::vector<double> response = syntheticBracket::responseTable(syntheticBracket::standardCoefficients, 6);
    for (int k = 0; k < 3; k++)
        ASSERT_TRUE(f.addPhoto(renderPhoto(response, 2.0 * k), W, H, 2.0 * k));
    f.recentreEvs();
    processingProject *project = f.project();

    generateHDRoptions_t o;
    o.project = project;
    o.method = 0;
    o.selectivity = 1;
    o.smartMergeStrength = 5;
    generateHDRworker worker(o);
    worker.generateHDR_prepare();
    ASSERT_TRUE(worker.generateHDR_core());
    ASSERT_TRUE(worker.hdrPreprocess());
    const float *hdr = f.hdr();
    for (qint64 i = 0; i < qint64(W) * H * 3; i++)
        ASSERT_TRUE(std::isfinite(hdr[i])) << i;

    // The tone mapping reads the preprocessing's values from the project's HDR state.
    EXPECT_GE(project->hdrState.hdrMedian, 0.001);
    EXPECT_LE(project->hdrState.hdrMedian, 0.9);

    project->maskReady = project->localContrastReady = false;
    toneMappingPreprocessWorker preparation(project);
    preparation.doIt();
    ASSERT_TRUE(preparation.mapsReady());

    // The record's own defaults, then local contrast and compression (which
    // read the median and the local-contrast maps).
    for (bool localContrast : {false, true}) {
        SCOPED_TRACE(localContrast ? "local contrast" : "defaults");
        processingParams_t &p = project->layerSettings[0];
        p.lcEnabled = localContrast;
        p.lcStrength = localContrast ? 0.6 : 0.0;
        p.lcShadows = localContrast ? 0.5 : 0.0;
        p.lcBlackness = localContrast ? 0.2 : 0.0;
        p.compression = localContrast ? 1.5 : 1.0;
        precalculate(project, p);
        quint16 *output = static_cast<quint16 *>(project->outputImage.levels[0].data);
        std::fill(output, output + size_t(W) * H * 3, quint16(12345));
        ASSERT_TRUE(project->doToneMappingFull());
        const quint16 *out = static_cast<const quint16 *>(project->outputImage.levels[0].data);

        // Complete: no pixel keeps the value written before.
        int untouched = 0;
        for (qint64 i = 0; i < qint64(W) * H * 3; i++)
            untouched += out[i] == 12345;
        EXPECT_LT(untouched, W * H / 100);

        // Black stays black.
        const pixelMeans_t black = meanOver(out, 2, 10, 2, 10);
        EXPECT_LT(black.luminance(), 0.02 * 65535);

        // Brighter scene, brighter picture: bands along the ramp, away from the patches.
        double previous = -1.0;
        for (int x0 = 16; x0 + 12 <= W; x0 += 24) {
            const double band = meanOver(out, x0, x0 + 12, 20, 56).luminance();
            EXPECT_GT(band, previous + 100) << "band at x " << x0;
            previous = band;
        }
        EXPECT_GT(previous, 0.5 * 65535) << "the bright end is bright";

        // The warm patch stays warm: red over green over blue (no channel mix-up),
        // while the grey ramp beside it stays grey.
        const pixelMeans_t warm = meanOver(out, 104, 120, 64, 80);
        EXPECT_GT(warm.r, warm.g * 1.1);
        EXPECT_GT(warm.g, warm.b * 1.1);
        const pixelMeans_t grey = meanOver(out, 130, 150, 64, 80);
        EXPECT_NEAR(grey.r / grey.g, 1.0, 0.05);
        EXPECT_NEAR(grey.b / grey.g, 1.0, 0.05);
    }
}
