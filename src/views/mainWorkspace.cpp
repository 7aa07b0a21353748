#include "views/mainWorkspace.h"

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "widgets/myQPushButton.h"
#include "widgets/slider.h"
#include "widgets/spinner.h"
#include "widgets/widgetSupport.h"
#include "widgets/zoomWidget.h"

#include <QApplication>
#include <QGridLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

namespace {

double settingsDpr()
{
    return widgetSupport::devicePixelRatio();
}

} // namespace

mainWorkspace::mainWorkspace(processingProject *proj, QWidget *parent) : QWidget(parent), project(proj)
{
    initWidgetResources();
    timer.setSingleShot(true);
    timer.setInterval(VIEW_REDRAW_DELAY_MS);
    connect(&timer, &QTimer::timeout, this, [this]() { redrawOnTimer(false); });

    hBar = new QScrollBar(Qt::Horizontal, this);
    vBar = new QScrollBar(Qt::Vertical, this);
    hBar->setTracking(true);
    vBar->setTracking(true);
    toggleButton = new QPushButton(this);
    toggleButton->setFlat(true);
    toggleButton->setIcon(QIcon(QStringLiteral(":/resources/toggle_bg.png")));
    toggleButton->setMaximumSize(14, 14);
    toggleButton->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    toggleButton->setFocusPolicy(Qt::NoFocus);
    toggleButton->setStyleSheet(QStringLiteral("QPushButton { margin: 1px; border-radius: 0px; }"));

    area = new mainImageArea(this, project);
    spin = new spinner(area);
    spin->hide();

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(area, 0, 0);
    grid->addWidget(vBar, 0, 1);
    grid->addWidget(hBar, 1, 0);
    grid->addWidget(toggleButton, 1, 1);

    connect(area, &mainImageArea::clickedEmpty, this, &mainWorkspace::clickedEmpty);
    connect(area, &mainImageArea::cropApplied, this, &mainWorkspace::cropApplied);
    connect(area, &mainImageArea::cropAreaChanged, this, &mainWorkspace::cropAreaChanged);
    connect(area, &mainImageArea::cropAbandoned, this, &mainWorkspace::cropAbandoned);
    connect(area, &mainImageArea::sampleTaken, this, &mainWorkspace::sampleTaken);
    connect(area, &mainImageArea::sampleAbandoned, this, &mainWorkspace::sampleAbandoned);
    connect(area, &mainImageArea::mouseMoved, this, &mainWorkspace::mouseMoved);
    connect(area, &mainImageArea::maskPaintingFinished, this, &mainWorkspace::maskPaintingFinished);
    connect(area, &mainImageArea::wheelChanged, this, &mainWorkspace::wheelChanged);
    connect(area, &mainImageArea::imagesDropped, this, &mainWorkspace::imagesDropped);
    connect(area, &mainImageArea::cropAngleChanged, this, &mainWorkspace::cropAngleChangedSlot);
    connect(area, &mainImageArea::distortionValueChanged, this, &mainWorkspace::distortionValueChangedSlot);
    connect(area, &mainImageArea::perspectiveValueChanged, this, &mainWorkspace::perspectiveValueChangedSlot);
    connect(area, &mainImageArea::dblClick, this, &mainWorkspace::zoomInOut);
    connect(area, &mainImageArea::offsetsChanged, this, [this](int ox, int oy) { setScrollBars(ox, oy); });
    connect(area, &mainImageArea::wheelChanged, this, &mainWorkspace::wheelScroll);
    connect(area, &mainImageArea::requestTimerStart, &timer, QOverload<>::of(&QTimer::start));
    connect(this, &mainWorkspace::wheelMoved, this, &mainWorkspace::moveWheel);
    connect(toggleButton, &QPushButton::clicked, this, &mainWorkspace::toggleBackgroundColor);
    connect(hBar, &QScrollBar::valueChanged, this, &mainWorkspace::scrollChanged);
    connect(vBar, &QScrollBar::valueChanged, this, &mainWorkspace::scrollChanged);

    applyBackground();
    clearImage();
}

void mainWorkspace::applyBackground()
{
    int index = VIEW_BACKGROUND_DEFAULT;
    if (optionsInstance) {
        index = backgroundIndex(optionsInstance->misc.backgroundColor);
        optionsInstance->misc.backgroundColor = index;
    }
    const uint32_t c = VIEW_BACKGROUND_COLORS[index];
    area->checkerA = uint8_t(c & 0xff);
    area->checkerB = uint8_t((c >> 8) & 0xff);
    area->flatTone = uint8_t((c >> 16) & 0xff);
}

