#include "hdrdialogs/rawLoadOptions.h"
#include "project/photoLoading.h"

#include "app/programOptionsSettings.h"
#include "imageio/rawDecoder.h"
#include "platform/childProcess.h"
#include "views/rawLoadWorkspace.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"
#include "widgets/zoomWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QThread>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <libraw/libraw.h>

namespace {

constexpr const char *DCRAW_MARKER = "Raw photo decoder \"dcraw\" v";
constexpr int DCRAW_VERSION_TIMEOUT_MS = 30000;

bool colorManagementEnabled()
{
    return optionsInstance && optionsInstance->colorManagement.enabled;
}

bool librawSelected()
{
    return optionsInstance ? optionsInstance->loadRAW.useLibraw : true;
}

// Levels of the preview pyramid: one plus the halvings of max(w, h) / 2 until
// device-pixel ratio x 300 is at least the halved size, at most 16.
int previewLevels(int w, int h)
{
    const double dpr = optionsInstance && optionsInstance->devicePixelRatio > 0 ? optionsInstance->devicePixelRatio : 1.0;
    double size = std::max(w, h) / 2.0;
    int levels = 1;
    while (dpr * 300.0 < size && levels < 16) {
        size /= 2.0;
        ++levels;
    }
    return levels;
}

} // namespace

void previewWorker::doIt()
{
    if (useLibraw)
        ok = imageLoader::loadRAW_LIBRAW(arguments, w, h, nullptr, rgb8, scaleFactor);
    else
        ok = imageLoader::loadRAW_DCRAW(arguments, w, h, nullptr, rgb8, scaleFactor);
    emit finished();
}

