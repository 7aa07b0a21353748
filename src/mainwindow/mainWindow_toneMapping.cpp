// mainWindow: the tone-mapping flow. Every change of a tone-mapping control
// ends in doToneMapping, which renders the preview of one layer or of every
// enabled layer: on a worker thread when a control asked, on the calling
// thread when code asked. One pass runs at a time; a request arriving while
// a pass runs is kept (one request, merged with later ones) and run when the
// pass ends, so the picture always ends up matching the settings. Changes of
// the panels themselves wait inside the panels during a pass (toolBox) and
// are announced again once it has ended.
//
// Also here: the preparation of a new HDR image for tone mapping, switching
// between the three processing tabs, and the full-size tone mapping the
// Postprocessing tab's filters work on.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "documents/presetThumbWorker.h"
#include "mainwindow/toneMappingPreviewWorker.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/postProcessingControl.h"
#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "project/toneMappingTables.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "views/layerItem.h"
#include "views/layersTool.h"
#include "views/mainWorkspace.h"
#include "views/navigator.h"
#include "widgets/myDockWidget.h"
#include "widgets/myQTabWidget.h"
#include "widgets/spinner.h"
#include "widgets/styledMessageBox.h"
#include "widgets/zoomWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabBar>
#include <QThread>
#include <QTimer>

