// Settings files and presets in the window: the presets tab is there, load,
// save and default settings work on the current layer with their messages and
// history texts, a new preset lands in the user folder, and closing keeps the
// settings in use as the last-used preset.

#include "app/sharedFlags.h"
#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "mainwindow/historyItem.h"
#include "mainwindow/mainWindow.h"
#include "mainwindow/windowPanels.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "project/processingProject.h"
#include "views/layersTool.h"
#include "testSupport.h"
#include "widgets/myQPushButton.h"
#include "widgets/presetItem.h"
#include "widgets/slider.h"
#include "windowFixture.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

namespace {

class presetsWindowTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        dir = testSupport::freshDir("presetsWindow");
        options->installer.userFolder = dir + "/user";
        QDir().mkpath(options->installer.userFolder + "/presets");
    }
    QString settingsWith(double gamma, const QString &name)
    {
        processingParams_t p;
        p.gamma = gamma;
        const QString path = dir + "/" + name;
        EXPECT_TRUE(saveSettingsFile(path, p));
        return path;
    }
    // Result names "result%P" proposed in the test folder, no live tone
    // mapping and no colour management.
    void useResultNamesWithPresetName()
    {
        options->scratchpad.pathCurrent = testSupport::freshDir("presetsScratch");
        options->colorManagement.enabled = false;
        options->performance.liveToneMapping = false;
        options->savingResult.defaultOutputFileName = "result%P";
        options->savingResult.saveToSourceDirByDefault = false;
        options->openSaveDialogs.savePhoto_LastDir = dir;
    }
    QString dir;
};

bool idle(mainWindow &w)
{
    return !toneMappingRunning.load() && !w.toneMappingPending() && !w.toneMappingPreparing();
}

// A small HDR scene (a ramp with a bright window) prepared for tone mapping
// through the window's own preparation, standing for one loaded photo.
bool prepareSmallHdr(mainWindow &w)
{
    processingProject *p = w.project;
    const bool planted = plantHdrScene(w, 240, 160, [](int x, int y, float *rgb) {
        const float v = x > 150 && y > 30 && y < 90 ? 0.95f : 0.002f + 0.3f * float(x) / 240;
        rgb[0] = v;
        rgb[1] = v * 0.9f;
        rgb[2] = v * 0.7f;
    });
    return planted && waitFor([&] { return p->prepared && idle(w); });
}

std::vector<uint8_t> viewOutput(const processingProject &p)
{
    const previewWindow_t &v = p.view;
    if (!v.layerOutput[0] || v.width <= 0 || v.height <= 0)
        return {};
    return std::vector<uint8_t>(v.layerOutput[0], v.layerOutput[0] + size_t(v.width) * size_t(v.height) * 3);
}

presetItem *rowOf(const mainWindow &w, const QString &path)
{
    for (presetItem *item : w.presets->items())
        if (QFileInfo(item->getFilePath()).absoluteFilePath() == QFileInfo(path).absoluteFilePath())
            return item;
    return nullptr;
}

QStringList historyTexts(mainWindow &w)
{
    QStringList out;
    for (int i = 0; i < w.historyList->count(); ++i)
        if (historyItem *row = w.historyRow(i))
            out << row->description();
    return out;
}

bool hasMessage(const std::vector<shownMessage_t> &messages, const QString &part)
{
    for (const shownMessage_t &m : messages)
        if (m.text.contains(part))
            return true;
    return false;
}

} // namespace

TEST_F(presetsWindowTest, presetsTabHoldsTheLibraryAndTheCommandsAreReal)
{
    mainWindow w;
    ASSERT_NE(w.presets, nullptr);
    EXPECT_EQ(w.presetsSlot->indexOf(w.presets), 0);
    dialogAnswer.clear();
    for (QAction *a : {w.loadSettingsAct, w.saveSettingsAct, w.addPresetAct, w.defaultSettingsAct})
        a->trigger();
    // Other commands of the window may still be stand-ins; none of these is.
    for (const char *name : {"Settings", "Preset"})
        EXPECT_FALSE(w.lastPendingCommand().contains(name)) << w.lastPendingCommand().toStdString();
}

