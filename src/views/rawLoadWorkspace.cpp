#include "views/rawLoadWorkspace.h"

#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "project/parallelRanges.h"
#include "project/pyramid.h"
#include "widgets/spinner.h"
#include "widgets/widgetSupport.h"
#include "widgets/zoomWidget.h"

#include <QApplication>
#include <QBitmap>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

const uint32_t RAW_VIEW_BACKGROUNDS[8] = {0x403028, 0x402828, 0x201510, 0x201010,
                                          0xC0A0A8, 0xC0A8A8, 0xF0D0D8, 0xF0D8D8};

namespace {

double settingsDpr()
{
    return optionsInstance && optionsInstance->devicePixelRatio > 0 ? optionsInstance->devicePixelRatio : 1.0;
}

inline uint32_t grey(uint8_t v)
{
    return 0xff000000u | uint32_t(v) << 16 | uint32_t(v) << 8 | v;
}

// One sample of a level as an 8-bit value.
inline double sampleValue(const rawPreviewDescriptor_t &img, const void *data, size_t index)
{
    switch (img.bytesPerSample) {
    case 1:
        return static_cast<const uint8_t *>(data)[index];
    case 2:
        return static_cast<const uint16_t *>(data)[index] >> 8;
    default: {
        const double v = std::trunc(double(static_cast<const float *>(data)[index]) * 2.0 * 255.0);
        return v > 255.0 ? 255.0 : v < 0.0 ? 0.0 : v;
    }
    }
}

} // namespace

void rawPreviewDrawRows(const _drawThreadParams_t &p)
{
    const rawPreviewDescriptor_t &img = *p.image;
    const double originX = std::floor(p.W * 0.5 - p.cx * p.s - p.offsetX);
    const double originY = std::floor(p.H * 0.5 - p.cy * p.s - p.offsetY);
    const int w0 = img.levelCount > 0 ? img.levels[0].width : 0;
    const int h0 = img.levelCount > 0 ? img.levels[0].height : 0;

    // The level that matches the zoom, chosen once per stripe.
    int level = 0, g = 1;
    const int m = std::max(1, int(1.0 / p.s));
    while (m / g >= 2 && level + 1 < img.levelCount) {
        ++level;
        g *= 2;
        if (!img.levels[level].present) {
            --level;
            g /= 2;
            break;
        }
    }
    bool bilinear = p.bilinear;
    if (img.levelCount > 1 && !img.levels[1].present && p.s < 1.0)
        bilinear = false;
    const auto &lv = img.levels[level];

    for (int r = p.rowStart; r < p.rowEnd; ++r) {
        uint32_t *out = p.rows + size_t(r) * p.W;
        const double y = (r - originY) / p.s;
        for (int c = 0; c < p.W; ++c) {
            const double x = (c - originX) / p.s;
            if (x < 0 || y < 0 || x >= w0 || y >= h0) {
                const bool even = ((c >> p.checkerShift) & 1) == ((r >> p.checkerShift) & 1);
                out[c] = grey(even ? p.background[1] : p.background[0]);
                continue;
            }
            if (!p.hasImage || !lv.data || lv.width <= 0 || lv.height <= 0) {
                out[c] = grey(p.background[2]);
                continue;
            }
            const double lx = x / g, ly = y / g;
            double rgb[3];
            const int ix = int(lx), iy = int(ly);
            if (bilinear && ix + 1 < lv.width && iy + 1 < lv.height) {
                const double fx = lx - ix, fy = ly - iy;
                for (int k = 0; k < 3; ++k) {
                    const size_t i00 = (size_t(iy) * lv.width + ix) * 3 + k;
                    const size_t i10 = i00 + 3, i01 = i00 + size_t(lv.width) * 3, i11 = i01 + 3;
                    rgb[k] = (sampleValue(img, lv.data, i00) * (1 - fx) + sampleValue(img, lv.data, i10) * fx) * (1 - fy) +
                             (sampleValue(img, lv.data, i01) * (1 - fx) + sampleValue(img, lv.data, i11) * fx) * fy;
                }
            } else {
                const int nx = std::min(lv.width - 1, std::max(0, int(std::lround(lx))));
                const int ny = std::min(lv.height - 1, std::max(0, int(std::lround(ly))));
                for (int k = 0; k < 3; ++k)
                    rgb[k] = sampleValue(img, lv.data, (size_t(ny) * lv.width + nx) * 3 + k);
            }
            out[c] = 0xff000000u | uint32_t(std::min(255.0, rgb[0])) << 16 | uint32_t(std::min(255.0, rgb[1])) << 8 |
                     uint32_t(std::min(255.0, rgb[2]));
        }
    }
}

