#include "widgets/programOptions.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "imageio/exiftoolDaemon.h"
#include "widgets/pathEdit.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel *colonLabel(const QString &text, QWidget *parent)
{
    return new QLabel(text + ":", parent);
}

} // namespace

programOptions::programOptions(QWidget *parent, exiftoolDaemon *daemon)
    : styledDialog(parent), exiftool(daemon)
{
    setModal(true);
    setWindowTitle(tr("Program options"));
    titleLabel()->setText(tr("Program options"));
    if (QCoreApplication::testAttribute(Qt::AA_DisableHighDpiScaling))
        debugLog("Qt::AA_DisableHighDpiScaling\n");
    if (QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling))
        debugLog("Qt::AA_EnableHighDpiScaling\n");
    const double s = optionsInstance ? optionsInstance->uiScaleFactor : 1.0;
    auto *column = new QVBoxLayout(this);
    tabs = new QTabWidget(this);
    tabs->setUsesScrollButtons(false); // every tab title in view
    column->addWidget(tabs);

    // 0 Appearance
    {
        auto *page = new QWidget;
        auto *grid = new QGridLayout(page);
        skin = new QComboBox(page);
        skin->addItems({tr("Dark"), tr("Bright")});
        scale = new QComboBox(page);
        scale->addItems({tr("System defined"), "90%", "100%", "110%", "120%"});
        highDpi = new QCheckBox(tr("High DPI"), page);
        highDpi->setEnabled(programOptionsSettings::screenInfo().devicePixelRatio > 1.0);
        grid->addWidget(colonLabel(tr("Skin"), page), 0, 0);
        grid->addWidget(skin, 0, 1);
        grid->addWidget(colonLabel(tr("Scale"), page), 1, 0);
        grid->addWidget(scale, 1, 1);
        grid->addWidget(highDpi, 2, 0, 1, 2);
        grid->setRowStretch(3, 1);
        grid->setColumnStretch(2, 1);
        tabs->addTab(page, tr("Appearance"));
    }
    // 1 Scratch pad
    {
        auto *page = new QWidget;
        auto *col = new QVBoxLayout(page);
        systemTemp = new QRadioButton(tr("System TEMP directory"), page);
        tempPathLabel = new QLabel(QDir::toNativeSeparators(QDir::tempPath()), page);
        userDir = new QRadioButton(tr("User defined directory"), page);
        scratchPath = new pathEdit(true, false, pathEdit::AnyFile);
        freeSpaceLabel = new QLabel(page);
        freeSpaceLabel->setObjectName("freeSpaceLabel");
        auto indented = [&](QWidget *w) {
            auto *row = new QHBoxLayout;
            row->addSpacing(int(20 * s));
            row->addWidget(w);
            col->addLayout(row);
        };
        col->addWidget(systemTemp);
        indented(tempPathLabel);
        col->addWidget(userDir);
        indented(scratchPath);
        col->addWidget(freeSpaceLabel);
        col->addStretch();
        tabs->addTab(page, tr("Scratch pad memory"));
        connect(systemTemp, &QRadioButton::toggled, this, &programOptions::scratchpadToggle);
        connect(userDir, &QRadioButton::toggled, this, &programOptions::scratchpadToggle);
        connect(scratchPath, &pathEdit::changed, this, &programOptions::updateFreeSpace);
    }
    // 2 Performance
    {
        auto *page = new QWidget;
        auto *grid = new QGridLayout(page);
        coreCount = new QComboBox(page);
        coreCountBatch = new QComboBox(page);
        const int cores = std::min(QThread::idealThreadCount(), 64);
        for (int i = 1; i <= std::max(1, cores); ++i) {
            coreCount->addItem(QString::number(i));
            coreCountBatch->addItem(QString::number(i));
        }
        coreCount->setMaximumWidth(int(100 * s));
        coreCountBatch->setMaximumWidth(int(100 * s));
        liveAntiAliasing = new QCheckBox(tr("Live anti-aliasing"), page);
        liveToneMapping = new QCheckBox(tr("Live tone mapping"), page);
        liveWhileZooming = new QCheckBox(tr("Live tone mapping while zooming and panning"), page);
        resample = new QComboBox(page);
        resample->addItem(tr("Disabled (full resolution)"), 1);
        resample->addItem("1/2", 2);
        resample->addItem("1/4", 4);
        resample->setMaximumWidth(int(230 * s));
        resampleLabel = colonLabel(tr("Temporarily resample during live tone mapping"), page);
        grid->addWidget(colonLabel(tr("Maximum number of cores to use in normal mode"), page), 0, 0);
        grid->addWidget(coreCount, 0, 1);
        grid->addWidget(colonLabel(tr("Maximum number of cores to use in batch mode"), page), 1, 0);
        grid->addWidget(coreCountBatch, 1, 1);
        grid->addWidget(liveAntiAliasing, 2, 0, 1, 2);
        grid->addWidget(liveToneMapping, 3, 0, 1, 2);
        grid->addWidget(liveWhileZooming, 4, 0, 1, 2);
        grid->addWidget(resampleLabel, 5, 0);
        grid->addWidget(resample, 5, 1);
        grid->setRowStretch(6, 1);
        tabs->addTab(page, tr("Performance"));
        connect(liveToneMapping, &QCheckBox::stateChanged, this, &programOptions::liveToneMappingChanged);
    }
    // 3 External editor
    {
        auto *page = new QWidget;
        auto *grid = new QGridLayout(page);
        editorEnabled = new QCheckBox(tr("Enabled"), page);
        editorPathLabel = colonLabel(tr("Path to executable"), page);
        editorPath = new pathEdit(false, true, pathEdit::AnyFile);
        editorArgs = new QLineEdit(page);
        editorArgs->setToolTip(tr("<html>Command line parameters to be passed to the external editor program. They "
                                  "must be separated with spaces. The string must contain '%R', it is replaced "
                                  "with the result's file name.</html>"));
        editorCompression = new QComboBox(page);
        editorCompression->addItems({tr("Uncompressed"), tr("LZW"), tr("Deflate (ZIP)")});
        editorCompression->setMaximumWidth(int(150 * s));
        editorBitDepth = new QComboBox(page);
        editorBitDepth->addItems({tr("8 bit"), tr("16 bit")});
        compressionLabel = colonLabel(tr("Compression"), page);
        bitDepthLabel = colonLabel(tr("Bit depth"), page);
        editorExif = new QCheckBox(tr("Transfer EXIF"), page);
        editorGps = new QCheckBox(tr("GPS"), page);
        editorSrgb = new QCheckBox(tr("Convert to sRGB"), page);
        dpiLabel = new QLabel("Dpi:", page);
        editorDpi = new QSpinBox(page);
        editorDpi->setRange(10, 9999);
        grid->addWidget(editorEnabled, 0, 0, 1, 4);
        grid->addWidget(editorPathLabel, 1, 0);
        grid->addWidget(editorPath, 1, 1, 1, 3);
        grid->addWidget(colonLabel(tr("Parameters"), page), 2, 0);
        grid->addWidget(editorArgs, 2, 1, 1, 3);
        grid->addWidget(compressionLabel, 3, 0);
        grid->addWidget(editorCompression, 3, 1);
        grid->addWidget(bitDepthLabel, 3, 2);
        grid->addWidget(editorBitDepth, 3, 3);
        auto *row = new QHBoxLayout;
        row->addWidget(dpiLabel);
        row->addWidget(editorDpi);
        row->addSpacing(10);
        row->addWidget(editorExif);
        row->addWidget(editorGps);
        row->addSpacing(10);
        row->addWidget(editorSrgb);
        row->addStretch();
        grid->addLayout(row, 4, 0, 1, 4);
        grid->setRowStretch(5, 1);
        tabs->addTab(page, tr("External editor"));
        connect(editorEnabled, &QCheckBox::stateChanged, this, &programOptions::externalEditorToggle);
        connect(editorExif, &QCheckBox::stateChanged, this, &programOptions::transferExifToggle);
        externalEditorToggle(editorEnabled->checkState());
        editorGps->setEnabled(editorExif->isEnabled() && editorExif->isChecked());
    }
    // 4 Saving result
    {
        auto *page = new QWidget;
        auto *grid = new QGridLayout(page);
        outputName = new QLineEdit(page);
        outputName->setToolTip(tr(
            "<html>The following special fields can be used in the default output file name format string:<ul>"
            "<li>%F - list of file names, separated with '_'</li><li>%C - common part of the input file names</li>"
            "<li>%L - list of uncommon parts of input file names, separated with '_'</li><li>%0 - middle exposed "
            "photo file name</li><li>%N - number of input photos</li><li>%E - input file extension</li><li>%P - "
            "current preset name, preceded by '-'</li></ul>%C in combination with %L or just %F must be used. %P is "
            "optional. Default is: '%C%L_Lumidra%P'.</html>"));
        hdrFormat = new QComboBox(page);
        hdrFormat->addItems({"OpenEXR (*.exr)", "Radiance RGBE (*.hdr)", tr("32-bit TIFF with EXIF") + " (*.tif)"});
        hdrNormalize = new QCheckBox(tr("Normalize"), page);
        hdrDeflate = new QCheckBox(tr("Deflate (ZIP)"), page);
        saveToSourceDir = new QCheckBox(tr("Default destination directory is the source directory"), page);
        removeExpTime = new QCheckBox(tr("Remove exposure time value from EXIF (HDR only)"), page);
        grid->addWidget(colonLabel(tr("Default output file name"), page), 0, 0);
        grid->addWidget(outputName, 0, 1, 1, 3);
        grid->addWidget(colonLabel(tr("Default HDR image format"), page), 1, 0);
        grid->addWidget(hdrFormat, 1, 1);
        grid->addWidget(hdrNormalize, 1, 2);
        grid->addWidget(hdrDeflate, 1, 3);
        grid->addWidget(saveToSourceDir, 2, 0, 1, 4);
        grid->addWidget(removeExpTime, 3, 0, 1, 4);
        grid->setRowStretch(4, 1);
        tabs->addTab(page, tr("Saving result"));
        connect(hdrFormat, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &programOptions::toggleHdrFormat);
    }
    // 5 Miscellaneous
    {
        auto *page = new QWidget;
        auto *col = new QVBoxLayout(page);
        auto *row = new QHBoxLayout;
        rawDecoder = new QComboBox(page);
        rawDecoder->addItems({"DCRAW", "LIBRAW"});
        rawDecoder->setMaximumWidth(int(120 * s));
        row->addWidget(colonLabel(tr("RAW decoder"), page));
        row->addWidget(rawDecoder);
        row->addStretch();
        col->addLayout(row);
        resetColorAdjustment = new QCheckBox(tr("Reset color adjustment settings for new project"), page);
        showFileOpen = new QCheckBox(tr("Automatically show file open dialog when starting new project"), page);
        autoLdr = new QCheckBox(tr("Apply LDR enhancement automatically when only one photo is loaded"), page);
        zoomWithCtrl = new QCheckBox(tr("Require Ctrl key pressed to zoom with mouse wheel"), page);
        nativeDialogs = new QCheckBox(tr("Use system native open/save file dialogs"), page);
        for (QCheckBox *c : {resetColorAdjustment, showFileOpen, autoLdr, zoomWithCtrl, nativeDialogs})
            col->addWidget(c);
        clearExiftoolButton = new QPushButton(tr("Clear Exiftool's temp files"), page);
        // exiftool unpacks nothing on this system as a rule: without a
        // folder the button has no tool tip.
        const QStringList temps = exiftool ? exiftool->listTempDirs() : QStringList();
        if (!temps.isEmpty())
            clearExiftoolButton->setToolTip(QDir::toNativeSeparators(QFileInfo(temps.first()).absoluteFilePath()));
        auto *buttonRow = new QHBoxLayout;
        buttonRow->addWidget(clearExiftoolButton);
        buttonRow->addStretch();
        col->addLayout(buttonRow);
        col->addStretch();
        tabs->addTab(page, tr("Miscellaneous"));
        connect(clearExiftoolButton, &QPushButton::clicked, this, &programOptions::clearExiftoolTempSlot);
    }

    auto *buttons = new QHBoxLayout;
    resetButton = new QPushButton(tr("Reset all settings"), this);
    okButton = new QPushButton(tr("Ok"), this);
    okButton->setStyleSheet("QWidget { font: bold; }");
    cancelButton = new QPushButton(tr("Cancel"), this);
    buttons->addWidget(resetButton);
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    column->addLayout(buttons);
    connect(resetButton, &QPushButton::clicked, this, &programOptions::scheduleReset);
    connect(okButton, &QPushButton::clicked, this, &programOptions::writeSettingsAndClose);
    connect(cancelButton, &QPushButton::clicked, this, &programOptions::close);
    updateFreeSpace();
}