TEST_F(presetsWindowTest, loadSettingsChangesTheCurrentLayerOrNothing)
{
    mainWindow w;
    QSignalSpy history(&w, &mainWindow::historyEntryRequested);
    QSignalSpy applied(&w, &mainWindow::settingsApplied);
    const QString good = settingsWith(1.55, "bright.lmsx");
    dialogAnswer = QStringList{good};
    w.loadSettingsAct->trigger();
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.55, 0.01);
    ASSERT_EQ(history.count(), 1);
    EXPECT_EQ(history.first().first().toString(), "Settings: bright.lmsx");
    EXPECT_EQ(applied.count(), 1);
    EXPECT_EQ(options->openSaveDialogs.openSaveSettings_LastDir, dir);

    // Refused files: a message, no change, no history.
    struct row {
        const char *name;
        QByteArray content;
        const char *message;
    };
    const row rows[] = {
        {"old.lmsx", "<Lumidrasettings SettingsFileVersion=\"3.9\"><GlobalOp Gamma=\"2.0\"/></Lumidrasettings>",
         "Wrong version"},
        {"broken.lmsx", "<Lumidrasettings SettingsFileVersion=\"4.2\"><GlobalOp", "Error while loading"},
        {"nan.lmsx", "<Lumidrasettings SettingsFileVersion=\"4.2\"><GlobalOp Gamma=\"nan\"/></Lumidrasettings>",
         "Error while loading"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString path = dir + "/" + r.name;
        ASSERT_TRUE(testSupport::writeFile(path, r.content));
        messages.clear();
        history.clear();
        w.loadSettingsSlot(path, false);
        EXPECT_TRUE(hasMessage(messages, r.message));
        EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.55, 0.01);
        EXPECT_EQ(history.count(), 0);
    }

    // The current layer is the one that changes.
    w.project->currentLayer = 2;
    w.loadSettingsSlot(settingsWith(0.8, "dark.lmsx"), false);
    EXPECT_NEAR(w.project->layerSettings[2].gamma, 0.8, 0.01);
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.55, 0.01);
}

TEST_F(presetsWindowTest, saveSettingsWritesTheCurrentLayerWithItsSuffix)
{
    mainWindow w;
    w.project->layerSettings[0].gamma = 1.23;
    dialogAnswer = QStringList{dir + "/mine"};
    w.saveSettingsAct->trigger();
    processingParams_t back;
    ASSERT_EQ(loadSettingsFile(dir + "/mine.lmsx", &back), SETTINGS_LOADED);
    EXPECT_NEAR(back.gamma, 1.23, 0.01);

    // An unwritable place: the message, and an existing file stays.
    messages.clear();
    dialogAnswer = QStringList{dir + "/no such folder/x.lmsx"};
    w.saveSettingsAct->trigger();
    EXPECT_TRUE(hasMessage(messages, "Cannot write file"));
}

TEST_F(presetsWindowTest, defaultSettingsAndNewPresets)
{
    const QString def = settingsWith(1.11, "mydefault.lmsx");
    options->misc.defaultToneMappingSettings = def;
    mainWindow w;
    // The default look is in the base layer from the start.
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.11, 0.01);
    w.project->layerSettings[0].gamma = 2.0;
    QSignalSpy history(&w, &mainWindow::historyEntryRequested);
    w.defaultSettingsAct->trigger();
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.11, 0.01);
    ASSERT_EQ(history.count(), 1);
    EXPECT_EQ(history.first().first().toString(), "Default settings");

    // A new preset from the current settings: "user_1" in the user folder,
    // shown as a row.
    w.project->layerSettings[0].gamma = 1.9;
    w.addPresetAct->trigger();
    const QString added = options->installer.userFolder + "/presets/user_1.lmsx";
    processingParams_t back;
    ASSERT_EQ(loadSettingsFile(added, &back), SETTINGS_LOADED);
    EXPECT_NEAR(back.gamma, 1.9, 0.01);
    bool shown = false;
    for (const presetItem *item : w.presets->items())
        shown = shown || item->getFilePath() == added;
    EXPECT_TRUE(shown);
}

