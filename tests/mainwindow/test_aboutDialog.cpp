// The About dialog with the versions found at run time, its buttons and F1,
// and the Qt licence dialog.

#include "hdr/lensfunDb.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "imageio/exiftoolDaemon.h"
#include "mainwindow/aboutDialog.h"
#include "project/processingProject.h"
#include "windowFixture.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QTextEdit>

#include <lcms2.h>

TEST(aboutVersions, littleCmsVersionDecoding)
{
    const struct {
        int encoded;
        const char *text;
    } cases[] = {{2080, "2.8.0"}, {2091, "2.9.1"}, {2140, "2.14.0"}, {2160, "2.16.0"}, {1190, "1.19.0"}};
    for (const auto &c : cases)
        EXPECT_EQ(lcmsVersionText(c.encoded), c.text) << c.encoded;
}

TEST(aboutVersions, openExrVersionIsTheLibrarysOwn)
{
    const QString v = openExrVersionText();
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+").match(v).hasMatch()) << v.toStdString();
    EXPECT_NE(v, "1.7.0");
}

TEST_F(mainWindowTest, aboutListsTheRunTimeVersionsEachTimeItOpens)
{
    mainWindow w;
    w.show();
    ASSERT_TRUE(w.aboutAct->isEnabled());
    w.aboutAct->trigger();
    about *dlg = w.aboutDialog;
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->isModal());
    const QString text = dlg->versionsText();
    EXPECT_TRUE(text.startsWith("Versions:\nQt: " + QString(qVersion()) + ", DCRAW: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("LIBRAW: " + rawLoadOptions::getLibrawVersion())) << text.toStdString();
    EXPECT_TRUE(text.contains("LCMS: " + lcmsVersionText(cmsGetEncodedCMMversion())));
    ASSERT_NE(w.project->lensDb, nullptr);
    EXPECT_TRUE(text.contains("\nLensfun DB: " + w.project->lensDb->getVersion() + ", "));
    EXPECT_TRUE(text.endsWith("OpenEXR: " + openExrVersionText()));
    EXPECT_FALSE(rawLoadOptions::getDcrawVersion().isEmpty());
    EXPECT_NE(rawLoadOptions::getDcrawVersion(), "?") << "dcraw is installed here";
    EXPECT_TRUE(text.contains("DCRAW: " + rawLoadOptions::getDcrawVersion()));

    // The exiftool version is whatever the running daemon says when the
    // dialog opens: close, let the daemon answer, open again.
    dlg->closeButton->click();
    EXPECT_FALSE(dlg->isVisible());
    QDeadlineTimer deadline(20000);
    while (w.project->exiftool->getVersion().isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
    w.aboutAct->trigger();
    EXPECT_TRUE(dlg->versionsText().contains("Exiftool: " + w.project->exiftool->getVersion() + ",\n"))
        << dlg->versionsText().toStdString();
    EXPECT_FALSE(w.project->exiftool->getVersion().isEmpty());
    dlg->close();
}

TEST_F(mainWindowTest, aboutButtonsAndF1)
{
    mainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    about *dlg = w.aboutDialog;

    // F1 does nothing while the dialog is hidden.
    w.activateWindow();
    QTest::keyClick(&w, Qt::Key_F1);
    EXPECT_TRUE(messages.empty());
    emit dlg->loggingShortcut->activated();
    EXPECT_TRUE(messages.empty());

    w.showAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg));
    dlg->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dlg));
    QTest::keyClick(dlg, Qt::Key_F1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith("Logging mode will be enabled when Lumidra is restarted!"));
    w.enableLogging(); // back to how it was
    messages.clear();

    // "Qt" names Qt's own box to the hook instead of blocking.
    dlg->qtButton->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "About Qt");

    // "Qt License (LGPL)" opens the licence text; "Ok" closes it.
    dlg->licenseButton->click();
    ASSERT_NE(w.qtLicenseDialog, nullptr);
    EXPECT_TRUE(w.qtLicenseDialog->isVisible());
    EXPECT_TRUE(w.qtLicenseDialog->isModal());
    const QString licence = w.qtLicenseDialog->textArea->toPlainText();
    EXPECT_TRUE(licence.contains("GNU LESSER GENERAL PUBLIC LICENSE"));
    EXPECT_TRUE(licence.contains("Version 3, 29 June 2007"));
    EXPECT_TRUE(w.qtLicenseDialog->textArea->isReadOnly());
    EXPECT_GE(w.qtLicenseDialog->textArea->minimumWidth(), 500);
    EXPECT_GE(w.qtLicenseDialog->textArea->minimumHeight(), 350);
    w.qtLicenseDialog->okButton->click();
    EXPECT_FALSE(w.qtLicenseDialog->isVisible());

    dlg->closeButton->click();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle(), "About");
    EXPECT_EQ(w.qtLicenseDialog->windowTitle(), "Qt License (LGPL)");
}
