#include "widgets/slider.h"

#include "project/colorMaths.h"
#include "widgets/clickableLabel.h"
#include "app/utils.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyleOptionSlider>
#include <QThread>
#include <algorithm>
#include <climits>
#include <cmath>

namespace sliderMapping {

int multiplierFor(int decimals)
{
    int m = 1;
    for (int i = 0; i < decimals && m <= INT_MAX / 10; ++i)
        m *= 10;
    return m;
}

int positionOf(double v, int m)
{
    const double p = std::round(v * m);
    if (!(p > INT_MIN))
        return INT_MIN;
    if (!(p < INT_MAX))
        return INT_MAX;
    return static_cast<int>(p);
}

double valueOf(int p, int m, double step)
{
    const double v = double(p) / (m > 0 ? m : 1);
    if (!(step > 0.0))
        return v;
    return std::round(v / step) * step;
}

} // namespace sliderMapping

// ---------------------------------------------------------------- myQSlider

myQSlider::myQSlider() : QSlider(Qt::Horizontal)
{
    moveTimer.setSingleShot(true);
    scale = widgetSupport::uiScale();
    handleLen = 2 + static_cast<int>(19 * scale);
    setPageStep(1);
    setTracking(true);
    connect(this, &QAbstractSlider::sliderMoved, this, &myQSlider::startTimer);
    connect(&moveTimer, &QTimer::timeout, this, &myQSlider::timerTimeout);
}

void myQSlider::startTimer()
{
    moveTimer.start(250);
}

void myQSlider::stopTimer() {}

void myQSlider::timerTimeout()
{
    // The settled position once more, 250 ms after the last movement.
    emit valueChanged(value());
}

void myQSlider::mousePressEvent(QMouseEvent *event)
{
    const int w = width();
    const int l = handleLen;
    const qint64 range = qint64(maximum()) - minimum();
    if (event->button() == Qt::LeftButton) {
        if (w > l) {
            const int offset = std::clamp(event->pos().x() - l / 2, 0, w - l);
            const int target = static_cast<int>(minimum() + range * offset / (w - l));
            if (std::abs(qint64(target) - value()) > 1) {
                setValue(target);
                emit sliderMoved();
            }
        }
    } else if (event->button() == Qt::RightButton) {
        // A collapsed range keeps its handle at the left end.
        const double fraction = range > 0 ? double(value() - minimum()) / double(range) : 0.0;
        const int centre = static_cast<int>(fraction * (w - l) + l * 0.5 + 0.5);
        const int x = std::clamp(event->pos().x(), l / 2, std::max(l / 2, w - l / 2));
        if (std::abs(x - centre) <= l / 2)
            emit defaultRequest();
    }
    QSlider::mousePressEvent(event);
}

void myQSlider::mouseReleaseEvent(QMouseEvent *event)
{
    QSlider::mouseReleaseEvent(event);
}

void myQSlider::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Not passed on: QWidget would treat it as another press, and the jump to
    // the pointer would undo the default.
    event->accept();
    emit defaultRequestDblClick();
}

void myQSlider::wheelEvent(QWheelEvent *event)
{
    // Unfocused sliders leave the wheel to the scrolling panel around them.
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QSlider::wheelEvent(event);
}

void myQSlider::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    if (!isEnabled())
        return;

    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks)
        opt.subControls |= QStyle::SC_SliderTickmarks;
    const QRect g = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);

    const int w = width();
    const int l = handleLen;
    const qint64 range = qint64(maximum()) - minimum();
    int c = -1;
    if (value() != 0 && range > 0)
        c = static_cast<int>(double(value() - minimum()) * (w - l) / double(range) - 0.5);

    const bool bright = widgetSupport::activeSkin() == 1;
    QPainter p(this);
    const bool hue = property("Hue").toBool();
    const bool tint = property("Tint").toBool();
    const bool temperature = property("Temperature").toBool();
    if (!hue && !tint && !temperature) {
        if (c > 0)
            p.fillRect(QRect(QPoint(g.left() + 1, g.top() + 1), QPoint(g.left() + c, g.bottom() - 1)),
                       bright ? QColor(100, 160, 100) : QColor(90, 110, 90));
        return;
    }

    const double level = 255.0 * (bright ? 0.7 : 0.5);
    for (int x = 1; x <= w - 2; ++x) {
        if (x > c && x < c + l + 1)
            continue;
        const double f = double(x) / w;
        const double v = minimum() + range * f;
        const double a = v / 100.0;
        QColor colour;
        if (hue) {
            colour = QColor::fromHsv(x * 360 / w, 255, bright ? 178 : 127);
        } else {
            rgbDouble_t rgb{};
            double k = COLOR_TEMPERATURE_NEUTRAL;
            if (temperature)
                k = std::trunc(a < 1.0 ? (a - 1.0) * 3000.0 + 6500.0 : (a - 1.0) * 9000.0 + 6500.0);
            colorTemperatureToRgb(rgb, k);
            double comp[3];
            const double gTint = tint ? rgb.g * (a + 0.4) / 1.4 : rgb.g;
            comp[0] = rgb.r != 0.0 ? rgb.b / rgb.r : 0.0;
            comp[1] = gTint != 0.0 ? rgb.b / gTint : 0.0;
            comp[2] = 1.0;
            const double largest = std::max({comp[0], comp[1], comp[2]});
            int out[3];
            for (int i = 0; i < 3; ++i)
                out[i] = std::clamp(static_cast<int>(comp[i] / largest * level), 0, 255);
            colour = QColor(out[0], out[1], out[2]);
        }
        p.setPen(colour);
        p.drawLine(x, g.top() + 1, x, g.bottom() - 1);
    }
}

