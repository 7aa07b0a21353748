// The window's actions, menus and tool bars, the enabling rules on the real
// widgets, the frame modes, colour management, progress and the restored
// layout.

#include "documents/presetLibrary.h"
#include "app/startup.h"
#include "imageio/exiftoolDaemon.h"
#include "mainwindow/myProgressBar.h"
#include "project/processingProject.h"
#include "widgets/myDockWidget.h"
#include "widgets/myQTabWidget.h"
#include "widgets/zoomWidget.h"
#include "windowFixture.h"

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <atomic>
#include <thread>

namespace {

// The menu titles an action is reachable through ("File", "Image/Transform").
QStringList menuPaths(QAction *action, QMenuBar *bar)
{
    QStringList paths;
    std::function<void(QMenu *, const QString &)> walk = [&](QMenu *menu, const QString &prefix) {
        const QString path = prefix.isEmpty() ? menu->title() : prefix + "/" + menu->title();
        for (QAction *a : menu->actions()) {
            if (a == action)
                paths.append(path);
            if (a->menu() && a->menu()->property("menu").toBool())
                walk(a->menu(), path);
        }
    };
    for (QAction *a : bar->actions())
        if (a->menu())
            walk(a->menu(), QString());
    return paths;
}

struct actionRow {
    const char *name;      // object name
    const char *text;
    const char *shortcut;  // portable text, "" for none, null for a standard key checked apart
    const char *menu;      // menu path
    bool icon;
    const char *slot;      // pending command it reaches, "" when it does something else
};

const actionRow actionTable[] = {
    {"newAct", "New...", "Ctrl+N", "File", true, ""},
    {"addAct", "Add...", "Ctrl+A", "File", true, ""},
    {"removeAct", "Remove", "Backspace", "File", true, ""},
    {"closeAct", "Close", "Ctrl+W", "File", false, ""},
    {"generateHdrAct", "Generate HDR", "Ctrl+G", "File", true, ""},
    {"loadProjectAct", "Load project...", "", "File", false, ""},
    {"saveProjectAct", "Save project...", "", "File", false, ""},
    {"saveAct", "Save", "", "File", true, ""},
    {"saveAsAct", "Save as...", "Ctrl+S", "File", true, ""},
    {"externalEditorAct", "Open in external editor", "Ctrl+E", "File", true, ""},
    {"savePreprocessedAct", "Save preprocessed input photos...", "", "File", false, ""},
    {"batchAct", "Batch processing...", "Ctrl+B", "File", true, "mainWindow::showBatch"},
    {"undoAct", "Undo", nullptr, "History", true, ""},
    {"redoAct", "Redo", nullptr, "History", true, ""},
    {"layersAct", "Enable layers", "Ctrl+L", "Layers", true, ""},
    {"zoom100Act", "Actual size", "Z", "View", true, ""},
    {"zoomFitAct", "Fit to workspace", "X", "View", true, ""},
    {"zoomOutAct", "Zoom out", nullptr, "View", true, ""},
    {"zoomInAct", "Zoom in", nullptr, "View", true, ""},
    {"maximizeWorkspaceAct", "Maximize workspace", "F11", "View", false, ""},
    {"fullScreenAct", "Full screen", "F", "View", false, ""},
    {"resetLayoutAct", "Reset window layout", "", "View", false, ""},
    {"beforeAct", "Photo before processing", "Ctrl+Left", "View", true, ""},
    {"resultAct", "Result", "Ctrl+Right", "View", true, ""},
    {"splitAct", "Before/after split view", "Ctrl+Up", "View", true, ""},
    {"rotateCcwAct", "Rotate 90 CCW (left)", "Ctrl+[", "Image/Transform", true, ""},
    {"rotateCwAct", "Rotate 90 CW (right)", "Ctrl+]", "Image/Transform", true, ""},
    {"rotate180Act", "Rotate 180", "", "Image/Transform", true, ""},
    {"flipHorizontalAct", "Horizontal flip", "", "Image/Transform", true, ""},
    {"flipVerticalAct", "Vertical flip", "", "Image/Transform", true, ""},
    {"cropAct", "Cropping, rotation, distortion and perspective", "Ctrl+T", "Image", true, ""},
    {"loadSettingsAct", "Load tone mapping settings...", "", "Presets", false, ""},
    {"saveSettingsAct", "Save tone mapping settings...", "", "Presets", false, ""},
    {"defaultSettingsAct", "Default settings", "Ctrl+D", "Presets", true, ""},
    {"addPresetAct", "Create preset from current settings", "Ctrl+P", "Presets", true, ""},
    {"userGroupsAct", "Setup user preset groups...", "", "Presets", false, ""},
    {"revealPresetsAct", "Reveal user preset files in Explorer", "", "Presets", false, ""},
    {"colorManagementAct", "Color management", "", "Settings/Color settings", false, ""},
    {"inputProfile0Act", "As embedded in input photo", "", "Settings/Color settings/Photo color space", false, ""},
    {"monitorProfile1Act", "sRGB", "", "Settings/Color settings/Monitor color profile", false, ""},
    {"intent2Act", "Saturation", "", "Settings/Color settings/Intent", false, ""},
    {"programOptionsAct", "Program options...", "", "Settings", false, ""},
    {"optionsOnLoadAct", "Show options when loading photos", "", "Settings", false, ""},
    {"language_de", "Deutsch", "", "Settings/Language", false, ""},
    {"webHelpAct", "Online documentation", "", "Help", true, ""},
    {"aboutAct", "About", "", "Help", true, ""},
    {"checkUpdatesAct", "Check for updates", "", "Help", false, ""},
    {"exitAct", "Exit", "Ctrl+Q", "File", false, ""},
};

// Receives the documentation address instead of a browser.
class urlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

TEST_F(mainWindowTest, everyActionHasItsTextShortcutMenuAndSlot)
{
    mainWindow w;
    w.show();
    urlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    for (const actionRow &row : actionTable) {
        SCOPED_TRACE(row.name);
        auto *a = w.findChild<QAction *>(row.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), row.text);
        if (row.shortcut) {
            EXPECT_EQ(a->shortcut().toString(QKeySequence::PortableText), row.shortcut);
        }
        EXPECT_TRUE(menuPaths(a, w.menuBar()).contains(row.menu)) << menuPaths(a, w.menuBar()).join(", ").toStdString();
        EXPECT_EQ(!a->icon().isNull(), row.icon);
        if (*row.slot && QString(row.name) != "exitAct") {
            const bool was = a->isEnabled();
            a->setEnabled(true);
            a->trigger();
            EXPECT_EQ(w.lastPendingCommand(), row.slot);
            a->setEnabled(was);
        }
    }
    w.webHelpAct->trigger();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].path(), "/documentation/");
    EXPECT_EQ(catcher.urls[0].query(), "v=" LUMIDRA_VERSION);

    EXPECT_EQ(w.undoAct->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_EQ(w.redoAct->shortcut(), QKeySequence(QKeySequence::Redo));
    EXPECT_EQ(w.zoomOutAct->shortcut(), QKeySequence(QKeySequence::ZoomOut));
    EXPECT_EQ(w.zoomInAct->shortcuts().first(), QKeySequence(QKeySequence::ZoomIn));
    // "Zoom in" answers both zoom-in keys; "Copy to clipboard" is never shown.
    EXPECT_TRUE(w.zoomInAct->shortcuts().contains(QKeySequence("Ctrl+=")));
    EXPECT_GE(w.zoomInAct->shortcuts().size(), 2);
    EXPECT_FALSE(w.copyAct->isVisible());
    EXPECT_EQ(w.copyAct->shortcut(), QKeySequence("Ctrl+C"));
    EXPECT_EQ(w.languageActs.size(), 16);
    EXPECT_TRUE(w.findChild<QAction *>("language_en")->isChecked());
    EXPECT_EQ(w.findChild<QShortcut *>("loggingShortcut")->key(), QKeySequence("Ctrl+Shift+F1"));

    // The exit command closes the window.
    w.exitAct->trigger();
    EXPECT_TRUE(w.closing);
}

