#ifndef VIEWTESTHOST_H
#define VIEWTESTHOST_H

// A small stand-in for the main window around the main image view: it owns
// the settings record, a project with a synthetic picture, the zoom control
// and the workspace, and wires them the way the window does (zoom control
// <-> workspace, the view's signals recorded).

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "views/mainWorkspace.h"
#include "widgets/zoomWidget.h"

#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <memory>

// One project for the whole test program: building it (session folder, lens
// database) costs seconds; each host cleans it up before and after use.
processingProject *sharedProject();

class viewTestHost
{
public:
    explicit viewTestHost(int viewW = 400, int viewH = 300)
    {
        scratch = testSupport::freshDir();
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = scratch;
        options->colorManagement.enabled = false;
        options->devicePixelRatio = 1.0;
        options->performance.coreCount = 0;
        options->misc.backgroundColor = 2;
        saved = optionsInstance;
        optionsInstance = options.get();
        project = sharedProject();
        project->cleanup();
        project->prepared = false;
        project->batchRunning = false;
        zoom.reset(new zoomWidget(QStringLiteral("Zoom"), false));
        workspace.reset(new mainWorkspace(project));
        workspace->setZoomWidget(zoom.get());
        QObject::connect(zoom.get(), &zoomWidget::zoomChanged, workspace.get(), &mainWorkspace::setScale);
        QObject::connect(workspace.get(), &mainWorkspace::wheelChanged, zoom.get(), &zoomWidget::incDecZoom);
        workspace->resize(viewW, viewH);
        workspace->show();
        (void)QTest::qWaitForWindowExposed(workspace.get());
        canvas()->repaint();
    }
    ~viewTestHost()
    {
        workspace.reset();
        zoom.reset();
        project->cleanup();
        optionsInstance = saved;
    }

    mainImageArea *canvas() { return workspace->canvas(); }
    mainViewState_t &state() { return canvas()->viewState(); }

    // A w x h 16-bit picture: red rises to the right, green downwards, blue
    // constant; the float image holds the same values / 65535.
    void loadPicture(int w, int h)
    {
        project->width = w;
        project->height = h;
        ASSERT_TRUE(project->allocatePyramids());
        quint16 *rgb = static_cast<quint16 *>(project->outputImage.levels[0].data);
        float *f = static_cast<float *>(project->hdrImage.levels[0].data);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t k = (size_t(y) * w + x) * 3;
                rgb[k] = quint16(x * 65535 / std::max(1, w - 1));
                rgb[k + 1] = quint16(y * 65535 / std::max(1, h - 1));
                rgb[k + 2] = 0x8000;
                for (int c = 0; c < 3; ++c)
                    f[k + c] = rgb[k + c] / 65535.0f;
            }
        project->outputImage.levels[0].valid = true;
        project->outputImage.buildLevelsFrom(0);
        project->hdrImage.levels[0].valid = true;
        project->hdrImage.buildLevelsFrom(0);
        project->layerExists[0] = project->layerEnabled[0] = 1;
        workspace->setImage(project->outputImage, QStringLiteral("picture.tif"));
        canvas()->updatePixmap();
    }

    // Layer l with an empty full-resolution mask.
    void addLayer(int l)
    {
        project->layerExists[l] = project->layerEnabled[l] = 1;
        ASSERT_TRUE(project->layerMasks[l].makePyramid(project->width, project->height,
                                                       project->hdrImage.levelCount, 1, 1, true));
        canvas()->updatePixmap(); // window buffers for the new layer
    }

    // Tone-mapped view whose base result is a flat colour (no real tone mapping).
    void fakeToneMapped(uint8_t r, uint8_t g, uint8_t b)
    {
        state().toneMappedView = true;
        workspace->toneMappedView = true;
        canvas()->renderView(false, false, true); // fill the window buffers
        previewWindow_t &v = project->view;
        for (int l = 0; l < LAYER_COUNT; ++l) {
            if (!v.layerOutput[l])
                continue;
            for (qint64 i = 0; i < qint64(v.width) * v.height; ++i) {
                v.layerOutput[l][i * 3] = l == 0 ? r : 255 - r;
                v.layerOutput[l][i * 3 + 1] = l == 0 ? g : 255 - g;
                v.layerOutput[l][i * 3 + 2] = l == 0 ? b : 255 - b;
            }
        }
        v.ready = true;
        canvas()->renderView();
    }

    QRgb pixelAt(int x, int y) { return canvas()->renderImage().pixel(x, y); }

    std::unique_ptr<programOptionsSettings> options;
    processingProject *project = nullptr;
    std::unique_ptr<zoomWidget> zoom;
    std::unique_ptr<mainWorkspace> workspace;
    programOptionsSettings *saved = nullptr;
    QString scratch;
};

#endif // VIEWTESTHOST_H
