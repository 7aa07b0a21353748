#include "views/cropTool.h"

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "views/mainImageArea.h"
#include "views/mainWorkspace.h"
#include "widgets/slider.h"
#include "widgets/widgetSupport.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int CROP_MIN_SIDE = 50;
constexpr int CROP_MAX_SIDE = 99999;
constexpr int PRESET_CUSTOM = 0;
constexpr int PRESET_ORIGINAL = 1;

struct aspectPreset_t {
    const char *label;
    double ratio;
};
constexpr aspectPreset_t ratioPresets[] = {{"4:3", 4.0 / 3.0}, {"3:4", 0.75},       {"3:2", 1.5},
                                           {"2:3", 2.0 / 3.0}, {"16:9", 16.0 / 9.0}, {"9:16", 0.5625},
                                           {"1:1", 1.0}};

int clampSide(int v, int maximum)
{
    return std::max(CROP_MIN_SIDE, std::min(v, std::max(CROP_MIN_SIDE, maximum)));
}

} // namespace

QSize cropSizeForAspect(int width, int height, double r, bool fromHeight, int maxWidth, int maxHeight)
{
    if (!(r > 0.0))
        return QSize(width, height);
    if (fromHeight)
        return QSize(clampSide(int(height * r), maxWidth), height);
    const int wanted = int(width / r);
    const int h = clampSide(wanted, maxHeight);
    int w = width;
    if (wanted >= maxHeight)
        w = clampSide(int(h * r), maxWidth);
    return QSize(w, h);
}

cropTool::cropTool(processingProject *proj, mainWorkspace *ws, QWidget *parent)
    : QWidget(parent), project(proj), workspace(ws)
{
    const double scale = widgetSupport::uiScale();
    const int boxWidth = int(65 * scale);

    guidelines = new QPushButton(QIcon(QStringLiteral(":/resources/grid.png")), QString());
    guidelines->setFixedWidth(guidelines->sizeHint().height());
    guidelines->setCheckable(true);
    guidelines->setFocusPolicy(Qt::NoFocus);
    guidelines->setToolTip(tr("Show guidelines"));
    guidelines->setChecked(optionsInstance ? optionsInstance->misc.showCropGuidelines : true);

    widthSpin = new QSpinBox;
    heightSpin = new QSpinBox;
    for (QSpinBox *box : {widthSpin, heightSpin}) {
        box->setRange(CROP_MIN_SIDE, CROP_MAX_SIDE);
        box->setFixedWidth(boxWidth);
    }
    angleSpin = new QDoubleSpinBox;
    angleSpin->setRange(0.0, 360.0);
    angleSpin->setDecimals(2);
    angleSpin->setWrapping(true);
    angleSpin->setSingleStep(0.25);
    angleSpin->setSuffix(QStringLiteral("°"));
    angleSpin->setFixedWidth(boxWidth);
    angleSpin->setToolTip(tr("Hold Shift key to rotate with mouse"));

    aspect = new QComboBox;
    aspect->addItem(tr("Custom"), 0.0);
    aspect->addItem(tr("Original"), 0.0);
    for (const aspectPreset_t &p : ratioPresets)
        aspect->addItem(QString::fromLatin1(p.label), p.ratio);

    const QString hold = tr("Hold %1 key to modify with mouse");
    distortion = new slider(tr("Distortion") + QStringLiteral(":"), slider::DefaultButton | slider::EditMode, this, 3,
                            QString(), -0.25, 0.25, 0.0, 0.001);
    perspectiveX = new slider(tr("Perspective") + QStringLiteral(" X:"), slider::DefaultButton | slider::EditMode, this,
                              3, QString(), -0.25, 0.25, 0.0, 0.001);
    perspectiveY = new slider(tr("Perspective") + QStringLiteral(" Y:"), slider::DefaultButton | slider::EditMode, this,
                              3, QString(), -0.25, 0.25, 0.0, 0.001);
    distortion->setToolTip(tr("Distortion") + QStringLiteral(": ") + hold.arg(tr("Ctrl")));
    perspectiveX->setToolTip(tr("Perspective") + QStringLiteral(" X: ") + hold.arg(tr("Alt")));
    perspectiveY->setToolTip(tr("Perspective") + QStringLiteral(" Y: ") + hold.arg(tr("Alt")));

    reset = new QPushButton(tr("Reset"));
    apply = new QPushButton(tr("Apply"));
    cancel = new QPushButton(tr("Cancel"));

    const int s = int(10 * scale);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addSpacing(int(3 * scale));
    auto *first = new QHBoxLayout;
    first->addSpacing(3);
    first->addWidget(new QLabel(tr("Aspect ratio") + QStringLiteral(":")));
    first->addWidget(aspect);
    first->addSpacing(s);
    first->addWidget(new QLabel(tr("Width") + QStringLiteral(":")));
    first->addWidget(widthSpin);
    first->addSpacing(s);
    first->addWidget(new QLabel(tr("Height") + QStringLiteral(":")));
    first->addWidget(heightSpin);
    first->addSpacing(s);
    first->addWidget(new QLabel(tr("Angle") + QStringLiteral(":")));
    first->addWidget(angleSpin);
    first->addSpacing(s);
    first->addStretch();
    auto *second = new QHBoxLayout;
    second->addWidget(reset);
    second->addSpacing(s);
    second->addWidget(apply);
    second->addWidget(cancel);
    second->addSpacing(3);
    second->addWidget(distortion);
    second->addSpacing(s);
    second->addWidget(perspectiveX);
    second->addSpacing(s);
    second->addWidget(perspectiveY);
    second->addStretch();
    second->addSpacing(s);
    second->addWidget(guidelines);
    outer->addLayout(first);
    outer->addLayout(second);

    connect(aspect, qOverload<int>(&QComboBox::currentIndexChanged), this, &cropTool::aspectRatioChanged);
    connect(widthSpin, qOverload<int>(&QSpinBox::valueChanged), this, &cropTool::sizeChangedSlot);
    connect(heightSpin, qOverload<int>(&QSpinBox::valueChanged), this, &cropTool::sizeChangedSlot);
    connect(angleSpin, qOverload<double>(&QDoubleSpinBox::valueChanged), this, &cropTool::paramsChangedSlot);
    connect(guidelines, &QPushButton::toggled, this, &cropTool::guidelinesToggled);
    connect(apply, &QPushButton::clicked, this, &cropTool::applyCropping);
    connect(cancel, &QPushButton::clicked, this, &cropTool::cancelCropping);
    connect(reset, &QPushButton::clicked, this, &cropTool::resetCropping);
    for (slider *sl : {distortion, perspectiveX, perspectiveY}) {
        connect(sl, &slider::valueChanged, this, &cropTool::paramsChangedSlot);
        connect(sl, &slider::valueChangedLive, this, &cropTool::paramsChangedSlot);
    }
}

