// mainWindow: rotating, flipping and cropping the whole project on a worker
// thread (the window stays responsive and shows progress), the crop and layer
// modes of the image area, and the samples the image area takes for the
// panels (black and white level, white balance).

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "mainwindow/historyItem.h"
#include "mainwindow/transformWorker.h"
#include "panels/colorAdjustGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/sampleTargetBalanceGroup.h"
#include "project/colorMaths.h"
#include "project/imageTransform.h"
#include "project/processingProject.h"
#include "views/cropTool.h"
#include "views/layersTool.h"
#include "views/mainWorkspace.h"
#include "widgets/myQTabWidget.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QThread>
#include <cmath>

namespace {

constexpr int TRANSFORM_WAIT_POLLS = 50;
constexpr int PREVIEW_WAIT_POLLS = 30;
constexpr double WARP_THRESHOLD = 0.001;

} // namespace

int cropTransformMode(double angle, double distortion, double perspectiveX, double perspectiveY)
{
    for (double v : {angle, distortion, perspectiveX, perspectiveY})
        if (std::fabs(v) > WARP_THRESHOLD)
            return TRANSFORM_WARP;
    return TRANSFORM_CROP;
}

levelsSample_t levelsAfterSample(bool blackLevel, double luminance, double blackPoint, double whitePoint)
{
    const double minGap = 1e-5, maxBlack = 0.99999;
    levelsSample_t r{blackPoint, whitePoint};
    if (blackLevel) {
        r.black = std::min(luminance, maxBlack);
        if (r.black > r.white)
            r.white = r.black;
    } else {
        r.white = luminance;
        r.black = std::min(r.black, maxBlack);
        if (r.black > r.white)
            r.black = r.white;
    }
    if (r.white - r.black < minGap)
        r.black = r.white - minGap;
    return r;
}

void transformWorker::transformImage()
{
    const bool crop = mode == TRANSFORM_CROP || mode == TRANSFORM_WARP;
    const bool warp = mode == TRANSFORM_WARP;
    success = project->transformImage(mode, crop ? x1 : 0, crop ? y1 : 0, crop ? x2 : 0, crop ? y2 : 0,
                                      warp ? angle : 0.0, warp ? distortion : 0.0, warp ? perspectiveX : 0.0,
                                      warp ? perspectiveY : 0.0);
    emit finished();
}

bool mainWindow::waitForTransformWorker(int polls)
{
    for (int i = 0; i < polls && transformThread; ++i) {
        transformThread->wait(100);
        QCoreApplication::processEvents();
    }
    return transformThread == nullptr;
}

void mainWindow::transformImageSlot()
{
    QObject *origin = sender();
    int mode = -1;
    if (origin == rotateCcwAct)
        mode = TRANSFORM_ROTATE_CCW;
    else if (origin == rotateCwAct)
        mode = TRANSFORM_ROTATE_CW;
    else if (origin == rotate180Act)
        mode = TRANSFORM_ROTATE_180;
    else if (origin == flipHorizontalAct)
        mode = TRANSFORM_MIRROR_LR;
    else if (origin == flipVerticalAct)
        mode = TRANSFORM_MIRROR_TB;
    if (mode < 0)
        return;
    if (layersToolWidget)
        layersToolWidget->itemChanged(0, true);
    else if (project)
        project->currentLayer = 0;
    startTransform(mode, cropRect(), 0, 0, 0, 0);
}

void mainWindow::applyCropping(cropRect rect)
{
    double angle = 0, distortion = 0, px = 0, py = 0;
    if (cropToolWidget) {
        angle = cropToolWidget->angleBox()->value();
        distortion = cropToolWidget->distortionSlider()->value();
        px = cropToolWidget->perspectiveXSlider()->value();
        py = cropToolWidget->perspectiveYSlider()->value();
        cropToolWidget->hide();
    }
    cropMode = false;
    if (workspace) {
        workspace->canvas()->viewState().cropMode = false;
        workspace->setParams(0, 0, 0, 0, false);
    }
    startTransform(cropTransformMode(angle, distortion, px, py), rect, angle, distortion, px, py);
}

