// mainWindow: settings files and the "Presets" tab. Loading, saving and
// resetting the current layer's tone-mapping settings, and the preset library
// with its host: the library reaches the layers, the locked panels and the
// history only through the window.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "documents/settingsPanels.h"
#include "project/processingProject.h"
#include "widgets/fileDialogs.h"
#include "widgets/styledMessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QVBoxLayout>

namespace {

QString builtInPresetFolder()
{
    return QCoreApplication::applicationDirPath() + "/built-in presets";
}

QString builtInDefaultSettings()
{
    return builtInPresetFolder() + "/default.lmsx";
}

QString userPresetFolder()
{
    const QString user = optionsInstance ? optionsInstance->installer.userFolder : QString();
    return (user.isEmpty() ? QDir::homePath() + "/Lumidra 3" : user) + "/presets";
}

QString defaultSettingsPath()
{
    return optionsInstance ? optionsInstance->misc.defaultToneMappingSettings : QString();
}

// The folder the settings dialogs open in.
QString settingsDialogFolder()
{
    const QString last = optionsInstance ? optionsInstance->openSaveDialogs.openSaveSettings_LastDir : QString();
    if (last.isEmpty() || !QDir(last).exists())
        return userPresetFolder();
    return last;
}

void rememberSettingsFolder(const QString &file)
{
    if (optionsInstance)
        optionsInstance->openSaveDialogs.openSaveSettings_LastDir = QFileInfo(file).absolutePath();
}

QString settingsFilter()
{
    return QCoreApplication::translate("mainWindow", "Lumidra settings") + " (*.lmsx)";
}

bool samePath(const QString &a, const QString &b)
{
    return !a.isEmpty() && !b.isEmpty() && QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// The preset library's view of the window.
class windowPresetHost : public presetLibraryHost
{
public:
    explicit windowPresetHost(mainWindow *window) : w(window) {}

    int currentLayer() const override { return layerIndex(); }
    processingParams_t currentSettings() override
    {
        processingParams_t *record = &w->project->layerSettings[layerIndex()];
        if (w->panelsView)
            w->panelsView->copyPanelsToRecord(record);
        return *record;
    }
    processingParams_t firstLayerSettings() override { return w->project->layerSettings[0]; }
    lockedPanels_t lockedPanels() const override
    {
        return w->panelsView ? lockedPanelsOf(*w->panelsView) : lockedPanels_t();
    }
    bool loadPreset(const QString &path) override
    {
        const int result = w->loadSettingsFile(path, true, &w->project->layerSettings[layerIndex()], false);
        if (result == SETTINGS_LOADED)
            return true;
        styledMessageBox::show(w, styledMessageBox::Error, settingsLoadErrorText(result, path));
        return false;
    }
    void setAppliedPresetId(int id) override { w->project->layerSettings[layerIndex()].layerTag = id; }
    void addHistory(const QString &text) override { emit w->historyEntryRequested(text, -1, false); }
    processingProject *project() override { return w->project; }

private:
    int layerIndex() const { return std::clamp(w->project->currentLayer, 0, LAYER_COUNT - 1); }
    mainWindow *w;
};

} // namespace

void mainWindow::buildPresetLibrary()
{
    presetHost = std::make_shared<windowPresetHost>(this);
    presets = new presetLibrary(presetHost.get(), builtInPresetFolder(), userPresetFolder());
    presets->setObjectName("presetLibrary");
    presetsSlot->addWidget(presets);
    presets->scanPresets();
    // The look a photographer gets without choosing anything: the default
    // settings in the base layer (the panels show the record when they come).
    QString path = defaultSettingsPath();
    if (!fileExists(path))
        path = builtInDefaultSettings();
    if (loadSettingsFile(path, false, &project->layerSettings[0], true) != SETTINGS_LOADED)
        debugLog("%s: default settings not applied: %s\n", "mainWindow::buildPresetLibrary",
                 lastSettingsError.toLocal8Bit().constData());
}

int mainWindow::loadSettingsFile(const QString &fileName, bool preset, processingParams_t *params, bool noApply)
{
    lastSettingsError.clear();
    const int result = ::loadSettingsFile(fileName, params, &lastSettingsError);
    if (result != SETTINGS_LOADED || noApply)
        return result;
    applySettingsToPanels(params, false);
    int layer = -1;
    for (int i = 0; i < LAYER_COUNT; ++i)
        if (params == &project->layerSettings[i])
            layer = i;
    emit settingsApplied(layer, preset);
    return result;
}

bool mainWindow::saveSettingsFile(const QString &fileName, const processingParams_t *params)
{
    lastSettingsError.clear();
    if (::saveSettingsFile(fileName, *params, &lastSettingsError))
        return true;
    debugLog("%s: %s\n", "mainWindow::saveSettingsFile", lastSettingsError.toLocal8Bit().constData());
    return false;
}

int mainWindow::loadSettingsFile(const QString &fileName, processingParams_t *params, QString *errorText)
{
    return ::loadSettingsFile(fileName, params, errorText);
}

bool mainWindow::saveSettingsFile(const QString &fileName, const processingParams_t &params, QString *errorText)
{
    return ::saveSettingsFile(fileName, params, errorText);
}

void mainWindow::applySettingsToPanels(processingParams_t *params, bool force)
{
    if (panelsView)
        ::applySettingsToPanels(*panelsView, params, force);
}

void mainWindow::stopPresetThumbnails()
{
    if (presets)
        presets->stopThumbWorker();
}

void mainWindow::loadSettingsSlot() { loadSettingsSlot(QString(), false); }

void mainWindow::loadSettingsSlot(QString inFn) { loadSettingsSlot(inFn, false); }

void mainWindow::loadSettingsSlot(QString inFn, bool preset)
{
    const bool chosen = inFn.isEmpty();
    QString fileName = inFn;
    if (chosen) {
        fileName = fileDialogs::openFileName(nullptr, tr("Load tone mapping settings"), settingsDialogFolder(),
                                             settingsFilter());
        if (fileName.isEmpty())
            return;
        rememberSettingsFolder(fileName);
    }
    const int layer = std::clamp(project->currentLayer, 0, LAYER_COUNT - 1);
    const int result = loadSettingsFile(fileName, preset, &project->layerSettings[layer], false);
    if (result != SETTINGS_LOADED) {
        // Nothing of the layer changed: no history entry either.
        styledMessageBox::show(this, styledMessageBox::Error, settingsLoadErrorText(result, fileName));
        return;
    }
    QString entry;
    if (samePath(fileName, defaultSettingsPath()))
        entry = tr("Default settings");
    else if (chosen)
        entry = tr("Settings") + ": " + QFileInfo(fileName).fileName();
    else if (QFileInfo(fileName).fileName() == PRESET_LAST_USED_FILE)
        entry = tr("Preset") + ": " + tr("last used");
    if (!entry.isEmpty())
        emit historyEntryRequested(entry, -1, false);
}

void mainWindow::saveSettingsSlot()
{
    const QString chosen = fileDialogs::saveFileName(nullptr, tr("Save tone mapping settings"),
                                                     settingsDialogFolder(), settingsFilter());
    if (chosen.isEmpty())
        return;
    const QString fileName = settingsSaveFileName(chosen);
    rememberSettingsFolder(fileName);
    const int layer = std::clamp(project->currentLayer, 0, LAYER_COUNT - 1);
    processingParams_t *record = &project->layerSettings[layer];
    if (panelsView)
        panelsView->copyPanelsToRecord(record);
    if (!saveSettingsFile(fileName, record))
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("Cannot write file: %1. You may not have the required permissions.")
                                   .arg(QDir::toNativeSeparators(fileName)));
}

void mainWindow::defaultSettingsSlot()
{
    QString path = defaultSettingsPath();
    if (!fileExists(path)) {
        path = builtInDefaultSettings();
        if (optionsInstance)
            optionsInstance->misc.defaultToneMappingSettings = path;
    }
    loadSettingsSlot(path, false);
    if (presets)
        presets->presetItemChanged(-1, true);
}

void mainWindow::addNewPresetSlot()
{
    if (presets)
        presets->addNewPresetSlot();
}

void mainWindow::showSetupUserGroups()
{
    if (presets)
        presets->showSetupUserGroups();
}

void mainWindow::goToUserPresetFiles()
{
    if (presets)
        presets->goToUserPresetFiles();
}

void mainWindow::invalidatePresets(bool getThumbs, bool onlyIfMissing)
{
    if (presets && !closing)
        presets->invalidatePresets(getThumbs, onlyIfMissing);
}