rawLoadOptions::rawLoadOptions(QWidget *parent) : styledDialog(parent, true, true)
{
    setModal(true);
    setWindowTitle(tr("Load RAW image"));
    titleLabel()->setText(tr("Load RAW image"));
    setGeometrySettingsGroup("LoadRAW");

    fileCombo = new QComboBox;

    colorGroup = new QGroupBox(tr("Output color space"));
    colorCombo = new QComboBox;
    colorCombo->addItems({"sRGB", "AdobeRGB", "WideGamut", "ProPhoto"});
    auto *colorRow = new QHBoxLayout(colorGroup);
    colorRow->addWidget(new QLabel(tr("Convert to") + ":"));
    colorRow->addWidget(colorCombo);
    colorRow->addStretch();

    auto *wbGroup = new QGroupBox(tr("White balance"));
    wbCombo = new QComboBox;
    wbCombo->addItems({tr("As shot"), tr("DCRAW automatic (whole image)"), tr("DCRAW automatic (selection)"),
                       tr("Manual")});
    auto *wbLayout = new QGridLayout(wbGroup);
    wbLayout->addWidget(wbCombo, 0, 0, 1, 6);
    const char *names[3] = {"R", "G", "B"};
    for (int i = 0; i < 3; ++i) {
        multiplierLabels[i] = new QLabel(QString(names[i]) + ":");
        multipliers[i] = new QDoubleSpinBox;
        multipliers[i]->setDecimals(3);
        multipliers[i]->setSingleStep(0.001);
        multipliers[i]->setRange(0.0, 100.0);
        multipliers[i]->setValue(1.0);
        wbLayout->addWidget(multiplierLabels[i], 1, i * 2);
        wbLayout->addWidget(multipliers[i], 1, i * 2 + 1);
    }
    rggb = new QCheckBox(tr("Interpolate RGGB as 4 colors"));
    wbLayout->addWidget(rggb, 2, 0, 1, 6);

    noiseBox = new QGroupBox(tr("Noise filtering"));
    noiseBox->setCheckable(true);
    noiseBox->setChecked(false);
    wavelet = new slider(tr("Wavelet denoising"), 0, 0, 0, QString(), 1, 20, 2, 1);
    median = new slider(tr("Median filter"), 0, 0, 0, QString(), 0, 5, 1, 1);
    auto *noiseLayout = new QVBoxLayout(noiseBox);
    noiseLayout->addWidget(wavelet);
    noiseLayout->addWidget(median);

    otherBox = new QGroupBox(tr("Other options"));
    otherBox->setCheckable(true);
    otherBox->setChecked(false);
    autoBrighten = new QCheckBox(tr("Auto adjust brightness"));
    recoverHighlights = new QCheckBox(tr("Recover highlights"));
    brightness = new slider(tr("Brightness"), 0, 0, 2, QString(), 0.1, 10, 1, 0.01);
    contrast = new slider(tr("Contrast"), 0, 0, 2, QString(), 0.8, 2, 1, 0.01);
    auto *note = new QLabel(tr("Recommended only for single RAW photo enhancement"));
    note->setStyleSheet("QLabel { color: #686868; }");
    auto *otherLayout = new QVBoxLayout(otherBox);
    otherLayout->addWidget(autoBrighten);
    otherLayout->addWidget(recoverHighlights);
    otherLayout->addWidget(brightness);
    otherLayout->addWidget(contrast);
    otherLayout->addWidget(note);

    autoPreview = new QCheckBox(tr("Auto preview"));
    previewBtn = new QPushButton(tr("Preview"));
    auto *previewRow = new QHBoxLayout;
    previewRow->addWidget(autoPreview);
    previewRow->addStretch();
    previewRow->addWidget(previewBtn);

    auto *left = new QVBoxLayout;
    left->addWidget(fileCombo);
    left->addWidget(colorGroup);
    left->addWidget(wbGroup);
    left->addWidget(noiseBox);
    left->addWidget(otherBox);
    left->addLayout(previewRow);
    left->addStretch();

    view = new rawLoadWorkspace;
    view->setMinimumSize(400, 300);
    zoom = new zoomWidget(tr("Zoom"), false);
    view->setZoomWidget(zoom);
    auto *right = new QVBoxLayout;
    right->addWidget(view, 1);
    right->addWidget(zoom);

    auto *upper = new QHBoxLayout;
    upper->addLayout(left);
    upper->addLayout(right, 1);

    decoderLabel = new QLabel;
    decoderLabel->setWordWrap(true);
    decoderLabel->setOpenExternalLinks(true);
    decoderLabel->setStyleSheet("QLabel { color: #686868; }");
    sameSettings =
        new QCheckBox(tr("Use the same settings for the remaining RAW images in the currently loaded sequence"));
    okBtn = new QPushButton(tr("OK"));
    okBtn->setStyleSheet("QWidget { font: bold; }");
    cancelBtn = new QPushButton(tr("Cancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(sameSettings);
    buttons->addStretch();
    buttons->addWidget(okBtn);
    buttons->addWidget(cancelBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(upper, 1);
    layout->addWidget(decoderLabel);
    layout->addLayout(buttons);

    librawVersion = getLibrawVersion();
    // dcraw answers a run without arguments with its version; the wait for
    // that child process is no part of building the window.
    dcrawProbe = QtConcurrent::run(&rawLoadOptions::getDcrawVersion);

    connect(fileCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &rawLoadOptions::otherImageSelected);
    connect(wbCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &rawLoadOptions::whiteBalanceToggled);
    for (QDoubleSpinBox *box : multipliers)
        connect(box, &QDoubleSpinBox::editingFinished, this, &rawLoadOptions::previewIfAutoSlot);
    connect(noiseBox, &QGroupBox::clicked, this, &rawLoadOptions::previewIfAutoSlot);
    connect(otherBox, &QGroupBox::clicked, this, &rawLoadOptions::previewIfAutoSlot);
    connect(autoBrighten, &QCheckBox::clicked, this, &rawLoadOptions::previewIfAutoSlot);
    connect(recoverHighlights, &QCheckBox::clicked, this, &rawLoadOptions::previewIfAutoSlot);
    for (slider *s : {wavelet, median, brightness, contrast})
        connect(s, &slider::valueChanged, this, &rawLoadOptions::previewIfAutoSlot);
    connect(previewBtn, &QPushButton::clicked, this, QOverload<>::of(&rawLoadOptions::previewSlot));
    connect(view, &rawLoadWorkspace::sampleTaken, this, QOverload<>::of(&rawLoadOptions::previewSlot));
    connect(autoPreview, &QCheckBox::clicked, this, QOverload<>::of(&rawLoadOptions::previewOnceSlot));
    connect(view, &rawLoadWorkspace::clicked, this, QOverload<>::of(&rawLoadOptions::previewOnceSlot));
    connect(this, &rawLoadOptions::eyedropperEnabled, view, &rawLoadWorkspace::enableEyedropper);
    connect(view, &rawLoadWorkspace::wheelChanged, zoom, &zoomWidget::incDecZoom);
    connect(zoom, &zoomWidget::zoomChanged, view, &rawLoadWorkspace::setScale);
    connect(okBtn, &QPushButton::clicked, this, &rawLoadOptions::acceptLoad);
    connect(cancelBtn, &QPushButton::clicked, this, &rawLoadOptions::reject);

    applyWhiteBalance(AsShot, false);
}

rawLoadOptions::~rawLoadOptions()
{
    dcrawProbe.waitForFinished();
    // A preview still decoding writes into the pyramid: wait for it first.
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
    }
    delete worker;
    delete workerThread;
}

QString rawLoadOptions::getLibrawVersion()
{
    return QString(LibRaw::version()).remove("-Release");
}

QString rawLoadOptions::dcrawVersionText() const
{
    if (dcrawVersion.isEmpty())
        dcrawVersion = dcrawProbe.isCanceled() ? QStringLiteral("?") : dcrawProbe.result();
    return dcrawVersion;
}

QString rawLoadOptions::dcrawVersionFromOutput(const QByteArray &output)
{
    const QList<QByteArray> lines = output.split('\n');
    if (lines.size() <= 5)
        return "?";
    for (int i = 0; i < 5; ++i) {
        const int at = lines[i].indexOf(DCRAW_MARKER);
        if (at < 0)
            continue;
        QByteArray rest = lines[i].mid(at + int(strlen(DCRAW_MARKER)));
        // Only a line end's carriage return goes, never a digit.
        if (rest.endsWith('\r'))
            rest.chop(1);
        return QString::fromLocal8Bit(rest);
    }
    return "?";
}

QString rawLoadOptions::getDcrawVersion()
{
    const QString program = imageLoader::dcrawProgram();
    childProcess child;
    if (program.isEmpty() || !child.start(program, QStringList(), QStringList(), childProcess::stderrMode::merge))
        return "?";
    const QByteArray out = child.readAll(DCRAW_VERSION_TIMEOUT_MS);
    child.waitForFinished(DCRAW_VERSION_TIMEOUT_MS);
    return dcrawVersionFromOutput(out);
}

void rawLoadOptions::updateDecoderNote()
{
    const QString anchor = "a style=\"color: #588058;\" href=";
    if (librawSelected()) {
        decoderLabel->setText(
            tr("Lumidra uses <%1>LIBRAW</a> version <b>%2</b> for decoding the RAW images.")
                .arg(anchor + "\"https://www.libraw.org/\"", librawVersion) +
            " <b>" + tr("You may also switch back to DCRAW - you can select it in the Program Options.") + "</b>");
    } else {
        decoderLabel->setText(
            tr("If your RAW photos do not load correctly, it probably means that your camera is not supported by DCRAW "
               "version <b>%1</b> that is currently used by Lumidra. Click <b><%2>here</a></b> to download the most "
               "recent version of DCRAW. For more information about DCRAW please visit <b><%3>Varnel's website</a></b>.")
                .arg(dcrawVersionText(), anchor + "\"https://www.dechifro.org/dcraw/?ver=" + dcrawVersionText() + "\"",
                     anchor + "\"https://www.dechifro.org/dcraw/\"") +
            " <b>" + tr("Please also try using LIBRAW instead - you can select it in the Program Options.") + "</b>");
    }
}

void rawLoadOptions::prepareImage(const QStringList &files, const QString &path, int previewWidth,
                                  int previewHeight, bool colorSpaceEnabled, bool keepOrient)
{
    keepOrientation = keepOrient;
    if (files != fileList)
        fileList = files;
    currentPath = path;
    previewW = previewWidth;
    previewH = previewHeight;
    colorCombo->setEnabled(colorSpaceEnabled);
    {
        const QSignalBlocker block(fileCombo);
        fileCombo->clear();
        for (const QString &f : fileList)
            fileCombo->addItem(QFileInfo(f).fileName());
        currentIndex = fileList.indexOf(path);
        fileCombo->setCurrentIndex(currentIndex);
    }
    // A preview of the previous file may still be decoding into the buffer
    // that is about to be replaced; the view lets go of that buffer after it.
    finishRunningPreview();
    view->refreshView();
    preview.freeAll();
    if (previewW > 0 && previewH > 0 &&
        !preview.makePyramid(previewW, previewH, previewLevels(previewW, previewH), 1, 3, true)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Not enough memory!"), styledMessageBox::Ok);
        preview.freeAll();
    }
    view->canvas()->userZoomed = false;
    updateDecoderNote();
}

void rawLoadOptions::setOptions(int colorSpace, bool autoSelectionWhiteBalance, bool other, bool recover,
                                bool autoBright, double bright, double contr, bool noiseFilter, int waveletValue,
                                int medianValue, bool keepOrient)
{
    const QSignalBlocker b1(colorCombo), b2(wbCombo), b3(otherBox), b4(recoverHighlights), b5(autoBrighten),
        b6(brightness), b7(contrast), b8(noiseBox), b9(wavelet), b10(median);
    colorCombo->setCurrentIndex(qBound(0, colorSpace - 1, 3));
    wbCombo->setCurrentIndex(autoSelectionWhiteBalance ? AutoSelection : AsShot);
    otherBox->setChecked(other);
    recoverHighlights->setChecked(recover);
    autoBrighten->setChecked(autoBright);
    brightness->setValue(bright);
    contrast->setValue(contr);
    noiseBox->setChecked(noiseFilter);
    wavelet->setValue(waveletValue);
    median->setValue(medianValue);
    keepOrientation = keepOrient;
    sameSettings->setChecked(true);
}

void rawLoadOptions::setWhiteBalance(double r, double g, double b)
{
    if (g == 0.0)
        return;
    multipliers[0]->setValue(r / g);
    multipliers[1]->setValue(1.0);
    multipliers[2]->setValue(b / g);
}

QStringList rawLoadOptions::getDcrawArguments(bool previewMode) const
{
    rawDecodeChoices_t c;
    c.whiteBalance = wbCombo->currentIndex();
    c.sampleX = view->canvas()->samplePoint().x();
    c.sampleY = view->canvas()->samplePoint().y();
    c.sampleSize = view->canvas()->sampleSize();
    for (int i = 0; i < 3; ++i)
        c.multipliers[i] = multipliers[i]->value();
    c.noiseFilter = noiseBox->isChecked();
    c.wavelet = wavelet->value();
    c.median = median->value();
    c.colorManagement = colorManagementEnabled();
    c.colorSpace = colorCombo->currentIndex() + 1;
    c.keepOrientation = keepOrientation;
    c.other = otherBox->isChecked();
    c.recoverHighlights = recoverHighlights->isChecked();
    c.autoBrighten = autoBrighten->isChecked();
    c.brightness = brightness->value();
    return photoLoading::rawDecodeSwitches(c, previewMode);
}

double rawLoadOptions::scaleFactor() const
{
    return otherBox->isChecked() ? contrast->value() : 1.0;
}

bool rawLoadOptions::useSameSettings() const
{
    return sameSettings->isChecked();
}

void rawLoadOptions::loadControls()
{
    if (!optionsInstance)
        return;
    const auto &o = optionsInstance->loadRAW;
    const QSignalBlocker b1(colorCombo), b2(wbCombo), b3(otherBox), b4(recoverHighlights), b5(autoBrighten),
        b6(brightness), b7(contrast), b8(noiseBox), b9(wavelet), b10(median), b11(rggb), b12(sameSettings),
        b13(autoPreview);
    wbCombo->setCurrentIndex(o.whiteBalance == 0 || o.whiteBalance == 1 ? o.whiteBalance : AsShot);
    otherBox->setChecked(o.other);
    recoverHighlights->setChecked(o.recoverHighlights);
    autoBrighten->setChecked(o.autoBrighten);
    brightness->setValue(o.brightness);
    contrast->setValue(o.contrast);
    noiseBox->setChecked(o.noiseFilter);
    wavelet->setValue(o.noiseFilterWavelet);
    median->setValue(o.noiseFilterMedian);
    rggb->setChecked(o.rggb);
    sameSettings->setChecked(o.loadAllWithTheSameSettings);
    autoPreview->setChecked(o.autoPreview);
}

void rawLoadOptions::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        loadControls();
        applyWhiteBalance(wbCombo->currentIndex(), false);
        const bool cm = colorManagementEnabled();
        colorGroup->setEnabled(cm);
        {
            const QSignalBlocker block(colorCombo);
            colorCombo->setCurrentIndex(cm ? qBound(0, optionsInstance->loadRAW.colorSpace - 1, 3) : 0);
        }
        updateDecoderNote();
    }
    styledDialog::showEvent(event);
    if (!event->spontaneous() && autoPreview->isChecked() && !view->canvas()->busy)
        previewSlot(true);
}

