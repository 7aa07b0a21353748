// The colour saturation and colour adjustment panels: record, rebuilt tables,
// history, the effect switch and the padlock.

#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/selectiveCurveTool.h"
#include "panelTestSupport.h"
#include "project/colorMaths.h"
#include "widgets/colorSample.h"
#include "widgets/myQPushButton.h"

#include <QPushButton>
#include <QSignalSpy>

#include <vector>

namespace {

using K = panelTables::tableKind_t;

template <class Panel> class colorPanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = panelProject::get();
        optionsInstance->performance.liveToneMapping = false;
        project->currentLayer = 6;
        record().hueSelectiveSet = record().brightnessSelectiveSet = false;
        panel.reset(new Panel(project, "Color"));
        panel->resize(420, panel->sizeHint().height() + 200);
        panel->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        panel.reset();
        project->currentLayer = 0;
        toneMappingRunning = false;
    }
    processingParams_t &record() { return project->layerSettings[6]; }

    processingProject *project = nullptr;
    std::unique_ptr<Panel> panel;
};

using colorSaturationGroupTest = colorPanelTest<colorSaturationGroup>;
using colorAdjustGroupTest = colorPanelTest<colorAdjustGroup>;

// Clicks an empty spot of a selective canvas (adds a knee there).
void addKnee(selectiveCurveTool *tool, double x, double y)
{
    selectiveCurveToolArea *a = tool->canvas();
    a->grab();
    clickAt(a, QPoint(int(x * (a->width() - 1)), int((1.0 - y) * (a->height() - 1))));
}

} // namespace

TEST_F(colorSaturationGroupTest, saturationRebuildsTheColourMatrixOnly)
{
    tableSpy spy;
    historyRecorder history(panel.get());
    QSignalSpy changed(panel.get(), &colorSaturationGroup::paramsChanged);
    record().saturationActive = true; // the window copies the effect switch in before rendering
    EXPECT_DOUBLE_EQ(panel->saturation->defaultValue(), 1.0);
    EXPECT_DOUBLE_EQ(panel->saturation->spinBox()->maximum(), 2.0);
    typeValue(panel->saturation, 1.25);
    EXPECT_DOUBLE_EQ(record().saturation, 1.25);
    EXPECT_EQ(spy.set(), (std::set<tableSpy::build_t>{{K::COLOR_MATRIX, 0, 6}}));
    EXPECT_FLOAT_EQ(record().colorMatrix[0][0] + record().colorMatrix[1][0] + record().colorMatrix[2][0], 1.0f)
        << "a saturation matrix keeps grey";
    EXPECT_NE(record().colorMatrix[0][0], 1.0f);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(history.entries, QStringList{"Saturation: 1.25"});
}

TEST_F(colorSaturationGroupTest, eachEditorFillsItsOwnTableAndNamesItselfInTheHistory)
{
    struct editorCase_t {
        selectiveCurveTool *colorSaturationGroup::*editor;
        K kind;
        double *processingParams_t::*table;
        bool processingParams_t::*flag;
        const char *history;
    } cases[] = {
        {&colorSaturationGroup::hueSelective, K::HUE_SELECTIVE, &processingParams_t::hueSelectiveTable,
         &processingParams_t::hueSelectiveSet, "<font size='2'>Hue selective saturation,</font> added"},
        {&colorSaturationGroup::brightnessSelective, K::BRIGHTNESS_SELECTIVE,
         &processingParams_t::brightnessSelectiveTable, &processingParams_t::brightnessSelectiveSet,
         "<font size='2'>Brightness selective saturation,</font> added"},
    };
    for (const editorCase_t &c : cases) {
        tableSpy spy;
        historyRecorder history(panel.get());
        QSignalSpy changed(panel.get(), &colorSaturationGroup::paramsChanged);
        selectiveCurveTool *editor = panel.get()->*c.editor;
        addKnee(editor, 0.4, 0.8);
        EXPECT_EQ(spy.set(), (std::set<tableSpy::build_t>{{c.kind, 0, 6}}));
        EXPECT_TRUE(record().*c.flag);
        std::vector<double> expected(SAMPLE_TABLE_SIZE);
        ASSERT_TRUE(editor->canvas()->selectiveCurveToTable(expected.data(), SAMPLE_TABLE_SIZE, true));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), record().*c.table));
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(history.entries, QStringList{c.history});
    }
    historyRecorder history(panel.get());
    QTest::mouseClick(panel->brightnessSelective->resetButton(), Qt::LeftButton);
    EXPECT_EQ(history.entries, QStringList{"<font size='2'>Brightness selective saturation,</font> reset"});
}