double cropTool::getAspectRatio() const
{
    const int idx = aspect->currentIndex();
    if (idx == PRESET_CUSTOM || idx < 0)
        return 0.0;
    if (idx == PRESET_ORIGINAL)
        return project && project->height > 0 ? double(project->width) / project->height : 0.0;
    return aspect->itemData(idx).toDouble();
}

void cropTool::setAreaAspect(double ratio)
{
    if (workspace && workspace->canvas())
        workspace->canvas()->viewState().aspect = ratio;
}

void cropTool::sizeChangedSlot()
{
    {
        const QSignalBlocker blockW(widthSpin);
        const QSignalBlocker blockH(heightSpin);
        const double r = getAspectRatio();
        const QObject *from = sender();
        const bool fromHeight = from == heightSpin;
        if (r > 0.0 && (fromHeight || from == widthSpin || from == aspect)) {
            // The boxes' maxima are the image size in crop mode.
            const QSize size = cropSizeForAspect(widthSpin->value(), heightSpin->value(), r, fromHeight,
                                                 widthSpin->maximum(), heightSpin->maximum());
            widthSpin->setValue(size.width());
            heightSpin->setValue(size.height());
        }
    }
    emit sizeChanged(widthSpin->value(), heightSpin->value());
}

void cropTool::aspectRatioChanged(int)
{
    setAreaAspect(getAspectRatio());
    sizeChangedSlot();
}

void cropTool::paramsChangedSlot()
{
    emit paramsChanged(angleSpin->value(), distortion->value(), perspectiveX->value(), perspectiveY->value());
}

void cropTool::resetCropping()
{
    {
        const QSignalBlocker b1(widthSpin), b2(heightSpin), b3(angleSpin), b4(aspect);
        const QSignalBlocker b5(distortion), b6(perspectiveX), b7(perspectiveY);
        if (project && project->width > 0 && project->height > 0) {
            widthSpin->setValue(project->width);
            heightSpin->setValue(project->height);
        }
        angleSpin->setValue(0.0);
        aspect->setCurrentIndex(PRESET_CUSTOM);
        distortion->setValue(0.0);
        perspectiveX->setValue(0.0);
        perspectiveY->setValue(0.0);
    }
    setAreaAspect(0.0);
    sizeChangedSlot();
    paramsChangedSlot();
}

void cropTool::setCropArea(cropRect rect)
{
    const QSignalBlocker blockW(widthSpin);
    const QSignalBlocker blockH(heightSpin);
    widthSpin->setValue(rect.width);
    heightSpin->setValue(rect.height);
}

void cropTool::startCropping(const QString &aspectLabel)
{
    const int w = project ? project->width : 0, h = project ? project->height : 0;
    {
        const QSignalBlocker b1(widthSpin), b2(heightSpin), b3(angleSpin), b4(aspect);
        const QSignalBlocker b5(distortion), b6(perspectiveX), b7(perspectiveY);
        widthSpin->setRange(CROP_MIN_SIDE, std::max(CROP_MIN_SIDE, w));
        heightSpin->setRange(CROP_MIN_SIDE, std::max(CROP_MIN_SIDE, h));
        angleSpin->setValue(0.0);
        distortion->setValue(0.0);
        perspectiveX->setValue(0.0);
        perspectiveY->setValue(0.0);
        widthSpin->setValue(w);
        heightSpin->setValue(h);
        const int found = aspectLabel.isEmpty() ? -1 : aspect->findText(aspectLabel);
        aspect->setCurrentIndex(found > 0 ? found : PRESET_CUSTOM);
    }
    setAreaAspect(getAspectRatio());
    if (workspace && w > 0 && h > 0)
        workspace->setCropSize(w, h);
}
