// The main window as a photographer sees it after merging a bracket: the
// photos are added through the window (rows, EVs, the photo on display), the
// Generate HDR dialog that opens after loading is answered with its Generate
// button (its own options, as Return in the dialog does), and the window
// prepares and tone-maps the merged image with the default look from the
// "built-in presets" folder beside the tool; optionally in split view or on
// the Postprocessing tab. With --mode photo the dialog is cancelled and the
// window shows the photos. A developer tool (not part of the program).
//
//   window_shot [--mode tonemapped|split|photo|postprocessing] [--size WxH] [--grab OUT.png] PHOTO...

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "hdrdialogs/generateHDR.h"
#include "mainwindow/mainWindow.h"
#include "views/mainWorkspace.h"
#include "widgets/zoomWidget.h"
#include "project/processingProject.h"
#include "widgets/myQTabWidget.h"
#include "widgets/styleSheet.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include "shotSupport.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
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
    options->installer.userFolder = scratch.path() + "/user";
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

    // The Generate HDR dialog opened after loading: Generate with the
    // dialog's own options, wait for the stages, hand the result over.
    const bool merge = a.mode != "photo";
    int dialogs = 0;
    generateHDR::setExecHook([merge, &dialogs](generateHDR *d) {
        ++dialogs;
        if (!merge)
            return 0;
        d->show();
        QCoreApplication::processEvents();
        d->generateButton->click();
        waitFor([d] { return !d->running(); });
        std::printf("generate HDR dialog: %s\n", d->result() ? "merged" : qPrintable(d->failureText()));
        return d->result();
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
        if (merge) {
            processingProject &p = *w.project;
            if (dialogs == 0)
                w.showGenerateHDR();
            if (!p.hdrState.resultValid) {
                std::printf("merge failed\n");
                return 1;
            }
            if (!waitFor([&] { return p.prepared && !w.toneMappingPreparing() && !toneMappingRunning.load()
                                      && !w.toneMappingPending(); })) {
                std::printf("preparation failed\n");
                return 1;
            }
            if (a.mode == "split")
                w.splitAct->trigger();
            if (a.mode == "postprocessing") {
                w.rightTab->setCurrentIndex(2);
                waitFor([&] { return !w.postProcessingPreparing(); });
            }
        }
        QScrollBar *hBar = w.workspace->horizontalBar();
        QScrollBar *vBar = w.workspace->verticalBar();
        std::printf("view: canvas %dx%d, zoom %s (fit index %d), scroll ranges %d..%d / %d..%d\n",
                    w.workspace->canvas()->width(), w.workspace->canvas()->height(),
                    qPrintable(w.zoom->valueLabel()->text()), w.zoom->fitIndex(), hBar->minimum(), hBar->maximum(),
                    vBar->minimum(), vBar->maximum());
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
    generateHDR::setExecHook(nullptr);
    optionsInstance = nullptr;
    return status;
}
