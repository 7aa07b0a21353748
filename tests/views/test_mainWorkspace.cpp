#include "app/sharedFlags.h"
#include "viewTestHost.h"
#include "widgets/slider.h"

#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <cmath>
#include <thread>

namespace {

QPoint canvasCentre(mainImageArea *c)
{
    return QPoint(c->width() / 2, c->height() / 2);
}

// Image pixel under a canvas point.
QPoint imageUnder(mainImageArea *c, QPoint p)
{
    int x = -1, y = -1;
    c->viewToImage(QPointF(p), x, y);
    return QPoint(x, y);
}

// A mouse move with the given buttons held, delivered straight to the widget.
void moveTo(QWidget *w, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton,
            Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void wheelAt(QWidget *w, QPoint pos, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWheelEvent e(QPointF(pos), QPointF(w->mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace

TEST(mainWorkspace, emptyViewShowsFlatToneAndReportsClicks)
{
    viewTestHost host;
    mainImageArea *c = host.canvas();
    QSignalSpy empty(host.workspace.get(), &mainWorkspace::clickedEmpty);
    EXPECT_FALSE(c->hasImage());
    // Background entry 2 = 0x201510: flat tone 0x20 where no image is loaded.
    EXPECT_EQ(host.pixelAt(c->width() / 2, c->height() / 2), qRgb(0x15, 0x15, 0x15));
    EXPECT_EQ(host.workspace->fitScale(0, 0), 100);
    QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, canvasCentre(c));
    EXPECT_EQ(empty.count(), 1); // a click on the empty view asks for photos
    // The hint box for an empty view is drawn over the surround.
    host.state().showHint = true;
    c->renderView();
    EXPECT_NE(host.pixelAt(c->width() / 2 - 170, c->height() / 2), host.pixelAt(2, 2));
}

TEST(mainWorkspace, backgroundSettingWrapsAndToggles)
{
    viewTestHost host;
    host.options->misc.backgroundColor = -1; // a damaged setting: shown as entry 7
    host.workspace->repaint();
    EXPECT_EQ(host.options->misc.backgroundColor, 7);
    host.options->misc.backgroundColor = 9;
    host.workspace->repaint();
    EXPECT_EQ(host.options->misc.backgroundColor, 1);
    QTest::mouseClick(host.workspace->backgroundButton(), Qt::LeftButton);
    EXPECT_EQ(host.options->misc.backgroundColor, 2);
    host.options->misc.backgroundColor = 7;
    QTest::mouseClick(host.workspace->backgroundButton(), Qt::LeftButton);
    EXPECT_EQ(host.options->misc.backgroundColor, 0);
}

TEST(mainWorkspace, fitZoomCentresPictureOnCheckerboard)
{
    viewTestHost host;
    host.loadPicture(200, 100);
    mainImageArea *c = host.canvas();
    // The fit value reaches the zoom control; select it.
    host.workspace->resize(host.workspace->size() + QSize(1, 0));
    QApplication::processEvents();
    const double fit = host.workspace->fitScale(200, 100);
    EXPECT_EQ(fit, std::min(int(c->width() * 100.0 / 210), int(c->height() * 100.0 / 110)));
    host.zoom->setFit();
    const double s = zoomWidget::zoomSteps()[host.zoom->fitIndex()] / 100.0;
    EXPECT_DOUBLE_EQ(c->zoom(), s);
    c->renderView();
    // Picture centre under the canvas centre; left edge red low, right edge red high.
    const QPoint centre = imageUnder(c, canvasCentre(c));
    EXPECT_NEAR(centre.x(), 100, 2);
    EXPECT_NEAR(centre.y(), 50, 2);
    const QRgb left = host.pixelAt(int(c->width() / 2 - 90 * s), c->height() / 2);
    const QRgb right = host.pixelAt(int(c->width() / 2 + 90 * s), c->height() / 2);
    EXPECT_LT(qRed(left), 40);
    EXPECT_GT(qRed(right), 200);
    EXPECT_EQ(qBlue(right), 0x80);
    // The surround is the checkerboard of entry 2 (tones 0x10 and 0x15, 16-pixel squares).
    EXPECT_EQ(host.pixelAt(0, 0), qRgb(0x15, 0x15, 0x15));
    EXPECT_EQ(host.pixelAt(16, 0), qRgb(0x10, 0x10, 0x10));
    EXPECT_EQ(host.pixelAt(16, 16), qRgb(0x15, 0x15, 0x15));
    // No scrolling when the picture is smaller than the view.
    EXPECT_EQ(host.workspace->horizontalBar()->maximum(), 0);
    EXPECT_EQ(host.workspace->verticalBar()->maximum(), 0);
    EXPECT_EQ(host.workspace->scrollPosition(), QPointF(0, 0));
}

// "Fit" shows the whole picture: the fitted image never overflows the canvas
// and neither scroll bar has a range, for wide, tall, odd-sized and tiny
// pictures, and at device-pixel ratios above 1.
TEST(mainWorkspace, fitZoomNeverOverflowsTheView)
{
    const struct {
        int w, h, viewW, viewH;
        double dpr;
    } cases[] = {
        {1200, 800, 1400, 900, 1.0},  // the fit rounded up to 116 % before
        {1200, 800, 1330, 1000, 1.0}, // 109.9 %: 112 % would be 14 pixels too wide
        {1200, 800, 900, 560, 1.0},
        {1201, 799, 1001, 677, 1.0},  // odd sizes
        {800, 1200, 1000, 1330, 1.0}, // portrait
        {3000, 200, 1000, 700, 1.0},  // a panorama strip
        {1200, 800, 700, 500, 2.0},
        {1000, 667, 701, 451, 1.5},
        {3, 2, 400, 300, 1.0},        // tiny: above 400 % every step fits
        {7, 5, 90, 70, 1.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString("%1x%2 in %3x%4 at %5").arg(c.w).arg(c.h).arg(c.viewW).arg(c.viewH).arg(c.dpr).toStdString());
        viewTestHost host(c.viewW, c.viewH);
        host.options->devicePixelRatio = c.dpr;
        host.loadPicture(c.w, c.h);
        mainImageArea *canvas = host.canvas();
        // The window's first display of a picture, then the view made
        // smaller while fitted (a dock or a bar appearing): it stays fitted.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 0) {
                host.zoom->setScaleValue(host.workspace->fitScale(c.w, c.h));
                host.zoom->setFit();
            } else {
                host.workspace->resize(host.workspace->size() - QSize(40, 30));
                QApplication::processEvents();
                EXPECT_TRUE(host.zoom->isFit());
            }
            const double s = canvas->zoom();
            EXPECT_LE(s * c.w, canvas->width() * c.dpr) << "pass " << pass << " at " << s;
            EXPECT_LE(s * c.h, canvas->height() * c.dpr) << "pass " << pass << " at " << s;
            EXPECT_EQ(host.workspace->horizontalBar()->minimum(), 0);
            EXPECT_EQ(host.workspace->horizontalBar()->maximum(), 0);
            EXPECT_EQ(host.workspace->verticalBar()->minimum(), 0);
            EXPECT_EQ(host.workspace->verticalBar()->maximum(), 0);
        }
    }
}

TEST(mainWorkspace, scrollRangesAt100Percent)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    EXPECT_DOUBLE_EQ(c->zoom(), 1.0);
    const scrollLimits_t l = scrollLimits(1.0, 600, 450, 1200, 900, c->width(), c->height(), 1.0);
    QScrollBar *h = host.workspace->horizontalBar();
    EXPECT_EQ(h->minimum(), l.minX - 20);
    EXPECT_EQ(h->maximum(), l.maxX + 20);
    EXPECT_EQ(host.workspace->verticalBar()->minimum(), l.minY - 20);
    EXPECT_EQ(h->pageStep(), (h->maximum() - h->minimum()) / 10);
    // The visible rectangle is the canvas's size around the centre.
    const QRect r = host.workspace->imageRect();
    EXPECT_NEAR(r.center().x(), 600, 2);
    EXPECT_NEAR(r.width(), c->width() - 1, 2);
}

TEST(mainWorkspace, wheelZoomKeepsPointUnderMouse)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    const QPoint mouse(c->width() / 4, c->height() / 3);
    const QPoint before = imageUnder(c, mouse);
    QSignalSpy wheel(host.workspace.get(), &mainWorkspace::wheelChanged);
    wheelAt(c, mouse, 120); // zoom in: four steps of 4 %
    ASSERT_EQ(wheel.count(), 1);
    EXPECT_EQ(wheel.at(0).at(0).toInt(), 4);
    EXPECT_DOUBLE_EQ(c->zoom(), 1.16);
    EXPECT_LE((imageUnder(c, mouse) - before).manhattanLength(), 2);
    wheelAt(c, mouse, -120);
    EXPECT_DOUBLE_EQ(c->zoom(), 1.0);
    EXPECT_LE((imageUnder(c, mouse) - before).manhattanLength(), 2);
}

