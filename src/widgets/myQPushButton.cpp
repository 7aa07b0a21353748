#include "widgets/myQPushButton.h"

#include "app/debugLog.h"
#include "widgets/styleSheet.h"

#include <QPainter>

myQPushButton::myQPushButton(bool seamOnLeft, QWidget *parent) : QPushButton(parent), seamLeft(seamOnLeft) {}

void myQPushButton::buildSeams(int n)
{
    checkedSeam = std::make_unique<QImage>(1, n, QImage::Format_ARGB32);
    disabledSeam = std::make_unique<QImage>(1, n, QImage::Format_ARGB32);
    normalSeam = std::make_unique<QImage>(1, n, QImage::Format_ARGB32);
    const QRgb disabled = colorLighten(QColor(0x40, 0x40, 0x40)).rgb();
    const QRgb normal = colorLighten(QColor(0x4e, 0x4e, 0x4e)).rgb();
    for (int k = 0; k < n; ++k) {
        const int grey = static_cast<int>(18.0 / n * k + 96);
        checkedSeam->setPixel(0, k, colorLighten(QColor(grey, grey, grey)).rgb());
        disabledSeam->setPixel(0, k, disabled);
        normalSeam->setPixel(0, k, normal);
    }
}

void myQPushButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    const int n = height() - 2;
    if (n <= 0)
        return;
    if (!checkedSeam || checkedSeam->height() != n)
        buildSeams(n);
    if (hovered)
        return;
    if (height() < checkedSeam->height() + 2) {
        debugLog("WARNING: %s_%d\n", "myQPushButton::paintEvent", 829);
        return;
    }
    const QImage &seam = !isEnabled() ? *disabledSeam : isChecked() ? *checkedSeam : *normalSeam;
    QPainter p(this);
    p.drawImage(seamLeft ? 0 : width() - 1, 1, seam);
}

void myQPushButton::enterEvent(QEvent *event)
{
    hovered = true;
    QPushButton::enterEvent(event);
}

void myQPushButton::leaveEvent(QEvent *event)
{
    hovered = false;
    QPushButton::leaveEvent(event);
}
