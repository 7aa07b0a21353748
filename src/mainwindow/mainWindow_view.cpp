// mainWindow: the central image view with the layers and crop tools under it,
// the navigator, the panels of the "Tone mapping" and "Postprocessing" tabs
// and their connections; what the view shows (photo, HDR image, tone-mapped
// preview, full-size result) and the before/after split view.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/filterGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/postProcessingControl.h"
#include "panels/sampleTargetBalanceGroup.h"
#include "panels/selectiveCurveTool.h"
#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "project/processingProject.h"
#include "views/cropTool.h"
#include "views/layersTool.h"
#include "views/mainWorkspace.h"
#include "views/navigator.h"
#include "widgets/myQTabWidget.h"
#include "widgets/zoomWidget.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QVBoxLayout>

namespace {

// The split mode a mode action stands for: its place in the group's order.
int splitModeOf(QAction *action, QAction *const acts[5])
{
    for (int i = 0; i < 5; ++i)
        if (acts[i] == action)
            return i;
    return -1;
}

} // namespace

void mainWindow::buildViews()
{
    // Central area: the image view, then the layers tool and the crop tool
    // (both shown only in their modes).
    workspace = new mainWorkspace(project, centralWidget());
    workspace->setObjectName("mainWorkspace");
    workspace->setZoomWidget(zoom);
    centralSlot->addWidget(workspace, 1);
    layersToolWidget = new layersTool(project, workspace, this);
    layersToolWidget->setObjectName("layersTool");
    layersToolWidget->updateToolIcons();
    layersToolWidget->paintModeToggle();
    layersToolWidget->hide();
    centralSlot->addWidget(layersToolWidget);
    cropToolWidget = new cropTool(project, workspace, centralWidget());
    cropToolWidget->setObjectName("cropTool");
    cropToolWidget->hide();
    centralSlot->addWidget(cropToolWidget);

    navigatorWidget = new navigator;
    navigatorWidget->setObjectName("navigator");
    navigatorSlot->addWidget(navigatorWidget);
    navigatorSlot->addStretch(1);

    toneCurvePanel = new toneCurveGroup(project, tr("Tone curve"));
    histogramPanel = new histogramGroup(project, tr("Histogram, black && white point"));
    toneMappingPanel = new tonemappingGroup(project, tr("Tone mapping"));
    colorSaturationPanel = new colorSaturationGroup(project, tr("Color saturation"));
    colorAdjustPanel = new colorAdjustGroup(project, tr("Color adjustment"));
    vignettePanel = new vignetteGroup(project, tr("Vignette"));
    for (toolBox *panel : toneMappingPanels())
        toneMappingSlot->addWidget(panel);

    gaussianBlurPanel = new gaussianBlurGroup(tr("Gaussian blur"));
    sharpenPanel = new sharpenGroup(tr("Unsharp mask"));
    medianFilterPanel = new medianFilterGroup(tr("Median filter"));
    bilateralFilterPanel = new bilateralFilterGroup(tr("Bilateral filter"));
    sampleTargetBalancePanel = new sampleTargetBalanceGroup(tr("Sample/target balance"));
    postProcessing = new postProcessingControl(project, this);
    for (toolBox *panel : postProcessingPanels()) {
        postProcessingSlot->addWidget(panel);
        postProcessing->addPanel(static_cast<filterGroup *>(panel));
    }

    // Every panel copies its controls into the base layer's record once, so
    // that record, tables and panels agree from the start.
    toneMappingPanel->update(true);
    colorSaturationPanel->update(true);
    colorAdjustPanel->update(true);
    vignettePanel->update(true);
    histogramPanel->update(true);
    toneCurvePanel->getCurveData(-1, true);
    // The panels made their control connections themselves; connecting them
    // again would announce every change twice (two passes, two history rows).

    connectPanels();
    syncViewState(false);
}

// The views free the project's view buffers when they go: they go first.
void mainWindow::destroyViews()
{
    delete layersToolWidget;
    layersToolWidget = nullptr;
    delete cropToolWidget;
    cropToolWidget = nullptr;
    delete workspace;
    workspace = nullptr;
    viewPhoto.reset();
}

QList<toolBox *> mainWindow::toneMappingPanels() const
{
    return {toneCurvePanel, histogramPanel, toneMappingPanel, colorSaturationPanel, colorAdjustPanel, vignettePanel};
}

