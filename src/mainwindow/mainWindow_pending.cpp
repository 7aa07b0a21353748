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

void mainWindow::showBatch() { pendingCommand("mainWindow::showBatch"); }
