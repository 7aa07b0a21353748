#include "widgets/saveDialogs.h"

#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "imageio/resultImageWriter.h"
#include "widgets/slider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

double scale()
{
    return optionsInstance ? optionsInstance->uiScale() : 1.0;
}

// Row 2 of both panels: "Dpi:", the spin box and the three check boxes.
QHBoxLayout *dpiRow(QSpinBox *&dpi, QCheckBox *&exif, QCheckBox *&gps, QCheckBox *&srgb, QWidget *parent)
{
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QObject::tr("Dpi:"), parent);
    label->setFixedSize(label->sizeHint());
    dpi = new QSpinBox(parent);
    dpi->setRange(10, 9999);
    dpi->setMaximumWidth(int(50 * scale()));
    exif = new QCheckBox(QObject::tr("Transfer EXIF"), parent);
    gps = new QCheckBox(QObject::tr("GPS"), parent);
    srgb = new QCheckBox(QObject::tr("Convert to sRGB"), parent);
    row->addWidget(label);
    row->addWidget(dpi);
    row->addSpacing(10);
    row->addWidget(exif);
    row->addWidget(gps);
    row->addSpacing(10);
    row->addWidget(srgb);
    row->addStretch();
    if (optionsInstance) {
        const auto &s = optionsInstance->savingResult;
        exif->setChecked(s.transferExif);
        gps->setChecked(s.transferExifGPS);
        srgb->setChecked(s.convertToSrgb);
        dpi->setValue(s.dpi);
        srgb->setEnabled(optionsInstance->colorManagement.enabled);
    }
    gps->setEnabled(exif->isChecked());
    return row;
}

} // namespace

resizeResult::resizeResult(QWidget *parent)
    : QGroupBox(tr("Resize"), parent)
{
    setCheckable(true);
    setChecked(false);
    auto *row = new QHBoxLayout(this);
    widthBox = new QSpinBox(this);
    heightBox = new QSpinBox(this);
    for (QSpinBox *box : {widthBox, heightBox}) {
        box->setRange(10, 99999);
        box->setFixedWidth(int(65 * scale()));
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, &resizeResult::keepAspectRatio);
    }
    row->addWidget(new QLabel(tr("Width") + ":", this));
    row->addWidget(widthBox);
    row->addSpacing(int(20 * scale()));
    row->addWidget(new QLabel(tr("Height") + ":", this));
    row->addWidget(heightBox);
    row->addStretch();
}

void resizeResult::setResultSize(int width, int height)
{
    const QSignalBlocker bw(widthBox), bh(heightBox);
    widthBox->setMaximum(std::max(10, width));
    heightBox->setMaximum(std::max(10, height));
    widthBox->setValue(width);
    heightBox->setValue(height);
    aspectRatio = height > 0 ? double(width) / height : 1.0;
}

void resizeResult::keepAspectRatio(int)
{
    const QSignalBlocker bw(widthBox), bh(heightBox);
    if (sender() == widthBox)
        heightBox->setValue(int(widthBox->value() / aspectRatio));
    else
        widthBox->setValue(int(heightBox->value() * aspectRatio));
}

saveOptsJpeg::saveOptsJpeg(QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    quality = new slider(tr("Quality") + ":", 0, this, 0, QString(), 70, 100, 100, 1);
    column->addWidget(quality);
    column->addLayout(dpiRow(dpi, transferExif, gps, srgb, this));
    resize = new resizeResult(this);
    column->addWidget(resize);
    if (optionsInstance)
        quality->setValue(optionsInstance->savingResult.jpegQuality);
    connect(transferExif, &QCheckBox::stateChanged, this, &saveOptsJpeg::transferExifToggle);
}

void saveOptsJpeg::transferExifToggle(int)
{
    gps->setEnabled(transferExif->isChecked());
}

