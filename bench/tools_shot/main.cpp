// A look at the tools around the main image view with a real bracket: the
// layers tool with three masked layers, the crop tool in crop mode, or the
// navigator beside a zoomed view. Loads, merges and tone-maps the photos as
// the program does, then shows one window for a screenshot.
// A developer tool (not part of the program).
//
//   tools_shot [--mode layers|crop|navigator] [--size WxH] [--grab OUT.png] PHOTO...

#include "app/programOptionsSettings.h"
#include "hdr/generateHDRworker.h"
#include "project/curveMaths.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "project/toneMappingTables.h"
#include "views/cropTool.h"
#include "views/layerItem.h"
#include "views/layersTool.h"
#include "views/mainWorkspace.h"
#include "views/navigator.h"
#include "widgets/slider.h"
#include "widgets/styleSheet.h"
#include "widgets/widgetSupport.h"
#include "widgets/zoomWidget.h"

#include "shotSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

// Layer l's mask: a soft band (horizontal, vertical or radial by kind).
void paintMask(processingProject &project, int l, int kind)
{
    pyramid &m = project.layerMasks[l];
    const int w = m.levels[0].width, h = m.levels[0].height;
    uint8_t *d = static_cast<uint8_t *>(m.levels[0].data);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = 0;
            if (kind == 0)
                v = 1.0 - double(y) / h * 2.0;                          // sky: top half
            else if (kind == 1)
                v = double(x) / w * 2.0 - 1.0;                          // right half
            else
                v = 1.0 - std::hypot(x - w * 0.3, y - h * 0.7) / (0.25 * w); // a spot
            d[size_t(y) * w + x] = uint8_t(std::max(0.0, std::min(1.0, v)) * 255);
        }
    m.levels[0].valid = true;
    m.buildLevelsFrom(0);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    initWidgetResources();
    shotArgs a;
    a.mode = "layers";
    if (!parseShotArgs(app.arguments(), "tools_shot [--mode layers|crop|navigator] [--size WxH] [--grab OUT.png] PHOTO...", a))
        return 2;
    QString mode = a.mode, grab = a.grab;
    QSize size = a.size;
    QStringList files = a.files;
    QTemporaryDir scratch(QDir::tempPath() + "/tools_shot-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
    options.colorManagement.enabled = false;
    options.performance.liveAntiAliasing = true;
    options.misc.backgroundColor = 2;
    options.misc.showCropGuidelines = true;
    options.misc.maskPaintingIntelligent = true;
    options.misc.maskPaintingIntelligentThreshold = 4;
    optionsInstance = &options;
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QCoreApplication::applicationDirPath())));

    int status = 0;
    {
        processingProject project(nullptr);
        pyramid before;
        if (!loadAndMerge(project, files, before)) {
            std::printf("merge failed\n");
            return 1;
        }
        processingParams_t &base = project.layerSettings[0];
        base.gamma = 1.4;
        base.lcEnabled = true;
        base.lcStrength = 0.6;
        base.lcRange = 0.5;
        prepareLayer(project, 0);
        project.prepared = true;
        project.layerExists[0] = project.layerEnabled[0] = 1;

        QWidget window;
        window.setWindowTitle("tools_shot");
        auto *layout = new QVBoxLayout(&window);
        auto *middle = new QHBoxLayout;
        layout->addLayout(middle, 1);
        zoomWidget zoom(QStringLiteral("Zoom"), false);
        auto *workspace = new mainWorkspace(&project);
        workspace->setZoomWidget(&zoom);
        QObject::connect(&zoom, &zoomWidget::zoomChanged, workspace, &mainWorkspace::setScale);
        navigator *nav = nullptr;
        if (mode == "navigator") {
            nav = new navigator;
            nav->setFixedWidth(260);
            middle->addWidget(nav);
            QObject::connect(nav, &navigator::viewportSet, workspace, [workspace](QRect r) { workspace->setViewport(r); });
            QObject::connect(workspace, &mainWorkspace::viewportChanged, nav, &navigator::setRect);
        }
        middle->addWidget(workspace, 1);
        window.resize(size);
        window.move(0, 0);
        window.show();
        QApplication::processEvents();
        workspace->setImage(before, QFileInfo(files[files.size() / 2]).fileName());
        mainImageArea *c = workspace->canvas();
        c->updatePixmap();
        c->viewState().toneMappedView = true;
        workspace->toneMappedView = true;
        workspace->setScale(mode == "navigator" ? 2.0 : workspace->fitScale(project.width, project.height) / 100.0);

        auto toneMapView = [&]() {
            workspace->redraw(true);
            for (int l = 0; l < LAYER_COUNT; ++l)
                if (project.layerExists[l] && project.layerEnabled[l])
                    project.doToneMapping(&project.layerSettings[l], nullptr, true, true);
            project.view.ready = true;
            workspace->redraw(false);
        };

        std::unique_ptr<layersTool> layers;
        std::unique_ptr<cropTool> crop;
        if (mode == "layers") {
            layers.reset(new layersTool(&project, workspace, &window));
            layout->addWidget(layers.get());
            QObject::connect(layers.get(), &layersTool::currentLayerChanged, workspace,
                             &mainWorkspace::currentLayerChangedSlot);
            layers->updateToolIcons();
            layers->paintModeToggle();
            layers->itemChanged(0, true);
            const double gammas[3] = {2.6, 0.8, 3.2};
            for (int k = 0; k < 3; ++k) {
                int id = -1;
                layers->addSlot(&id, false);
                if (id < 0)
                    return 1;
                project.layerSettings[id].gamma = gammas[k];
                prepareLayer(project, id);
                paintMask(project, id, k);
            }
            layers->row(2)->setLabelText(QStringLiteral("Right side"));
            layers->itemChanged(1, true);
            layers->updateThumbnails();
            layers->maskColorCombo()->setCurrentIndex(0); // red overlay
            c->updatePixmap();
            toneMapView();
            c->renderView(false, false, true);
        } else if (mode == "crop") {
            crop.reset(new cropTool(&project, workspace));
            layout->addWidget(crop.get());
            QObject::connect(crop.get(), &cropTool::sizeChanged, workspace,
                             [workspace](int w, int h) { workspace->setCropSize(w, h); });
            QObject::connect(crop.get(), &cropTool::paramsChanged, workspace,
                             [workspace](double a, double d, double x, double y) { workspace->setParams(a, d, x, y); });
            QObject::connect(workspace, &mainWorkspace::cropAreaChanged, crop.get(), &cropTool::setCropArea);
            // Crop mode transforms the picture on display: the full-size tone-mapped result.
            if (project.doToneMappingFull()) {
                project.outputImage.levels[0].valid = true;
                project.outputImage.buildLevelsFrom(0);
                workspace->setImage(project.outputImage, QFileInfo(files[files.size() / 2]).fileName());
                c->updatePixmap();
                workspace->setScale(workspace->fitScale(project.width, project.height) / 100.0);
            }
            c->viewState().toneMappedView = false;
            workspace->toneMappedView = false;
            c->viewState().cropMode = true;
            c->viewState().guidelines = true;
            crop->startCropping();
            crop->aspectCombo()->setCurrentText(QStringLiteral("3:2"));
            crop->widthBox()->setValue(project.width * 3 / 4);
            crop->angleBox()->setValue(2.5);
            crop->perspectiveXSlider()->setValue(0.05);
        } else {
            toneMapView();
            // The overview: the full-size tone-mapped result at its smallest pyramid level.
            if (!project.doToneMappingFull())
                return 1;
            project.outputImage.levels[0].valid = true;
            project.outputImage.buildLevelsFrom(0);
            int level = 0;
            while (level + 1 < project.outputImage.levelCount && project.outputImage.levels[level].width > 260)
                ++level;
            const pyramidLevel_t &small = project.outputImage.levels[level];
            std::vector<uint8_t> rgb(size_t(small.width) * small.height * 3);
            const quint16 *in = static_cast<const quint16 *>(small.data);
            for (size_t i = 0; i < rgb.size(); ++i)
                rgb[i] = uint8_t(in[i] >> 8);
            nav->setImage(rgb.data(), small.width, small.height, project.width);
            nav->setRect(workspace->imageRect());
        }
        c->repaint();

        if (!grab.isEmpty()) {
            QTimer::singleShot(400, [&]() {
                if (!window.grab().save(grab))
                    status = 1;
                app.quit();
            });
        }
        app.exec();
    }
    optionsInstance = nullptr;
    return status;
}
