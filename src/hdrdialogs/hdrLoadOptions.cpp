#include "hdrdialogs/hdrLoadOptions.h"

#include "app/programOptionsSettings.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "widgets/widgetSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

bool colorManagementEnabled()
{
    return optionsInstance && optionsInstance->colorManagement.enabled;
}

} // namespace

hdrLoadOptions::hdrLoadOptions(QWidget *parent) : styledDialog(parent)
{
    setModal(true);
    colorGroup = new QGroupBox(tr("Output color space"));
    colorGroup->setMinimumWidth(widgetSupport::scaled(300));
    colorCombo = new QComboBox;
    colorCombo->addItems({tr("As embedded"), "sRGB", "AdobeRGB", "WideGamut", "ProPhoto"});
    colorCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *colorRow = new QHBoxLayout(colorGroup);
    colorRow->addWidget(new QLabel(tr("Convert to") + ":"));
    colorRow->addWidget(colorCombo);
    colorRow->addStretch();

    noiseGroup = new genHDR_denoise(1);

    panoramaBox = new QCheckBox(QStringLiteral("360°"));
    panoramaBox->setToolTip(tr("360 degree panorama mode - assume that the left and right borders of the image are "
                               "matching together."));

    okBtn = new QPushButton(tr("Ok"));
    okBtn->setStyleSheet("QWidget { font: bold; }");
    cancelBtn = new QPushButton(tr("Cancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(panoramaBox);
    buttons->addStretch();
    buttons->addWidget(okBtn);
    buttons->addWidget(cancelBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(colorGroup);
    layout->addWidget(noiseGroup);
    layout->addLayout(buttons);

    connect(okBtn, &QPushButton::clicked, this, &hdrLoadOptions::acceptLoad);
    connect(cancelBtn, &QPushButton::clicked, this, &hdrLoadOptions::reject);
}

int hdrLoadOptions::colorSpace() const
{
    return colorCombo->currentIndex();
}

void hdrLoadOptions::setColorSpace(int index)
{
    colorCombo->setCurrentIndex(qBound(0, index, colorCombo->count() - 1));
}

bool hdrLoadOptions::panorama() const
{
    return panoramaBox->isChecked();
}

void hdrLoadOptions::setPanorama(bool on)
{
    panoramaBox->setChecked(on);
}

void hdrLoadOptions::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        const bool cm = colorManagementEnabled();
        colorGroup->setEnabled(cm);
        setColorSpace(cm ? optionsInstance->loadHDR.colorSpace : 1);
        okBtn->setFocus();
    }
    styledDialog::showEvent(event);
}

void hdrLoadOptions::acceptLoad()
{
    if (colorManagementEnabled())
        optionsInstance->loadHDR.colorSpace = colorCombo->currentIndex();
    accept();
}
