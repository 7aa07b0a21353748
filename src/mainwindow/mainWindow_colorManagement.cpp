// mainWindow: the colour-management switch, the photo colour space, monitor
// profile and intent groups, and the rebuild of the project's transforms
// after a change.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "project/processingProject.h"
#include "widgets/fileDialogs.h"
#include "widgets/styledMessageBox.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>

namespace {

// Where the monitor-profile dialog starts without a stored profile.
QString systemProfileFolder()
{
    const QString local = QDir::homePath() + "/.local/share/icc";
    return QDir(local).exists() ? local : QString("/usr/share/color/icc");
}

} // namespace

void mainWindow::fillMonitorProfileMenu()
{
    if (!optionsInstance)
        return;
    const auto &cm = optionsInstance->colorManagement;
    colorManagementAct->setChecked(cm.enabled);
    for (int i = 0; i < 5; ++i)
        inputProfileActs[i]->setChecked(i == cm.inputProfile);
    for (int i = 0; i < 6; ++i)
        monitorProfileActs[i]->setChecked(i == cm.outputProfile);
    const QString custom = cm.customMonitorProfile;
    monitorProfileActs[0]->setText(tr("From file") + ": "
                                   + (fileExists(custom) ? QFileInfo(custom).fileName() : QString("...")));
    for (int i = 0; i < 4; ++i)
        intentActs[i]->setChecked(i == cm.intent);
}

void mainWindow::setupColorManagement()
{
    if (!optionsInstance)
        return;
    auto &cm = optionsInstance->colorManagement;
    const bool wanted = colorManagementAct->isChecked();
    if (project && !project->photos.isEmpty() && wanted != cm.enabled) {
        const QString question =
            wanted ? tr("Enabling color management requires closing the current project. Continue?")
                   : tr("Disabling color management requires closing the current project. Continue?");
        const int answer = styledMessageBox::show(this, styledMessageBox::Confirmation, question,
                                                  styledMessageBox::Yes | styledMessageBox::No);
        if (answer != styledMessageBox::Yes) {
            colorManagementAct->setChecked(cm.enabled);
            return;
        }
        newProject(true);
    }

    cm.enabled = colorManagementAct->isChecked();
    cm.bpCompensation = true;

    cm.inputProfile = 1;
    for (int i = 0; i < 5; ++i)
        if (inputProfileActs[i]->isChecked())
            cm.inputProfile = i;

    if (monitorProfileActs[0]->isChecked()) {
        if (sender() == monitorProfileActs[0]) {
            const QString start = cm.customMonitorProfile.isEmpty()
                                      ? systemProfileFolder()
                                      : QFileInfo(cm.customMonitorProfile).absolutePath();
            cm.customMonitorProfile = fileDialogs::openFileName(this, tr("Monitor color profile"), start,
                                                                tr("Color profile") + " (*.icm *.icc)");
        }
        cm.outputProfile = fileExists(cm.customMonitorProfile) ? 0 : 1;
    } else {
        for (int i = 1; i < 6; ++i)
            if (monitorProfileActs[i]->isChecked())
                cm.outputProfile = i;
    }

    for (int i = 0; i < 4; ++i)
        if (intentActs[i]->isChecked())
            cm.intent = i;
    debugLog("%s: enabled=%d input=%d output=%d intent=%d\n", "mainWindow::setupColorManagement", int(cm.enabled),
             cm.inputProfile, cm.outputProfile, cm.intent);

    if (project) {
        const photoInfo_t none;
        project->setMonitorProfile(project->photos.isEmpty() ? none : project->photos.first());
    }
    fillMonitorProfileMenu();
    updateThumbnails();
    invalidatePresets(false, true);
    if (project) {
        photoProfileButton->setToolTip("<html>" + project->inputProfileHtml + "</html>");
        monitorProfileButton->setToolTip("<html>" + project->outputProfileHtml + "</html>");
    }
    setControlsEnabled(true);
}
