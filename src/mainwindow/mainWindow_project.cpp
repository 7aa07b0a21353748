// mainWindow: project files. Loading a project: the header is checked before
// anything of the open project changes, the stored photos go through the
// ordinary photo loaders, then a worker reads the ghost mask, the HDR image
// and the layers, which are applied here on the GUI thread. Saving: the
// options dialog, an EXIF carrier per photo, and the save worker writing
// through the checked save (a failed save keeps the previous file).

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "documents/projectFileWorkers.h"
#include "documents/saveProjectOpts.h"
#include "documents/settingsFile.h"
#include "hdrdialogs/EVselection.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/genHDR_options.h"
#include "hdrdialogs/generateHDR.h"
#include "imageio/exiftoolDaemon.h"
#include "project/processingProject.h"
#include "views/layerItem.h"
#include "views/layersTool.h"
#include "widgets/fileDialogs.h"
#include "widgets/imageItem.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstring>

// What a project load keeps between its steps.
struct projectLoadState_t {
    QString path;
    projectHeader_t raw;
    projectFileHeader_t header;
    QThread *thread = nullptr;
    loadProjectWorker *worker = nullptr;
    QTimer *photoWait = nullptr;
};

namespace {

QString projectFilter()
{
    return QCoreApplication::translate("mainWindow", "Lumidra project") + " (*.lmpx)";
}

uint8_t optionByte(double v) { return uint8_t(std::clamp(int(v), 0, 255)); }

// The HDR generation options as the Generate HDR dialog and the EV selector
// show them, into the option bytes of a project header. The noise filter is
// the merge's for several photos, the single-photo enhancement's otherwise.
void hdrOptionsFromDialog(const generateHDR *dialog, const EVselection *ev, int photoCount, projectFileHeader_t &h)
{
    if (ev) {
        h.evSource = ev->exifButton && ev->exifButton->isChecked()         ? 1
                     : ev->exifAEBbutton && ev->exifAEBbutton->isChecked() ? 2
                     : ev->autoButton && ev->autoButton->isChecked()       ? 3
                                                                           : 0;
    }
    if (!dialog)
        return;
    h.autoAlign = dialog->alignAutoCheck->isChecked() ? 1 : 0;
    h.autoLens = dialog->lensAutoCheck->isChecked() ? 1 : 0;
    h.panorama = dialog->panoramaCheck->isChecked() ? 1 : 0;
    const genHDR_options *o = dialog->options;
    h.hdrMethod = uint8_t(std::clamp(o->method(), 0, HDR_METHOD_COUNT - 1));
    h.selectivity = uint8_t(std::max(0, o->selectivity->getSelectivity()));
    h.smartMerge = optionByte(o->smartMerge->strength->value());
    h.deghost = o->ghostRemoval() ? 1 : 0;
    const genHDR_denoise *noise = photoCount > 1 ? o->denoise : dialog->ldrDenoise;
    h.noiseFilter = noise->isChecked() ? 1 : 0;
    h.noiseStrength = optionByte(noise->strengthSlider()->value());
    h.noiseSoftness = optionByte(noise->softnessSlider()->value());
}

// The stored options back into the dialog, signals blocked: "Automatic" lens
// correction and alignment, the noise filter of the project's kind, method,
// ghost removal, selectivity (the last choice for an index past the end),
// the Smart Merge value and the panorama mode; the HDR image is not saved to
// a file again.
void hdrOptionsToDialog(generateHDR *dialog, const projectFileHeader_t &h, int photoCount)
{
    if (!dialog)
        return;
    {
        const QSignalBlocker a(dialog->alignAutoCheck), l(dialog->lensAutoCheck), p(dialog->panoramaCheck);
        dialog->alignAutoCheck->setChecked(h.autoAlign != 0);
        dialog->lensAutoCheck->setChecked(h.autoLens != 0);
        dialog->panoramaCheck->setChecked(h.panorama != 0);
    }
    genHDR_options *o = dialog->options;
    denoiseSettings_t noise;
    noise.enabled = h.noiseFilter != 0;
    noise.strength = h.noiseStrength;
    noise.softness = h.noiseSoftness;
    (photoCount > 1 ? o->denoise : dialog->ldrDenoise)->setSettings(noise);
    o->setMethod(h.hdrMethod < HDR_METHOD_COUNT ? int(h.hdrMethod) : int(hdrMethodTrueHdr));
    {
        const QSignalBlocker s(o->saveHdrCheck);
        o->saveHdrCheck->setChecked(false);
    }
    o->saveHDRtoggled();
    o->setGhostRemoval(h.deghost != 0);
    if (!o->selectivity->buttons.isEmpty()) {
        const int last = int(o->selectivity->buttons.size()) - 1;
        QRadioButton *button = o->selectivity->buttons[std::min<int>(h.selectivity, last)];
        const QSignalBlocker b(button);
        button->setChecked(true);
    }
    {
        const QSignalBlocker s(o->smartMerge->strength);
        o->smartMerge->strength->setValue(h.smartMerge);
    }
}

// Rows of the layers tool after a load: the restored layers shown with their
// names and opacities, the others hidden, the base layer current.
void showLayersInTool(layersTool *tool, processingProject *project, const QString *names)
{
    if (!tool)
        return;
    for (int l = 1; l < LAYER_ROW_COUNT && l < LAYER_COUNT; ++l) {
        layerItem *row = tool->row(l);
        QAction *action = tool->rowAction(l);
        if (!row)
            continue;
        const bool present = project->layerExists[l] != 0;
        if (present) {
            const QString name = names[l].isEmpty() ? layersTool::tr("Layer") + QStringLiteral(" %1").arg(l) : names[l];
            const QSignalBlocker b(row);
            row->setLabelText(name);
            if (row->opacitySlider()) {
                const QSignalBlocker s(row->opacitySlider());
                row->opacitySlider()->setValue(project->layerSettings[l].opacity);
            }
            row->opacityChanged(false);
            if (row->enableBox()) {
                const QSignalBlocker e(row->enableBox());
                row->enableBox()->setChecked(project->layerEnabled[l] != 0);
            }
            if (action)
                action->setText(name);
        }
        row->setVisible(present);
        if (action)
            action->setVisible(present);
    }
    tool->itemChanged(0, true);
    tool->updateThumbnails(true);
}

} // namespace

