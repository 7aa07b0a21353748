// mainWindow: the frameless frame (title strip, drag, maximize and restore),
// full screen and workspace maximizing, the preset grid and the layout reset.

#include "mainwindow/mainWindow.h"

#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "platform/platformSettings.h"
#include "widgets/myDockWidget.h"
#include "widgets/myQTabWidget.h"
#include "widgets/styleSheet.h"
#include "widgets/widgetSupport.h"
#include "widgets/zoomWidget.h"

#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QToolBar>
#include <QWindow>

namespace {

QString plainText(const QString &html)
{
    QTextDocument doc;
    doc.setHtml(html);
    return doc.toPlainText();
}

// The platform mark of the title ("32bit" on the original platform).
const char *const PLATFORM_MARK = "64bit";

} // namespace

void mainWindow::buildFrame()
{
    initWidgetResources();
    setWindowIcon(QIcon(":/resources/icon32.png"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setProperty("windowFrame", true);
    // The docks and the central area start below the title strip.
    setContentsMargins(0, TITLE_HEIGHT, 0, 0);
    setMinimumSize(int(900 * uiScale), int(570 * uiScale));

    const bool normalRatio = !optionsInstance || optionsInstance->devicePixelRatio == 1.0;
    titleStrip = new QWidget(this);
    titleStrip->setProperty("windowTitle", true);
    titleStrip->setAttribute(Qt::WA_StyledBackground, true);
    auto *layout = new QHBoxLayout(titleStrip);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->setSpacing(4);

    titleIcon = new QLabel(titleStrip);
    QPixmap icon(normalRatio ? ":/resources/icon16.png" : ":/resources/icon32.png");
    if (!normalRatio)
        icon.setDevicePixelRatio(2.0);
    titleIcon->setPixmap(icon);
    titleIcon->setProperty("windowTitle", true);
    titleMain = new QLabel(titleStrip);
    titleMain->setObjectName("windowTitleMain");
    titleMain->setProperty("windowTitle", true);
    titleMain->setProperty("windowTitleMain", true);
    titleFn = new QLabel(titleStrip);
    titleFn->setObjectName("windowTitleFn");
    titleFn->setProperty("windowTitle", true);
    titleFn->setProperty("windowTitleFn", true);
    layout->addWidget(titleIcon);
    layout->addWidget(titleMain);
    layout->addWidget(titleFn);
    layout->addStretch(1);

    auto makeButton = [&](const char *image, const char *image2x, const char *property) {
        auto *b = new QPushButton(titleStrip);
        b->setIcon(QIcon(normalRatio ? image : image2x));
        b->setProperty(property, true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(int(32 * uiScale), TITLE_HEIGHT - 2);
        layout->addWidget(b);
        return b;
    };
    minimizeButton = makeButton(":/resources/window_minimize.png", ":/resources/window_minimize@2x.png",
                                "windowTitleButton");
    sizeButton = makeButton(":/resources/window_resize.png", ":/resources/window_resize@2x.png",
                            "windowTitleButton");
    closeButton = makeButton(":/resources/window_close.png", ":/resources/window_close@2x.png",
                             "windowTitleButtonX");
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(minimizeButton, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(sizeButton, &QPushButton::clicked, this, &mainWindow::toggleSize);
}


// ---------------------------------------------------------------------------
// title and frame

void mainWindow::updateWindowTitle(QString fileName)
{
    const QString pluginMark =
        startParams.plugin ? QString(" &nbsp; <font color='#c080c0'>PLUG-IN</font>") : QString();
    const QString mainPart = QString("<html><b><font color='#c8c8c8'>Lumidra %1 &nbsp;%2</font>%3</b></html>")
                                 .arg(PROGRAM_VERSION, PLATFORM_MARK, pluginMark);
    const QString filePart = fileName.isEmpty() ? QString() : QString("  [%1]").arg(nativeAbsolutePath(fileName));
    setTitle(buildStyleSheet(mainPart), buildStyleSheet(filePart));
    setWindowTitle(plainText(QString("Lumidra %1 %2%3").arg(PROGRAM_VERSION, PLATFORM_MARK, pluginMark)));
    resultFileName = fileName;
}

void mainWindow::setTitle(QString mainPart, QString filePart)
{
    titleMain->setText(mainPart);
    titleFn->setText(filePart);
    setWindowTitle(plainText(mainPart + filePart));
}

QRect mainWindow::restoredRect(const QRect &available)
{
    return QRect(available.left() + 5, available.top() + 5, int(0.7 * available.width()),
                 int(0.7 * available.height()));
}

QRect mainWindow::availableArea() const
{
    const QScreen *s = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect(0, 0, 800, 600);
}

void mainWindow::toggleSize()
{
    const QRect available = availableArea();
    if (windowMaximized) {
        if (windowNormalGeometry == available || windowNormalGeometry.isNull())
            windowNormalGeometry = restoredRect(available);
        setUpdatesEnabled(false);
        setGeometry(windowNormalGeometry);
        setUpdatesEnabled(true);
        windowMaximized = false;
        return;
    }
    const QScreen *s = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    QRect target = available;
    if (s && available.height() == s->geometry().height())
        target.setBottom(target.bottom() - 1);
    windowNormalGeometry = geometry();
    windowMaximized = true;
    windowMaximizing = true;
    setUpdatesEnabled(false);
    setGeometry(target);
    setUpdatesEnabled(true);
}

void mainWindow::resizeEvent(QResizeEvent *event)
{
    titleStrip->setGeometry(QRect(QPoint(0, 0), QPoint(width() - 1, TITLE_HEIGHT - 1)));
    if (!windowMaximizing)
        windowMaximized = false;
    windowMaximizing = false;
    if (zoom)
        zoom->setFixedWidth(1200 * uiScale > width() ? int(300 * uiScale) : int(400 * uiScale));
    QMainWindow::resizeEvent(event);
}

void mainWindow::showEvent(QShowEvent *event)
{
    if (!event->spontaneous() && startParams.hide)
        setWindowState(windowState() | Qt::WindowMinimized);
    QMainWindow::showEvent(event);
}

bool mainWindow::inTitleDragArea(const QPoint &pos) const
{
    return pos.y() < TITLE_HEIGHT && pos.x() < minimizeButton->geometry().left();
}

void mainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && inTitleDragArea(event->pos())) {
        dragOffset = event->pos();
        dragging = true;
    }
    QMainWindow::mousePressEvent(event);
}

void mainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    QMainWindow::mouseReleaseEvent(event);
}

void mainWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && inTitleDragArea(event->pos()))
        toggleSize();
    QMainWindow::mouseDoubleClickEvent(event);
}

void mainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging) {
        QMainWindow::mouseMoveEvent(event);
        return;
    }
    const QPoint global = event->globalPos();
    if (!windowMaximized) {
        move(global - dragOffset);
        return;
    }
    // Dragging a maximized window restores it under the cursor.
    const QRect available = availableArea();
    if (windowNormalGeometry == available || windowNormalGeometry.isNull())
        windowNormalGeometry = restoredRect(available);
    const int RESCALE_MARGIN = 150;
    if (dragOffset.x() > windowNormalGeometry.width() - RESCALE_MARGIN && width() > 0)
        dragOffset.setX(dragOffset.x() * windowNormalGeometry.width() / width());
    windowMaximized = false;
    setUpdatesEnabled(false);
    setGeometry(QRect(global - dragOffset, windowNormalGeometry.size()));
    setUpdatesEnabled(true);
}

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// docks, full screen, layout reset

void mainWindow::leftTabOption(int)
{
    if (1.1 * leftDock->minimumWidth() > leftDock->width())
        resizeDocks({leftDock}, {leftDock->maximumWidth()}, Qt::Horizontal);
    else
        resizeDocks({leftDock}, {leftDock->minimumWidth()}, Qt::Horizontal);
}

void mainWindow::leftTabResized()
{
    // The preset grid is laid out by the presets tab; its rows follow the
    // tab's width through the tab's own layout.
    if (!leftTab || leftTab->isHidden())
        return;
}

void mainWindow::toggleFullScreen(bool fullScreen)
{
    QAction *action = fullScreen ? fullScreenAct : maximizeWorkspaceAct;
    action->setChecked(fileToolBar->isVisible());
    setControlsEnabled(true);
}

void mainWindow::toggleFullScreen()
{
    toggleFullScreen(false);
}

void mainWindow::toggleFullScreen2()
{
    toggleFullScreen(true);
}

void mainWindow::resetWindowLayout()
{
    if (!maximizeWorkspaceAct->isChecked()) {
        for (QToolBar *bar : {fileToolBar, viewToolBar, settingsToolBar, miscToolBar})
            bar->show();
    }
    leftDock->clearClosed();
    rightDock->clearClosed();
    rightDock->show();
    setControlsEnabled(true);
    leftDock->setFloating(false);
    rightDock->setFloating(false);
    windowMaximized = false;
    toggleSize();

    auto settings = platformSettings();
    for (const char *group : {"GenerateHDR/LensCorrection", "GenerateHDR/GhostRemoval", "Alignment", "LoadRAW", "Batch"}) {
        settings->setValue(QString(group) + "/WindowGeometry", QRect());
        settings->setValue(QString(group) + "/WindowMaximized", 0);
    }
}
