// mainImageArea: construction, rendering, the pixmap and the overlays.

#include "views/mainImageArea.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "project/filterKernels.h"
#include "project/parallelRanges.h"
#include "project/processingProject.h"
#include "views/mainWorkspace.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QBitmap>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <thread>

namespace {

int64_t windowBufferLimit = INT64_MAX;

QCursor bitmapCursor(const char *name, int hx, int hy, int hx2, int hy2, bool hasHighRes, Qt::CursorShape fallback)
{
    const double d = widgetSupport::devicePixelRatio();
    const bool hi = d != 1.0;
    const QString base = QStringLiteral(":/resources/cursors/") + QLatin1String(name);
    const bool useHigh = hi && hasHighRes;
    const QBitmap bitmap(base + (useHigh ? "@2x.bmp" : ".bmp"));
    const QBitmap mask(base + (useHigh ? "_mask@2x.bmp" : "_mask.bmp"));
    if (bitmap.isNull() || mask.isNull())
        return QCursor(fallback);
    if (useHigh)
        return QCursor(bitmap, mask, hx2, hy2);
    if (hi && !hasHighRes)
        return QCursor(bitmap, mask, int(hx * d), int(hy * d));
    return QCursor(bitmap, mask, hx, hy);
}

QFont labelFont(double pixels, bool bold)
{
    QFont f;
    f.setFamily(QStringLiteral("Segoe UI"));
    f.setPixelSize(std::max(1, int(pixels)));
    f.setBold(bold);
    return f;
}

} // namespace

mainImageArea::mainImageArea(mainWorkspace *owner, processingProject *proj)
    : QWidget(owner), project(proj), workspace(owner)
{
    qRegisterMetaType<cropRect>("cropRect");
    qRegisterMetaType<rgbDouble_t>("rgbDouble_t");
    initWidgetResources();
    uiScale = widgetSupport::uiScale();
    antiAliasing = optionsInstance && optionsInstance->performance.liveAntiAliasing;
    if (optionsInstance)
        masks.threshold = optionsInstance->misc.maskPaintingIntelligentThreshold;
    if (project) {
        freeWindowBuffers(project->view);
        project->view.zoom = 1.0;
    }
    setMouseTracking(true);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    applyButton = new QPushButton(tr("Apply gradient"), this);
    applyButton->hide();
    applyButton->setCursor(Qt::ArrowCursor);
    applyButton->move(int(10 * uiScale), int(10 * uiScale));
    connect(applyButton, &QPushButton::clicked, this, [this]() { finishGradient(); });

    moveTimer.setSingleShot(true);
    moveTimer.setInterval(70);
    connect(&moveTimer, &QTimer::timeout, this, &mainImageArea::moveOnTimer);

    crossCursor = bitmapCursor("cross", 15, 15, 31, 31, true, Qt::CrossCursor);
    eyedropperCursor = bitmapCursor("eyedropper", 17, 15, 36, 33, true, Qt::CrossCursor);
    cropCursor = bitmapCursor("crop", 10, 10, 19, 19, true, Qt::CrossCursor);
    cropMoveCursor = bitmapCursor("crop-move", 15, 15, 31, 31, true, Qt::SizeAllCursor);
    rotateCursor = bitmapCursor("rotate", 7, 8, 7, 8, false, Qt::CrossCursor);
}

void mainImageArea::setWindowBufferLimit(int64_t bytes)
{
    windowBufferLimit = bytes > 0 ? bytes : INT64_MAX;
}

mainImageArea::~mainImageArea()
{
    // The window buffers were allocated here; the project outlives the view.
    if (project)
        freeWindowBuffers(project->view);
}

double mainImageArea::dpr() const
{
    return widgetSupport::devicePixelRatio();
}

double mainImageArea::originX() const
{
    return std::floor(devSize.width() * 0.5 - cx * s - scrollX);
}

double mainImageArea::originY() const
{
    return std::floor(devSize.height() * 0.5 - cy * s - scrollY);
}

bool mainImageArea::viewToImage(QPointF logical, int &x, int &y) const
{
    if (!imagePresent || picture.levelCount < 1)
        return false;
    x = int((logical.x() * dpr() - originX()) / s + 0.5);
    y = int((logical.y() * dpr() - originY()) / s + 0.5);
    return x >= 0 && y >= 0 && x < imageWidth() && y < imageHeight();
}

