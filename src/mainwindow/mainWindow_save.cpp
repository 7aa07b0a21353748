// mainWindow: saving the tone-mapped result (name, options, the worker and
// the finish with metadata), the program options, the export to the external
// editor and the batch save step.
//
// A save never leaves a half-finished file under the final name: the worker
// writes "<name>~" through the checked save, the metadata (EXIF, colour
// profile) goes into that file, and only then is it moved over the final name
// in one rename. Any failure leaves an older file of that name as it was and
// is reported: a message box interactively, the batch log in a batch, the log
// and a non-zero exit code in the automatic run.

#include "mainwindow/mainWindow.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/externalEditor.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/resultImageWriter.h"
#include "hdr/saveResultWorker.h"
#include "project/processingProject.h"
#include "widgets/fileDialogs.h"
#include "widgets/myQTabWidget.h"
#include "widgets/programOptions.h"
#include "widgets/saveDialogs.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSpinBox>
#include <QThread>

#include <algorithm>
#include <memory>

namespace {

const char *const LOG_GREY = "#c0c0c0";
const char *const LOG_YELLOW = "#b0b060";
const char *const LOG_RED = "#b06060";

bool colorManagementOn()
{
    return optionsInstance && optionsInstance->colorManagement.enabled;
}

} // namespace

void mainWindow::batchLog(const QString &text, const char *colour)
{
    batchLogLines << QStringLiteral("<font color=%1>%2</font>").arg(QLatin1String(colour), text.toHtmlEscaped());
    debugLog("batch: %s\n", text.toLocal8Bit().constData());
}

bool mainWindow::resultIsPostProcessed() const
{
    return rightTab && rightTab->currentIndex() == 2;
}

void mainWindow::saveResultSlot()
{
    saveResultSlot(false, nullptr, false, QString(), false);
}

void mainWindow::saveResultAsSlot()
{
    saveResultSlot(true, nullptr, false, QString(), false);
}

// The file dialog: the proposal (built from the photos' names when needed),
// the filter by the stored format, the suffix repaired after the answer.
QString mainWindow::chooseResultName(const QString &proposalIn, int *filterFormat)
{
    programOptionsSettings *o = optionsInstance;
    QString proposal = proposalIn;
    const QString pattern = o->savingResult.defaultOutputFileName;
    const bool presetChanged = presetNameForSaving != presetNameAtLastSave && pattern.contains("%P");
    bool built = false;
    if (proposal.isEmpty() || presetChanged) {
        QStringList paths;
        for (const photoInfo_t &p : project->photos)
            paths << p.filePath;
        const int base = std::clamp(int(project->idxMid), 0, std::max(0, int(project->photos.size()) - 1));
        const QString middle = project->photos.isEmpty() ? QString() : project->photos[base].filePath;
        QString name = joinFileNamesShort(paths, middle, pattern, true, true);
        name.replace("%P", presetNameForSaving.isEmpty() ? QString() : "-" + presetNameForSaving);
        // Never a folder part out of a pattern or a preset name.
        name = fileNameOf(name);
        name.replace('/', '_');
        if (name.isEmpty())
            name = QStringLiteral("result");
        const QString suffix = o->savingResult.format == resultTiff ? ".tif"
                               : o->savingResult.format == resultPng ? ".png" : ".jpg";
        if (fileSuffixOf(name).isEmpty())
            name += suffix;
        QString folder = o->openSaveDialogs.savePhoto_LastDir;
        if (o->savingResult.saveToSourceDirByDefault) {
            if (startParams.plugin && !startParams.outputDir.isEmpty() && dirExists(startParams.outputDir))
                folder = startParams.outputDir;
            else if (!project->photos.isEmpty())
                folder = completeDirPath(project->photos.first().filePath);
        }
        proposal = !folder.isEmpty() && dirExists(folder) ? folder + "/" + name : name;
        built = true;
    } else if (!dirExists(completeDirPath(proposal))) {
        proposal = fileNameOf(proposal);
    }

    const QStringList filters = {tr("JPEG (*.jpg *.jpeg)"), tr("TIFF 8/16-bit (*.tif *.tiff)"), tr("PNG (*.png)")};
    const int stored = std::clamp(o->savingResult.format, 0, 2);
    QString selected = filters[stored];
    QString answer = fileDialogs::saveFileName(this, tr("Save as"), proposal, filters.join(";;"), &selected);
    if (answer.isEmpty())
        return QString();
    int format = int(filters.indexOf(selected));
    if (format < 0)
        format = resultFormatForName(answer);
    answer = repairResultSuffix(answer, format);
    if (filterFormat)
        *filterFormat = format;
    if (built) {
        o->openSaveDialogs.savePhoto_LastDir = completeDirPath(answer);
        if (o->savingResult.saveToSourceDirByDefault)
            o->openSaveDialogs.openSavePhoto_LastDir = completeDirPath(answer);
    }
    return answer;
}

