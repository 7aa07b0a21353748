// mainWindow: the commands whose operations come with later versions of the
// window. Each logs its name, so that a command can be traced from its menu
// entry, shortcut or button to here.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"

void mainWindow::pendingCommand(const char *slot)
{
    debugLog("%s: not available in this version\n", slot);
    pendingCommandName = QString::fromLatin1(slot);
}

void mainWindow::saveResultSlot() { pendingCommand("mainWindow::saveResultSlot"); }
void mainWindow::saveResultAsSlot() { pendingCommand("mainWindow::saveResultAsSlot"); }
void mainWindow::exportToExternalEditorSlot() { pendingCommand("mainWindow::exportToExternalEditorSlot"); }
void mainWindow::savePreprocessedSlot() { pendingCommand("mainWindow::savePreprocessedSlot"); }
void mainWindow::showBatch() { pendingCommand("mainWindow::showBatch"); }
void mainWindow::toggleLayersMode() { pendingCommand("mainWindow::toggleLayersMode"); }
void mainWindow::splitViewModeChange() { pendingCommand("mainWindow::splitViewModeChange"); }
void mainWindow::transformImageSlot() { pendingCommand("mainWindow::transformImageSlot"); }
void mainWindow::toggleCropMode() { pendingCommand("mainWindow::toggleCropMode"); }
void mainWindow::showProgramOptions() { pendingCommand("mainWindow::showProgramOptions"); }

