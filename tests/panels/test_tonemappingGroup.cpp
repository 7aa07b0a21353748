// The tone-mapping panel: every control writes the current layer's record,
// rebuilds exactly its table group and describes itself for the history; a
// change during a running preview pass is applied after it.

#include "panels/tonemappingGroup.h"
#include "panelTestSupport.h"
#include "project/processingParamsTable.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>

namespace {

using K = panelTables::tableKind_t;

class tonemappingGroupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = panelProject::get();
        optionsInstance->performance.liveToneMapping = false;
        project->currentLayer = 2;
        // Values no control of the panel produces, so every write shows.
        processingParams_t &r = record();
        r.compression = r.gamma = r.lcStrength = r.lcHighlights = r.lcShadows = r.lcBlackness = r.lcRange =
            r.lcMicro = r.maskHighlights = r.maskShadows = r.sharpness = -7.0;
        r.lcEnabled = r.maskEnabled = false;
        panel.reset(new tonemappingGroup(project, "Tone mapping"));
        panel->resize(420, panel->sizeHint().height());
        panel->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        panel.reset();
        project->currentLayer = 0;
        toneMappingRunning = false;
        if (optionsInstance)
            optionsInstance->performance.liveToneMapping = false;
    }
    processingParams_t &record() { return project->layerSettings[2]; }
    processingProject *project = nullptr;
    std::unique_ptr<tonemappingGroup> panel;
};

std::set<tableSpy::build_t> lookupTables(int layer)
{
    return {{K::LOOKUP, 0, layer}, {K::LOOKUP, 1, layer}, {K::LOOKUP, 2, layer}};
}
std::set<tableSpy::build_t> maskTables(int layer)
{
    return {{K::MASK_TONE, 0, layer}, {K::MASK_WEIGHT, 0, layer}};
}

struct sliderCase_t {
    const char *name;
    slider *tonemappingGroup::*control;
    double processingParams_t::*field;
    double value;
    enum { NONE, GAMMA, MASK } tables;
    const char *history;
};

const sliderCase_t sliderCases[] = {
    {"compression", &tonemappingGroup::compression, &processingParams_t::compression, 2.35, sliderCase_t::NONE,
     "Compression: 2.35"},
    {"gamma", &tonemappingGroup::gamma, &processingParams_t::gamma, 1.7, sliderCase_t::GAMMA, "Gamma: 1.70"},
    {"strength", &tonemappingGroup::strength, &processingParams_t::lcStrength, 0.45, sliderCase_t::NONE,
     "<font size='2'>Local contrast</font>, Strength: 0.45"},
    {"highlights", &tonemappingGroup::highlights, &processingParams_t::lcHighlights, 0.61, sliderCase_t::NONE,
     "<font size='2'>Local contrast</font>, Highlights: 0.61"},
    {"shadows", &tonemappingGroup::shadows, &processingParams_t::lcShadows, 0.12, sliderCase_t::NONE,
     "<font size='2'>Local contrast</font>, Shadows: 0.12"},
    {"blackness", &tonemappingGroup::blackness, &processingParams_t::lcBlackness, 0.9, sliderCase_t::NONE,
     "<font size='2'>Local contrast</font>, Blackness: 0.90"},
    {"range", &tonemappingGroup::range, &processingParams_t::lcRange, 0.77, sliderCase_t::NONE,
     "<font size='2'>Local contrast</font>, Range: 0.77"},
    {"micro", &tonemappingGroup::micro, &processingParams_t::lcMicro, 0.05, sliderCase_t::NONE,
     "<font size='2'>Local contrast</font>, Micro: 0.05"},
    {"maskHighlights", &tonemappingGroup::maskHighlights, &processingParams_t::maskHighlights, 0.66,
     sliderCase_t::MASK, "<font size='2'>Mask</font>, Highlights: 0.66"},
    {"maskShadows", &tonemappingGroup::maskShadows, &processingParams_t::maskShadows, 0.21, sliderCase_t::MASK,
     "<font size='2'>Mask</font>, Shadows: 0.21"},
    {"sharpness", &tonemappingGroup::sharpness, &processingParams_t::sharpness, 0.83, sliderCase_t::NONE,
     "Sharpness: 0.83"},
};

} // namespace