void mainWindow::saveResultSlot(bool showSaveAs, saveResult *_sr, bool ee, QString forceFn, bool appClose)
{
    if (saveWorker) {
        debugLog("%s: a save is already running\n", "mainWindow::saveResultSlot");
        return;
    }
    if (!project || project->width <= 0 || project->height <= 0 || !project->outputImage.levels[0].data) {
        debugLog("%s: no result to save\n", "mainWindow::saveResultSlot");
        lastSaveFailure = tr("There is no result to save.");
        if (startParams.autoProcess)
            endRun(1, lastSaveFailure);
        return;
    }
    programOptionsSettings *o = optionsInstance;
    const bool batch = project->batchRunning;
    QString fileName = forceFn.isEmpty() ? lastResultName : forceFn;
    // "Save" before any name is known works as "Save as" (never in a run
    // without a person).
    if (!showSaveAs && fileName.isEmpty() && !startParams.autoProcess && !batch && !_sr)
        showSaveAs = true;
    if (fileName.isEmpty() && !showSaveAs) {
        lastSaveFailure = tr("No file name for the result.");
        debugLog("Saving failed\n");
        if (startParams.autoProcess)
            endRun(1, lastSaveFailure);
        return;
    }
    if (showSaveAs) {
        fileName = chooseResultName(fileName, nullptr);
        if (fileName.isEmpty())
            return;
        if (fileExists(fileName)
            && styledMessageBox::show(this, styledMessageBox::Confirmation,
                                      tr("%1 already exists.\nDo you want to replace it?")
                                          .arg(nativeAbsolutePath(fileName)),
                                      styledMessageBox::Yes | styledMessageBox::No)
                   != styledMessageBox::Yes)
            return;
    }

    std::unique_ptr<saveResult> ownDialog;
    saveResult *dialog = _sr;
    if (!dialog) {
        ownDialog = std::make_unique<saveResult>(this, fileName);
        dialog = ownDialog.get();
    }
    const int w = project->width, h = project->height;
    if (dialog->jpegPanel && dialog->jpegPanel->resize) {
        resizeResult *r = dialog->jpegPanel->resize;
        r->setResultSize(w, h);
        if (batch) {
            const int longEdge = std::max(w, h);
            const double f = batchTask.resizeLongEdge > 0 ? double(batchTask.resizeLongEdge) / longEdge : 1.0;
            const int rw = std::clamp(int(w * std::min(f, 1.0)), 1, w);
            const int rh = std::clamp(int(h * std::min(f, 1.0)), 1, h);
            {
                const QSignalBlocker b1(r->widthBox), b2(r->heightBox);
                r->widthBox->setValue(rw);
                r->heightBox->setValue(rh);
            }
            r->setChecked(batchTask.resize);
            if (batchTask.resize)
                batchLog(tr("Resize") + ": " + QStringLiteral("(%1 x %2)").arg(rw).arg(rh), LOG_GREY);
        }
    }
    int decision = ee ? 2 : 1;
    if (showSaveAs && dialog->format != resultPng)
        decision = dialog->exec();
    if (decision != 1 && decision != 2)
        return;

    saveResultJob_t job;
    job.fileName = fileName;
    job.externalEditor = decision == 2;
    job.appClose = appClose;
    job.toneMapFirst = !resultIsPostProcessed();
    resultSaveOptions_t &opt = job.options;
    opt.format = dialog->format;
    bool srgb = true;
    if (saveOptsJpeg *j = dialog->jpegPanel) {
        opt.jpegQuality = int(j->quality->value());
        job.transferExif = j->transferExif->isChecked();
        job.transferExifGps = j->gps->isChecked();
        srgb = j->srgb->isChecked();
        opt.dpi = j->dpi->value();
        opt.resize = j->resize->isChecked();
        opt.resizeWidth = j->resize->widthBox->value();
        opt.resizeHeight = j->resize->heightBox->value();
        if (opt.resize && opt.resizeWidth == w && opt.resizeHeight == h)
            opt.resize = false;
    } else if (saveOptsTiff *t = dialog->tiffPanel) {
        opt.tiffCompression = t->compression->currentIndex();
        opt.tiffBitDepth = t->bitDepth->currentIndex() + 1;
        job.transferExif = t->transferExif->isChecked();
        job.transferExifGps = t->gps->isChecked();
        srgb = t->srgb->isChecked();
        opt.dpi = t->dpi->value();
    } else {
        // PNG has no options panel: the metadata follows the saving settings.
        opt.dpi = o->savingResult.dpi;
        job.transferExif = o->savingResult.transferExif;
        job.transferExifGps = o->savingResult.transferExifGPS;
    }
    job.convertToSrgb = srgb && colorManagementOn() && project->transformsAreValid();
    if (showSaveAs)
        o->savingResult.format = opt.format;
    ownDialog.reset();

    lastSaveFailure.clear();
    saveAppClose = appClose;
    setControlsEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int layers = 1;
    if (project->layersOn)
        for (int k = 1; k < LAYER_COUNT; ++k)
            layers += project->layerEnabled[k] ? 1 : 0;
    startProgress(uint64_t(layers + 1) * uint64_t(w) * uint64_t(h), false);

    saveWorker = new saveResultWorker(project, job);
    QThread *thread = new QThread;
    saveWorker->moveToThread(thread);
    connect(thread, &QThread::started, saveWorker, &saveResultWorker::doSaveResult);
    connect(saveWorker, &saveResultWorker::finished, this, &mainWindow::saveResultFinished, Qt::QueuedConnection);
    // quit() straight from the worker thread: the finish waits for the thread.
    connect(saveWorker, &saveResultWorker::finished, thread, &QThread::quit, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QThread::deleteLater);
    thread->start();
}

