// mainWindow: the History tab. Every tone-mapping change adds a row holding a
// full copy of the changed layer's settings; moving the current row (a click,
// Undo, Redo) restores every layer from its nearest row. With layer-mask undo
// on, each mask change is written to "layerUndo_<layer>_<counter>" in the
// session directory and read back when a row with another counter is applied.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "mainwindow/historyItem.h"
#include "mainwindow/windowPanels.h"
#include "project/processingProject.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/sampleTargetBalanceGroup.h"
#include "panels/toneCurveGroup.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "documents/presetLibrary.h"
#include "panels/toolBox.h"
#include "views/cropTool.h"
#include "views/layersTool.h"
#include "views/mainWorkspace.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QSignalBlocker>

namespace {

bool layerMaskUndoOn()
{
    return optionsInstance && optionsInstance->misc.layerMaskUndo;
}

QString layerUndoPath(const processingProject *project, int layer, int counter)
{
    return QDir(project->sessionPath).filePath(QStringLiteral("layerUndo_%1_%2").arg(layer).arg(counter));
}

// Busy cursor for a scope, restored on every way out.
struct busyCursor_t {
    busyCursor_t() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~busyCursor_t() { QApplication::restoreOverrideCursor(); }
};

} // namespace

historyItem *mainWindow::historyRow(int row) const
{
    if (!historyList || row < 0 || row >= historyList->count())
        return nullptr;
    return qobject_cast<historyItem *>(historyList->itemWidget(historyList->item(row)));
}

void mainWindow::reportWindowMessage(int kind, const QString &text)
{
    debugLog("mainWindow: %s\n", qPrintable(text));
    if (startParams.autoProcess || (project && project->batchRunning))
        return;
    styledMessageBox::show(this, kind, text);
}

void mainWindow::restyleHistoryRows()
{
    const int current = historyList->currentRow();
    for (int i = 0; i < historyList->count(); ++i)
        if (historyItem *row = historyRow(i))
            row->setState(i == current ? historyItem::STATE_CURRENT
                                       : i > current ? historyItem::STATE_UNDONE : historyItem::STATE_BEFORE);
}

void mainWindow::doAddToHistory(QString txt, int layer, bool startingPoint, bool layerMask)
{
    if (!historyList || !project)
        return;
    if (layer < 0)
        layer = project->currentLayer;
    if (layer < 0 || layer >= LAYER_COUNT)
        return;
    // The curve editors hold their points; the row's copy must have them.
    // Only the layer the panels show has them there.
    if (layer == project->currentLayer)
        storeCurvesToSettings(this, &project->layerSettings[layer]);
    {
        const QSignalBlocker blocker(historyList);
        // Placeholders first, then the redo tail (starting points stay).
        for (int i = historyList->count() - 1; i >= 0; --i) {
            historyItem *row = historyRow(i);
            if (!row || row->isPlaceholder())
                delete historyList->takeItem(i);
        }
        const int current = historyList->currentRow();
        for (int i = historyList->count() - 1; i > current; --i) {
            historyItem *row = historyRow(i);
            if (row && !row->isStartingPoint())
                delete historyList->takeItem(i);
        }

        auto *row = new historyItem(txt, layer, startingPoint, project->layerSettings[layer]);
        if (layerMaskUndoOn()) {
            if (layerMask) {
                busyCursor_t busy;
                project->layerUndoCount[layer] += 1;
                row->maskUndoIndex = project->layerUndoCount[layer];
                const QString path = layerUndoPath(project, layer, row->maskUndoIndex);
                if (!project->layerMasks[layer].writeMaskFile(path))
                    reportWindowMessage(styledMessageBox::Warning,
                                        tr("The mask of layer #%1 cannot be stored for undo (%2): undoing to this "
                                           "step will keep the mask as it is then.")
                                            .arg(layer)
                                            .arg(QDir::toNativeSeparators(path)));
            } else {
                row->maskUndoIndex = project->layerUndoCount[layer];
            }
        }
        auto *item = new QListWidgetItem;
        item->setSizeHint(QSize(10, int(20 * uiScale)));
        historyList->addItem(item);
        historyList->setItemWidget(item, row);
        row->setEnabled(project->layersOn || layer == 0);
        historyList->setCurrentRow(historyList->count() - 1);
        restyleHistoryRows();
    }
    updateUndoRedoActions(uiEnabled);
}