TEST_F(mainWindowTest, menusToolBarsAndStatusBarInOrder)
{
    mainWindow w;
    QStringList titles;
    for (QAction *a : w.menuBar()->actions())
        titles.append(a->text());
    EXPECT_EQ(titles, (QStringList{"File", "History", "View", "Image", "Presets", "Layers", "Settings", "Help"}));
    auto names = [](QToolBar *bar) {
        QStringList out;
        for (QAction *a : bar->actions())
            out.append(a->isSeparator() ? "|" : a->objectName());
        return out;
    };
    EXPECT_EQ(names(w.fileToolBar), (QStringList{"newAct", "addAct", "removeAct", "|", "generateHdrAct", "|", "saveAct",
                                                 "saveAsAct", "externalEditorAct", "copyAct", "|", "batchAct"}));
    EXPECT_EQ(names(w.viewToolBar), (QStringList{"splitAct", "beforeAct", "resultAct"}));
    EXPECT_EQ(names(w.settingsToolBar), (QStringList{"undoAct", "redoAct", "defaultSettingsAct"}));
    EXPECT_EQ(names(w.miscToolBar), (QStringList{"layersAct"}));
    EXPECT_EQ(w.rightTab->objectName(), "mainTab");
    // The current tab carries its name, the others their number.
    EXPECT_EQ(w.rightTab->tabText(0), "   1: Generate HDR   ");
    EXPECT_EQ(w.rightTab->tabText(1), "   2   ");
    EXPECT_EQ(w.rightTab->tabText(2), "   3   ");
    EXPECT_EQ(w.leftTab->tabText(0), "Presets");
    EXPECT_EQ(w.leftTab->tabText(1), "History");
    EXPECT_EQ(w.leftTab->tabText(2), "Navigator");
    EXPECT_EQ(w.leftDock->windowTitle(), "Tools");
    EXPECT_EQ(w.rightDock->windowTitle(), "Processing");
    EXPECT_NE(w.leftDock->titleBarWidget(), nullptr);
    EXPECT_EQ(w.sampleLabel->text(), "[R:000%, G:000%, B:000%]  ");
    EXPECT_EQ(w.dimensionsLabel->text(), "0x0");
    EXPECT_FALSE(w.progressBar->isVisibleTo(&w));
    EXPECT_FALSE(w.breakButton->isVisibleTo(&w));
    EXPECT_FALSE(w.panoramaMark->isVisibleTo(&w));

    // The photo-panel buttons trigger their actions.
    w.newAct->setEnabled(true);
    w.newButton->setEnabled(true);
    // With a photo in the project a new project asks first.
    w.project->photos.append(photoInfo_t());
    QTest::mouseClick(w.newButton, Qt::LeftButton);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, "Are you sure you want to start a new project?");
    w.project->photos.clear();
}