saveOptsTiff::saveOptsTiff(QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    compression = new QComboBox(this);
    compression->addItems({tr("Uncompressed"), tr("LZW"), tr("Deflate (ZIP)")});
    bitDepth = new QComboBox(this);
    bitDepth->addItems({tr("8 bit"), tr("16 bit")});
    row->addWidget(new QLabel(tr("Compression") + ":", this));
    row->addWidget(compression);
    row->addSpacing(10);
    row->addWidget(new QLabel(tr("Bit depth"), this));
    row->addWidget(bitDepth);
    row->addStretch();
    column->addLayout(row);
    column->addLayout(dpiRow(dpi, transferExif, gps, srgb, this));
    if (optionsInstance) {
        bitDepth->setCurrentIndex(optionsInstance->savingResult.tiffBitDepth - 1);
        compression->setCurrentIndex(optionsInstance->savingResult.tiffCompression);
    }
    connect(transferExif, &QCheckBox::stateChanged, this, &saveOptsTiff::transferExifToggle);
}

void saveOptsTiff::transferExifToggle(int)
{
    gps->setEnabled(transferExif->isChecked());
}

saveResult::saveResult(QWidget *parent, const QString &fileName)
    : styledDialog(parent)
{
    setModal(true);
    format = resultFormatForName(fileName);
    const QString title = format == resultTiff ? tr("Save as TIFF")
                          : format == resultJpeg ? tr("Save as JPEG") : tr("Save as PNG");
    setWindowTitle(title);
    titleLabel()->setText(title);
    auto *column = new QVBoxLayout(this);
    auto *heading = new QLabel(title, this);
    column->addWidget(heading);
    column->addSpacing(20);
    if (format == resultTiff) {
        tiffPanel = new saveOptsTiff(this);
        column->addWidget(tiffPanel);
    } else if (format == resultJpeg) {
        jpegPanel = new saveOptsJpeg(this);
        column->addWidget(jpegPanel);
    }
    auto *buttons = new QHBoxLayout;
    extEditorButton = new QPushButton(tr("Save and open in external editor"), this);
    auto *save = new QPushButton(tr("Save"), this);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    extEditorButton->setStyleSheet("QPushButton { font: bold; }");
    save->setStyleSheet("QPushButton { font: bold; }");
    buttons->addStretch();
    buttons->addWidget(extEditorButton);
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    column->addLayout(buttons);
    save->setDefault(true);
    save->setFocus();
    connect(extEditorButton, &QPushButton::clicked, this, &saveResult::extEditorSlot);
    connect(save, &QPushButton::clicked, this, &saveResult::saveSlot);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
}

void saveResult::storeOptions()
{
    if (!optionsInstance)
        return;
    auto &s = optionsInstance->savingResult;
    QCheckBox *exif = nullptr, *gps = nullptr, *srgb = nullptr;
    QSpinBox *dpi = nullptr;
    if (jpegPanel) {
        s.jpegQuality = int(jpegPanel->quality->value());
        exif = jpegPanel->transferExif, gps = jpegPanel->gps, srgb = jpegPanel->srgb, dpi = jpegPanel->dpi;
    } else if (tiffPanel) {
        s.tiffBitDepth = tiffPanel->bitDepth->currentIndex() + 1;
        s.tiffCompression = tiffPanel->compression->currentIndex();
        exif = tiffPanel->transferExif, gps = tiffPanel->gps, srgb = tiffPanel->srgb, dpi = tiffPanel->dpi;
    } else {
        return;
    }
    s.transferExif = exif->isChecked();
    s.transferExifGPS = gps->isChecked();
    s.convertToSrgb = srgb->isChecked();
    s.dpi = dpi->value();
}

void saveResult::extEditorSlot()
{
    storeOptions();
    done(2);
}

void saveResult::saveSlot()
{
    storeOptions();
    done(1);
}

void saveResult::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        extEditorButton->setVisible(!startParams.plugin && optionsInstance && optionsInstance->externalEditor.enabled);
    styledDialog::showEvent(event);
}
