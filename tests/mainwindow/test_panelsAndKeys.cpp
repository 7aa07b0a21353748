// The panels and the keyboard in the window, driven offscreen: the panels
// always show the layer they edit (layer switch, undo, samples), the
// eyedroppers of the three sampling panels take turns and the colour samples
// reach their swatches, a clicked panel header opens its panel (one filter
// panel at a time), the arrow keys and first letters move through the
// presets, a new project clears every layer's history, and a run that ended
// with QCoreApplication::exit() leaves later tests' dialogs working.

#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "mainwindow/historyItem.h"
#include "mainwindow/mainWindow.h"
#include "views/layerItem.h"
#include "views/layersTool.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/sampleTargetBalanceGroup.h"
#include "panels/toolBox.h"
#include "panels/tonemappingGroup.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "views/layersTool.h"
#include "views/mainImageArea.h"
#include "views/mainWorkspace.h"
#include "widgets/colorSample.h"
#include "widgets/myQTabWidget.h"
#include "widgets/presetItem.h"
#include "widgets/slider.h"
#include "windowFixture.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QtTest/QTest>

namespace {

class panelsAndKeysTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        dir = testSupport::freshDir("panelsAndKeys");
        options->scratchpad.pathCurrent = dir + "/scratch";
        QDir().mkpath(options->scratchpad.pathCurrent);
        options->colorManagement.enabled = false;
        options->performance.liveToneMapping = false;
        options->devicePixelRatio = 1.0;
        options->installer.userFolder = dir + "/user";
        QDir().mkpath(options->installer.userFolder + "/presets");
    }

    // A small HDR scene prepared for tone mapping through the window, with
    // one photo in the list so that the enabling rules open the panels.
    static void prepareHdr(mainWindow &w)
    {
        processingProject *p = w.project;
        ASSERT_TRUE(plantHdrScene(w, 160, 100, [](int x, int, float *rgb) {
            const float v = 0.002f + 0.5f * float(x) / 160;
            rgb[0] = v;
            rgb[1] = v * 0.9f;
            rgb[2] = v * 0.7f;
        }));
        ASSERT_TRUE(waitFor([&] { return p->prepared && !w.toneMappingPreparing() && !toneMappingRunning.load(); }));
    }

    static void addLayerOne(mainWindow &w)
    {
        processingProject *p = w.project;
        p->layerExists[1] = p->layerEnabled[1] = 1;
        p->layersOn = true;
        p->layerSettings[1].layerIndex = 1;
        w.clearHistory();
    }

    QString dir;
};

QColor unitColour(double r, double g, double b)
{
    return QColor::fromRgbF(r, g, b);
}

} // namespace

// Undo, redo and a layer switch put the layer's record into the panels, so a
// later edit in a panel never writes back values of another step or layer.
TEST_F(panelsAndKeysTest, panelsShowTheLayerTheyEditAfterUndoAndLayerSwitch)
{
    mainWindow w;
    processingProject *p = w.project;
    addLayerOne(w);
    slider *saturation = w.colorSaturationPanel->saturation;
    slider *gamma = w.toneMappingPanel->gamma;

    p->currentLayer = 0;
    p->layerSettings[0].saturation = 1.3;
    p->layerSettings[0].gamma = 1.2;
    w.doAddToHistory("Layer 0");
    p->currentLayer = 1;
    p->layerSettings[1].saturation = 0.6;
    p->layerSettings[1].gamma = 0.9;
    w.doAddToHistory("Layer 1, first");
    p->layerSettings[1].saturation = 0.8;
    p->layerSettings[1].gamma = 1.5;
    w.doAddToHistory("Layer 1, second");

    const struct {
        const char *step;
        int layer;
        double saturation, gamma;
    } steps[] = {
        {"undo", 1, 0.6, 0.9},
        {"undo", 0, 1.3, 1.2},
        {"redo", 1, 0.6, 0.9},
        {"redo", 1, 0.8, 1.5},
        {"switch 0", 0, 1.3, 1.2},
        {"switch 1", 1, 0.8, 1.5},
    };
    for (const auto &s : steps) {
        const QString step = s.step;
        if (step == "undo")
            w.undo();
        else if (step == "redo")
            w.redo();
        else
            w.layersToolWidget->itemChanged(s.layer);
        EXPECT_EQ(p->currentLayer, s.layer) << s.step;
        EXPECT_NEAR(saturation->value(), s.saturation, 1e-6) << s.step;
        EXPECT_NEAR(gamma->value(), s.gamma, 1e-6) << s.step;
    }

    // Back to the first layer-1 row; a change of another control of the
    // same panel keeps the restored gamma.
    w.undo();
    ASSERT_NEAR(p->layerSettings[1].gamma, 0.9, 1e-9);
    w.toneMappingPanel->compression->setValue(w.toneMappingPanel->compression->value() + 0.1);
    EXPECT_NEAR(p->layerSettings[1].gamma, 0.9, 1e-6);
    EXPECT_NEAR(p->layerSettings[0].gamma, 1.2, 1e-6) << "the other layer is untouched";
}

