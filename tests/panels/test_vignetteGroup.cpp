// The vignette panel writes into every enabled layer and only those.

#include "panels/vignetteGroup.h"
#include "panelTestSupport.h"
#include "widgets/myQPushButton.h"

#include <QSignalSpy>

namespace {

class vignetteGroupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = panelProject::get();
        optionsInstance->performance.liveToneMapping = false;
        for (int k = 0; k < LAYER_COUNT; ++k) {
            saved[k] = project->layerEnabled[k];
            project->layerEnabled[k] = (k == 0 || k == 2 || k == 5);
            project->layerSettings[k].vignetteSize = -5.0; // marks untouched records
        }
        panel.reset(new vignetteGroup(project, "Vignette"));
        panel->resize(420, panel->sizeHint().height());
        panel->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        panel.reset();
        for (int k = 0; k < LAYER_COUNT; ++k)
            project->layerEnabled[k] = saved[k];
    }
    processingProject *project = nullptr;
    std::unique_ptr<vignetteGroup> panel;
    uint8_t saved[LAYER_COUNT] = {};
};

} // namespace

TEST_F(vignetteGroupTest, sizeGoesIntoEveryEnabledLayerAndNoOther)
{
    tableSpy spy;
    QSignalSpy changed(panel.get(), &vignetteGroup::paramsChanged);
    typeValue(panel->size, 1.4);
    for (int k = 0; k < LAYER_COUNT; ++k) {
        const bool enabled = (k == 0 || k == 2 || k == 5);
        EXPECT_DOUBLE_EQ(project->layerSettings[k].vignetteSize, enabled ? 1.4 : -5.0) << k;
        if (enabled) {
            EXPECT_DOUBLE_EQ(project->layerSettings[k].vignetteAmount, 0.0) << k;
            EXPECT_DOUBLE_EQ(project->layerSettings[k].vignetteSmoothness, 1.0) << k;
        }
    }
    using K = panelTables::tableKind_t;
    EXPECT_EQ(spy.set(), (std::set<tableSpy::build_t>{
                             {K::VIGNETTE_PROFILE, 0, 0}, {K::VIGNETTE_PROFILE, 0, 2}, {K::VIGNETTE_PROFILE, 0, 5}}));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QObject *>(), panel->size);

    // init writes the enabled layers too, silently.
    spy.clear();
    changed.clear();
    panel->update(true);
    EXPECT_EQ(spy.builds.size(), 3u);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(vignetteGroupTest, rangesAndHistoryTexts)
{
    struct rangeCase_t {
        slider *vignetteGroup::*control;
        double minimum, maximum, def;
        double typed;
        const char *history;
    } cases[] = {
        {&vignetteGroup::amount, -1.0, 1.0, 0.0, -0.35, "<font size='2'>Vignette</font>, Amount: -0.35"},
        {&vignetteGroup::smoothness, 0.0, 2.0, 1.0, 1.25, "<font size='2'>Vignette</font>, Smoothness: 1.25"},
        {&vignetteGroup::size, 0.0, 2.0, 1.0, 0.5, "<font size='2'>Vignette</font>, Size: 0.50"},
        {&vignetteGroup::roundness, -1.0, 1.0, 0.0, -1.0, "<font size='2'>Vignette</font>, Roundness: -1.00"},
    };
    historyRecorder history(panel.get());
    QStringList expected;
    for (const rangeCase_t &c : cases) {
        slider *s = panel.get()->*c.control;
        EXPECT_DOUBLE_EQ(s->spinBox()->minimum(), c.minimum);
        EXPECT_DOUBLE_EQ(s->spinBox()->maximum(), c.maximum);
        EXPECT_DOUBLE_EQ(s->defaultValue(), c.def);
        typeValue(s, c.typed);
        expected << c.history;
    }
    EXPECT_EQ(history.entries, expected);
    EXPECT_DOUBLE_EQ(project->layerSettings[2].vignetteAmount, -0.35);
    EXPECT_DOUBLE_EQ(project->layerSettings[5].vignetteRoundness, -1.0);
}

TEST_F(vignetteGroupTest, anEditSwitchesTheEffectOnAndALockedPanelAsksForNewThumbnails)
{
    QSignalSpy locks(panel.get(), &toolBox::lockEnabled);
    QTest::mouseClick(panel->visibilitySwitch(), Qt::LeftButton);
    EXPECT_FALSE(panel->effectEnabled());
    typeValue(panel->amount, 0.2);
    EXPECT_TRUE(panel->effectEnabled());
    EXPECT_TRUE(panel->visibilitySwitch()->isChecked());
    EXPECT_EQ(locks.count(), 0) << "unlocked";
    QTest::mouseClick(panel->padlock(), Qt::LeftButton);
    ASSERT_EQ(locks.count(), 1);
    typeValue(panel->amount, 0.4);
    EXPECT_EQ(locks.count(), 2);
}