TEST_F(colorSaturationGroupTest, initFillsBothTablesAndTheMatrixSilently)
{
    tableSpy spy;
    QSignalSpy changed(panel.get(), &colorSaturationGroup::paramsChanged);
    panel->update(true);
    EXPECT_EQ(spy.set(), (std::set<tableSpy::build_t>{
                             {K::COLOR_MATRIX, 0, 6}, {K::HUE_SELECTIVE, 0, 6}, {K::BRIGHTNESS_SELECTIVE, 0, 6}}));
    EXPECT_TRUE(record().hueSelectiveSet);
    EXPECT_TRUE(record().brightnessSelectiveSet);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(colorSaturationGroupTest, anEditSwitchesTheEffectOnAndDeletingAKneeOfALockedPanelAsksForThumbnails)
{
    QTest::mouseClick(panel->visibilitySwitch(), Qt::LeftButton);
    EXPECT_FALSE(panel->effectEnabled());
    typeValue(panel->saturation, 0.5);
    EXPECT_TRUE(panel->effectEnabled());

    QSignalSpy locks(panel.get(), &toolBox::lockEnabled);
    selectiveCurveToolArea *a = panel->hueSelective->canvas();
    addKnee(panel->hueSelective, 0.3, 0.7);
    ASSERT_GE(a->kneePoints().size(), 1);
    auto removeFirstKnee = [a]() {
        const int before = a->kneePoints().size();
        clickAt(a, a->kneePosition(0), Qt::RightButton);
        EXPECT_EQ(a->kneePoints().size(), before - 1);
    };
    removeFirstKnee();
    EXPECT_EQ(locks.count(), 0) << "unlocked";
    QTest::mouseClick(panel->padlock(), Qt::LeftButton);
    locks.clear();
    addKnee(panel->hueSelective, 0.6, 0.2);
    locks.clear();
    removeFirstKnee();
    EXPECT_GE(locks.count(), 1);
}

TEST(whiteBalanceMultipliers, followTheTemperatureTableAndTheTint)
{
    struct wbCase_t {
        double temperature, tint;
        int kelvin;
        double tintFactor;
    } cases[] = {{1.0, 1.0, 6500, 1.0}, {0.0, 1.0, 3500, 1.0}, {2.0, 1.0, 15500, 1.0},
                 {0.5, 0.6, 5000, 1.0 / 1.4}, {1.5, 1.6, 11000, 2.0 / 1.4}, {0.99, 1.0, 6470, 1.0},
                 {1.01, 1.0, 6590, 1.0}};
    for (const wbCase_t &c : cases) {
        EXPECT_EQ(colorTemperatureSettingToKelvin(c.temperature), c.kelvin) << c.temperature;
        rgbDouble_t rgb;
        colorTemperatureToRgb(rgb, c.kelvin);
        double m[3];
        whiteBalanceMultipliers(c.temperature, c.tint, m);
        EXPECT_NEAR(m[0], rgb.b / rgb.r, 1e-12) << c.temperature;
        EXPECT_NEAR(m[1], rgb.b / (rgb.g * c.tintFactor), 1e-12) << c.temperature;
        EXPECT_DOUBLE_EQ(m[2], 1.0);
    }
    double neutral[3];
    whiteBalanceMultipliers(1.0, 1.0, neutral);
    EXPECT_NEAR(neutral[0], 1.0, 1e-12);
    EXPECT_NEAR(neutral[1], 1.0, 1e-12);
}

TEST_F(colorAdjustGroupTest, slidersWriteTheWhiteBalanceAndOnlyTheHueRebuildsTheMatrix)
{
    struct adjustCase_t {
        slider *colorAdjustGroup::*control;
        double processingParams_t::*field;
        double value;
        bool matrix;
        const char *history;
    } cases[] = {
        {&colorAdjustGroup::temperature, &processingParams_t::temperature, 0.5, false, "Temperature: 0.50"},
        {&colorAdjustGroup::tint, &processingParams_t::tint, 1.3, false, "Tint: 1.30"},
        {&colorAdjustGroup::hue, &processingParams_t::hue, 1.75, true, "Hue: 1.75"},
    };
    for (const adjustCase_t &c : cases) {
        tableSpy spy;
        historyRecorder history(panel.get());
        QSignalSpy changed(panel.get(), &colorAdjustGroup::paramsChanged);
        slider *s = panel.get()->*c.control;
        EXPECT_DOUBLE_EQ(s->spinBox()->minimum(), 0.0);
        EXPECT_DOUBLE_EQ(s->spinBox()->maximum(), 2.0);
        EXPECT_DOUBLE_EQ(s->defaultValue(), 1.0);
        typeValue(s, c.value);
        EXPECT_DOUBLE_EQ(record().*c.field, c.value);
        const std::set<tableSpy::build_t> matrix = {{K::COLOR_MATRIX, 0, 6}};
        EXPECT_EQ(spy.set(), c.matrix ? matrix : std::set<tableSpy::build_t>());
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).value<QObject *>(), s);
        EXPECT_EQ(history.entries, QStringList{c.history});
    }
    double m[3];
    whiteBalanceMultipliers(0.5, 1.3, m);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(record().rgbMultipliers[i], m[i]);
    // The swatch shows the corrected cast: 1 / multipliers, largest channel full.
    const double x = 1 / m[0], y = 1 / m[1], z = 1.0, top = std::max({x, y, z});
    const QColor expected = QColor::fromRgbF(x / top, y / top, z / top);
    EXPECT_EQ(panel->swatch->primaryColor().rgb(), expected.rgb());
}

