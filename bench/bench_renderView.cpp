// Main image view speed: one redraw of a 1920 x 1080 canvas over a
// 24-megapixel picture at fit, 100 % and 200 %, and a brush stroke of 50
// stamps at 100 %, each with 1 and with 8 tasks.
//
//   ./bench_renderView --benchmark_filter=Render
//
// Render/Source: the source picture (16-bit pyramid), smooth sampling.
// Render/ToneMapped: the cached tone-mapped window (what a slider change shows).
// Render/Resample: the full-quality pass of the redraw timer (refills the float
// window and the four 16-bit maps from their pyramids), without the tone mapping.
// Stroke: the full-resolution and the view mask, 50 stamp positions of the
// largest brush (radius 56, spacing 9), then the interactive redraw.

#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "project/processingProject.h"
#include "views/mainWorkspace.h"
#include "views/maskPainter.h"

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr int PIC_W = 6000, PIC_H = 4000;
constexpr int VIEW_W = 1920, VIEW_H = 1080;

struct viewSetup_t {
    QTemporaryDir scratch;
    programOptionsSettings options;
    std::unique_ptr<processingProject> project;
    std::unique_ptr<mainWorkspace> workspace;
    bool ok = false;

    viewSetup_t()
    {
        options.scratchpad.pathCurrent = scratch.path();
        options.colorManagement.enabled = false;
        options.devicePixelRatio = 1.0;
        options.performance.liveAntiAliasing = true;
        optionsInstance = &options;
        project.reset(new processingProject(nullptr));
        project->width = PIC_W;
        project->height = PIC_H;
        if (!project->allocatePyramids())
            return;
        quint16 *rgb = static_cast<quint16 *>(project->outputImage.levels[0].data);
        float *hdr = static_cast<float *>(project->hdrImage.levels[0].data);
        for (int y = 0; y < PIC_H; ++y)
            for (int x = 0; x < PIC_W; ++x) {
                const size_t k = (size_t(y) * PIC_W + x) * 3;
                rgb[k] = quint16(x * 10);
                rgb[k + 1] = quint16(y * 15);
                rgb[k + 2] = quint16((x ^ y) * 7);
                for (int c = 0; c < 3; ++c)
                    hdr[k + c] = rgb[k + c] / 65535.0f;
            }
        for (pyramid *p : {&project->outputImage, &project->hdrImage}) {
            p->levels[0].valid = true;
            p->buildLevelsFrom(0);
        }
        for (pyramid &p : project->lcPyramids)
            p.buildLevelsFrom(0);
        project->layerExists[0] = project->layerEnabled[0] = 1;
        project->layerExists[1] = project->layerEnabled[1] = 1;
        if (!project->layerMasks[1].makePyramid(PIC_W, PIC_H, project->hdrImage.levelCount, 1, 1, true))
            return;
        workspace.reset(new mainWorkspace(project.get()));
        workspace->show();
        QApplication::processEvents();
        // Size the workspace so that the canvas is exactly 1920 x 1080.
        const QSize extra(workspace->verticalBar()->sizeHint().width(), workspace->horizontalBar()->sizeHint().height());
        workspace->resize(QSize(VIEW_W, VIEW_H) + extra);
        QApplication::processEvents();
        workspace->setImage(project->outputImage, QStringLiteral("bench"));
        workspace->canvas()->updatePixmap();
        ok = workspace->canvas()->deviceSize() == QSize(VIEW_W, VIEW_H);
    }
    ~viewSetup_t()
    {
        workspace.reset();
        project.reset();
        optionsInstance = nullptr;
    }
};

viewSetup_t *current = nullptr; // made in main, while the application lives

viewSetup_t &setup()
{
    return *current;
}

double zoomFor(int which)
{
    if (which == 0)
        return fitZoomPercent(PIC_W, PIC_H, VIEW_W, VIEW_H, 1.0) / 100.0;
    return which == 1 ? 1.0 : 2.0;
}