void mainWorkspace::toggleBackgroundColor()
{
    if (optionsInstance)
        optionsInstance->misc.backgroundColor = backgroundIndex(optionsInstance->misc.backgroundColor + 1);
    applyBackground();
    area->renderView(true);
    area->repaint();
}

void mainWorkspace::paintEvent(QPaintEvent *event)
{
    applyBackground();
    QWidget::paintEvent(event);
}

void mainWorkspace::enterEvent(QEvent *event)
{
    area->hideMaskOverlay = false;
    if (area->maskPaintingOn && area->masks.overlayColor != 0) {
        area->renderView();
        area->repaint();
        if (area->masks.mode == maskPainter::MODE_GRADIENT)
            area->refreshGradientPreview();
    }
    QWidget::enterEvent(event);
}

void mainWorkspace::setImage(const pyramid &picture, const QString &imageName)
{
    area->picture = describePyramid(picture);
    name = imageName;
    const int w = area->imageWidth(), h = area->imageHeight();
    area->cx = w / 2;
    area->cy = h / 2;
    const bool present = area->picture.levelCount > 0 && area->picture.levels[0].data;
    area->imagePresent = present;
    if (!present) {
        area->renderView();
        area->repaint();
        positionX = hBar->value();
        positionY = vBar->value();
    }
    updateScrollRanges();
}

void mainWorkspace::clearImage()
{
    area->picture = pyramidView_t();
    area->cx = area->cy = 0;
    area->imagePresent = false;
    area->renderView();
    area->repaint();
    positionX = hBar->value();
    positionY = vBar->value();
    updateScrollRanges();
}

void mainWorkspace::updateScrollRanges()
{
    const double d = settingsDpr();
    area->limits = scrollLimits(area->s, area->cx, area->cy, area->imageWidth(), area->imageHeight(), area->width(),
                                area->height(), d);
    timer.stop();
    {
        const QSignalBlocker bh(hBar), bv(vBar);
        int lo, hi;
        scrollBarRange(area->limits.minX, area->limits.maxX, lo, hi);
        hBar->setRange(lo, hi);
        hBar->setPageStep((hi - lo) / 10);
        scrollBarRange(area->limits.minY, area->limits.maxY, lo, hi);
        vBar->setRange(lo, hi);
        vBar->setPageStep((hi - lo) / 10);
    }
    if (hBar->maximum() == 0 && vBar->maximum() == 0)
        positionX = positionY = 0;
    inScrollRangeUpdate = true;
    scrollChanged(0);
    inScrollRangeUpdate = false;
}

void mainWorkspace::applyScrollValues(bool storePositions)
{
    area->scrollX = hBar->value();
    area->scrollY = vBar->value();
    if (storePositions) {
        positionX = hBar->value();
        positionY = vBar->value();
    }
}

QRect mainWorkspace::imageRect() const
{
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    area->viewToImage(QPointF(0, 0), x0, y0);
    area->viewToImage(QPointF(area->width(), area->height()), x1, y1);
    const int left = std::max(0, x0), top = std::max(0, y0);
    const int right = std::min(x1, area->imageWidth() - 1) - 1;
    const int bottom = std::min(y1, area->imageHeight() - 1) - 1;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

double mainWorkspace::fitScale(int width, int height) const
{
    return fitZoomPercent(width, height, area->width(), area->height(), settingsDpr());
}

void mainWorkspace::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateScrollRanges();
    area->scrollX = area->scrollY = 0;
    const double fit = fitScale(area->imageWidth(), area->imageHeight());
    if (zoom) {
        // A fitted picture stays fitted: the docks and bars that come and go
        // around the view would otherwise leave it overflowing.
        const bool fitted = zoom->isFit();
        const int before = zoom->fitIndex();
        zoom->setScaleValue(fit);
        if (fitted && area->imagePresent && zoom->fitIndex() != before)
            zoom->setFit();
    }
    if (spin->isVisible())
        showSpinner();
    emit viewportChanged(imageRect());
}