QList<toolBox *> mainWindow::postProcessingPanels() const
{
    return {gaussianBlurPanel, sharpenPanel, medianFilterPanel, bilateralFilterPanel, sampleTargetBalancePanel};
}

void mainWindow::connectPanels()
{
    // View, zoom and tools.
    connect(workspace, &mainWorkspace::wheelChanged, zoom, &zoomWidget::incDecZoom);
    connect(zoom, &zoomWidget::zoomChanged, workspace, &mainWorkspace::setScale);
    connect(workspace, &mainWorkspace::imagesDropped, this, &mainWindow::addDroppedImages);
    connect(workspace, &mainWorkspace::clickedEmpty, this, [this] { addImages(); });
    connect(rightTab, &myQTabWidget::mouseHover, workspace, &mainWorkspace::showLayerMasks);
    connect(leftTab, &myQTabWidget::mouseHover, workspace, &mainWorkspace::showLayerMasks);
    connect(layersToolWidget, &layersTool::currentLayerChanged, workspace, &mainWorkspace::currentLayerChangedSlot);
    connect(layersToolWidget, &layersTool::toneMappingRequested, this,
            [this] { doToneMapping(layersToolWidget); });
    connect(layersToolWidget, &layersTool::controlsRefreshRequested, this, [this] { setControlsEnabled(uiEnabled); });
    connect(cropToolWidget, &cropTool::sizeChanged, workspace,
            [this](int w, int h) { workspace->setCropSize(w, h); });
    connect(cropToolWidget, &cropTool::paramsChanged, workspace,
            [this](double a, double d, double x, double y) { workspace->setParams(a, d, x, y); });
    connect(workspace, &mainWorkspace::cropAreaChanged, cropToolWidget, &cropTool::setCropArea);

    // Navigator.
    connect(workspace, &mainWorkspace::viewportChanged, navigatorWidget, &navigator::setRect);
    connect(navigatorWidget, &navigator::viewportSet, workspace, [this](QRect r) { workspace->setViewport(r); });
    connect(navigatorWidget, &navigator::wheelMoved, workspace, &mainWorkspace::wheelMoved);
    connect(workspace, &mainWorkspace::wheelMoved, workspace, &mainWorkspace::moveWheel);

    // Tone-mapping tab: every change asks for a preview pass.
    connect(toneMappingPanel, &tonemappingGroup::paramsChanged, this, [this](QObject *s) { doToneMapping(s); });
    connect(colorSaturationPanel, &colorSaturationGroup::paramsChanged, this, [this](QObject *s) { doToneMapping(s); });
    connect(colorAdjustPanel, &colorAdjustGroup::paramsChanged, this, [this](QObject *s) { doToneMapping(s); });
    connect(vignettePanel, &vignetteGroup::paramsChanged, this, [this](QObject *s) { doToneMapping(s); });
    connect(toneCurvePanel, &toneCurveGroup::curvesModified, this, [this](QObject *s) { doToneMapping(s); });
    connect(histogramPanel, &histogramGroup::histogramPointsMoved, this, [this](QObject *s) { doToneMapping(s); });
    for (toolBox *panel : {static_cast<toolBox *>(colorSaturationPanel), static_cast<toolBox *>(colorAdjustPanel),
                           static_cast<toolBox *>(vignettePanel)})
        connect(panel, &toolBox::visibilityToggled, this, [this](QObject *s) { doToneMappingVisibility(s); });
    connect(histogramPanel, &histogramGroup::histogramPointsMovedWithData, toneCurvePanel->editor(),
            &toneCurveTool::setWBpoints);
    connect(project, &processingProject::disableAutoClipping, histogramPanel->editor(),
            [this] { histogramPanel->editor()->lockClicked(); });
    connect(toneMappingPanel->localContrast, &QCheckBox::stateChanged, this, &mainWindow::setToneMappingControlsEnabled);
    connect(toneMappingPanel->mask, &QCheckBox::stateChanged, this, &mainWindow::setToneMappingControlsEnabled);
    connect(workspace, &mainWorkspace::mouseMoved, this, [this](bool inImg, rgbDouble_t v, rgbDouble_t) {
        toneCurvePanel->editor()->setSampleValue(inImg, v);
        histogramPanel->editor()->setSampleValue(inImg, v);
        colorSaturationPanel->hueSelective->setSampleValue(inImg, v);
        colorSaturationPanel->brightnessSelective->setSampleValue(inImg, v);
    });

    // Postprocessing tab.
    connect(postProcessing, &postProcessingControl::windowLocked, this, [this](bool locked) {
        setControlsEnabled(!locked);
    });
    connect(postProcessing, &postProcessingControl::progressStarted, this,
            [this](qint64 total, QString) { startProgress(uint64_t(std::max<qint64>(1, total)), false); });
    connect(postProcessing, &postProcessingControl::progressFinished, this, &mainWindow::finishProgress);
    connect(postProcessing, &postProcessingControl::imageChanged, this, [this] {
        if (!preparingPostProcessing)
            showPostProcessingResult();
    });
    connect(postProcessing, &postProcessingControl::finished, this, [this](bool success) {
        if (preparingPostProcessing)
            prepareForPostProcessingFinished(success);
    });
}