TEST(mainWorkspace, doubleClickTogglesFitAnd100AtPoint)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.workspace->resize(host.workspace->size() + QSize(0, 1));
    QApplication::processEvents();
    host.zoom->setFit();
    const double fit = c->zoom();
    ASSERT_LT(fit, 1.0);
    const QPoint mouse(c->width() / 2 + 40, c->height() / 2 - 30);
    const QPoint target = imageUnder(c, mouse);
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, mouse);
    EXPECT_DOUBLE_EQ(c->zoom(), 1.0);
    EXPECT_LE((imageUnder(c, mouse) - target).manhattanLength(), 2);
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, mouse);
    EXPECT_DOUBLE_EQ(c->zoom(), fit);
}

TEST(mainWorkspace, panningByDragAndKeys)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    QSignalSpy viewport(host.workspace.get(), &mainWorkspace::viewportChanged);
    const QPoint start = canvasCentre(c);
    const QPoint before = imageUnder(c, start);
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, start);
    moveTo(c, start + QPoint(-50, -20));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, start + QPoint(-50, -20));
    // Dragging left by 50 pixels shows what lay 50 pixels to the right.
    EXPECT_EQ(host.workspace->horizontalBar()->value(), 50);
    EXPECT_EQ(host.workspace->verticalBar()->value(), 20);
    EXPECT_EQ(imageUnder(c, start), before + QPoint(50, 20));
    EXPECT_GT(viewport.count(), 0);
    const int h0 = host.workspace->horizontalBar()->value();
    QTest::keyClick(c, Qt::Key_Right);
    EXPECT_EQ(host.workspace->horizontalBar()->value(), h0 + host.workspace->horizontalBar()->pageStep());
    QTest::keyClick(c, Qt::Key_Up);
    EXPECT_LT(host.workspace->verticalBar()->value(), 20);
}