TEST_F(mainWindowTest, projectAndServicesExistFromTheStart)
{
    mainWindow w;
    ASSERT_NE(w.project, nullptr);
    EXPECT_FALSE(w.startupError);
    EXPECT_TRUE(w.project->sessionDirExists());
    EXPECT_NE(w.project->exiftool, nullptr);
    EXPECT_NE(w.project->lensDb, nullptr);
    const QString session = w.project->sessionDirPath();
    {
        mainWindow other;
        EXPECT_NE(other.project->sessionDirPath(), session);
    }
    EXPECT_TRUE(QDir(session).exists());
}

TEST_F(mainWindowTest, missingDefaultSettingsIsAStartupError)
{
    const QString empty = testSupport::freshDir() + "/default.lmsx";
    ASSERT_TRUE(testSupport::writeFile(empty, ""));
    options->misc.defaultToneMappingSettings = empty;
    mainWindow w;
    EXPECT_TRUE(w.startupError);
    EXPECT_EQ(w.startupErrorText, "Failed to load default tone mapping settings - bad installation");
}

TEST_F(mainWindowTest, exiftoolFailureIsReportedOnce)
{
    mainWindow w;
    emit w.project->exiftool->showError();
    emit w.project->exiftool->showError();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, int(styledMessageBox::Warning));
    EXPECT_TRUE(messages[0].text.startsWith(
        "Exiftool failed to initialize. EXIF transfer and color space extraction are disabled!<br><br><i>"));

    startParams.autoProcess = true;
    mainWindow automatic;
    emit automatic.project->exiftool->showError();
    EXPECT_EQ(messages.size(), 1u) << "no box in the automatic run";
}

