// mainWindow: new project, adding photos (file dialog, drops, command line)
// on parallel load threads, the photo list with its EV labels and "before"
// entries, the four EV sources, removing a photo, and stopping the loaders.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "hdrdialogs/EVselection.h"
#include "hdrdialogs/loadOptionDialogs.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/exiftoolOutput.h"
#include "mainwindow/loadOptions.h"
#include "platform/systemMemory.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "project/pyramid.h"
#include "views/layersTool.h"
#include "widgets/fileDialogs.h"
#include "widgets/imageItem.h"
#include "widgets/myQComboBox.h"
#include "widgets/myQTabWidget.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStorageInfo>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char *const PHOTO_FILTER =
    " (*.jpg *.jpeg *.tif *.tiff *.exr *.hdr *.bmp *.png *.fit *.fits *.fts *.lmpx *.3fr *.raw *.rw2 *.crw *.cr2 "
    "*.mrw *.nef *.orf *.dng *.pef *.arw *.dcr *.kdc *.srf *.sr2 *.raf *.mdc *.erf *.x3f *.dcs *.rwl *.nrw "
    "*.srw);;Lumidra (*.lmpx);;JPEG (*.jpg *.jpeg);;TIFF 8/16/32-bit (*.tif *.tiff);;PNG (*.png);;BMP (*.bmp);;"
    "OpenEXR (*.exr);;Radiance RGBE (*.hdr);;FITS (*.fts *.fit *.fits);;Canon RAW (*.crw *.cr2);;Nikon RAW "
    "(*.nef *.nrw);;Fuji RAW (*.raf);;Olympus RAW (*.orf);;Sony RAW (*.srf *.sr2 *.arw);;Samsung RAW (*.srw);;"
    "Pentax RAW (*.pef);;Minolta RAW (*.mrw *.mdc);;Kodak RAW (*.dcr *.dcs *.kdc);;Leica RAW (*.raw *.dng);;"
    "Sigma RAW (*.x3f);;Hasselblad RAW (*.3fr);;Epson RAW (*.erf);;Panasonic RAW (*.raw *.rw2 *.rwl);;Adobe "
    "Digital Negative (*.dng);;All files (*.*)";

constexpr qint64 LARGE_PHOTO_FILE = 31457280; // 30 MB

bool exifTextEmpty(const char *text) { return !text || !*text; }

} // namespace

int loadThreadCount(int width, int height, int coreLimit, int idealThreads, const QList<qint64> &queuedFileSizes,
                    qint64 availableMemory)
{
    const int64_t megapixels = int64_t(width) * height / 1000000;
    int n = megapixels <= 10 ? 5 : megapixels <= 20 ? 3 : 2;
    // Fewer loaders for large photos keep the memory of the decoding buffers
    // low. Where the machine has plenty free, large photos load five at a
    // time as well: each further loader needs its own buffer (6 bytes a
    // pixel) and as much again while it works, with 1 GiB left over.
    if (availableMemory > 0) {
        const int64_t perLoader = int64_t(width) * height * 6 * 2;
        while (n < 5 && int64_t(n + 1 - 2) * perLoader + (int64_t(1) << 30) <= availableMemory)
            ++n;
    }
    const int cores = std::min(std::max(1, idealThreads), 64);
    const int limit = coreLimit > 0 ? std::min(coreLimit, cores) : cores;
    n = std::min(n, limit);
    n = std::min(n, int(mainWindow::LOAD_SLOT_COUNT));
    n = std::min(n, int(queuedFileSizes.size()));
    if (n > 2) {
        for (int i = 0; i < n; ++i)
            if (queuedFileSizes[i] > LARGE_PHOTO_FILE) {
                n = 2;
                break;
            }
    }
    return std::max(n, queuedFileSizes.isEmpty() ? 0 : 1);
}

partialExifReply_t parsePartialExifReply(const QStringList &lines)
{
    partialExifReply_t r;
    r.answered = !lines.isEmpty();
    if (!r.answered)
        return r;
    // A value the reply does not give counts as ISO 100 and f/1.0.
    r.iso = 100;
    r.fNumber = 1.0;
    for (const QString &line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QString label = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        bool ok = false;
        if (label == "ISO") {
            const int v = value.toInt(&ok);
            if (ok)
                r.iso = v;
        } else if (label == "Exposure Time") {
            if (value.contains('/')) {
                const int n = value.section('/', 0, 0).trimmed().toInt(&ok);
                bool ok2 = false;
                const int d = value.section('/', 1, 1).trimmed().toInt(&ok2);
                if (ok && ok2 && d != 0)
                    r.exposureTime = double(n) / d;
            } else {
                const double v = value.toDouble(&ok);
                if (ok)
                    r.exposureTime = v;
            }
        } else if (label == "Aperture Value") {
            const double v = value.toDouble(&ok);
            if (ok)
                r.fNumber = v;
        }
    }
    return r;
}

// --- the list ---------------------------------------------------------------

