#include "mainwindow/myApplication.h"

#include "app/debugLog.h"
#include "app/startParams.h"

#include <QFileOpenEvent>

myApplication::myApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool myApplication::takeFileDuringStartup(const QString &file)
{
    if (startupFinished)
        return false;
    startParams.inputPhoto.append(file);
    openEventFilesAdded = true;
    return true;
}

bool myApplication::event(QEvent *event)
{
    if (event->type() != QEvent::FileOpen)
        return QApplication::event(event);
    const QString file = static_cast<QFileOpenEvent *>(event)->file();
    if (!takeFileDuringStartup(file)) {
        debugLog("Image drop on icon: '%s'\n", file.toLocal8Bit().constData());
        emit addFileToOpen(file);
    }
    event->accept();
    return true;
}
