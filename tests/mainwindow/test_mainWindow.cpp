#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "mainwindow/mainWindow.h"
#include "mainwindow/myApplication.h"
#include "platform/platformSettings.h"
#include "testSupport.h"
#include "widgets/myDockWidget.h"
#include "windowFixture.h"
#include "widgets/styledMessageBox.h"

#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QWindow>
#include <memory>

namespace {

// Records what the window would open.
class recordingWindow : public mainWindow
{
public:
    QList<QStringList> dropped;
    void addDroppedImages(QStringList files) override { dropped.append(files); }
};

} // namespace

TEST_F(mainWindowTest, framelessWithTitleStripAndDocks)
{
    mainWindow w;
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w.property("windowFrame").toBool());
    ASSERT_NE(w.leftDock, nullptr);
    ASSERT_NE(w.rightDock, nullptr);
    EXPECT_EQ(w.leftDock->objectName(), "leftTabDock");
    EXPECT_EQ(w.rightDock->objectName(), "rightTabDock");
    EXPECT_FALSE(w.startupError);
    EXPECT_FALSE(w.windowMaximized);
    EXPECT_TRUE(w.windowNormalGeometry.isNull());

    w.updateWindowTitle(QString());
    auto *mainLabel = w.findChild<QLabel *>("windowTitleMain");
    ASSERT_NE(mainLabel, nullptr);
    EXPECT_TRUE(mainLabel->text().contains("Lumidra " LUMIDRA_VERSION));
    EXPECT_TRUE(w.windowTitle().startsWith("Lumidra " LUMIDRA_VERSION));
    EXPECT_FALSE(w.windowTitle().contains("PLUG-IN"));

    startParams.plugin = true;
    w.updateWindowTitle("/out/result.jpg");
    EXPECT_TRUE(w.windowTitle().endsWith("PLUG-IN"));
    EXPECT_EQ(w.findChild<QLabel *>("windowTitleFn")->text(), "  [/out/result.jpg]");
    EXPECT_EQ(w.currentResultFileName(), "/out/result.jpg");
}

TEST_F(mainWindowTest, toggleSizeMaximizesAndRestores)
{
    mainWindow w;
    w.setMinimumSize(100, 100); // the offscreen screen is smaller than the window's minimum
    const QRect normal(20, 30, 500, 400);
    w.setGeometry(normal);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    w.toggleSize();
    QRect target = available();
    if (target.height() == QGuiApplication::primaryScreen()->geometry().height())
        target.setBottom(target.bottom() - 1);
    EXPECT_TRUE(w.windowMaximized);
    EXPECT_EQ(w.geometry(), target);
    EXPECT_EQ(w.windowNormalGeometry, normal);

    w.toggleSize();
    EXPECT_FALSE(w.windowMaximized);
    EXPECT_EQ(w.geometry(), normal);

    // A normal geometry equal to the maximized area restores to 70 %.
    w.toggleSize();
    w.windowNormalGeometry = available();
    w.toggleSize();
    EXPECT_EQ(w.windowNormalGeometry, mainWindow::restoredRect(available()));
}

TEST_F(mainWindowTest, resizeNotCausedByToggleEndsMaximizedState)
{
    mainWindow w;
    w.setMinimumSize(100, 100);
    w.show();
    w.toggleSize();
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.windowMaximized);
    w.resize(w.width() - 50, w.height() - 50);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.windowMaximized);
}

TEST(mainWindowGeometry, restoredRectIs70PercentAtPlus5)
{
    EXPECT_EQ(mainWindow::restoredRect(QRect(0, 0, 1000, 800)), QRect(5, 5, 700, 560));
    EXPECT_EQ(mainWindow::restoredRect(QRect(100, 50, 1001, 801)), QRect(105, 55, 700, 560));
}

TEST_F(mainWindowTest, closeWritesSettingsAndWindowKeys)
{
    options->savingResult.jpegQuality = 85;
    mainWindow w;
    w.setGeometry(QRect(40, 50, 950, 620));
    w.show();
    ASSERT_TRUE(w.close());
    EXPECT_TRUE(w.closing);
    auto s = platformSettings();
    EXPECT_EQ(s->value("SavingResult/JpegQuality").toInt(), 85);
    EXPECT_EQ(s->value("WindowGeometry").toRect(), QRect(40, 50, 950, 620));
    EXPECT_EQ(s->value("WindowMaximized").toBool(), false);
    for (const char *key : {"WindowState", "LeftDockGeometry", "RightDockGeometry", "LeftDockFloating",
                            "RightDockFloating", "Screen"})
        EXPECT_TRUE(s->contains(key)) << key;
    EXPECT_TRUE(QFileInfo::exists(platformSettingsPath()));
}

TEST_F(mainWindowTest, automaticRunWritesNoSettings)
{
    startParams.autoProcess = true;
    platformSettings()->clear();
    mainWindow w;
    w.show();
    ASSERT_TRUE(w.close());
    auto s = platformSettings();
    EXPECT_FALSE(s->contains("WindowGeometry"));
    EXPECT_FALSE(s->contains("SavingResult/JpegQuality"));
}

