// mainImageArea: mask painting input (brush, eraser, fill, gradient).
// Every edit goes into the current layer's full-resolution mask (level 0 of
// its pyramid) and into its view mask (the visible window), so the view
// follows at once while the full-resolution mask stays exact.

#include "views/mainImageArea.h"

#include "app/debugLog.h"
#include "app/utils.h"
#include "project/processingProject.h"
#include "views/mainWorkspace.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The full-resolution colour image when it matches the mask's size.
const float *fullColours(const processingProject *p, int w, int h)
{
    if (p->hdrImage.levelCount < 1 || !p->hdrImage.levels[0].data || p->hdrImage.channels != 3
        || p->hdrImage.bytesPerSample != 4 || p->hdrImage.levels[0].width != w || p->hdrImage.levels[0].height != h)
        return nullptr;
    return static_cast<const float *>(p->hdrImage.levels[0].data);
}

} // namespace

uint8_t *mainImageArea::currentViewMask() const
{
    const int l = state.currentLayer;
    if (!project || l <= 0 || l >= LAYER_COUNT)
        return nullptr;
    return project->view.layerMask[l];
}

void mainImageArea::saveViewMaskToBackup()
{
    uint8_t *mask = currentViewMask();
    const previewWindow_t &win = project ? project->view : previewWindow_t();
    if (!mask || !win.maskBackup || win.width <= 0 || win.height <= 0)
        return;
    std::memcpy(win.maskBackup, mask, size_t(win.width) * size_t(win.height));
}

void mainImageArea::updateOverlayVisibility(bool allow)
{
    const bool visible = allow && masks.mode == maskPainter::MODE_GRADIENT && imagePresent && state.currentLayer > 0
                         && gradientM >= 0.0;
    applyButton->setVisible(visible);
}

int mainImageArea::gradientHit(QPointF logical) const
{
    if (gradientM < 0.0)
        return 0;
    const double tol = 8.0 * dpr();
    const double x = logical.x() * dpr(), y = logical.y() * dpr();
    for (int i = 4; i >= 1; --i) {
        if (i == 4 && !masks.intelligent)
            continue;
        const QPoint &pt = gradientPts[i - 1];
        const double px = pt.x() * s + originX(), py = pt.y() * s + originY();
        if (std::fabs(px - x) <= tol && std::fabs(py - y) <= tol)
            return i;
    }
    return 0;
}

bool mainImageArea::overGradientPoint(QPointF logical) const
{
    return gradientHit(logical) != 0;
}

void mainImageArea::refreshGradientPreview()
{
    uint8_t *mask = currentViewMask();
    if (!mask || !project)
        return;
    const previewWindow_t &win = project->view;
    if (!win.maskBackup || win.width <= 0 || win.height <= 0)
        return;
    if (gradientM < 0.0) {
        std::memcpy(mask, win.maskBackup, size_t(win.width) * size_t(win.height));
        return;
    }
    int ax, ay, bx, by;
    imageToWindow(gradientPts[0].x(), gradientPts[0].y(), ax, ay);
    imageToWindow(gradientPts[1].x(), gradientPts[1].y(), bx, by);
    const double ref[3] = {reference[0], reference[1], reference[2]};
    gradientIntoMask(mask, win.maskBackup, win.width, win.height, QPointF(ax, ay), QPointF(bx, by), gradientM,
                     masks.intelligent ? win.hdr : nullptr, ref, masks.threshold,
                     idealThreadCount(project->batchRunning));
}

void mainImageArea::refreshMasks(bool full)
{
    if (masks.mode == maskPainter::MODE_GRADIENT) {
        if (full)
            saveViewMaskToBackup();
        refreshGradientPreview();
    } else {
        finishGradient(false, -1);
    }
    updateOverlayVisibility();
    renderView(true);
    repaint();
}