void mainWorkspace::setScale(double s)
{
    if (!(s > 0.0))
        return;
    const double s0 = area->s;
    if (zoomAtPoint) {
        zoomAtPoint = false;
        positionX = zoomAtPointPosition(positionX, s0, s, area->cx, area->zoomPoint.x());
        positionY = zoomAtPointPosition(positionY, s0, s, area->cy, area->zoomPoint.y());
    } else if (s0 > 0.0) {
        positionX = positionX * s / s0;
        positionY = positionY * s / s0;
    }
    // The ranges of the new zoom first, so the bars can take the new positions.
    area->s = s;
    area->limits = scrollLimits(s, area->cx, area->cy, area->imageWidth(), area->imageHeight(), area->width(),
                                area->height(), settingsDpr());
    {
        const QSignalBlocker bh(hBar), bv(vBar);
        int lo, hi;
        scrollBarRange(area->limits.minX, area->limits.maxX, lo, hi);
        hBar->setRange(lo, hi);
        scrollBarRange(area->limits.minY, area->limits.maxY, lo, hi);
        vBar->setRange(lo, hi);
        hBar->setValue(int(positionX));
        vBar->setValue(int(positionY));
    }
    applyScrollValues(true);
    updateScrollRanges();
    if (area->maskPaintingOn)
        area->brushCursorOutdated = true;
    emit viewportChanged(imageRect());
}

void mainWorkspace::interactiveRedraw(bool resample)
{
    const bool liveWhileMoving = optionsInstance && optionsInstance->performance.liveToneMappingWhileZoomingAndPanning;
    if (liveWhileMoving) {
        redrawOnTimer(false);
        if (optionsInstance->performance.resample > 1 && optionsInstance->performance.liveToneMapping)
            timer.start();
        return;
    }
    area->renderView(true, false, resample);
    area->repaint();
    timer.start();
}

void mainWorkspace::scrollChanged(int)
{
    if (area->pixmapIsOutdated)
        return;
    if (project)
        project->view.ready = false;
    timer.stop();
    applyScrollValues(!inScrollRangeUpdate);
    emit viewportChanged(imageRect());
    interactiveRedraw(false);
}

void mainWorkspace::setScrollBars(int ox, int oy, bool)
{
    if (project)
        project->view.ready = false;
    timer.stop();
    {
        const QSignalBlocker bh(hBar), bv(vBar);
        hBar->setValue(ox);
        vBar->setValue(oy);
    }
    applyScrollValues(true);
    interactiveRedraw(false);
    emit viewportChanged(imageRect());
}

void mainWorkspace::redraw(bool getViewPort)
{
    area->renderView(false, false, getViewPort && toneMappedView);
    area->repaint();
}

void mainWorkspace::redrawOnTimer(bool forceDisableResample)
{
    area->adjusting = false;
    if (toneMappedView && project && project->prepared) {
        area->renderView(false, false, true);
        for (int l = 0; l < LAYER_COUNT; ++l) {
            if (project->layerEnabled[l])
                project->doToneMapping(&project->layerSettings[l], nullptr, true, forceDisableResample);
        }
    }
    if (area->maskPaintingOn && area->masks.mode == maskPainter::MODE_GRADIENT) {
        area->saveViewMaskToBackup();
        area->refreshGradientPreview();
    }
    area->renderView();
    area->repaint();
}

void mainWorkspace::applyCropping()
{
    emit cropApplied(area->cropArea);
}

void mainWorkspace::setCropSize(int width, int height, bool redrawNow)
{
    const int hw = width / 2, hh = height / 2;
    const int W = area->imageWidth(), H = area->imageHeight();
    cropRect r;
    r.left = W / 2 - hw;
    r.right = W / 2 + hw;
    r.top = H / 2 - hh;
    r.bottom = H / 2 + hh;
    r.width = r.right - r.left;
    r.height = r.bottom - r.top;
    area->cropArea = r;
    if (redrawNow) {
        area->renderView(false, true);
        area->repaint();
    }
}

void mainWorkspace::setGuidelines(bool checked, bool redrawNow)
{
    area->state.guidelines = checked;
    if (redrawNow) {
        area->renderView();
        area->repaint();
    }
}

void mainWorkspace::setParams(double cropAngle, double distortion, double perspectiveX, double perspectiveY,
                              bool redrawNow)
{
    area->cropAngle = cropAngle;
    area->distortion = distortion;
    area->perspectiveX = perspectiveX;
    area->perspectiveY = perspectiveY;
    if (redrawNow) {
        area->adjusting = true;
        interactiveRedraw(true);
    }
}

