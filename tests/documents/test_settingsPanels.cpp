#include "documents/settingsFile.h"
#include "documents/settingsPanels.h"

#include "testSupport.h"

#include <QMap>
#include <gtest/gtest.h>

namespace
{
// Panels that hold their own copy of the values, as real panels do in their
// controls.
class fakePanels : public settingsPanelsView
{
public:
    bool isPanelLocked(processingPanel_e panel) const override { return locked.contains(panel); }
    void showInPanel(processingPanel_e panel, const processingParams_t &params) override
    {
        shown << panel;
        for (const processingParamField_t &f : processingParamFields())
            if (f.panel == panel)
                f.set(controls, f.get(params));
        if (panel == processingPanel_e::colorSaturation)
            controls.hueSelectivePoints = params.hueSelectivePoints;
    }
    void showCurves(const processingParams_t &params) override { curvesShown = params.curves[0].points.size(); }
    void copyPanelsToRecord(processingParams_t *params) override
    {
        for (const processingParamField_t &f : processingParamFields())
            if (f.panel != processingPanel_e::levels)
                f.set(*params, f.get(controls));
        params->hueSelectivePoints = controls.hueSelectivePoints;
    }
    void finishRefresh(const processingParams_t &) override { ++finished; }

    lockedPanels_t locked;
    processingParams_t controls;
    QList<processingPanel_e> shown;
    int curvesShown = -1;
    int finished = 0;
};
} // namespace

TEST(settingsPanels, lockedPanelsSurviveAPresetLoad)
{
    fakePanels panels;
    panels.controls.vignetteAmount = -0.4;
    panels.controls.temperature = 1.6;
    panels.controls.hueSelectivePoints = {{0.2, 0.8, 1.0}};
    panels.locked = {processingPanel_e::vignette, processingPanel_e::colorSaturation};

    processingParams_t preset;
    preset.vignetteAmount = 0.5;
    preset.temperature = 0.7;
    preset.gamma = 1.8;
    preset.curves[0].points = {QPointF(0, 0), QPointF(0.4, 0.5), QPointF(1, 1)};
    const QString path = testSupport::freshDir() + "/look.lmsx";
    ASSERT_TRUE(saveSettingsFile(path, preset));

    processingParams_t layer;
    ASSERT_EQ(loadSettingsFile(path, &layer), SETTINGS_LOADED);
    applySettingsToPanels(panels, &layer, false);
    EXPECT_DOUBLE_EQ(layer.vignetteAmount, -0.4);          // locked: the panel's value stays
    EXPECT_EQ(layer.hueSelectivePoints.size(), 1);
    EXPECT_NEAR(layer.temperature, 0.7, 1e-6);             // unlocked: the preset's value
    EXPECT_NEAR(layer.gamma, 1.8, 1e-6);                   // the tone-mapping panel has no padlock
    EXPECT_NEAR(panels.controls.temperature, 0.7, 1e-6);
    EXPECT_EQ(panels.curvesShown, 3);
    EXPECT_FALSE(panels.shown.contains(processingPanel_e::vignette));
    EXPECT_TRUE(panels.shown.contains(processingPanel_e::levels));
    EXPECT_EQ(panels.finished, 1);
    EXPECT_EQ(lockedPanelsOf(panels), panels.locked);

    // Switching layers forces every panel to show the record.
    ASSERT_EQ(loadSettingsFile(path, &layer), SETTINGS_LOADED);
    applySettingsToPanels(panels, &layer, true);
    EXPECT_NEAR(layer.vignetteAmount, 0.5, 1e-6);
    EXPECT_NEAR(panels.controls.vignetteAmount, 0.5, 1e-6);
    EXPECT_TRUE(layer.hueSelectivePoints.isEmpty());
}
