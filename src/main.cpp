// Program start-up: environment switches, the application object, settings,
// translation, style sheet, start parameters, splash, the main window and its
// geometry, then the event loop.

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/startup.h"
#include "app/utils.h"
#include "mainwindow/mainWindow.h"
#include "mainwindow/myApplication.h"
#include "platform/platformSettings.h"
#include "widgets/splash.h"
#include "widgets/styleSheet.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStyleFactory>
#include <QThreadPool>
#include <QTimer>
#include <QTranslator>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

void checkQtVersion(int &argc, char **argv)
{
    const QString running = qVersion();
    if (qtVersionSufficient(running, REQUIRED_QT_VERSION))
        return;
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
    const QString text = QString("Executable '%1' requires Qt %2, found Qt %3.")
                             .arg(QCoreApplication::applicationName(), REQUIRED_QT_VERSION, running);
    QMessageBox::critical(nullptr, "Incompatible Qt Library Error", text, QMessageBox::Abort);
    qFatal("%s", qPrintable(text));
}

// In the automatic run no box may wait for a person: the text is logged and
// the safe choice answered.
void installAutomaticRunHook()
{
    styledMessageBox::setMessageHook([](int kind, const QString &title, const QString &text, int buttons) {
        const int answer = automaticRunAnswer(kind, buttons);
        debugLog("Automatic run, message (kind %d) '%s': %s -> answered %d\n", kind, title.toLocal8Bit().constData(),
                 text.trimmed().toLocal8Bit().constData(), answer);
        // Errors and warnings also reach the person who started the run.
        const QString line = automaticRunStderrLine(kind, text);
        if (!line.isEmpty())
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        return answer;
    });
}

} // namespace

