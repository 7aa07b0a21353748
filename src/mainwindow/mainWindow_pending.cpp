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

void mainWindow::loadProjectSlot() { pendingCommand("mainWindow::loadProjectSlot"); }
void mainWindow::saveProjectSlot() { pendingCommand("mainWindow::saveProjectSlot"); }
void mainWindow::saveResultSlot() { pendingCommand("mainWindow::saveResultSlot"); }
void mainWindow::saveResultAsSlot() { pendingCommand("mainWindow::saveResultAsSlot"); }
void mainWindow::exportToExternalEditorSlot() { pendingCommand("mainWindow::exportToExternalEditorSlot"); }
void mainWindow::savePreprocessedSlot() { pendingCommand("mainWindow::savePreprocessedSlot"); }
void mainWindow::showBatch() { pendingCommand("mainWindow::showBatch"); }
void mainWindow::loadSettingsSlot() { pendingCommand("mainWindow::loadSettingsSlot"); }
void mainWindow::saveSettingsSlot() { pendingCommand("mainWindow::saveSettingsSlot"); }
void mainWindow::defaultSettingsSlot() { pendingCommand("mainWindow::defaultSettingsSlot"); }
void mainWindow::addNewPresetSlot() { pendingCommand("mainWindow::addNewPresetSlot"); }
void mainWindow::showSetupUserGroups() { pendingCommand("mainWindow::showSetupUserGroups"); }
void mainWindow::goToUserPresetFiles() { pendingCommand("mainWindow::goToUserPresetFiles"); }
void mainWindow::showProgramOptions() { pendingCommand("mainWindow::showProgramOptions"); }
void mainWindow::invalidatePresets(bool, bool) { pendingCommand("mainWindow::invalidatePresets"); }