TEST_F(mainWindowTest, enablingRulesReachTheWidgets)
{
    options->newProject.showFileOpen = false;
    mainWindow w;
    w.show();
    // No photos, no file dialog first: New off, Add on, on any page.
    for (int tab : {0, 1, 2}) {
        w.rightTab->setCurrentIndex(tab);
        EXPECT_FALSE(w.newAct->isEnabled()) << tab;
        EXPECT_TRUE(w.addAct->isEnabled()) << tab;
    }
    w.rightTab->setCurrentIndex(0);
    options->newProject.showFileOpen = true;
    w.setControlsEnabled(true);
    EXPECT_TRUE(w.newAct->isEnabled());
    EXPECT_EQ(w.newAct->text(), "New...");
    EXPECT_FALSE(w.addAct->isEnabled());
    EXPECT_FALSE(w.addButton->isEnabled());
    options->newProject.showFileOpen = false;

    // One checked photo that is not an HDR file: "LDR enhancement".
    w.project->photos.append(photoInfo_t());
    w.project->photos.first().included = 1;
    w.setControlsEnabled(true);
    EXPECT_EQ(w.generateHdrAct->text(), "LDR enhancement");
    EXPECT_EQ(w.hdrButton->text(), "LDR enhancement");
    EXPECT_TRUE(w.generateHdrAct->isEnabled());
    EXPECT_TRUE(w.closeAct->isEnabled());
    EXPECT_EQ(w.newAct->text(), "New");

    // Save disabled: Ctrl+S goes to "Save as".
    EXPECT_FALSE(w.saveAct->isEnabled());
    EXPECT_TRUE(w.saveAct->shortcut().isEmpty());
    EXPECT_EQ(w.saveAsAct->shortcut(), QKeySequence("Ctrl+S"));
    w.project->hdrState.resultValid = true;
    w.updateWindowTitle("/out/result.jpg");
    w.rightTab->setCurrentIndex(1);
    EXPECT_TRUE(w.saveAct->isEnabled());
    EXPECT_EQ(w.saveAct->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(w.saveAsAct->shortcut(), QKeySequence("Ctrl+Shift+S"));
    EXPECT_TRUE(w.leftDock->isVisible()) << "tools dock on the tone-mapping page with an image";

    // While an operation runs everything listed is off, Undo/Redo included,
    // and the shortcuts stay as they were.
    w.clearHistory();
    w.doAddToHistory("a");
    w.doAddToHistory("b");
    w.historyList->setCurrentRow(1);
    EXPECT_TRUE(w.undoAct->isEnabled());
    EXPECT_TRUE(w.redoAct->isEnabled());
    w.setControlsEnabled(false);
    EXPECT_FALSE(w.interfaceEnabled());
    for (QAction *a : {w.newAct, w.addAct, w.closeAct, w.saveAct, w.saveAsAct, w.undoAct, w.redoAct, w.exitAct,
                       w.loadProjectAct, w.zoomInAct, w.colorManagementAct})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_FALSE(w.rightTab->isEnabled());
    EXPECT_EQ(w.saveAct->shortcut(), QKeySequence("Ctrl+S"));
    w.setControlsEnabled(true);
    EXPECT_TRUE(w.exitAct->isEnabled());

    // Undo and Redo walk the history rows.
    w.undoAct->trigger();
    EXPECT_EQ(w.historyList->currentRow(), 0);
    EXPECT_FALSE(w.undoAct->isEnabled());
    w.undo();
    EXPECT_EQ(w.historyList->currentRow(), 0);
    w.redoAct->trigger();
    w.redoAct->trigger();
    EXPECT_EQ(w.historyList->currentRow(), 2);
    EXPECT_FALSE(w.redoAct->isEnabled());

    // Dialogs that are not part of the program yet stay disabled.
    for (QAction *a : {w.batchAct, w.userGroupsAct})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    // About and the update check follow the interface.
    for (QAction *a : {w.aboutAct, w.checkUpdatesAct})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    w.project->cleanup();
}

TEST_F(mainWindowTest, maximizeWorkspaceAndFullScreen)
{
    mainWindow w;
    w.show();
    w.project->photos.append(photoInfo_t());
    w.project->hdrState.resultValid = true;
    w.rightTab->setCurrentIndex(1);
    ASSERT_TRUE(w.fileToolBar->isVisible());

    w.maximizeWorkspaceAct->trigger();
    EXPECT_TRUE(w.maximizeWorkspaceAct->isChecked());
    EXPECT_FALSE(w.fileToolBar->isVisible());
    EXPECT_FALSE(w.statusBar()->isVisible());
    EXPECT_TRUE(w.rightDock->isVisible()) << "the Processing dock stays";
    EXPECT_TRUE(w.leftDock->isVisible());
    w.maximizeWorkspaceAct->trigger();
    EXPECT_FALSE(w.maximizeWorkspaceAct->isChecked());
    EXPECT_TRUE(w.fileToolBar->isVisible());
    EXPECT_TRUE(w.statusBar()->isVisible());

    w.fullScreenAct->trigger();
    EXPECT_TRUE(w.fullScreenAct->isChecked());
    EXPECT_FALSE(w.rightDock->isVisible());
    EXPECT_FALSE(w.leftDock->isVisible());
    EXPECT_FALSE(w.fileToolBar->isVisible());
    w.fullScreenAct->trigger();
    EXPECT_TRUE(w.rightDock->isVisible());
    EXPECT_TRUE(w.leftDock->isVisible());
    w.project->cleanup();
}

TEST_F(mainWindowTest, resetLayoutBringsBackDocksAndForgetsDialogPlaces)
{
    mainWindow w;
    w.setMinimumSize(100, 100);
    w.show();
    w.project->photos.append(photoInfo_t());
    w.project->hdrState.resultValid = true;
    w.rightTab->setCurrentIndex(1);
    platformSettings()->setValue("Batch/WindowGeometry", QRect(1, 2, 300, 200));
    platformSettings()->setValue("Batch/WindowMaximized", true);
    w.leftDock->close();
    EXPECT_TRUE(w.leftDock->isClosed());
    w.setControlsEnabled(true);
    EXPECT_FALSE(w.leftDock->isVisible()) << "a dock the user closed stays closed";
    w.rightDock->setFloating(true);

    w.resetLayoutAct->trigger();
    EXPECT_TRUE(w.leftDock->isVisible());
    EXPECT_FALSE(w.rightDock->isFloating());
    EXPECT_TRUE(w.windowMaximized);
    auto s = platformSettings();
    for (const char *group : {"GenerateHDR/LensCorrection", "GenerateHDR/GhostRemoval", "Alignment", "LoadRAW", "Batch"}) {
        EXPECT_TRUE(s->value(QString(group) + "/WindowGeometry").toRect().isNull()) << group;
        EXPECT_FALSE(s->value(QString(group) + "/WindowMaximized").toBool()) << group;
    }
    w.project->cleanup();
}

TEST_F(mainWindowTest, restartRestoresTheLayout)
{
    const QRect placed(30, 40, 960, 640);
    {
        mainWindow w;
        w.setGeometry(placed);
        w.show();
        w.addToolBar(Qt::BottomToolBarArea, w.miscToolBar);
        w.addDockWidget(Qt::LeftDockWidgetArea, w.rightDock);
        ASSERT_TRUE(w.close());
    }
    mainWindow w;
    auto s = platformSettings();
    const startGeometry_t g = computeStartGeometry(s->value("WindowMaximized").toBool(),
                                                   s->value("WindowGeometry").toRect(), QRect(0, 0, 4000, 3000),
                                                   QRect(0, 0, 4000, 3000));
    EXPECT_EQ(g.geometry, placed);
    w.setGeometry(g.geometry);
    w.show();
    w.restoreWindowLayout();
    EXPECT_EQ(w.toolBarArea(w.miscToolBar), Qt::BottomToolBarArea);
    EXPECT_EQ(w.dockWidgetArea(w.rightDock), Qt::LeftDockWidgetArea);
    EXPECT_TRUE(w.rightDock->isVisible());
}

TEST_F(mainWindowTest, colorManagementChoices)
{
    options->colorManagement.enabled = false;
    mainWindow w;
    // Without photos the switch changes the setting without a question.
    w.colorManagementAct->trigger();
    EXPECT_TRUE(options->colorManagement.enabled);
    EXPECT_TRUE(options->colorManagement.bpCompensation);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(w.photoProfileButton->isVisibleTo(&w));

    w.inputProfileActs[2]->trigger();
    EXPECT_EQ(options->colorManagement.inputProfile, 2);
    w.intentActs[2]->trigger(); // "Saturation" is Little CMS intent 2
    EXPECT_EQ(options->colorManagement.intent, 2);
    w.monitorProfileActs[3]->trigger();
    EXPECT_EQ(options->colorManagement.outputProfile, 3);

    // "From file", cancelled: no custom profile, sRGB.
    dialogAnswer = QStringList();
    w.monitorProfileActs[0]->trigger();
    EXPECT_TRUE(options->colorManagement.customMonitorProfile.isEmpty());
    EXPECT_EQ(options->colorManagement.outputProfile, 1);
    EXPECT_EQ(w.monitorProfileActs[0]->text(), "From file: ...");
    EXPECT_TRUE(w.monitorProfileActs[1]->isChecked());

    // "From file" with an existing profile.
    const QString profile = testSupport::freshDir() + "/screen.icc";
    ASSERT_TRUE(testSupport::writeFile(profile, "icc"));
    dialogAnswer = QStringList{profile};
    w.monitorProfileActs[0]->trigger();
    EXPECT_EQ(options->colorManagement.customMonitorProfile, profile);
    EXPECT_EQ(options->colorManagement.outputProfile, 0);
    EXPECT_EQ(w.monitorProfileActs[0]->text(), "From file: screen.icc");

    // With a photo the switch asks first; No keeps everything.
    messages.clear();
    w.monitorProfileActs[1]->trigger();
    w.project->photos.append(photoInfo_t());
    messageAnswer = styledMessageBox::No;
    w.colorManagementAct->trigger();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].kind, int(styledMessageBox::Confirmation));
    EXPECT_EQ(messages[0].text, "Disabling color management requires closing the current project. Continue?");
    EXPECT_TRUE(options->colorManagement.enabled);
    EXPECT_TRUE(w.colorManagementAct->isChecked());
    messageAnswer = styledMessageBox::Yes;
    w.colorManagementAct->trigger();
    EXPECT_FALSE(options->colorManagement.enabled);
    // The presets tab takes the change itself now (no stand-in is reached).
    EXPECT_FALSE(w.lastPendingCommand().contains("invalidatePresets"));
    EXPECT_FALSE(w.presets->thumbnailsRunning());
    EXPECT_FALSE(w.photoProfileButton->isVisibleTo(&w));
    w.project->cleanup();
}