bool mainImageArea::imageToWindow(int x, int y, int &wx, int &wy) const
{
    if (!project)
        return false;
    auto clampScroll = [](int v, int lo, int hi) {
        if (v < lo)
            return lo;
        if (v > hi)
            return hi + (v - hi) / 2;
        return v;
    };
    const int sx = clampScroll(scrollX, limits.minX, std::max(limits.minX, limits.maxX));
    const int sy = clampScroll(scrollY, limits.minY, std::max(limits.minY, limits.maxY));
    const previewWindow_t &win = project->view;
    wx = int(std::floor(win.width * 0.5 - cx * s - sx) + x * s + 0.5);
    wy = int(std::floor(win.height * 0.5 - cy * s - sy) + y * s + 0.5);
    return wx >= 0 && wy >= 0 && wx < win.width && wy < win.height;
}

QPointF mainImageArea::imageToLogical(double x, double y) const
{
    return QPointF((x * s + originX()) / dpr(), (y * s + originY()) / dpr());
}

void mainImageArea::resizeEvent(QResizeEvent *event)
{
    pixmapIsOutdated = true;
    QWidget::resizeEvent(event);
}

void mainImageArea::paintEvent(QPaintEvent *)
{
    if (pixmapIsOutdated)
        updatePixmap();
    QPainter p(this);
    if (!pixmap.isNull())
        p.drawPixmap(0, 0, pixmap);
}

void mainImageArea::updatePixmap()
{
    const double d = dpr();
    logicalSize = size();
    devSize = QSize(std::max(1, int(width() * d)), std::max(1, int(height() * d)));
    image = QImage(devSize, QImage::Format_RGB32);
    image.setDevicePixelRatio(d);
    pixmap = QPixmap(devSize);
    pixmap.setDevicePixelRatio(d);
    pixels.assign(size_t(devSize.width()) * size_t(devSize.height()), 0u);

    if (project) {
        const bool wasOk = buffersOk;
        buffersOk = allocateWindowBuffers(project->view, devSize.width(), devSize.height(), project->layerEnabled,
                                         windowBufferLimit);
        if (!buffersOk && wasOk)
            styledMessageBox::show(this, styledMessageBox::Error, tr("Not enough memory!"));
    }
    pixmapIsOutdated = false;

    if (state.toneMappedView && project && project->prepared && buffersOk) {
        renderView(false, false, true);
        const bool live = optionsInstance && optionsInstance->performance.liveToneMappingWhileZoomingAndPanning;
        if (live) {
            for (int l = 0; l < LAYER_COUNT; ++l) {
                if (project->layerEnabled[l])
                    project->doToneMapping(&project->layerSettings[l], nullptr, true, false);
            }
            project->view.ready = true;
            renderView();
            if (optionsInstance && optionsInstance->performance.resample >= 2)
                emit requestTimerStart();
        } else {
            project->view.ready = false;
            emit requestTimerStart();
        }
    } else {
        renderView();
    }
}

bool mainImageArea::paintingActive() const
{
    return maskPaintingOn && paintingAllowed;
}

