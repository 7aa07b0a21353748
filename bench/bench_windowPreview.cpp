// The live preview through the main window's path: a slider change in the
// "Tone mapping" panel until the preview pass has ended and the view shows
// the new picture (panel -> doToneMapping -> worker thread -> completion ->
// render of the view), on a view of about 1.3 megapixels at 100 % over a
// 10-megapixel HDR image, with 1 and with 8 tasks.
//
//   QT_QPA_PLATFORM=offscreen ./bench_windowPreview
//
// The window is built offscreen with its real panels and view; the image is
// synthetic and prepared by the window's own preparation (local contrast and
// mask maps).

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "mainwindow/mainWindow.h"
#include "panels/tonemappingGroup.h"
#include "project/processingProject.h"
#include "views/mainWorkspace.h"
#include "widgets/slider.h"
#include "widgets/zoomWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

constexpr int PIC_W = 4000, PIC_H = 2667;

struct windowSetup_t {
    QTemporaryDir scratch;
    programOptionsSettings options;
    std::unique_ptr<mainWindow> window;
    bool ok = false;

    bool idle() const
    {
        return !toneMappingRunning.load() && !window->toneMappingPending() && !window->toneMappingPreparing();
    }
    // Sleeps in the event loop until the pass has ended. (processEvents with
    // a time limit never sleeps: it spun a core of its own, taken from the
    // pass it waited for.) A heartbeat timer bounds each sleep.
    bool waitIdle() const
    {
        QElapsedTimer t;
        t.start();
        QTimer heartbeat;
        heartbeat.start(250);
        while (!idle() && t.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        return idle();
    }

    windowSetup_t()
    {
        options.scratchpad.pathCurrent = scratch.path();
        options.colorManagement.enabled = false;
        options.devicePixelRatio = 1.0;
        options.performance.liveToneMapping = false;
        const QString defaults = scratch.path() + "/default.lmsx";
        QFile f(defaults);
        if (f.open(QIODevice::WriteOnly))
            f.write("<settings/>\n");
        f.close();
        options.misc.defaultToneMappingSettings = defaults;
        optionsInstance = &options;
        window.reset(new mainWindow);
        window->resize(2000, 1320);
        window->show();
        QApplication::processEvents();

        processingProject *p = window->project;
        p->width = PIC_W;
        p->height = PIC_H;
        if (!p->allocatePyramids())
            return;
        float *hdr = static_cast<float *>(p->hdrImage.levels[0].data);
        for (int y = 0; y < PIC_H; ++y)
            for (int x = 0; x < PIC_W; ++x) {
                const size_t k = (size_t(y) * PIC_W + x) * 3;
                const float v = 0.001f + 0.9f * std::pow(float(x) / PIC_W, 2.0f) * (0.5f + 0.5f * std::sin(y * 0.01f));
                hdr[k] = v;
                hdr[k + 1] = v * 0.9f;
                hdr[k + 2] = v * 0.7f;
            }
        p->hdrImage.levels[0].valid = true;
        p->hdrImage.buildLevelsFrom(0);
        p->hdrState.hdrPresent = p->hdrState.resultValid = true;
        p->hdrState.hdrMedian = 0.1;
        photoInfo_t photo;
        photo.id = ++p->photoIdCounter;
        photo.filePath = "synthetic.hdr";
        photo.isFloat = photo.included = 1;
        p->photos.append(photo);
        window->toneMappingPrepare();
        if (!waitIdle() || !p->prepared)
            return;
        window->zoom->set100();
        QApplication::processEvents();
        window->refreshAfterChange();
        ok = waitIdle();
        const QSize view = window->workspace->canvas()->size();
        std::printf("view %d x %d = %.2f megapixels, tone-mapped window %d x %d\n", view.width(), view.height(),
                    view.width() * view.height() / 1e6, p->view.width, p->view.height);
    }
};

windowSetup_t *setupRecord = nullptr;

void SliderChange(benchmark::State &state)
{
    windowSetup_t &s = *setupRecord;
    if (!s.ok) {
        state.SkipWithError("window setup failed");
        return;
    }
    s.options.performance.coreCount = int(state.range(0));
    idealThreadCount(false); // publishes the limit to the workers
    slider *gamma = s.window->toneMappingPanel->gamma;
    int k = 0;
    const uint64_t passesBefore = s.window->toneMappingPasses;
    for (auto _ : state) {
        gamma->setValue(1.0 + 0.1 * (k++ % 8));
        s.waitIdle();
    }
    state.counters["passes_per_change"] =
        double(s.window->toneMappingPasses - passesBefore) / std::max<double>(1.0, double(state.iterations()));
    state.counters["window_mpix"] = s.window->project->view.width * double(s.window->project->view.height) / 1e6;
}
BENCHMARK(SliderChange)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    {
        windowSetup_t setup;
        setupRecord = &setup;
        benchmark::RunSpecifiedBenchmarks();
        setupRecord = nullptr;
        setup.window.reset();
        optionsInstance = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