void mainWindow::buildPhotoList()
{
    auto *list = new QWidget();
    list->setObjectName("photoList");
    imageLayout = new QVBoxLayout(list);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    imageLayout->setSpacing(int(2 * uiScale));
    photoListSlot->addWidget(list);

    photoInfo_t hdrRecord;
    hdrRecord.id = HDR_ITEM_ID;
    hdrRecord.filePath = "HDR";
    imageItemMarks_t marks;
    marks.hdrEntry = true;
    hdrItem = new imageItem(0, &hdrRecord, nullptr, marks);
    hdrItem->beforeAction->setText("HDR");
    imageLayout->addWidget(hdrItem);
    hdrItem->hide();
    connect(hdrItem, &imageItem::itemSelected, this, &mainWindow::imageItemChanged);

    evSelection = new EVselection();
    evSelectionSlot->addWidget(evSelection);
    connect(evSelection, &EVselection::EVmanualSelect, this, &mainWindow::EVmanualSelectSlot);
    connect(evSelection, &EVselection::EVsetFromExif, this, &mainWindow::EVsetFromExifSlot);
    connect(evSelection, &EVselection::EVsetFromExifAEB, this, &mainWindow::EVsetFromExifAEBslot);
    connect(evSelection, &EVselection::EVauto, this, &mainWindow::EVautoSlot);
    connect(beforeGroup, &QActionGroup::triggered, this, [this] { showBeforeSlot(); });

    // The project's own messages (sizes, profiles) reach the person the way
    // every other message does; from a worker thread they are passed on.
    project->messageHandler = [this](projectMessage_t kind, const QString &text) {
        const int k = kind == projectMessage_t::error ? styledMessageBox::Error : styledMessageBox::Warning;
        if (QThread::currentThread() == thread())
            photoMessage(k, text);
        else
            QMetaObject::invokeMethod(this, [this, k, text] { photoMessage(k, text); }, Qt::QueuedConnection);
    };
}

void mainWindow::photoMessage(int kind, const QString &text)
{
    if (project && project->batchRunning) {
        debugLog("%s: %s\n", "mainWindow", text.toLocal8Bit().constData());
        return;
    }
    // The automatic run's hook logs the text and answers; nothing waits.
    styledMessageBox::show(this, kind, text);
}

imageItem *mainWindow::findImageItem(int id) const
{
    if (id == HDR_ITEM_ID)
        return hdrItem;
    for (imageItem *row : imageItems)
        if (row->id() == id)
            return row;
    return nullptr;
}

void mainWindow::connectImageItem(const photoInfo_t &photo)
{
    auto *row = new imageItem(0, &photo);
    imageItems.append(row);
    if (currentWindowState().projectWithoutInputs)
        row->setEnabled(false);
    connect(row, &imageItem::itemStateChanged, this, &mainWindow::imageItemStateChanged);
    connect(row, &imageItem::itemSelected, this, &mainWindow::imageItemChanged);
    if (row->evSlider) {
        {
            const QSignalBlocker blocker(row->evSlider);
            row->evSlider->setValue(photo.ev);
        }
        connect(row->evSlider, &slider::valueChanged, this, [this] { evChanged(); });
    }
    imageLayout->insertWidget(1, row);
    ++includedCount;
}

bool mainWindow::removeImageItem(int id)
{
    imageItem *row = nullptr;
    int index = -1;
    for (int i = 0; i < imageItems.size(); ++i)
        if (imageItems[i]->id() == id) {
            row = imageItems[i];
            index = i;
        }
    if (!row) {
        debugLog("%s: Id = %d not found\n", "mainWindow::removeImageItem", id);
        return false;
    }
    debugLog("Removing photo: %s (id=%d, i=%d)\n", row->record().filePath.toLocal8Bit().constData(), id, index);
    imageLayout->removeWidget(row);
    imageItems.removeAt(index);
    if (row->included())
        --includedCount;
    if (beforeGroup)
        beforeGroup->removeAction(row->beforeAction);
    delete row;
    project->hdrState.resultValid = false;
    project->hdrState.hdrPresent = false;
    project->hdrState.ldrResult = false;
    project->hdrState.fourthFlag = false;
    project->hdrState.responseRecovered = false;
    project->removePhoto(id);
    return true;
}

void mainWindow::setEvLabels(bool invalidate)
{
    QList<imageItem *> rows = imageItems;
    auto evOf = [](imageItem *r) { return r->evSlider ? r->evSlider->value() : r->record().ev; };
    std::stable_sort(rows.begin(), rows.end(), [&](imageItem *a, imageItem *b) { return evOf(a) < evOf(b); });

    QList<photoInfo_t> &photos = project->photos;
    for (int i = 0; i < photos.size(); ++i)
        for (int j = i + 1; j < photos.size(); ++j)
            if (photos[j].ev < photos[i].ev)
                photos.swapItemsAt(i, j);

    for (QAction *a : beforeGroup->actions())
        beforeGroup->removeAction(a);
    beforeMenu->clear();

    const bool firstIsHdr = !photos.isEmpty() && photos.first().isFloat;
    const int n = rows.size();
    QAction *previous = nullptr;
    for (int i = 0; i < n; ++i) {
        imageItem *row = rows[i];
        imageLayout->removeWidget(row);
        imageLayout->insertWidget(0, row);
        const int idx = project->getImageInfoIdx(row->id());
        if (idx < 0) {
            debugLog("%s: Id = %d not found\n", "processingProject::getImageInfoIdx", row->id());
            continue;
        }
        const photoInfo_t &p = photos[idx];
        const QString name = QFileInfo(p.filePath).fileName();
        QAction *a = row->beforeAction;
        a->setText(firstIsHdr ? name : QString::number(p.ev, 'f', 2) + " EV: " + name);
        beforeGroup->addAction(a);
        beforeMenu->insertAction(previous, a);
        previous = a;
        a->setShortcut(n <= 9 ? QKeySequence(QString("Ctrl+%1").arg(n - i)) : QKeySequence());
    }
    // The HDR row stays above the photos.
    imageLayout->removeWidget(hdrItem);
    imageLayout->insertWidget(0, hdrItem);
    hdrItem->beforeAction->setText("HDR");
    hdrItem->setVisible(project->hdrState.hdrPresent);
    if (project->hdrState.hdrPresent) {
        beforeMenu->addSeparator();
        beforeGroup->addAction(hdrItem->beforeAction);
        beforeMenu->addAction(hdrItem->beforeAction);
        hdrItem->beforeAction->setShortcut(QKeySequence("Ctrl+0"));
    }
    if (invalidate) {
        project->evRange();
        debugLog("Invalidating response curve...\n");
        project->hdrState.responseRecovered = false;
    }
}

