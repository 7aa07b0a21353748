// mainWindow: gathering the window state and applying the enabling rules of
// controlRules.h to every action, menu, dock, page and status widget.

#include "mainwindow/mainWindow.h"

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "widgets/myDockWidget.h"
#include "widgets/myQTabWidget.h"
#include "widgets/zoomWidget.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

windowState_t mainWindow::currentWindowState() const
{
    windowState_t s;
    s.enabled = uiEnabled;
    s.tab = rightTab ? rightTab->currentIndex() : 0;
    if (project) {
        const QList<photoInfo_t> &photos = project->photos;
        s.photoCount = int(photos.size());
        for (const photoInfo_t &p : photos)
            s.checkedCount += p.included ? 1 : 0;
        s.hdrReady = project->hdrState.resultValid;
        s.layersOn = project->layersOn;
        for (int i = 1; i < LAYER_COUNT; ++i)
            s.layerCount += project->layerExists[i] ? 1 : 0;
        if (!photos.isEmpty()) {
            s.firstIsHdr = photos.first().isFloat != 0;
            s.projectWithoutInputs = !photos.first().projectPath.isEmpty() && !photos.first().preview;
        }
        s.preprocessedExist = project->hdrState.lensCorrected || project->hdrState.aligned;
        s.evFromExif = project->evFromExif;
        s.evFromExifAeb = project->biasDistinct;
    }
    s.showFileOpen = optionsInstance && optionsInstance->newProject.showFileOpen;
    s.cropMode = cropMode;
    s.fullScreen = fullScreenAct && fullScreenAct->isChecked();
    s.maximizeWorkspace = maximizeWorkspaceAct && maximizeWorkspaceAct->isChecked();
    s.showingBefore = showingBefore;
    s.colorManagement = colorManagementAct && colorManagementAct->isChecked();
    s.resultNameSet = !resultFileName.isEmpty();
    s.toolsDockClosed = leftDock && leftDock->isClosed();
    if (historyList) {
        s.historyRow = historyList->currentRow();
        s.historyCount = historyList->count();
    }
    return s;
}

void mainWindow::setControlsEnabled(bool enabled)
{
    if (!project || !rightTab)
        return;
    uiEnabled = enabled;
    applyControlStates(computeControlStates(currentWindowState()), enabled);
}

