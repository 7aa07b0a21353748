// Showing a record in the panels (settings files, layer switches): the
// controls take every value of the parameter table silently, and writing
// them back gives the same record.

#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/selectiveCurveTool.h"
#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "panelTestSupport.h"
#include "project/curveMaths.h"
#include "project/processingParamsTable.h"
#include "project/tableSizes.h"

#include <QSignalSpy>

#include <cmath>

namespace {

// A value inside the field's range that no default has, on its decimals.
double probeValue(const processingParamField_t &f, int salt)
{
    if (f.isFlag())
        return 1.0;
    const double v = f.minimum + (f.maximum - f.minimum) * (0.23 + 0.05 * (salt % 7));
    const double m = std::pow(10.0, f.decimals);
    return std::round(v * m) / m;
}

} // namespace

TEST(showRecord, everyPanelShowsItsSettingsSilentlyAndWritesThemBackUnchanged)
{
    processingProject *project = panelProject::get();
    optionsInstance->performance.liveToneMapping = false;
    project->currentLayer = 7;
    project->layerEnabled[7] = 1;
    processingParams_t &layer = project->layerSettings[7];

    // The record the settings were loaded into (the current layer's), and a
    // copy to compare with after the round trip.
    int salt = 0;
    for (const processingParamField_t &f : processingParamFields())
        f.set(layer, probeValue(f, salt++));
    layer.autoClipping = false;
    layer.blackPointValue = 0.1;
    layer.whitePointValue = 0.8;
    selKneePoints_t k;
    k.x = 0.3;
    k.y = 0.7;
    k.sigma = 0.5;
    layer.hueSelectivePoints = {k};
    for (curveEntry_t &c : layer.curves)
        c = curveEntry_t();
    layer.curves[2].points = {QPointF(0, 0), QPointF(0.4, 0.6), QPointF(1, 1)};
    layer.curves[2].type = 1;
    processingParams_t shown;
    copyProcessingParams(&shown, &layer);

    tonemappingGroup tonemapping(project, "Tone mapping");
    vignetteGroup vignette(project, "Vignette");
    colorAdjustGroup adjust(project, "Color adjustment");
    colorSaturationGroup saturation(project, "Color saturation");
    histogramGroup levels(project, "Levels");
    toneCurveGroup curves(project, "Tone curve");
    QSignalSpy a(&tonemapping, &tonemappingGroup::paramsChanged), b(&vignette, &vignetteGroup::paramsChanged),
        c(&adjust, &colorAdjustGroup::paramsChanged), d(&saturation, &colorSaturationGroup::paramsChanged),
        e(&levels, &histogramGroup::histogramPointsMoved), g(&curves, &toneCurveGroup::curvesModified);
    QSignalSpy h1(&tonemapping, &tonemappingGroup::newToHistory), h2(&vignette, &vignetteGroup::newToHistory);

    tonemapping.showRecord(layer);
    vignette.showRecord(layer);
    adjust.showRecord(layer);
    saturation.showRecord(layer);
    levels.showRecord(layer);
    curves.showCurves(layer);
    for (QSignalSpy *spy : {&a, &b, &c, &d, &e, &g, &h1, &h2})
        EXPECT_EQ(spy->count(), 0) << "shown silently";

    tonemapping.update(true);
    vignette.update(true);
    adjust.update(true);
    saturation.update(true);
    levels.update(true);
    curves.getCurveData(-1, true);
    for (const processingParamField_t &f : processingParamFields()) {
        if (f.panel == processingPanel_e::levels || f.key().startsWith("Vignette/Center"))
            continue; // the levels panel writes points only; the centre is not in a panel
        EXPECT_DOUBLE_EQ(f.get(layer), f.get(shown)) << f.key().toStdString();
    }
    EXPECT_DOUBLE_EQ(layer.blackPointValue, 0.1);
    EXPECT_DOUBLE_EQ(layer.whitePointValue, 0.8);
    EXPECT_DOUBLE_EQ(levels.editor()->blackClipSpinBox()->value(), shown.blackPoint);
    EXPECT_FALSE(levels.editor()->isLocked());
    ASSERT_EQ(saturation.hueSelective->canvas()->kneePoints().size(), 1);
    EXPECT_DOUBLE_EQ(saturation.hueSelective->canvas()->kneePoints()[0].x, 0.3);
    EXPECT_EQ(curves.editor()->canvas(2)->curvePoints(), shown.curves[2].points);
    EXPECT_EQ(curves.editor()->canvas(2)->mode(), 1);
    EXPECT_EQ(curves.editor()->canvas(1)->curvePoints().size(), 2) << "an empty curve shows the identity";
    std::vector<quint16> expected(SAMPLE_TABLE_SIZE);
    ASSERT_TRUE(curveToLut16(expected.data(), shown.curves[2].points, 1));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), layer.curveLut[2]));
    project->currentLayer = 0;
    project->layerEnabled[7] = 0;
}