void mainWindow::selectImageItem(int id, bool keepImage, bool force)
{
    imageItem *target = findImageItem(id);
    if (!force && target && target->property("imageItemSelected").toBool())
        return;
    QList<imageItem *> rows = imageItems;
    rows.append(hdrItem);
    for (imageItem *row : rows) {
        const bool selected = row == target;
        row->setProperty("imageItemSelected", selected);
        row->beforeAction->setChecked(selected);
        QResizeEvent resize(row->size(), row->size());
        QApplication::sendEvent(row, &resize);
        widgetSupport::repolish(row);
    }
    if (!keepImage && target) {
        if (id == HDR_ITEM_ID) {
            shownImageCaption = "HDR";
        } else {
            const int idx = project->getImageInfoIdx(id);
            if (idx < 0) {
                debugLog("%s: Id = %d not found\n", "processingProject::getImageInfoIdx", id);
            } else {
                const photoInfo_t &p = project->photos[idx];
                shownImageCaption = p.isFloat ? QString("HDR")
                                              : QFileInfo(p.filePath).fileName() + " (" +
                                                    QString::number(p.ev, 'f', 2) + " EV)";
            }
        }
        showImageInView(id, force);
    }
    setControlsEnabled(true);
}

void mainWindow::imageItemChanged(int id)
{
    selectImageItem(id, false, true);
}

void mainWindow::imageItemStateChanged(int, int)
{
    includedCount = 0;
    for (imageItem *row : imageItems) {
        const bool in = row->included();
        includedCount += in ? 1 : 0;
        const int idx = project->getImageInfoIdx(row->id());
        if (idx >= 0)
            project->photos[idx].included = in ? 1 : 0;
    }
    setControlsEnabled(true);
    setEvLabels(true);
}

void mainWindow::evChanged()
{
    evSelection->reset();
    for (imageItem *row : imageItems) {
        if (!row->evSlider)
            continue;
        const int idx = project->getImageInfoIdx(row->id());
        if (idx >= 0) {
            project->photos[idx].ev = row->evSlider->value();
            project->photos[idx].evLn = project->photos[idx].ev * M_LN2;
        }
    }
    setEvLabels(true);
}

namespace {

// Writes ev into every photo record and its row's slider (signals blocked).
template <typename F>
void applyEv(processingProject *project, const QList<imageItem *> &rows, F evOf)
{
    for (photoInfo_t &p : project->photos) {
        p.ev = evOf(p);
        p.evLn = p.ev * M_LN2;
        for (imageItem *row : rows)
            if (row->id() == p.id && row->evSlider) {
                const QSignalBlocker blocker(row->evSlider);
                row->evSlider->setValue(p.ev);
            }
    }
}

bool evSourcesApply(const processingProject *project)
{
    return !project->photos.isEmpty() && !project->photos.first().isFloat;
}

} // namespace

void mainWindow::EVmanualSelectSlot(int idx)
{
    if (!evSourcesApply(project))
        return;
    const double step = EVselection::manualStep(idx);
    const int half = int(project->photos.size()) / 2;
    applyEv(project, imageItems, [&](const photoInfo_t &p) { return (half - p.brightnessRank) * step; });
    setEvLabels(true);
}

void mainWindow::EVsetFromExifSlot()
{
    if (!evSourcesApply(project))
        return;
    applyEv(project, imageItems, [](const photoInfo_t &p) { return p.evExif; });
    setEvLabels(true);
}

void mainWindow::EVsetFromExifAEBslot()
{
    if (!evSourcesApply(project))
        return;
    applyEv(project, imageItems, [](const photoInfo_t &p) { return p.exifBias; });
    setEvLabels(true);
}

void mainWindow::EVautoSlot()
{
    if (!evSourcesApply(project))
        return;
    applyEv(project, imageItems, [](const photoInfo_t &p) { return p.evAuto; });
    setEvLabels(true);
}

evModeDecision_t chooseEvMode(bool exifComplete, bool aebPresent, bool batch, const batchEvChoice_t &choice,
                              int photoCount, bool automatic)
{
    evModeDecision_t d;
    auto colour = [](const char *c, const QString &text) { return QString("<font color=%1>%2</font>").arg(c, text); };
    if (batch && photoCount >= 2) {
        auto manualDefault = [&](const QString &why) {
            d.mode = evModeDecision_t::manual;
            d.manualIndex = 0;
            d.logLine = colour("#b0b060", why);
        };
        if (choice.manualEVoption != 0) {
            d.mode = evModeDecision_t::manual;
            d.manualIndex = choice.manualEVoption;
            d.logLine = colour("#c0c0c0", QObject::tr("EV: ") + QObject::tr("Manual"));
        } else if (choice.evAuto) {
            d.mode = evModeDecision_t::automatic;
            d.logLine = colour("#c0c0c0", QObject::tr("EV: ") + QObject::tr("Auto"));
        } else if (!choice.evAEB) {
            if (exifComplete) {
                d.mode = evModeDecision_t::exif;
                d.logLine = colour("#c0c0c0", "EV: EXIF");
            } else {
                manualDefault(QObject::tr("EV from EXIF is not available. Using defaults..."));
            }
        } else if (aebPresent) {
            d.mode = evModeDecision_t::exifAEB;
            d.logLine = colour("#c0c0c0", "EV: EXIF AEB");
        } else if (exifComplete) {
            d.mode = evModeDecision_t::exif;
            d.logLine = colour("#b0b060", QObject::tr("EV from EXIF-AEB is not available. Calculating from EXIF..."));
        } else {
            manualDefault(QObject::tr("EV from EXIF-AEB is not available. Using defaults..."));
        }
        return d;
    }
    if (exifComplete) {
        d.mode = evModeDecision_t::exif;
    } else if (aebPresent) {
        d.mode = evModeDecision_t::exifAEB;
    } else {
        d.mode = evModeDecision_t::automatic;
        if (!automatic) {
            d.noExifWarning = !batch || choice.hdrMethod == 0;
            if (batch && d.noExifWarning)
                d.logLine = colour("#b0b060", QObject::tr("No complete EXIF data found in input photos. Providing "
                                                          "correct EV values is necessary for proper calibration."));
        }
    }
    return d;
}