TEST_F(mainWindowTest, languageAndLoggingNotices)
{
    mainWindow w;
    w.findChild<QAction *>("language_de")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, int(styledMessageBox::Information));
    EXPECT_EQ(messages[0].text, "The language change will be applied after the program is restarted.<br><br>"
                                "The language change will be applied after the program is restarted.");
    EXPECT_EQ(options->misc.language, "de");

    w.enableLogging();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].text.startsWith("Logging mode will be enabled when Lumidra is restarted!"));
    EXPECT_EQ(platformSettings()->value("LogToFile").toInt(), 2);
}

TEST(mainWindowProgress, percentAndSizeTexts)
{
    EXPECT_EQ(progressPercent(0, 0), 0);
    EXPECT_EQ(progressPercent(5, 0), 100) << "a maximum of 0 counts as 1";
    EXPECT_EQ(progressPercent(50, 200), 25);
    EXPECT_EQ(progressPercent(500, 200), 100);
    EXPECT_EQ(progressPercent(UINT64_MAX, UINT64_MAX), 100);
    EXPECT_EQ(progressPercent(uint64_t(1) << 62, uint64_t(1) << 63), 50);
    EXPECT_EQ(imageSizeText(6000, 4000), "6000x4000 [24.0 MPix]");
    EXPECT_EQ(imageSizeText(0, 0), "0x0 [0.0 MPix]");
    EXPECT_EQ(imageSizeText(40000, 20000), "40000x20000 [800.0 MPix]");
}