TEST(mainWorkspace, wheelScrollsOnlyWithZoomWithCtrl)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    host.options->misc.zoomWithCtrl = true;
    const int v0 = host.workspace->verticalBar()->value();
    wheelAt(c, canvasCentre(c), -120);
    EXPECT_DOUBLE_EQ(c->zoom(), 1.0); // no zoom without Ctrl
    EXPECT_GT(host.workspace->verticalBar()->value(), v0);
    EXPECT_FALSE(host.workspace->zoomAtPoint);
    host.options->misc.zoomWithCtrl = false;
    const int v1 = host.workspace->verticalBar()->value();
    wheelAt(c, canvasCentre(c), -120);
    EXPECT_LT(c->zoom(), 1.0);
    EXPECT_NE(host.workspace->verticalBar()->value(), v1 + 1000); // zoomed, not scrolled
}

TEST(mainWorkspace, toneMappedSplitAndClippingPixels)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    host.fakeToneMapped(10, 200, 30);
    const int y = c->height() / 2 + 40;
    EXPECT_EQ(host.pixelAt(c->width() / 2, y), qRgb(10, 200, 30));
    // Split mode 2: source on the right, "Before" there.
    host.state().splitMode = 2;
    c->renderView();
    const int line = c->width() / 2;
    EXPECT_EQ(host.pixelAt(line - 20, y), qRgb(10, 200, 30));
    const QRgb src = host.pixelAt(line + 20, y);
    EXPECT_EQ(qBlue(src), 0x80);
    // The line: white 5 pixels wide with black 3 in the middle (antialiased edges).
    EXPECT_EQ(host.pixelAt(line, y), qRgb(0, 0, 0));
    EXPECT_GT(qRed(host.pixelAt(line + 2, y)), 150);
    EXPECT_GT(qGreen(host.pixelAt(line - 3, y)), 150);
    // Mode 1: source left.
    host.state().splitMode = 1;
    c->renderView();
    EXPECT_EQ(qBlue(host.pixelAt(line - 20, y)), 0x80);
    EXPECT_EQ(host.pixelAt(line + 20, y), qRgb(10, 200, 30));
    // The split handle drags, but not closer than 2 % to an edge.
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, QPoint(line + 3, y));
    moveTo(c, QPoint(0, y));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, QPoint(0, y));
    EXPECT_DOUBLE_EQ(c->splitFractions().x(), 0.02);
    host.state().splitMode = 0;

    // Clipping warnings: mean 253 red, mean 2 blue, mean 3 unchanged.
    host.state().highlightWarning = host.state().shadowWarning = true;
    host.fakeToneMapped(253, 253, 253);
    EXPECT_EQ(host.pixelAt(c->width() / 2, y), qRgb(255, 0, 0));
    host.fakeToneMapped(2, 2, 2);
    EXPECT_EQ(host.pixelAt(c->width() / 2, y), qRgb(0, 0, 255));
    host.fakeToneMapped(3, 3, 3);
    EXPECT_EQ(host.pixelAt(c->width() / 2, y), qRgb(3, 3, 3));
}