bool mainWindow::hasImageToToneMap() const
{
    return project && project->prepared && project->hdrImage.levelCount > 0 && project->hdrImage.levels[0].data
           && project->layerExists[0];
}

void mainWindow::showImageInView(int id, bool force)
{
    if (!workspace || !project)
        return;
    if (!force && id == viewImageId && !viewShowsResult)
        return;
    const int idx = id == HDR_ITEM_ID ? -1 : project->getImageInfoIdx(id);
    const bool hdr = id == HDR_ITEM_ID || (idx >= 0 && project->photos[idx].isFloat);
    const bool hadImage = workspace->canvas()->hasImage();
    viewShowsResult = false;
    if (hdr) {
        if (project->hdrImage.levelCount <= 0 || !project->hdrImage.levels[0].data) {
            workspace->clearImage();
            viewImageId = -1;
            return;
        }
        viewPhoto.reset();
        workspace->setImage(project->hdrImage, "HDR");
    } else if (idx >= 0) {
        // Nobody looks at the window of an automatic run: a photo's
        // full-size picture (read back from the session and reduced level
        // by level) would only cost time.
        if (startParams.autoProcess)
            return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        auto picture = std::make_unique<pyramid>();
        const int levels = std::min(fullPyramidLevels(project->width, project->height, 1.0), PYRAMID_MAX_LEVELS);
        photoInfo_t &photo = project->photos[idx];
        const int tasks = project->taskCount();
        bool read = picture->makePyramid(project->width, project->height, levels, 2, 3, true);
        if (read) {
            // The full-size level is the session file itself, mapped: its
            // pages are in the cache since the loader wrote them, where a
            // copy would take as much new memory again. Session files are
            // replaced, never rewritten in place, so the mapping stays valid.
            // The smaller levels are built from the file's rows read in
            // strips, so the mapping's pages are only touched where the view
            // shows level 0.
            const QTemporaryFile *file = photo.tempFiles[0];
            const bool mapped = file && picture->mapLevel0(file->handle());
            read = mapped || project->readFromTempFile(photo, 0, *picture);
            if (read) {
                picture->levels[0].valid = true;
                if (!mapped || !picture->buildLevelsFromFile(file->handle(), tasks))
                    picture->buildLevelsFrom(0, tasks);
            }
        }
        QApplication::restoreOverrideCursor();
        if (!read) {
            debugLog("%s: cannot read the photo %d for the view\n", "mainWindow::showImageInView", id);
            return;
        }
        // The view describes the new pyramid before the old one goes.
        workspace->setImage(*picture, QFileInfo(photo.filePath).fileName());
        viewPhoto = std::move(picture);
    } else {
        return;
    }
    viewImageId = id;
    if (!hadImage && zoom) {
        // A first picture is fitted to the view.
        zoom->setScaleValue(workspace->fitScale(project->width, project->height));
        zoom->setFit();
    }
    syncViewState(true);
}

void mainWindow::clearView()
{
    if (!workspace)
        return;
    workspace->clearImage();
    viewPhoto.reset();
    viewImageId = -1;
    viewShowsResult = false;
    preparedForPostProcessing = false;
    for (bool &t : layerTouched)
        t = false;
    navigatorWidget->setImage(nullptr, 0, 0, 0);
    navigatorWidget->setRect(QRect());
    syncViewState(true);
}