// ---------------------------------------------------------------- rawLoadArea

rawLoadArea::rawLoadArea(rawLoadWorkspace *owner) : QWidget(owner), workspace(owner)
{
    initWidgetResources();
    setMouseTracking(true);
    liveAntiAliasing = optionsInstance && optionsInstance->performance.liveAntiAliasing;
    const bool hi = settingsDpr() != 1.0;
    const QBitmap bitmap(hi ? ":/resources/cursors/eyedropper@2x.bmp" : ":/resources/cursors/eyedropper.bmp");
    const QBitmap mask(hi ? ":/resources/cursors/eyedropper_mask@2x.bmp" : ":/resources/cursors/eyedropper_mask.bmp");
    if (!bitmap.isNull() && !mask.isNull())
        eyedropperCursor = QCursor(bitmap, mask, hi ? 36 : 17, hi ? 33 : 15);
    else
        eyedropperCursor = QCursor(Qt::CrossCursor);
}

double rawLoadArea::dpr() const
{
    return settingsDpr();
}

double rawLoadArea::originX() const
{
    return std::floor(renderSize.width() * 0.5 - cx * s - offsetX);
}

double rawLoadArea::originY() const
{
    return std::floor(renderSize.height() * 0.5 - cy * s - offsetY);
}

bool rawLoadArea::viewToImage(QPoint view, int &ix, int &iy) const
{
    if (!imagePresent || image.levelCount == 0)
        return false;
    ix = int((view.x() * dpr() - originX()) / s + 0.5);
    iy = int((view.y() * dpr() - originY()) / s + 0.5);
    return ix >= 0 && iy >= 0 && ix < image.levels[0].width && iy < image.levels[0].height;
}

QPoint rawLoadArea::imageToView(int ix, int iy) const
{
    return QPoint(int((originX() + ix * s + 0.5) / dpr()), int((originY() + iy * s + 0.5) / dpr()));
}

void rawLoadArea::makeBuffers()
{
    const double d = dpr();
    renderSize = QSize(std::max(1, int(width() * d)), std::max(1, int(height() * d)));
    renderPicture = QImage(renderSize, QImage::Format_RGB32);
    renderPicture.setDevicePixelRatio(d);
    rowBuffer.assign(size_t(renderSize.width()) * renderSize.height(), 0);
}

void rawLoadArea::renderView(bool interactive)
{
    if (renderPicture.isNull() || renderSize != QSize(int(width() * dpr()), int(height() * dpr())))
        return;
    const int W = renderSize.width(), H = renderSize.height();
    const int n = std::max(1, std::min(H, idealThreadCount(false)));
    _drawThreadParams_t base;
    base.rows = rowBuffer.data();
    base.W = W;
    base.H = H;
    base.image = &image;
    base.s = s;
    base.cx = cx;
    base.cy = cy;
    base.offsetX = offsetX;
    base.offsetY = offsetY;
    std::copy(background, background + 3, base.background);
    base.hasImage = imagePresent;
    base.bilinear = !(interactive && !liveAntiAliasing);
    base.checkerShift = dpr() > 1.0 ? 5 : 4;
    parallelRanges(H, n,
                   [&base](const range_t &r) {
                       _drawThreadParams_t p = base;
                       p.rowStart = int(r.first);
                       p.rowEnd = int(r.end);
                       return p;
                   },
                   rawPreviewDrawRows);
    for (int y = 0; y < H; ++y)
        memcpy(renderPicture.scanLine(y), rowBuffer.data() + size_t(y) * W, size_t(W) * 4);
    drawSampleSquare();
    pixmap = QPixmap::fromImage(renderPicture);
}