// One eyedropper is pressed at a time; a sample releases them all; colour
// samples 4..6 go into the shadows, midtones or highlights swatches; a white
// balance sample shows in the colour-adjustment panel.
TEST_F(panelsAndKeysTest, eyedroppersTakeTurnsAndSamplesReachTheirPanels)
{
    mainWindow w;
    w.show();
    prepareHdr(w);
    w.rightTab->setCurrentIndex(1);
    QPushButton *black = w.histogramPanel->editor()->blackEyedropper();
    QPushButton *balance = w.colorAdjustPanel->eyedropper;
    QPushButton *const *ranges = w.sampleTargetBalancePanel->eyedropper;
    ASSERT_TRUE(black->isEnabled() && balance->isEnabled());
    mainImageArea *canvas = w.workspace->canvas();

    black->click();
    EXPECT_EQ(w.sampleMode, 1);
    EXPECT_EQ(canvas->sampleMode(), 1);
    balance->click();
    EXPECT_EQ(w.sampleMode, 3);
    EXPECT_EQ(canvas->sampleMode(), 3);
    EXPECT_FALSE(black->isChecked()) << "the levels eyedropper is released";
    EXPECT_TRUE(balance->isChecked());
    // The sample/target eyedroppers live in the Postprocessing tab.
    w.rightTab->setCurrentIndex(2);
    ASSERT_TRUE(waitFor([&] { return !w.postProcessingPreparing() && !toneMappingRunning.load(); }));
    ASSERT_TRUE(ranges[2]->isEnabled());
    ranges[2]->click();
    EXPECT_EQ(w.sampleMode, 6);
    EXPECT_EQ(canvas->sampleMode(), 6);
    EXPECT_FALSE(balance->isChecked()) << "the white-balance eyedropper is released";
    ranges[0]->click();
    EXPECT_EQ(w.sampleMode, 4);
    EXPECT_FALSE(ranges[2]->isChecked()) << "one row's eyedropper at a time";
    w.rightTab->setCurrentIndex(1);
    ASSERT_TRUE(waitFor([&] { return !toneMappingRunning.load() && !w.toneMappingPending(); }));

    // Colour samples: each fills its own row, the others stay.
    const struct {
        int mode;
        double r, g, b;
    } samples[] = {{4, 0.1, 0.2, 0.3}, {5, 0.4, 0.5, 0.6}, {6, 0.9, 0.8, 0.7}};
    for (const auto &s : samples) {
        rgbDouble_t v;
        v.r = s.r;
        v.g = s.g;
        v.b = s.b;
        v.lum = 0.5;
        w.toggleSampleMode(s.mode);
        w.sampleTakenSlot(s.mode, 0, v);
        const int row = s.mode - 4;
        EXPECT_EQ(w.sampleTargetBalancePanel->sample[row]->primaryColor().rgb(), unitColour(s.r, s.g, s.b).rgb())
            << s.mode;
        EXPECT_EQ(w.sampleTargetBalancePanel->target[row]->primaryColor().rgb(), unitColour(s.r, s.g, s.b).rgb())
            << s.mode;
        EXPECT_EQ(w.sampleMode, 0) << s.mode;
        for (int r = 0; r < 3; ++r)
            EXPECT_FALSE(ranges[r]->isChecked()) << s.mode;
    }
    EXPECT_EQ(w.sampleTargetBalancePanel->sample[0]->primaryColor().rgb(), unitColour(0.1, 0.2, 0.3).rgb())
        << "a later sample leaves the earlier rows alone";

    // White balance: the record and the panel agree, with a history row.
    balance->click();
    rgbDouble_t warm;
    warm.r = 0.8;
    warm.g = 0.6;
    warm.b = 0.4;
    warm.lum = 0.3086 * warm.r + 0.6094 * warm.g + 0.082 * warm.b;
    w.sampleTakenSlot(3, 0, warm);
    const processingParams_t &s = w.project->layerSettings[0];
    EXPECT_NE(s.temperature, 1.0);
    EXPECT_NEAR(w.colorAdjustPanel->temperature->value(), s.temperature, 0.01);
    EXPECT_NEAR(w.colorAdjustPanel->tint->value(), s.tint, 0.01);
    EXPECT_FALSE(balance->isChecked());
    EXPECT_TRUE(w.historyRow(w.historyList->count() - 1)->text().contains("White balance sample taken"));

    // A black-level sample shows in the levels panel.
    black->click();
    rgbDouble_t dark;
    dark.lum = 0.25;
    w.sampleTakenSlot(1, 0, dark);
    EXPECT_NEAR(w.project->layerSettings[0].blackPointValue, 0.25, 1e-9);
    EXPECT_FALSE(black->isChecked());
    waitFor([] { return !toneMappingRunning.load(); });
}

