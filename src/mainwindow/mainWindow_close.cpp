// mainWindow: closing. The exit question, the last-used settings, stopping
// every worker (cooperatively, never by cutting a thread off), the plug-in
// callback file and the stored settings and layout.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "project/processingProject.h"
#include "widgets/myDockWidget.h"
#include "widgets/styledMessageBox.h"

#include <QCloseEvent>
#include <QDir>
#include <QTimer>

void mainWindow::closeEvent(QCloseEvent *event)
{
    // 1. The exit question: only with photos and an unsaved result, and
    // never in the automatic run (nobody is there to answer).
    if (!startParams.autoProcess && project && !project->photos.isEmpty() && !resultSaved) {
        if (startParams.plugin && project->hdrState.resultValid) {
            const int answer = styledMessageBox::show(
                this, styledMessageBox::Confirmation,
                tr("Do you want to save the result before exiting and import it to the host application?"),
                styledMessageBox::Yes | styledMessageBox::No | styledMessageBox::Cancel);
            if (answer == styledMessageBox::Yes) {
                saveResultSlot(true, nullptr, false, QString(), true);
                event->ignore();
                return;
            }
            if (answer != styledMessageBox::No) {
                event->ignore();
                return;
            }
        } else if (styledMessageBox::show(this, styledMessageBox::Confirmation, tr("Do you really want to exit?"),
                                          styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes) {
            event->ignore();
            return;
        }
    }

    // 2. The settings in use become the "last used" preset, except in the
    // automatic run, which must leave the person's presets alone.
    if (!startParams.autoProcess && project && optionsInstance && !optionsInstance->installer.userFolder.isEmpty()) {
        const QString folder = optionsInstance->installer.userFolder + "/presets";
        if (QDir().mkpath(folder)) {
            QString error;
            if (!saveSettingsFile(folder + "/" + PRESET_LAST_USED_FILE, project->layerSettings[0], &error))
                debugLog("%s: %s\n", "mainWindow::closeEvent", error.toLocal8Bit().constData());
        }
    }

    setEnabled(false);
    // Running background passes stop early.
    abortBackgroundFlag = true;
    debugLog("\nClosing...\n");
    closing = true;
    if (progressTimer)
        progressTimer->stop();

    for (int e = 0; e < 5; ++e)
        debugLog("loadPhoto.worker[%d]=%p\n", e, static_cast<void *>(loadSlots[e].worker));
    debugLog("Waiting for threads to terminate...\n");
    stopPresetThumbnails();
    stopProjectWorkers();
    if (!stopWorkers(true))
        debugLog("A worker did not stop in time; it was waited for until it ended\n");
    debugLog("Threads should be terminated now\n");
    for (int e = 0; e < 5; ++e)
        debugLog("loadPhoto.worker[%d]=%p\n", e, static_cast<void *>(loadSlots[e].worker));

    if (startParams.plugin)
        writePluginCallback();

    if (!startParams.autoProcess) {
        debugLog("Writing settings...\n");
        programOptionsSettings::writeSettings();
        // The window keys are written before the docks are hidden, so that
        // the stored layout keeps the docks the user had open.
        writeWindowSettings();
        leftDock->hide();
        rightDock->hide();
    }
    if (optionsInstance && optionsInstance->resetOnExit) {
        debugLog("RESET ALL SETTINGS...\n");
        resetAllSettings();
    }
    debugLog("Main window close complete\n");
    event->accept();
}