bool mainWindow::projectLoadRunning() const { return projectLoad != nullptr; }

void mainWindow::loadProjectSlot() { loadProjectSlot(QString()); }

void mainWindow::loadProjectSlot(QString fileName)
{
    const char *fn = "mainWindow::loadProjectSlot";
    if (startParams.plugin) {
        styledMessageBox::show(this, styledMessageBox::Warning,
                               tr("This function is unavailable when working in plug-in mode."));
        return;
    }
    if (projectLoad || projectSaveThread || loadingInProgress) {
        debugLog("%s: busy, '%s' not loaded\n", fn, fileName.toLocal8Bit().constData());
        return;
    }
    if (fileName.isEmpty()) {
        QString start = optionsInstance ? optionsInstance->openSaveDialogs.openSavePhoto_LastDir : QString();
        if (optionsInstance && optionsInstance->savingResult.saveToSourceDirByDefault && !project->photos.isEmpty() &&
            project->photos.first().projectPath.isEmpty())
            start = QFileInfo(project->photos.first().filePath).absolutePath();
        fileName = fileDialogs::openFileName(nullptr, tr("Load project"), start, projectFilter());
        if (fileName.isEmpty())
            return;
    }
    if (optionsInstance)
        optionsInstance->openSaveDialogs.openSavePhoto_LastDir = QFileInfo(fileName).absolutePath();
    debugLog("Load project: %s\n", fileName.toLocal8Bit().constData());

    // The file is checked before the open project is touched: a file that
    // cannot be used leaves everything as it was.
    {
        QFile probe(fileName);
        if (!probe.open(QIODevice::ReadOnly)) {
            styledMessageBox::show(this, styledMessageBox::Error,
                                   tr("Cannot access file: %1.").arg(QDir::toNativeSeparators(fileName)));
            return;
        }
    }
    auto state = std::make_shared<projectLoadState_t>();
    state->path = fileName;
    QString reason;
    switch (readProjectFileHeader(fileName, state->raw, state->header, &reason)) {
    case projectHeaderResult_t::ok:
        break;
    case projectHeaderResult_t::unsupportedVersion:
        debugLog("%s: bad version number or header size: %s\n", fn, reason.toLocal8Bit().constData());
        styledMessageBox::show(this, styledMessageBox::Error, tr("Unsupported project version."));
        return;
    case projectHeaderResult_t::unreadable:
    case projectHeaderResult_t::damaged:
        debugLog("%s: %s: %s\n", fn, fileName.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("The project file is damaged or cut short: %1.")
                                   .arg(QDir::toNativeSeparators(fileName)));
        return;
    }
    QString payloadProblem;
    if (!checkProjectPayload(fileName, state->header, &payloadProblem)) {
        debugLog("%s: %s: %s\n", fn, fileName.toLocal8Bit().constData(), payloadProblem.toLocal8Bit().constData());
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("The project file is damaged or cut short: %1.")
                                   .arg(QDir::toNativeSeparators(fileName)));
        return;
    }

    if (!project->photos.isEmpty()) {
        if (styledMessageBox::show(this, styledMessageBox::Confirmation, tr("Close current project?"),
                                   styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes)
            return;
    }
    if (!project->photos.isEmpty() || project->width > 0)
        newProject(true);
    stopPresetThumbnails();
    for (QString &name : projectLayerNames)
        name.clear();
    projectLayerCount = 1;
    projectHdrOptions.reset();

    const projectFileHeader_t &header = state->header;
    QStringList names;
    QList<photoInfo_t> prepared;
    bool refused = false;
    for (int slot = 0; slot < header.photoSlots && slot < PROJECT_FILE_PHOTO_SLOTS; ++slot) {
        if (header.photoNames[slot].isEmpty())
            continue;
        photoInfo_t record;
        record.filePath = header.photoNames[slot] + "-lmpx";
        record.projectPath = fileName;
        record.projectPhotoIndex = slot;
        record.projectWidth = header.width;
        record.projectHeight = header.height;
        record.projectBitDepth = header.photoConstant;
        record.projectFlag = header.inputsEmbedded() ? 1 : 0;
        memcpy(&record.projectHeader, &state->raw, sizeof(projectHeader_t));
        record.autoRotate = 0;
        record.loadDivisor = 1;
        const int result = project->loadPhotoPrepare(record, int(prepared.size()), header.photoSlots, false);
        if (result != processingProject::LOAD_PREPARED) {
            refused = true;
            break;
        }
        names << record.filePath;
        prepared.append(record);
    }
    if (refused) {
        newProject(true);
        styledMessageBox::show(this, styledMessageBox::Error, tr("Failed to load project."));
        return;
    }

    projectLoad = state;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (prepared.isEmpty()) {
        // A project of the HDR image alone: the image size comes from the header.
        project->width = header.width;
        project->height = header.height;
        if (!project->allocatePyramids() || !project->allocatePreview()) {
            projectLoad.reset();
            QApplication::restoreOverrideCursor();
            newProject(true);
            styledMessageBox::show(this, styledMessageBox::Error, tr("Not enough memory!"));
            return;
        }
        startProjectExtras();
        return;
    }
    if (!startPreparedPhotos(prepared)) {
        projectLoad.reset();
        QApplication::restoreOverrideCursor();
        return;
    }
    // The rest of the file is read once every photo is in.
    state->photoWait = new QTimer(this);
    state->photoWait->setInterval(20);
    connect(state->photoWait, &QTimer::timeout, this, [this] {
        if (!projectLoad || loadingInProgress || anyLoadRunning())
            return;
        projectLoad->photoWait->stop();
        projectLoad->photoWait->deleteLater();
        projectLoad->photoWait = nullptr;
        startProjectExtras();
    });
    state->photoWait->start();
}