TEST_F(mainWindowTest, resetOnExitRemovesStoredSettingsAfterWriting)
{
    options->resetOnExit = true;
    mainWindow w;
    w.show();
    ASSERT_TRUE(w.close());
    auto s = platformSettings();
    EXPECT_TRUE(s->childGroups().isEmpty());
    EXPECT_FALSE(s->contains("WindowGeometry"));
    EXPECT_TRUE(s->contains("WindowState")) << "other top-level keys stay";
}

TEST_F(mainWindowTest, filesFromTheSystemAreOpenedTogether)
{
    const QString dir = testSupport::freshDir();
    for (const char *f : {"a.jpg", "b.NEF", "notes.xyz", "p.lmpx", "c.tif"})
        ASSERT_TRUE(testSupport::writeFile(dir + "/" + f, "x"));
    recordingWindow w;
    QElapsedTimer clock;
    clock.start();
    w.addFileToOpen(dir + "/a.jpg");
    w.addFileToOpen(dir + "/notes.xyz"); // unknown type: ignored, but restarts the wait
    w.addFileToOpen(dir + "/missing.jpg");
    w.addFileToOpen(dir + "/b.NEF");
    w.addFileToOpen(dir + "/p.lmpx");
    w.addFileToOpen(QString());
    QTest::qWait(100);
    if (clock.elapsed() < 200) { // only meaningful when the machine did not stall
        EXPECT_TRUE(w.dropped.isEmpty()) << "waits 250 ms after the last file";
    }
    QTRY_COMPARE_WITH_TIMEOUT(w.dropped.size(), 1, 2000);
    EXPECT_EQ(w.dropped.first(), (QStringList{dir + "/a.jpg", dir + "/b.NEF", dir + "/p.lmpx"}));

    w.addFileToOpen(dir + "/c.tif");
    QTRY_COMPARE_WITH_TIMEOUT(w.dropped.size(), 2, 2000);
    EXPECT_EQ(w.dropped.last(), QStringList{dir + "/c.tif"});
}

TEST_F(mainWindowTest, splashFinishedDeletesSplashAndWarnsAboutThreadLimit)
{
    mainWindow w;
    QPointer<QWidget> fakeSplash = new QWidget();
    options->performance.coreCount = 1;
    w.splashFinished(fakeSplash.data());
    EXPECT_TRUE(fakeSplash.isNull());
    EXPECT_TRUE(w.startupComplete);
    const int ideal = QThread::idealThreadCount();
    if (ideal > 1) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, int(styledMessageBox::Warning));
        EXPECT_TRUE(messages[0].text.contains(QString("using 1 out of %1 CPU cores").arg(ideal)));
    }
    messages.clear();
    options->performance.coreCount = ideal;
    w.splashFinished(nullptr);
    EXPECT_TRUE(messages.empty());
}

TEST(myApplicationFileOpen, heldForStartupThenForwarded)
{
    startParams = startParams_t();
    openEventFilesAdded = false;
    startupFinished = false;
    EXPECT_TRUE(myApplication::takeFileDuringStartup("/p/a.jpg"));
    EXPECT_TRUE(openEventFilesAdded);
    EXPECT_EQ(startParams.inputPhoto, QStringList{"/p/a.jpg"});
    startupFinished = true;
    EXPECT_FALSE(myApplication::takeFileDuringStartup("/p/b.jpg"));
    EXPECT_EQ(startParams.inputPhoto, QStringList{"/p/a.jpg"});
    startupFinished = false;
    openEventFilesAdded = false;
    startParams = startParams_t();
}

TEST_F(mainWindowTest, pluginCallbackFile)
{
    const QString dir = testSupport::freshDir();
    startParams.plugin = true;
    startParams.pluginSrcDir = dir;
    {
        mainWindow w;
        w.show();
        ASSERT_TRUE(w.close());
        EXPECT_EQ(w.pluginCallbackPath(), dir + "/Lumidra3_pluginCallback");
        EXPECT_EQ(testSupport::readFile(dir + "/Lumidra3_pluginCallback"), "\"\"") << "nothing saved";
    }
    const QString result = dir + "/result.jpg";
    ASSERT_TRUE(testSupport::writeFile(result, "jpeg"));
    mainWindow w;
    w.updateWindowTitle(result);
    ASSERT_TRUE(w.writePluginCallback());
    EXPECT_EQ(testSupport::readFile(dir + "/Lumidra3_pluginCallback"), ("\"" + result + "\"").toUtf8());
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2) << "no temporary file left";

    startParams.pluginSrcDir = dir + "/missing";
    EXPECT_FALSE(w.writePluginCallback());
}

TEST_F(mainWindowTest, hideFlagStartsMinimized)
{
    startParams.hide = true;
    mainWindow w;
    w.show();
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
}