namespace {

bool liveToneMapping()
{
    return optionsInstance && optionsInstance->performance.liveToneMapping;
}

// Whether o is w or one of w's controls.
bool isPartOf(const QObject *o, const QObject *w)
{
    for (; o; o = o->parent())
        if (o == w)
            return true;
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// preview passes

void mainWindow::doToneMapping(QObject *trueSender, bool preset, bool visibility, bool all)
{
    if (!hasImageToToneMap() || !workspace)
        return;
    if (toneMappingRunning.load() || prepareThread || preparingPostProcessing) {
        // Kept, not dropped: the last state is rendered once the pass ends.
        toneMappingRequest_t &p = pendingRequest;
        if (!p.waiting) {
            p = toneMappingRequest_t();
            p.waiting = true;
            p.sender = trueSender;
        } else if (trueSender && p.sender != trueSender) {
            // Two different controls: every layer is rendered.
            p.all = true;
            p.sender = trueSender;
        }
        p.fromCode = p.fromCode || !trueSender;
        p.preset = p.preset || preset;
        p.visibility = p.visibility || visibility;
        p.all = p.all || all;
        return;
    }
    toneMappingRunning = true;
    ++toneMappingRequests;
    if (!liveToneMapping())
        QApplication::setOverrideCursor(Qt::WaitCursor);

    // The vignette changes with the image's geometry: its panel renders every layer.
    if (!trueSender || isPartOf(trueSender, vignettePanel))
        all = true;

    const int current = std::max(0, std::min(LAYER_COUNT - 1, int(project->currentLayer)));
    // Editing a layer switches it on.
    if (trueSender && current > 0 && !layerTouched[current] && project->layerExists[current]) {
        layerTouched[current] = true;
        if (layerItem *row = layersToolWidget->row(current))
            if (QCheckBox *box = row->enableBox())
                box->setChecked(true);
    }

    // The visibility switches of the colour and vignette panels go into
    // every enabled layer's record.
    const bool saturationOn = colorSaturationPanel->effectEnabled();
    const bool adjustOn = colorAdjustPanel->effectEnabled();
    const bool vignetteOn = vignettePanel->effectEnabled();
    for (int l = 0; l < LAYER_COUNT; ++l) {
        if (!project->layerExists[l] || !project->layerEnabled[l])
            continue;
        processingParams_t &p = project->layerSettings[l];
        if (p.saturationActive != saturationOn || p.colorAdjustActive != adjustOn) {
            p.saturationActive = saturationOn;
            p.colorAdjustActive = adjustOn;
            updateColorMatrix(&p);
        }
        if (p.vignetteEnabled != vignetteOn) {
            p.vignetteEnabled = vignetteOn;
            project->vignetteProfile(&p);
        }
    }

    // The pass reads the view's window buffers: they must match the view.
    if (!project->view.ready)
        workspace->canvas()->renderView(false, false, true);
    // The navigator's overview is the statistics pass's output of the base layer.
    project->smallPreview = project->displayBuffer && (all || current == 0);

    const bool keepPreset = preset || visibility;
    const bool updateLevels = !isPartOf(trueSender, histogramPanel);
    if (trueSender) {
        startPreviewPass(trueSender, all);
        previewWorker->keepPreset = keepPreset;
        previewWorker->updateLevels = updateLevels;
        return;
    }
    // Asked by code: rendered now, on this thread.
    for (int l = 0; l < LAYER_COUNT; ++l) {
        const bool wanted = all ? project->layerEnabled[l] != 0 : l == current;
        if (wanted && project->layerExists[l])
            project->doToneMapping(&project->layerSettings[l], nullptr, false, false);
    }
    finishPreviewPass(keepPreset, updateLevels, current);
}

void mainWindow::startPreviewPass(QObject *trueSender, bool all)
{
    const int current = std::max(0, std::min(LAYER_COUNT - 1, int(project->currentLayer)));
    previewWorker = new toneMappingPreviewWorker(project, all ? -1 : current, current, trueSender, false, true);
    previewThread = new QThread;
    previewWorker->moveToThread(previewThread);
    connect(previewThread, &QThread::started, previewWorker, &toneMappingPreviewWorker::doIt);
    // The pass's own number goes with its completion, so that a completion
    // left over from a stopped pass never ends a later one.
    const uint64_t pass = toneMappingRequests;
    connect(previewWorker, &toneMappingPreviewWorker::finished, this, [this, pass] {
        if (previewWorker && pass == toneMappingRequests)
            doToneMappingFinished();
    }, Qt::QueuedConnection);
    previewThread->start(QThread::InheritPriority);
}

void mainWindow::doToneMappingFinished()
{
    if (!previewWorker)
        return;
    previewThread->quit();
    previewThread->wait();
    const bool keepPreset = previewWorker->keepPreset;
    const bool updateLevels = previewWorker->updateLevels;
    const int current = previewWorker->currentLayer;
    delete previewWorker;
    previewWorker = nullptr;
    delete previewThread;
    previewThread = nullptr;
    finishPreviewPass(keepPreset, updateLevels, current);
}

void mainWindow::finishPreviewPass(bool keepPreset, bool updateLevels, int currentLayer)
{
    Q_UNUSED(keepPreset); // the preset selection follows with the presets
    if (updateLevels && currentLayer >= 0 && currentLayer < LAYER_COUNT) {
        // The automatic clip points of the pass go to the levels panel.
        const processingParams_t &p = project->layerSettings[currentLayer];
        histogramTool *levels = histogramPanel->editor();
        {
            const QSignalBlocker b1(histogramPanel), b2(levels), b3(levels->blackClipSpinBox()),
                b4(levels->whiteClipSpinBox());
            levels->setClipPoints(false, p.blackPointValue, p.whitePointValue);
            levels->blackClipSpinBox()->setValue(p.blackPoint);
            levels->whiteClipSpinBox()->setValue(p.whitePoint);
        }
        toneCurvePanel->editor()->setWBpoints(p.blackPointValue, p.whitePointValue);
    }
    updateHistogramPanels();
    if (!liveToneMapping())
        QApplication::restoreOverrideCursor();

    ++toneMappingPasses;
    toneMappingRunning = false;
    workspace->redraw(false);
    if (navigatorWidget && project->displayBuffer && project->hdrImage.levelCount > 0 && !viewShowsResult) {
        const pyramidLevel_t &small = project->hdrImage.levels[project->hdrImage.levelCount - 1];
        if (small.width > 0 && small.height > 0)
            navigatorWidget->setImage(project->displayBuffer, small.width, small.height, project->width);
        navigatorWidget->setRect(workspace->imageRect());
    }
    if (optionsInstance && optionsInstance->performance.resample > 1 && liveToneMapping())
        workspace->redrawTimer().start(350);

    // Changes the panels held back during the pass are announced now (each
    // asks for a pass of its own); then the request kept meanwhile runs.
    toolBox::toneMappingPassEnded();
    if (pendingRequest.waiting && !toneMappingRunning.load() && !prepareThread && !preparingPostProcessing) {
        const toneMappingRequest_t p = pendingRequest;
        pendingRequest = toneMappingRequest_t();
        QObject *s = p.fromCode || !p.sender ? nullptr : p.sender.data();
        doToneMapping(s, p.preset, p.visibility, p.all);
    }
}

void mainWindow::updateHistogramPanels()
{
    const int l = std::max(0, std::min(LAYER_COUNT - 1, int(project->currentLayer)));
    const processingParams_t &p = project->layerSettings[l];
    if (!p.histograms[0] || !p.histograms[1] || !p.histograms[2] || !p.histograms[3])
        return;
    const quint32 *const counts[4] = {p.histograms[0], p.histograms[1], p.histograms[2], p.histograms[3]};
    const QSignalBlocker b1(histogramPanel), b2(toneCurvePanel);
    histogramPanel->editor()->setHistograms(counts, PP_HISTOGRAM_SIZE);
    toneCurvePanel->editor()->setHistograms(counts, PP_HISTOGRAM_SIZE);
}

void mainWindow::refreshAfterChange()
{
    if (!workspace || !project)
        return;
    if (viewShowsResult) {
        showPostProcessingResult();
        return;
    }
    if (viewImageId >= 0)
        showImageInView(viewImageId, true);
    project->view.ready = false;
    syncViewState(true);
    if (hasImageToToneMap())
        doToneMapping(nullptr, true, false, true);
}

void mainWindow::stopToneMappingWorkers()
{
    const bool aborting = abortBackgroundFlag.load();
    abortBackgroundFlag = true;
    pendingRequest = toneMappingRequest_t();
    if (previewThread) {
        previewThread->quit();
        previewThread->wait();
        delete previewWorker;
        previewWorker = nullptr;
        delete previewThread;
        previewThread = nullptr;
        if (!liveToneMapping())
            QApplication::restoreOverrideCursor();
    }
    if (prepareThread) {
        prepareThread->quit();
        prepareThread->wait();
        delete prepareWorker;
        prepareWorker = nullptr;
        delete prepareThread;
        prepareThread = nullptr;
        QApplication::restoreOverrideCursor();
        finishProgress();
    }
    if (postProcessing)
        postProcessing->waitForWorker();
    preparingPostProcessing = false;
    // A stopped pass leaves nothing running: later requests are served.
    toneMappingRunning = false;
    abortBackgroundFlag = aborting;
}

// ---------------------------------------------------------------------------
// preparation of a new HDR image

void mainWindow::toneMappingPrepare()
{
    if (!project || prepareThread || project->hdrImage.levelCount <= 0 || !project->hdrImage.levels[0].data)
        return;
    if (panoramaMark)
        panoramaMark->setVisible(project->panoramaMode);
    setControlsEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    workspace->showSpinner();
    suppressTabPreparation = true;
    {
        const QSignalBlocker block(rightTab);
        rightTab->setCurrentIndex(1);
        rightTabChanged(rightTab->currentIndex());
    }
    suppressTabPreparation = false;
    leftDock->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (zoom) {
        const double fit = workspace->fitScale(project->width, project->height);
        zoom->setScaleValue(fit);
        if (fit > 100.0)
            zoom->set100();
        else
            zoom->setFit();
    }
    project->localContrastReady = false;
    project->maskReady = false;
    project->prepared = false;
    startProgress(uint64_t(4) * uint64_t(project->width) + uint64_t(project->height), true);
    prepareWorker = new toneMappingPreprocessWorker(project);
    prepareThread = new QThread;
    prepareWorker->moveToThread(prepareThread);
    connect(prepareThread, &QThread::started, prepareWorker, &toneMappingPreprocessWorker::doIt);
    connect(prepareWorker, &toneMappingPreprocessWorker::finished, this, [this] {
        if (prepareWorker)
            toneMappingPrepareFinished();
    }, Qt::QueuedConnection);
    prepareThread->start(QThread::InheritPriority);
}

void mainWindow::toneMappingPrepareFinished()
{
    if (!prepareThread)
        return;
    prepareThread->quit();
    prepareThread->wait();
    const bool ready = prepareWorker->mapsReady() && !breakFlag.load();
    delete prepareWorker;
    prepareWorker = nullptr;
    delete prepareThread;
    prepareThread = nullptr;

    project->prepared = ready;
    if (ready) {
        project->layerExists[0] = 1;
        project->layerEnabled[0] = 1;
        // The base layer's tables follow its settings before the first pass.
        if (!project->layerSettings[0].precalculated)
            preparePresetTables(project, &project->layerSettings[0]);
        project->view.ready = false;
    }
    setControlsEnabled(true);
    workspace->busyIndicator()->hide();
    QApplication::restoreOverrideCursor();
    finishProgress();
    if (ready) {
        const bool hdrFile = !project->photos.isEmpty() && project->photos.first().isFloat;
        showImageInView(hdrFile ? project->photos.first().id : HDR_ITEM_ID, true);
        syncViewState(true);
        doToneMapping(nullptr, true, false, true);
        if (!startParams.autoProcess)
            invalidatePresets(true, false);
    } else {
        const QSignalBlocker block(rightTab);
        rightTab->setCurrentIndex(0);
        rightTabChanged(0);
    }
    breakFlag = false;
    emit toneMappingPrepared(ready);
}

// ---------------------------------------------------------------------------
// the processing tabs

void mainWindow::selectCurrentImageAfterReturn()
{
    if (project->hdrState.hdrPresent && project->hdrImage.levelCount > 0) {
        showImageInView(HDR_ITEM_ID, true);
        return;
    }
    for (imageItem *row : imageItems)
        if (reinterpret_cast<QObject *>(row)->property("imageItemSelected").toBool()) {
            showImageInView(reinterpret_cast<QObject *>(row)->property("id").toInt(), true);
            return;
        }
    if (!project->photos.isEmpty())
        showImageInView(project->photos.first().id, true);
}

void mainWindow::rightTabChanged(int n)
{
    static const char *names[3] = {QT_TR_NOOP("Generate HDR"), QT_TR_NOOP("Tone mapping"),
                                   QT_TR_NOOP("Postprocessing")};
    for (int i = 0; i < rightTab->count() && i < 3; ++i)
        rightTab->setTabText(i, i == n ? QString("   %1: %2   ").arg(i + 1).arg(tr(names[i]))
                                       : QString("   %1   ").arg(i + 1));
    if (!workspace) {
        previousRightTab = n;
        setControlsEnabled(uiEnabled);
        return;
    }
    const int previous = previousRightTab;
    bool handled = false;
    if (project->prepared && n != previous) {
        if ((n == 0 || n == 1) && preparedForPostProcessing) {
            if (styledMessageBox::show(this, styledMessageBox::Confirmation,
                                       tr("Returning to previous step will reset the already applied filtering. "
                                          "Do you really want to return?"),
                                       styledMessageBox::Yes | styledMessageBox::No)
                != styledMessageBox::Yes) {
                const QSignalBlocker block(rightTab);
                rightTab->setCurrentIndex(previous);
                rightTabChanged(previous);
                return;
            }
            viewShowsResult = false;
            selectCurrentImageAfterReturn();
        } else if (n == 2) {
            if (styledMessageBox::show(this, styledMessageBox::Confirmation,
                                       tr("Before starting to work with the filters, the photo must be tone mapped "
                                          "at full resolution. Do you want to do it now?"),
                                       styledMessageBox::Yes | styledMessageBox::No)
                != styledMessageBox::Yes) {
                const QSignalBlocker block(rightTab);
                rightTab->setCurrentIndex(previous);
                rightTabChanged(previous);
                return;
            }
            // The pending preview pass must not write while the full size is computed.
            if (previewThread) {
                previewThread->wait();
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            }
            preparingPostProcessing = true;
            preparedForPostProcessing = false;
            workspace->showSpinner();
            postProcessing->preparePostProcessing();
            handled = true;
        }
    }
    if (!handled) {
        if (n == 0 && previous != 0)
            selectCurrentImageAfterReturn();
        if (n == 0) {
            setControlsEnabled(true);
            if (previous == 2 && preparedForPostProcessing)
                showBeforeSlot();
            preparedForPostProcessing = false;
            viewShowsResult = false;
        } else if (n == 1) {
            setControlsEnabled(true);
            preparedForPostProcessing = false;
            viewShowsResult = false;
            const bool hasHdr = project->hdrImage.levelCount > 0 && project->hdrImage.levels[0].data
                                && (project->hdrState.resultValid
                                    || (!project->photos.isEmpty() && project->photos.first().isFloat));
            // The tab asks for what is missing: the preparation of a merged
            // image, else the merge itself. When the preparation switches to
            // this tab on its own, nothing more is asked (the dialog would
            // open again over the image it has just handed over).
            if (!suppressTabPreparation && !project->prepared) {
                if (hasHdr) {
                    previousRightTab = n;
                    toneMappingPrepare();
                } else if (!project->photos.isEmpty() && !project->photos.first().isFloat) {
                    previousRightTab = n;
                    showGenerateHDR(false);
                }
            }
        } else {
            setControlsEnabled(true);
        }
    }
    previousRightTab = n;
    setControlsEnabled(uiEnabled);
    syncViewState(true);
}

void mainWindow::prepareForPostProcessingFinished(bool success)
{
    preparingPostProcessing = false;
    workspace->busyIndicator()->hide();
    preparedForPostProcessing = success;
    if (success) {
        showPostProcessingResult();
    } else {
        // Without the full-size result the filters have nothing to work on.
        const QSignalBlocker block(rightTab);
        rightTab->setCurrentIndex(1);
        rightTabChanged(1);
    }
    setControlsEnabled(true);
    if (pendingRequest.waiting && !toneMappingRunning.load()) {
        const toneMappingRequest_t p = pendingRequest;
        pendingRequest = toneMappingRequest_t();
        doToneMapping(p.fromCode ? nullptr : p.sender.data(), p.preset, p.visibility, p.all);
    }
}