TEST(mainWorkspace, cropOverlayHandlesAndKeys)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    host.state().cropMode = true;
    host.state().guidelines = true;
    host.workspace->setCropSize(200, 100);
    const cropRect r = c->crop();
    EXPECT_EQ(r.left, 500);
    EXPECT_EQ(r.right, 700);
    EXPECT_EQ(r.top, 400);
    EXPECT_EQ(r.bottom, 500);
    c->renderView();
    // Outside the rectangle a quarter of the brightness.
    const QPoint inside = canvasCentre(c) + QPoint(10, 10);
    const QPoint outside = canvasCentre(c) + QPoint(0, 80);
    const int imgY = imageUnder(c, outside).y();
    EXPECT_NEAR(qGreen(host.pixelAt(outside.x(), outside.y())), (imgY * 255 / 899) >> 2, 2);
    const int insideY = imageUnder(c, inside).y();
    EXPECT_NEAR(qGreen(host.pixelAt(inside.x(), inside.y())), insideY * 255 / 899, 2);

    QSignalSpy changed(host.workspace.get(), &mainWorkspace::cropAreaChanged);
    QSignalSpy applied(host.workspace.get(), &mainWorkspace::cropApplied);
    QSignalSpy abandoned(host.workspace.get(), &mainWorkspace::cropAbandoned);
    // Drag the right edge handle 40 pixels to the right.
    const QPoint rightHandle = canvasCentre(c) + QPoint(100, 0);
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, rightHandle);
    moveTo(c, rightHandle + QPoint(40, 0));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, rightHandle + QPoint(40, 0));
    ASSERT_GT(changed.count(), 0);
    EXPECT_EQ(c->crop().right, 740);
    EXPECT_EQ(c->crop().width, 240);
    // Double click inside a rectangle of at least 32 x 32 applies it.
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, inside);
    ASSERT_EQ(applied.count(), 1);
    EXPECT_EQ(applied.at(0).at(0).value<cropRect>().width, 240);
    // A 31 x 100 rectangle is abandoned instead.
    c->setCrop(cropRect{590, 621, 400, 500, 31, 100});
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, canvasCentre(c));
    EXPECT_EQ(applied.count(), 1);
    EXPECT_EQ(abandoned.count(), 1);
    QTest::keyClick(c, Qt::Key_Escape);
    EXPECT_EQ(abandoned.count(), 2);
    QTest::keyClick(c, Qt::Key_Return);
    EXPECT_EQ(applied.count(), 2);
}

TEST(mainWorkspace, cropDragsReportValuesAndEndMarkers)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    host.state().cropMode = true;
    host.workspace->setCropSize(600, 400);
    QSignalSpy angle(host.workspace.get(), &mainWorkspace::cropAngleChanged);
    QSignalSpy distortion(host.workspace.get(), &mainWorkspace::distortionValueChanged);
    QSignalSpy canvasAngle(c, &mainImageArea::cropAngleChanged);
    const QPoint p = canvasCentre(c) + QPoint(0, 100);
    QTest::mousePress(c, Qt::LeftButton, Qt::ShiftModifier, p);
    moveTo(c, p + QPoint(-9, 0), Qt::LeftButton, Qt::ShiftModifier);
    QTest::mouseRelease(c, Qt::LeftButton, Qt::ShiftModifier, p + QPoint(-9, 0));
    ASSERT_EQ(canvasAngle.count(), 2);
    EXPECT_NEAR(canvasAngle.at(1).at(0).toDouble(), -1.0, 1e-12); // the end marker
    ASSERT_EQ(angle.count(), 1);                                  // not passed on
    EXPECT_NEAR(angle.at(0).at(0).toDouble(), 360 - std::atan2(9.0, 100.0) * 180 / 3.141592653589793, 0.2);
    // Ctrl drag: distortion; the -10 end value only re-renders.
    QTest::mousePress(c, Qt::LeftButton, Qt::ControlModifier, p);
    moveTo(c, p + QPoint(120, 0), Qt::LeftButton, Qt::ControlModifier);
    QTest::mouseRelease(c, Qt::LeftButton, Qt::ControlModifier, p + QPoint(120, 0));
    ASSERT_EQ(distortion.count(), 1);
    EXPECT_NEAR(distortion.at(0).at(0).toDouble(), 120.0 / 1200 * 0.5, 1e-9);
}