void mainImageArea::finishGradient(bool apply, int layerId)
{
    if (!imagePresent || !project || gradientM < 0.0) {
        updateOverlayVisibility();
        return;
    }
    const int layer = layerId < 0 ? state.currentLayer : layerId;
    debugLog("Finish mask gradient, layerId = %d (apply=%d)\n", layerId, int(apply));
    if (apply && layer > 0 && layer < LAYER_COUNT) {
        pyramid &mask = project->layerMasks[layer];
        if (mask.levelCount > 0 && mask.levels[0].data) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const int w = mask.levels[0].width, h = mask.levels[0].height;
            const double fx = imageWidth() > 0 ? double(w) / imageWidth() : 1.0;
            const double fy = imageHeight() > 0 ? double(h) / imageHeight() : 1.0;
            uint8_t *m = static_cast<uint8_t *>(mask.levels[0].data);
            const double ref[3] = {reference[0], reference[1], reference[2]};
            gradientIntoMask(m, m, w, h, QPointF(gradientPts[0].x() * fx, gradientPts[0].y() * fy),
                             QPointF(gradientPts[1].x() * fx, gradientPts[1].y() * fy), gradientM,
                             masks.intelligent ? fullColours(project, w, h) : nullptr, ref, masks.threshold,
                             idealThreadCount(project->batchRunning));
            mask.buildLevelsFrom(0);
            QApplication::restoreOverrideCursor();
        }
    }
    gradientDrag = 0;
    gradientM = -1.0;
    renderView(false, false, true, layer);
    renderView(true);
    repaint();
    saveViewMaskToBackup();
    updateOverlayVisibility();
    if (apply)
        emit maskPaintingFinished();
}

void mainImageArea::paintPress(QMouseEvent *event)
{
    if (!paintingActive() || panning || !project)
        return;
    int ix = 0, iy = 0;
    const bool inside = viewToImage(event->localPos(), ix, iy);
    const bool gradient = masks.mode == maskPainter::MODE_GRADIENT;
    if (!inside && !gradient)
        return;
    if (brushCursorOutdated || masks.stampZoom() != s) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        masks.rebuildStamps(s);
        masks.brushCursor = masks.outlineCursor();
        masks.eraserCursor = masks.brushCursor;
        brushCursorOutdated = false;
        QApplication::restoreOverrideCursor();
    }
    auto takeReference = [this](QPointF logical) {
        const rgbDouble_t v = sample(logical, 0);
        reference[0] = v.r;
        reference[1] = v.g;
        reference[2] = v.b;
    };
    if (gradient) {
        const int hit = gradientHit(event->localPos());
        if (hit == 4 || (gradientM < 0.0 && hit == 0))
            takeReference(event->localPos());
        if (gradientDrag != 0) {
            gradientPts[gradientDrag - 1] = QPoint(ix, iy);
        } else if (hit != 0) {
            gradientDrag = hit;
        } else {
            for (QPoint &p : gradientPts)
                p = QPoint(ix, iy);
            gradientPts[3] = QPoint(std::min(std::max(ix, 0), imageWidth() - 1),
                                    std::min(std::max(iy, 0), imageHeight() - 1));
            gradientM = 0.5;
            gradientDrag = 2;
            renderView(false, false, true, state.currentLayer);
            saveViewMaskToBackup();
        }
        updateOverlayVisibility();
        return;
    }
    takeReference(event->localPos());
    strokeStart = lastImagePoint = QPoint(ix, iy);
    int wx = 0, wy = 0;
    imageToWindow(ix, iy, wx, wy);
    lastWindowPoint = QPoint(wx, wy);
    if (masks.mode == maskPainter::MODE_FILL) {
        fillPending = true;
    } else {
        strokeActive = true;
        firstStampPending = true;
    }
}