TEST_F(presetsWindowTest, closingKeepsTheSettingsInUseAsLastUsed)
{
    const QString last = options->installer.userFolder + "/presets/" + PRESET_LAST_USED_FILE;
    {
        mainWindow w;
        w.project->layerSettings[0].gamma = 1.66;
        w.close();
    }
    processingParams_t back;
    ASSERT_EQ(loadSettingsFile(last, &back), SETTINGS_LOADED);
    EXPECT_NEAR(back.gamma, 1.66, 0.01);
}

// A click on a preset row shows the preset in the real panels (a locked panel
// keeps its values, in the panel and in the layer), adds one history row and
// renders the picture again.
TEST_F(presetsWindowTest, aPresetClickedInTheTabReachesThePanelsTheHistoryAndThePicture)
{
    options->scratchpad.pathCurrent = testSupport::freshDir("presetsScratch");
    options->colorManagement.enabled = false;
    options->performance.liveToneMapping = false;
    options->devicePixelRatio = 1.0;
    processingParams_t look;
    look.gamma = 1.7;
    look.temperature = 1.3;
    look.vignetteAmount = -0.5;
    look.curves[0].points = {QPointF(0, 0), QPointF(0.4, 0.6), QPointF(1, 1)};
    look.curves[0].flag = false;
    const QString warm = options->installer.userFolder + "/presets/warm.lmsx";
    ASSERT_TRUE(saveSettingsFile(warm, look));

    mainWindow w;
    w.resize(1100, 750);
    w.show();
    ASSERT_TRUE(prepareSmallHdr(w));
    w.clearHistory(); // a START row to go back to
    // The vignette is locked with a value of its own.
    w.vignettePanel->padlock()->click();
    ASSERT_TRUE(w.vignettePanel->isLocked());
    w.vignettePanel->amount->setValue(0.3);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));

    presetItem *row = rowOf(w, warm);
    ASSERT_NE(row, nullptr);
    const std::vector<uint8_t> before = viewOutput(*w.project);
    const uint64_t passes = w.toneMappingPasses;
    const int historyRows = w.historyList->count();
    QTest::mouseClick(row->tile(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));

    const processingParams_t &layer = w.project->layerSettings[0];
    EXPECT_NEAR(w.toneMappingPanel->gamma->value(), 1.7, 1e-6);
    EXPECT_NEAR(layer.gamma, 1.7, 1e-6);
    EXPECT_NEAR(w.colorAdjustPanel->temperature->value(), 1.3, 1e-6);
    EXPECT_NEAR(layer.temperature, 1.3, 1e-6);
    EXPECT_NEAR(w.vignettePanel->amount->value(), 0.3, 1e-6) << "the locked panel keeps its value";
    EXPECT_NEAR(layer.vignetteAmount, 0.3, 1e-6) << "and so does the layer";
    EXPECT_EQ(w.toneCurvePanel->editor()->canvas(0)->curvePoints().size(), 3);
    EXPECT_EQ(layer.curves[0].points.size(), 3);
    EXPECT_EQ(layer.layerTag, row->getId());
    EXPECT_EQ(w.historyList->count(), historyRows + 1);
    EXPECT_EQ(historyTexts(w).last(), QString("Preset: warm"));
    EXPECT_GT(w.toneMappingPasses, passes);
    EXPECT_NE(viewOutput(*w.project), before);

    // Undoing the step shows the earlier values in the panels again.
    w.undo();
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    EXPECT_NEAR(w.toneMappingPanel->gamma->value(), w.project->layerSettings[0].gamma, 1e-6);
    EXPECT_GT(std::abs(w.project->layerSettings[0].gamma - 1.7), 1e-3);
}

