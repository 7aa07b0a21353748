#include "widgets/spinner.h"

#include <QPainter>
#include <cmath>

spinner::spinner(QWidget *parent) : QWidget(parent)
{
    setFixedSize(80, 80);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStyleSheet("QWidget { background-color: transparent; }");
    timer.setInterval(100);
    connect(&timer, &QTimer::timeout, this, &spinner::timerSlot);
    timer.start();
}

void spinner::timerSlot()
{
    if (!isVisible())
        return;
    segment = (segment + 1) % segmentCount;
    repaint();
}

void spinner::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int halfW = width() / 2;
    const int halfH = height() / 2;
    const int r = segmentRadius;
    for (int i = 0; i < segmentCount; ++i) {
        int c = i - segment;
        if (c < 0)
            c += segmentCount;
        const int b = static_cast<int>(c * 255.0 / segmentCount - 128);
        p.setPen(QColor(0, 0, 0, 200));
        if (b < 0)
            p.setBrush(QColor(0, 0, 0, static_cast<int>((255.0 / segmentCount + 128 + b) * 1.4)));
        else
            p.setBrush(QColor(255, 255, 255, static_cast<int>(b * 1.4)));
        double angle = i * 360.0 / segmentCount + rotation;
        if (angle >= 360.0)
            angle -= 360.0;
        const double a = angle * M_PI / 180.0;
        const QPointF centre(halfW + std::cos(a) * (halfW - 2 * r), halfH + std::sin(a) * (halfH - 2 * r));
        p.drawEllipse(centre, r, r);
        rotation -= 0.2;
        if (rotation >= 360.0)
            rotation -= 360.0;
        if (rotation <= -360.0)
            rotation += 360.0;
    }
}