void rawLoadArea::drawSampleSquare()
{
    if (!eyedropper || !markerShown || sampleX < 0 || sampleY < 0)
        return;
    const int d = int(sampleBoxSize / 2.0 * s + 0.5);
    const QPoint v = imageToView(sampleX, sampleY);
    QPainter painter(&renderPicture);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(Qt::white);
    painter.drawRect(v.x() - d - 1, v.y() - d - 1, 2 * d + 2, 2 * d + 2);
    painter.setPen(Qt::black);
    painter.drawRect(v.x() - d, v.y() - d, 2 * d, 2 * d);
}

void rawLoadArea::paintEvent(QPaintEvent *)
{
    if (rebuildNeeded) {
        makeBuffers();
        renderView(true);
        rebuildNeeded = false;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, pixmap);
}

void rawLoadArea::resizeEvent(QResizeEvent *event)
{
    rebuildNeeded = true;
    QWidget::resizeEvent(event);
}

void rawLoadArea::mousePressEvent(QMouseEvent *event)
{
    if (!imagePresent)
        return;
    if (eyedropper && event->button() == Qt::LeftButton) {
        int ix = 0, iy = 0;
        if (viewToImage(event->pos(), ix, iy)) {
            sampleX = ix;
            sampleY = iy;
        }
        emit sampleTaken();
        return;
    }
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        dragging = true;
        pressPoint = QPoint(int(event->pos().x() * dpr()), int(event->pos().y() * dpr()));
        pressOffsetX = offsetX;
        pressOffsetY = offsetY;
        setCursor(Qt::OpenHandCursor);
        QApplication::processEvents();
    }
}

void rawLoadArea::mouseMoveEvent(QMouseEvent *event)
{
    int ix = 0, iy = 0;
    lastInside = viewToImage(event->pos(), ix, iy);
    lastImageX = ix;
    lastImageY = iy;
    if (dragging)
        setCursor(Qt::OpenHandCursor);
    else if (!lastInside)
        setCursor(Qt::ArrowCursor);
    else
        setCursor(eyedropper ? eyedropperCursor : QCursor(Qt::ArrowCursor));
    if (dragging)
        emit offsetsChanged(int(pressPoint.x() + pressOffsetX - event->pos().x() * dpr()),
                            int(pressPoint.y() + pressOffsetY - event->pos().y() * dpr()));
}

void rawLoadArea::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
    setCursor(Qt::ArrowCursor);
    emit clicked();
}

void rawLoadArea::mouseDoubleClickEvent(QMouseEvent *)
{
    if (lastInside)
        emit dblClick(lastImageX, lastImageY);
}

void rawLoadArea::wheelEvent(QWheelEvent *event)
{
    workspace->zoomAtPoint = true;
    int ix = 0, iy = 0;
    viewToImage(event->position().toPoint(), ix, iy);
    lastImageX = ix;
    lastImageY = iy;
    const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    if (delta != 0)
        emit wheelChanged(delta > 0 ? 4 : -4, event->position().toPoint(),
                          event->angleDelta().y() != 0 ? Qt::Vertical : Qt::Horizontal);
}

// ----------------------------------------------------------- rawLoadWorkspace

rawLoadWorkspace::rawLoadWorkspace(QWidget *parent) : QWidget(parent)
{
    initWidgetResources();
    redrawTimer.setSingleShot(true);
    redrawTimer.setInterval(200);
    hBar = new QScrollBar(Qt::Horizontal);
    vBar = new QScrollBar(Qt::Vertical);
    hBar->setTracking(true);
    vBar->setTracking(true);
    toggleButton = new QPushButton;
    toggleButton->setFlat(true);
    toggleButton->setIcon(QIcon(":/resources/toggle_bg.png"));
    toggleButton->setMaximumSize(14, 14);
    toggleButton->setFocusPolicy(Qt::NoFocus);
    area = new rawLoadArea(this);
    spin = new spinner(this);
    spin->hide();

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(area, 0, 0);
    grid->addWidget(vBar, 0, 1);
    grid->addWidget(hBar, 1, 0);
    grid->addWidget(toggleButton, 1, 1);

    applyBackground(optionsInstance ? optionsInstance->misc.backgroundColor : 0);

    connect(toggleButton, &QPushButton::clicked, this, &rawLoadWorkspace::toggleBackgroundColor);
    connect(hBar, &QScrollBar::valueChanged, this, &rawLoadWorkspace::scrollChanged);
    connect(vBar, &QScrollBar::valueChanged, this, &rawLoadWorkspace::scrollChanged);
    connect(area, &rawLoadArea::offsetsChanged, this, &rawLoadWorkspace::setScrollBars);
    connect(area, &rawLoadArea::wheelChanged, this, &rawLoadWorkspace::wheelChanged);
    connect(area, &rawLoadArea::wheelChanged, this, &rawLoadWorkspace::wheelScroll);
    connect(area, &rawLoadArea::dblClick, this, &rawLoadWorkspace::zoomInOut);
    connect(&redrawTimer, &QTimer::timeout, this, &rawLoadWorkspace::redrawOnTimer);
    connect(area, &rawLoadArea::clicked, this, &rawLoadWorkspace::clicked);
    connect(area, &rawLoadArea::sampleTaken, this, &rawLoadWorkspace::sampleTaken);
    refreshView();
}