void mainImageArea::renderView(bool interactive, bool overlayOnly, bool resample, int refreshLayer)
{
    // The project rebuilds the pyramids the stripes read while this is set.
    while (imageBusyFlag.load(std::memory_order_acquire))
        std::this_thread::yield();
    if (!project || image.isNull() || logicalSize != size() || pixels.empty())
        return;
    previewWindow_t &win = project->view;
    const bool tmView = state.toneMappedView && buffersOk;
    if (s != win.zoom || toneMappingRunning.load())
        resample = true;

    const int devW = devSize.width(), devH = devSize.height();
    const double ox = originX(), oy = originY();

    if (!overlayOnly) {
        // The visible part of the image (the window buffers, when there are
        // any, hold it at the device size or less).
        const double oxm = std::min(ox, 0.0), oym = std::min(oy, 0.0);
        win.width = std::max(0, std::min(int(imageWidth() * s + oxm), devW));
        win.height = std::max(0, std::min(int(imageHeight() * s + oym), devH));
        win.offsetX = int(-oxm / s);
        win.offsetY = int(-oym / s);
        win.zoom = s;

        _viewDrawThreadParams_t common;
        common.toneMappedView = tmView;
        common.resample = resample;
        common.showSource = state.showSource;
        common.splitMode = state.splitMode;
        common.splitX = int(logicalSize.width() * splitFx * dpr());
        common.splitY = int(logicalSize.height() * splitFy * dpr());
        common.project = project;
        common.picture = &picture;
        common.hasImage = imagePresent;
        common.pixels = pixels.data();
        common.cropMode = state.cropMode;
        common.maskPainting = maskPaintingOn;
        const double radians = cropAngle / 360.0 * 2.0 * 3.141592653589793;
        common.cosAngle = std::cos(radians);
        common.sinAngle = std::sin(radians);
        common.distortion = distortion;
        common.perspectiveX = perspectiveX;
        common.perspectiveY = perspectiveY;
        common.viewWidth = devW;
        common.viewHeight = devH;
        common.centreX = cx;
        common.centreY = cy;
        common.scrollX = scrollX;
        common.scrollY = scrollY;
        common.zoom = s;
        common.checkerA = checkerA;
        common.checkerB = checkerB;
        common.flatTone = flatTone;
        common.smooth = !(interactive && !antiAliasing);
        common.shadowWarning = state.shadowWarning;
        common.highlightWarning = state.highlightWarning;
        common.refreshLayer = refreshLayer;
        common.overlayMode = hideMaskOverlay ? 0 : masks.overlayColor;
        common.currentLayer = state.currentLayer;
        common.layerVisible = state.layerVisible;
        common.dpr = dpr();
        const int n = idealThreadCount(project->batchRunning);
        std::vector<_viewDrawThreadParams_t> stripes;
        for (const range_t &r : splitRanges(devH, n)) {
            _viewDrawThreadParams_t p = common;
            p.firstRow = int32_t(r.first);
            p.endRow = int32_t(r.end);
            stripes.push_back(p);
        }
        runThreadRecords(stripes, renderViewStripe);
        if (tmView && resample && refreshLayer <= 0 && !interactive)
            win.ready = true; // the window buffers match the window again
    }

    if (tmView && resample && refreshLayer == 0 && win.hdr && win.detail && win.width > 0 && win.height > 0) {
        double factor = 1.0;
        unsharpMask(win.hdr, win.detail, nullptr, win.width, win.height, project->panoramaMode, factor, win.zoom,
                    imageWidth(), imageHeight(), idealThreadCount(project->batchRunning));
        win.detailFactor = factor;
    }

    // Compositing: crop shading and guidelines.
    _viewComposite_threadParams_t comp;
    comp.width = devW;
    comp.height = devH;
    comp.target = image.bits();
    comp.targetStride = image.bytesPerLine();
    comp.source = pixels.data();
    comp.cropMode = state.cropMode && imagePresent;
    if (comp.cropMode) {
        comp.cropLeft = int(cropArea.left * s + ox);
        comp.cropRight = int(cropArea.right * s + ox);
        comp.cropTop = int(cropArea.top * s + oy);
        comp.cropBottom = int(cropArea.bottom * s + oy);
    } else {
        comp.cropRight = devW;
        comp.cropBottom = devH;
    }
    comp.guidelines = state.guidelines;
    comp.dense = adjusting || rotating || distortionDragging || perspectiveDragging;
    parallelRanges(
        devH, idealThreadCount(project->batchRunning),
        [&comp](range_t r) {
            _viewComposite_threadParams_t p = comp;
            p.firstRow = int32_t(r.first);
            p.endRow = int32_t(r.end);
            return p;
        },
        compositeViewRows);

    drawOverlays();
    pixmap = QPixmap::fromImage(image);
}

void mainImageArea::drawCross(QPainter &p, QPointF c) const
{
    const double h = 11 * uiScale;
    for (int pass = 0; pass < 2; ++pass) {
        p.setPen(QPen(pass == 0 ? Qt::black : Qt::white, pass == 0 ? 6 : 2));
        p.drawLine(QPointF(c.x() - h, c.y()), QPointF(c.x() + h, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - h), QPointF(c.x(), c.y() + h));
    }
}