bool mainWindow::startPreparedPhotos(const QList<photoInfo_t> &prepared)
{
    loadingInProgress = true;
    setControlsEnabled(false);
    queuePhotoLoads(prepared, uint64_t(prepared.size()) * uint64_t(project->width + project->height) * 4);
    return true;
}

void mainWindow::startProjectExtras()
{
    projectLoadState_t &state = *projectLoad;
    const int photoCount = int(project->photos.size());
    int expected = 0;
    for (int slot = 0; slot < state.header.photoSlots; ++slot)
        expected += state.header.photoNames[slot].isEmpty() ? 0 : 1;
    if (photoCount != expected) {
        // A photo could not be read: the project is not opened half.
        debugLog("%s: %d of %d photos loaded\n", "mainWindow::loadProjectSlot", photoCount, expected);
        projectLoad.reset();
        QApplication::restoreOverrideCursor();
        newProject(true);
        styledMessageBox::show(this, styledMessageBox::Error, tr("Failed to load project."));
        emit projectLoaded(false);
        return;
    }
    // The stored EVs and the new ids of the photos in slot order.
    std::vector<int> ids;
    for (int slot = 0; slot < state.header.photoSlots; ++slot)
        for (photoInfo_t &p : project->photos)
            if (p.projectPhotoIndex == slot && p.projectPath == state.path) {
                ids.push_back(p.id);
                const double ev = state.header.evs[slot];
                p.ev = p.evManual = ev;
                p.evLn = ev * M_LN2;
                if (imageItem *row = findImageItem(p.id))
                    row->setInfo(p);
            }
    if (photoCount > 0)
        setEvLabels(false);
    if (photoCount > 0 && !project->hdrImage.levels[0].data)
        project->allocatePyramids();
    if (state.header.hdrOffset && !project->hdrImage.levels[0].data) {
        debugLog("%s: no room for the HDR image\n", "mainWindow::loadProjectSlot");
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    state.thread = new QThread();
    state.worker = new loadProjectWorker(project, state.path, state.header, ids);
    state.worker->moveToThread(state.thread);
    connect(state.thread, &QThread::started, state.worker, &loadProjectWorker::doLoadProject);
    connect(state.worker, &loadProjectWorker::finished, this, &mainWindow::loadProjectFinished);
    connect(state.worker, &loadProjectWorker::finished, state.thread, &QThread::quit, Qt::DirectConnection);
    connect(state.thread, &QThread::finished, state.thread, &QObject::deleteLater);
    state.thread->start(QThread::InheritPriority);
}

void mainWindow::loadProjectFinished()
{
    const char *fn = "mainWindow::loadProjectFinished";
    if (!projectLoad)
        return;
    std::shared_ptr<projectLoadState_t> state = projectLoad;
    projectLoad.reset();
    if (state->thread)
        state->thread->wait();
    loadProjectWorker *worker = state->worker;
    bool ok = worker && worker->success;
    const projectFileHeader_t &header = state->header;
    const projectLoadResult_t empty;
    const projectLoadResult_t &result = worker ? worker->result : empty;

    // Layers present come back in slot order into consecutive layers.
    int layer = 0;
    for (const projectLoadResult_t::layer_t &stored : result.layers) {
        if (stored.slot > 0) {
            if (layer + 1 >= LAYER_COUNT)
                break;
            ++layer;
            pyramid &mask = project->layerMasks[layer];
            mask.freeAll();
            if (!mask.makePyramid(project->width, project->height, 1, 1, 1, true) ||
                stored.mask.size() != size_t(project->width) * size_t(project->height)) {
                debugLog("%s: Failed while loading layer %d #2.\n", fn, layer);
                ok = false;
                continue;
            }
            memcpy(mask.levels[0].data, stored.mask.data(), stored.mask.size());
            mask.buildLevelsFrom(0);
            project->layerExists[layer] = 1;
            project->layerEnabled[layer] = 1;
            project->layersOn = true;
            projectLayerNames[layer] = stored.name;
        }
        processingParams_t &settings = project->layerSettings[layer];
        if (!stored.settings.isEmpty()) {
            QString why;
            if (settingsFromBytes(stored.settings, &settings, &why) != SETTINGS_LOADED) {
                debugLog("%s: Failed while loading tone mapping settings %d #4.\n", fn, layer);
                ok = false;
            }
        }
        settings.layerTag = PP_NO_PRESET;
        if (stored.slot > 0)
            settings.opacity = std::clamp(stored.opacity, 0.0, 1.0);
        if (!stored.ok)
            ok = false;
    }
    projectLayerCount = layer + 1;
    for (int l = projectLayerCount; l < 10; ++l)
        projectLayerNames[l].clear();
    showLayersInTool(layersToolWidget, project, projectLayerNames);
    clearHistory(-1);
    // The base layer's settings in the panels (forced: padlocks do not keep
    // values of the project that was open before).
    project->currentLayer = 0;
    applySettingsToPanels(&project->layerSettings[0], true);

    QApplication::restoreOverrideCursor();
    finishProgress();
    currentProjectPath = state->path;

    // The HDR generation options as they were saved, in the Generate HDR
    // dialog (and kept for a project without photos).
    projectHdrOptions = std::make_shared<projectFileHeader_t>(header);
    if (!project->photos.isEmpty())
        hdrOptionsToDialog(generateHdrDialog(), header, int(project->photos.size()));
    project->panoramaMode = header.panorama != 0;
    project->hdrState.lensCorrected = false;
    if (result.hdrImageRead) {
        project->hdrState.hdrMedian = header.hdrPreprocess[0];
        project->hdrState.lcCorrection = header.hdrPreprocess[1];
    }
    if (!ok) {
        for (const QString &p : result.problems)
            debugLog("%s: %s\n", fn, p.toLocal8Bit().constData());
        styledMessageBox::show(this, styledMessageBox::Error, tr("Failed to load project."));
    }
    if (ok && result.hdrImageRead) {
        project->hdrImage.buildLevelsFrom(0, project->taskCount());
        project->hdrState.hdrPresent = project->photos.size() > 1;
        project->hdrState.ldrResult = project->photos.size() == 1;
        project->hdrState.resultValid = true;
        hdrGenerated();
    } else if (!project->photos.isEmpty()) {
        showGenerateHDR(false);
    }
    toggleFullScreen2();
    debugLog(ok ? "Project loaded.\n" : "Project load FAILED.\n");
    updateThumbnails();
    invalidatePresets();
    delete worker;
    emit projectLoaded(ok);
}

void mainWindow::saveProjectSlot() { saveProjectSlot(QString(), false); }

void mainWindow::saveProjectSlot(QString fileName, bool batchWithHDR)
{
    const char *fn = "mainWindow::saveProjectSlot";
    if (projectSaveThread || projectLoad || loadingInProgress) {
        debugLog("%s: busy\n", fn);
        return;
    }
    const bool haveHdr = project->hdrImage.levels[0].data && project->hdrState.resultValid;
    if (project->width <= 0 || (project->photos.isEmpty() && !haveHdr)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("There is nothing to save."));
        return;
    }
    if (project->photos.size() > PROJECT_FILE_PHOTO_SLOTS) {
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("A project file holds at most %1 photos.").arg(PROJECT_FILE_PHOTO_SLOTS));
        return;
    }
    const bool batch = !fileName.isEmpty();
    if (fileName.isEmpty()) {
        QStringList paths;
        for (const photoInfo_t &p : project->photos)
            paths << p.filePath;
        const QString middle = project->photos.isEmpty()
                                   ? QString()
                                   : project->photos[std::clamp(project->idxMid, 0, int(project->photos.size()) - 1)]
                                         .filePath;
        const QString pattern = optionsInstance ? optionsInstance->savingResult.defaultOutputFileName : QString();
        QString folder;
        if (optionsInstance && optionsInstance->savingResult.saveToSourceDirByDefault && !paths.isEmpty())
            folder = QFileInfo(paths.first()).absolutePath();
        else if (optionsInstance && QDir(optionsInstance->openSaveDialogs.savePhoto_LastDir).exists())
            folder = optionsInstance->openSaveDialogs.savePhoto_LastDir;
        QString proposal = paths.isEmpty() ? QStringLiteral("project")
                                           : joinFileNamesShortDefault(paths, middle, pattern);
        proposal = QFileInfo(proposal).completeBaseName().isEmpty() ? proposal : QFileInfo(proposal).fileName();
        const QString start = folder.isEmpty() ? proposal : folder + "/" + proposal;
        fileName = fileDialogs::saveFileName(nullptr, tr("Save as"), start, projectFilter());
        if (fileName.isEmpty())
            return;
        if (QFileInfo(fileName).suffix().toLower() != "lmpx")
            fileName += ".lmpx";
        if (QFileInfo::exists(fileName) &&
            styledMessageBox::show(this, styledMessageBox::Confirmation,
                                   tr("%1 already exists.<br>Do you want to replace it?")
                                       .arg(QDir::toNativeSeparators(fileName)),
                                   styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes)
            return;
    } else if (QFileInfo(fileName).suffix().toLower() != "lmpx") {
        fileName += ".lmpx";
    }
    if (optionsInstance) {
        const QString folder = QFileInfo(fileName).absolutePath();
        if (optionsInstance->savingResult.saveToSourceDirByDefault)
            optionsInstance->openSaveDialogs.openSavePhoto_LastDir = folder;
        optionsInstance->openSaveDialogs.savePhoto_LastDir = folder;
    }

    // Which heavy data goes in.
    bool saveHdr = batchWithHDR, saveInputs = true;
    // Photos read from a project that did not embed them have no pixels to
    // store.
    bool photosWithoutPixels = false;
    // A photo opened from an HDR file has no 16-bit pixels to store: its
    // picture is the HDR image, which must then go in or nothing of it
    // would come back.
    bool hdrPhotos = false;
    for (const photoInfo_t &p : project->photos) {
        if (!p.projectPath.isEmpty() && !p.projectFlag)
            photosWithoutPixels = true;
        if (p.isFloat)
            hdrPhotos = true;
    }
    const bool hdrRequired = haveHdr && hdrPhotos;
    if (!batch) {
        saveProjectOpts options(this);
        options.hdrBox->setEnabled(haveHdr && !hdrRequired);
        if (photosWithoutPixels) {
            options.hdrBox->setEnabled(false);
            options.inputsBox->setEnabled(false);
        }
        if (!options.hdrBox->isEnabled())
            options.hdrBox->setChecked(haveHdr);
        if (!options.inputsBox->isEnabled())
            options.inputsBox->setChecked(false);
        if (project->photos.isEmpty()) {
            options.inputsBox->setChecked(false);
            options.inputsBox->setEnabled(false);
        }
        if (options.exec() != QDialog::Accepted)
            return;
        saveHdr = options.hdrBox->isChecked() && haveHdr;
        saveInputs = options.inputsBox->isChecked();
    }
    if (photosWithoutPixels)
        saveInputs = false;
    if (hdrRequired)
        saveHdr = true;

    projectSaveJob_t job;
    job.target = fileName;
    job.saveInputs = saveInputs;
    job.saveHdr = saveHdr;
    // The HDR options as the Generate HDR dialog and the EV selector hold
    // them, read here on the GUI thread (a project of the HDR image alone
    // keeps the options it was loaded with).
    if (projectHdrOptions)
        job.options = *projectHdrOptions;
    if (!project->photos.isEmpty())
        hdrOptionsFromDialog(generateHdrDialog(), evSelection, int(project->photos.size()), job.options);
    for (int i = 0; i < PROJECT_FILE_LAYER_SLOTS && i < LAYER_COUNT; ++i) {
        job.layerPresent[i] = i == 0 || (project->layerExists[i] && project->layerMasks[i].levels[0].data);
        if (!job.layerPresent[i])
            continue;
        // The name the layer row shows; a layer made without a row keeps
        // the name it was loaded with.
        QString name;
        if (i > 0 && layersToolWidget && layersToolWidget->row(i) && layersToolWidget->row(i)->isVisibleTo(layersToolWidget))
            name = layersToolWidget->row(i)->getLabelText();
        job.layerNames[i] = i == 0 ? QString() : name.isEmpty() ? projectLayerNames[i] : name;
        job.layerOpacity[i] = i == 0 ? 1.0 : project->layerSettings[i].opacity;
        job.layerSettings[i] = settingsToBytes(project->layerSettings[i]);
    }

    // EXIF carriers: a tiny JPEG per photo that holds its tags. The save
    // makes them on its own thread while it compresses the pixels; what
    // they need is copied here.
    job.exiftool = project->exiftool;
    const bool embedProfiles = optionsInstance && optionsInstance->colorManagement.enabled;
    for (int j = 0; j < project->photos.size(); ++j) {
        const photoInfo_t &photo = project->photos[j];
        const quint8 type = fileTypeOf(photo.filePath);
        exifCarrierJob_t carrier;
        if (type == FILETYPE_JPEG || type == FILETYPE_TIFF || type == FILETYPE_RAW || type == FILETYPE_FITS ||
            type == FILETYPE_PROJECT) {
            carrier.carrier = project->sessionPath + QStringLiteral("/dummy_%1.jpg").arg(j);
            carrier.source = type == FILETYPE_PROJECT ? project->exifTempPath(photo.projectPhotoIndex) : photo.filePath;
            carrier.writeTags = type == FILETYPE_FITS;
            carrier.tags = photo.exif;
            carrier.tags.stripOffsets = nullptr;
            carrier.tags.stripByteCounts = nullptr;
            carrier.tags.stripCount = carrier.tags.stripByteCountCount = 0;
            if (embedProfiles)
                carrier.iccProfile = photo.profilePath;
        }
        job.carrierJobs.push_back(carrier);
    }

    toggleFullScreen2();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const uint64_t pixels = uint64_t(std::max(0, project->width)) * uint64_t(std::max(0, project->height));
    const uint64_t total = (uint64_t(saveInputs ? project->photos.size() : 0) + (saveHdr ? 2 : 0)) * pixels * 6;
    startProgress(std::max<uint64_t>(total, 1), true);
    progressCounter = 0;
    breakFlag = false;

    projectSaver = new saveProjectWorker(project, job);
    projectSaveThread = new QThread();
    projectSaver->moveToThread(projectSaveThread);
    connect(projectSaveThread, &QThread::started, projectSaver, &saveProjectWorker::doSaveProject);
    connect(projectSaver, &saveProjectWorker::finished, this, &mainWindow::saveProjectFinished);
    connect(projectSaver, &saveProjectWorker::finished, projectSaveThread, &QThread::quit, Qt::DirectConnection);
    connect(projectSaveThread, &QThread::finished, projectSaveThread, &QObject::deleteLater);
    projectSaveThread->start(QThread::InheritPriority);
}

