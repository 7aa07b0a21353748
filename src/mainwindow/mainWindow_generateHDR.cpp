// mainWindow: opening the Generate HDR dialog and taking its merged image
// over.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "hdrdialogs/EVselection.h"
#include "hdrdialogs/generateHDR.h"
#include "project/processingProject.h"
#include "widgets/styledMessageBox.h"

#include <QFileInfo>
#include <QPushButton>

namespace {

// Extension of the HDR output format setting (0 OpenEXR, 1 Radiance, 2 float TIFF).
QString hdrFormatSuffix(int format)
{
    switch (format) {
    case 1:
        return ".hdr";
    case 2:
        return ".hdr.tif";
    default:
        return ".exr";
    }
}

} // namespace

QString mainWindow::proposedHdrPath() const
{
    if (project->photos.isEmpty())
        return QString();
    QStringList paths;
    for (const photoInfo_t &p : project->photos)
        paths << p.filePath;
    QString folder = completeDirPath(paths.first());
    if (startParams.plugin && !startParams.pluginSrcDir.isEmpty() && dirExists(startParams.pluginSrcDir))
        folder = startParams.pluginSrcDir;
    const QString middle = paths[paths.size() / 2];
    const QString pattern = optionsInstance ? optionsInstance->savingResult.defaultOutputFileName : QString();
    const int format = optionsInstance ? optionsInstance->savingResult.hdrFormat : 0;
    return folder + "/" + joinFileNamesShortDefault(paths, middle, pattern) + hdrFormatSuffix(format);
}

generateHDR *mainWindow::generateHdrDialog()
{
    if (!hdrDialog) {
        hdrDialog = new generateHDR(this, project);
        hdrDialog->refreshAfterStage = [this] {
            setEvLabels(true);
            if (!project->photos.isEmpty())
                imageItemChanged(project->photos.first().id);
            showBeforeSlot();
            showImageSize();
            project->removeLayerUndoFiles();
        };
        hdrDialog->refreshWindow = [this] {
            showImageSize();
            updateThumbnails();
            setEvLabels(true);
            if (!project->photos.isEmpty())
                imageItemChanged(project->photos.first().id);
            showBeforeSlot();
        };
    }
    return hdrDialog;
}

void mainWindow::showGenerateHDR() { showGenerateHDR(false); }

void mainWindow::showGenerateHDR(bool loading)
{
    if (project->photos.isEmpty())
        return;
    if (evSelection->exifButton->isChecked() && project->aebEVdiff()) {
        evSelection->setAutoSlot(true);
        if (!startParams.autoProcess)
            photoMessage(styledMessageBox::Warning,
                         tr("The EV calculated from EXIF data seem to be incorrect (bad values written by the "
                            "camera?). Lumidra automatically estimated the EV values by comparing the photos."));
    }
    if (project->photos.size() >= 2 && project->minEVdiff() && !startParams.autoProcess)
        photoMessage(styledMessageBox::Warning, tr("Warning! There are photos that have the same EV value. It is "
                                                   "all right as far as it was intended."));
    if (project->photos.size() >= 2)
        for (const photoInfo_t &p : project->photos)
            debugLog("- %s: %.2lf EV\n", QFileInfo(p.filePath).fileName().toLocal8Bit().constData(), p.ev);

    generateHDR *dialog = generateHdrDialog();
    dialog->proposeHdrPath(proposedHdrPath());
    dialog->openedAfterLoading = loading;
    if (project->batchRunning)
        dialog->setAttribute(Qt::WA_ShowWithoutActivating);
    const generateHDR::execHook_t hook = generateHDR::execHook();
    const int result = hook ? hook(dialog) : dialog->exec();
    updateThumbnails();
    if (!dialog->savedHdrPath().isEmpty())
        lastSavedHdrFile = dialog->savedHdrPath();
    if (result) {
        hdrGenerated();
        return;
    }
    // The automatic run ends here when the merge did not come about.
    if (startParams.autoProcess) {
        const QString reason = dialog->failureText().isEmpty() ? tr("HDR generation did not complete.")
                                                               : dialog->failureText();
        endRun(3, reason);
    }
}

void mainWindow::hdrGenerated()
{
    resultSaved = false;
    // The stages showed their photos as "before"; the new image is shown as
    // the result, and tone mapped once it is prepared.
    showingBefore = false;
    if (project->hdrState.hdrPresent)
        selectImageItem(HDR_ITEM_ID, true, false);
    setEvLabels(false);
    if (startParams.autoProcess)
        startAutomaticFinish();
    else
        toneMappingPrepare();
}
