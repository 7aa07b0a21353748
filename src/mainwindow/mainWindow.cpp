// mainWindow: construction, the small slots and closing.

#include "mainwindow/mainWindow.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "hdr/lensfunDb.h"
#include "hdrdialogs/loadOptionDialogs.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "imageio/exiftoolDaemon.h"
#include "mainwindow/aboutDialog.h"
#include "mainwindow/checkUpdates.h"
#include "platform/platformSettings.h"
#include "project/processingProject.h"
#include "widgets/dockTitleBar.h"
#include "widgets/myDockWidget.h"
#include "widgets/myQTabWidget.h"
#include "widgets/myScrollArea.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSysInfo>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <lcms2.h>
#include <libraw/libraw.h>

mainWindow *mainWindowInstance = nullptr;

namespace {

QVBoxLayout *slotLayout(QWidget *host)
{
    auto *layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// A scrolling page whose content column is an empty slot for panels.
QScrollArea *panelPage(QScrollArea *area, QVBoxLayout **slot)
{
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    auto *content = new QWidget(area);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *panels = new QWidget(content);
    *slot = slotLayout(panels);
    column->addWidget(panels);
    column->addStretch(1);
    area->setWidget(content);
    return area;
}

} // namespace

mainWindow::mainWindow()
    : QMainWindow(nullptr)
{
    uiScale = widgetSupport::uiScale();
    buildFrame();
    logStartupDiagnostics();
    createProject();

    auto *central = new QWidget(this);
    central->setObjectName("centralArea");
    centralSlot = slotLayout(central);
    central->setMinimumWidth(int(300 * uiScale));
    setCentralWidget(central);

    leftTab = new myQTabWidget(this);
    rightTab = new myQTabWidget(this);
    rightTab->setObjectName("mainTab");

    createStatusWidgets();
    createActions();
    createMenuBar();
    createToolBars();

    connect(leftTab, &myQTabWidget::optionSelected, this, &mainWindow::leftTabOption);
    connect(leftTab, &myQTabWidget::resized, this, &mainWindow::leftTabResized);
    connect(leftTab, &QTabWidget::currentChanged, this, &mainWindow::leftTabChanged);

    buildTabs();
    buildViews();
    buildPhotoList();
    connectKeyboardNavigation();
    connectHistoryAndTools();
    buildDocks();
    rightTabChanged(0);
    loadDefaultSettings();
    buildPresetLibrary();
    connectPresetKeys();

    aboutDialog = new about(this, project);
    qtLicenseDialog = new qtLicense(this);
    updateCheck = new checkUpdates(this);
    // Logged last: the dcraw version probe has run beside the building.
    logLibraryVersions();

    connect(this, &mainWindow::loadOnStartup, this, &mainWindow::loadOnStartupSlot, Qt::QueuedConnection);
    if (!startParams.inputPhoto.isEmpty())
        emit loadOnStartup();

    clearHistory();
    windowMaximized = false;
    windowMaximizing = false;
    dragging = false;
    windowNormalGeometry = QRect();
    setControlsEnabled(true);
}

mainWindow::~mainWindow()
{
    debugLog("Destroy main window\n");
    // Children report their hiding while the base class takes them down;
    // by then this part of the window is gone.
    const QList<QObject *> children = findChildren<QObject *>();
    for (QObject *child : children)
        disconnect(child, nullptr, this, nullptr);
    // The thumbnail run reads the project: it ends first.
    stopPresetThumbnails();
    stopToneMappingWorkers();
    destroyViews();
    // The project's dialogs are children of the window; the project goes
    // first so that nothing it owns outlives the window.
    delete project;
    project = nullptr;
    if (mainWindowInstance == this)
        mainWindowInstance = nullptr;
}

void mainWindow::createProject()
{
    project = new processingProject(this);
    if (project->constructionFailed) {
        debugLog("Failed to create project!\n");
        startupError = true;
        startupErrorText = "Failed to create project";
    }
    loadOptionsDialogs = std::make_unique<loadOptionDialogs>(this);
    project->loadOptions = loadOptionsDialogs.get();
    connect(project->exiftool, &exiftoolDaemon::showError, this, &mainWindow::notifyAboutExiftoolError);
}

void mainWindow::logLibraryVersions()
{
    debugLog("QT version: %s / %s\n", qVersion(), QT_VERSION_STR);
    debugLog("LCMS version: %d\n", cmsGetEncodedCMMversion());
    if (loadOptionsDialogs && loadOptionsDialogs->rawDialog())
        debugLog("DCRAW version: %s\n", qPrintable(loadOptionsDialogs->rawDialog()->dcrawVersionText()));
    debugLog("LIBRAW version: %s\n", libraw_version());
    if (project && project->lensDb)
        debugLog("Lensfun DB version: %s\n", qPrintable(project->lensDb->getVersion()));
}

QVector<mainWindow::language_t> mainWindow::languageTable()
{
    return {{QString::fromUtf8("Český"), "cz"},
            {"Deutsch", "de"},
            {QString::fromUtf8("Eλληνικά"), "gr"},
            {"English", "en"},
            {QString::fromUtf8("Español"), "es"},
            {QString::fromUtf8("Français"), "fr"},
            {"Italiano", "it"},
            {"Magyar", "hu"},
            {"Nederlands", "nl"},
            {"Polski", "pl"},
            {QString::fromUtf8("Português"), "pt"},
            {QString::fromUtf8("Português Brasileiro"), "br"},
            {QString::fromUtf8("Română"), "ro"},
            {QString::fromUtf8("Русский"), "ru"},
            {QString::fromUtf8("Slovenský"), "sk"},
            {QString::fromUtf8("Türkçe"), "tr"}};
}

void mainWindow::buildTabs()
{
    // "Tools" dock: presets, history, navigator.
    auto *presetsPage = new QWidget(leftTab);
    presetsSlot = slotLayout(presetsPage);
    leftTab->addTab(presetsPage, tr("Presets"));

    auto *historyPage = new QWidget(leftTab);
    auto *historyLayout = new QVBoxLayout(historyPage);
    historyLayout->setContentsMargins(2, 2, 2, 2);
    historyList = new QListWidget(historyPage);
    historyList->setObjectName("historyList");
    auto *resetHistory = new QPushButton(tr("Reset"), historyPage);
    resetHistory->setObjectName("historyReset");
    historyLayout->addWidget(historyList, 1);
    historyLayout->addWidget(resetHistory);
    connect(historyList, &QListWidget::currentRowChanged, this, &mainWindow::applyHistory);
    connect(resetHistory, &QPushButton::clicked, this, qOverload<>(&mainWindow::clearHistory));
    leftTab->addTab(historyPage, tr("History"));

    auto *navigatorPage = new QWidget(leftTab);
    navigatorSlot = slotLayout(navigatorPage);
    leftTab->addTab(navigatorPage, tr("Navigator"));

    // "Processing" dock: Generate HDR, tone mapping, post-processing.
    photoPanel = new QWidget(rightTab);
    auto *photoLayout = new QVBoxLayout(photoPanel);
    photoLayout->setContentsMargins(2, 2, 2, 2);
    auto *buttons = new QHBoxLayout();
    auto makeButton = [&](const char *icon, const QString &text, const char *name) {
        auto *b = new QPushButton(makeColoredIcon(QString(":/resources/") + icon + ".png"), text, photoPanel);
        b->setObjectName(name);
        buttons->addWidget(b);
        return b;
    };
    newButton = makeButton("new", QString(), "newButton");
    newButton->setToolTip(tr("New"));
    addButton = makeButton("add", QString(), "addButton");
    addButton->setToolTip(tr("Add"));
    removeButton = makeButton("remove", tr("Remove"), "removeButton");
    buttons->addStretch(1);
    hdrButton = makeButton("generateHDR", tr("Generate HDR"), "hdrButton");
    photoLayout->addLayout(buttons);
    connect(newButton, &QPushButton::clicked, newAct, &QAction::trigger);
    connect(addButton, &QPushButton::clicked, addAct, &QAction::trigger);
    connect(removeButton, &QPushButton::clicked, removeAct, &QAction::trigger);
    connect(hdrButton, &QPushButton::clicked, generateHdrAct, &QAction::trigger);

    auto *photoArea = new myScrollArea(photoPanel);
    photoArea->setObjectName("photoListArea");
    panelPage(photoArea, &photoListSlot);
    photoLayout->addWidget(photoArea, 1);
    evPanel = new QWidget(photoPanel);
    evPanel->setObjectName("evSelectionArea");
    evSelectionSlot = slotLayout(evPanel);
    photoLayout->addWidget(evPanel);
    rightTab->addTab(photoPanel, tr("Generate HDR"));

    auto *tmArea = new QScrollArea(rightTab);
    toneMappingPage = panelPage(tmArea, &toneMappingSlot);
    toneMappingPanelArea = toneMappingSlot->parentWidget();
    rightTab->addTab(toneMappingPage, tr("Tone mapping"));

    auto *ppArea = new QScrollArea(rightTab);
    postProcessingPage = panelPage(ppArea, &postProcessingSlot);
    rightTab->addTab(postProcessingPage, tr("Postprocessing"));
    connect(rightTab, &QTabWidget::currentChanged, this, &mainWindow::rightTabChanged);
    // The style draws these titles in a bold 12 px font, but sizes the tabs
    // by the tab bar's own font: the tabs get room for the bold titles.
    QFont tabFont(rightTab->tabBar()->font());
    tabFont.setBold(true);
    tabFont.setPixelSize(int(12 * uiScale));
    const QFontMetrics metrics(tabFont);
    int widest = 0;
    // The current tab reads "   n: name   " (see rightTabChanged).
    for (int i = 0; i < rightTab->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(QString("   %1: %2   ").arg(i + 1).arg(rightTab->tabText(i))));
    rightTab->setStyleSheet(QString("QTabBar::tab { min-width: %1px; }").arg(widest + int(6 * uiScale)));
}

void mainWindow::buildDocks()
{
    leftDock = new myDockWidget(tr("Tools"), this);
    leftDock->setObjectName("leftTabDock");
    leftDock->setTitleBarWidget(new dockTitleBar(leftDock));
    leftDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    leftDock->setWidget(leftTab);
    leftTab->ensurePolished();
    leftTab->tabBar()->ensurePolished();
    leftDock->setMinimumWidth(std::max(int(220 * uiScale), leftTab->tabBar()->sizeHint().width() + 8));
    leftDock->setMaximumWidth(int(700 * uiScale));
    addDockWidget(Qt::LeftDockWidgetArea, leftDock);

    rightDock = new myDockWidget(tr("Processing"), this);
    rightDock->setObjectName("rightTabDock");
    rightDock->setTitleBarWidget(new dockTitleBar(rightDock));
    rightDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    rightDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    rightDock->setWidget(rightTab);
    // Wide enough for the three tab titles in the style's padding.
    rightTab->ensurePolished();
    rightTab->tabBar()->ensurePolished();
    rightDock->setMinimumWidth(std::max(int(330 * uiScale), rightTab->tabBar()->sizeHint().width() + 8));
    addDockWidget(Qt::RightDockWidgetArea, rightDock);

    connect(leftDock, &QDockWidget::topLevelChanged, this, [this] { leftTabResized(); });
    connect(leftDock, &QDockWidget::visibilityChanged, this, [this] { leftTabResized(); });
}

void mainWindow::loadDefaultSettings()
{
    QString path = optionsInstance ? optionsInstance->misc.defaultToneMappingSettings : QString();
    if (!fileExists(path))
        path = QCoreApplication::applicationDirPath() + "/built-in presets" + "/default.lmsx";
    // The settings text is read whole; an empty or unreadable file is a
    // broken installation just as a missing one.
    QFile file(path);
    const bool readable = file.open(QIODevice::ReadOnly) && file.size() > 0 && !file.readAll().isEmpty();
    if (!readable) {
        debugLog("%s: Failed to load default tone mapping settings.\n", "mainWindow::mainWindow");
        startupErrorText = "Failed to load default tone mapping settings - bad installation";
        startupError = true;
    }
}

void mainWindow::logStartupDiagnostics()
{
    debugLog("Starting: %s %s %s\n", qPrintable(QCoreApplication::applicationName()), PROGRAM_VERSION,
             qPrintable(QSysInfo::buildCpuArchitecture()));
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
// small slots

void mainWindow::notifyAboutExiftoolError()
{
    // One notice per run, however often the daemon fails again.
    if (startParams.autoProcess || exiftoolErrorShown)
        return;
    exiftoolErrorShown = true;
    const QString text = tr("Exiftool failed to initialize. EXIF transfer and color space extraction are disabled!");
    if (project && project->batchRunning) {
        debugLog("%s: %s\n", "mainWindow::notifyAboutExiftoolError", qPrintable(text));
        return;
    }
    styledMessageBox::show(
        this, styledMessageBox::Warning,
        text + "<br><br><i>"
            + tr("Most probably the error is caused by problems with Exifool itself. Please go to Program Options / "
                 "Miscellaneous and try to clear Exiftool's files in order to reset it. You may also try to change "
                 "the Lumidra's temp files location (scratchpad in Program Options) to a custom path, other than "
                 "standard TEMP location - Exiftool uses that path as well.")
            + "</i>");
}

void mainWindow::handleQuit()
{
    debugLog("QUIT\n");
}

void mainWindow::setBackgroundSlot() {}

void mainWindow::showOptionsOnLoadSlot()
{
    if (optionsInstance)
        optionsInstance->optionsOnLoad.enabled = optionsOnLoadAct->isChecked();
}

void mainWindow::openWebHelp()
{
    QUrl url("https://lumidra.local/documentation/");
    url.setQuery(QString("v=%1").arg(PROGRAM_VERSION));
    QDesktopServices::openUrl(url);
}

// ---------------------------------------------------------------------------
// closing

void mainWindow::writeWindowSettings()
{
    auto settings = platformSettings();
    settings->setValue("WindowGeometry", windowMaximized ? windowNormalGeometry : geometry());
    settings->setValue("WindowMaximized", windowMaximized);
    settings->setValue("WindowState", saveState(0));
    settings->setValue("LeftDockGeometry", leftDock->geometry());
    settings->setValue("RightDockGeometry", rightDock->geometry());
    settings->setValue("LeftDockFloating", leftDock->isFloating());
    settings->setValue("RightDockFloating", rightDock->isFloating());
    const QScreen *s = windowHandle() ? windowHandle()->screen() : nullptr;
    settings->setValue("Screen", s ? int(QGuiApplication::screens().indexOf(const_cast<QScreen *>(s))) : -1);
}

void mainWindow::restoreWindowLayout()
{
    auto settings = platformSettings();
    restoreState(settings->value("WindowState", QByteArray()).toByteArray(), 0);
    const bool leftFloating = settings->value("LeftDockFloating", false).toBool();
    const bool rightFloating = settings->value("RightDockFloating", false).toBool();
    leftDock->setFloating(leftFloating);
    if (leftFloating)
        leftDock->setGeometry(settings->value("LeftDockGeometry", QRect(0, 0, 100, 100)).toRect());
    rightDock->setFloating(rightFloating);
    if (rightFloating)
        rightDock->setGeometry(settings->value("RightDockGeometry", QRect(0, 0, 100, 100)).toRect());
    rightDock->setVisible(true);
    setControlsEnabled(uiEnabled);
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