// The default look is shown in the panels from the start, so what the panels
// show and what the picture is rendered with agree.
TEST_F(presetsWindowTest, theDefaultLookIsInThePanelsFromTheStart)
{
    processingParams_t look;
    look.gamma = 1.37;
    look.saturation = 1.4;
    const QString def = dir + "/startLook.lmsx";
    ASSERT_TRUE(saveSettingsFile(def, look));
    options->misc.defaultToneMappingSettings = def;
    mainWindow w;
    EXPECT_NEAR(w.toneMappingPanel->gamma->value(), 1.37, 1e-6);
    EXPECT_NEAR(w.project->layerSettings[0].gamma, 1.37, 1e-6);
    EXPECT_NEAR(w.project->layerSettings[0].saturation, 1.4, 1e-6);
}

// A saved result keeps the settings it was made with as the last-used
// preset; the automatic run leaves the user's presets alone.
TEST_F(presetsWindowTest, aSavedResultBecomesTheLastUsedPresetExceptInTheAutomaticRun)
{
    const QString last = options->installer.userFolder + "/presets/" + PRESET_LAST_USED_FILE;
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic);
        startParams = startParams_t();
        startParams.autoProcess = automatic;
        processingParams_t start;
        start.gamma = 0.9;
        ASSERT_TRUE(saveSettingsFile(last, start));
        mainWindow w;
        w.project->layerSettings[0].gamma = 1.45;
        emit w.resultSaveEnded(false);
        processingParams_t back;
        ASSERT_EQ(loadSettingsFile(last, &back), SETTINGS_LOADED);
        EXPECT_NEAR(back.gamma, 0.9, 1e-6) << "a failed save changes nothing";
        emit w.resultSaveEnded(true);
        ASSERT_EQ(loadSettingsFile(last, &back), SETTINGS_LOADED);
        EXPECT_NEAR(back.gamma, automatic ? 0.9 : 1.45, 1e-6);
    }
}

