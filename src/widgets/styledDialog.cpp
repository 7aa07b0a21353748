#include "widgets/styledDialog.h"

#include "app/debugLog.h"
#include "platform/platformSettings.h"
#include "widgets/widgetSupport.h"

#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

namespace {

// Height of the drawn title bar before scaling; presses within this many
// (unscaled) pixels of the top edge start a drag.
constexpr int titleBarHeight = 22;

QScreen *screenOf(const QWidget *reference)
{
    QScreen *screen = reference ? reference->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

} // namespace

styledDialog::styledDialog(QWidget *parent, bool withToggleButton, bool withSizeGrip, bool withIcon)
    : QDialog(parent), hasToggleButton(withToggleButton), hasSizeGrip(withSizeGrip), screenReference(parent)
{
    initWidgetResources();
    const double s = widgetSupport::uiScale();
    const bool highRes = widgetSupport::useHighResolutionImages();

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setContentsMargins(2, widgetSupport::scaled(titleBarHeight), 2, 2);
    setProperty("windowFrame", true);

    titleBar = new QWidget(this);
    titleBar->setProperty("windowTitle", true);
    titleBar->setFixedHeight(widgetSupport::scaled(titleBarHeight));
    auto *barLayout = new QHBoxLayout(titleBar);
    barLayout->setContentsMargins(3, 3, 3, 3);
    barLayout->setSpacing(1);

    titleText = new QLabel(QStringLiteral("Lumidra " LUMIDRA_VERSION), titleBar);
    titleText->setProperty("windowTitle", true);
    titleText->setFocusPolicy(Qt::NoFocus);

    if (withToggleButton) {
        toggleButton = new QPushButton(QString(), titleBar);
        toggleButton->setIcon(QIcon(highRes ? ":/resources/window_resize@2x.png" : ":/resources/window_resize.png"));
        toggleButton->setProperty("windowTitleButton", true);
        toggleButton->setFocusPolicy(Qt::NoFocus);
    }
    closeButton = new QPushButton(QString(), titleBar);
    closeButton->setIcon(QIcon(highRes ? ":/resources/window_close@2x.png" : ":/resources/window_close.png"));
    closeButton->setProperty("windowTitleButtonX", true);
    closeButton->setFocusPolicy(Qt::NoFocus);

    barLayout->addSpacing(2);
    if (withIcon) {
        QPixmap icon(highRes ? ":/resources/icon32.png" : ":/resources/icon16.png");
        const int h = s < 1.0 ? static_cast<int>(16 * s - 3) : 16;
        auto *iconLabel = new QLabel(titleBar);
        if (!icon.isNull())
            iconLabel->setPixmap(icon.scaledToHeight(h, Qt::SmoothTransformation));
        iconLabel->setFocusPolicy(Qt::NoFocus);
        barLayout->addWidget(iconLabel);
        barLayout->addSpacing(5);
    }
    barLayout->addWidget(titleText);
    barLayout->addStretch();
    if (toggleButton)
        barLayout->addWidget(toggleButton);
    barLayout->addWidget(closeButton);

    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    if (toggleButton)
        connect(toggleButton, &QPushButton::clicked, this, &styledDialog::toggleSize);

    if (withSizeGrip) {
        sizeGrip = new QLabel(this);
        const QPixmap grip(":/resources/size_grip.png");
        sizeGrip->setPixmap(grip);
        sizeGrip->resize(grip.isNull() ? QSize(12, 12) : grip.size());
        sizeGrip->setCursor(Qt::SizeFDiagCursor);
    }
}

QRect styledDialog::availableArea() const
{
    QScreen *screen = screenOf(screenReference);
    return screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
}

void styledDialog::centerOnScreen()
{
    const QRect a = availableArea();
    move(a.left() + (a.width() - width()) / 2, a.top() + (a.height() - height()) / 2);
}

void styledDialog::toggleSize()
{
    const QRect a = availableArea();
    if (maximized) {
        if (normalGeometry == a)
            normalGeometry = QRect(a.topLeft() + QPoint(5, 5),
                                   QSize(static_cast<int>(0.7 * a.width()), static_cast<int>(0.7 * a.height())));
        setGeometry(normalGeometry);
        maximized = false;
        return;
    }
    QRect target = a;
    QScreen *screen = screenOf(screenReference);
    const QRect full = screen ? screen->geometry() : a;
    // Without a task bar above or below, a window exactly as high as the
    // screen would be taken for a full-screen one.
    if (target.height() == full.height())
        target.setBottom(target.bottom() - 1);
    normalGeometry = geometry();
    setGeometry(target);
    maximized = true;
}

void styledDialog::setMaximized(bool state)
{
    maximized = !state;
    toggleSize();
}

void styledDialog::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->pos();
        if (p.y() < titleBarHeight) {
            dragging = true;
            dragOffsetX = p.x();
            dragOffsetY = p.y();
        }
        if (sizeGrip && p.x() >= sizeGrip->x() && p.y() >= sizeGrip->y())
            resizing = true;
    }
    QDialog::mousePressEvent(event);
}

void styledDialog::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    resizing = false;
    QDialog::mouseReleaseEvent(event);
}

void styledDialog::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (hasToggleButton && event->button() == Qt::LeftButton && event->pos().y() < titleBarHeight)
        toggleSize();
    QDialog::mouseDoubleClickEvent(event);
}

void styledDialog::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint g = event->globalPos();
    if (resizing)
        resize(g.x() - x(), g.y() - y());
    if (dragging)
        move(g.x() - dragOffsetX, g.y() - dragOffsetY);
    QDialog::mouseMoveEvent(event);
}

void styledDialog::resizeEvent(QResizeEvent *event)
{
    titleBar->setGeometry(0, 0, width(), titleBar->height());
    if (sizeGrip)
        sizeGrip->move(width() - sizeGrip->width() - 2, height() - sizeGrip->height() - 2);
    maximized = false;
    QDialog::resizeEvent(event);
}

void styledDialog::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        adjustSize();
        if (centerOnShow)
            centerOnScreen();
    }
    QDialog::showEvent(event);
    if (!event->spontaneous() && !geometryGroup.isEmpty())
        restoreStoredGeometry();
}

void styledDialog::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous() && !geometryGroup.isEmpty())
        storeGeometry();
    QDialog::hideEvent(event);
}

void styledDialog::restoreStoredGeometry()
{
    const auto store = platformSettings();
    const QRect r = store->value(geometryGroup + "/WindowGeometry", QRect()).toRect();
    if (!r.isNull() && chooseScreenForGeometry(r))
        setGeometry(r);
    if (store->value(geometryGroup + "/WindowMaximized", false).toBool())
        setMaximized(true);
}

void styledDialog::storeGeometry()
{
    const auto store = platformSettings();
    store->setValue(geometryGroup + "/WindowGeometry", geometry());
    store->setValue(geometryGroup + "/WindowMaximized", maximized);
}

bool chooseScreenForGeometry(const QRect &r)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    QScreen *primary = QGuiApplication::primaryScreen();
    debugLog("^^^ PRIMARY SCREEN = %d\n", static_cast<int>(screens.indexOf(primary)));
    debugLog("^^^ number of screens = %d\n", static_cast<int>(screens.size()));
    for (QScreen *screen : screens)
        qDebug() << screen->availableGeometry();
    // Strict containment: a rectangle touching the border is refused too.
    const bool c = primary && primary->availableGeometry().contains(r, true);
    debugLog("^^^ c=%d\n", c ? 1 : 0);
    return c;
}
