#include "app/programOptionsSettings.h"
#include "testSupport.h"
#include "widgets/styledDialog.h"
#include "platform/platformSettings.h"
#include "widgets/widgetSupport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

namespace {

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// A dialog with some content so that its natural size is well inside the screen.
class sampleDialog : public styledDialog
{
public:
    explicit sampleDialog(bool toggle = true, bool grip = true) : styledDialog(nullptr, toggle, grip, true)
    {
        auto *l = new QVBoxLayout(this);
        auto *content = new QLabel("content");
        content->setMinimumSize(200, 100);
        l->addWidget(content);
    }
};

void clearGroup(const QString &group)
{
    platformSettings()->remove(group);
}

} // namespace

TEST(styledDialog, buildsTitleBarWithProperties)
{
    sampleDialog d;
    EXPECT_TRUE(d.property("windowFrame").toBool());
    EXPECT_TRUE(d.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(d.contentsMargins(), QMargins(2, 22, 2, 2));
    int toggles = 0, closes = 0;
    for (QPushButton *b : d.findChildren<QPushButton *>()) {
        toggles += b->property("windowTitleButton").toBool();
        closes += b->property("windowTitleButtonX").toBool();
    }
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(closes, 1);
    sampleDialog plain(false, false);
    toggles = 0;
    for (QPushButton *b : plain.findChildren<QPushButton *>())
        toggles += b->property("windowTitleButton").toBool();
    EXPECT_EQ(toggles, 0);
}

TEST(styledDialog, showCentresOnTheScreen)
{
    sampleDialog d;
    d.show();
    const QRect a = available();
    EXPECT_EQ(d.pos(), QPoint(a.left() + (a.width() - d.width()) / 2, a.top() + (a.height() - d.height()) / 2));
    d.hide();
}

TEST(styledDialog, toggleSizeEnlargesAndRestores)
{
    sampleDialog d;
    d.show();
    const QRect normal = d.geometry();
    const QRect a = available();
    d.toggleSize();
    EXPECT_TRUE(d.maximizedState());
    // The offscreen screen has no task bar: the enlarged dialog is one pixel shorter.
    QRect expected = a;
    expected.setBottom(a.bottom() - 1);
    EXPECT_EQ(d.geometry(), expected);
    d.toggleSize();
    EXPECT_FALSE(d.maximizedState());
    EXPECT_EQ(d.geometry(), normal);
    d.hide();
}

TEST(styledDialog, restoringFromTheWholeAreaFallsBackToSeventyPercent)
{
    sampleDialog d;
    d.show();
    const QRect a = available();
    d.setGeometry(a);
    d.setMaximized(true);   // saves the whole area as the normal geometry
    d.setMaximized(false);  // restore: 70 % rule
    EXPECT_EQ(d.geometry(), QRect(a.topLeft() + QPoint(5, 5), QSize(int(0.7 * a.width()), int(0.7 * a.height()))));
    d.hide();
}

TEST(styledDialog, userResizeCountsAsNormal)
{
    sampleDialog d;
    d.show();
    d.toggleSize();
    ASSERT_TRUE(d.maximizedState());
    d.resize(300, 200);
    EXPECT_FALSE(d.maximizedState());
    d.hide();
}

TEST(styledDialog, doubleClickOnTitleTogglesOnlyWithToggleButton)
{
    sampleDialog withButton(true, false), without(false, false);
    withButton.show();
    without.show();
    QTest::mouseDClick(&without, Qt::LeftButton, Qt::NoModifier, QPoint(50, 10));
    EXPECT_FALSE(without.maximizedState());
    QTest::mouseDClick(&withButton, Qt::LeftButton, Qt::NoModifier, QPoint(50, 30));  // below the title bar
    EXPECT_FALSE(withButton.maximizedState());
    QTest::mouseDClick(&withButton, Qt::LeftButton, Qt::NoModifier, QPoint(50, 10));
    EXPECT_TRUE(withButton.maximizedState());
    withButton.hide();
    without.hide();
}

TEST(styledDialog, chooseScreenForGeometryNeedsStrictContainment)
{
    const QRect a = available();
    EXPECT_TRUE(chooseScreenForGeometry(QRect(a.left() + 10, a.top() + 10, 200, 100)));
    EXPECT_FALSE(chooseScreenForGeometry(QRect(a.left(), a.top() + 10, 200, 100)));       // on the left edge
    EXPECT_FALSE(chooseScreenForGeometry(QRect(a.right() - 199, a.top() + 10, 200, 100))); // on the right edge
    EXPECT_FALSE(chooseScreenForGeometry(QRect(a.right() + 50, a.top() + 10, 200, 100)));  // beyond the screen
}

TEST(styledDialog, geometryIsRememberedBetweenRuns)
{
    clearGroup("Batch");
    const QRect a = available();
    const QRect chosen(a.left() + 40, a.top() + 30, 320, 240);
    {
        sampleDialog d;
        d.setGeometrySettingsGroup("Batch");
        d.show();
        d.setGeometry(chosen);
        d.hide();
    }
    {
        const auto store = platformSettings();
        EXPECT_EQ(store->value("Batch/WindowGeometry").toRect(), chosen);
        EXPECT_FALSE(store->value("Batch/WindowMaximized").toBool());
    }
    sampleDialog again;
    again.setGeometrySettingsGroup("Batch");
    again.show();
    EXPECT_EQ(again.geometry(), chosen);
    EXPECT_FALSE(again.maximizedState());
    again.hide();
}

TEST(styledDialog, maximizedStateIsRememberedAndRestoresToSeventyPercent)
{
    clearGroup("Alignment");
    const QRect a = available();
    {
        sampleDialog d;
        d.setGeometrySettingsGroup("Alignment");
        d.show();
        d.toggleSize();
        d.hide();
    }
    EXPECT_TRUE(platformSettings()->value("Alignment/WindowMaximized").toBool());
    sampleDialog again;
    again.setGeometrySettingsGroup("Alignment");
    again.show();
    EXPECT_TRUE(again.maximizedState());
    again.toggleSize();
    // The stored enlarged rectangle is not strictly inside the area, so the
    // dialog stayed centred before enlarging and restores to its natural size.
    EXPECT_FALSE(again.maximizedState());
    EXPECT_LT(again.width(), a.width());
    again.hide();
}

TEST(styledDialog, storedGeometryOnTheEdgeIsIgnored)
{
    clearGroup("LoadRAW");
    const QRect a = available();
    {
        const auto store = platformSettings();
        store->setValue("LoadRAW/WindowGeometry", QRect(a.left(), a.top(), 300, 200));
    }
    sampleDialog d;
    d.setGeometrySettingsGroup("LoadRAW");
    d.show();
    EXPECT_EQ(d.pos(), QPoint(a.left() + (a.width() - d.width()) / 2, a.top() + (a.height() - d.height()) / 2));
    d.hide();
}

TEST(styledDialog, dragOnTitleBarMovesTheDialog)
{
    sampleDialog d;
    d.show();
    const QPoint start = d.pos();
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(60, 8));
    QMouseEvent move(QEvent::MouseMove, QPoint(80, 18), d.mapToGlobal(QPoint(80, 18)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&d, &move);
    QTest::mouseRelease(&d, Qt::LeftButton, Qt::NoModifier, QPoint(80, 18));
    EXPECT_EQ(d.pos(), start + QPoint(20, 10));
    // A press below the title bar does not drag.
    const QPoint before = d.pos();
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(60, 40));
    QMouseEvent move2(QEvent::MouseMove, QPoint(90, 60), d.mapToGlobal(QPoint(90, 60)), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&d, &move2);
    QTest::mouseRelease(&d, Qt::LeftButton, Qt::NoModifier, QPoint(90, 60));
    EXPECT_EQ(d.pos(), before);
    d.hide();
}

TEST(styledDialog, scaledTitleBarButOnlyTheTopTwentyTwoPixelsDrag)
{
    programOptionsSettings options;
    options.activeScale = 4;  // s = 1.2: a 26-pixel title bar
    optionsInstance = &options;
    sampleDialog d;
    optionsInstance = nullptr;
    EXPECT_EQ(d.contentsMargins().top(), 26);
    d.show();
    const QPoint start = d.pos();
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(60, 24));
    QMouseEvent move(QEvent::MouseMove, QPoint(90, 44), d.mapToGlobal(QPoint(90, 44)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&d, &move);
    QTest::mouseRelease(&d, Qt::LeftButton, Qt::NoModifier, QPoint(90, 44));
    EXPECT_EQ(d.pos(), start);
    d.hide();
}
