#include "hdrdialogs/generateHDR.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "hdr/deghostWorker.h"
#include "hdr/generateHDRworker.h"
#include "hdr/ghostMaths.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/genHDR_options.h"
#include "imageio/exiftoolDaemon.h"
#include "project/processingProject.h"
#include "widgets/pathEdit.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const COLOUR_ERROR = "#b06060";
const char *const COLOUR_WARNING = "#b0b060";
const char *const COLOUR_INFO = "#c0c0c0";

QString lensToolTip()
{
    return "<html>" +
           QCoreApplication::translate(
               "generateHDR",
               "Before using the automatic option please make sure that your camera and lens are properly detected. "
               "To do so, please use the manual Lens Correction. You need to check this just once for given camera "
               "and lens combination, not for all processed photos.") +
           "<br><br>" +
           QCoreApplication::translate("generateHDR",
                                       "When applying lens correction please make sure that it hasn't been applied "
                                       "before (i.e. by the camera itself or by other software).") +
           "</html>";
}

int includedPhotoCount(const processingProject *project)
{
    int k = 0;
    for (const photoInfo_t &p : project->photos)
        if (p.included)
            ++k;
    return k;
}

} // namespace

// ---------------------------------------------------------------- pure rules

int nextHdrStage(int from, const hdrStageConditions_t &c)
{
    for (int s = std::max(from, 0); s < hdrStageMerge; ++s) {
        switch (s) {
        case hdrStageLens:
            if (c.autoLens && !c.lensCorrected && !c.aligned)
                return s;
            break;
        case hdrStageAlign:
            if (!c.ldr && c.autoAlign && !c.aligned)
                return s;
            break;
        case hdrStagePrepare:
            if (!c.ldr)
                return s;
            break;
        default:
            break;
        }
    }
    return hdrStageMerge;
}

uint64_t hdrRunProgressMax(int n, int width, int height, bool batchLensCorrection)
{
    const uint64_t count = uint64_t(std::max(n, 0));
    const uint64_t h = uint64_t(std::max(height, 0));
    (void)width;
    uint64_t max = (count > 0 ? count - 1 : 0) * (h + h / 4) + count * h + 2 * h;
    if (batchLensCorrection)
        max += count * h;
    return max;
}

uint64_t ldrRunProgressMax(int width, int height, bool noiseFilter)
{
    const uint64_t w = uint64_t(std::max(width, 0)), h = uint64_t(std::max(height, 0));
    return h + (noiseFilter ? 30 * h + 15 * w : 0);
}

uint64_t mergeProgressMax(int n, int width, int height, bool smartMerge, bool ghostRemoval, bool noiseFilter,
                          bool saveHdr)
{
    const uint64_t count = uint64_t(std::max(n, 0));
    const uint64_t w = uint64_t(std::max(width, 0)), h = uint64_t(std::max(height, 0));
    uint64_t max = 10 * h;
    if (smartMerge)
        max += count * (h + w);
    if (ghostRemoval)
        max += 3 * count * h;
    if (noiseFilter)
        max += 30 * h + 15 * w;
    if (saveHdr)
        max += h;
    return max;
}

int hdrProgressPercent(uint64_t counter, uint64_t maximum)
{
    const uint64_t m = maximum ? maximum : 1;
    return int(std::min<uint64_t>(100, counter * 100 / m));
}

// ---------------------------------------------------------------- construction

namespace {
generateHDR::execHook_t &execHookInstance()
{
    static generateHDR::execHook_t hook;
    return hook;
}
} // namespace

void generateHDR::setExecHook(execHook_t hook)
{
    execHookInstance() = std::move(hook);
}

generateHDR::execHook_t generateHDR::execHook()
{
    return execHookInstance();
}