void mainWorkspace::cropAngleChangedSlot(double angle)
{
    // A drag shows its angle at once; the out-of-range end value only re-renders.
    if (angle >= 0)
        area->cropAngle = angle;
    interactiveRedraw(true);
    if (angle >= 0)
        emit cropAngleChanged(angle);
}

void mainWorkspace::distortionValueChangedSlot(double value)
{
    const bool valid = std::fabs(value) <= 1.0;
    if (valid)
        area->distortion = value;
    interactiveRedraw(true);
    if (valid)
        emit distortionValueChanged(value);
}

void mainWorkspace::perspectiveValueChangedSlot(double valueX, double valueY)
{
    const bool valid = std::fabs(valueX) <= 1.0 && std::fabs(valueY) <= 1.0;
    if (valid) {
        area->perspectiveX = valueX;
        area->perspectiveY = valueY;
    }
    interactiveRedraw(true);
    if (valid)
        emit perspectiveValueChanged(valueX, valueY);
}

void mainWorkspace::wheelScroll(int dir, QPoint, int orientation)
{
    if (!optionsInstance || !optionsInstance->misc.zoomWithCtrl
        || QApplication::keyboardModifiers() == Qt::ControlModifier)
        return;
    // This wheel step scrolls; it must not leave a zoom-at-point request behind.
    zoomAtPoint = false;
    QScrollBar *bar = orientation == Qt::Vertical ? vBar : hBar;
    const int length = orientation == Qt::Vertical ? height() : width();
    bar->setValue(wheelScrollValue(bar->value(), dir, bar->minimum(), bar->maximum(), area->s, length));
}

void mainWorkspace::showLayerMasks(bool disable)
{
    area->hideMaskOverlay = disable;
    if (area->maskPaintingOn && area->masks.overlayColor != 0) {
        area->renderView();
        repaint();
        if (area->masks.mode == maskPainter::MODE_GRADIENT)
            area->refreshGradientPreview();
    }
}

void mainWorkspace::setViewport(QRect viewRect, bool)
{
    setScrollBars(viewportOffset(viewRect.left(), viewRect.right(), area->cx, area->s),
                  viewportOffset(viewRect.top(), viewRect.bottom(), area->cy, area->s));
}

void mainWorkspace::moveWheel(QRect viewRect, QWheelEvent e)
{
    setUpdatesEnabled(false);
    setViewport(viewRect);
    area->moveWheel(viewRect, e);
    setUpdatesEnabled(true);
    repaint();
}

void mainWorkspace::currentLayerChangedSlot(int)
{
    if (area->state.currentLayer > 0)
        area->saveViewMaskToBackup();
}

void mainWorkspace::zoomInOut(int, int)
{
    if (zoom) {
        myQSlider *slider = zoom->zoomSlider();
        if (slider->value() == zoom->fitIndex()) {
            setUpdatesEnabled(false);
            zoomAtPoint = true;
            setScale(1.0);
            slider->setValue(zoom->index100());
            zoom->updateZoom(zoom->index100());
            setUpdatesEnabled(true);
        } else {
            slider->setValue(zoom->fitIndex());
            zoom->updateZoom(zoom->fitIndex());
        }
        return;
    }
    // Without a zoom control: toggle between the fit zoom and 100 %.
    const double fit = fitScale(area->imageWidth(), area->imageHeight()) / 100.0;
    if (area->s != fit) {
        setScale(fit);
    } else {
        zoomAtPoint = true;
        setScale(1.0);
    }
}

void mainWorkspace::setPaintMode(bool paint, bool allowed)
{
    area->maskPaintingOn = paint;
    area->paintingAllowed = allowed;
    if (paint) {
        area->masks.rebuildStamps(area->s);
        area->masks.brushCursor = area->masks.outlineCursor();
        area->masks.eraserCursor = area->masks.brushCursor;
        area->brushCursorOutdated = false;
    }
}

void mainWorkspace::setSampleMode(int mode)
{
    area->sampleModeValue = mode;
    if (mode != 0)
        area->setFocus();
    else
        area->setCursor(Qt::OpenHandCursor);
}

void mainWorkspace::showSpinner()
{
    spin->adjustSize();
    spin->move((area->width() - spin->width()) / 2, (area->height() - spin->height()) / 2);
    spin->show();
    spin->raise();
}