TEST_F(tonemappingGroupTest, slidersTakeRangeDefaultAndLabelFromTheParameterTable)
{
    struct keyed_t {
        slider *s;
        const char *key;
    } keyed[] = {{panel->compression, "GlobalOp/Compression"},    {panel->gamma, "GlobalOp/Gamma"},
                 {panel->strength, "LocalContrastOp/Strength"},   {panel->highlights, "LocalContrastOp/Highlights"},
                 {panel->shadows, "LocalContrastOp/Shadows"},     {panel->blackness, "LocalContrastOp/Blackness"},
                 {panel->range, "LocalContrastOp/Range"},         {panel->micro, "LocalContrastOp/Micro"},
                 {panel->maskHighlights, "MaskOp/Highlights"},    {panel->maskShadows, "MaskOp/Shadows"},
                 {panel->sharpness, "Other/Sharpness"}};
    for (const keyed_t &k : keyed) {
        const processingParamField_t *f = processingParamField(k.key);
        ASSERT_NE(f, nullptr) << k.key;
        EXPECT_DOUBLE_EQ(k.s->spinBox()->minimum(), f->minimum) << k.key;
        EXPECT_DOUBLE_EQ(k.s->spinBox()->maximum(), f->maximum) << k.key;
        EXPECT_DOUBLE_EQ(k.s->defaultValue(), f->defaultValue) << k.key;
        EXPECT_DOUBLE_EQ(k.s->value(), f->defaultValue) << k.key;
        EXPECT_EQ(k.s->decimals(), 2) << k.key;
    }
    // Defaults of the panel itself (the table must agree with them).
    EXPECT_DOUBLE_EQ(panel->compression->defaultValue(), 1.4);
    EXPECT_DOUBLE_EQ(panel->gamma->defaultValue(), 0.9);
    EXPECT_DOUBLE_EQ(panel->range->defaultValue(), 0.5);
    EXPECT_DOUBLE_EQ(panel->sharpness->defaultValue(), 0.3);
    EXPECT_FALSE(panel->localContrast->isChecked());
    EXPECT_FALSE(panel->mask->isChecked());
    EXPECT_EQ(panel->localContrastLabels.size(), 6);
    EXPECT_EQ(panel->maskLabels.size(), 2);
    EXPECT_EQ(panel->localContrastLabels.first()->text(), "Strength:");
}

TEST_F(tonemappingGroupTest, eachTypedValueWritesTheRecordRebuildsItsGroupAndMakesItsHistoryEntry)
{
    for (const sliderCase_t &c : sliderCases) {
        SCOPED_TRACE(c.name);
        tableSpy spy;
        historyRecorder history(panel.get());
        QSignalSpy changed(panel.get(), &tonemappingGroup::paramsChanged);
        slider *s = panel.get()->*c.control;
        typeValue(s, c.value);
        EXPECT_DOUBLE_EQ(record().*c.field, c.value);
        std::set<tableSpy::build_t> expected;
        if (c.tables == sliderCase_t::GAMMA)
            expected = lookupTables(2);
        else if (c.tables == sliderCase_t::MASK)
            expected = maskTables(2);
        EXPECT_EQ(spy.set(), expected);
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).value<QObject *>(), s);
        EXPECT_EQ(history.entries, QStringList{c.history});
    }
    // The other values were copied along on every call.
    EXPECT_DOUBLE_EQ(record().compression, 2.35);
    EXPECT_DOUBLE_EQ(record().sharpness, 0.83);
}

TEST_F(tonemappingGroupTest, checkBoxesSwitchTheOperatorsWithOnOffHistory)
{
    tableSpy spy;
    historyRecorder history(panel.get());
    QSignalSpy changed(panel.get(), &tonemappingGroup::paramsChanged);
    clickCheckBox(panel->localContrast);
    EXPECT_TRUE(record().lcEnabled);
    clickCheckBox(panel->mask);
    EXPECT_TRUE(record().maskEnabled);
    clickCheckBox(panel->localContrast);
    EXPECT_FALSE(record().lcEnabled);
    EXPECT_EQ(history.entries, (QStringList{"Local contrast: on", "Mask: on", "Local contrast: off"}));
    EXPECT_EQ(changed.count(), 3);
    EXPECT_TRUE(spy.builds.empty());
}

TEST_F(tonemappingGroupTest, initWritesEverythingRebuildsBothGroupsAndAnnouncesNothing)
{
    {
        const QSignalBlocker b1(panel->gamma), b2(panel->maskShadows), b3(panel->localContrast),
            b4(panel->range);
        panel->gamma->setValue(2.5);
        panel->maskShadows->setValue(0.8);
        panel->range->setValue(0.12);
        panel->localContrast->setChecked(true);
    }
    tableSpy spy;
    historyRecorder history(panel.get());
    QSignalSpy changed(panel.get(), &tonemappingGroup::paramsChanged);
    panel->update(true);
    EXPECT_DOUBLE_EQ(record().gamma, 2.5);
    EXPECT_DOUBLE_EQ(record().maskShadows, 0.8);
    EXPECT_DOUBLE_EQ(record().lcRange, 0.12);
    EXPECT_TRUE(record().lcEnabled);
    EXPECT_DOUBLE_EQ(record().compression, 1.4);
    EXPECT_DOUBLE_EQ(record().maskHighlights, 0.3);
    std::set<tableSpy::build_t> expected = lookupTables(2);
    const auto mask = maskTables(2);
    expected.insert(mask.begin(), mask.end());
    EXPECT_EQ(spy.set(), expected);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(history.entries.isEmpty());
}

