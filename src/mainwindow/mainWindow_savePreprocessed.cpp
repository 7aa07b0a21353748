// mainWindow: saving the preprocessed input photos (as they are after lens
// correction and alignment) with the metadata of their source photos.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "hdr/savePreprocessedWorker.h"
#include "imageio/exiftoolDaemon.h"
#include "project/processingProject.h"
#include "widgets/saveDialogs.h"
#include "widgets/savePreprocessedDialog.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>

#include <algorithm>
#include <memory>

void mainWindow::savePreprocessedSlot()
{
    if (savePreprocessedRunning || !project || project->photos.isEmpty())
        return;
    QString folder = lastPreprocessedFolder;
    if (folder.isEmpty())
        folder = completeDirPath(project->photos.first().filePath);

    auto dialog = std::make_unique<savePreprocessedDialog>(this, project, folder);
    dialog->jpegPanel->resize->hide();
    if (dialog->run() != 1)
        return;

    auto *worker = new savePreprocessedWorker;
    lastPreprocessedFolder = dialog->folder();
    worker->folder = lastPreprocessedFolder;
    worker->format = dialog->formatBox->currentIndex();
    const QString text = dialog->text->text();
    if (dialog->prefixButton->isChecked())
        worker->prefix = text + "_";
    else
        worker->suffix = "_" + text;
    if (worker->format == 0) {
        worker->jpegQuality = int(dialog->jpegPanel->quality->value());
        worker->dpi = dialog->jpegPanel->dpi->value();
    } else if (worker->format == 1) {
        worker->tiffCompression = dialog->tiffPanel->compression->currentIndex();
        worker->tiffBitDepth = dialog->tiffPanel->bitDepth->currentIndex() + 1;
        worker->dpi = dialog->tiffPanel->dpi->value();
    }
    worker->project = project;
    worker->window = this;
    dialog.reset();

    savePreprocessedRunning = true;
    setControlsEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const uint64_t pixels = uint64_t(std::max(0, project->width)) * uint64_t(std::max(0, project->height));
    startProgress(std::max<uint64_t>(1, uint64_t(project->photos.size()) * pixels), false);

    QThread *thread = new QThread;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &savePreprocessedWorker::doSavePreprocessed);
    connect(worker, &savePreprocessedWorker::finished, this, &mainWindow::savePreprocessedFinished,
            Qt::QueuedConnection);
    connect(worker, &savePreprocessedWorker::finished, thread, &QThread::quit, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QThread::deleteLater);
    thread->start();
}

void mainWindow::savePreprocessedFinished()
{
    auto *worker = qobject_cast<savePreprocessedWorker *>(sender());
    if (!worker)
        return;
    if (QThread *t = worker->thread(); t && t != QThread::currentThread())
        t->wait();

    bool metadataOk = true;
    if (worker->allSaved) {
        exiftoolDaemon *exif = project->exiftool;
        const bool withProfiles = optionsInstance && optionsInstance->colorManagement.enabled
                                  && project->transformsAreValid();
        for (int i = 0; i < worker->savedFiles.size() && i < project->photos.size(); ++i) {
            const photoInfo_t &photo = project->photos[i];
            const QString source = project->isProjectInput() ? project->exifTempPath(i) : photo.filePath;
            const QString &target = worker->savedFiles[i];
            metadataOk = exif && exif->transferExif(target, source, QString(), true, worker->dpi, true, false, false)
                         && metadataOk;
            if (withProfiles && !photo.profilePath.isEmpty())
                metadataOk = exif && exif->writeIccProfile(target, photo.profilePath) && metadataOk;
        }
    }

    finishProgress();
    progressCounter = 0;
    setControlsEnabled(true);
    QApplication::restoreOverrideCursor();
    savePreprocessedRunning = false;

    if (!worker->allSaved) {
        const QString name = worker->failedFile.isEmpty() ? worker->folder : worker->failedFile;
        debugLog("Saving failed: %s\n", qPrintable(name));
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("Cannot write file: %1. You may not have the required permissions.")
                                   .arg(nativeAbsolutePath(name)));
    } else if (!metadataOk) {
        styledMessageBox::show(this, styledMessageBox::Warning, tr("EXIF transfer failed."));
    }
    const bool allSaved = worker->allSaved;
    lastPreprocessedFiles = worker->savedFiles;
    delete worker;
    emit preprocessedSaveEnded(allSaved);
}