void mainWindow::batchLogLine(const QString &html)
{
    debugLog("%s: %s\n", "batch", html.toLocal8Bit().constData());
    emit batchLogMessage(html);
}

void mainWindow::setEV()
{
    evSelection->exifButton->setEnabled(project->evFromExif);
    evSelection->exifAEBbutton->setEnabled(project->biasDistinct);
    const bool batch = project->batchRunning;
    const bool photosAreLdr = !project->photos.isEmpty() && !project->photos.first().isFloat;
    const evModeDecision_t d = chooseEvMode(project->evFromExif, project->biasDistinct, batch, batchEv,
                                            int(project->photos.size()), startParams.autoProcess);
    switch (d.mode) {
    case evModeDecision_t::exif:
        evSelection->setFromExifSlot(true);
        break;
    case evModeDecision_t::exifAEB:
        evSelection->setFromExifAEBslot(true);
        break;
    case evModeDecision_t::automatic:
        evSelection->setAutoSlot(true);
        break;
    case evModeDecision_t::manual:
        // Entry 0 ("-") falls back to the first source button still enabled.
        if (d.manualIndex > 0) {
            const QSignalBlocker blocker(evSelection->manualCombo);
            evSelection->manualCombo->setCurrentIndex(d.manualIndex);
        }
        evSelection->manualSelectSlot(d.manualIndex);
        break;
    }
    if (!d.logLine.isEmpty() && batch)
        batchLogLine(d.logLine);
    else if (d.noExifWarning && !batch && photosAreLdr)
        photoMessage(styledMessageBox::Warning,
                     tr("No complete EXIF data found in input photos. Providing correct EV values is necessary "
                        "for proper calibration."));
}

void mainWindow::updateThumbnails()
{
    for (photoInfo_t &p : project->photos) {
        project->makePhotoThumbnail(p);
        if (imageItem *row = findImageItem(p.id))
            row->setInfo(p);
    }
    setEvLabels(false);
}

void mainWindow::showBeforeSlot()
{
    QAction *checked = beforeGroup ? beforeGroup->checkedAction() : nullptr;
    if (!checked)
        return;
    showingBefore = true;
    setControlsEnabled(true);
    selectImageItem(checked->property("id").toInt(), false, true);
}

void mainWindow::showResultSlot()
{
    showingBefore = false;
    setControlsEnabled(true);
}

void mainWindow::showBefore_EV0()
{
    for (QAction *a : beforeGroup->actions())
        if (a->property("id").toInt() != HDR_ITEM_ID) {
            a->setChecked(true);
            showBeforeSlot();
            return;
        }
}

// --- adding -----------------------------------------------------------------

void mainWindow::addImages() { addImages(QStringList()); }

void mainWindow::addDroppedImages(QStringList files)
{
    if (startParams.plugin || files.isEmpty())
        return;
    if (fileSuffixOf(files.first()).toLower() == "lmpx") {
        loadProjectSlot(files.first());
        return;
    }
    addImages(files);
}