void mainImageArea::drawOverlays()
{
    QPainter p(&image);
    const double W = logicalSize.width(), H = logicalSize.height();

    if (state.splitMode >= 1 && state.splitMode <= 4 && state.toneMappedView) {
        p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        const bool vertical = state.splitMode <= 2;
        const double line = vertical ? W * splitFx : H * splitFy;
        for (int pass = 0; pass < 2; ++pass) {
            p.setPen(QPen(pass == 0 ? Qt::white : Qt::black, pass == 0 ? 5 : 3));
            if (vertical)
                p.drawLine(QPointF(line, 0), QPointF(line, H));
            else
                p.drawLine(QPointF(0, line), QPointF(W, line));
        }
        const QFont bold = labelFont(15 * uiScale, true);
        const QFont small = labelFont(11 * uiScale, false);
        const QString before = tr("Before"), after = tr("After");
        const QFontMetrics fm(bold);
        const QSize bs(fm.horizontalAdvance(before) + 10, fm.height() + 4);
        const QSize as(fm.horizontalAdvance(after) + 10, fm.height() + 4);
        QRect beforeBox, afterBox;
        switch (state.splitMode) {
        case 1:
            beforeBox = QRect(QPoint(int(line) - 17 - bs.width(), 17), bs);
            afterBox = QRect(QPoint(int(line) + 17, 17), as);
            break;
        case 2:
            afterBox = QRect(QPoint(int(line) - 17 - as.width(), 17), as);
            beforeBox = QRect(QPoint(int(line) + 17, 17), bs);
            break;
        case 3:
            beforeBox = QRect(QPoint(17, int(line) - 17 - bs.height()), bs);
            afterBox = QRect(QPoint(17, int(line) + 17), as);
            break;
        default:
            afterBox = QRect(QPoint(17, int(line) - 17 - as.height()), as);
            beforeBox = QRect(QPoint(17, int(line) + 17), bs);
            break;
        }
        auto box = [&p](const QRect &r, const QString &text, const QFont &f) {
            p.fillRect(r, QColor(255, 255, 255, 90));
            p.setFont(f);
            p.setPen(Qt::black);
            p.drawText(r, Qt::AlignCenter, text);
        };
        box(beforeBox, before, bold);
        box(afterBox, after, bold);
        const QString imgName = workspace ? workspace->imageName() : QString();
        if (!imgName.isEmpty()) {
            const QFontMetrics sm(small);
            const QSize ns(sm.horizontalAdvance(imgName) + 10, sm.height() + 4);
            const QPoint at = state.splitMode == 3 ? QPoint(beforeBox.left(), beforeBox.top() - ns.height())
                                                   : QPoint(beforeBox.left(), beforeBox.bottom() + 1);
            box(QRect(at, ns), imgName, small);
        }
        p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing,
                         false);
    }

    if (state.cropMode && imagePresent) {
        const QPointF tl = imageToLogical(cropArea.left, cropArea.top);
        const QPointF br = imageToLogical(cropArea.right, cropArea.bottom);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setPen(QPen(Qt::white, 1));
        const QColor handle(255, 255, 255, 160);
        std::vector<QPointF> points = {tl, QPointF(br.x(), tl.y()), QPointF(tl.x(), br.y()), br};
        if (state.aspect == 0.0) {
            const double mx = (tl.x() + br.x()) / 2, my = (tl.y() + br.y()) / 2;
            points.insert(points.end(), {QPointF(mx, tl.y()), QPointF(mx, br.y()), QPointF(tl.x(), my), QPointF(br.x(), my)});
        }
        for (const QPointF &c : points)
            p.fillRect(QRectF(c.x() - 3, c.y() - 3, 6, 6), handle);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(tl, br));
    }

    if (maskPaintingOn && state.toneMappedView && strokeActive && masks.intelligent)
        drawCross(p, imageToLogical(strokeStart.x(), strokeStart.y()));

    if (maskPaintingOn && state.toneMappedView && masks.mode == maskPainter::MODE_GRADIENT && gradientM >= 0.0) {
        const QPointF a = imageToLogical(gradientPts[0].x(), gradientPts[0].y());
        const QPointF b = imageToLogical(gradientPts[1].x(), gradientPts[1].y());
        const QPointF m = imageToLogical(gradientPts[2].x(), gradientPts[2].y());
        p.setRenderHint(QPainter::Antialiasing, true);
        QPen dash(Qt::black, 1, Qt::DashLine);
        p.setPen(dash);
        p.drawLine(a, b);
        dash.setColor(Qt::white);
        dash.setDashOffset(3);
        p.setPen(dash);
        p.drawLine(a, b);
        p.setPen(QPen(Qt::black, 2));
        p.setBrush(Qt::white);
        p.drawEllipse(a, 7, 7);
        p.drawEllipse(b, 7, 7);
        p.drawEllipse(m, 5, 5);
        p.setBrush(Qt::black);
        p.drawEllipse(a, 2, 2);
        p.setRenderHint(QPainter::Antialiasing, false);
        if (masks.intelligent)
            drawCross(p, imageToLogical(gradientPts[3].x(), gradientPts[3].y()));
    }

    if (state.showHint) {
        const QRectF boxRect(W / 2 - 170, H / 2 - 50, 340, 100);
        const int grey = 255 - checkerB;
        p.fillRect(boxRect, QColor(grey, grey, grey, 12));
        const QColor ink = checkerB < 128 ? QColor(255, 255, 255, 60) : QColor(0, 0, 0, 60);
        p.setFont(labelFont(14 * uiScale, false));
        p.setPen(ink);
        p.drawText(boxRect.adjusted(20, 0, -20, 0), Qt::AlignCenter | Qt::TextWordWrap,
                   tr("To begin, drag and drop image files here, or click to open photo load dialog"));
        QColor outline = ink;
        outline.setAlpha(30);
        p.setPen(QPen(outline, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(boxRect);
    }
}

rgbDouble_t mainImageArea::sample(QPointF logical, int source) const
{
    rgbDouble_t out;
    if (!project)
        return out;
    const int r = samplingRadius(s);
    const std::vector<double> weights = samplingWeights(r);
    const int side = 2 * r + 1;
    double sum[3] = {0, 0, 0}, wsum = 0;
    auto add = [&](double w, double a, double b, double c) {
        sum[0] += w * a;
        sum[1] += w * b;
        sum[2] += w * c;
        wsum += w;
    };
    if (source <= 1) {
        const previewWindow_t &win = project->view;
        const int px = int(logical.x() * dpr()), py = int(logical.y() * dpr());
        const int wx = std::max(0, int(originX() + 0.5)), wy = std::max(0, int(originY() + 0.5));
        const float *hdr = win.hdr;
        const uint8_t *tm = win.layerOutput[0];
        if ((source == 0 && !hdr) || (source == 1 && !tm))
            return out;
        for (int j = -r; j <= r; ++j)
            for (int i = -r; i <= r; ++i) {
                const int x = px + i, y = py + j;
                if (x < 0 || y < 0 || x >= devSize.width() || y >= devSize.height())
                    continue;
                if ((pixels[size_t(y) * size_t(devSize.width()) + size_t(x)] >> 24) != 1)
                    continue;
                const int u = x - wx, v = y - wy;
                if (u < 0 || v < 0 || u >= win.width || v >= win.height)
                    continue;
                const int64_t k = int64_t(v) * win.width + u;
                const double w = weights[size_t(j + r) * side + size_t(i + r)];
                if (source == 0)
                    add(w, hdr[k * 3], hdr[k * 3 + 1], hdr[k * 3 + 2]);
                else
                    add(w, tm[k * 3] / 255.0, tm[k * 3 + 1] / 255.0, tm[k * 3 + 2] / 255.0);
            }
    } else {
        int ix, iy;
        if (!viewToImage(logical, ix, iy))
            return out;
        const pyramid &src = source == 2 ? project->outputImage : project->hdrImage;
        if (src.levelCount < 1 || !src.levels[0].data || src.channels < 3)
            return out;
        const int w = src.levels[0].width, h = src.levels[0].height;
        for (int j = -r; j <= r; ++j)
            for (int i = -r; i <= r; ++i) {
                const int x = ix + i, y = iy + j;
                if (x < 0 || y < 0 || x >= w || y >= h)
                    continue;
                const int64_t k = (int64_t(y) * w + x) * src.channels;
                const double wt = weights[size_t(j + r) * side + size_t(i + r)];
                if (source == 2) {
                    const uint16_t *d = static_cast<const uint16_t *>(src.levels[0].data);
                    add(wt, d[k] / 65535.0, d[k + 1] / 65535.0, d[k + 2] / 65535.0);
                } else {
                    const float *d = static_cast<const float *>(src.levels[0].data);
                    add(wt, d[k], d[k + 1], d[k + 2]);
                }
            }
    }
    if (wsum > 0) {
        out.r = sum[0] / wsum;
        out.g = sum[1] / wsum;
        out.b = sum[2] / wsum;
        out.lum = 0.3086 * out.r + 0.6094 * out.g + 0.082 * out.b;
    }
    return out;
}