void mainWindow::saveProjectFinished()
{
    saveProjectWorker *worker = projectSaver;
    if (!worker)
        return;
    projectSaver = nullptr;
    if (projectSaveThread)
        projectSaveThread->wait();
    projectSaveThread = nullptr;
    finishProgress();
    QApplication::restoreOverrideCursor();
    // Carriers the save did not take are removed.
    for (const QString &carrier : worker->job().carrierPaths)
        if (!carrier.isEmpty())
            QFile::remove(carrier);
    const QString target = worker->job().target;
    const bool ok = worker->success;
    if (!ok) {
        debugLog("%s: %s\n", "saveProjectWorker::doSaveProject", worker->errorText.toLocal8Bit().constData());
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("Failed to save project.") +
                                   (worker->errorText.isEmpty() ? QString() : "<br><br>" + worker->errorText));
    } else {
        currentProjectPath = target;
        debugLog("Project saved: %s\n", target.toLocal8Bit().constData());
    }
    toggleFullScreen2();
    delete worker;
    emit projectSaved(ok);
}

bool mainWindow::stopProjectWorkers()
{
    if (projectLoad) {
        std::shared_ptr<projectLoadState_t> state = projectLoad;
        if (state->photoWait)
            state->photoWait->stop();
        if (state->thread) {
            state->thread->wait();
            // The result is applied (or dropped when the window closes).
            if (!closing)
                loadProjectFinished();
            else {
                delete state->worker;
                projectLoad.reset();
            }
        } else {
            projectLoad.reset();
            QApplication::restoreOverrideCursor();
        }
    }
    if (projectSaveThread) {
        breakFlag = true;
        projectSaveThread->wait();
        saveProjectFinished();
    }
    return true;
}