generateHDR::generateHDR(QWidget *parent, processingProject *project_) : styledDialog(parent), project(project_)
{
    setModal(true);
    setWindowTitle(tr("Generate HDR"));
    if (titleLabel())
        titleLabel()->setText(tr("Generate HDR"));
    const double scale = widgetSupport::uiScale();

    auto makeGroup = [](const QString &title, QPushButton *&manual, QPushButton *&undo, QCheckBox *&automatic) {
        auto *group = new QGroupBox(title);
        manual = new QPushButton(tr("Manual"));
        undo = new QPushButton;
        undo->setIcon(QIcon(":/resources/undo.png"));
        undo->setToolTip(tr("Undo"));
        undo->setFixedSize(int(24 * widgetSupport::uiScale()), manual->sizeHint().height());
        automatic = new QCheckBox(tr("Automatic"));
        auto *row = new QHBoxLayout(group);
        row->setSpacing(5);
        row->addWidget(manual);
        row->addWidget(undo);
        row->addWidget(automatic);
        row->addStretch(1);
        group->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Maximum);
        return group;
    };
    lensGroup = makeGroup(tr("Lens correction"), lensManualButton, lensUndoButton, lensAutoCheck);
    lensAutoCheck->setToolTip(lensToolTip());
    alignGroup = makeGroup(tr("Alignment"), alignManualButton, alignUndoButton, alignAutoCheck);
    alignGroup->setMinimumWidth(int(180 * scale));
    lensGroup->setMinimumWidth(14 * fontMetrics().lineSpacing());

    options = new genHDR_options(genHDR_options::DialogVariant);
    ldrDenoise = new genHDR_denoise(2);

    panoramaCheck = new QCheckBox(tr("360°"));
    panoramaCheck->setToolTip(tr("360 degree panorama mode - assume that the left and right borders of the image are "
                                 "matching together."));
    generateButton = new QPushButton(tr("Generate HDR"));
    ldrButton = new QPushButton(tr("LDR enhancement"));
    generateButton->setStyleSheet("QWidget { font: bold; }");
    ldrButton->setStyleSheet("QWidget { font: bold; }");
    ldrButton->hide();
    cancelButton = new QPushButton(tr("Cancel"));

    progressBar = new QProgressBar;
    progressBar->setMaximum(100);
    progressBar->hide();
    breakButton = new QPushButton(tr("Break"));
    breakButton->setFocusPolicy(Qt::NoFocus);
    breakButton->hide();
    progressTimer = new QTimer(this);
    progressTimer->setInterval(250);

    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    auto *groups = new QHBoxLayout;
    groups->addWidget(lensGroup);
    groups->addWidget(alignGroup);
    column->addLayout(groups);
    column->addWidget(options);
    column->addWidget(ldrDenoise);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(panoramaCheck);
    buttons->addSpacing(30);
    buttons->addStretch(1);
    buttons->addWidget(generateButton);
    buttons->addWidget(ldrButton);
    buttons->addWidget(cancelButton);
    column->addLayout(buttons);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(progressBar, 1);
    progressRow->addWidget(breakButton);
    column->addLayout(progressRow);
    if (auto *outer = qobject_cast<QVBoxLayout *>(layout()))
        outer->addWidget(content);
    else
        (new QVBoxLayout(this))->addWidget(content);

    connect(lensAutoCheck, &QCheckBox::toggled, this, &generateHDR::autoLensCorrectionToggled);
    connect(lensManualButton, &QPushButton::clicked, this, &generateHDR::doLensCorrectionSlot);
    connect(lensUndoButton, &QPushButton::clicked, this, &generateHDR::doLensCorrectionUndoSlot);
    connect(alignManualButton, &QPushButton::clicked, this, &generateHDR::doManualAlignSlot);
    connect(alignUndoButton, &QPushButton::clicked, this, qOverload<>(&generateHDR::doAlignUndoSlot));
    connect(generateButton, &QPushButton::clicked, this, &generateHDR::generateHDRslot);
    connect(ldrButton, &QPushButton::clicked, this, &generateHDR::enhanceLDRslot);
    connect(cancelButton, &QPushButton::clicked, this, &generateHDR::reject);
    connect(breakButton, &QPushButton::clicked, this, &generateHDR::breakSlot);
    connect(progressTimer, &QTimer::timeout, this, &generateHDR::updateProgress);

    {
        const QSignalBlocker block(lensAutoCheck);
        lensAutoCheck->setChecked(optionsInstance && optionsInstance->generateHDR.autoLensCorrection);
    }
    alignAutoCheck->setChecked(!optionsInstance || optionsInstance->generateHDR.autoAlign);
    panoramaCheck->setChecked(optionsInstance && optionsInstance->processing.panoramaMode);
}