int main(int argc, char **argv)
{
    // A write beyond the file-size limit fails with an error the savers
    // report, instead of ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);

    // Scale switches: single-dash switches that must act before any Qt object exists.
    QStringList lowerArgs;
    for (int i = 1; i < argc; ++i)
        lowerArgs.append(QString::fromLocal8Bit(argv[i]).toLower());
    applyScaleSwitches(lowerArgs);

    // Qt version check (skipped with -dontcheckqtversion).
    if (!lowerArgs.contains("-dontcheckqtversion"))
        checkQtVersion(argc, argv);

    // Application object, widget resources, Fusion style, library path and
    // the names QSettings and the window titles use.
    openEventFilesAdded = false;
    startupFinished = false;
    // Qt reads "--plugin <spec>" like its own "-plugin <spec>" option and
    // would take the next argument with it: the plug-in switch of a host
    // application never reaches Qt. The program's own parsing below reads
    // the full argument list.
    std::vector<char *> qtArgv;
    for (int i = 0; i < argc; ++i)
        if (i == 0 || std::strcmp(argv[i], "--plugin") != 0)
            qtArgv.push_back(argv[i]);
    int qtArgc = int(qtArgv.size());
    qtArgv.push_back(nullptr);
    myApplication app(qtArgc, qtArgv.data());
    initWidgetResources();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    // Qt's own plugin folders stay (Debian's image-format plugins live
    // there); the program's folder is added in front of them.
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath());
    QCoreApplication::setOrganizationName("Lumidra");
    QCoreApplication::setOrganizationDomain("lumidra.local");
    QCoreApplication::setApplicationName("Lumidra");
    QCoreApplication::setApplicationVersion(PROGRAM_VERSION);

    // Saved window geometry and the screen it was on.
    QRect savedGeometry;
    bool savedMaximized;
    int screenIndex;
    {
        auto settings = platformSettings();
        savedGeometry = settings->value("WindowGeometry", QRect(0, 0, 800, 570)).toRect();
        savedMaximized = settings->value("WindowMaximized", true).toBool();
        screenIndex = settings->value("Screen", -1).toInt();
    }
    const QList<QScreen *> screens = QGuiApplication::screens();
    screenIndex = validScreenIndex(screenIndex, int(screens.size()));
    QScreen *screen = screenIndex >= 0 ? screens[screenIndex] : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const QRect screenGeometry = screen ? screen->geometry() : available;

    // Settings record (read from the settings store), high-DPI pixmaps, and
    // the thread limits workers use.
    optionsInstance = new programOptionsSettings();
    if (optionsInstance->devicePixelRatio > 1.0)
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    publishThreadLimits(optionsInstance->performance.coreCount, optionsInstance->performance.coreCountBatch);

    // Translation of the chosen language.
    auto *translator = new QTranslator();
    const QString language = optionsInstance->misc.language;
    if (language != "en") {
        const QString file = QCoreApplication::applicationDirPath() + "/lang_" + language + ".qm";
        if (!translator->load(file)) {
            std::printf("TODO: lang file not found!\n");
            debugLog("%s: no translation '%s'\n", "main", file.toLocal8Bit().constData());
        }
    }
    QCoreApplication::installTranslator(translator);

    // Style sheet.
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QCoreApplication::applicationDirPath())));

    // Command line: logged, parsed into the start parameters; the automatic
    // run answers every message box itself.
    std::srand(unsigned(std::time(nullptr)));
    for (int i = 1; i < argc; ++i)
        debugLog("ARG_%d = %s\n", i, lowerArgs[i - 1].toLatin1().constData());
    parseCommandLine(argc, argv);
    if (startParams.autoProcess)
        installAutomaticRunHook();
    // An automatic run that cannot come to a result ends before any work.
    const QString automaticProblem = mainWindow::automaticRunProblem(startParams);
    setDebugLogNotice([](const QString &text) {
        return styledMessageBox::show(nullptr, styledMessageBox::Information, text,
                                      styledMessageBox::Yes | styledMessageBox::No);
    });

    // Splash screen (not in the automatic run: nobody sees it, and its fade
    // would tick on the GUI thread all through the loading) and the Qt
    // message handler.
    QPointer<splash> splashScreen;
    if (!startParams.autoProcess) {
        splashScreen = new splash(screenIndex, startParams.plugin);
        splashScreen->start();
    }
    qInstallMessageHandler(messageHandler);

    // Main window.
    mainWindowInstance = new mainWindow();
    mainWindow *w = mainWindowInstance;
    w->updateWindowTitle(QString());
    if (splashScreen)
        QObject::connect(splashScreen.data(), &splash::finished, w, &mainWindow::splashFinished);
    else
        QTimer::singleShot(0, w, [w] { w->splashFinished(nullptr); });

    // Window geometry: maximised, or the saved rectangle kept on the screen.
    const startGeometry_t start = computeStartGeometry(savedMaximized, savedGeometry, available, screenGeometry);
    if (savedMaximized) {
        w->setGeometry(start.geometry);
        w->show();
        w->windowMaximized = true;
        w->windowMaximizing = true;
        w->windowNormalGeometry = start.normalGeometry;
    } else {
        const QRect &v = start.visiblePart;
        debugLog("x1=%d, y1=%d, x2=%d, y2=%d; w=%d, h=%d\n", v.left(), v.top(), v.right() + 1, v.bottom() + 1,
                 v.width(), v.height());
        w->setGeometry(start.geometry);
        w->show();
        w->windowNormalGeometry = w->geometry();
    }

    // Tool bars and docks as the user left them.
    w->restoreWindowLayout();

    // Start-up finished: the start parameters are logged, the splash fades,
    // files opened by the desktop go to the window, quitting reaches it.
    logStartParams(argc, argv);
    if (splashScreen)
        splashScreen->startHiding();
    startupFinished = true;
    QObject::connect(&app, &myApplication::addFileToOpen, w, &mainWindow::addFileToOpen);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, w, &mainWindow::handleQuit);

    // Thread pool: room beyond the processor count for waiting tasks.
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(pool->maxThreadCount() + 8);
    debugLog("maxThreadCount=%d\n", pool->maxThreadCount());

    // Event loop, or the start-up error; then everything is released.
    int loopResult = 0;
    if (w->startupError) {
        styledMessageBox::show(w, styledMessageBox::Error,
                               QCoreApplication::translate("main", "Error on startup: '%1'.").arg(w->startupErrorText));
    } else if (!automaticProblem.isEmpty()) {
        debugLog("%s\n", automaticProblem.toLocal8Bit().constData());
        std::fprintf(stderr, "%s\n", automaticProblem.toLocal8Bit().constData());
        if (startParams.plugin)
            w->writePluginCallback();
        loopResult = 2;
    } else {
        loopResult = app.exec();
    }
    const int ret = startupExitCode(w->startupError, loopResult);
    // Cleared in both cases: the window's project removes its session folder.
    delete splashScreen.data();
    delete w;
    delete translator;
    debugLog("\nTerminated (ret=%d)\n", ret);
    qInstallMessageHandler(nullptr);
    delete optionsInstance;
    optionsInstance = nullptr;
    return ret;
}