void rawLoadOptions::previewSlot()
{
    previewSlot(false);
}

void rawLoadOptions::previewSlot(bool onShow)
{
    if (currentPath.isEmpty() || workerThread || !preview.levels[0].data)
        return;
    const QStringList args = getDcrawArguments(true) << currentPath;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    view->showSpinner(true);
    view->canvas()->busy = true;
    setEnabled(false);
    worker = new previewWorker(args, preview.levels[0].width, preview.levels[0].height,
                               static_cast<uint8_t *>(preview.levels[0].data), onShow, scaleFactor());
    worker->useLibraw = librawSelected(); // the worker reads no settings
    workerThread = new QThread;
    worker->moveToThread(workerThread);
    connect(workerThread, &QThread::started, worker, &previewWorker::doIt);
    connect(worker, &previewWorker::finished, this, &rawLoadOptions::previewFinished);
    connect(worker, &previewWorker::finished, workerThread, &QThread::quit);
    workerThread->start(QThread::InheritPriority);
}

void rawLoadOptions::finishRunningPreview()
{
    if (!workerThread)
        return;
    // The thread's loop ends as soon as the decode returns; its completion,
    // queued to this dialog, is delivered here and now.
    workerThread->quit();
    workerThread->wait();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (workerThread)
        previewFinished();
}