void mainWindow::applyControlStates(const controlStates_t &c, bool enabled)
{
    // Maximising: the title strip, tool bars and status bar go away.
    titleStrip->setVisible(!c.frameHidden);
    setContentsMargins(0, c.frameHidden ? 0 : TITLE_HEIGHT, 0, 0);
    for (QToolBar *bar : {fileToolBar, viewToolBar, settingsToolBar, miscToolBar})
        bar->setVisible(!c.frameHidden);
    statusBar()->setVisible(!c.frameHidden);
    if (c.frameHidden != isFullScreen()) {
        if (c.frameHidden)
            setWindowState(windowState() | Qt::WindowFullScreen);
        else
            setWindowState(windowState() & ~Qt::WindowFullScreen);
    }

    QDockWidget::DockWidgetFeatures features = QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable;
    if (c.toolsDockClosable)
        features |= QDockWidget::DockWidgetClosable;
    leftDock->setFeatures(features);
    leftDock->setVisible(c.toolsDockVisible);
    leftTab->setEnabled(c.toolsTabsEnabled);
    rightTab->setEnabled(c.processingTabsEnabled);
    rightDock->setVisible(c.processingDockVisible);
    toneMappingPage->setEnabled(c.toneMappingPagesEnabled);
    postProcessingPage->setEnabled(c.toneMappingPagesEnabled);

    const QString hdrText = c.ldrEnhancement ? tr("LDR enhancement") : tr("Generate HDR");
    optionsOnLoadAct->setEnabled(c.optionsOnLoad);
    newButton->setEnabled(c.newButton);
    addButton->setEnabled(c.addButton);
    removeButton->setEnabled(c.removeButton);
    hdrButton->setEnabled(c.hdrButton);
    hdrButton->setText(hdrText);
    evPanel->setEnabled(c.evPanel);

    newAct->setEnabled(c.newAction);
    newAct->setText(c.newActionDots ? tr("New") + "..." : tr("New"));
    addAct->setEnabled(c.add);
    removeAct->setEnabled(c.remove);
    closeAct->setEnabled(c.close);
    generateHdrAct->setEnabled(c.generateHdr);
    generateHdrAct->setText(hdrText);
    saveAct->setEnabled(c.save);
    for (QAction *a : {saveAsAct, externalEditorAct, copyAct})
        a->setEnabled(c.saveAs);
    savePreprocessedAct->setEnabled(c.savePreprocessed);
    for (QAction *a : {batchAct, exitAct, loadProjectAct, programOptionsAct, webHelpAct, aboutAct, checkUpdatesAct,
                       revealPresetsAct, colorManagementAct})
        a->setEnabled(c.always);
    centralWidget()->setEnabled(c.always);
    languageMenu->setEnabled(c.always);
    languageGroup->setEnabled(c.always);
    colorSettingsMenu->setEnabled(c.always);
    saveProjectAct->setEnabled(c.saveProject);
    for (QAction *a : {zoom100Act, zoomFitAct, zoomInAct, zoomOutAct})
        a->setEnabled(c.zoom);
    zoom->setMinimumStep(c.zoomMinimumStep);
    zoom->setEnabled(c.zoom);
    beforeAct->setEnabled(c.before);
    beforeMenu->setEnabled(c.before);
    resultAct->setEnabled(c.result);
    splitAct->setEnabled(c.split);
    splitMenu->setEnabled(c.split);
    transformMenu->setEnabled(c.transformMenu);
    for (QAction *a : {rotateCcwAct, rotateCwAct, rotate180Act, flipHorizontalAct, flipVerticalAct, cropAct})
        a->setEnabled(c.transforms);
    for (QAction *a : {loadSettingsAct, saveSettingsAct, defaultSettingsAct, addPresetAct, userGroupsAct})
        a->setEnabled(c.settingsCommands);
    photoColorSpaceMenu->setEnabled(c.colorSubmenus);
    monitorProfileMenu->setEnabled(c.colorSubmenus);
    intentMenu->setEnabled(c.colorSubmenus);
    for (QPushButton *b : {photoProfileButton, monitorProfileButton}) {
        b->setVisible(c.colorButtonsVisible);
        b->setEnabled(c.colorButtonsEnabled);
    }
    toneMappingPanelArea->setEnabled(c.toneMappingPanel);
    for (QWidget *w : {static_cast<QWidget *>(sampleLabel), static_cast<QWidget *>(dimensionsCaption),
                       static_cast<QWidget *>(dimensionsLabel)})
        w->setEnabled(c.toneMappingPanel);

    updateUndoRedoActions(enabled);

    layersAct->setEnabled(c.layersAction);
    layersAct->setText(c.layersActionSaysDisable ? tr("Disable layers") : tr("Enable layers"));

    if (enabled) {
        if (c.saveHasCtrlS) {
            saveAct->setShortcut(QKeySequence("Ctrl+S"));
            saveAsAct->setShortcut(QKeySequence("Ctrl+Shift+S"));
        } else {
            saveAct->setShortcut(QKeySequence());
            saveAsAct->setShortcut(QKeySequence("Ctrl+S"));
        }
    }

    // Commands whose dialogs are not part of the program yet stay visible
    // but cannot be chosen.
    for (QAction *a : {batchAct, programOptionsAct, userGroupsAct})
        a->setEnabled(false);
    applyViewControlStates(c);
}

void mainWindow::updateUndoRedoActions(bool enabled)
{
    windowState_t s = currentWindowState();
    s.enabled = enabled;
    bool undoOn = false, redoOn = false;
    historyRules(s, &undoOn, &redoOn);
    undoAct->setEnabled(undoOn);
    redoAct->setEnabled(redoOn);
}

void mainWindow::setToneMappingControlsEnabled()
{
    // The tone-mapping panel switches its local-contrast and mask controls
    // itself once it is in the "Tone mapping" tab.
}