TEST_F(mainWindowTest, progressFromWorkersWhileTheWindowRuns)
{
    mainWindow w;
    w.show();
    const uint64_t total = 4 * 20000;
    w.startProgress(total, true);
    EXPECT_TRUE(w.progressBar->isVisible());
    EXPECT_TRUE(w.breakButton->isVisible());
    EXPECT_EQ(w.progressMaximum(), total);

    // Four workers advance the counter while the window polls it.
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&go] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 20000; ++i)
                progressCounter.fetch_add(1, std::memory_order_relaxed);
        });
    go = true;
    QTRY_COMPARE_WITH_TIMEOUT(w.progressBar->value(), 100, 5000);
    for (std::thread &t : workers)
        t.join();
    EXPECT_EQ(progressCounter.load(), total) << "no update lost";

    QTest::mouseClick(w.breakButton, Qt::LeftButton);
    EXPECT_TRUE(breakFlag);
    EXPECT_FALSE(w.breakButton->isEnabled());
    w.finishProgress();
    EXPECT_FALSE(breakFlag);
    EXPECT_TRUE(w.breakButton->isEnabled());
    EXPECT_FALSE(w.progressBar->isVisible());
    EXPECT_FALSE(w.breakButton->isVisible());
    EXPECT_EQ(progressCounter.load(), 0u);

    w.startProgress(0, true);
    EXPECT_EQ(w.progressMaximum(), 1u);
    w.updateProgress();
    EXPECT_EQ(w.progressBar->value(), 0);
    w.finishProgress();

    startParams.autoProcess = true;
    w.startProgress(10, true);
    EXPECT_FALSE(w.breakButton->isVisible()) << "no Break in the automatic run";
    w.finishProgress();
    w.project->batchRunning = true;
    startParams.autoProcess = false;
    w.startProgress(10, true);
    EXPECT_FALSE(w.breakButton->isVisible()) << "no Break during a batch";
    w.finishProgress();

    w.project->width = 6000;
    w.project->height = 4000;
    w.showImageSize();
    EXPECT_EQ(w.dimensionsLabel->text(), "6000x4000 [24.0 MPix]");
}

