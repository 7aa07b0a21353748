#include "viewTestHost.h"

#include <QPushButton>
#include <QScrollBar>

namespace {

void moveTo(QWidget *w, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton,
            Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton, buttons, mods);
    QApplication::sendEvent(w, &e);
}

// A host at 100 % with layer 1 current and painting on.
struct paintHost {
    viewTestHost host{320, 240};
    mainImageArea *c = nullptr;
    paintHost()
    {
        host.loadPicture(600, 400);
        host.zoom->set100();
        host.addLayer(1);
        host.state().currentLayer = 1;
        host.fakeToneMapped(100, 100, 100);
        host.workspace->setPaintMode(true, true);
        c = host.canvas();
    }
    uint8_t fullAt(QPoint img) const
    {
        const pyramid &m = host.project->layerMasks[1];
        return static_cast<const uint8_t *>(m.levels[0].data)[size_t(img.y()) * m.levels[0].width + img.x()];
    }
    uint8_t viewAt(QPoint img)
    {
        int wx = 0, wy = 0;
        EXPECT_TRUE(c->imageToWindow(img.x(), img.y(), wx, wy));
        return host.project->view.layerMask[1][size_t(wy) * host.project->view.width + wx];
    }
    QPoint imageAt(QPoint p)
    {
        int x = 0, y = 0;
        c->viewToImage(QPointF(p), x, y);
        return QPoint(x, y);
    }
};

} // namespace

TEST(maskPainting, brushStrokePaintsBothMasksInStep)
{
    paintHost h;
    QSignalSpy finished(h.host.workspace.get(), &mainWorkspace::maskPaintingFinished);
    h.c->painter().selectBrush(3, 1.0); // round, radius 8
    const QPoint a(100, 120), b(200, 120);
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, a);
    moveTo(h.c, a + QPoint(1, 0)); // the first move always paints
    EXPECT_EQ(h.fullAt(h.imageAt(a)), 255);
    // A move shorter than stride / 6 view pixels paints nothing more.
    const std::vector<uint8_t> before(h.host.project->view.layerMask[1],
                                      h.host.project->view.layerMask[1] + size_t(h.host.project->view.width) * h.host.project->view.height);
    moveTo(h.c, a + QPoint(2, 0));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), h.host.project->view.layerMask[1]));
    moveTo(h.c, b);
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, b);
    EXPECT_EQ(finished.count(), 1);
    for (int x = 100; x <= 200; x += 10) {
        const QPoint img = h.imageAt(QPoint(x, 120));
        EXPECT_EQ(h.fullAt(img), 255) << x;
        EXPECT_EQ(h.viewAt(img), 255) << x;
    }
    const QPoint off = h.imageAt(QPoint(150, 160));
    EXPECT_EQ(h.fullAt(off), 0);
    EXPECT_EQ(h.viewAt(off), 0);
    // The lower pyramid levels follow level 0 after the stroke.
    const pyramid &m = h.host.project->layerMasks[1];
    const QPoint mid = h.imageAt(QPoint(150, 120));
    if (m.levelCount > 1) {
        EXPECT_EQ(static_cast<const uint8_t *>(m.levels[1].data)[size_t(mid.y() / 2) * m.levels[1].width + mid.x() / 2],
                  255);
    }

    // Ctrl erases along the same line.
    QTest::mousePress(h.c, Qt::LeftButton, Qt::ControlModifier, a);
    moveTo(h.c, b, Qt::LeftButton, Qt::ControlModifier);
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::ControlModifier, b);
    EXPECT_EQ(finished.count(), 2);
    EXPECT_EQ(h.fullAt(mid), 0);
    EXPECT_EQ(h.viewAt(mid), 0);
}

TEST(maskPainting, paintingNeedsALayerAboveTheBase)
{
    paintHost h;
    h.host.workspace->setPaintMode(true, false); // base layer current: not allowed
    QSignalSpy finished(h.host.workspace.get(), &mainWorkspace::maskPaintingFinished);
    const QPoint a(100, 120);
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, a);
    moveTo(h.c, a + QPoint(30, 0));
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, a + QPoint(30, 0));
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(h.fullAt(h.imageAt(a)), 0);
}

TEST(maskPainting, fillAndCtrlFill)
{
    paintHost h;
    QSignalSpy finished(h.host.workspace.get(), &mainWorkspace::maskPaintingFinished);
    h.c->painter().mode = maskPainter::MODE_FILL;
    QTest::mouseClick(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(h.fullAt(QPoint(0, 0)), 255);
    EXPECT_EQ(h.fullAt(QPoint(599, 399)), 255);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(60, 60))), 255); // view mask refreshed from the full mask
    QTest::mouseClick(h.c, Qt::LeftButton, Qt::ControlModifier, QPoint(50, 50));
    EXPECT_EQ(h.fullAt(QPoint(300, 200)), 0);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(60, 60))), 0);
}