void mainWindow::clearHistory(int layer)
{
    if (!historyList || !project)
        return;
    const int before = historyList->currentRow();
    bool currentRemoved = false;
    int keptAfter = -1; // index (after removal) of the first kept row after the current one
    {
        const QSignalBlocker blocker(historyList);
        int removedBefore = 0;
        for (int i = historyList->count() - 1; i >= 0; --i) {
            historyItem *row = historyRow(i);
            if (layer == -1 || !row || row->layer() == layer) {
                delete historyList->takeItem(i);
                if (i == before)
                    currentRemoved = true;
                if (i < before)
                    ++removedBefore;
            }
        }
        if (currentRemoved && layer != -1) {
            const int next = before - removedBefore;
            if (next < historyList->count())
                keptAfter = next;
        }
        if (layer == -1) {
            for (int l = 0; l < LAYER_COUNT; ++l)
                if (project->layerExists[l])
                    doAddToHistory(tr("START"), l, true, false);
        } else if (layer >= 0 && layer < LAYER_COUNT) {
            project->layerUndoCount[layer] = 0;
        }
    }
    if (keptAfter >= 0) {
        historyList->setCurrentRow(keptAfter);
        applyHistory();
    } else {
        const QSignalBlocker blocker(historyList);
        historyList->setCurrentRow(historyList->count() - 1);
    }
    restyleHistoryRows();
    updateUndoRedoActions(uiEnabled);
}

void mainWindow::removeLastFromHistory()
{
    if (historyItem *row = historyRow(historyList->count() - 1))
        row->setText(QString());
}

void mainWindow::addMaskUndoStep()
{
    debugLog("%s\n", "mainWindow::addMaskUndoStep");
    doAddToHistory(tr("Layer #%1 mask modified").arg(project->currentLayer), project->currentLayer, false, true);
    debugLog("%s done\n", "mainWindow::addMaskUndoStep");
}

void mainWindow::skipDisabledHistoryItems()
{
    historyItem *current = historyRow(historyList->currentRow());
    if (!current || current->rowEnabled())
        return;
    for (int i = historyList->currentRow() + 1; i < historyList->count(); ++i) {
        historyItem *row = historyRow(i);
        if (row && row->rowEnabled()) {
            const QSignalBlocker blocker(historyList);
            historyList->setCurrentRow(i);
            return;
        }
    }
}

