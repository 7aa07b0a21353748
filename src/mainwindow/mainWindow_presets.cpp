// mainWindow: settings files and the "Presets" tab. Loading, saving and
// resetting the current layer's tone-mapping settings, and the preset library
// with its host: the library reaches the layers, the locked panels and the
// history only through the window.

#include "mainwindow/mainWindow.h"
#include "mainwindow/windowPanels.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "documents/settingsPanels.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/selectiveCurveTool.h"
#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "project/processingProject.h"
#include "views/layerItem.h"
#include "views/layersTool.h"
#include "widgets/presetItem.h"
#include "widgets/slider.h"
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

// The tool panels of the window as the settings refresh reaches them.
class windowPanelsView : public settingsPanelsView
{
public:
    explicit windowPanelsView(mainWindow *window) : w(window) {}

    bool isPanelLocked(processingPanel_e panel) const override
    {
        const toolBox *box = panelOf(panel);
        return box && box->isLocked();
    }
    void showInPanel(processingPanel_e panel, const processingParams_t &params) override
    {
        switch (panel) {
        case processingPanel_e::toneMapping:
            w->toneMappingPanel->showRecord(params);
            break;
        case processingPanel_e::levels:
            w->histogramPanel->showRecord(params);
            break;
        case processingPanel_e::colorSaturation:
            w->colorSaturationPanel->showRecord(params);
            break;
        case processingPanel_e::colorAdjustment:
            w->colorAdjustPanel->showRecord(params);
            break;
        case processingPanel_e::vignette:
            w->vignettePanel->showRecord(params);
            break;
        }
    }
    void showCurves(const processingParams_t &params) override { w->toneCurvePanel->showCurves(params); }
    void copyPanelsToRecord(processingParams_t *params) override
    {
        // The panels write into the current layer's record (and rebuild its
        // tables); another record gets only the curve points.
        if (params == currentRecord()) {
            const QSignalBlocker b1(w->toneMappingPanel), b2(w->colorSaturationPanel), b3(w->colorAdjustPanel),
                b4(w->vignettePanel), b5(w->histogramPanel), b6(w->toneCurvePanel);
            w->toneMappingPanel->update(true);
            w->colorSaturationPanel->update(true);
            w->colorAdjustPanel->update(true);
            w->vignettePanel->update(true);
            w->histogramPanel->update(true);
            w->toneCurvePanel->getCurveData(-1, true);
        }
        storeCurvesToSettings(w, params);
    }
    void finishRefresh(const processingParams_t &params) override
    {
        if (w->layersToolWidget && params.layerIndex >= 0 && params.layerIndex < LAYER_COUNT)
            if (layerItem *row = w->layersToolWidget->row(params.layerIndex))
                if (slider *opacity = row->opacitySlider()) {
                    const QSignalBlocker block(opacity);
                    opacity->setValue(params.opacity);
                }
        w->setToneMappingControlsEnabled();
    }

private:
    processingParams_t *currentRecord() const
    {
        return &w->project->layerSettings[std::clamp(int(w->project->currentLayer), 0, LAYER_COUNT - 1)];
    }
    toolBox *panelOf(processingPanel_e panel) const
    {
        switch (panel) {
        case processingPanel_e::toneMapping:
            return w->toneMappingPanel;
        case processingPanel_e::levels:
            return w->histogramPanel;
        case processingPanel_e::colorSaturation:
            return w->colorSaturationPanel;
        case processingPanel_e::colorAdjustment:
            return w->colorAdjustPanel;
        case processingPanel_e::vignette:
            return w->vignettePanel;
        }
        return nullptr;
    }
    mainWindow *w;
};

// The preset library's view of the window.
class windowPresetHost : public presetLibraryHost
{
public:
    explicit windowPresetHost(mainWindow *window) : w(window) {}

    int currentLayer() const override { return layerIndex(); }
    processingParams_t currentSettings() override
    {
        // The panels keep the record's values up to date; the curve editors
        // hold their points themselves.
        processingParams_t *record = &w->project->layerSettings[layerIndex()];
        storeCurvesToSettings(w, record);
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
    void setAppliedPresetId(int id) override
    {
        w->project->layerSettings[layerIndex()].layerTag = id;
        // The name of the base layer's preset goes into result names ("%P").
        if (w->presets && layerIndex() == 0)
            w->presetNameForSaving = w->presets->appliedPresetName();
    }
    void addHistory(const QString &text) override { emit w->historyEntryRequested(text, -1, false); }
    processingProject *project() override { return w->project; }

private:
    int layerIndex() const { return std::clamp(w->project->currentLayer, 0, LAYER_COUNT - 1); }
    mainWindow *w;
};

} // namespace

