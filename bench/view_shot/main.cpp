// A look at the main image view with a real bracket: loads the photos, merges
// and tone-maps them as the program does, then shows the view in a window.
// A developer tool (not part of the program): run it under a virtual screen
// and take a screenshot, or let it grab its own window.
//
//   view_shot [--mode fit|100|split|mask|composite|crop] [--size WxH] [--grab OUT.png] PHOTO...
//
// fit, 100: the tone-mapped view at the fit zoom or at 100 %.
// split:    before (the middle exposure) and after side by side, split mode 1.
// mask:     layer 1 (brighter settings) with a painted mask, red overlay.
// composite: the same mask, no overlay: layer 1 shows where it is painted.
// crop:     crop mode with a centred rectangle, guidelines and a 3-degree rotation.

#include "app/programOptionsSettings.h"
#include "hdr/generateHDRworker.h"
#include "project/curveMaths.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "project/toneMappingTables.h"
#include "views/mainWorkspace.h"
#include "widgets/zoomWidget.h"

#include "shotSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    shotArgs a;
    a.mode = "fit";
    if (!parseShotArgs(app.arguments(), "view_shot [--mode fit|100|split|mask|composite|crop] [--size WxH] [--grab OUT.png] PHOTO...", a))
        return 2;
    QString mode = a.mode, grab = a.grab;
    QSize size = a.size;
    QStringList files = a.files;
    QTemporaryDir scratch(QDir::tempPath() + "/view_shot-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
    options.colorManagement.enabled = false;
    options.performance.liveAntiAliasing = true;
    options.misc.backgroundColor = 2;
    optionsInstance = &options;

    int status = 0;
    {
        processingProject project(nullptr);
        pyramid before;
        if (!loadAndMerge(project, files, before)) {
            std::printf("merge failed\n");
            return 1;
        }
        // A readable look for the base layer and a brighter one for layer 1.
        processingParams_t &base = project.layerSettings[0];
        base.gamma = 1.4;
        base.lcEnabled = true;
        base.lcStrength = 0.6;
        base.lcRange = 0.5;
        prepareLayer(project, 0);
        const bool masked = mode == "mask" || mode == "composite";
        if (masked) {
            project.layerExists[1] = project.layerEnabled[1] = 1;
            processingParams_t &upper = project.layerSettings[1]; // keeps its own tables
            upper.gamma = 3.0;
            upper.lcEnabled = true;
            upper.lcStrength = 0.6;
            upper.lcRange = 0.5;
            project.layerMasks[1].makePyramid(project.width, project.height, before.levelCount, 1, 1, true);
            prepareLayer(project, 1);
        }
        project.prepared = true;

        zoomWidget zoom(QStringLiteral("Zoom"), false);
        mainWorkspace workspace(&project);
        workspace.setZoomWidget(&zoom);
        QObject::connect(&zoom, &zoomWidget::zoomChanged, &workspace, &mainWorkspace::setScale);
        workspace.setWindowTitle("view_shot");
        workspace.resize(size);
        workspace.move(0, 0);
        workspace.show();
        QApplication::processEvents();
        workspace.setImage(before, QFileInfo(files[files.size() / 2]).fileName());
        mainImageArea *c = workspace.canvas();
        c->updatePixmap();
        c->viewState().toneMappedView = true;
        workspace.toneMappedView = true;
        if (mode == "100")
            workspace.setScale(1.0);
        else
            workspace.setScale(workspace.fitScale(project.width, project.height) / 100.0);
        if (mode == "split")
            c->viewState().splitMode = 1;
        if (mode == "crop") {
            // Crop mode: a centred rectangle of two thirds, guidelines on, a small rotation.
            c->viewState().cropMode = true;
            c->viewState().guidelines = true;
            workspace.setCropSize(project.width * 2 / 3, project.height * 2 / 3, false);
            workspace.setParams(3.0, 0.0, 0.0, 0.0, false);
        }

        auto toneMapView = [&]() {
            workspace.redraw(true);
            for (int l = 0; l < LAYER_COUNT; ++l)
                if (project.layerEnabled[l])
                    project.doToneMapping(&project.layerSettings[l], nullptr, true, true);
            project.view.ready = true;
            workspace.redraw(false);
        };
        toneMapView();

        if (masked) {
            c->viewState().currentLayer = 1;
            workspace.setPaintMode(true, true);
            c->painter().selectBrush(0, 1.0);
            c->painter().overlayColor = mode == "mask" ? 1 : 0;
            // A wavy stroke across the lower half of the picture.
            const QPoint start(c->width() / 2 - 200, c->height() * 2 / 3);
            sendMouse(c, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
            for (int k = 1; k <= 60; ++k) {
                const QPoint p(start.x() + k * 400 / 60,
                               start.y() + int(40 * std::sin(k / 6.0)));
                sendMouse(c, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
            }
            sendMouse(c, QEvent::MouseButtonRelease, QPoint(start.x() + 400, start.y()), Qt::LeftButton,
                      Qt::NoButton);
            project.view.ready = true;
            toneMapView();
            c->renderView();
        }
        c->repaint();

        if (!grab.isEmpty()) {
            QTimer::singleShot(300, [&]() {
                if (!workspace.grab().save(grab))
                    status = 1;
                app.quit();
            });
        }
        app.exec();
    }
    optionsInstance = nullptr;
    return status;
}
