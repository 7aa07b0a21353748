#include "widgets/dockTitleBar.h"

#include "widgets/widgetSupport.h"

#include <QDockWidget>
#include <QMouseEvent>
#include <QPainter>

dockTitleBar::dockTitleBar(QWidget *parent) : QWidget(parent)
{
    initWidgetResources();
    scale = widgetSupport::uiScale();
    grip = QPixmap(":/resources/grip.png");
    pinIcon = QIcon(":/resources/pin3.png");
    unpinIcon = QIcon(":/resources/unpin.png");
}

QDockWidget *dockTitleBar::dock() const
{
    return qobject_cast<QDockWidget *>(parentWidget());
}

QSize dockTitleBar::minimumSizeHint() const
{
    const int h = static_cast<int>(14 * scale);
    const QDockWidget *d = dock();
    if (d && d->features().testFlag(QDockWidget::DockWidgetVerticalTitleBar))
        return QSize(h, 50);
    return QSize(50, h);
}

QSize dockTitleBar::sizeHint() const
{
    return minimumSizeHint();
}

void dockTitleBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int w = width();
    const int h = height();
    const int gripWidth = w - h - 8;
    if (!grip.isNull() && gripWidth > 0) {
        const int g = grip.height();
        p.drawTiledPixmap(QRect(2, (h - g) / 2, gripWidth, g), grip);
    }
    const int side = h - 4;
    if (side > 0) {
        const QDockWidget *d = dock();
        const QIcon &icon = d && d->isFloating() ? pinIcon : unpinIcon;
        p.drawPixmap(w - h, 2, icon.pixmap(side, side));
    }
}

void dockTitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    QDockWidget *d = dock();
    if (d && event->pos().x() > width() - height() - 2) {
        event->accept();
        d->setFloating(!d->isFloating());
        return;
    }
    event->ignore();
}
