#include "views/navigator.h"

#include "app/programOptionsSettings.h"
#include "widgets/widgetSupport.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

navigator::navigator() : QWidget(nullptr)
{
    QSizePolicy policy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setMouseTracking(true);
}

navigator::~navigator() = default;

int navigator::drawnWidth() const
{
    if (!picture)
        return width();
    return std::min(picture->width(), width());
}

bool navigator::hasHeightForWidth() const
{
    return true;
}

int navigator::heightForWidth(int w) const
{
    if (!picture || picture->width() <= 0 || w <= 0)
        return 0;
    const int d = std::min(picture->width(), w);
    return int(double(picture->height()) / picture->width() * d);
}

double navigator::scale() const
{
    if (referenceWidth <= 0)
        return 1.0;
    return double(drawnWidth()) / referenceWidth;
}

void navigator::setImage(const uint8_t *pixels, int w, int h, int refWidth)
{
    const double ratio = widgetSupport::devicePixelRatio();
    const QSize before = picture ? picture->size() : QSize();
    if (pixels && w > 0 && h > 0) {
        if (!picture || picture->width() != w || picture->height() != h) {
            picture.reset(new QImage(w, h, QImage::Format_RGB32));
            picture->setDevicePixelRatio(ratio);
            pixmap.reset(new QPixmap(w, h));
            pixmap->setDevicePixelRatio(ratio);
        }
    }
    referenceWidth = refWidth;
    if (pixels && w > 0 && h > 0 && picture && !picture->isNull()) {
        for (int y = 0; y < h; ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(picture->scanLine(y));
            const uint8_t *in = pixels + size_t(y) * size_t(w) * 3;
            for (int x = 0; x < w; ++x)
                line[x] = qRgb(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
        }
        *pixmap = QPixmap::fromImage(*picture);
        pixmap->setDevicePixelRatio(ratio);
    } else {
        picture.reset();
        pixmap.reset();
    }
    // The layout gives the widget the height of the new overview.
    if ((picture ? picture->size() : QSize()) != before)
        updateGeometry();
    update();
}

void navigator::centreOn(int x, int y)
{
    // The centre as the press measures it (left + width / 2), so a press
    // without movement leaves the rectangle where it is.
    rect.moveTo(x - rect.width() / 2, y - rect.height() / 2);
}

void navigator::setRect(QRect viewRect)
{
    if (!hasPicture())
        return;
    rect = viewRect;
    const double s = scale();
    double x = int(rect.left() * s), y = int(rect.top() * s);
    if (x <= 0)
        x = 1;
    if (y <= 0)
        y = 1;
    const double w = int((rect.right() + 1) * s) - x;
    const double h = int((rect.bottom() + 1) * s) - y;
    outer = QRectF(x, y, w, h);
    inner = QRectF(x + 1, y + 1, w - 2, h - 2);
    if (isVisible())
        update();
}

void navigator::paintEvent(QPaintEvent *)
{
    if (!hasPicture() || picture->width() <= 0)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const int d = drawnWidth();
    const int h = int(double(picture->height()) / picture->width() * d);
    p.drawPixmap(QRect(QPoint(0, 0), QPoint(d - 1, h - 1)), *pixmap);
    p.setPen(Qt::white);
    p.drawRect(outer);
    p.setPen(Qt::black);
    p.drawRect(inner);
}

void navigator::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (hasPicture())
        setRect(rect);
}

void navigator::mousePressEvent(QMouseEvent *event)
{
    if (!hasPicture())
        return; // nothing to navigate: no viewport to send
    const double s = scale();
    const QPointF pos = event->localPos();
    if (outer.contains(pos)) {
        offsetX = int((rect.right() - rect.left() + 1) / 2 + rect.left() - pos.x() / s);
        offsetY = int((rect.bottom() - rect.top() + 1) / 2 + rect.top() - pos.y() / s);
    } else {
        offsetX = offsetY = 0;
    }
    dragging = true;
    mouseMoveEvent(event);
    emit viewportSet(rect);
}

void navigator::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->localPos();
    setCursor(outer.contains(pos) || dragging ? Qt::OpenHandCursor : Qt::ArrowCursor);
    if (!dragging)
        return;
    const double s = scale();
    centreOn(int(pos.x() / s + offsetX), int(pos.y() / s + offsetY));
    emit viewportSet(rect);
}

void navigator::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void navigator::wheelEvent(QWheelEvent *event)
{
    if (!hasPicture()) {
        event->ignore();
        return;
    }
    const bool ctrlOnly = event->modifiers() == Qt::ControlModifier;
    if (optionsInstance && optionsInstance->misc.zoomWithCtrl && !ctrlOnly) {
        event->ignore();
        return;
    }
    const double s = scale();
    centreOn(int(event->position().x() / s), int(event->position().y() / s));
    emit wheelMoved(rect, *event);
    event->accept();
}
