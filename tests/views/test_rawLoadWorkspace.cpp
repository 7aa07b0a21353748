#include "app/programOptionsSettings.h"
#include "project/pyramid.h"
#include "testSupport.h"
#include "views/rawLoadWorkspace.h"

#include <QSignalSpy>
#include <QTest>
#include <cstring>

namespace {

struct optionsScope {
    programOptionsSettings options;
    programOptionsSettings *saved = optionsInstance;
    optionsScope() { optionsInstance = &options; }
    ~optionsScope() { optionsInstance = saved; }
};

// A 40 x 30 preview: red left half, blue right half.
void makePreview(pyramid &p)
{
    ASSERT_TRUE(p.makePyramid(40, 30, 2, 1, 3, true));
    uint8_t *d = static_cast<uint8_t *>(p.levels[0].data);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t *px = d + (size_t(y) * 40 + x) * 3;
            px[0] = x < 20 ? 200 : 0;
            px[2] = x < 20 ? 0 : 200;
        }
    p.levels[0].valid = true;
    p.buildLevelsFrom(0);
    p.levels[1].valid = true;
}

} // namespace

TEST(rawLoadWorkspace, withoutImageNothingReacts)
{
    optionsScope scope;
    rawLoadWorkspace ws;
    ws.resize(200, 150);
    ws.show();
    QTest::qWait(10);
    rawLoadArea *canvas = ws.canvas();
    QSignalSpy samples(canvas, &rawLoadArea::sampleTaken);
    QSignalSpy offsets(canvas, &rawLoadArea::offsetsChanged);
    QSignalSpy dbl(canvas, &rawLoadArea::dblClick);
    canvas->enableEyedropper(true);
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseDClick(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_EQ(samples.count(), 0);
    EXPECT_EQ(offsets.count(), 0);
    EXPECT_EQ(dbl.count(), 0);
    EXPECT_EQ(canvas->samplePoint(), QPoint(-1, -1));
    EXPECT_EQ(ws.fitScale(), 100);
}

TEST(rawLoadWorkspace, rendersImageAndTakesSamples)
{
    optionsScope scope;
    scope.options.devicePixelRatio = 1.0;
    scope.options.misc.backgroundColor = 9; // shown as entry 1, stored back as 1
    rawLoadWorkspace ws;
    ws.resize(200, 150);
    ws.show();
    QTest::qWait(10);
    ws.repaint();
    EXPECT_EQ(scope.options.misc.backgroundColor, 1);

    pyramid p;
    makePreview(p);
    ws.setImage(p);
    rawLoadArea *canvas = ws.canvas();
    ASSERT_TRUE(canvas->hasImage());
    canvas->repaint();
    canvas->renderView(false);
    const QImage &pic = canvas->picture();
    ASSERT_FALSE(pic.isNull());
    // At zoom 1 the image is centred: its centre pixel (20, 15) under the
    // canvas centre; left half red, right half blue, outside the checkerboard.
    const QPoint centre(canvas->width() / 2, canvas->height() / 2);
    EXPECT_EQ(qRed(pic.pixel(centre - QPoint(5, 0))), 200);
    EXPECT_EQ(qBlue(pic.pixel(centre + QPoint(5, 0))), 200);
    const QRgb outside = pic.pixel(2, 2);
    EXPECT_EQ(qRed(outside), qGreen(outside));
    const uint32_t bg = RAW_VIEW_BACKGROUNDS[1];
    EXPECT_TRUE(qRed(outside) == int(bg & 0xff) || qRed(outside) == int((bg >> 8) & 0xff));

    int ix = -1, iy = -1;
    ASSERT_TRUE(canvas->viewToImage(centre, ix, iy));
    EXPECT_EQ(ix, 20);
    EXPECT_EQ(iy, 15);

    // Eyedropper: a click in the image takes the point; a click outside keeps
    // it but still reports a sample.
    QSignalSpy samples(canvas, &rawLoadArea::sampleTaken);
    canvas->enableEyedropper(true);
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, centre + QPoint(3, 2));
    EXPECT_EQ(canvas->samplePoint(), QPoint(23, 17));
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_EQ(canvas->samplePoint(), QPoint(23, 17));
    EXPECT_EQ(samples.count(), 2);

    // The sample square at zoom 1: black inner square 41 x 41 around the point.
    canvas->setMarkerVisible(true);
    canvas->renderView(false);
    const QPoint v = canvas->imageToView(23, 17);
    EXPECT_EQ(canvas->picture().pixel(v.x() - 20, v.y()), qRgb(0, 0, 0));
    EXPECT_EQ(canvas->picture().pixel(v.x() + 20, v.y()), qRgb(0, 0, 0));
    EXPECT_EQ(canvas->picture().pixel(v.x() - 21, v.y()), qRgb(255, 255, 255));

    // Double click outside the image does nothing.
    QSignalSpy dbl(canvas, &rawLoadArea::dblClick);
    QTest::mouseMove(canvas, QPoint(1, 1));
    QTest::mouseDClick(canvas, Qt::RightButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_EQ(dbl.count(), 0);

    // The fitted zoom for a 40 x 30 image in the canvas.
    EXPECT_EQ(ws.fitScale(), std::min(canvas->width() * 100 / 50, canvas->height() * 100 / 40));
    ws.refreshView();
    EXPECT_EQ(canvas->samplePoint(), QPoint(-1, -1));
    EXPECT_FALSE(canvas->hasImage());
}