bool mainWindow::addImages(QStringList fnList)
{
    if (fnList.isEmpty() && startParams.plugin) {
        photoMessage(styledMessageBox::Warning, tr("This function is unavailable when working in plug-in mode."));
        return false;
    }
    if (loadingInProgress) {
        debugLog("%s: photos are still loading\n", "mainWindow::addImages");
        return false;
    }
    cropMode = false;

    if (fnList.isEmpty()) {
        QString startDir = optionsInstance ? optionsInstance->openSaveDialogs.openSavePhoto_LastDir : QString();
        debugLog("startDir1 = %s\n", startDir.toLocal8Bit().constData());
        if (startDir.isEmpty() || !QDir(startDir).exists()) {
            const QString examples = QDir::homePath() + "/Lumidra 3" + "/examples";
            startDir = QDir(examples).exists() ? examples : QString();
            debugLog("startDir2 = %s\n", startDir.toLocal8Bit().constData());
        }
        QString filter = optionsInstance ? optionsInstance->openSaveDialogs.openSavePhoto_LastFilter : QString();
        fnList = fileDialogs::openFileNames(this, tr("Add images"), startDir,
                                            tr("All supported formats") + PHOTO_FILTER, &filter);
        if (fnList.isEmpty())
            return false;
        if (optionsInstance) {
            optionsInstance->openSaveDialogs.openSavePhoto_LastFilter = filter;
            optionsInstance->openSaveDialogs.openSavePhoto_LastDir = QFileInfo(fnList.first()).absolutePath();
        }
    }

    for (const QString &name : fnList) {
        if (fileSuffixOf(name).toLower() == "lmpx") {
            if (fnList.size() >= 2)
                photoMessage(styledMessageBox::Warning, tr("Loading just: %1.").arg(name));
            loadProjectSlot(name);
            return true;
        }
    }

    const bool optionsShown =
        optionsInstance && optionsInstance->optionsOnLoad.enabled && !startParams.plugin && !startParams.autoProcess;
    if (optionsShown && !project->batchRunning && !askImportOptions(fileTypeOf(fnList.first())))
        return false;
    const bool hdrFirst = !project->photos.isEmpty() && project->photos.first().isFloat;
    const bool autoRotate = optionsInstance ? optionsInstance->optionsOnLoad.autoRotation : true;
    const int divisor = optionsShown ? std::max(1, optionsInstance->optionsOnLoad.resize) : 1;
    QList<photoInfo_t> prepared;
    QList<int> rawRecords;
    for (int i = 0; i < fnList.size(); ++i) {
        photoInfo_t record;
        record.filePath = fnList[i];
        record.autoRotate = autoRotate;
        record.loadDivisor = fileTypeOf(record.filePath) == FILETYPE_TIFF ? 1 : divisor;
        const int result = project->loadPhotoPrepare(record, i, int(fnList.size()), hdrFirst);
        if (result == processingProject::LOAD_UNREADABLE) {
            // The reader's reason, when it gave one, follows the file name.
            QString text = tr("Failed to load") + ": " + fnList[i] + ".";
            if (!project->lastErrorMessage.isEmpty())
                text += "<br><br>" + project->lastErrorMessage;
            photoMessage(styledMessageBox::Error, text);
            return false;
        }
        if (result != processingProject::LOAD_PREPARED)
            return false; // the project has said why
        if (record.isRaw)
            rawRecords.append(int(prepared.size()));
        prepared.append(record);
    }
    if (prepared.isEmpty())
        return false;
    if (!rawRecords.isEmpty() && !hdrFirst && !chooseRawOptions(prepared, rawRecords))
        return false;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    loadingInProgress = true;
    if (rightTab)
        rightTab->setCurrentIndex(0);
    setControlsEnabled(false);
    const bool hdrNow = prepared.first().isFloat || hdrFirst;
    uint64_t maximum = uint64_t(fnList.size()) * uint64_t(project->width + project->height) * 4;
    if (hdrNow)
        maximum += uint64_t(project->width + 2 * project->height) * 15;
    queuePhotoLoads(prepared, maximum);
    return true;
}

void mainWindow::queuePhotoLoads(const QList<photoInfo_t> &prepared, uint64_t progressMaximum)
{
    startProgress(std::max<uint64_t>(progressMaximum, 1), false);
    progressCounter = 0;
    photoToDisplay = -1;
    QMutexLocker lock(&loadMutex);
    loadingFiles.clear();
    failedFiles.clear();
    loadErrors.clear();
    loadWarnings.clear();
    loadQueue = prepared;
    startLoadThreadsLocked();
}

bool mainWindow::askImportOptions(int firstFileType)
{
    if (firstFileType == FILETYPE_FITS || firstFileType == FILETYPE_HDR || firstFileType == FILETYPE_EXR ||
        firstFileType == FILETYPE_PROJECT)
        return true;
    const bool tiff = firstFileType == FILETYPE_TIFF;
    loadOptions dialog(this, firstFileType == FILETYPE_RAW, optionsInstance->optionsOnLoad.resize,
                       optionsInstance->optionsOnLoad.autoRotation);
    if (tiff)
        dialog.forceFullResolution();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (!tiff)
        optionsInstance->optionsOnLoad.resize = dialog.resizeCode();
    optionsInstance->optionsOnLoad.autoRotation = dialog.autoRotation();
    return true;
}

bool mainWindow::chooseRawOptions(QList<photoInfo_t> &prepared, const QList<int> &rawRecords)
{
    rawLoadOptions *dialog = loadOptionsDialogs ? loadOptionsDialogs->rawDialog() : nullptr;
    QStringList rawFiles;
    for (int k : rawRecords)
        rawFiles << prepared[k].filePath;
    QList<int> left = rawRecords;
    int next = rawRecords.first();
    bool sameForAll = false;
    while (!left.isEmpty()) {
        if (!left.contains(next))
            next = left.first();
        photoInfo_t &record = prepared[next];
        QStringList switches = record.rawArguments;
        if (!switches.isEmpty())
            switches.removeLast(); // the file path the stored choices ended with
        if (dialog && !sameForAll && !startParams.autoProcess && !project->batchRunning) {
            const rawInfo_t &raw = record.rawInfo;
            dialog->prepareImage(rawFiles, record.filePath, raw.halfWidth, raw.halfHeight,
                                 optionsInstance && optionsInstance->colorManagement.enabled, record.autoRotate == 0);
            if (raw.cameraMultipliers[1] > 0)
                dialog->setWhiteBalance(raw.cameraMultipliers[0] / raw.cameraMultipliers[1], 1.0,
                                        raw.cameraMultipliers[2] / raw.cameraMultipliers[1]);
            const int result = dialog->exec();
            if (result == 0)
                return false;
            if (result >= 100 && result - 100 < rawRecords.size()) {
                // The person picked another file of the sequence in the dialog.
                next = rawRecords[result - 100];
                continue;
            }
            sameForAll = rawFiles.size() > 1 && dialog->useSameSettings();
        }
        if (dialog && (sameForAll || (!startParams.autoProcess && !project->batchRunning))) {
            switches = dialog->getDcrawArguments(false);
            record.rawInfo.scale = dialog->scaleFactor();
        }
        if (record.loadDivisor != 1 && !switches.contains("-h"))
            switches << "-h";
        record.rawArguments = switches << record.filePath;
        if (optionsInstance && optionsInstance->colorManagement.enabled &&
            (project->createInputProfile(record, FILETYPE_RAW) != 0 ||
             project->checkInputProfile(record, int(project->photos.size()), int(project->photos.size()) + next) != 0))
            return false;
        left.removeOne(next);
    }
    return true;
}