void mainWindow::startTransform(int mode, cropRect rect, double angle, double distortion, double perspectiveX,
                                double perspectiveY)
{
    if (!project || project->width <= 0 || project->height <= 0 || transformThread)
        return;
    // The image must not change under another worker: background work is
    // asked to stop and waited for (never cut off).
    abortBackgroundFlag = true;
    for (int i = 0; i < PREVIEW_WAIT_POLLS && toneMappingRunning.load(); ++i) {
        QThread::msleep(100);
        QCoreApplication::processEvents();
    }
    const bool previewBusy = toneMappingRunning.load();
    abortBackgroundFlag = false;
    if (previewBusy) {
        reportWindowMessage(styledMessageBox::Warning,
                            tr("The preview is still being rendered; please try the transformation again."));
        return;
    }

    debugLog("mainWindow::startTransform: mode %d\n", mode);
    lastTransformMode = mode;
    transformJob = new transformWorker(project);
    transformJob->mode = mode;
    transformJob->x1 = rect.left;
    transformJob->y1 = rect.top;
    transformJob->x2 = rect.right;
    transformJob->y2 = rect.bottom;
    transformJob->angle = angle;
    transformJob->distortion = distortion;
    transformJob->perspectiveX = perspectiveX;
    transformJob->perspectiveY = perspectiveY;
    transformThread = new QThread;
    transformJob->moveToThread(transformThread);

    setControlsEnabled(false);
    if (workspace) {
        // Nothing may render from the project's buffers while they change.
        workspace->redrawTimer().stop();
        workspace->setEnabled(false);
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
    startProgress(uint64_t(std::max(1, int(project->photos.size()) + 3)), false);

    connect(transformThread, &QThread::started, transformJob, &transformWorker::transformImage);
    connect(transformJob, &transformWorker::finished, this, &mainWindow::transformImageFinished,
            Qt::QueuedConnection);
    // The thread's event loop ends from the worker itself (quit is safe from
    // any thread), so the completion slot can wait for the thread.
    connect(transformJob, &transformWorker::finished, transformThread, &QThread::quit, Qt::DirectConnection);
    connect(transformThread, &QThread::finished, transformThread, &QObject::deleteLater);
    transformThread->start(QThread::InheritPriority);
}

void mainWindow::transformImageFinished()
{
    if (!transformJob)
        return;
    // The worker has emitted its last signal; wait for its thread to end so
    // that it can be deleted here.
    if (transformThread)
        transformThread->wait();
    const bool ok = transformJob->success.load();
    delete transformJob;
    transformJob = nullptr;
    transformThread = nullptr; // deleted by its finished() connection

    if (workspace)
        workspace->setEnabled(true);
    setControlsEnabled(true);
    QApplication::restoreOverrideCursor();
    finishProgress();

    if (!ok) {
        reportWindowMessage(styledMessageBox::Error,
                            tr("The image could not be transformed: there was not enough memory, or the temporary "
                               "files could not be written (is the disk full?). The image stays as it was."));
        emit transformFinished(false);
        return;
    }

    updateThumbnails();
    if (cropToolWidget && workspace)
        workspace->canvas()->viewState().aspect = cropToolWidget->getAspectRatio();
    for (int l = 0; l < LAYER_COUNT; ++l)
        if (project->layerExists[l])
            project->layerSettings[l].precalculated = false;
    invalidatePresets(false, false);
    if (rightTab && rightTab->currentIndex() == 0) {
        if (hdrItem && project->hdrState.resultValid)
            selectImageItem(HDR_ITEM_ID, false, true);
        else if (photoToDisplay >= 0)
            selectImageItem(photoToDisplay, false, true);
    }
    showImageSize();
    if (project->layersOn)
        regenerateLayersThumbs();
    rerenderAfterChange();
    emit transformFinished(true);
}

void mainWindow::setCropAngle(double angle)
{
    if (!cropToolWidget)
        return;
    const QSignalBlocker blocker(cropToolWidget->angleBox());
    cropToolWidget->angleBox()->setValue(angle);
}

void mainWindow::setDistortionValue(double value)
{
    if (!cropToolWidget)
        return;
    const QSignalBlocker blocker(cropToolWidget->distortionSlider());
    cropToolWidget->distortionSlider()->setValue(value);
}

void mainWindow::setPerspectiveValue(double valueX, double valueY)
{
    if (!cropToolWidget)
        return;
    const QSignalBlocker bx(cropToolWidget->perspectiveXSlider());
    const QSignalBlocker by(cropToolWidget->perspectiveYSlider());
    cropToolWidget->perspectiveXSlider()->setValue(valueX);
    cropToolWidget->perspectiveYSlider()->setValue(valueY);
}

void mainWindow::toggleCropMode()
{
    if (!project)
        return;
    cropMode = !cropMode;
    if (cropMode) {
        if (layersToolWidget)
            layersToolWidget->itemChanged(0, true);
        else
            project->currentLayer = 0;
        toggleSampleMode(0);
        if (cropToolWidget) {
            cropToolWidget->startCropping();
            cropToolWidget->show();
        }
        if (workspace) {
            mainImageArea *area = workspace->canvas();
            area->viewState().cropMode = true;
            workspace->setParams(0, 0, 0, 0, false);
            workspace->setCropSize(project->width, project->height, true);
            area->setCursor(Qt::OpenHandCursor);
        }
    } else {
        if (cropToolWidget)
            cropToolWidget->hide();
        if (workspace) {
            workspace->canvas()->viewState().cropMode = false;
            workspace->setParams(0, 0, 0, 0, true);
        }
    }
    setControlsEnabled(uiEnabled);
}

void mainWindow::toggleLayersMode()
{
    if (!project)
        return;
    if (layersToolWidget)
        layersToolWidget->itemChanged(0, true);
    else
        project->currentLayer = 0;
    project->layersOn = !project->layersOn;
    if (project->layersOn)
        regenerateLayersThumbs();
    for (int i = 0; i < historyList->count(); ++i)
        if (historyItem *row = historyRow(i))
            row->setEnabled(project->layersOn || row->layer() == 0);
    setControlsEnabled(uiEnabled);
    const int before = historyList->currentRow();
    skipDisabledHistoryItems();
    if (historyList->currentRow() != before)
        applyHistory();
    else
        rerenderAfterChange();
    if (layersToolWidget)
        layersToolWidget->setVisible(project->layersOn && project->currentLayer != 0);
}

void mainWindow::releaseSampleButtons(int keepMode)
{
    if (histogramPanel && keepMode != 1 && keepMode != 2)
        histogramPanel->editor()->uncheckSampleButtons();
    if (colorAdjustPanel && keepMode != 3) {
        const QSignalBlocker block(colorAdjustPanel->eyedropper);
        colorAdjustPanel->eyedropper->setChecked(false);
    }
    if (sampleTargetBalancePanel)
        for (int r = 0; r < sampleTargetBalanceGroup::RANGE_COUNT; ++r)
            if (keepMode != 4 + r) {
                QPushButton *b = sampleTargetBalancePanel->eyedropper[r];
                const QSignalBlocker block(b);
                b->setChecked(false);
            }
}

void mainWindow::toggleSampleMode(int mode)
{
    if (mode < 0 || mode > 6)
        mode = 0;
    sampleMode = mode;
    if (workspace)
        workspace->setSampleMode(mode);
    // One eyedropper at a time: the one that chose this mode stays pressed.
    releaseSampleButtons(mode);
}

void mainWindow::toggleSampleMode()
{
    toggleSampleMode(0);
}

void mainWindow::sampleTakenSlot(int mode, int extra, rgbDouble_t sampleValue)
{
    debugLog("Sample taken, mode=%d, src=%d, value = %lf %lf %lf %lf\n", mode, extra, sampleValue.r, sampleValue.g,
             sampleValue.b, sampleValue.lum);
    if (!project)
        return;
    const int layer = project->currentLayer;
    processingParams_t &settings = project->layerSettings[layer];
    switch (mode) {
    case 1:
    case 2: {
        const levelsSample_t r =
            levelsAfterSample(mode == 1, sampleValue.lum, settings.blackPointValue, settings.whitePointValue);
        settings.blackPointValue = r.black;
        settings.whitePointValue = r.white;
        settings.precalculated = false;
        emit layerSettingsRestored(layer);
        doAddToHistory(mode == 1 ? tr("Black level sample taken") : tr("White level sample taken"));
        rerenderAfterChange();
        break;
    }
    case 3: {
        double temperature = 1.0, tint = 1.0;
        estimateTemperatureTint(sampleValue, temperature, tint);
        settings.temperature = temperature;
        settings.tint = tint;
        settings.precalculated = false;
        emit layerSettingsRestored(layer);
        doAddToHistory(tr("White balance sample taken"));
        rerenderAfterChange();
        // Presets that keep this panel's values show the new balance.
        if (colorAdjustPanel && colorAdjustPanel->isLocked())
            invalidatePresets(true);
        break;
    }
    case 4:
    case 5:
    case 6:
        // The shadows, midtones or highlights sample of the sample/target panel.
        if (sampleTargetBalancePanel)
            sampleTargetBalancePanel->takeSample(mode, sampleValue);
        break;
    default:
        break;
    }
    toggleSampleMode(0);
}