void mainWindow::applyHistory()
{
    if (!historyList || !project || applyingHistory)
        return;
    skipDisabledHistoryItems();
    restyleHistoryRows();
    const int current = historyList->currentRow();
    historyItem *currentRow = historyRow(current);
    if (!currentRow) {
        updateUndoRedoActions(uiEnabled);
        return;
    }
    applyingHistory = true;

    // One row per layer: the nearest at or above the current row, else the
    // nearest below it.
    historyItem *chosen[LAYER_COUNT] = {};
    for (int i = current; i >= 0; --i)
        if (historyItem *row = historyRow(i); row && !row->isPlaceholder() && !chosen[row->layer()])
            chosen[row->layer()] = row;
    for (int i = current + 1; i < historyList->count(); ++i)
        if (historyItem *row = historyRow(i); row && !row->isPlaceholder() && !chosen[row->layer()])
            chosen[row->layer()] = row;

    const int c = currentRow->layer();
    {
        busyCursor_t busy;
        setUpdatesEnabled(false);

        if (layerMaskUndoOn()) {
            QStringList unreadable;
            for (int l = 1; l < LAYER_COUNT; ++l) {
                historyItem *row = chosen[l];
                if (!project->layerExists[l] || !row || row->maskUndoIndex == project->layerUndoCount[l])
                    continue;
                pyramid &mask = project->layerMasks[l];
                if (row->maskUndoIndex == 0) {
                    mask.clear();
                } else {
                    const QString path = layerUndoPath(project, l, row->maskUndoIndex);
                    if (!mask.readMaskFile(path)) {
                        // The mask in memory stays as it is, and so does the
                        // counter that names it.
                        debugLog("mainWindow::applyHistory: undo file %s cannot be read; mask of layer %d kept\n",
                                 qPrintable(path), l);
                        unreadable << QStringLiteral("#%1 (%2)").arg(l).arg(QDir::toNativeSeparators(path));
                        continue;
                    }
                    mask.buildLevelsFrom(0);
                }
                regenerateLayersThumbs();
                project->layerUndoCount[l] = row->maskUndoIndex;
            }
            if (!unreadable.isEmpty()) {
                setUpdatesEnabled(true);
                reportWindowMessage(styledMessageBox::Warning,
                                    tr("The saved mask of this step cannot be read for layer %1. The mask is kept "
                                       "as it is.")
                                        .arg(unreadable.join(QStringLiteral(", "))));
                setUpdatesEnabled(false);
            }
        }

        // The other layers first, the row's own layer last, so that the
        // panels end up showing it.
        for (int pass = 0; pass < 2; ++pass) {
            for (int l = 0; l < LAYER_COUNT; ++l) {
                if ((pass == 0) == (l == c) || !project->layerExists[l] || !chosen[l])
                    continue;
                processingParams_t &settings = project->layerSettings[l];
                copyProcessingSettings(&settings, &chosen[l]->settings);
                settings.layerIndex = l;
                if (l == c && settings.autoClipping) {
                    settings.whitePointValue = 1.0;
                    settings.blackPointValue = 0.0;
                }
                if (layersToolWidget)
                    layersToolWidget->itemChanged(l, true);
                else
                    project->currentLayer = l;
                emit layerSettingsRestored(l);
            }
        }
        if (!project->layerExists[c] && project->currentLayer != 0) {
            if (layersToolWidget)
                layersToolWidget->itemChanged(0, true);
            else
                project->currentLayer = 0;
        }
        if (project->layerExists[c]) {
            // A restored step shows its effects: the switches that leave
            // them out go on again (each pass copies them into the layers).
            for (toolBox *panel : switchablePanels(*this))
                panel->setEffectEnabledSilently(true);
        }
        rerenderAfterChange();
        // The preset marked in the Presets tab is the restored layer's.
        if (presets && project->layerExists[c])
            presets->presetItemChanged(project->layerSettings[c].layerTag, true);
        setUpdatesEnabled(true);
    }
    applyingHistory = false;
    updateUndoRedoActions(uiEnabled);
    // Locked panels keep their values in every thumbnail: the thumbnails are
    // drawn again with the restored values.
    for (toolBox *panel : switchablePanels(*this))
        if (panel->isLocked()) {
            invalidatePresets(true, false);
            break;
        }
}

QList<toolBox *> switchablePanels(const mainWindow &w)
{
    QList<toolBox *> panels;
    for (toolBox *panel : {static_cast<toolBox *>(w.colorSaturationPanel), static_cast<toolBox *>(w.colorAdjustPanel),
                           static_cast<toolBox *>(w.vignettePanel)})
        if (panel)
            panels << panel;
    return panels;
}

void mainWindow::undo()
{
    if (!historyList || !uiEnabled)
        return;
    // The nearest enabled row above (rows of hidden layers are skipped; a
    // disabled row would only send the current row back down).
    for (int i = historyList->currentRow() - 1; i >= 0; --i) {
        historyItem *row = historyRow(i);
        if (row && row->rowEnabled() && !row->isPlaceholder()) {
            historyList->setCurrentRow(i);
            return;
        }
    }
}

void mainWindow::redo()
{
    if (!historyList || !uiEnabled)
        return;
    const int row = historyList->currentRow();
    if (row < 0 || row >= historyList->count() - 1)
        return;
    historyList->setCurrentRow(row + 1);
}

void mainWindow::rerenderAfterChange()
{
    emit rerenderRequested();
}

void mainWindow::regenerateLayersThumbs()
{
    debugLog("%s\n", "mainWindow::regenerateLayersThumbs");
    if (layersToolWidget)
        layersToolWidget->updateThumbnails(true);
    debugLog("%s done\n", "mainWindow::regenerateLayersThumbs");
}