void mainWindow::addImagesStartThreads()
{
    QMutexLocker lock(&loadMutex);
    startLoadThreadsLocked();
}

void mainWindow::startLoadThreadsLocked()
{
    int busy = 0;
    for (const loadSlot_t &s : loadSlots)
        busy += s.worker ? 1 : 0;
    // Running loaders count as the first files of the list.
    QList<qint64> sizes;
    for (int i = 0; i < busy; ++i)
        sizes.append(0);
    for (int i = 0; i < loadQueue.size() && sizes.size() < LOAD_SLOT_COUNT; ++i)
        sizes.append(QFileInfo(loadQueue[i].filePath).size());
    const int coreLimit = optionsInstance ? optionsInstance->performance.coreCount : 0;
    const int wanted =
        loadThreadCount(project->width, project->height, coreLimit, QThread::idealThreadCount(), sizes,
                        availableMemoryBytes());
    if (busy == 0) {
        lastLoadThreadCount = wanted;
        debugLog("Starting image load threads (n=%d)\n", wanted);
    }
    int running = busy;
    for (int e = 0; e < LOAD_SLOT_COUNT && running < wanted && !loadQueue.isEmpty(); ++e) {
        if (loadSlots[e].worker)
            continue;
        auto *buffer = new (std::nothrow) pyramid;
        const bool isFloat = loadQueue.first().isFloat;
        if (!buffer || (!isFloat && !buffer->makePyramid(project->width, project->height, 1, 2, 3, true))) {
            delete buffer;
            debugLog("Couldn't allocate buffer for image loading in more than %d threads. Load just %d now and "
                     "postpone the rest.\n",
                     running, running);
            if (running == 0) {
                // Not even one photo fits in memory: the whole queue fails.
                for (const photoInfo_t &p : loadQueue)
                    failedFiles.append(p.filePath);
                loadErrors.append(tr("Not enough memory!"));
                for (photoInfo_t &p : loadQueue) {
                    project->photos.append(p);
                    project->removePhoto(p.id);
                }
                loadQueue.clear();
                QMetaObject::invokeMethod(this, [this] { finishAddition(); }, Qt::QueuedConnection);
            }
            break;
        }
        loadSlot_t &slot = loadSlots[e];
        slot.buffer = buffer;
        slot.thread = new QThread();
        photoInfo_t record = loadQueue.takeFirst();
        loadingFiles.append(record.filePath);
        if (photoToDisplay < 0) {
            photoToDisplay = record.id;
            debugLog("To display: %s\n", record.filePath.toLocal8Bit().constData());
        }
        slot.worker = new loadPhotoWorker(project, record, *buffer, e);
        slot.worker->moveToThread(slot.thread);
        connect(slot.thread, &QThread::started, slot.worker, &loadPhotoWorker::loadPhoto);
        connect(slot.worker, &loadPhotoWorker::finished, this, &mainWindow::addImagesFinished, Qt::QueuedConnection);
        slot.thread->start();
        ++running;
    }
}

bool mainWindow::anyLoadRunning() const
{
    for (const loadSlot_t &s : loadSlots)
        if (s.worker)
            return true;
    return false;
}

void mainWindow::releaseLoadSlot(int e)
{
    loadSlot_t &slot = loadSlots[e];
    if (slot.thread) {
        slot.thread->quit();
        slot.thread->wait();
    }
    delete slot.worker;
    delete slot.thread;
    delete slot.buffer;
    slot = loadSlot_t();
}