void mainImageArea::strokeTo(QMouseEvent *event)
{
    int ix = mouseX, iy = mouseY;
    viewToImage(event->localPos(), ix, iy);
    int wx = 0, wy = 0;
    imageToWindow(ix, iy, wx, wy);
    const QPoint win(wx, wy);
    const QPoint d = win - lastWindowPoint;
    const double distance = std::hypot(double(d.x()), double(d.y()));
    if (!(distance > masks.viewStamp().stride / 6) && !firstStampPending)
        return;
    const int layer = state.currentLayer;
    if (layer <= 0 || layer >= LAYER_COUNT)
        return;
    const bool erase = masks.mode == maskPainter::MODE_ERASER || (event->modifiers() & Qt::ControlModifier);
    const bool intelligent = masks.intelligent && !(event->modifiers() & Qt::AltModifier);
    const double ref[3] = {reference[0], reference[1], reference[2]};
    const int n = idealThreadCount(project->batchRunning);

    pyramid &full = project->layerMasks[layer];
    if (full.levelCount > 0 && full.levels[0].data) {
        const int w = full.levels[0].width, h = full.levels[0].height;
        const double fx = imageWidth() > 0 ? double(w) / imageWidth() : 1.0;
        const double fy = imageHeight() > 0 ? double(h) / imageHeight() : 1.0;
        maskTarget_t t{static_cast<uint8_t *>(full.levels[0].data), w, h,
                       intelligent ? fullColours(project, w, h) : nullptr};
        paintSegment(t, masks.fullStamp(), QPoint(int(lastImagePoint.x() * fx), int(lastImagePoint.y() * fy)),
                     QPoint(int(ix * fx), int(iy * fy)), erase, masks.opacity, ref, masks.threshold, n);
    }
    previewWindow_t &view = project->view;
    if (view.layerMask[layer] && view.width > 0 && view.height > 0) {
        maskTarget_t t{view.layerMask[layer], view.width, view.height, intelligent ? view.hdr : nullptr};
        paintSegment(t, masks.viewStamp(), lastWindowPoint, win, erase, masks.opacity, ref, masks.threshold, n);
    }
    lastImagePoint = QPoint(ix, iy);
    lastWindowPoint = win;
    renderView(true);
    repaint();
    firstStampPending = false;
}

void mainImageArea::paintMove(QMouseEvent *event)
{
    if (!paintingActive() || !project)
        return;
    if (strokeActive) {
        strokeTo(event);
        return;
    }
    if (masks.mode != maskPainter::MODE_GRADIENT || gradientDrag == 0)
        return;
    int ix = mouseX, iy = mouseY;
    viewToImage(event->localPos(), ix, iy);
    const QPoint p(ix, iy);
    if (gradientDrag == 4) {
        gradientPts[3] = QPoint(std::min(std::max(ix, 0), imageWidth() - 1), std::min(std::max(iy, 0), imageHeight() - 1));
        const rgbDouble_t v = sample(imageToLogical(gradientPts[3].x(), gradientPts[3].y()), 0);
        reference[0] = v.r;
        reference[1] = v.g;
        reference[2] = v.b;
    } else {
        gradientPts[gradientDrag - 1] = p;
        if (gradientDrag == 3)
            gradientM = gradientMiddle(gradientPts[0], gradientPts[1], p);
        gradientPts[2] = gradientHandlePoint(gradientPts[0], gradientPts[1], gradientM);
    }
    refreshGradientPreview();
    renderView(true);
    repaint();
}

void mainImageArea::paintRelease(QMouseEvent *event)
{
    if (!project)
        return;
    if (gradientDrag != 0) {
        gradientDrag = 0;
        const QPoint d = gradientPts[1] - gradientPts[0];
        if (std::hypot(double(d.x()), double(d.y())) < 1.0)
            gradientM = -1.0;
        refreshGradientPreview();
        renderView(true);
        updateOverlayVisibility();
        repaint();
        return;
    }
    if (!strokeActive && !fillPending)
        return;
    const int layer = state.currentLayer;
    if (fillPending && layer > 0 && layer < LAYER_COUNT) {
        pyramid &full = project->layerMasks[layer];
        if (full.levelCount > 0 && full.levels[0].data) {
            const int w = full.levels[0].width, h = full.levels[0].height;
            const bool intelligent = masks.intelligent && !(event->modifiers() & Qt::AltModifier);
            maskTarget_t t{static_cast<uint8_t *>(full.levels[0].data), w, h,
                           intelligent ? fullColours(project, w, h) : nullptr};
            const double ref[3] = {reference[0], reference[1], reference[2]};
            fillMaskValues(t, event->modifiers() & Qt::ControlModifier, ref, masks.threshold);
        }
    }
    strokeActive = false;
    firstStampPending = false;
    fillPending = false;
    if (layer > 0 && layer < LAYER_COUNT)
        project->layerMasks[layer].buildLevelsFrom(0);
    renderView(false, false, true, layer);
    repaint();
    emit maskPaintingFinished();
}