// A click on a panel header opens or closes it; in the Postprocessing tab
// opening one filter panel closes the open one, the tone-mapping panels open
// and close independently.
TEST_F(panelsAndKeysTest, panelHeadersOpenOneFilterPanelAtATime)
{
    mainWindow w;
    w.resize(1200, 800);
    w.show();
    prepareHdr(w);
    QList<toolBox *> filters = w.postProcessingPanels();
    QList<toolBox *> tone = w.toneMappingPanels();
    for (toolBox *b : filters + tone)
        b->setEnabled(true);

    w.rightTab->setCurrentIndex(2);
    QCoreApplication::processEvents();
    auto openStates = [](const QList<toolBox *> &group) {
        QString s;
        for (toolBox *b : group)
            s += b->isOpened() ? '1' : '0';
        return s;
    };
    for (toolBox *b : filters)
        if (b->isOpened())
            b->headerButton()->click();
    EXPECT_EQ(openStates(filters), "00000");
    filters[0]->headerButton()->click();
    EXPECT_EQ(openStates(filters), "10000");
    filters[3]->headerButton()->click();
    EXPECT_EQ(openStates(filters), "00010");
    filters[3]->headerButton()->click();
    EXPECT_EQ(openStates(filters), "00000");

    w.rightTab->setCurrentIndex(1);
    QCoreApplication::processEvents();
    const QString before = openStates(tone);
    tone[1]->headerButton()->click();
    tone[4]->headerButton()->click();
    QString expected = before;
    expected[1] = before[1] == '1' ? '0' : '1';
    expected[4] = before[4] == '1' ? '0' : '1';
    EXPECT_EQ(openStates(tone), expected);
    EXPECT_EQ(openStates(filters), "00000") << "the filter panels are left alone";
    waitFor([] { return !toneMappingRunning.load(); });
}

// Arrow keys move to the neighbouring visible preset and apply it; a letter
// jumps to the first visible preset (after the first three rows) of that
// initial; neither works outside the Tone mapping and Presets tabs.
TEST_F(panelsAndKeysTest, arrowKeysAndLettersMoveThroughThePresets)
{
    const QString folder = options->installer.userFolder + "/presets/";
    const QStringList names = {"Alpha", "Amber", "Apex", "Birch", "Bravo", "Cedar", "Dune"};
    for (const QString &name : names) {
        processingParams_t params;
        params.gamma = 1.1;
        ASSERT_TRUE(saveSettingsFile(folder + name + ".lmsx", params));
    }
    mainWindow w;
    w.resize(1200, 800);
    w.show();
    prepareHdr(w);
    w.rightTab->setCurrentIndex(1);
    w.leftTab->setCurrentIndex(0);
    QCoreApplication::processEvents();

    const QList<presetItem *> &rows = w.presets->items();
    ASSERT_EQ(rows.size(), names.size()) << "the test lists only its own presets";
    for (int i = 0; i < names.size(); ++i)
        ASSERT_EQ(rows[i]->displayedName(), names[i]) << "sorted by name";
    auto selected = [&]() -> QString {
        for (presetItem *row : rows)
            if (row->property("imageItemSelected").toBool())
                return row->displayedName();
        return QString();
    };
    auto select = [&](int row) { w.presets->presetItemChanged(rows[row]->getId(), true); };
    QScrollArea *area = w.presets->findChild<QScrollArea *>();
    ASSERT_NE(area, nullptr);

    select(3);
    const struct {
        Qt::Key key;
        const char *expected;
        int hiddenRow; // -1: none
    } steps[] = {
        {Qt::Key_Down, "Bravo", -1},
        {Qt::Key_Left, "Birch", -1},
        {Qt::Key_Right, "Cedar", 4},  // the hidden (filtered out) row is stepped over
        {Qt::Key_Up, "Birch", 4},
        {Qt::Key_D, "Dune", -1},
        {Qt::Key_B, "Birch", -1},     // the first row of that initial
        {Qt::Key_Z, "Birch", -1},     // no preset starts with z
        {Qt::Key_A, "Birch", -1},     // only the first three rows start with a
        {Qt::Key_B, "Bravo", 3},      // a hidden row is no target
    };
    for (const auto &s : steps) {
        if (s.hiddenRow >= 0)
            rows[s.hiddenRow]->hide();
        QTest::keyClick(area, s.key);
        EXPECT_EQ(selected(), QString(s.expected)) << "key " << s.key;
        if (s.hiddenRow >= 0)
            rows[s.hiddenRow]->show();
    }
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.1, 1e-6) << "the preset was applied";

    // Nothing above the topmost row, nothing below the last.
    select(0);
    QTest::keyClick(area, Qt::Key_Up);
    EXPECT_EQ(selected(), "Alpha");
    select(6);
    QTest::keyClick(area, Qt::Key_Down);
    EXPECT_EQ(selected(), "Dune");

    // Elsewhere the keys do nothing.
    select(3);
    w.rightTab->setCurrentIndex(0);
    QTest::keyClick(area, Qt::Key_Down);
    QTest::keyClick(area, Qt::Key_C);
    EXPECT_EQ(selected(), "Birch");
    waitFor([] { return !toneMappingRunning.load(); });
}

