// Settings files and presets in the window: the presets tab is there, load,
// save and default settings work on the current layer with their messages and
// history texts, a new preset lands in the user folder, and closing keeps the
// settings in use as the last-used preset.

#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "widgets/presetItem.h"
#include "windowFixture.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QVBoxLayout>

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
    QString dir;
};

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