TEST_F(mainWindowTest, startupFailureEndsTheProgramWithMinusOne)
{
    const QString program = testSupport::binaryDir() + "/lumidra";
    if (!QFileInfo::exists(program))
        GTEST_SKIP() << "program not built";
    const QString root = testSupport::freshDir();
    const QString config = root + "/config", user = root + "/user";
    QDir().mkpath(config);
    QDir().mkpath(user);
    const QString empty = root + "/default.lmsx";
    ASSERT_TRUE(testSupport::writeFile(empty, ""));
    {
        QSettings ini(config + "/Lumidra/Lumidra 3.ini", QSettings::IniFormat);
        ini.setValue("Misc/DefaultToneMappingSettings", empty);
        ini.setValue("Installer/UserFolder", user);
        ini.setValue("LogToFile", 2);
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("HOME", root);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(program, {"--auto"});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 255) << "-1";
    const QByteArray log = testSupport::readFile(user + "/Lumidra3_debug_log.txt");
    EXPECT_TRUE(log.contains("Error on startup: 'Failed to load default tone mapping settings - bad installation'."))
        << log.right(2000).constData();
}

namespace {

class openingWindow : public mainWindow
{
public:
    QList<QStringList> opened;
    bool addImages(QStringList files) override
    {
        opened.append(files);
        return true;
    }
};

} // namespace

TEST_F(mainWindowTest, photosNamedAtStartAreOpenedOnceTheLoopRuns)
{
    {
        openingWindow w;
        QCoreApplication::processEvents();
        EXPECT_TRUE(w.opened.isEmpty()) << "nothing named, nothing opened";
    }
    startParams.inputPhoto = QStringList{"/p/a.jpg", "/p/b.jpg"};
    openingWindow w;
    EXPECT_TRUE(w.opened.isEmpty()) << "not during construction";
    QCoreApplication::processEvents();
    ASSERT_EQ(w.opened.size(), 1);
    EXPECT_EQ(w.opened.first(), startParams.inputPhoto);
    emit w.loadOnStartup();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.opened.size(), 1) << "at most once";
}

TEST_F(mainWindowTest, titleStripDragAndDoubleClick)
{
    mainWindow w;
    w.setMinimumSize(100, 100);
    w.setGeometry(QRect(50, 60, 700, 500));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // Below the strip: nothing.
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, QPoint(100, 30));
    EXPECT_FALSE(w.windowMaximized);
    // On the strip: maximize, and again: restore.
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_TRUE(w.windowMaximized);
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_FALSE(w.windowMaximized);
    EXPECT_EQ(w.geometry(), QRect(50, 60, 700, 500));
}

TEST_F(mainWindowTest, exiftoolNoticeDuringABatchGoesToTheLog)
{
    mainWindow w;
    w.project->batchRunning = true;
    emit w.project->exiftool->showError();
    EXPECT_TRUE(messages.empty());
}

#include "test_mainWindowActions.moc"