void rawLoadOptions::previewFinished()
{
    const bool onShow = worker && worker->onShow();
    // A failed decode still shows whatever the buffer holds.
    preview.levels[0].valid = true;
    preview.buildLevelsFrom(0);
    for (int i = 1; i < preview.levelCount; ++i)
        preview.levels[i].valid = preview.levels[i].data != nullptr;
    view->setImage(preview);
    if (!view->canvas()->userZoomed) {
        zoom->setScaleValue(view->fitScale());
        zoom->setFit();
    }
    view->canvas()->setMarkerVisible(true);
    view->canvas()->renderView(false);
    view->canvas()->update();
    // The decode has returned: its thread ends at once and both go now
    // (a thread left to delete itself later is lost when the dialog goes
    // before the next event loop turn).
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
    }
    delete worker;
    worker = nullptr;
    delete workerThread;
    workerThread = nullptr;
    view->showSpinner(false);
    view->canvas()->busy = false;
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    if (onShow)
        okBtn->setFocus();
    emit previewShown();
}

void rawLoadOptions::previewIfAutoSlot()
{
    if (autoPreview->isChecked())
        previewSlot(false);
}

void rawLoadOptions::previewOnceSlot()
{
    previewOnceSlot(false);
}

void rawLoadOptions::previewOnceSlot(bool onShow)
{
    if (sender() == autoPreview && !autoPreview->isChecked())
        return;
    if (!view->canvas()->busy)
        previewSlot(onShow);
}