generateHDR::~generateHDR()
{
    // A stage still running (the window closes in the middle of a run) is
    // asked to stop and waited for: its worker writes into the project.
    if (thread) {
        hdrBreakFlag = true;
        thread->quit();
        thread->wait();
        delete worker;
        hdrBreakFlag = false;
    }
    while (QApplication::overrideCursor() && runActive) {
        QApplication::restoreOverrideCursor();
        runActive = false;
    }
}

void generateHDR::proposeHdrPath(const QString &path)
{
    if (options->hdrPath)
        options->hdrPath->validatePath(path, false);
}

bool generateHDR::unattended() const
{
    return startParams.autoProcess || batchRunning();
}

bool generateHDR::batchRunning() const
{
    return project && project->batchRunning;
}

void generateHDR::log(const QString &text, const char *colour)
{
    debugLog("%s\n", text.toLocal8Bit().constData());
    if (batchRunning() && batchLog)
        batchLog(QString("<font color=%1>%2</font>").arg(colour, text.toHtmlEscaped()));
}

// A problem that does not stop the run: a box for the person, a log line in
// unattended runs.
void generateHDR::warn(const QString &title, const QString &text)
{
    if (unattended()) {
        log(text, COLOUR_WARNING);
        return;
    }
    QApplication::restoreOverrideCursor();
    styledMessageBox::show(this, styledMessageBox::Warning, title.isEmpty() ? text : title + ":\n\n" + text);
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

// ---------------------------------------------------------------- showing

void generateHDR::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        initFromProject();
    styledDialog::showEvent(event);
}

void generateHDR::closeEvent(QCloseEvent *event)
{
    if (progressBar->isVisible() || running()) {
        event->ignore();
        return;
    }
    styledDialog::closeEvent(event);
}

void generateHDR::reject()
{
    // Escape, the title bar's close button and Cancel: never while a stage runs.
    if (running())
        return;
    styledDialog::reject();
}

void generateHDR::initFromProject()
{
    lastFailure.clear();
    const int k = includedPhotoCount(project);
    alignGroup->setVisible(k > 1);
    options->setVisible(k > 1);
    generateButton->setVisible(k > 1);
    ldrDenoise->setVisible(k == 1);
    ldrButton->setVisible(k == 1);
    setControlsEnabled(true);
    if (!unattended())
        (k == 1 ? ldrButton : generateButton)->setFocus();

    if (startParams.autoProcess) {
        {
            const QSignalBlocker block(lensAutoCheck);
            lensAutoCheck->setChecked(startParams.autoLensCorrection);
        }
        alignAutoCheck->setChecked(startParams.autoAlign);
        panoramaCheck->setChecked(startParams.panoramaMode);
        denoiseSettings_t d;
        d.enabled = startParams.noiseFilter;
        d.strength = startParams.noiseFilterParam1;
        d.softness = startParams.noiseFilterParam2;
        options->denoise->setSettings(d);
        ldrDenoise->setSettings(d);
        options->setMethod(startParams.smartMerge ? hdrMethodSmartMerge : hdrMethodTrueHdr);
        options->selectivity->setSelectivity(SELECTIVITY_BALANCED);
        options->smartMerge->strength->setValue(1);
        options->setGhostRemoval(startParams.autoDeghost);
        options->saveHdrCheck->setChecked(false);
    }

    lensGroup->setFixedHeight(k > 1 ? alignGroup->sizeHint().height() : lensGroup->sizeHint().height());
    const bool autoLdr = openedAfterLoading && k == 1 && optionsInstance && optionsInstance->newProject.autoLDR;
    openedAfterLoading = false;
    if (unattended() || autoLdr) {
        const bool single = project->photos.size() == 1;
        QTimer::singleShot(0, this, single ? &generateHDR::enhanceLDRslot : &generateHDR::generateHDRslot);
    }
}