void storeCurvesToSettings(mainWindow *w, processingParams_t *record)
{
    if (!w->toneCurvePanel || !w->colorSaturationPanel || !record)
        return;
    for (int j = 0; j < PP_CURVE_COUNT; ++j) {
        const toneCurveToolArea *c = w->toneCurvePanel->editor()->canvas(j);
        if (!c)
            continue;
        curveEntry_t &curve = record->curves[j];
        curve.points = c->curvePoints();
        curve.type = c->mode();
        // Two points on the diagonal are the untouched curve.
        curve.flag = curve.points.size() == 2 && curve.points[0] == QPointF(0, 0) && curve.points[1] == QPointF(1, 1);
    }
    record->hueSelectivePoints = w->colorSaturationPanel->hueSelective->canvas()->kneePoints();
    record->brightnessSelectivePoints = w->colorSaturationPanel->brightnessSelective->canvas()->kneePoints();
}

void mainWindow::buildPresetLibrary()
{
    if (toneMappingPanel && toneCurvePanel && histogramPanel && colorSaturationPanel && colorAdjustPanel
        && vignettePanel) {
        windowPanels = std::make_shared<windowPanelsView>(this);
        panelsView = windowPanels.get();
    }
    connectPresetSignals();
    presetHost = std::make_shared<windowPresetHost>(this);
    presets = new presetLibrary(presetHost.get(), builtInPresetFolder(), userPresetFolder());
    presets->setObjectName("presetLibrary");
    presetsSlot->addWidget(presets);
    presets->scanPresets(!startParams.autoProcess);
    // The look a photographer gets without choosing anything: the default
    // settings in the base layer (the panels show the record when they come).
    QString path = defaultSettingsPath();
    if (!fileExists(path))
        path = builtInDefaultSettings();
    if (loadSettingsFile(path, false, &project->layerSettings[0], true) != SETTINGS_LOADED)
        debugLog("%s: default settings not applied: %s\n", "mainWindow::buildPresetLibrary",
                 lastSettingsError.toLocal8Bit().constData());
    else if (panelsView && project->currentLayer == 0)
        applySettingsToPanels(&project->layerSettings[0], true);
}

void mainWindow::connectPresetSignals()
{
    // A loaded settings file re-renders the picture (not while a batch runs:
    // the batch renders itself), and the levels editor hands its points to
    // the tone-curve editor.
    connect(this, &mainWindow::settingsApplied, this, [this](int layer, bool preset) {
        Q_UNUSED(layer);
        if (!project || project->batchRunning)
            return;
        doToneMapping(nullptr, preset, false, false);
        if (histogramPanel) {
            {
                const QSignalBlocker block(histogramPanel);
                histogramPanel->update(true);
            }
            emit histogramPanel->histogramPointsMovedWithData(histogramPanel->editor()->blackPoint(),
                                                              histogramPanel->editor()->whitePoint());
        }
    });
    connect(this, &mainWindow::historyEntryRequested, this,
            [this](const QString &text, int layer, bool startingPoint) { doAddToHistory(text, layer, startingPoint); });
    // A restored history step or another layer shows its own values in every
    // panel, locked or not.
    connect(this, &mainWindow::layerSettingsRestored, this, [this](int layer) {
        if (project && layer >= 0 && layer < LAYER_COUNT && layer == project->currentLayer)
            applySettingsToPanels(&project->layerSettings[layer], true);
    });
    if (layersToolWidget) {
        connect(layersToolWidget, &layersTool::currentLayerChanged, this, [this](int) {
            const int layer = project->currentLayer;
            if (layer >= 0 && layer < LAYER_COUNT)
                applySettingsToPanels(&project->layerSettings[layer], true);
        });
        // The Presets tab marks the preset of the layer switched to (without
        // loading it: the layer keeps its own values).
        connect(layersToolWidget, &layersTool::presetToSelect, this, [this](int presetId) {
            if (presets)
                presets->presetItemChanged(presetId, true);
        });
    }
    // A saved result keeps its settings as the last-used preset (not in the
    // automatic run, which leaves the user's presets alone).
    connect(this, &mainWindow::resultSaveEnded, this, [this](bool saved) {
        if (saved && presets && !startParams.autoProcess)
            presets->presetItemReplace(PRESET_ID_LAST_USED, false);
    });
    // Locked panels change what every thumbnail shows.
    for (toolBox *panel : {static_cast<toolBox *>(colorSaturationPanel), static_cast<toolBox *>(colorAdjustPanel),
                           static_cast<toolBox *>(vignettePanel)}) {
        if (!panel)
            continue;
        connect(panel, &toolBox::lockEnabled, this, [this] { invalidatePresets(); });
        connect(panel, &toolBox::lockDisabled, this, [this] { invalidatePresets(); });
    }
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
    // The effects of the lockable panels are switched on again.
    for (toolBox *panel : {static_cast<toolBox *>(colorSaturationPanel), static_cast<toolBox *>(colorAdjustPanel),
                           static_cast<toolBox *>(vignettePanel)})
        if (panel && !panel->effectEnabled())
            panel->setEffectEnabledSilently(true);
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
    storeCurvesToSettings(this, record);
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
    // Nobody sees the preset thumbnails of an automatic run: rendering them
    // would only take processor time from the merge and the tone mapping.
    if (startParams.autoProcess)
        getThumbs = false;
    if (presets && !closing)
        presets->invalidatePresets(getThumbs, onlyIfMissing);
}