QString programOptions::freeSpaceText(double x)
{
    if (x < 0)
        return tr("Free space") + ": ?";
    if (x >= 1024)
        return tr("Free space") + ": " + QString::number(x / 1024.0, 'f', 1) + " GB";
    return tr("Free space") + ": " + QString::number(qint64(x)) + " MB";
}

QString programOptions::measuredPath() const
{
    if (systemTemp->isChecked())
        return QDir::tempPath();
    const QString p = scratchPath->path();
    return !p.isEmpty() && dirExists(p) ? p : QString();
}

void programOptions::updateFreeSpace()
{
    const QString p = measuredPath();
    freeSpaceLabel->setText(freeSpaceText(p.isEmpty() ? -1.0 : freeDiskSpaceMB(p)));
}

void programOptions::scratchpadToggle()
{
    tempPathLabel->setEnabled(systemTemp->isChecked());
    scratchPath->setEnabled(userDir->isChecked());
    if (!systemTemp->isChecked())
        scratchPath->validatePath(false);
    updateFreeSpace();
}

void programOptions::liveToneMappingChanged(int state)
{
    const bool on = liveToneMapping->isChecked();
    liveWhileZooming->setEnabled(on);
    resampleLabel->setEnabled(on);
    resample->setEnabled(on);
    if (state == 0) {
        liveWhileZooming->setChecked(false);
        resample->setCurrentIndex(0);
    }
}