void rawLoadWorkspace::applyBackground(int index)
{
    index = ((index % 8) + 8) % 8;
    const uint32_t c = RAW_VIEW_BACKGROUNDS[index];
    area->background[0] = uint8_t(c & 0xff);
    area->background[1] = uint8_t((c >> 8) & 0xff);
    area->background[2] = uint8_t((c >> 16) & 0xff);
}

void rawLoadWorkspace::paintEvent(QPaintEvent *event)
{
    if (optionsInstance) {
        optionsInstance->misc.backgroundColor = ((optionsInstance->misc.backgroundColor % 8) + 8) % 8;
        applyBackground(optionsInstance->misc.backgroundColor);
    }
    QWidget::paintEvent(event);
}

int rawLoadWorkspace::fitScale() const
{
    if (!area->imagePresent || area->image.levelCount == 0)
        return 100;
    const double d = settingsDpr();
    const int w = area->image.levels[0].width, h = area->image.levels[0].height;
    return std::min(int(area->width() * 100 * d / (w + 10)), int(area->height() * 100 * d / (h + 10)));
}

void rawLoadWorkspace::updateScrollRanges()
{
    const double d = settingsDpr();
    const int w = area->image.levelCount ? area->image.levels[0].width : 0;
    const int h = area->image.levelCount ? area->image.levels[0].height : 0;
    const double hx = area->width() * d * 0.5, hy = area->height() * d * 0.5;
    const int minX = int(hx - area->cx * area->s + 0.5), maxX = -int(hx - (w - area->cx) * area->s + 0.5);
    const int minY = int(hy - area->cy * area->s + 0.5), maxY = -int(hy - (h - area->cy) * area->s + 0.5);
    {
        const QSignalBlocker bh(hBar), bv(vBar);
        if (minX < maxX) {
            hBar->setRange(minX - 20, maxX + 20);
            hBar->setPageStep((maxX - minX) / 10);
        } else {
            hBar->setRange(0, 0);
        }
        if (minY < maxY) {
            vBar->setRange(minY - 20, maxY + 20);
            vBar->setPageStep((maxY - minY) / 10);
        } else {
            vBar->setRange(0, 0);
        }
    }
    if (maxX == 0 && maxY == 0)
        positionX = positionY = 0.0;
    if (area->rebuildNeeded)
        return;
    redrawTimer.stop();
    area->offsetX = hBar->value();
    area->offsetY = vBar->value();
    area->renderView(true);
    area->update();
    if (!area->liveAntiAliasing)
        redrawTimer.start();
}

void rawLoadWorkspace::scrollChanged(int)
{
    positionX = hBar->value();
    positionY = vBar->value();
    if (area->rebuildNeeded)
        return;
    redrawTimer.stop();
    area->offsetX = hBar->value();
    area->offsetY = vBar->value();
    area->renderView(true);
    area->update();
    if (!area->liveAntiAliasing)
        redrawTimer.start();
}

void rawLoadWorkspace::setScrollBars(int ox, int oy)
{
    {
        const QSignalBlocker bh(hBar), bv(vBar);
        hBar->setValue(ox);
        vBar->setValue(oy);
    }
    scrollChanged(0);
}

void rawLoadWorkspace::redrawOnTimer()
{
    area->renderView(false);
    area->update();
}