void mainWindow::addImagesFinished(int status, QString errorMsg, int workerId)
{
    if (workerId < 0 || workerId >= LOAD_SLOT_COUNT || !loadSlots[workerId].worker)
        return;
    // Only the GUI thread takes the load lock, and this slot holds it while it
    // asks exiftool for missing EXIF values; a wait for exiftool keeps the
    // window painting, which can deliver another loader's "finished" here. That
    // one comes back once the first is done instead of waiting for a lock its
    // own thread holds.
    if (!loadMutex.tryLock()) {
        QTimer::singleShot(10, this, [this, status, errorMsg, workerId] {
            addImagesFinished(status, errorMsg, workerId);
        });
        return;
    }
    loadMutex.unlock();
    bool finished = false;
    {
        QMutexLocker lock(&loadMutex);
        loadSlot_t &slot = loadSlots[workerId];
        if (slot.thread) {
            slot.thread->quit();
            slot.thread->wait();
        }
        photoInfo_t record = slot.worker->photo;
        const QString name = record.filePath;
        loadingFiles.removeOne(name);
        if (stoppingWorkers || status != 0) {
            if (!stoppingWorkers) {
                failedFiles.append(name);
                if (status == 1 && !errorMsg.isEmpty())
                    loadErrors.append(errorMsg);
                else if (status == 3 && !errorMsg.isEmpty())
                    loadWarnings.append(errorMsg);
            }
            // The project owns the record's buffers; it frees them.
            project->photos.append(record);
            project->removePhoto(record.id);
        } else {
            const int type = fileTypeOf(name);
            const exifInfo_t &e = record.exif;
            const bool hasExif = !exifTextEmpty(e.make) || e.exposureTime > 0 || e.iso > 0 || e.fNumber > 0;
            if ((type == FILETYPE_JPEG || type == FILETYPE_TIFF) && hasExif &&
                (e.iso <= 0 || e.exposureTime <= 0 || e.fNumber <= 0) && project->exiftool) {
                debugLog("Partial EXIF found in JPEG/TIFF. Using Exiftool to try to get more from maker notes "
                         "(%s)...\n",
                         name.toLocal8Bit().constData());
                QStringList reply;
                if (project->exiftool->run({"-v0", "-iso", "-exposureTime", "-apertureValue", name}, &reply)) {
                    const partialExifReply_t r = parsePartialExifReply(reply);
                    debugLog("-> ISO=%d, expTime='%f', fNumber=%f\n", r.iso, r.exposureTime, r.fNumber);
                    if (record.exif.iso <= 0)
                        record.exif.iso = r.iso;
                    if (record.exif.exposureTime <= 0)
                        record.exif.exposureTime = float(r.exposureTime);
                    if (record.exif.fNumber <= 0)
                        record.exif.fNumber = float(r.fNumber);
                }
            }
            // The bracketing summary: a photo of an automatic bracket whose EXIF
            // leaves the exposure offset at 0 may carry it in the maker notes
            // ("AEB Bracket Value"); only that missing value is filled.
            if ((type == FILETYPE_JPEG || type == FILETYPE_TIFF || type == FILETYPE_RAW) &&
                record.exif.exposureMode == 2 && record.exif.exposureBias == 0.0f && project->exiftool) {
                PartialExif_t summary;
                std::memset(&summary, 0, sizeof summary);
                if (exifFromExiftoolOutput(project->exiftool, name, &summary)) {
                    debugLog("AEB summary: aeb=%d, bracket=%.2f EV (%s)\n", int(summary.isAeb),
                             summary.aebBracketValue, name.toLocal8Bit().constData());
                    if (summary.isAeb && summary.aebBracketValue != 0.0)
                        record.exif.exposureBias = float(summary.aebBracketValue);
                }
            }
            if (optionsInstance && optionsInstance->colorManagement.enabled && project->photos.isEmpty() &&
                !project->setMonitorProfile(record) && !record.profilePath.isEmpty())
                QFile::remove(record.profilePath);
            record.included = 1;
            project->photos.append(record);
            project->makePhotoThumbnail(project->photos.last());
            connectImageItem(project->photos.last());
            debugLog("Loaded: %s\n", name.toLocal8Bit().constData());
        }
        // The thread has ended; its worker, thread and buffer go.
        delete slot.worker;
        delete slot.thread;
        delete slot.buffer;
        slot = loadSlot_t();
        if (!stoppingWorkers && !loadQueue.isEmpty())
            startLoadThreadsLocked();
        finished = !stoppingWorkers && loadingFiles.isEmpty() && loadQueue.isEmpty();
    }
    // Messages are shown only after the lock is released: a file handed over
    // by the system while a box is open must not wait for the lock.
    if (finished)
        finishAddition();
}

void mainWindow::finishAddition()
{
    if (!loadingInProgress)
        return;
    QStringList failed, errors, warnings;
    {
        QMutexLocker lock(&loadMutex);
        failed = failedFiles;
        errors = loadErrors;
        warnings = loadWarnings;
    }
    QApplication::restoreOverrideCursor();
    finishProgress();
    loadingInProgress = false;
    if (!errors.isEmpty())
        photoMessage(styledMessageBox::Error, errors.first());
    if (!warnings.isEmpty())
        photoMessage(styledMessageBox::Warning, warnings.first());
    if (!failed.isEmpty())
        photoMessage(styledMessageBox::Error, tr("Failed to load") + ": <br><br>" + failed.join("<br>") + ".");
    if (startParams.autoProcess && !failed.isEmpty()) {
        endRun(2, tr("Failed to load") + ": " + failed.join(", ") + ".");
        return;
    }
    if (!project->photos.isEmpty()) {
        project->sortPhotosByEV();
        for (photoInfo_t &p : project->photos)
            if (imageItem *row = findImageItem(p.id))
                row->setInfo(p);
        invalidatePresets();
        setEV();
        // An HDR image takes no EV source; its row and entry still follow.
        if (project->photos.first().isFloat)
            setEvLabels(false);
        showImageSize();
        selectImageItem(photoToDisplay, false, true);
    }
    setControlsEnabled(true);
    if (project->photos.isEmpty()) {
        if (startParams.autoProcess)
            endRun(2, tr("Photos not loaded, Lumidra will exit."));
        return;
    }
    if (project->photos.first().isFloat) {
        debugLog("%s: HDR image loaded, tone mapping preparation follows\n", "mainWindow::addImagesFinished");
        project->hdrState.resultValid = true;
        toneMappingPrepare();
    } else
        showGenerateHDR(true);
}