void programOptions::externalEditorToggle(int state)
{
    const bool on = state != 0;
    for (QWidget *w : std::initializer_list<QWidget *>{editorPathLabel, editorPath, compressionLabel,
                                                       editorCompression, bitDepthLabel, editorBitDepth, editorExif,
                                                       editorSrgb, dpiLabel, editorDpi})
        w->setEnabled(on);
    editorGps->setEnabled(on && editorExif->isChecked());
}

void programOptions::transferExifToggle(int)
{
    editorGps->setEnabled(editorExif->isEnabled() && editorExif->isChecked());
}

void programOptions::toggleHdrFormat()
{
    hdrDeflate->setVisible(hdrFormat->currentIndex() == 2);
}

void programOptions::clearExiftoolTempSlot()
{
    if (!exiftool || !exiftool->restart())
        styledMessageBox::show(this, styledMessageBox::Error, tr("Failed"));
}

void programOptions::scheduleReset()
{
    if (styledMessageBox::show(this, styledMessageBox::Confirmation,
                               tr("Do you really want to reset all settings to defaults? <b>LUMIDRA MUST BE "
                                  "RESTARTED!</b>"),
                               styledMessageBox::Yes | styledMessageBox::No)
        != styledMessageBox::Yes)
        return;
    if (optionsInstance)
        optionsInstance->resetOnExit = true;
    done(resetDialogResult);
}

