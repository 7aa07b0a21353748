// mainWindow: the end of the start: what the command line named is opened
// once the event loop runs, and the splash phase ends.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "documents/settingsFile.h"
#include "project/processingProject.h"
#include "widgets/styledMessageBox.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QToolBar>
#include <algorithm>

void mainWindow::splashFinished(QWidget *splashWidget)
{
    delete splashWidget;
    // Nobody answers a box in the automatic run: the notice is only logged.
    if (optionsInstance) {
        const int ideal = QThread::idealThreadCount();
        const int limit = optionsInstance->performance.coreCount;
        if (limit < ideal) {
            const int used = std::min(limit, std::min(ideal, 64));
            const QString text =
                tr("The program is running with decreased performance, using %1 out of %2 CPU cores. If it's not "
                   "intended please go to the Program Options and change the performance settings.")
                    .arg(used)
                    .arg(ideal);
            if (startParams.autoProcess)
                debugLog("%s\n", text.toLocal8Bit().constData());
            else
                styledMessageBox::show(this, styledMessageBox::Warning, text);
        }
    }
    startupComplete = true;
    startSilentUpdateCheck();
    // Qt's own About box is not answerable by the automatic run.
    if (optionsInstance && optionsInstance->ShowQtAbout && !startParams.autoProcess)
        QMessageBox::aboutQt(this, QString());
    for (QToolBar *bar : {fileToolBar, viewToolBar, settingsToolBar, miscToolBar})
        if (bar)
            bar->show();
}

void mainWindow::loadOnStartupSlot()
{
    disconnect(this, &mainWindow::loadOnStartup, this, &mainWindow::loadOnStartupSlot);

    // An automatic run that cannot come to a result ends before any work.
    const QString problem = automaticRunProblem(startParams);
    if (!problem.isEmpty()) {
        endRun(2, problem);
        return;
    }

    if (!startParams.settings.isEmpty() && fileExists(startParams.settings)) {
        QString error;
        const int result = loadSettingsFile(startParams.settings, &project->layerSettings[0], &error);
        debugLog("%s: settings '%s' -> %d %s\n", "mainWindow::loadOnStartupSlot",
                 startParams.settings.toLocal8Bit().constData(), result, error.toLocal8Bit().constData());
        // The panels show the look the command line asked for.
        if (result == SETTINGS_LOADED && project->currentLayer == 0)
            applySettingsToPanels(&project->layerSettings[0], true);
    }

    const QStringList files = startParams.inputPhoto;
    if (files.isEmpty())
        return;
    const QString first = files.first();
    if (QFileInfo(first).suffix().toLower() == "lmpx") {
        loadProjectSlot(first);
        return;
    }
    const bool unattended = startParams.autoProcess || startParams.plugin;
    if (fileTypeOf(first) == FILETYPE_UNKNOWN) {
        const QString text = tr("Unknown file type: %1").arg(first);
        debugLog("%s\n", text.toLocal8Bit().constData());
        // A run nobody watches must not stay open waiting.
        if (unattended)
            endRun(2, text);
        return;
    }
    if (addImages(files))
        return;
    if (startParams.plugin && !startParams.autoProcess)
        styledMessageBox::show(this, styledMessageBox::Error, tr("Photos not loaded, Lumidra will exit."));
    if (unattended)
        endRun(2, tr("Photos not loaded, Lumidra will exit."));
}