void generateHDR::setControlsEnabled(bool b)
{
    for (QWidget *w : std::initializer_list<QWidget *>{lensGroup, alignGroup, options, ldrDenoise, panoramaCheck,
                                                        generateButton, ldrButton, cancelButton})
        w->setEnabled(b);
    const hdrGenerationState_t &s = project->hdrState;
    // The manual alignment and lens-correction dialogs and their undo records
    // are not part of this version: their buttons stay off.
    alignManualButton->setEnabled(false);
    alignUndoButton->setEnabled(false);
    lensManualButton->setEnabled(false);
    lensUndoButton->setEnabled(false);
    alignAutoCheck->setEnabled(!s.aligned);
    lensAutoCheck->setEnabled(!s.aligned && !s.lensCorrected);
}

void generateHDR::refreshAfterChange()
{
    hdrGenerationState_t &s = project->hdrState;
    s.resultValid = s.hdrPresent = s.ldrResult = s.fourthFlag = false;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (refreshWindow)
        refreshWindow();
    QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------- starting

void generateHDR::generateHDRslot()
{
    if (running())
        return;
    lastFailure.clear();
    lastSavedHdr.clear();
    if (options->saveHdrCheck->isChecked() && options->hdrPath) {
        const QString folder = QFileInfo(options->hdrPath->path()).absolutePath();
        if (!dirExists(folder)) {
            const QString text = tr("Directory does not exist. HDR save disabled.");
            options->saveHdrCheck->setChecked(false);
            if (unattended()) {
                log(text, COLOUR_WARNING);
            } else {
                styledMessageBox::show(this, styledMessageBox::Error, text);
                return;
            }
        }
    }
    const bool batchLens = batchRunning() && lensAutoCheck->isChecked() && !project->hdrState.lensCorrected;
    const uint64_t max = hdrRunProgressMax(project->photos.size(), project->width, project->height, batchLens);
    setControlsEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    runActive = true;
    startProgress(max, true);
    ldr = false;
    stage = 0;
    generateHDRrun();
}

void generateHDR::enhanceLDRslot()
{
    if (running())
        return;
    lastFailure.clear();
    lastSavedHdr.clear();
    const uint64_t max = ldrRunProgressMax(project->width, project->height, ldrDenoise->isChecked());
    setControlsEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    runActive = true;
    startProgress(max, true);
    ldr = true;
    stage = 0;
    generateHDRrun();
}

generateHDRoptions_t generateHDR::workerOptions() const
{
    generateHDRoptions_t o;
    o.project = project;
    o.hdrFileInput = false;
    const genHDR_denoise *d = ldr ? ldrDenoise : options->denoise;
    o.noiseFilter = d->isChecked();
    o.noiseFilterStrength = int(d->strengthSlider()->value());
    o.noiseFilterSoftness = int(d->softnessSlider()->value());
    o.method = ldr ? 0 : options->method();
    o.selectivity = ldr ? 0 : options->selectivity->getSelectivity();
    o.smartMergeStrength = ldr ? 0 : int(options->smartMerge->strength->value());
    o.ghostRemoval = !ldr && options->ghostRemoval();
    o.notBatch = !batchRunning();
    o.ghostRemovalRepair = !ldr && (!optionsInstance || optionsInstance->generateHDR.ghostRemovalRepair);
    o.ghostRemovalSmoothness = optionsInstance ? std::clamp(optionsInstance->generateHDR.ghostRemovalSmoothness, 1, 10) : 5;
    o.saveHDR = !ldr && options->saveHdrCheck->isChecked();
    o.outputPath = o.saveHDR && options->hdrPath ? options->hdrPath->validPath(true) : QString();
    if (optionsInstance)
        takeStoredSettings(o, *optionsInstance);
    return o;
}

void generateHDR::prepareAutomaticGhostMasks()
{
    // The automatic mask the ghost-removal dialog would start from.
    const int strength = optionsInstance ? std::clamp(optionsInstance->generateHDR.ghostRemovalStrength, 0, 9) : 4;
    const int smoothness = optionsInstance ? std::clamp(optionsInstance->generateHDR.ghostRemovalSmoothness, 1, 10) : 5;
    deghostWorker masks(project, smoothness);
    const double threshold = ghostThresholdForStrength(strength, project->photos.size());
    // As the dialog opens: the photos' tones matched to a merge without
    // masks where nothing moved, so that a photo standing in for a moving
    // subject shows the merge's tones.
    ghostTonesMatched = masks.matchTonesToMerge(workerOptions(), threshold);
    masks.autoAntiGhostMask(threshold, -1);
    debugLog("%s: automatic ghost mask (strength %d)\n", "generateHDR::prepareAutomaticGhostMasks", strength);
}

void generateHDR::generateHDRrun()
{
    hdrStageConditions_t c;
    c.autoLens = lensAutoCheck->isChecked();
    c.autoAlign = alignAutoCheck->isChecked();
    c.lensCorrected = project->hdrState.lensCorrected;
    c.aligned = project->hdrState.aligned;
    c.ldr = ldr;
    stage = nextHdrStage(stage, c);

    worker = new generateHDRworker(workerOptions());
    worker->confidenceTablesValid = ghostTonesMatched;
    project->panoramaMode = panoramaCheck->isChecked();
    thread = new QThread;
    worker->moveToThread(thread);
    connect(worker, &generateHDRworker::finished, this, &generateHDR::generateHDRfinished);
    connect(thread, &QThread::finished, thread, &QThread::deleteLater);

    switch (stage) {
    case hdrStageLens: {
        log(tr("Lens correction") + "...", COLOUR_INFO);
        QString camera, lens;
        double focal = -1.0;
        const QString source = project->isProjectInput() ? project->exifTempPath(0)
                                                          : (project->photos.isEmpty() ? QString()
                                                                                        : project->photos.first().filePath);
        if (project->exiftool && !source.isEmpty())
            project->exiftool->readCameraLens(source, camera, lens, focal);
        worker->setLensExif(camera, lens, focal);
        connect(thread, &QThread::started, worker, &generateHDRworker::generateHDR_preLensCorrection);
        break;
    }
    case hdrStageAlign:
        log(tr("Auto alignment..."), COLOUR_INFO);
        connect(thread, &QThread::started, worker, &generateHDRworker::generateHDR_preAutoAlign);
        break;
    case hdrStagePrepare:
        connect(thread, &QThread::started, worker, &generateHDRworker::generateHDR_prepare);
        break;
    default:
        if (ldr) {
            log(tr("LDR enhancement..."), COLOUR_INFO);
            connect(thread, &QThread::started, worker, &generateHDRworker::generateLDR_function);
        } else {
            log(tr("HDR generation..."), COLOUR_INFO);
            if (options->ghostRemoval() && options->method() == hdrMethodTrueHdr)
                log(tr("Ghost removal..."), COLOUR_INFO);
            connect(thread, &QThread::started, worker, &generateHDRworker::generateHDR_function);
        }
        break;
    }
    thread->start(QThread::InheritPriority);
}

// ---------------------------------------------------------------- a stage ends

void generateHDR::generateHDRfinished(bool status)
{
    if (!worker)
        return;
    // The stage's thread ends before its worker is deleted.
    thread->quit();
    thread->wait();
    const QString outputPath = worker->outputPath();
    const bool saved = worker->saved;
    const QString resultText = worker->statusText();
    const QString saveError = worker->saveError;
    delete worker;
    worker = nullptr;
    thread = nullptr;

    switch (stage) {
    case hdrStageLens:
        if (status) {
            log("- " + resultText, COLOUR_INFO);
            debugLog("Lens correction done - %s\n", resultText.toLocal8Bit().constData());
            if (refreshAfterStage)
                refreshAfterStage();
        } else {
            debugLog("Lens correction failed\n");
            warn(tr("Lens correction"), resultText);
        }
        project->removeLayerUndoFiles();
        break;
    case hdrStageAlign:
        if (status) {
            debugLog("Alignment done\n");
            if (refreshAfterStage)
                refreshAfterStage();
        } else {
            debugLog("Alignment failed!\n");
            warn(QString(), tr("Most probably the alignment failed because too little matching features were "
                               "found. Please try other auto alignment methods, or use the manual tool."));
        }
        project->removeLayerUndoFiles();
        break;
    case hdrStagePrepare:
        finishProgress();
        if (hdrBreakFlag) {
            breakEnding();
            return;
        }
        if (!status) {
            stopOnFailure(tr("Preparing the photos for HDR generation failed.") +
                          (resultText.isEmpty() ? QString() : " " + resultText));
            return;
        }
        startStage3();
        return;
    default:
        if (!outputPath.isEmpty()) {
            if (saved) {
                const QString source = project->isProjectInput() ? project->exifTempPath(0)
                                                                  : project->photos.first().filePath;
                if (project->exiftool) {
                    project->exiftool->transferExif(outputPath, source, QString(), false, 0, false, true, false);
                    const QString icc = project->photos.first().profilePath;
                    if (!icc.isEmpty())
                        project->exiftool->writeIccProfile(outputPath, icc);
                }
                lastSavedHdr = outputPath;
                log(tr("Saved as") + ": " + outputPath, COLOUR_INFO);
            } else {
                const QString text =
                    tr("Cannot write file: %1. You may not have the required permissions.").arg(outputPath);
                debugLog("%s %s\n", text.toLocal8Bit().constData(), saveError.toLocal8Bit().constData());
                if (unattended()) {
                    log(text, COLOUR_ERROR);
                } else {
                    QApplication::restoreOverrideCursor();
                    styledMessageBox::show(this, styledMessageBox::Error, text);
                    QApplication::setOverrideCursor(Qt::BusyCursor);
                }
            }
        }
        if (hdrBreakFlag) {
            breakEnding();
            return;
        }
        if (!status) {
            stopOnFailure((ldr ? tr("LDR enhancement failed.") : tr("HDR generation failed.")) +
                          (resultText.isEmpty() ? QString() : " " + resultText));
            return;
        }
        acceptRun();
        return;
    }

    // After lens correction and alignment the run goes on, whatever their
    // outcome, unless Break was pressed.
    if (hdrBreakFlag) {
        finishProgress();
        breakEnding();
        return;
    }
    ++stage;
    generateHDRrun();
}

void generateHDR::startStage3()
{
    const int n = project->photos.size();
    const bool ghost = options->ghostRemoval() && options->method() == hdrMethodTrueHdr;
    ghostTonesMatched = false;
    if (ghost)
        prepareAutomaticGhostMasks();
    const uint64_t max = mergeProgressMax(n, project->width, project->height,
                                          options->method() == hdrMethodSmartMerge, options->ghostRemoval(),
                                          options->denoise->isChecked(), options->saveHdrCheck->isChecked());
    startProgress(max, true);
    stage = hdrStageMerge;
    generateHDRrun();
}

void generateHDR::acceptRun()
{
    QApplication::restoreOverrideCursor();
    runActive = false;
    setControlsEnabled(true);
    finishProgress();
    storeLastSettings();
    accept();
}

// A failed preparation or merge: the run stops, nothing goes on to tone
// mapping. Unattended runs end the dialog (rejected) with the reason kept.
void generateHDR::stopOnFailure(const QString &text)
{
    lastFailure = text;
    debugLog("generateHDR: %s\n", text.toLocal8Bit().constData());
    QApplication::restoreOverrideCursor();
    runActive = false;
    finishProgress();
    hdrGenerationState_t &s = project->hdrState;
    s.resultValid = s.hdrPresent = s.ldrResult = s.fourthFlag = false;
    setControlsEnabled(true);
    if (unattended()) {
        log(text, COLOUR_ERROR);
        done(QDialog::Rejected);
        return;
    }
    styledMessageBox::show(this, styledMessageBox::Error, text);
}

void generateHDR::breakEnding()
{
    breakButton->setEnabled(true);
    hdrBreakFlag = false;
    QApplication::restoreOverrideCursor();
    runActive = false;
    setControlsEnabled(true);
    finishProgress();
    refreshAfterChange();
}

// ---------------------------------------------------------------- progress

void generateHDR::startProgress(uint64_t max, bool useBreak)
{
    progressBar->setValue(0);
    progressBar->show();
    breakButton->setVisible(useBreak && !batchRunning() && !startParams.autoProcess);
    progressCounter = 0;
    progressMax = max ? max : 1;
    progressBar->setTextVisible(true);
    progressTimer->start();
}

void generateHDR::updateProgress()
{
    progressBar->setValue(hdrProgressPercent(progressCounter.load(), progressMax));
}

void generateHDR::finishProgress()
{
    progressTimer->stop();
    progressBar->hide();
    breakButton->hide();
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressCounter = 0;
}

void generateHDR::breakSlot()
{
    debugLog("%s\n", "generateHDR::breakSlot");
    hdrBreakFlag = true;
    breakButton->setEnabled(false);
}

// ---------------------------------------------------------------- by hand

void generateHDR::autoLensCorrectionToggled(bool state)
{
    if (state && !unattended())
        styledMessageBox::show(this, styledMessageBox::Information, lensToolTip());
}

void generateHDR::doLensCorrectionSlot()
{
    debugLog("%s: not available in this version\n", "generateHDR::doLensCorrectionSlot");
}

void generateHDR::doLensCorrectionUndoSlot()
{
    // The project keeps no lens-correction undo records in this version.
    debugLog("%s: nothing to undo\n", "generateHDR::doLensCorrectionUndoSlot");
}

void generateHDR::doManualAlignSlot()
{
    debugLog("%s: not available in this version\n", "generateHDR::doManualAlignSlot");
}

void generateHDR::doAlignUndoSlot()
{
    doAlignUndoSlot(true);
}

void generateHDR::doAlignUndoSlot(bool ask)
{
    Q_UNUSED(ask);
    // The project keeps no alignment undo records in this version.
    debugLog("%s: nothing to undo\n", "generateHDR::doAlignUndoSlot");
}

// ---------------------------------------------------------------- settings

void generateHDR::storeLastSettings()
{
    if (startParams.autoProcess || !optionsInstance)
        return;
    auto &g = optionsInstance->generateHDR;
    g.autoLensCorrection = lensAutoCheck->isChecked();
    g.autoAlign = alignAutoCheck->isChecked();
    g.moreOptions = options->moreOptionsButton->isChecked();
    g.method = options->method();
    g.trueHDR_selectivity = options->selectivity->getSelectivity();
    g.smartMerge_strength = int(options->smartMerge->strength->value());
    g.ghostRemoval = options->ghostRemoval();
    g.saveHDRtoFile = options->saveHdrCheck->isChecked();
    options->denoise->getSettings();
    ldrDenoise->getSettings();
    optionsInstance->processing.panoramaMode = panoramaCheck->isChecked();
}
