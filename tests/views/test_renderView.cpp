#include "viewTestHost.h"
#include "views/renderView.h"
#include "../widgets/widgetTestSupport.h"

#include <cmath>
#include <vector>

TEST(renderView, windowBufferAllocationFailsCleanly)
{
    previewWindow_t view;
    uint8_t enabled[LAYER_COUNT] = {1, 1, 0, 1};
    ASSERT_TRUE(allocateWindowBuffers(view, 64, 32, enabled));
    EXPECT_NE(view.hdr, nullptr);
    EXPECT_NE(view.layerOutput[0], nullptr);
    EXPECT_NE(view.layerMask[1], nullptr);
    EXPECT_EQ(view.layerMask[2], nullptr);
    EXPECT_EQ(view.layerMask[0], nullptr); // no mask on the base layer
    EXPECT_EQ(view.maskBackup[64 * 32 - 1], 0);
    // Too little memory: nothing is left half allocated.
    EXPECT_FALSE(allocateWindowBuffers(view, 64, 32, enabled, 1000));
    EXPECT_EQ(view.hdr, nullptr);
    EXPECT_EQ(view.detail, nullptr);
    EXPECT_EQ(view.layerOutput[0], nullptr);
    EXPECT_EQ(view.maskBackup, nullptr);
    EXPECT_EQ(view.width, 0);
    freeWindowBuffers(view);
}

TEST(renderView, canvasWithoutWindowBuffersStillShowsSource)
{
    viewTestHost host(200, 150);
    host.loadPicture(300, 200);
    ASSERT_TRUE(host.canvas()->windowBuffersValid());
    // A failed rebuild is reported once; the view keeps drawing the source picture.
    messageRecorder boxes;
    mainImageArea::setWindowBufferLimit(1000);
    host.canvas()->updatePixmap();
    mainImageArea::setWindowBufferLimit(0);
    EXPECT_FALSE(host.canvas()->windowBuffersValid());
    EXPECT_EQ(boxes.texts(), QStringList{"Not enough memory!"});
    EXPECT_EQ(host.project->view.hdr, nullptr);
    host.state().toneMappedView = true;
    host.canvas()->renderView(false, false, true);
    const QRgb centre = host.pixelAt(host.canvas()->width() / 2, host.canvas()->height() / 2);
    EXPECT_EQ(qBlue(centre), 0x80);
}

namespace {

// Renders a picture of w x h (8-bit, its own pyramid) into a view.
std::vector<uint32_t> renderPicture(processingProject *project, const pyramid &pic, int viewW, int viewH, double zoom,
                                    bool crop, int threads, double angle = 0.0, double distortion = 0.0)
{
    const pyramidView_t desc = describePyramid(pic);
    std::vector<uint32_t> pixels(size_t(viewW) * viewH, 0xdeadbeef);
    project->view.width = project->view.height = 0;
    _viewDrawThreadParams_t common;
    common.project = project;
    common.picture = &desc;
    common.hasImage = 1;
    common.pixels = pixels.data();
    common.cropMode = crop;
    common.cosAngle = std::cos(angle);
    common.sinAngle = std::sin(angle);
    common.distortion = distortion;
    common.viewWidth = viewW;
    common.viewHeight = viewH;
    common.centreX = pic.levels[0].width / 2;
    common.centreY = pic.levels[0].height / 2;
    common.zoom = zoom;
    common.smooth = 1;
    // Window over the whole visible picture.
    const double ox = std::floor(viewW * 0.5 - common.centreX * zoom);
    const double oy = std::floor(viewH * 0.5 - common.centreY * zoom);
    project->view.width = std::max(0, std::min(int(pic.levels[0].width * zoom + std::min(ox, 0.0)), viewW));
    project->view.height = std::max(0, std::min(int(pic.levels[0].height * zoom + std::min(oy, 0.0)), viewH));
    for (int i = 0; i < threads; ++i) {
        _viewDrawThreadParams_t p = common;
        stripeRows(viewH, threads, i, p.firstRow, p.endRow);
        renderViewStripe(p);
    }
    return pixels;
}

} // namespace

TEST(renderView, stripesGiveTheSameFrameForAnyCount)
{
    processingProject *project = sharedProject();
    pyramid pic;
    ASSERT_TRUE(pic.makePyramid(90, 70, 3, 1, 3, true));
    uint8_t *d = static_cast<uint8_t *>(pic.levels[0].data);
    for (int i = 0; i < 90 * 70 * 3; ++i)
        d[i] = uint8_t(i * 7);
    pic.buildLevelsFrom(0);
    const std::vector<uint32_t> one = renderPicture(project, pic, 120, 80, 0.7, false, 1);
    const std::vector<uint32_t> seven = renderPicture(project, pic, 120, 80, 0.7, false, 7);
    EXPECT_EQ(one, seven);
    for (uint32_t v : one)
        ASSERT_NE(v, 0xdeadbeefu); // every pixel written
}