// ------------------------------------------------------------------- slider

slider::slider(const QString &name, int flags_, QWidget *parent, int decimals, const QString &property,
               double minimum, double maximum, double defaultValue, double step_)
    : slider(name, flags_, 0, decimals, property, minimum, maximum, defaultValue, step_)
{
    setParent(parent);
}

slider::slider(const QString &name, int flags_, int labelWidth, int decimals, const QString &property,
               double minimum, double maximum, double defaultValue, double step_)
    : QWidget(nullptr), m(sliderMapping::multiplierFor(decimals)), decimalCount(decimals), step(step_),
      flags(flags_), defValue(defaultValue), startValue(defaultValue)
{
    initWidgetResources();
    const double s = widgetSupport::uiScale();
    if (maximum < minimum)
        std::swap(minimum, maximum);

    qslider = new myQSlider;
    if (!property.isEmpty())
        qslider->setProperty(property.toLatin1().constData(), true);
    qslider->setSingleStep(std::max(1, sliderMapping::positionOf(step, m)));
    qslider->setRange(sliderMapping::positionOf(minimum, m), sliderMapping::positionOf(maximum, m));
    qslider->setValue(sliderMapping::positionOf(defaultValue, m));
    qslider->setFocusPolicy(Qt::ClickFocus);
    qslider->setMinimumWidth(static_cast<int>(40 * s));
    qslider->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Maximum);

    spin = new QDoubleSpinBox(this);
    spin->setDecimals(decimals);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(defaultValue);

    QString sample = maximum >= 100 ? "000" : maximum >= 10 ? "00" : "0";
    if (decimals > 0)
        sample += "," + QString(decimals, '0');
    const QFontMetrics fm = fontMetrics();
    spin->setFixedWidth(static_cast<int>(fm.horizontalAdvance(sample) * s + static_cast<int>(17 * s) * 1.6));
    const int labelWidthPx = static_cast<int>(fm.horizontalAdvance(sample + "8") * s);

    auto *valueLayout = new QHBoxLayout;
    valueLayout->setContentsMargins(0, 0, 0, 0);
    valueLayout->setSpacing(1);

    if (flags & EditMode) {
        clickLabel = new clickableLabel(valueText(defaultValue), true);
        clickLabel->setAlignment(Qt::AlignRight);
        clickLabel->setCursor(Qt::IBeamCursor);
        clickLabel->setFixedWidth(labelWidthPx);
        valueLayout->addWidget(spin);
        valueLayout->addWidget(clickLabel);
        connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), this, &slider::updateSliderPosition);
        connect(spin, &QDoubleSpinBox::editingFinished, this, &slider::exitEditModeWithEmit);
        connect(clickLabel, &clickableLabel::clicked, this, &slider::enterEditMode);
    } else {
        valueLabel = new QLabel(valueText(defaultValue), this);
        valueLabel->setFocusPolicy(Qt::NoFocus);
        valueLabel->setFixedWidth(labelWidthPx);
        valueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (flags & NoValueLabel)
            valueLabel->hide();
        else
            valueLayout->addWidget(valueLabel);
    }

    if (flags & DefaultButton) {
        defaultButton = new QPushButton(QString(), this);
        defaultButton->setIcon(makeColoredIcon(":/resources/default_m.png"));
        defaultButton->setFixedSize(static_cast<int>(17 * s), spin->sizeHint().height());
        defaultButton->setFocusProxy(spin);
        connect(defaultButton, &QPushButton::clicked, this, [this]() { setDefault(false); });
        valueLayout->addWidget(defaultButton);
    }

    connect(qslider, &myQSlider::defaultRequest, this, [this]() { setDefault(false); });
    connect(qslider, &myQSlider::defaultRequestDblClick, this, &slider::setDefaultDblClick);
    connect(qslider, &QSlider::valueChanged, this, &slider::updateSpinBoxValue);
    connect(qslider, &QSlider::valueChanged, this, &slider::valueChangedLive);
    connect(qslider, &QSlider::sliderReleased, this, [this]() { emit valueChanged(false); });
    connect(qslider, &QSlider::sliderReleased, this, &slider::exitEditMode);
    connect(qslider, &myQSlider::sliderMoved, this, &slider::exitEditMode);
    if (qint64(qslider->maximum()) - qslider->minimum() < 40)
        connect(qslider, &myQSlider::sliderMoved, this, [this]() { emit valueChanged(false); });

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    if (!name.isEmpty()) {
        nameLabel = new QLabel(name, this);
        if (labelWidth > 0)
            nameLabel->setFixedWidth(labelWidth);
        outer->addWidget(nameLabel);
    }
    outer->addWidget(qslider);
    outer->addLayout(valueLayout);
    setFixedHeight(spin->sizeHint().height());
    spin->hide();
    if (defaultButton)
        defaultButton->hide();
}