void mainWindow::removeImages()
{
    if (startParams.plugin) {
        photoMessage(styledMessageBox::Warning, tr("This function is unavailable when working in plug-in mode."));
        return;
    }
    imageItem *selected = nullptr;
    for (imageItem *row : imageItems)
        if (row->property("imageItemSelected").toBool())
            selected = row;
    if (!selected) {
        photoMessage(styledMessageBox::Error, tr("Choose an image to be removed."));
        return;
    }
    if (styledMessageBox::show(this, styledMessageBox::Confirmation,
                               tr("Are you sure you want to remove <b>%1</b> from the sequence?")
                                   .arg(selected->displayName()),
                               styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes)
        return;
    removeImageItem(selected->id());
    invalidatePresets();
    if (project->photos.isEmpty()) {
        newProject(false);
    } else {
        project->sortPhotosByEV();
        selectImageItem(project->photos.first().id, false, true);
        setEV();
    }
    setControlsEnabled(true);
}

// --- new project and stopping ------------------------------------------------

bool mainWindow::waitForLoadSlot(int e, int polls)
{
    for (int i = 0; i < polls && loadSlots[e].worker; ++i) {
        if (loadSlots[e].thread)
            loadSlots[e].thread->wait(100);
        QCoreApplication::processEvents();
    }
    if (!loadSlots[e].worker)
        return true;
    // Cutting a thread off could leave the heap or a file half-written: the
    // loader is waited for until it ends.
    debugLog("loadPhoto.worker[%d] did not stop within %d ms, waiting for it to finish\n", e, polls * 100);
    if (statusBar())
        statusBar()->showMessage(tr("Waiting for a photo to finish loading..."));
    if (loadSlots[e].thread)
        loadSlots[e].thread->wait();
    QCoreApplication::processEvents();
    if (loadSlots[e].worker) {
        // The completion was not delivered (no event loop): clean up here.
        const bool was = stoppingWorkers;
        stoppingWorkers = true;
        addImagesFinished(2, QString(), e);
        stoppingWorkers = was;
    }
    return false;
}

bool mainWindow::stopWorkers(bool closingWindow)
{
    abortBackgroundFlag = true;
    stoppingWorkers = true;
    {
        QMutexLocker lock(&loadMutex);
        for (photoInfo_t &p : loadQueue) {
            project->photos.append(p);
            project->removePhoto(p.id);
        }
        loadQueue.clear();
    }
    bool inTime = true;
    for (int e = 0; e < LOAD_SLOT_COUNT; ++e)
        if (loadSlots[e].worker && !waitForLoadSlot(e, closingWindow ? 20 : 50))
            inTime = false;
    stoppingWorkers = false;
    stopToneMappingWorkers();
    if (loadingInProgress) {
        QApplication::restoreOverrideCursor();
        finishProgress();
        loadingInProgress = false;
    }
    if (!closingWindow)
        abortBackgroundFlag = false;
    return inTime;
}

void mainWindow::newProject() { newProject(false); }

void mainWindow::newProject(bool justClose)
{
    QObject *origin = sender();
    if (startParams.plugin && origin && (origin == newAct || origin == loadProjectAct || origin == newButton)) {
        photoMessage(styledMessageBox::Warning, tr("This function is unavailable when working in plug-in mode."));
        return;
    }
    if (!project->sessionDirExists()) {
        photoMessage(styledMessageBox::Warning,
                     tr("The session temporary directory does not exist. Please restart Lumidra."));
        return;
    }
    const QString scratch = processingProject::scratchPadPath();
    const double freeMB = double(QStorageInfo(scratch).bytesAvailable()) / 1048576.0;
    if (freeMB < 1024)
        photoMessage(styledMessageBox::Warning, tr("There is little free disk space for temporary data ('%1': %2 MB). "
                                                   "Please consider selecting a different location.")
                                                    .arg(scratch)
                                                    .arg(freeMB, 0, 'f', 1));
    debugLog("Scratchpad disk free space: %.1lf MB\n", freeMB);
    if (!justClose && !project->photos.isEmpty() &&
        styledMessageBox::show(this, styledMessageBox::Confirmation,
                               tr("Are you sure you want to start a new project?"),
                               styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes)
        return;

    debugLog("New project\n");
    debugLog("* Stopping threads...\n");
    stopWorkers(false);
    debugLog("* Removing items...\n");
    QList<int> ids;
    for (imageItem *row : imageItems)
        ids.append(row->id());
    for (int id : ids)
        removeImageItem(id);
    debugLog("* Reseting...\n");
    updateWindowTitle(QString());
    resultFileName.clear();
    resultSaved = false;
    clearView();
    project->cleanup();
    // Nothing of the old project can be undone into the new one: the base
    // layer is current again, every layer's mask-undo counter starts over and
    // the history holds one "START" row.
    if (layersToolWidget) {
        layersToolWidget->showExistingLayers();
        layersToolWidget->itemChanged(0, true);
    }
    project->currentLayer = 0;
    currentProjectPath.clear();
    for (int l = 0; l < LAYER_COUNT; ++l)
        project->layerUndoCount[l] = 0;
    clearHistory();
    cropMode = false;
    showingBefore = false;
    startParams.autoProcess = false;
    startParams.plugin = false;
    includedCount = 0;
    shownImageCaption.clear();
    if (dimensionsLabel)
        dimensionsLabel->setText("0x0");
    evSelection->reset();
    for (QAction *a : beforeGroup->actions())
        beforeGroup->removeAction(a);
    beforeMenu->clear();
    hdrItem->hide();
    setControlsEnabled(true);
    debugLog("* Done\n");
    if (!justClose && optionsInstance && optionsInstance->newProject.showFileOpen)
        addImages(QStringList());
}

void mainWindow::closeProject()
{
    if (styledMessageBox::show(this, styledMessageBox::Confirmation, tr("Close current project?"),
                               styledMessageBox::Yes | styledMessageBox::No) == styledMessageBox::Yes)
        newProject(true);
}

void mainWindow::endRun(int code, const QString &reason)
{
    debugLog("%s\n", reason.toLocal8Bit().constData());
    std::fprintf(stderr, "%s\n", reason.toLocal8Bit().constData());
    requestedExitCode = code;
    close();
    QCoreApplication::exit(code);
}