TEST_F(tonemappingGroupTest, defaultResetReplacesTheLastHistoryEntry)
{
    historyRecorder history(panel.get());
    history.watchRemovals(panel.get());
    typeValue(panel->micro, 0.7);
    panel->micro->setDefault(true); // what a double-click ends in
    EXPECT_EQ(history.entries, (QStringList{"<font size='2'>Local contrast</font>, Micro: 0.70", "<remove last>",
                                            "<font size='2'>Local contrast</font>, Micro: 0.30"}));
    EXPECT_DOUBLE_EQ(record().lcMicro, 0.3);
}

TEST_F(tonemappingGroupTest, changesDuringARunningPassAreAppliedAfterIt)
{
    tableSpy spy;
    historyRecorder history(panel.get());
    QSignalSpy changed(panel.get(), &tonemappingGroup::paramsChanged);
    {
        toneMappingPass pass;
        typeValue(panel->gamma, 1.9);
        typeValue(panel->maskHighlights, 0.55);
        clickCheckBox(panel->localContrast);
        // Nothing reaches the record while the pass renders from it.
        EXPECT_DOUBLE_EQ(record().gamma, -7.0);
        EXPECT_FALSE(record().lcEnabled);
        EXPECT_TRUE(spy.builds.empty());
        EXPECT_EQ(changed.count(), 0);
        EXPECT_TRUE(panel->hasDeferredChange());
        // A second end-of-pass call while the flag is still up applies nothing.
        toolBox::toneMappingPassEnded();
        EXPECT_DOUBLE_EQ(record().gamma, -7.0);
    }
    // The history was written at once.
    EXPECT_EQ(history.entries.size(), 3);
    toolBox::toneMappingPassEnded();
    EXPECT_FALSE(panel->hasDeferredChange());
    EXPECT_DOUBLE_EQ(record().gamma, 1.9);
    EXPECT_DOUBLE_EQ(record().maskHighlights, 0.55);
    EXPECT_TRUE(record().lcEnabled);
    // Both held-back groups were rebuilt, once each.
    std::set<tableSpy::build_t> expected = lookupTables(2);
    const auto mask = maskTables(2);
    expected.insert(mask.begin(), mask.end());
    EXPECT_EQ(spy.set(), expected);
    EXPECT_EQ(spy.builds.size(), expected.size());
    ASSERT_EQ(changed.count(), 1) << "one re-render for everything held back";
    // Nothing left for the next pass.
    spy.clear();
    toolBox::toneMappingPassEnded();
    EXPECT_TRUE(spy.builds.empty());
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(tonemappingGroupTest, aRefreshDuringAPassIsAppliedSilentlyAfterIt)
{
    QSignalSpy changed(panel.get(), &tonemappingGroup::paramsChanged);
    {
        toneMappingPass pass;
        const QSignalBlocker block(panel->compression);
        panel->compression->setValue(3.1);
        panel->update(true);
    }
    EXPECT_DOUBLE_EQ(record().compression, -7.0);
    toolBox::toneMappingPassEnded();
    EXPECT_DOUBLE_EQ(record().compression, 3.1);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(tonemappingGroupTest, draggingUpdatesOnlyOnReleaseUnlessLiveToneMappingIsOn)
{
    QSignalSpy changed(panel.get(), &tonemappingGroup::paramsChanged);
    dragHandle(panel->compression, 60, false);
    EXPECT_EQ(changed.count(), 0);
    sendMouse(panel->compression->sliderWidget(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton,
              handleCentre(panel->compression->sliderWidget()));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_DOUBLE_EQ(record().compression, panel->compression->value());

    // The options dialog switched live tone mapping on: reconnecting takes it up.
    optionsInstance->performance.liveToneMapping = true;
    panel->connectSignals(false);
    panel->connectSignals(true);
    changed.clear();
    dragHandle(panel->compression, 60, false);
    EXPECT_GE(changed.count(), 1);
    EXPECT_DOUBLE_EQ(record().compression, panel->compression->value());
    sendMouse(panel->compression->sliderWidget(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton,
              handleCentre(panel->compression->sliderWidget()));

    // Disconnected, the panel is silent.
    panel->connectSignals(false);
    changed.clear();
    typeValue(panel->gamma, 2.0);
    clickCheckBox(panel->mask);
    EXPECT_EQ(changed.count(), 0);
}