void mainWindow::showPostProcessingResult()
{
    if (!workspace || !project || project->outputImage.levelCount <= 0 || !project->outputImage.levels[0].data)
        return;
    project->outputImage.levels[0].valid = true;
    project->outputImage.buildLevelsFrom(0, project->taskCount());
    workspace->setImage(project->outputImage, tr("Result"));
    viewShowsResult = true;
    syncViewState(true);
    // The navigator shows the result and where the view is.
    const pyramid &out = project->outputImage;
    int level = 0;
    while (level + 1 < out.levelCount && out.levels[level + 1].data && out.levels[level].width > 300)
        ++level;
    const pyramidLevel_t &small = out.levels[level];
    if (small.data && small.width > 0 && small.height > 0) {
        std::vector<uint8_t> rgb(size_t(small.width) * size_t(small.height) * 3);
        const quint16 *in = static_cast<const quint16 *>(small.data);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = uint8_t(in[i] >> 8);
        navigatorWidget->setImage(rgb.data(), small.width, small.height, project->width);
    }
    navigatorWidget->setRect(workspace->imageRect());
}

// The view's state follows the window's: the tone-mapped preview on the
// "Tone mapping" tab once the image is prepared (unless a photo "before" is
// asked for), the source picture otherwise, the split mode of the actions.
void mainWindow::syncViewState(bool render)
{
    if (!workspace)
        return;
    mainViewState_t &v = workspace->canvas()->viewState();
    const int tab = rightTab ? rightTab->currentIndex() : 0;
    const bool toneMapped = tab == 1 && hasImageToToneMap() && !viewShowsResult;
    const bool source = showingBefore && toneMapped;
    const int split = toneMapped && !showingBefore ? splitMode() : 0;
    const bool changed = v.toneMappedView != toneMapped || v.showSource != source || v.splitMode != split
                         || v.currentLayer != project->currentLayer;
    v.toneMappedView = toneMapped;
    workspace->toneMappedView = toneMapped;
    v.showSource = source;
    v.splitMode = split;
    v.currentLayer = project->currentLayer;
    v.showHint = !workspace->canvas()->hasImage();
    if (render || changed) {
        if (toneMapped && !project->view.ready) {
            // The window buffers must match the view before a pass reads them.
            workspace->canvas()->renderView(false, false, true);
            if (!toneMappingRunning.load())
                for (int l = 0; l < LAYER_COUNT; ++l)
                    if (project->layerExists[l] && project->layerEnabled[l] && project->layerSettings[l].precalculated)
                        project->doToneMapping(&project->layerSettings[l], nullptr, true, false);
        }
        workspace->redraw(false);
    }
}

void mainWindow::applyViewControlStates(const controlStates_t &c)
{
    if (!workspace)
        return;
    const bool layersShown = c.layersToolVisible && project->layersOn;
    layersToolWidget->setVisible(layersShown);
    layersToolWidget->setEnabled(c.layersToolEnabled);
    layersToolWidget->setToneMappingTabCurrent(rightTab->currentIndex() == 1);
    cropToolWidget->setEnabled(c.cropToolEnabled);
    workspace->setPaintMode(project->layersOn, c.maskPainting);
    vignettePanel->setEnabled(c.vignettePanel);
    syncViewState(false);
}

int mainWindow::splitMode() const
{
    for (int i = 0; i < 5; ++i)
        if (splitModeActs[i] && splitModeActs[i]->isChecked())
            return i;
    return 0;
}

void mainWindow::splitViewModeChange()
{
    QAction *origin = qobject_cast<QAction *>(sender());
    // The actions are checked once while the window is being built.
    if (!workspace)
        return;
    if (origin == splitAct || !origin) {
        // The tool-bar button turns the split off, or back on in the last mode.
        if (splitModeActs[0]->isChecked()) {
            int last = optionsInstance ? optionsInstance->misc.splitViewMode : 1;
            if (last < 1 || last > 4)
                last = 1;
            splitModeActs[last]->setChecked(true);
        } else {
            splitModeActs[0]->setChecked(true);
        }
        splitAct->setChecked(!splitModeActs[0]->isChecked());
        return;
    }
    const int mode = splitModeOf(origin, splitModeActs);
    if (mode < 0 || !origin->isChecked())
        return;
    if (mode > 0 && optionsInstance)
        optionsInstance->misc.splitViewMode = mode;
    {
        const QSignalBlocker block(splitAct);
        splitAct->setChecked(mode != 0);
    }
    showingBefore = false;
    setControlsEnabled(true);
    if (workspace) {
        workspace->canvas()->viewState().splitMode = mode;
        syncViewState(true);
    }
}

void mainWindow::leftTabChanged(int n)
{
    // The navigator gets a fresh picture.
    if (n == 2)
        doToneMapping(nullptr, false, false, true);
}