void programOptions::loadFromSettings()
{
    programOptionsSettings *o = optionsInstance;
    if (!o)
        return;
    skin->setCurrentIndex(std::clamp(o->activeSkin, 0, skin->count() - 1));
    scale->setCurrentIndex(std::clamp(o->activeScale, 0, scale->count() - 1));
    highDpi->setChecked(o->activeHighDpi);
    systemTemp->setChecked(o->scratchpad.standard);
    userDir->setChecked(!o->scratchpad.standard);
    scratchPath->validatePath(o->scratchpad.path.isEmpty() ? QDir::tempPath() : o->scratchpad.path, true);
    coreCount->setCurrentIndex(std::clamp(o->performance.coreCount - 1, 0, coreCount->count() - 1));
    coreCountBatch->setCurrentIndex(std::clamp(o->performance.coreCountBatch - 1, 0, coreCountBatch->count() - 1));
    liveAntiAliasing->setChecked(o->performance.liveAntiAliasing);
    liveToneMapping->setChecked(o->performance.liveToneMapping);
    liveWhileZooming->setChecked(o->performance.liveToneMappingWhileZoomingAndPanning);
    resample->setCurrentIndex(std::max(0, resample->findData(o->performance.resample)));
    liveToneMappingChanged(liveToneMapping->checkState());

    editorEnabled->setChecked(o->externalEditor.enabled);
    editorPath->validatePath(o->externalEditor.path, true);
    editorArgs->setText(o->externalEditor.args);
    editorCompression->setCurrentIndex(std::clamp(o->externalEditor.compression, 0, 2));
    editorBitDepth->setCurrentIndex(std::clamp(o->externalEditor.bitDepth - 1, 0, 1));
    editorExif->setChecked(o->externalEditor.transferExif);
    editorGps->setChecked(o->externalEditor.transferExifGPS);
    editorSrgb->setChecked(o->externalEditor.convertToSrgb);
    editorDpi->setValue(o->externalEditor.dpi);
    externalEditorToggle(editorEnabled->checkState());

    outputName->setText(o->savingResult.defaultOutputFileName);
    hdrFormat->setCurrentIndex(std::clamp(o->savingResult.hdrFormat, 0, 2));
    hdrNormalize->setChecked(o->savingResult.hdrNormalize);
    hdrDeflate->setChecked(o->savingResult.hdrFormatTiffCompression);
    saveToSourceDir->setChecked(o->savingResult.saveToSourceDirByDefault);
    removeExpTime->setChecked(o->savingResult.hdrRemoveExpTime);
    toggleHdrFormat();

    rawDecoder->setCurrentIndex(o->loadRAW.useLibraw ? 1 : 0);
    resetColorAdjustment->setChecked(o->newProject.resetColorAdjustment);
    showFileOpen->setChecked(o->newProject.showFileOpen);
    autoLdr->setChecked(o->newProject.autoLDR);
    zoomWithCtrl->setChecked(o->misc.zoomWithCtrl);
    nativeDialogs->setChecked(o->openSaveDialogs.native);
    scratchpadToggle();
}

