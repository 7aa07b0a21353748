// The values HDR preprocessing derives from a merge (median level and
// local-contrast exponent) are the ones the tone mapping renders with.

#include "app/sharedFlags.h"
#include "hdr/generateHDRworker.h"
#include "project/curveMaths.h"
#include "project/toneMappingTables.h"
#include "projectFixture.h"
#include "syntheticBracket.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void prepareBaseLayer(processingProject *project)
{
    processingParams_t &p = project->layerSettings[0];
    for (int c = 0; c < PP_CURVE_COUNT; ++c) {
        p.curves[c].points = {QPointF(0, 0), QPointF(1, 1)};
        curveToLut16(p.curveLut[c], p.curves[c].points, 0);
    }
    p.lcEnabled = true;
    p.lcStrength = 0.6;
    p.compression = 1.4;
    for (int c = 0; c < 3; ++c)
        buildLookupTableParallel(project, &p, c);
    project->generateTMtable(&p);
    project->toneCurveTable(&p);
    updateColorMatrix(&p);
    project->vignetteProfile(&p);
    p.precalculated = true;
}

std::vector<quint16> toneMapFull(processingProject *project)
{
    EXPECT_TRUE(project->computeMask());
    EXPECT_TRUE(project->localContrast());
    EXPECT_TRUE(project->doToneMappingFull());
    const quint16 *out = static_cast<const quint16 *>(project->outputImage.levels[0].data);
    return std::vector<quint16>(out, out + size_t(project->width) * project->height * 3);
}

} // namespace

TEST(mergeToToneMapping, preprocessingResultsReachTheToneMapping)
{
    constexpr int W = 200, H = 60;
    hdrProjectFixture f;
    processingProject *project = f.project();
    const std::vector<double> response =
        syntheticBracket::responseTable(syntheticBracket::standardCoefficients, 6);
    // A dark scene: its median lies well below the neutral 0.4 and the
    // exponent drops below 1.
    for (int k = 0; k < 3; k++)
        ASSERT_TRUE(f.addPhoto(syntheticBracket::renderPhoto(response, W, H, 2.0 * k, true, -9.0, -2.0),
                               W, H, 2.0 * k));
    f.recentreEvs();

    generateHDRoptions_t o;
    o.project = project;
    o.method = 0;
    o.selectivity = 1;
    o.smartMergeStrength = 5;
    generateHDRworker worker(o);
    worker.generateHDR_prepare();
    worker.generateHDR_function();
    ASSERT_TRUE(project->hdrState.resultValid);
    const double median = project->hdrState.hdrMedian;
    const double correction = project->hdrState.lcCorrection;
    EXPECT_GE(median, 0.001);
    EXPECT_LE(median, 0.9);
    EXPECT_NE(median, hdrGenerationState_t().hdrMedian) << "preprocessing measured the merge";

    prepareBaseLayer(project);
    const std::vector<quint16> merged = toneMapFull(project);

    // Other values in the project's HDR state change the rendering ...
    project->hdrState.hdrMedian = median < 0.5 ? 0.9 : 0.05;
    project->hdrState.lcCorrection = correction < 0.75 ? 1.0 : 0.5;
    const std::vector<quint16> other = toneMapFull(project);
    EXPECT_NE(merged, other);

    // ... and the merge's own values give back the first rendering.
    project->hdrState.hdrMedian = median;
    project->hdrState.lcCorrection = correction;
    EXPECT_EQ(toneMapFull(project), merged);
}
