// Photo-adding benchmark: builds the main window offscreen, adds the photos
// named on the command line through its own path (preparation, parallel
// load threads, thumbnails, rows, EVs) and times it until every row shows
// its thumbnail. Message boxes and dialogs are answered by hooks.
//
//   photo_adding [--scratch DIR] PHOTO...
//
// Prints "stage add SECONDS", "rows N", "threads N" and "peak_rss_mb N".

#include "app/programOptionsSettings.h"
#include "hdrdialogs/generateHDR.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "widgets/fileDialogs.h"
#include "widgets/imageItem.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QStringList files;
    QString scratchDir;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--scratch" && i + 1 < args.size())
            scratchDir = args[++i];
        else
            files << args[i];
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: photo_adding [--scratch DIR] PHOTO...\n");
        return 2;
    }
    QTemporaryDir scratch(scratchDir.isEmpty() ? QDir::tempPath() + "/photo_adding-XXXXXX"
                                               : scratchDir + "/photo_adding-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
    options.colorManagement.enabled = false;
    optionsInstance = &options;
    styledMessageBox::setMessageHook([](int, const QString &, const QString &text, int) {
        std::printf("message %s\n", qPrintable(text));
        return int(styledMessageBox::Ok);
    });
    fileDialogs::setHook([](const fileDialogs::request_t &) { return QStringList(); });
    // The window offers Generate HDR once a bracket is loaded: declined here,
    // so its modal loop does not hold the timing loop up.
    generateHDR::setExecHook([](generateHDR *) { return int(QDialog::Rejected); });

    int status = 0;
    {
        mainWindow w;
        QElapsedTimer timer;
        timer.start();
        if (!w.addImages(files)) {
            std::printf("refused\n");
            status = 1;
        }
        auto allShown = [&] {
            if (w.loadingInProgress || w.anyLoadRunning() || w.imageItems.size() != files.size())
                return false;
            for (imageItem *row : w.imageItems)
                if (row->shownThumbnail().isNull())
                    return false;
            return true;
        };
        // The loop sleeps until an event comes, as the program's own loop
        // does (processEvents with a time limit never waits: it spun a core
        // the loaders need); the timer wakes it at least every 20 ms.
        QTimer wake;
        wake.start(20);
        while (status == 0 && !allShown() && (w.loadingInProgress || w.anyLoadRunning()))
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        std::printf("stage add %.3f\n", timer.nsecsElapsed() / 1e9);
        std::printf("rows %d\n", int(w.imageItems.size()));
        std::printf("threads %d\n", w.lastLoadThreadCount);
        if (!allShown())
            status = 1;
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb %ld\n", usage.ru_maxrss / 1024);
    optionsInstance = nullptr;
    return status;
}