void programOptions::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        if (optionsInstance)
            optionsInstance->readSettings(false);
        loadFromSettings();
        adjustSize();
    }
    styledDialog::showEvent(event);
}

void programOptions::writeSettingsAndClose()
{
    programOptionsSettings *o = optionsInstance;
    if (!o)
        return;
    const QString measured = measuredPath();
    const double freeMb = measured.isEmpty() ? -1.0 : freeDiskSpaceMB(measured);
    const QString scratch = userDir->isChecked() ? scratchPath->validPath() : QString();
    if (userDir->isChecked() && (scratch.isEmpty() || !dirExists(scratch))) {
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("Directory does not exist. Switched to standard temp directory."));
        systemTemp->setChecked(true);
        tabs->setCurrentIndex(0);
        return;
    }
    if (!measured.isEmpty() && freeMb >= 0 && freeMb < 1024)
        styledMessageBox::show(this, styledMessageBox::Warning,
                               tr("There is little free disk space for temporary data ('%1': %2 MB). Please "
                                  "consider selecting a different location.")
                                   .arg(QDir::toNativeSeparators(measured))
                                   .arg(freeMb, 0, 'f', 1));
    const QString editor = editorPath->validPath(true);
    if (editorEnabled->isChecked() && (editor.isEmpty() || !QFileInfo(editor).isFile())) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("File does not exist. External editor is disabled."));
        editorEnabled->setChecked(false);
        tabs->setCurrentIndex(3);
        return;
    }
    const bool scratchChanged = (systemTemp->isChecked() && !o->scratchpad.standard)
                                || (userDir->isChecked() && (scratch != o->scratchpad.path || o->scratchpad.standard));
    if (scratchChanged)
        styledMessageBox::show(this, styledMessageBox::Information,
                               tr("The temporary directory change will be applied after the program is restarted. "
                                  "Please close the application and run it again."));
    if (skin->currentIndex() != o->activeSkin || scale->currentIndex() != o->activeScale
        || highDpi->isChecked() != o->activeHighDpi) {
        styledMessageBox::show(this, styledMessageBox::Information,
                               tr("User Interface style will be changed after the program is restarted. Please "
                                  "close the application and run it again."));
        if (skin->currentIndex() != o->activeSkin)
            o->misc.backgroundColor = skin->currentIndex() == 0 ? 2 : 0;
    }

    o->userInterface.skin = skin->currentIndex();
    o->userInterface.scale = scale->currentIndex();
    o->userInterface.highDPI = highDpi->isChecked();
    o->scratchpad.standard = systemTemp->isChecked();
    if (userDir->isChecked())
        o->scratchpad.path = scratch;
    o->performance.coreCount = coreCount->currentIndex() + 1;
    o->performance.coreCountBatch = coreCountBatch->currentIndex() + 1;
    o->performance.liveAntiAliasing = liveAntiAliasing->isChecked();
    o->performance.liveToneMapping = liveToneMapping->isChecked();
    o->performance.liveToneMappingWhileZoomingAndPanning = liveWhileZooming->isChecked();
    o->performance.resample = resample->currentData().toInt();
    o->externalEditor.enabled = editorEnabled->isChecked();
    o->externalEditor.path = editor;
    o->externalEditor.args = editorArgs->text();
    o->externalEditor.compression = editorCompression->currentIndex();
    o->externalEditor.bitDepth = editorBitDepth->currentIndex() + 1;
    o->externalEditor.transferExif = editorExif->isChecked();
    o->externalEditor.transferExifGPS = editorGps->isChecked();
    o->externalEditor.convertToSrgb = editorSrgb->isChecked();
    o->externalEditor.dpi = editorDpi->value();
    o->savingResult.defaultOutputFileName = outputName->text();
    o->savingResult.hdrFormat = hdrFormat->currentIndex();
    o->savingResult.hdrNormalize = hdrNormalize->isChecked();
    o->savingResult.hdrFormatTiffCompression = hdrDeflate->isChecked();
    o->savingResult.saveToSourceDirByDefault = saveToSourceDir->isChecked();
    o->savingResult.hdrRemoveExpTime = removeExpTime->isChecked();
    o->loadRAW.useLibraw = rawDecoder->currentIndex() == 1;
    o->newProject.resetColorAdjustment = resetColorAdjustment->isChecked();
    o->newProject.showFileOpen = showFileOpen->isChecked();
    o->newProject.autoLDR = autoLdr->isChecked();
    o->misc.zoomWithCtrl = zoomWithCtrl->isChecked();
    o->openSaveDialogs.native = nativeDialogs->isChecked();
    o->fileDialogOptions = o->openSaveDialogs.native ? 0 : int(QFileDialog::DontUseNativeDialog);
    programOptionsSettings::writeSettings();
    accept();
}
