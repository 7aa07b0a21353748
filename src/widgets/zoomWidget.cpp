#include "widgets/zoomWidget.h"

#include "app/programOptionsSettings.h"
#include "widgets/slider.h"
#include "app/utils.h"
#include "widgets/widgetSupport.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <climits>

const QVector<int> &zoomWidget::zoomSteps()
{
    static const QVector<int> table = []() {
        QVector<int> t;
        for (int p = 1; p <= 50; ++p)
            t << p;
        for (int p = 52; p <= 100; p += 2)
            t << p;
        for (int p = 104; p <= 200; p += 4)
            t << p;
        for (int p = 208; p <= 400; p += 8)
            t << p;
        return t;
    }();
    return table;
}

zoomWidget::zoomWidget(const QString &caption, bool delayedLabel) : QWidget(nullptr), steps(zoomSteps())
{
    initWidgetResources();
    const double s = widgetSupport::uiScale();
    idx100 = steps.indexOf(100);
    fitIdx = idx100;
    lastIndex = idx100;

    auto *captionLabel = new QLabel(caption, this);
    zslider = new myQSlider;
    zslider->setMinimumWidth(static_cast<int>(40 * s));
    zslider->setRange(4, steps.size() - 1);
    zslider->setValue(idx100);
    label = new QLabel("100%", this);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(" 400%"));

    const int buttonWidth = static_cast<int>(24 * s + 0.5);
    button100 = new QPushButton(QString(), this);
    button100->setIcon(makeColoredIcon(":/resources/zoom_100.png"));
    buttonFit = new QPushButton(QString(), this);
    buttonFit->setIcon(makeColoredIcon(":/resources/zoom_fit.png"));
    for (QPushButton *b : {button100, buttonFit}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedWidth(buttonWidth);
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(captionLabel);
    layout->addWidget(zslider);
    layout->addWidget(label);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(1);
    buttons->addWidget(button100);
    buttons->addWidget(buttonFit);
    layout->addLayout(buttons);

    connect(zslider, &QSlider::valueChanged, this, &zoomWidget::updateZoom);
    connect(zslider, &myQSlider::defaultRequest, this, &zoomWidget::set100);
    connect(button100, &QPushButton::clicked, this, &zoomWidget::set100);
    connect(buttonFit, &QPushButton::clicked, this, &zoomWidget::setFit);

    if (delayedLabel) {
        labelTimer = new QTimer(this);
        labelTimer->setSingleShot(true);
        labelTimer->setInterval(300);
        connect(labelTimer, &QTimer::timeout, this, &zoomWidget::updateValue);
    }
}

void zoomWidget::setMinimumStep(int index)
{
    zslider->setMinimum(std::clamp(index, 0, int(steps.size()) - 1));
}

void zoomWidget::setFitIndex(int index)
{
    fitIdx = std::clamp(index, 0, int(steps.size()) - 1);
}

void zoomWidget::updateZoom(int v)
{
    if (zslider->value() == lastIndex)
        return;
    v = std::clamp(v, 0, int(steps.size()) - 1);
    if (labelTimer)
        labelTimer->stop();
    lastIndex = v;
    emit zoomChanged(steps[v] / 100.0);
    if (labelTimer)
        labelTimer->start();
    else
        updateValue();
}

void zoomWidget::updateValue()
{
    const int i = std::clamp(zslider->value(), 0, int(steps.size()) - 1);
    label->setText(QString("%1%").arg(steps[i]));
}

void zoomWidget::set100()
{
    zslider->setValue(idx100);
    updateZoom(zslider->value());
}

void zoomWidget::setFit()
{
    zslider->setValue(fitIdx);
    updateZoom(zslider->value());
}

bool zoomWidget::isFit()
{
    return zslider->value() == fitIdx;
}

void zoomWidget::incZoom()
{
    zslider->setValue(zslider->value() + 1);
}

void zoomWidget::decZoom()
{
    zslider->setValue(zslider->value() - 1);
}

void zoomWidget::incDecZoom(int dir, QPoint, int orientation)
{
    if (orientation != Qt::Vertical)
        return;
    if (optionsInstance && optionsInstance->misc.zoomWithCtrl &&
        QGuiApplication::keyboardModifiers() != Qt::ControlModifier)
        return;
    // The slider clamps to its range; the sum itself must not overflow.
    const qint64 target = qint64(zslider->value()) + dir;
    zslider->setValue(static_cast<int>(std::clamp<qint64>(target, INT_MIN, INT_MAX)));
}

int zoomWidget::fitStepIndex(const QVector<int> &steps, double fit, int current)
{
    // Rounding up to the next step would show a 1200-pixel image fitted at
    // 115.x % at 116 %, a few pixels wider than the view: round down.
    if (!(fit > 0.0) || steps.isEmpty() || fit > steps.last())
        return current;
    int index = 0;
    for (int i = 1; i < steps.size() && steps[i] <= fit; ++i)
        index = i;
    return index;
}

void zoomWidget::setScaleValue(double a)
{
    scale = a;
    fitIdx = fitStepIndex(steps, a, fitIdx);
}
