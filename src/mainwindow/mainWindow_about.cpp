// mainWindow: the About dialog, the Qt licence text and the update check.

#include "mainwindow/mainWindow.h"

#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "mainwindow/aboutDialog.h"
#include "mainwindow/checkUpdates.h"

void mainWindow::showAbout()
{
    // Modal without a nested event loop; a second trigger only raises it.
    aboutDialog->show();
    aboutDialog->raise();
    aboutDialog->activateWindow();
}

void mainWindow::showQtLicenseWindow()
{
    qtLicenseDialog->show();
    qtLicenseDialog->raise();
    qtLicenseDialog->activateWindow();
}

void mainWindow::checkForUpdates()
{
    updateCheck->doCheck(true);
}

void mainWindow::startSilentUpdateCheck()
{
    const bool setting = optionsInstance && optionsInstance->misc.autoCheckUpdates;
    if (checkUpdates::silentCheckAllowed(setting, startParams.autoProcess))
        updateCheck->doCheck(false);
}