// "%P" in result names is the name of the base layer's applied preset; a
// rename of that preset reaches the proposal at once, not only after the next
// apply.
TEST_F(presetsWindowTest, renamingTheAppliedPresetRenamesItInResultNames)
{
    useResultNamesWithPresetName();
    processingParams_t look;
    look.gamma = 1.6;
    const QString warm = options->installer.userFolder + "/presets/warm.lmsx";
    const QString cool = options->installer.userFolder + "/presets/cool.lmsx";
    ASSERT_TRUE(saveSettingsFile(warm, look));
    ASSERT_TRUE(saveSettingsFile(cool, look));

    mainWindow w;
    w.resize(1100, 750);
    w.show();
    ASSERT_TRUE(prepareSmallHdr(w));
    presetItem *row = rowOf(w, warm);
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(row->tile(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    ASSERT_EQ(w.presetNameForSaving, QString("warm"));

    QStringList proposals;
    fileDialogs::setHook([&proposals](const fileDialogs::request_t &r) {
        proposals << QFileInfo(r.start).fileName();
        return QStringList();
    });
    w.saveResultAsSlot(); // the proposal reaches the hook, which answers nothing

    w.presets->presetItemRename(row->getId(), "sunset");
    ASSERT_TRUE(QFileInfo::exists(options->installer.userFolder + "/presets/sunset.lmsx"));
    EXPECT_EQ(w.presetNameForSaving, QString("sunset"));
    EXPECT_EQ(w.project->layerSettings[0].layerTag, row->getId()) << "still the applied preset";
    w.saveResultAsSlot();
    EXPECT_EQ(proposals, QStringList({"result-warm.jpg", "result-sunset.jpg"}));

    // A rename of another preset leaves the name alone.
    presetItem *other = rowOf(w, cool);
    ASSERT_NE(other, nullptr);
    w.presets->presetItemRename(other->getId(), "icy");
    EXPECT_EQ(w.presetNameForSaving, QString("sunset"));
}

// The Presets tab marks the preset of the layer the photographer switches
// to, and removing the applied preset takes its name out of result names.
TEST_F(presetsWindowTest, aLayerSwitchMarksItsPresetAndARemovedPresetLeavesResultNames)
{
    useResultNamesWithPresetName();
    const QString warm = options->installer.userFolder + "/presets/warm.lmsx";
    const QString cool = options->installer.userFolder + "/presets/cool.lmsx";
    processingParams_t look;
    look.gamma = 1.6;
    ASSERT_TRUE(saveSettingsFile(warm, look));
    look.gamma = 0.8;
    ASSERT_TRUE(saveSettingsFile(cool, look));

    mainWindow w;
    w.resize(1100, 750);
    w.show();
    ASSERT_TRUE(prepareSmallHdr(w));
    presetItem *warmRow = rowOf(w, warm);
    presetItem *coolRow = rowOf(w, cool);
    ASSERT_TRUE(warmRow && coolRow);
    QTest::mouseClick(warmRow->tile(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));

    int added = -1;
    w.layersToolWidget->addSlot(&added);
    ASSERT_EQ(added, 1);
    ASSERT_EQ(w.project->currentLayer, 1);
    QTest::mouseClick(coolRow->tile(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    ASSERT_EQ(w.project->layerSettings[1].layerTag, coolRow->getId());
    EXPECT_EQ(w.presetNameForSaving, QString("warm")) << "only the base layer's preset names results";

    const struct {
        int layer;
        presetItem *marked;
        presetItem *unmarked;
    } switches[] = {{0, warmRow, coolRow}, {1, coolRow, warmRow}, {0, warmRow, coolRow}};
    for (const auto &s : switches) {
        w.layersToolWidget->itemChanged(s.layer);
        ASSERT_TRUE(waitFor([&] { return idle(w); }));
        EXPECT_TRUE(s.marked->property("imageItemSelected").toBool()) << "layer " << s.layer;
        EXPECT_FALSE(s.unmarked->property("imageItemSelected").toBool()) << "layer " << s.layer;
        EXPECT_EQ(w.project->layerSettings[0].layerTag, warmRow->getId()) << "a switch loads nothing";
        EXPECT_EQ(w.project->layerSettings[1].layerTag, coolRow->getId()) << "a switch loads nothing";
        EXPECT_EQ(w.presetNameForSaving, QString("warm")) << "layer " << s.layer;
    }

    // The base layer's preset removed: its settings stay, its name goes.
    const double gamma = w.project->layerSettings[0].gamma;
    messageAnswer = styledMessageBox::Yes;
    w.presets->presetItemRemove(warmRow->getId());
    ASSERT_FALSE(QFileInfo::exists(warm));
    EXPECT_EQ(w.project->layerSettings[0].layerTag, PP_NO_PRESET);
    EXPECT_EQ(w.project->layerSettings[0].gamma, gamma);
    EXPECT_TRUE(w.presetNameForSaving.isEmpty()) << qPrintable(w.presetNameForSaving);
    QStringList proposals;
    fileDialogs::setHook([&proposals](const fileDialogs::request_t &r) {
        proposals << QFileInfo(r.start).fileName();
        return QStringList();
    });
    w.saveResultAsSlot();
    EXPECT_EQ(proposals, QStringList({"result.jpg"}));
}

// A restored history step brings back the curve points of its step (the
// editors hold them, the rows must too), switches the panels' effects on
// again, marks the restored layer's preset in the Presets tab, and redraws
// the thumbnails when a locked panel keeps its own values in them.
TEST_F(presetsWindowTest, undoRestoresCurvesEffectsThePresetMarkAndLockedThumbnails)
{
    options->scratchpad.pathCurrent = testSupport::freshDir("presetsScratch");
    options->colorManagement.enabled = false;
    options->performance.liveToneMapping = false;
    processingParams_t look;
    look.gamma = 1.7;
    const QString warm = options->installer.userFolder + "/presets/warm.lmsx";
    ASSERT_TRUE(saveSettingsFile(warm, look));

    mainWindow w;
    w.resize(1100, 750);
    w.show();
    ASSERT_TRUE(prepareSmallHdr(w));
    w.clearHistory();
    const int startTag = w.project->layerSettings[0].layerTag;
    presetItem *row = rowOf(w, warm);
    ASSERT_NE(row, nullptr);
    ASSERT_NE(row->getId(), startTag);
    QTest::mouseClick(row->tile(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    ASSERT_EQ(w.presetNameForSaving, QString("warm"));

    // Two curve edits, each announced by the panel as the editor does.
    const QList<QPointF> first = {QPointF(0, 0), QPointF(0.5, 0.7), QPointF(1, 1)};
    const QList<QPointF> second = {QPointF(0, 0), QPointF(0.3, 0.1), QPointF(0.6, 0.8), QPointF(1, 1)};
    for (const QList<QPointF> &points : {first, second}) {
        ASSERT_TRUE(w.toneCurvePanel->editor()->setCurve(0, points));
        emit w.toneCurvePanel->newToHistory("Tone curve (L), moved");
        ASSERT_TRUE(waitFor([&] { return idle(w); }));
    }
    // The colour saturation effect switched off, the vignette locked.
    w.colorSaturationPanel->visibilitySwitch()->click();
    ASSERT_FALSE(w.colorSaturationPanel->effectEnabled());
    w.vignettePanel->padlock()->click();
    ASSERT_TRUE(waitFor([&] { return idle(w) && !w.presets->thumbnailsRunning(); }));

    w.undo();
    EXPECT_EQ(historyTexts(w)[w.historyList->currentRow()], QString("Tone curve (L), moved"));
    EXPECT_EQ(w.toneCurvePanel->editor()->canvas(0)->curvePoints(), first);
    EXPECT_EQ(w.project->layerSettings[0].curves[0].points, first);
    for (toolBox *panel : switchablePanels(w))
        EXPECT_TRUE(panel->effectEnabled()) << panel->metaObject()->className();
    EXPECT_TRUE(w.presets->thumbnailsRunning()) << "the locked vignette shows in every thumbnail";
    ASSERT_TRUE(waitFor([&] { return idle(w) && !w.presets->thumbnailsRunning(); }));

    w.undo();
    w.undo();
    ASSERT_EQ(w.historyList->currentRow(), 0);
    EXPECT_EQ(w.project->layerSettings[0].layerTag, startTag);
    EXPECT_FALSE(row->property("imageItemSelected").toBool()) << "the START step had no preset applied";
    EXPECT_NE(w.presetNameForSaving, QString("warm"));
    ASSERT_TRUE(waitFor([&] { return idle(w) && !w.presets->thumbnailsRunning(); }));

    // Unlocked: a restored step leaves the thumbnails alone.
    w.vignettePanel->padlock()->click();
    ASSERT_TRUE(waitFor([&] { return idle(w) && !w.presets->thumbnailsRunning(); }));
    w.redo();
    EXPECT_EQ(w.project->layerSettings[0].layerTag, row->getId());
    EXPECT_TRUE(row->property("imageItemSelected").toBool());
    EXPECT_EQ(w.presetNameForSaving, QString("warm"));
    EXPECT_FALSE(w.presets->thumbnailsRunning());
    w.redo();
    w.redo();
    EXPECT_EQ(w.toneCurvePanel->editor()->canvas(0)->curvePoints(), second);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
}