void mainWindow::showLayerSettings(int layer)
{
    if (!project || layer < 0 || layer >= LAYER_COUNT || !toneMappingPanel)
        return;
    processingParams_t &settings = project->layerSettings[layer];
    if (panelsView) {
        applySettingsToPanels(&settings, true);
    } else {
        // Each panel shows the record with its signals blocked: nothing is
        // announced, and the record stays as it is.
        toneCurvePanel->showCurves(settings);
        toneMappingPanel->showRecord(settings);
        colorSaturationPanel->showRecord(settings);
        colorAdjustPanel->showRecord(settings);
        vignettePanel->showRecord(settings);
        histogramPanel->showRecord(settings);
    }
    setToneMappingControlsEnabled();
}

void mainWindow::connectHistoryAndTools()
{
    connect(this, &mainWindow::rerenderRequested, this, &mainWindow::refreshAfterChange);
    // The panels always show the layer they edit: after a layer switch, an
    // undo or redo, and a sample that changed the record.
    connect(this, &mainWindow::layerSettingsRestored, this, &mainWindow::showLayerSettings);
    connectPanelGroups();
    if (toneMappingPanel) {
        connect(toneMappingPanel, &tonemappingGroup::newToHistory, this, &mainWindow::newToHistory);
        connect(colorSaturationPanel, &colorSaturationGroup::newToHistory, this, &mainWindow::newToHistory);
        connect(colorAdjustPanel, &colorAdjustGroup::newToHistory, this, &mainWindow::newToHistory);
        connect(vignettePanel, &vignetteGroup::newToHistory, this, &mainWindow::newToHistory);
        connect(toneCurvePanel, &toneCurveGroup::newToHistory, this, &mainWindow::newToHistory);
        connect(histogramPanel, &histogramGroup::newToHistory, this, &mainWindow::newToHistory);
    }
    if (layersToolWidget) {
        connect(layersToolWidget, &layersTool::historyStartRequested, this,
                [this] { doAddToHistory(tr("START"), -1, true, false); });
        connect(layersToolWidget, &layersTool::historyClearRequested, this,
                qOverload<int>(&mainWindow::clearHistory));
        connect(layersToolWidget, &layersTool::maskUndoStepRequested, this, &mainWindow::addMaskUndoStep);
        connect(layersToolWidget, &layersTool::layerSettingsToShow, this, &mainWindow::showLayerSettings);
    }
    // The eyedroppers of the levels, colour-adjustment and sample/target
    // panels choose what a click in the picture samples.
    if (histogramPanel)
        connect(histogramPanel->editor(), &histogramTool::sampleModeChanged, this,
                qOverload<int>(&mainWindow::toggleSampleMode));
    if (colorAdjustPanel)
        connect(colorAdjustPanel, &colorAdjustGroup::sampleModeChanged, this,
                qOverload<int>(&mainWindow::toggleSampleMode));
    if (sampleTargetBalancePanel)
        connect(sampleTargetBalancePanel, &sampleTargetBalanceGroup::sampleModeChanged, this,
                qOverload<int>(&mainWindow::toggleSampleMode));
    if (workspace) {
        connect(workspace, &mainWorkspace::cropApplied, this, &mainWindow::applyCropping);
        connect(workspace, &mainWorkspace::cropAbandoned, this, [this] {
            if (cropMode)
                toggleCropMode();
        });
        connect(workspace, &mainWorkspace::sampleTaken, this, &mainWindow::sampleTakenSlot);
        connect(workspace, &mainWorkspace::mouseMoved, this, &mainWindow::showSampleValues);
        connect(workspace, &mainWorkspace::cropAngleChanged, this, &mainWindow::setCropAngle);
        connect(workspace, &mainWorkspace::distortionValueChanged, this, &mainWindow::setDistortionValue);
        connect(workspace, &mainWorkspace::perspectiveValueChanged, this, &mainWindow::setPerspectiveValue);
    }
    if (cropToolWidget && workspace) {
        connect(cropToolWidget, &cropTool::applyCropping, workspace, &mainWorkspace::applyCropping);
        connect(cropToolWidget, &cropTool::cancelCropping, this, [this] {
            if (cropMode)
                toggleCropMode();
        });
    }
}