TEST(renderView, onePixelLevelsRenderWithoutReadingOutside)
{
    // Levels one pixel wide (and one pixel high at the bottom): the bilinear
    // neighbour and the crop norm must stay inside the level.
    processingProject *project = sharedProject();
    for (const QSize size : {QSize(1, 40), QSize(40, 1), QSize(1, 1), QSize(3, 2)}) {
        pyramid pic;
        ASSERT_TRUE(pic.makePyramid(size.width(), size.height(), 1, 2, 3, true));
        uint16_t *d = static_cast<uint16_t *>(pic.levels[0].data);
        for (int i = 0; i < size.width() * size.height() * 3; ++i)
            d[i] = 0x8000;
        for (bool crop : {false, true}) {
            const std::vector<uint32_t> px = renderPicture(project, pic, 50, 50, 7.0, crop, 2, 0.3, 0.2);
            const uint32_t centre = px[25 * 50 + 25];
            EXPECT_EQ(centre >> 24, 1u) << size.width() << "x" << size.height();
            if (!crop) {
                EXPECT_EQ(centre & 0xff, 0x80u);
            }
        }
    }
}

TEST(renderView, compositingShadesOutsideCropAndInvertsGuidelines)
{
    const int w = 100, h = 60;
    std::vector<uint32_t> src(size_t(w) * h, 0x01808080u);
    QImage target(w, h, QImage::Format_RGB32);
    _viewComposite_threadParams_t p;
    p.firstRow = 0;
    p.endRow = h;
    p.width = w;
    p.height = h;
    p.target = target.bits();
    p.targetStride = target.bytesPerLine();
    p.source = src.data();
    p.cropMode = 1;
    p.cropLeft = 10;
    p.cropRight = 70;
    p.cropTop = 10;
    p.cropBottom = 40;
    p.guidelines = 1;
    compositeViewRows(p);
    EXPECT_EQ(target.pixel(5, 5), qRgb(0x20, 0x20, 0x20));
    EXPECT_EQ(target.pixel(15, 15), qRgb(0x80, 0x80, 0x80));
    // Thirds: columns 10 + 20 and 10 + 40, rows 10 + 10 and 10 + 20.
    EXPECT_EQ(target.pixel(30, 15), qRgb(0x7f, 0x7f, 0x7f));
    EXPECT_EQ(target.pixel(50, 15), qRgb(0x7f, 0x7f, 0x7f));
    EXPECT_EQ(target.pixel(15, 20), qRgb(0x7f, 0x7f, 0x7f));
    EXPECT_EQ(target.pixel(15, 21), qRgb(0x80, 0x80, 0x80));
    // Background pixels (marker 0) are left alone.
    src[0] = 0x00101010u;
    compositeViewRows(p);
    EXPECT_EQ(target.pixel(0, 0), qRgb(0x10, 0x10, 0x10));
}

TEST(renderView, sourcePixelsAreTheBilinearSampleOfTheChosenLevel)
{
    // The source picture at several zooms: each pixel inside the picture is
    // the bilinear sample of the level the zoom chooses (8-bit: the top byte
    // of the 16-bit value), and nearest sampling takes the nearest pixel.
    processingProject *project = sharedProject();
    const int W = 64, H = 48;
    pyramid pic;
    ASSERT_TRUE(pic.makePyramid(W, H, 3, 2, 3, true));
    uint16_t *d = static_cast<uint16_t *>(pic.levels[0].data);
    for (int i = 0; i < W * H * 3; ++i)
        d[i] = uint16_t((i * 2654435761u) >> 8);
    pic.buildLevelsFrom(0);
    const int viewW = 90, viewH = 70;
    struct zoomCase_t {
        double zoom;
        int level;
    };
    for (const zoomCase_t c : {zoomCase_t{0.3, 1}, zoomCase_t{0.7, 0}, zoomCase_t{1.0, 0}, zoomCase_t{2.5, 0}}) {
        const std::vector<uint32_t> px = renderPicture(project, pic, viewW, viewH, c.zoom, false, 3);
        const int t = 1 << c.level;
        const pyramidLevel_t &lv = pic.levels[c.level];
        const uint16_t *ld = static_cast<const uint16_t *>(lv.data);
        const double ox = std::floor(viewW * 0.5 - (W / 2) * c.zoom);
        const double oy = std::floor(viewH * 0.5 - (H / 2) * c.zoom);
        int checked = 0;
        for (int y = 0; y < viewH; ++y)
            for (int x = 0; x < viewW; ++x) {
                const double sx = (x - ox) / c.zoom / t, sy = (y - oy) / c.zoom / t;
                const bool inWindow = x >= std::max(0.0, ox) && y >= std::max(0.0, oy)
                                      && x < std::max(0.0, ox) + project->view.width
                                      && y < std::max(0.0, oy) + project->view.height;
                if (sx < 0 || sy < 0 || sx >= lv.width - 1 || sy >= lv.height - 1 || !inWindow)
                    continue;
                const int x0 = int(sx), y0 = int(sy);
                const double fx = sx - x0, fy = sy - y0;
                for (int ch = 0; ch < 3; ++ch) {
                    auto at = [&](int xx, int yy) { return double(ld[(size_t(yy) * lv.width + xx) * 3 + ch]); };
                    const double v = at(x0, y0) * ((1 - fx) * (1 - fy)) + at(x0 + 1, y0) * (fx * (1 - fy))
                                     + at(x0, y0 + 1) * ((1 - fx) * fy) + at(x0 + 1, y0 + 1) * (fx * fy);
                    const uint32_t got = (px[size_t(y) * viewW + x] >> (16 - 8 * ch)) & 0xff;
                    ASSERT_EQ(got, uint32_t(int(v) >> 8)) << "zoom " << c.zoom << " at " << x << "," << y;
                }
                EXPECT_EQ(px[size_t(y) * viewW + x] >> 24, 1u);
                ++checked;
            }
        EXPECT_GT(checked, 100) << c.zoom;
    }
}
