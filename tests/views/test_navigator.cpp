// The navigator: the viewport outline from the view rectangle, dragging with
// the grab point kept, a click that centres the view, the wheel and the
// "ZoomWithCtrl" setting, and the overview's buffers.

#include "app/programOptionsSettings.h"
#include "testSupport.h"
#include "views/mainWorkspace.h"
#include "views/navigator.h"
#include <QScrollBar>

#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

class navigatorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved = optionsInstance;
        options.reset(new programOptionsSettings);
        options->devicePixelRatio = 1.0;
        optionsInstance = options.get();
        nav.reset(new navigator);
        nav->resize(300, 200);
    }
    void TearDown() override
    {
        nav.reset();
        optionsInstance = saved;
    }
    // A w x h overview of a picture refWidth pixels wide: red rises to the right.
    void setOverview(int w, int h, int refWidth)
    {
        pixels.assign(size_t(w) * h * 3, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[(size_t(y) * w + x) * 3] = uint8_t(x * 255 / std::max(1, w - 1));
        nav->setImage(pixels.data(), w, h, refWidth);
    }
    void wheel(QPoint pos, Qt::KeyboardModifiers modifiers)
    {
        QWheelEvent e(QPointF(pos), QPointF(nav->mapToGlobal(pos)), QPoint(), QPoint(0, 120), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(nav.get(), &e);
    }

    std::unique_ptr<programOptionsSettings> options;
    programOptionsSettings *saved = nullptr;
    std::unique_ptr<navigator> nav;
    std::vector<uint8_t> pixels;
};

TEST_F(navigatorTest, TakesTheOverviewsHeightInALayoutWithAStretchBelow)
{
    // The Navigator tab holds the widget above a stretch: the widget must
    // still get the height of the overview drawn at its width.
    QWidget page;
    auto *column = new QVBoxLayout(&page);
    column->setContentsMargins(0, 0, 0, 0);
    navigator *inPage = nav.release();
    column->addWidget(inPage);
    column->addStretch(1);
    nav.reset(inPage);
    struct row_t {
        int pageWidth, w, h, expectedHeight;
    } rows[] = {
        {400, 200, 100, 100}, // narrower than the page: drawn at its own size
        {100, 200, 100, 50},  // wider: scaled down to the page's width
        {300, 240, 160, 160},
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(r.w);
        page.resize(r.pageWidth, 600);
        page.show();
        setOverview(r.w, r.h, r.w * 4);
        QCoreApplication::processEvents();
        column->activate();
        EXPECT_EQ(inPage->height(), r.expectedHeight);
        EXPECT_EQ(inPage->heightForWidth(r.pageWidth), r.expectedHeight);
    }
    // Cleared: nothing to draw, no room taken.
    inPage->setImage(nullptr, 0, 0, 0);
    QCoreApplication::processEvents();
    column->activate();
    EXPECT_EQ(inPage->height(), 0);
    nav.release(); // the page owns it
}

TEST_F(navigatorTest, NothingHappensBeforeAnImage)
{
    nav->show();
    QSignalSpy set(nav.get(), &navigator::viewportSet);
    nav->setRect(QRect(10, 10, 100, 100));
    EXPECT_TRUE(nav->viewRect().isNull());
    EXPECT_TRUE(nav->outerOutline().isNull());
    nav->resize(310, 210);
    QTest::mouseClick(nav.get(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_EQ(set.count(), 0);
    (void)nav->grab(); // paints nothing, does not crash
}

TEST_F(navigatorTest, OutlineFollowsTheViewRectangle)
{
    setOverview(200, 100, 4000); // s = 200 / 4000 = 0.05
    EXPECT_DOUBLE_EQ(nav->scale(), 0.05);
    struct {
        QRect view;
        QRectF outer;
    } cases[] = {
        {QRect(QPoint(0, 0), QPoint(999, 499)), QRectF(1, 1, 49, 24)},         // top-left corner from (1, 1)
        {QRect(QPoint(1000, 600), QPoint(2999, 1599)), QRectF(50, 30, 100, 50)},
    };
    for (const auto &c : cases) {
        nav->setRect(c.view);
        EXPECT_EQ(nav->outerOutline(), c.outer);
        EXPECT_EQ(nav->innerOutline(), c.outer.adjusted(1, 1, -1, -1));
    }
    // A narrower widget scales the overview down to its width.
    nav->show();
    nav->resize(100, 200);
    EXPECT_DOUBLE_EQ(nav->scale(), 0.025);
    EXPECT_EQ(nav->outerOutline(), QRectF(25, 15, 50, 25));
}

TEST_F(navigatorTest, PaintsTheOverviewAndTheOutline)
{
    setOverview(200, 100, 4000);
    nav->setRect(QRect(QPoint(1000, 600), QPoint(2999, 1599)));
    nav->show();
    const QImage shot = nav->grab().toImage();
    // Antialiased outlines: white blended over the picture, then black inside.
    const QColor outer = shot.pixelColor(50, 30), inner = shot.pixelColor(51, 31);
    EXPECT_GE(std::min({outer.red(), outer.green(), outer.blue()}), 180);
    EXPECT_LE(std::max({inner.red(), inner.green(), inner.blue()}), 40);
    EXPECT_GT(qRed(shot.pixel(190, 80)), 200); // the red ramp's right end
    EXPECT_LT(qRed(shot.pixel(5, 80)), 20);
}

TEST_F(navigatorTest, DragKeepsTheGrabPointAndAClickOutsideCentres)
{
    setOverview(200, 100, 4000);
    nav->show();
    const QRect view(QPoint(1000, 600), QPoint(2999, 1599)); // outline 50,30 100 x 50
    nav->setRect(view);
    QSignalSpy set(nav.get(), &navigator::viewportSet);

    // Grab 10 widget pixels right of the outline's centre and move by (20, 10).
    QTest::mousePress(nav.get(), Qt::LeftButton, Qt::NoModifier, QPoint(110, 55));
    EXPECT_TRUE(nav->isDragging());
    EXPECT_EQ(nav->viewRect(), view); // a press without movement keeps the view
    QMouseEvent move(QEvent::MouseMove, QPointF(130, 65), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(nav.get(), &move);
    EXPECT_EQ(nav->viewRect(), view.translated(400, 200));
    QTest::mouseRelease(nav.get(), Qt::LeftButton, Qt::NoModifier, QPoint(130, 65));
    EXPECT_FALSE(nav->isDragging());
    ASSERT_GE(set.count(), 2);
    EXPECT_EQ(set.last().at(0).toRect(), view.translated(400, 200));

    // Outside the outline: the view centres on the click.
    nav->setRect(view);
    QTest::mouseClick(nav.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_EQ(nav->viewRect().topLeft(), QPoint(200 - 1000, 200 - 500)); // centred: left + width / 2 = 200
    EXPECT_EQ(nav->viewRect().size(), view.size());
}

TEST_F(navigatorTest, WheelHonoursZoomWithCtrl)
{
    setOverview(200, 100, 4000);
    nav->setRect(QRect(QPoint(1000, 600), QPoint(2999, 1599)));
    QSignalSpy wheeled(nav.get(), &navigator::wheelMoved);
    struct {
        bool zoomWithCtrl;
        Qt::KeyboardModifiers modifiers;
        bool zooms;
    } cases[] = {
        {false, Qt::NoModifier, true},
        {true, Qt::NoModifier, false},
        {true, Qt::ControlModifier | Qt::ShiftModifier, false},
        {true, Qt::ControlModifier, true},
    };
    for (const auto &c : cases) {
        options->misc.zoomWithCtrl = c.zoomWithCtrl;
        const int before = wheeled.count();
        wheel(QPoint(40, 20), c.modifiers);
        EXPECT_EQ(wheeled.count() - before, c.zooms ? 1 : 0) << c.zoomWithCtrl << " " << int(c.modifiers);
    }
    ASSERT_GE(wheeled.count(), 1);
    EXPECT_EQ(wheeled.last().at(0).toRect().topLeft(), QPoint(800 - 1000, 400 - 500));
}

TEST_F(navigatorTest, NewSizesGetNewBuffersAndNoPixelsClear)
{
    setOverview(200, 100, 4000);
    setOverview(200, 120, 4000); // only the height differs
    ASSERT_TRUE(nav->hasPicture());
    EXPECT_EQ(nav->overview()->size(), QSize(200, 120));
    setOverview(150, 120, 3000);
    EXPECT_EQ(nav->overview()->size(), QSize(150, 120));
    EXPECT_EQ(qRed(nav->overview()->pixel(149, 0)), 255);
    nav->setImage(nullptr, 0, 0, 0);
    EXPECT_FALSE(nav->hasPicture());
}

} // namespace

// ---- with the main view: the rectangle comes from the view and moves it

#include "viewTestHost.h"

namespace {

TEST(navigatorWithView, RectangleFollowsTheViewAndMovesIt)
{
    viewTestHost host(320, 240);
    host.loadPicture(600, 400);
    host.zoom->set100();
    navigator nav;
    nav.resize(150, 120);
    nav.show();
    QObject::connect(host.workspace.get(), &mainWorkspace::viewportChanged, &nav, &navigator::setRect);
    QObject::connect(&nav, &navigator::viewportSet, host.workspace.get(),
                     [&host](QRect r) { host.workspace->setViewport(r); });
    std::vector<uint8_t> overview(size_t(150) * 100 * 3, 128);
    nav.setImage(overview.data(), 150, 100, 600); // s = 0.25
    nav.setRect(host.workspace->imageRect());
    ASSERT_FALSE(nav.viewRect().isNull());

    // Scrolling the view moves the rectangle.
    host.workspace->horizontalBar()->setValue(host.workspace->horizontalBar()->maximum());
    EXPECT_EQ(nav.viewRect(), host.workspace->imageRect());
    EXPECT_GT(nav.outerOutline().right(), 140);

    // A click in the overview centres the view there.
    QTest::mouseClick(&nav, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20)); // image (80, 80)
    const QRect shown = host.workspace->imageRect();
    EXPECT_EQ(shown.left(), 0);   // the view stops at the picture's left edge
    EXPECT_EQ(shown.top(), 0);
    EXPECT_EQ(nav.viewRect(), shown);

    QTest::mouseClick(&nav, Qt::LeftButton, Qt::NoModifier, QPoint(75, 50)); // image (300, 200)
    const QPoint centre = host.workspace->imageRect().center();
    // Within one overview pixel (4 image pixels at s = 0.25).
    EXPECT_NEAR(centre.x(), 300, 4);
    EXPECT_NEAR(centre.y(), 200, 4);
}

} // namespace