void prepare(benchmark::State &state, bool toneMapped)
{
    viewSetup_t &s = setup();
    if (!s.ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    s.options.performance.coreCount = int(state.range(1));
    s.workspace->setScale(zoomFor(int(state.range(0))));
    mainImageArea *c = s.workspace->canvas();
    c->viewState().toneMappedView = toneMapped;
    s.workspace->toneMappedView = toneMapped;
    if (toneMapped) {
        c->renderView(false, false, true);
        s.project->view.ready = true;
    }
}

void renderSource(benchmark::State &state)
{
    prepare(state, false);
    mainImageArea *c = setup().workspace->canvas();
    for (auto _ : state)
        c->renderView(false);
    state.SetLabel(QString("%1 tasks, zoom %2").arg(idealThreadCount(false)).arg(c->zoom()).toStdString());
}

void renderToneMapped(benchmark::State &state)
{
    prepare(state, true);
    mainImageArea *c = setup().workspace->canvas();
    for (auto _ : state)
        c->renderView(false);
    state.SetLabel(QString("%1 tasks").arg(idealThreadCount(false)).toStdString());
}

void renderOverlayOnly(benchmark::State &state)
{
    prepare(state, false);
    mainImageArea *c = setup().workspace->canvas();
    for (auto _ : state)
        c->renderView(false, true);
    state.SetLabel("compositing, overlays and pixmap only");
}

void renderResample(benchmark::State &state)
{
    prepare(state, true);
    mainImageArea *c = setup().workspace->canvas();
    for (auto _ : state)
        c->renderView(false, false, true);
    state.SetLabel(QString("%1 tasks").arg(idealThreadCount(false)).toStdString());
}

void stroke(benchmark::State &state)
{
    viewSetup_t &s = setup();
    if (!s.ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    s.options.performance.coreCount = int(state.range(0));
    s.workspace->setScale(1.0);
    s.workspace->setPaintMode(true, true);
    mainImageArea *c = s.workspace->canvas();
    c->viewState().currentLayer = 1;
    c->viewState().toneMappedView = true;
    c->updatePixmap();
    maskPainter &painter = c->painter();
    painter.selectBrush(0, 1.0); // round, radius 56
    painter.rebuildStamps(1.0);
    const int spacing = std::max(1, painter.fullStamp().radius / 6);
    const QPoint a(2000, 2000), b(2000 + 49 * spacing, 2030);
    const double ref[3] = {0.5, 0.5, 0.5};
    const int n = idealThreadCount(false);
    pyramid &full = s.project->layerMasks[1];
    maskTarget_t fullTarget{static_cast<uint8_t *>(full.levels[0].data), PIC_W, PIC_H, nullptr};
    previewWindow_t &v = s.project->view;
    maskTarget_t viewTarget{v.layerMask[1], v.width, v.height, nullptr};
    const QPoint va(200, 500), vb(200 + 49 * spacing, 530);
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(fullTarget.mask, 0, size_t(PIC_W) * PIC_H);
        std::memset(viewTarget.mask, 0, size_t(v.width) * v.height);
        state.ResumeTiming();
        paintSegment(fullTarget, painter.fullStamp(), a, b, false, 0.5, ref, 6, n);
        paintSegment(viewTarget, painter.viewStamp(), va, vb, false, 0.5, ref, 6, n);
        c->renderView(true);
    }
    state.SetLabel(QString("%1 stamps, %2 tasks").arg(segmentStampPositions(a, b, spacing).size()).arg(n).toStdString());
}

} // namespace

BENCHMARK(renderSource)->ArgsProduct({{0, 1, 2}, {1, 8}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(renderToneMapped)->ArgsProduct({{0, 1, 2}, {1, 8}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(renderOverlayOnly)->ArgsProduct({{1}, {1, 8}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(renderResample)->ArgsProduct({{0, 1, 2}, {1, 8}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(stroke)->Args({1})->Args({8})->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    current = new viewSetup_t;
    benchmark::RunSpecifiedBenchmarks();
    delete current;
    benchmark::Shutdown();
    return 0;
}