void mainWindow::saveResultFinished()
{
    saveResultWorker *worker = saveWorker;
    const bool batch = project && project->batchRunning;
    bool saved = worker && worker->saved;
    bool messageShown = false;
    bool editorRequested = false;
    QString fileName;
    QString reason;
    auto closeProgress = [&] {
        QApplication::restoreOverrideCursor();
        finishProgress();
    };

    if (worker) {
        // The worker's thread quits after finished(); wait for it so the
        // worker can be deleted here.
        if (QThread *t = worker->thread(); t && t != QThread::currentThread())
            t->wait();
        fileName = worker->job().fileName;
        reason = worker->failure;
    }

    if (saved) {
        const saveResultJob_t &job = worker->job();
        const QString temporary = worker->temporaryName();
        editorRequested = job.externalEditor;
        bool metadataOk = true;
        exiftoolDaemon *exif = project->exiftool;
        const int base = std::clamp(int(project->idxMid), 0, std::max(0, int(project->photos.size()) - 1));
        // The colour profile belongs to the pixels: embedded whenever colour
        // management is on, with or without the EXIF transfer (a photo
        // without an embedded profile leaves none to embed).
        QString profile;
        if (colorManagementOn() && project->transformsAreValid() && !project->photos.isEmpty()) {
            profile = job.convertToSrgb ? processingProject::stockProfilePath("sRGB.icm")
                                        : project->photos[base].profilePath;
            if (!profile.isEmpty() && !fileExists(profile))
                profile.clear();
        }
        if (job.transferExif && !project->photos.isEmpty()) {
            const QString source =
                project->isProjectInput() ? project->exifTempPath(base) : project->photos[base].filePath;
            debugLog("Exiftool...\n");
            QString method;
            if (project->photos.size() > 1) {
                int n = 0;
                for (const photoInfo_t &p : project->photos)
                    if (p.included)
                        method += QStringLiteral("[%1] ").arg(++n) + fileNameOf(p.filePath) + ", ";
            }
            // One exiftool command for the EXIF and the profile: the file is
            // rewritten once.
            metadataOk = exif && exif->transferExif(temporary, source, method, false, job.options.dpi,
                                                    job.transferExifGps, false,
                                                    optionsInstance->savingResult.hdrRemoveExpTime, profile);
        } else if (!profile.isEmpty()) {
            metadataOk = exif && exif->writeIccProfile(temporary, profile);
        }
        QString moveReason;
        if (!checkedSaveFile::moveFinishedFile(temporary, fileName, false, &moveReason)) {
            saved = false;
            reason = moveReason;
        } else {
            debugLog("Saved: %s\n", fileName.toLocal8Bit().constData());
            if (batch)
                batchLog(tr("Saved as") + ": " + nativeAbsolutePath(fileName), LOG_GREY);
            if (!metadataOk) {
                const QString text = tr("EXIF transfer failed.");
                if (batch) {
                    batchLog(text, LOG_YELLOW);
                } else {
                    closeProgress();
                    messageShown = true;
                    styledMessageBox::show(this, styledMessageBox::Warning, text);
                }
            }
        }
    } else if (worker) {
        // Nothing of a failed write may stay behind.
        QFile::remove(worker->temporaryName());
    }

    if (saved) {
        lastSaveFailure.clear();
        lastResultName = fileName;
        if (editorRequested && !optionsInstance->externalEditor.enabled && !showProgramOptions(3))
            editorRequested = false;
        if (editorRequested && optionsInstance->externalEditor.enabled) {
            const QString editor = optionsInstance->externalEditor.path;
            debugLog("Export to external editor: '%s'\n", editor.toLocal8Bit().constData());
            debugLog("* fn = '%s'\n", nativeAbsolutePath(fileName).toLocal8Bit().constData());
            QString why;
            if (!startExternalEditor(editor, optionsInstance->externalEditor.args, fileName, &why)) {
                debugLog("%s\n", why.toLocal8Bit().constData());
                if (!messageShown)
                    closeProgress();
                messageShown = true;
                styledMessageBox::show(this, styledMessageBox::Warning, tr("Failed to start the external editor"));
            }
        } else if (!editorRequested) {
            resultSaved = true;
            presetNameAtLastSave = presetNameForSaving;
            updateWindowTitle(fileName);
        }
    } else {
        const QString text = worker ? tr("Cannot write file: %1. You may not have the required permissions.")
                                          .arg(nativeAbsolutePath(fileName))
                                    : tr("Cannot write file. You may not have the required permissions.");
        if (worker)
            debugLog("Saving failed: %s (%s)\n", fileName.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
        else
            debugLog("Saving failed\n");
        lastSaveFailure = reason.isEmpty() ? text : text + "\n" + reason;
        if (batch) {
            batchLog(text, LOG_RED);
        } else if (!startParams.autoProcess) {
            closeProgress();
            messageShown = true;
            styledMessageBox::show(this, styledMessageBox::Error, lastSaveFailure);
        }
    }

    delete worker;
    saveWorker = nullptr;
    setControlsEnabled(true);
    if (!messageShown)
        closeProgress();
    emit resultSaveEnded(saved);

    if (startParams.autoProcess) {
        automaticResultSaved(saved, fileName);
        return;
    }
    if (startParams.plugin && !batch) {
        if (saveAppClose) {
            close();
            return;
        }
        if (saved && !editorRequested
            && styledMessageBox::show(this, styledMessageBox::Confirmation,
                                      tr("Result saved. Do you want to exit and return to the host application now?"),
                                      styledMessageBox::Yes | styledMessageBox::No)
                   == styledMessageBox::Yes) {
            close();
            return;
        }
    }
    if (batch && batchEventLoop)
        batchEventLoop->exit(saved ? 0 : 1);
}

void mainWindow::saveResultNoDialog()
{
    if (!project || !project->batchRunning) {
        // The automatic run: the stored options with the command line's
        // format, no dialog.
        const std::unique_ptr<saveResult> options = automaticSaveDialog(lastResultName);
        saveResultSlot(false, options.get(), false, lastResultName, false);
        return;
    }
    const int type = project->batchOutputType;
    if (type == 19 || type == 20 || type == 21) {
        if (batchEventLoop)
            batchEventLoop->exit(0);
        return;
    }
    auto dialog = std::make_unique<saveResult>(this, lastResultName);
    if (saveOptsJpeg *j = dialog->jpegPanel) {
        j->quality->setValue(batchTask.jpegQuality);
        j->srgb->setChecked(batchTask.convertToSrgb);
        j->transferExif->setChecked(batchTask.transferExif);
        j->gps->setChecked(batchTask.transferExifGps);
        j->dpi->setValue(batchTask.dpi);
    } else if (saveOptsTiff *t = dialog->tiffPanel) {
        t->compression->setCurrentIndex(std::clamp(batchTask.tiffCompression, 0, 2));
        t->bitDepth->setCurrentIndex(std::clamp(batchTask.tiffBitDepth - 1, 0, 1));
        t->srgb->setChecked(batchTask.convertToSrgb);
        t->transferExif->setChecked(batchTask.transferExif);
        t->gps->setChecked(batchTask.transferExifGps);
        t->dpi->setValue(batchTask.dpi);
    }
    saveResultSlot(false, dialog.get(), false, lastResultName, false);
}

void mainWindow::showProgramOptions()
{
    showProgramOptions(-1);
}

bool mainWindow::showProgramOptions(int tab)
{
    // The page shown last is kept between openings (tab -1).
    static int lastTab = 0;
    programOptions dialog(this, project ? project->exiftool : nullptr);
    dialog.tabs->setCurrentIndex(tab >= 0 ? tab : lastTab);
    const int result = dialog.exec();
    lastTab = dialog.tabs->currentIndex();
    if (result == programOptions::resetDialogResult) {
        close();
        return false;
    }
    if (result == 0)
        return false;
    setControlsEnabled(true);
    return true;
}

void mainWindow::exportToExternalEditorSlot()
{
    if (startParams.plugin
        && styledMessageBox::show(
               this, styledMessageBox::Confirmation,
               tr("Lumidra is now working in the plug-in mode. In order to export the result to the host "
                  "application's catalog you just need to save it (anywhere on the hard drive) and exit Lumidra. "
                  "Exporting to external editor has a different meaning - it lets you export the current tone "
                  "mapped result to an image editor for further processing. Do you really want to export to "
                  "external editor?"),
               styledMessageBox::Yes | styledMessageBox::No)
               != styledMessageBox::Yes)
        return;
    programOptionsSettings *o = optionsInstance;
    if (!o->externalEditor.enabled && (!showProgramOptions(3) || !o->externalEditor.enabled))
        return;
    debugLog("Export to external editor: '%s'\n", o->externalEditor.path.toLocal8Bit().constData());
    if (!project || project->sessionDirPath().isEmpty())
        return;
    const QString name = project->sessionDirPath() + "/Lumidra_export" + ".tif";
    auto dialog = std::make_unique<saveResult>(this, name);
    if (saveOptsTiff *t = dialog->tiffPanel) {
        t->transferExif->setChecked(o->externalEditor.transferExif);
        t->gps->setChecked(o->externalEditor.transferExifGPS);
        t->srgb->setChecked(o->externalEditor.convertToSrgb);
        t->dpi->setValue(o->externalEditor.dpi);
        t->compression->setCurrentIndex(std::clamp(o->externalEditor.compression, 0, 2));
        t->bitDepth->setCurrentIndex(std::clamp(o->externalEditor.bitDepth - 1, 0, 1));
    }
    saveResultSlot(false, dialog.get(), true, name, false);
}

namespace {

// A task name as one file name: no folder parts, nothing that climbs out of
// the output folder.
QString safeTaskName(QString name)
{
    name.replace('/', '_');
    name.replace('\\', '_');
    name = name.trimmed();
    if (name.isEmpty() || name == "." || name == "..")
        name = QStringLiteral("task");
    return name;
}

} // namespace

bool mainWindow::processBatchTask(QString nameSuffix, bool saveProject)
{
    if (!project || !project->batchRunning)
        return false;
    const int type = project->batchOutputType;
    if (type == 21) {
        batchLog(tr("Skipping tone mapping") + "...", LOG_YELLOW);
        return true;
    }
    batchLog(tr("Saving result") + "...", LOG_GREY);
    const QString extension = (type == 1 || type == 11) ? ".tif" : (type == 2 || type == 12) ? ".png" : ".jpg";
    const QString base = batchTask.outputFolder + "/" + safeTaskName(batchTask.taskName);
    nameSuffix.replace('/', '_');
    nameSuffix.replace('\\', '_');
    QString imageName, projectName;
    for (int counter = 0;; ++counter) {
        const QString c = counter == 0 ? QString() : QStringLiteral("_%1").arg(counter);
        imageName = base + c + nameSuffix + extension;
        projectName = base + c + nameSuffix + ".lmpx";
        if (batchTask.overwrite || (!fileExists(imageName) && !fileExists(projectName)))
            break;
    }
    lastResultName = imageName;
    const bool wantsProject = saveProject && (type == 10 || type == 11 || type == 19 || type == 20);
    if (wantsProject) {
        if (!project->photos.isEmpty() && project->photos.first().isFloat) {
            batchLog(tr("Cannot save project for a HDR/EXR image."), LOG_YELLOW);
            if (type == 19 || type == 20)
                return false;
        } else {
            // The project save reads its name from here and continues with
            // saveResultNoDialog when it has finished.
            setProperty("batchProjectName", projectName);
            setProperty("batchProjectWithHdr", type == 20);
            saveProjectSlot();
            return true;
        }
    }
    saveResultNoDialog();
    return true;
}
