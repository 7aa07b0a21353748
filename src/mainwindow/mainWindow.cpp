#include "mainwindow/mainWindow.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "platform/platformSettings.h"
#include "widgets/styleSheet.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <cmath>

mainWindow *mainWindowInstance = nullptr;

namespace {

double scale()
{
    return optionsInstance ? optionsInstance->uiScaleFactor : 1.0;
}

QString plainText(const QString &html)
{
    QTextDocument doc;
    doc.setHtml(html);
    return doc.toPlainText();
}

// The platform mark of the title ("32bit" on the original platform).
const char *const PLATFORM_MARK = "64bit";

} // namespace

mainWindow::mainWindow()
    : QMainWindow(nullptr)
{
    buildFrame();
    logStartupDiagnostics();
    setCentralWidget(new QWidget(this));
    buildDocks();
}

mainWindow::~mainWindow()
{
    debugLog("Destroy main window\n");
    if (mainWindowInstance == this)
        mainWindowInstance = nullptr;
}

void mainWindow::buildFrame()
{
    initWidgetResources();
    setWindowIcon(QIcon(":/resources/icon32.png"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setProperty("windowFrame", true);
    // The docks and the central area start below the title strip.
    setContentsMargins(0, TITLE_HEIGHT, 0, 0);
    setMinimumSize(int(900 * scale()), int(570 * scale()));

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
        b->setFixedSize(int(32 * scale()), TITLE_HEIGHT - 2);
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

void mainWindow::buildDocks()
{
    leftDock = new QDockWidget(tr("Presets"), this);
    leftDock->setObjectName("leftDock");
    leftDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    leftDock->setWidget(new QWidget(leftDock));
    leftDock->setMinimumWidth(int(180 * scale()));
    addDockWidget(Qt::LeftDockWidgetArea, leftDock);

    rightDock = new QDockWidget(tr("Tools"), this);
    rightDock->setObjectName("rightDock");
    rightDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    rightDock->setWidget(new QWidget(rightDock));
    rightDock->setMinimumWidth(int(300 * scale()));
    addDockWidget(Qt::RightDockWidgetArea, rightDock);
}

void mainWindow::logStartupDiagnostics()
{
    debugLog("Starting: %s %s %s\n", qPrintable(QCoreApplication::applicationName()), PROGRAM_VERSION,
             qPrintable(QSysInfo::currentCpuArchitecture()));
    debugLog("Timestamp: %s\n", qPrintable(QDateTime::currentDateTime().toString("yyyy.MM.dd HH:mm:ss")));
    debugLog("OS: %s\n", qPrintable(QSysInfo::prettyProductName()));
    debugLog("CPU: %s\n", qPrintable(QSysInfo::currentCpuArchitecture()));
    if (optionsInstance) {
        const programOptionsSettings &o = *optionsInstance;
        debugLog("CPU core count: %d (user defined - normal mode: %d, batch mode: %d)\n", QThread::idealThreadCount(),
                 o.performance.coreCount, o.performance.coreCountBatch);
        debugLog("Logical DPI: %d\n", o.logicalDpiX);
        debugLog("Scale: %d, skin: %d\n", o.activeScale, o.activeSkin);
        debugLog("Device Pixel Ratio (set): %lf\n", o.devicePixelRatio);
        debugLog("User folder: '%s'\n", o.installer.userFolder.toLocal8Bit().constData());
        debugLog("Scratchpad: '%s'\n", o.scratchpad.pathCurrent.toLocal8Bit().constData());
    }
    const QList<QScreen *> screens = QGuiApplication::screens();
    debugLog("Screen count = %d (main screen = %d)\n", int(screens.size()),
             int(screens.indexOf(QGuiApplication::primaryScreen())));
    for (int i = 0; i < screens.size(); ++i) {
        const QRect g = screens[i]->geometry(), a = screens[i]->availableGeometry();
        debugLog("- Screen %d: %d x %d (available: %d x %d), (position: %d, %d), (pixel ratio: %d)\n", i, g.width(),
                 g.height(), a.width(), a.height(), g.left(), g.top(), int(screens[i]->devicePixelRatio()));
    }
    debugLog("App folder: '%s'\n", QCoreApplication::applicationDirPath().toLocal8Bit().constData());
    debugLog("Home folder: '%s'\n", QDir::homePath().toLocal8Bit().constData());
    debugLog("Temp folder: '%s'\n", QDir::tempPath().toLocal8Bit().constData());
    debugLog("Settings file: '%s'\n", platformSettingsPath().toLocal8Bit().constData());
    debugLog("Library paths:\n");
    for (const QString &p : QCoreApplication::libraryPaths())
        debugLog("  %s\n", p.toLocal8Bit().constData());
    debugLog("Image formats:\n");
    for (const QByteArray &f : QImageReader::supportedImageFormats())
        debugLog("  %s\n", f.constData());
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
// start and files handed over by the system

void mainWindow::splashFinished(QWidget *splashWidget)
{
    delete splashWidget;
    if (optionsInstance) {
        const int ideal = QThread::idealThreadCount();
        const int limit = optionsInstance->performance.coreCount;
        if (limit < ideal) {
            const int used = std::min(limit, std::min(ideal, 64));
            styledMessageBox::show(this, styledMessageBox::Warning,
                                   tr("The program is running with decreased performance, using %1 out of %2 CPU "
                                      "cores. If it's not intended please go to the Program Options and change "
                                      "the performance settings.")
                                       .arg(used)
                                       .arg(ideal));
        }
    }
    startupComplete = true;
    // Qt's own About box is not answerable by the automatic run.
    if (optionsInstance && optionsInstance->ShowQtAbout && !startParams.autoProcess)
        QMessageBox::aboutQt(this, QString());
}

void mainWindow::addFileToOpen(QString fname)
{
    if (!filesToOpenTimer) {
        filesToOpen.clear();
        filesToOpenTimer = new QTimer(this);
        filesToOpenTimer->setSingleShot(true);
        connect(filesToOpenTimer, &QTimer::timeout, this, &mainWindow::addFileToOpen_timeout);
    }
    const QString ext = fileSuffixOf(fname).toLower();
    if (!fname.isEmpty() && fileExists(fname)) {
        if (fileTypeOf(fname) != FILETYPE_UNKNOWN || ext == "lmpx")
            filesToOpen.append(fname);
    }
    filesToOpenTimer->start(250);
}

void mainWindow::addFileToOpen_timeout()
{
    if (!filesToOpen.isEmpty()) {
        const QStringList files = filesToOpen;
        filesToOpen.clear();
        addDroppedImages(files);
    }
    filesToOpenTimer->deleteLater();
    filesToOpenTimer = nullptr;
}

void mainWindow::addDroppedImages(QStringList files)
{
    // Opening photos and projects comes with the processing project.
    for (const QString &f : files)
        debugLog("%s: '%s'\n", "mainWindow::addDroppedImages", f.toLocal8Bit().constData());
}

void mainWindow::handleQuit()
{
    debugLog("QUIT\n");
}

// ---------------------------------------------------------------------------
// closing

void mainWindow::writeWindowSettings()
{
    auto settings = platformSettings();
    settings->setValue("WindowGeometry", geometry());
    settings->setValue("WindowMaximized", windowMaximized);
    settings->setValue("WindowState", saveState(0));
    settings->setValue("LeftDockGeometry", leftDock->geometry());
    settings->setValue("RightDockGeometry", rightDock->geometry());
    settings->setValue("LeftDockFloating", leftDock->isFloating());
    settings->setValue("RightDockFloating", rightDock->isFloating());
    const QScreen *s = windowHandle() ? windowHandle()->screen() : nullptr;
    settings->setValue("Screen", s ? int(QGuiApplication::screens().indexOf(const_cast<QScreen *>(s))) : -1);
}

QString mainWindow::pluginCallbackPath() const
{
    const QString name = "Lumidra3_pluginCallback";
    // The host names its folder through "--output_fn" (or "--output_dir").
    const QString folder = startParams.pluginSrcDir;
    return folder.isEmpty() ? QDir::current().absoluteFilePath(name) : QDir(folder).filePath(name);
}

bool mainWindow::writePluginCallback()
{
    const QString path = pluginCallbackPath();
    debugLog("Saving %s... ", path.toLocal8Bit().constData());
    const bool saved = !resultFileName.isEmpty() && fileExists(resultFileName);
    const QByteArray content =
        saved ? "\"" + nativeAbsolutePath(resultFileName).toUtf8() + "\"" : QByteArray("\"\"");
    // Written under a temporary name and renamed, so the host never reads a
    // half-written file.
    checkedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        debugLog(" failed (%s)\n", qPrintable(file.errorText()));
        return false;
    }
    if (saved) {
        debugLog(" ok\n");
        debugLog("path=%s\n", content.constData());
    } else {
        debugLog(" ok (but result image not saved)\n");
    }
    return true;
}

void mainWindow::closeEvent(QCloseEvent *event)
{
    setEnabled(false);
    // Running background passes stop early.
    abortBackgroundFlag = true;
    debugLog("\nClosing...\n");
    closing = true;

    if (startParams.plugin)
        writePluginCallback();

    if (!startParams.autoProcess) {
        debugLog("Writing settings...\n");
        programOptionsSettings::writeSettings();
        // The window keys are written before the docks are hidden, so that
        // the stored layout keeps the docks the user had open.
        writeWindowSettings();
        leftDock->hide();
        rightDock->hide();
    }
    if (optionsInstance && optionsInstance->resetOnExit) {
        debugLog("RESET ALL SETTINGS...\n");
        resetAllSettings();
    }
    debugLog("Main window close complete\n");
    event->accept();
}