void rawLoadWorkspace::setScale(double s)
{
    if (s <= 0)
        return;
    const double s0 = area->s;
    if (zoomAtPoint) {
        positionX = (s0 - s) * area->cx + positionX + (s - s0) * area->lastImageX;
        positionY = (s0 - s) * area->cy + positionY + (s - s0) * area->lastImageY;
        zoomAtPoint = false;
    } else {
        positionX = positionX * s / s0;
        positionY = positionY * s / s0;
    }
    area->s = s;
    updateScrollRanges();
    {
        const QSignalBlocker bh(hBar), bv(vBar);
        hBar->setValue(int(positionX));
        vBar->setValue(int(positionY));
    }
    area->offsetX = hBar->value();
    area->offsetY = vBar->value();
    updateScrollRanges();
}

void rawLoadWorkspace::enableEyedropper(bool en)
{
    area->enableEyedropper(en);
}

void rawLoadWorkspace::zoomInOut(int x, int y)
{
    if (!zoom)
        return;
    if (zoom->isFit()) {
        zoomAtPoint = true;
        area->lastImageX = x;
        area->lastImageY = y;
        zoom->set100();
    } else {
        zoom->setFit();
    }
    area->userZoomed = true;
}

void rawLoadWorkspace::wheelScroll(int dir, QPoint, int orientation)
{
    if (!optionsInstance || !optionsInstance->misc.zoomWithCtrl ||
        QApplication::keyboardModifiers() == Qt::ControlModifier)
        return;
    QScrollBar *bar = orientation == Qt::Vertical ? vBar : hBar;
    const double L = orientation == Qt::Vertical ? height() : width();
    const int sign = dir > 0 ? 1 : (dir < 0 ? -1 : 0);
    bar->setValue(int(bar->value() - sign * (bar->maximum() - bar->minimum()) / 20.0 / area->s * L / 1000.0));
}

void rawLoadWorkspace::toggleBackgroundColor()
{
    int index = optionsInstance ? optionsInstance->misc.backgroundColor : 0;
    index = (index + 1) % 8;
    if (optionsInstance)
        optionsInstance->misc.backgroundColor = index;
    applyBackground(index);
    area->renderView(true);
    area->update();
}

void rawLoadWorkspace::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateScrollRanges();
    area->offsetX = area->offsetY = 0;
    if (zoom)
        zoom->setScaleValue(fitScale());
    if (spin->isVisible())
        showSpinner(true);
}

void rawLoadWorkspace::showSpinner(bool on)
{
    if (on) {
        spin->adjustSize();
        spin->move(area->x() + (area->width() - spin->width()) / 2, area->y() + (area->height() - spin->height()) / 2);
        spin->raise();
        spin->show();
    } else {
        spin->hide();
    }
}

void rawLoadWorkspace::setImage(const pyramid &preview)
{
    rawPreviewDescriptor_t d;
    d.levelCount = std::min(preview.levelCount, 16);
    d.bytesPerSample = preview.bytesPerSample;
    for (int i = 0; i < d.levelCount; ++i) {
        d.levels[i].present = preview.levels[i].valid && preview.levels[i].data;
        d.levels[i].width = preview.levels[i].width;
        d.levels[i].height = preview.levels[i].height;
        d.levels[i].data = preview.levels[i].data;
    }
    area->image = d;
    const bool pixels = d.levelCount > 0 && d.levels[0].data && d.levels[0].width > 0 && d.levels[0].height > 0;
    area->cx = pixels ? d.levels[0].width / 2 : 0;
    area->cy = pixels ? d.levels[0].height / 2 : 0;
    area->imagePresent = pixels;
    updateScrollRanges();
    if (!pixels) {
        area->renderView(true);
        area->update();
        positionX = hBar->value();
        positionY = vBar->value();
    }
}

void rawLoadWorkspace::refreshView()
{
    area->image = rawPreviewDescriptor_t();
    area->cx = area->cy = 0;
    area->sampleX = area->sampleY = -1;
    area->sampleBoxSize = 40;
    area->imagePresent = false;
    updateScrollRanges();
    area->renderView(true);
    area->update();
    positionX = hBar->value();
    positionY = vBar->value();
}
