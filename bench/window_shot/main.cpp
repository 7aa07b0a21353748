// The main window as a photographer sees it after merging a bracket: the
// photos are added through the window (rows, EVs, the photo on display), the
// HDR image is merged as the Generate HDR step does, and the window prepares
// and tone-maps it; optionally in split view or on the Postprocessing tab.
// A developer tool (not part of the program).
//
//   window_shot [--mode tonemapped|split|photo|postprocessing] [--size WxH] [--grab OUT.png] PHOTO...

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "hdr/generateHDRworker.h"
#include "mainwindow/mainWindow.h"
#include "panels/tonemappingGroup.h"
#include "widgets/slider.h"
#include "project/processingProject.h"
#include "widgets/myQTabWidget.h"
#include "widgets/styleSheet.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include "shotSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

template <typename F> bool waitFor(F cond)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::processEvents();
    return cond();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    initWidgetResources();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    shotArgs a;
    a.mode = "tonemapped";
    if (!parseShotArgs(app.arguments(),
                       "window_shot [--mode tonemapped|split|photo|postprocessing] [--size WxH] [--grab OUT.png] PHOTO...", a))
        return 2;
    QTemporaryDir scratch(QDir::tempPath() + "/window_shot-XXXXXX");
    qputenv("XDG_CONFIG_HOME", scratch.path().toLocal8Bit());
    auto *options = new programOptionsSettings;
    options->scratchpad.pathCurrent = scratch.path();
    options->colorManagement.enabled = false;
    options->optionsOnLoad.enabled = false;
    options->misc.splitViewMode = 1;
    optionsInstance = options;
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QCoreApplication::applicationDirPath())));
    // Questions are answered yes (the full-size preparation of the filters).
    styledMessageBox::setMessageHook([](int, const QString &, const QString &text, int) {
        std::printf("message: %s\n", qPrintable(text.left(100)));
        return int(styledMessageBox::Yes);
    });

    int status = 0;
    {
        mainWindow w;
        w.resize(a.size);
        w.move(0, 0);
        w.show();
        w.restoreWindowLayout();
        QApplication::processEvents();
        if (!w.addImages(a.files) || !waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning(); })) {
            std::printf("loading failed\n");
            return 1;
        }
        if (a.mode != "photo") {
            processingProject &p = *w.project;
            generateHDRoptions_t o;
            o.project = &p;
            o.selectivity = 1;
            o.smartMergeStrength = 5;
            generateHDRworker merge(o);
            merge.generateHDR_prepare();
            merge.generateHDR_function();
            if (!p.hdrState.resultValid) {
                std::printf("merge failed\n");
                return 1;
            }
            w.hdrGenerated();
            if (!waitFor([&] { return p.prepared && !w.toneMappingPreparing() && !toneMappingRunning.load(); })) {
                std::printf("preparation failed\n");
                return 1;
            }
            // A livelier look than the neutral built-in values.
            w.toneMappingPanel->gamma->setValue(1.5);
            waitFor([&] { return !toneMappingRunning.load() && !w.toneMappingPending(); });
            w.toneMappingPanel->localContrast->setChecked(true);
            waitFor([&] { return !toneMappingRunning.load() && !w.toneMappingPending(); });
            w.toneMappingPanel->strength->setValue(0.6);
            waitFor([&] { return !toneMappingRunning.load() && !w.toneMappingPending(); });
            if (a.mode == "split")
                w.splitAct->trigger();
            if (a.mode == "postprocessing") {
                w.rightTab->setCurrentIndex(2);
                waitFor([&] { return !w.postProcessingPreparing(); });
            }
        }
        std::printf("ready: tab %d, %d photos, %dx%d\n", w.rightTab->currentIndex(), int(w.project->photos.size()),
                    w.project->width, w.project->height);
        std::fflush(stdout);
        if (!a.grab.isEmpty()) {
            QTimer::singleShot(500, [&]() {
                if (!w.grab().save(a.grab))
                    status = 1;
                app.quit();
            });
        }
        app.exec();
    }
    optionsInstance = nullptr;
    return status;
}