slider::~slider()
{
    // Destroying a focused spin box ends its editing: that must not reach the
    // half-destroyed slider.
    spin->blockSignals(true);
}

double slider::value() const
{
    return spin->value();
}

QString slider::valueText(double v) const
{
    return QString("%L1").arg(v, 0, 'f', decimalCount);
}

void slider::showValueText(double v)
{
    const QString t = valueText(v);
    if (clickLabel)
        clickLabel->setText(t);
    if (valueLabel)
        valueLabel->setText(t);
}

void slider::updateSpinBoxValue(int v)
{
    const double d = sliderMapping::valueOf(v, m, step);
    {
        const QSignalBlocker block(spin);
        spin->setValue(d);
    }
    showValueText(spin->value());
}

void slider::updateSliderPosition(double d)
{
    showValueText(d);
    {
        const QSignalBlocker block(qslider);
        qslider->setValue(sliderMapping::positionOf(d, m));
    }
    emit valueChangedLive();
}

void slider::setValue(double d)
{
    // A damaged settings file may hold anything; a value that is no number
    // shows the default instead.
    if (!std::isfinite(d))
        d = defValue;
    {
        const QSignalBlocker blockSlider(qslider);
        const QSignalBlocker blockSpin(spin);
        qslider->setValue(sliderMapping::positionOf(d, m));
        spin->setValue(d);
    }
    showValueText(spin->value());
    emit valueChanged(false);
}

void slider::setDefault(bool remLastFromHistory)
{
    {
        const QSignalBlocker blockSlider(qslider);
        const QSignalBlocker blockSpin(spin);
        spin->setValue(defValue);
        qslider->setValue(sliderMapping::positionOf(defValue, m));
    }
    spin->clearFocus();
    qslider->clearFocus();
    showValueText(spin->value());
    if (flags & EditMode)
        leaveEditMode();
    startValue = spin->value();
    emit valueChanged(remLastFromHistory);
}

void slider::setDefaultDblClick()
{
    // Let the click that began the double-click make its history entry
    // first; the receiver removes it (remLastFromHistory) and records the
    // default instead.
    QPointer<slider> self(this);
    for (int i = 0; i < 2; ++i) {
        QApplication::processEvents();
        if (!self)
            return;
        QThread::msleep(250);
    }
    QApplication::processEvents();
    if (!self)
        return;
    setDefault(true);
}

void slider::leaveEditMode()
{
    setUpdatesEnabled(false);
    spin->hide();
    if (defaultButton)
        defaultButton->hide();
    if (clickLabel)
        clickLabel->show();
    setUpdatesEnabled(true);
}

void slider::enterEditMode()
{
    setUpdatesEnabled(false);
    spin->show();
    if (defaultButton)
        defaultButton->show();
    if (clickLabel)
        clickLabel->hide();
    spin->setFocus();
    spin->selectAll();
    setUpdatesEnabled(true);
    startValue = spin->value();
}

void slider::exitEditMode()
{
    if (flags & EditMode)
        leaveEditMode();
}

void slider::exitEditModeWithEmit()
{
    if (!(flags & EditMode))
        return;
    leaveEditMode();
    // editingFinished also comes with the focus loss that hiding the spin
    // box causes: report each typed change once.
    if (spin->value() != startValue) {
        startValue = spin->value();
        emit valueChanged(false);
    }
}

void slider::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && spin->isVisible())
        exitEditMode();
    event->accept();
}