void rawLoadOptions::whiteBalanceToggled(int i)
{
    applyWhiteBalance(i, true);
}

void rawLoadOptions::applyWhiteBalance(int i, bool fromUser)
{
    for (int k = 0; k < 3; ++k) {
        multipliers[k]->setEnabled(i == Manual);
        multiplierLabels[k]->setEnabled(i == Manual);
    }
    if (fromUser) {
        if (i == AutoSelection) {
            if (!autoPreview->isChecked() && !view->canvas()->busy)
                previewOnceSlot(false);
            else
                previewSlot(false);
        } else if (autoPreview->isChecked()) {
            previewSlot(false);
        }
    }
    emit eyedropperEnabled(i == AutoSelection);
    if (view->canvas()->markerVisible()) {
        view->canvas()->setMarkerVisible(false);
        view->canvas()->renderView(false);
        view->canvas()->update();
    }
}

void rawLoadOptions::saveSettings()
{
    if (!optionsInstance)
        return;
    auto &o = optionsInstance->loadRAW;
    if (colorManagementEnabled())
        o.colorSpace = colorCombo->currentIndex() + 1;
    o.whiteBalance = wbCombo->currentIndex();
    o.other = otherBox->isChecked();
    o.recoverHighlights = recoverHighlights->isChecked();
    o.autoBrighten = autoBrighten->isChecked();
    o.brightness = brightness->value();
    o.contrast = contrast->value();
    o.noiseFilter = noiseBox->isChecked();
    o.noiseFilterWavelet = int(wavelet->value());
    o.noiseFilterMedian = int(median->value());
    o.rggb = rggb->isChecked();
    o.loadAllWithTheSameSettings = sameSettings->isChecked();
    o.autoPreview = autoPreview->isChecked();
}

void rawLoadOptions::acceptLoad()
{
    saveSettings();
    currentPath.clear();
    accept();
}

void rawLoadOptions::otherImageSelected(int index)
{
    if (index == currentIndex)
        return;
    saveSettings();
    done(100 + index);
}