TEST(mainWorkspace, clickSamplingAndLiveSampling)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    mainImageArea *c = host.canvas();
    host.zoom->set100();
    QSignalSpy taken(host.workspace.get(), &mainWorkspace::sampleTaken);
    host.workspace->setSampleMode(4);
    const QPoint p = canvasCentre(c);
    const QPoint img = imageUnder(c, p);
    QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, p);
    ASSERT_EQ(taken.count(), 1);
    EXPECT_EQ(taken.at(0).at(0).toInt(), 4);
    EXPECT_EQ(taken.at(0).at(1).toInt(), 2); // modes 4-6 sample the full-size 16-bit image
    const rgbDouble_t v = taken.at(0).at(2).value<rgbDouble_t>();
    EXPECT_NEAR(v.r, img.x() / 1199.0, 0.002);
    EXPECT_NEAR(v.g, img.y() / 899.0, 0.002);
    EXPECT_NEAR(v.b, 0x8000 / 65535.0, 1e-6);
    EXPECT_NEAR(v.lum, 0.3086 * v.r + 0.6094 * v.g + 0.082 * v.b, 1e-12);
    EXPECT_EQ(c->sampleMode(), 0);
    QSignalSpy abandoned(host.workspace.get(), &mainWorkspace::sampleAbandoned);
    host.workspace->setSampleMode(1);
    QTest::keyClick(c, Qt::Key_Escape);
    EXPECT_EQ(abandoned.count(), 1);
    // Live sampling follows the mouse after the move timer.
    host.workspace->setSampleMode(0);
    QSignalSpy moved(host.workspace.get(), &mainWorkspace::mouseMoved);
    moveTo(c, p + QPoint(5, 5), Qt::NoButton);
    ASSERT_TRUE(moved.wait(2000));
    EXPECT_TRUE(moved.last().at(0).toBool());
}

TEST(mainWorkspace, dropsOfFilesReachTheWindowAndFoldersAreRefused)
{
    viewTestHost host;
    mainImageArea *c = host.canvas();
    const QString file = host.scratch + "/a.jpg";
    ASSERT_TRUE(testSupport::writeFile(file, "x"));
    QSignalSpy dropped(host.workspace.get(), &mainWorkspace::imagesDropped);
    auto enter = [c](const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent e(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        e.setAccepted(false);
        QApplication::sendEvent(c, &e);
        return e.isAccepted();
    };
    EXPECT_TRUE(enter({QUrl::fromLocalFile(file)}));
    EXPECT_FALSE(enter({QUrl::fromLocalFile(host.scratch)}));
    EXPECT_FALSE(enter({QUrl::fromLocalFile(file), QUrl("http://example.invalid/b.jpg")}));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(c, &drop);
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), QStringList{file});
}

TEST(mainWorkspace, relaysPassOnlyValidValues)
{
    viewTestHost host;
    host.loadPicture(300, 200);
    QSignalSpy distortion(host.workspace.get(), &mainWorkspace::distortionValueChanged);
    QSignalSpy perspective(host.workspace.get(), &mainWorkspace::perspectiveValueChanged);
    QSignalSpy angle(host.workspace.get(), &mainWorkspace::cropAngleChanged);
    emit host.canvas()->distortionValueChanged(1.5);
    emit host.canvas()->distortionValueChanged(0.1);
    emit host.canvas()->perspectiveValueChanged(0.1, -1.5);
    emit host.canvas()->cropAngleChanged(-1.0);
    emit host.canvas()->cropAngleChanged(12.0);
    ASSERT_EQ(distortion.count(), 1);
    EXPECT_DOUBLE_EQ(distortion.at(0).at(0).toDouble(), 0.1);
    EXPECT_EQ(perspective.count(), 0);
    ASSERT_EQ(angle.count(), 1);
    EXPECT_DOUBLE_EQ(angle.at(0).at(0).toDouble(), 12.0);
}

TEST(mainWorkspace, renderWaitsForTheBusyFlag)
{
    viewTestHost host;
    host.loadPicture(300, 200);
    imageBusyFlag = true;
    std::thread clearer([]() { imageBusyFlag = false; });
    host.canvas()->renderView();
    clearer.join();
    EXPECT_FALSE(imageBusyFlag.load());
}

TEST(mainWorkspace, redrawTimerRunsAfterInteractiveScroll)
{
    viewTestHost host;
    host.loadPicture(1200, 900);
    host.zoom->set100();
    host.workspace->horizontalBar()->setValue(30);
    EXPECT_TRUE(host.workspace->redrawTimer().isActive());
    EXPECT_EQ(host.workspace->redrawTimer().interval(), VIEW_REDRAW_DELAY_MS);
    EXPECT_FALSE(host.project->view.ready);
}