// A new project starts with one "START" row and nothing of the old layers:
// rows, mask-undo counters and the current layer start over.
TEST_F(panelsAndKeysTest, newProjectClearsTheHistoryOfEveryLayer)
{
    mainWindow w;
    processingProject *p = w.project;
    addLayerOne(w);
    for (int i = 0; i < 4; ++i) {
        p->currentLayer = i % 2;
        p->layerSettings[i % 2].gamma = 1.0 + i / 10.0;
        w.doAddToHistory(QString("Gamma %1").arg(i));
    }
    p->layerUndoCount[1] = 2;
    p->currentLayer = 1;
    ASSERT_EQ(w.historyList->count(), 6);
    ASSERT_TRUE(w.layersToolWidget);
    w.layersToolWidget->showExistingLayers();
    ASSERT_TRUE(w.layersToolWidget->row(1)->isVisibleTo(w.layersToolWidget));

    w.newProject(true);
    EXPECT_FALSE(w.layersToolWidget->row(1)->isVisibleTo(w.layersToolWidget)) << "the old layer's row is gone";
    EXPECT_FALSE(w.layersToolWidget->rowAction(1)->isVisible());
    ASSERT_EQ(w.historyList->count(), 1);
    EXPECT_EQ(w.historyRow(0)->layer(), 0);
    EXPECT_TRUE(w.historyRow(0)->isStartingPoint());
    EXPECT_EQ(p->currentLayer, 0);
    for (int l = 0; l < LAYER_COUNT; ++l)
        EXPECT_EQ(p->layerUndoCount[l], 0) << l;
    EXPECT_FALSE(w.undoAct->isEnabled());
    EXPECT_FALSE(w.redoAct->isEnabled());
}

// The automatic run ends with QCoreApplication::exit(). Outside a running
// main loop Qt keeps the application quitting, and every dialog opened later
// in the same process would close at once; the test main leaves that state
// after each test. These two tests run in this order in one process.
TEST_F(panelsAndKeysTest, endedAutomaticRunLeavesTheApplicationQuitting)
{
    startParams.autoProcess = true;
    mainWindow w;
    w.endRun(2, "test: the run ends here");
    EXPECT_EQ(w.requestedExitCode, 2);
    EXPECT_TRUE(testSupport::applicationQuitting());
    QDialog early;
    QTimer::singleShot(0, &early, [&early] { early.done(5); });
    EXPECT_NE(early.exec(), 5) << "a dialog opened now closes at once";
}

TEST_F(panelsAndKeysTest, dialogsOfTheNextTestWaitForTheirAnswer)
{
    EXPECT_FALSE(testSupport::applicationQuitting());
    QDialog dialog;
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.done(5); });
    EXPECT_EQ(dialog.exec(), 5);
    // Leaving the state by hand works too.
    QCoreApplication::exit(1);
    EXPECT_TRUE(testSupport::applicationQuitting());
    testSupport::leaveQuittingState();
    EXPECT_FALSE(testSupport::applicationQuitting());
}

// A change in a panel is announced once: one history row per change.
TEST_F(panelsAndKeysTest, eachPanelChangeAddsOneHistoryRow)
{
    mainWindow w;
    const struct {
        const char *what;
        slider *control;
        double value;
    } changes[] = {
        {"gamma", w.toneMappingPanel->gamma, 1.3},
        {"compression", w.toneMappingPanel->compression, 1.7},
        {"saturation", w.colorSaturationPanel->saturation, 1.2},
        {"temperature", w.colorAdjustPanel->temperature, 1.1},
    };
    for (const auto &c : changes) {
        const int rows = w.historyList->count();
        c.control->setValue(c.value);
        EXPECT_EQ(w.historyList->count(), rows + 1) << c.what;
    }
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.3, 1e-6);
}
