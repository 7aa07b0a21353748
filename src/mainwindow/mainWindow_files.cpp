// mainWindow: files handed over by the operating system (queued for 250 ms
// and opened together) and the one entry point for photos or a project named
// on the command line, dropped on the window or handed over.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/utils.h"

#include <QTimer>

void mainWindow::addFileToOpen(QString fname)
{
    if (!filesToOpenTimer) {
        filesToOpen.clear();
        filesToOpenTimer = new QTimer(this);
        filesToOpenTimer->setSingleShot(true);
        connect(filesToOpenTimer, &QTimer::timeout, this, &mainWindow::addFileToOpen_timeout);
    }
    const QString ext = fileSuffixOf(fname).toLower();
    if (!fname.isEmpty() && fileExists(fname)) {
        if (fileTypeOf(fname) != FILETYPE_UNKNOWN || ext == "lmpx")
            filesToOpen.append(fname);
    }
    filesToOpenTimer->start(250);
}

void mainWindow::addFileToOpen_timeout()
{
    if (!filesToOpen.isEmpty()) {
        const QStringList files = filesToOpen;
        filesToOpen.clear();
        addDroppedImages(files);
    }
    filesToOpenTimer->deleteLater();
    filesToOpenTimer = nullptr;
}