TEST_F(colorAdjustGroupTest, resetButtonRestoresNeutralWhiteBalanceButKeepsTheHue)
{
    typeValue(panel->hue, 0.4);
    typeValue(panel->temperature, 1.6);
    typeValue(panel->tint, 0.2);
    QTest::mouseClick(panel->padlock(), Qt::LeftButton);
    historyRecorder history(panel.get());
    QSignalSpy changed(panel.get(), &colorAdjustGroup::paramsChanged);
    QSignalSpy locks(panel.get(), &toolBox::lockEnabled);
    QTest::mouseClick(panel->reset, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(panel->temperature->value(), 1.0);
    EXPECT_DOUBLE_EQ(panel->tint->value(), 1.0);
    EXPECT_DOUBLE_EQ(panel->hue->value(), 0.4);
    EXPECT_DOUBLE_EQ(record().temperature, 1.0);
    EXPECT_DOUBLE_EQ(record().tint, 1.0);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(locks.count(), 1);
    EXPECT_EQ(history.entries, QStringList{"Reset color adjustment"});

    // The silent form (a new project) writes without announcing.
    typeValue(panel->temperature, 1.6);
    changed.clear();
    locks.clear();
    panel->colorAdjustResetSlot(false);
    EXPECT_DOUBLE_EQ(record().temperature, 1.0);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(locks.count(), 0);
}

TEST_F(colorAdjustGroupTest, eyedropperSelectsSampleModeThreeAndASampleSetsTheWhiteBalance)
{
    QSignalSpy mode(panel.get(), &colorAdjustGroup::sampleModeChanged);
    QTest::mouseClick(panel->eyedropper, Qt::LeftButton);
    QTest::mouseClick(panel->eyedropper, Qt::LeftButton);
    ASSERT_EQ(mode.count(), 2);
    EXPECT_EQ(mode.at(0).at(0).toInt(), 3);
    EXPECT_EQ(mode.at(1).at(0).toInt(), 0);

    historyRecorder history(panel.get());
    QSignalSpy changed(panel.get(), &colorAdjustGroup::paramsChanged);
    rgbDouble_t warm;
    warm.r = 0.8;
    warm.g = 0.6;
    warm.b = 0.4;
    double t = 0, ti = 0;
    estimateTemperatureTint(warm, t, ti);
    QTest::mouseClick(panel->visibilitySwitch(), Qt::LeftButton);
    panel->whiteBalanceSampleTaken(warm);
    EXPECT_NEAR(panel->temperature->value(), t, 0.005);
    EXPECT_NEAR(panel->tint->value(), ti, 0.005);
    EXPECT_DOUBLE_EQ(record().temperature, panel->temperature->value());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(history.entries, QStringList{"White balance sample taken"});
    EXPECT_TRUE(panel->effectEnabled()) << "the change switched the effect on again";
}

TEST_F(colorAdjustGroupTest, aChangeDuringAPassIsAppliedAfterIt)
{
    tableSpy spy;
    QSignalSpy changed(panel.get(), &colorAdjustGroup::paramsChanged);
    record().hue = 1.0;
    {
        toneMappingPass pass;
        typeValue(panel->hue, 0.3);
        EXPECT_DOUBLE_EQ(record().hue, 1.0);
    }
    toolBox::toneMappingPassEnded();
    EXPECT_DOUBLE_EQ(record().hue, 0.3);
    EXPECT_EQ(spy.set(), (std::set<tableSpy::build_t>{{K::COLOR_MATRIX, 0, 6}}));
    EXPECT_EQ(changed.count(), 1);
}
