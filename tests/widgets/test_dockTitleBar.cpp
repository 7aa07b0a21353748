#include "testSupport.h"
#include "widgets/dockTitleBar.h"
#include "widgets/myDockWidget.h"
#include "widgets/myQTabWidget.h"

#include <QApplication>
#include <QMainWindow>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QTest>

TEST(dockTitleBar, pinFloatsAndDocks)
{
    QMainWindow window;
    auto *dock = new myDockWidget("Tools", &window);
    auto *bar = new dockTitleBar(dock);
    dock->setTitleBarWidget(bar);
    dock->setWidget(new QWidget);
    window.addDockWidget(Qt::RightDockWidgetArea, dock);
    window.resize(600, 400);
    window.show();
    QApplication::processEvents();

    EXPECT_EQ(bar->minimumSizeHint(), QSize(50, 14));
    EXPECT_EQ(bar->sizeHint(), bar->minimumSizeHint());
    ASSERT_FALSE(dock->isFloating());
    const int w = bar->width(), h = bar->height();
    // Over the grip: the dock handles it (no change).
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(5, h / 2));
    EXPECT_FALSE(dock->isFloating());
    // Over the icon: floats, and again: docks.
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(w - h / 2, h / 2));
    EXPECT_TRUE(dock->isFloating());
    QApplication::processEvents();
    const int w2 = bar->width(), h2 = bar->height();
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(w2 - h2 / 2, h2 / 2));
    EXPECT_FALSE(dock->isFloating());

    // Drawn: the grip strip on the left and the pin icon in the square on the
    // right, which shows the other icon while the dock floats.
    auto iconSquare = [bar]() {
        const int side = bar->height() - 4;
        return bar->grab().toImage().copy(bar->width() - bar->height(), 2, side, side);
    };
    QWidget blank;
    blank.resize(bar->size());
    const QImage background = blank.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage docked = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(docked.size(), background.size());
    auto differsFromBackground = [&](const QRect &r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += docked.pixel(x, y) != background.pixel(x, y);
        return n;
    };
    const int bw = bar->width(), bh = bar->height();
    EXPECT_GT(differsFromBackground(QRect(2, 0, bw - bh - 8, bh)), 0) << "grip strip drawn";
    EXPECT_GT(differsFromBackground(QRect(bw - bh, 2, bh - 4, bh - 4)), 0) << "pin icon drawn";
    EXPECT_EQ(differsFromBackground(QRect(bw - bh - 5, 0, 3, bh)), 0) << "gap between grip and icon";
    const QImage unpinned = iconSquare();
    dock->setFloating(true);
    QApplication::processEvents();
    bar->resize(bw, bh);
    EXPECT_NE(iconSquare(), unpinned);
    dock->setFloating(false);
    QApplication::processEvents();

    dock->setFeatures(dock->features() | QDockWidget::DockWidgetVerticalTitleBar);
    EXPECT_EQ(bar->minimumSizeHint(), QSize(14, 50));
}

TEST(myDockWidget, closingSetsAndShowingClearsTheClosedFlag)
{
    QMainWindow window;
    auto *dock = new myDockWidget("Panels", &window);
    window.addDockWidget(Qt::LeftDockWidgetArea, dock);
    window.show();
    EXPECT_FALSE(dock->isClosed());
    dock->close();
    EXPECT_TRUE(dock->isClosed());
    dock->show();
    EXPECT_FALSE(dock->isClosed());
}

TEST(myQTabWidget, reportsResizesAndHover)
{
    myQTabWidget tabs;
    QSignalSpy resized(&tabs, &myQTabWidget::resized);
    QSignalSpy hover(&tabs, &myQTabWidget::mouseHover);
    tabs.addTab(new QWidget, "One");
    tabs.resize(200, 100);
    tabs.show();
    tabs.resize(250, 120);
    EXPECT_GE(resized.count(), 1);
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    QApplication::sendEvent(&tabs, &enter);
    QApplication::sendEvent(&tabs, &leave);
    ASSERT_EQ(hover.count(), 2);
    EXPECT_TRUE(hover.at(0).at(0).toBool());
    EXPECT_FALSE(hover.at(1).at(0).toBool());
}