TEST(maskPainting, liveCompositingShowsLayerOnlyWhereMasked)
{
    paintHost h;
    // Base result 100, layer 1 result 155 (fakeToneMapped), mask empty: base everywhere.
    h.c->renderView();
    const QPoint p(160, 120);
    EXPECT_EQ(h.host.pixelAt(p.x(), p.y()), qRgb(100, 100, 100));
    h.c->painter().mode = maskPainter::MODE_FILL;
    QTest::mouseClick(h.c, Qt::LeftButton, Qt::NoModifier, p);
    h.host.project->view.ready = true;
    h.c->renderView();
    EXPECT_EQ(h.host.pixelAt(p.x(), p.y()), qRgb(155, 155, 155));
    // The red overlay tints the painted area.
    h.c->painter().overlayColor = 1;
    h.c->renderView();
    const QRgb tinted = h.host.pixelAt(p.x(), p.y());
    EXPECT_EQ(qRed(tinted), int(255 * 0.5 + 155 * 0.5));
    EXPECT_EQ(qGreen(tinted), int(155 * 0.5));
    // Mask-only overlay shows the mask as grey.
    h.c->painter().overlayColor = 4;
    h.c->renderView();
    EXPECT_EQ(h.host.pixelAt(p.x(), p.y()), qRgb(255, 255, 255));
}

TEST(maskPainting, gradientWithMiddleHandleAndApply)
{
    paintHost h;
    QSignalSpy finished(h.host.workspace.get(), &mainWorkspace::maskPaintingFinished);
    h.c->painter().mode = maskPainter::MODE_GRADIENT;
    QPushButton *apply = h.c->applyGradientButton();
    // A click without a drag leaves no gradient.
    QTest::mouseClick(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(60, 100));
    EXPECT_LT(h.c->gradientMiddlePosition(), 0.0);
    EXPECT_FALSE(apply->isVisible());
    // Drag from 60 to 260: value 1 left of the start, 0 right of the end.
    const QPoint a(60, 100), b(260, 100);
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, a);
    moveTo(h.c, b);
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, b);
    EXPECT_DOUBLE_EQ(h.c->gradientMiddlePosition(), 0.5);
    EXPECT_TRUE(apply->isVisible());
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(30, 150))), 255);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(300, 150))), 0);
    EXPECT_NEAR(h.viewAt(h.imageAt(QPoint(160, 150))), 127, 2);
    EXPECT_EQ(h.fullAt(h.imageAt(QPoint(30, 150))), 0); // only previewed so far
    // Drag the middle handle beyond point 1: it sits on point 1 (m = 1).
    const QPoint handle(160, 100);
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, handle);
    moveTo(h.c, QPoint(20, 100));
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(20, 100));
    EXPECT_DOUBLE_EQ(h.c->gradientMiddlePosition(), 1.0);
    EXPECT_EQ(h.c->gradientPoint(3), h.c->gradientPoint(1));
    // Back to the middle, then Enter applies into the full-resolution mask.
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(60, 100));
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(60, 100));
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(60, 100));
    moveTo(h.c, QPoint(160, 100));
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, QPoint(160, 100));
    EXPECT_NEAR(h.c->gradientMiddlePosition(), 0.5, 0.01);
    QTest::keyClick(h.c, Qt::Key_Return);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_LT(h.c->gradientMiddlePosition(), 0.0);
    EXPECT_FALSE(apply->isVisible());
    EXPECT_EQ(h.fullAt(h.imageAt(QPoint(30, 150))), 255);
    EXPECT_EQ(h.fullAt(h.imageAt(QPoint(300, 150))), 0);
    EXPECT_NEAR(h.fullAt(h.imageAt(QPoint(160, 150))), 127, 2);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(30, 150))), 255); // the view shows the applied mask
}

TEST(maskPainting, gradientEscapeCancelsAndSpaceSwaps)
{
    paintHost h;
    h.c->painter().mode = maskPainter::MODE_GRADIENT;
    QSignalSpy finished(h.host.workspace.get(), &mainWorkspace::maskPaintingFinished);
    const QPoint a(60, 100), b(260, 100);
    QTest::mousePress(h.c, Qt::LeftButton, Qt::NoModifier, a);
    moveTo(h.c, b);
    QTest::mouseRelease(h.c, Qt::LeftButton, Qt::NoModifier, b);
    QTest::keyClick(h.c, Qt::Key_Space);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(30, 150))), 0);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(300, 150))), 255);
    QTest::keyClick(h.c, Qt::Key_Escape);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_LT(h.c->gradientMiddlePosition(), 0.0);
    EXPECT_EQ(h.viewAt(h.imageAt(QPoint(300, 150))), 0); // preview gone
    EXPECT_EQ(h.fullAt(h.imageAt(QPoint(300, 150))), 0);
}

TEST(maskPainting, presetsIconsAndCursors)
{
    maskPainter p;
    EXPECT_EQ(p.brush().radius, 22);
    EXPECT_DOUBLE_EQ(p.opacity, 1.0);
    p.selectBrush(99, 0.5); // beyond the list: ignored
    EXPECT_EQ(p.brush().radius, 22);
    EXPECT_DOUBLE_EQ(p.opacity, 1.0);
    p.selectBrush(28, 0.5); // square, radius 56
    EXPECT_TRUE(p.brush().square);
    EXPECT_EQ(p.viewStamp().radius, 56);
    EXPECT_EQ(p.brushCursor.pixmap().width(), 128);
    p.rebuildStamps(2.0);
    EXPECT_EQ(p.fullStamp().radius, 28);
    for (int i = 0; i < BRUSH_PRESET_COUNT; ++i)
        EXPECT_FALSE(p.brushIcon(i).isNull()) << i;
}
