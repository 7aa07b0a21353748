// mainImageArea: mouse, wheel and keyboard input, crop drags, sampling and
// file drops.

#include "views/mainImageArea.h"

#include "app/debugLog.h"
#include "project/processingProject.h"
#include "views/mainWorkspace.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

bool isSplitLineNear(int mode, QPointF pos, double lineX, double lineY)
{
    if (mode == 1 || mode == 2)
        return std::fabs(pos.x() - lineX) <= 7.0;
    if (mode == 3 || mode == 4)
        return std::fabs(pos.y() - lineY) <= 7.0;
    return false;
}

// Only local files that are not folders may be dropped.
bool droppableUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QFileInfo info(url.toLocalFile());
    return !info.isDir();
}

} // namespace

void mainImageArea::mousePressEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    if (!imagePresent || (button != Qt::LeftButton && button != Qt::RightButton && button != Qt::MiddleButton)) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF pos = event->localPos();
    const double lineX = logicalSize.width() * splitFx, lineY = logicalSize.height() * splitFy;
    if (state.toneMappedView && isSplitLineNear(state.splitMode, pos, lineX, lineY)) {
        splitDrag = state.splitMode <= 2 ? 1 : 2;
        return;
    }
    int ix = 0, iy = 0;
    const bool inside = viewToImage(pos, ix, iy);
    mouseX = ix;
    mouseY = iy;
    mouseInside = inside;

    if (sampleModeValue != 0) {
        const int m = sampleModeValue;
        int src = button == Qt::LeftButton ? 1 : 0;
        if (m == 3)
            src = 0;
        else if (m >= 4 && m <= 6)
            src = 2;
        if (inside) {
            const rgbDouble_t v = sample(pos, src);
            emit sampleTaken(m, src, v);
            sampleModeValue = 0;
        }
    }

    const Qt::KeyboardModifiers mods = event->modifiers();
    if (state.cropMode && inside && !panning) {
        if (mods & Qt::ShiftModifier) {
            rotating = true;
            dragStartX = ix;
            dragStartY = iy;
            startAngle = cropAngle;
            return;
        }
        if (mods & Qt::ControlModifier) {
            distortionDragging = true;
            dragStartX = ix;
            dragStartY = iy;
            startDistortion = distortion;
            return;
        }
        if (mods & Qt::AltModifier) {
            perspectiveDragging = true;
            dragStartX = ix;
            dragStartY = iy;
            startPerspectiveX = perspectiveX;
            startPerspectiveY = perspectiveY;
            return;
        }
    }

    pressX = int(pos.x() * dpr());
    pressY = int(pos.y() * dpr());
    pressScrollX = scrollX;
    pressScrollY = scrollY;
    const bool left = button == Qt::LeftButton;
    if (!(state.cropMode && left) && !(paintingActive() && left)) {
        panning = true;
        setCursor(Qt::OpenHandCursor);
    }

    if (state.cropMode && left) {
        const double ox = originX(), oy = originY();
        const int handle = cropHandleAt(pressX, pressY, int(cropArea.left * s + ox), int(cropArea.top * s + oy),
                                        int(cropArea.right * s + ox), int(cropArea.bottom * s + oy),
                                        state.aspect == 0.0, 6.0 * dpr());
        if (handle != 0) {
            cropDrag = cropDrag_t();
            cropDrag.kind = CROP_DRAG_HANDLE;
            cropDrag.handle = handle;
            cropDragging = true;
        } else if (inside) {
            cropDrag = cropDrag_t();
            if (ix >= cropArea.left && ix < cropArea.right && iy >= cropArea.top && iy < cropArea.bottom
                && cropArea.width > 0 && cropArea.height > 0) {
                cropDrag.kind = CROP_DRAG_MOVE;
                cropDrag.offsetX = ix - cropArea.left;
                cropDrag.offsetY = iy - cropArea.top;
            } else {
                cropDrag.kind = CROP_DRAG_CREATE;
                cropDrag.startX = ix;
                cropDrag.startY = iy;
                cropArea = cropRect{ix, ix, iy, iy, 0, 0};
            }
            cropDragging = true;
        }
    }

    if (left)
        paintPress(event);
    QWidget::mousePressEvent(event);
}

void mainImageArea::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->localPos();
    int ix = mouseX, iy = mouseY;
    mouseInside = viewToImage(pos, ix, iy);
    mouseX = ix;
    mouseY = iy;
    if (!panning && !state.cropMode && !strokeActive && gradientDrag == 0) {
        hover = pos;
        if (!moveTimer.isActive())
            moveTimer.start();
    }

    if (splitDrag != 0) {
        if (splitDrag == 1)
            splitFx = std::min(0.98, std::max(0.02, pos.x() / std::max(1, logicalSize.width())));
        else
            splitFy = std::min(0.98, std::max(0.02, pos.y() / std::max(1, logicalSize.height())));
        renderView(true);
        repaint();
        return;
    }

    const double lineX = logicalSize.width() * splitFx, lineY = logicalSize.height() * splitFy;
    if (imagePresent && state.toneMappedView && isSplitLineNear(state.splitMode, pos, lineX, lineY)) {
        setCursor(state.splitMode <= 2 ? Qt::SplitHCursor : Qt::SplitVCursor);
        return;
    }
    updateCursor(event);

    if (panning) {
        emit offsetsChanged(int(pressScrollX + pressX - pos.x() * dpr()), int(pressScrollY + pressY - pos.y() * dpr()));
        return;
    }

    if (state.cropMode && imagePresent) {
        const int W = imageWidth(), H = imageHeight();
        if (cropDragging) {
            cropArea = updateCropRect(cropArea, cropDrag, ix, iy, W, H, state.aspect);
            emit cropAreaChanged(cropArea);
            renderView(false, true);
            repaint();
        } else if (rotating) {
            emit cropAngleChanged(cropRotationAngle(startAngle, dragStartX, dragStartY, ix, iy, W, H));
        } else if (distortionDragging) {
            emit distortionValueChanged(cropDragValue(startDistortion, ix - dragStartX, W));
        } else if (perspectiveDragging) {
            emit perspectiveValueChanged(cropDragValue(startPerspectiveX, iy - dragStartY, H),
                                         cropDragValue(startPerspectiveY, ix - dragStartX, W));
        }
        return;
    }
    paintMove(event);
}

void mainImageArea::mouseReleaseEvent(QMouseEvent *event)
{
    splitDrag = 0;
    if (panning) {
        panning = false;
        setCursor(Qt::ArrowCursor);
    }
    if (cropDragging) {
        cropDragging = false;
        repaint();
    }
    if (rotating) {
        rotating = false;
        emit cropAngleChanged(-1.0);
    }
    if (distortionDragging) {
        distortionDragging = false;
        emit distortionValueChanged(-10.0);
    }
    if (perspectiveDragging) {
        perspectiveDragging = false;
        emit perspectiveValueChanged(-10.0, -10.0);
    }
    paintRelease(event);
    if (project && project->view.width == 0)
        emit clickedEmpty();
    QWidget::mouseReleaseEvent(event);
}

void mainImageArea::mouseDoubleClickEvent(QMouseEvent *event)
{
    int ix = 0, iy = 0;
    const bool inside = viewToImage(event->localPos(), ix, iy);
    if (state.cropMode) {
        const bool inRect = inside && ix >= cropArea.left && ix < cropArea.right && iy >= cropArea.top
                            && iy < cropArea.bottom;
        if (inRect && cropArea.width >= 32 && cropArea.height >= 32)
            emit cropApplied(cropArea);
        else
            emit cropAbandoned();
        return;
    }
    if (inside && !(maskPaintingOn && event->button() == Qt::LeftButton)) {
        zoomPoint = QPoint(ix, iy);
        emit dblClick(ix, iy);
    }
}

void mainImageArea::wheelEvent(QWheelEvent *event)
{
    moveTimer.stop();
    if (workspace)
        workspace->zoomAtPoint = true;
    int ix = 0, iy = 0;
    if (imagePresent) {
        viewToImage(event->position(), ix, iy);
        zoomPoint = QPoint(ix, iy);
    }
    const QPoint delta = event->angleDelta();
    const bool vertical = delta.y() != 0;
    const int d = vertical ? delta.y() : delta.x();
    if (d != 0)
        emit wheelChanged(d > 0 ? 4 : -4, event->position().toPoint(), vertical ? Qt::Vertical : Qt::Horizontal);
    event->accept();
}

void mainImageArea::moveWheel(QRect, QWheelEvent e)
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    QWheelEvent moved(centre, mapToGlobal(centre.toPoint()), e.pixelDelta(), e.angleDelta(), e.buttons(),
                      e.modifiers(), e.phase(), e.inverted());
    wheelEvent(&moved);
}

void mainImageArea::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt) && mouseInside && state.cropMode
        && !panning)
        setCursor(key == Qt::Key_Shift ? rotateCursor : crossCursor);
    if (state.cropMode) {
        if (key == Qt::Key_Escape)
            emit cropAbandoned();
        else if (key == Qt::Key_Enter || key == Qt::Key_Return)
            emit cropApplied(cropArea);
    }
    if (sampleModeValue != 0 && key == Qt::Key_Escape)
        emit sampleAbandoned();
    if (workspace && imagePresent
        && (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down)) {
        // Arrow keys pan by a tenth of the scroll range.
        QScrollBar *bar = key == Qt::Key_Left || key == Qt::Key_Right ? workspace->horizontalBar()
                                                                        : workspace->verticalBar();
        const int step = std::max(1, bar->pageStep());
        bar->setValue(bar->value() + (key == Qt::Key_Left || key == Qt::Key_Up ? -step : step));
        event->accept();
        return;
    }
    if (maskPaintingOn && masks.mode == maskPainter::MODE_GRADIENT) {
        if (key == Qt::Key_Space && gradientM >= 0.0) {
            std::swap(gradientPts[0], gradientPts[1]);
            gradientPts[2] = gradientHandlePoint(gradientPts[0], gradientPts[1], gradientM);
            refreshGradientPreview();
            renderView(true);
            repaint();
        } else if (key == Qt::Key_Escape) {
            finishGradient(false, -1);
            renderView(true);
            repaint();
        } else if (key == Qt::Key_Enter || key == Qt::Key_Return) {
            finishGradient(true, -1);
        }
    }
    QWidget::keyPressEvent(event);
}

void mainImageArea::keyReleaseEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt)
        setCursor(Qt::ArrowCursor);
    QWidget::keyReleaseEvent(event);
}

void mainImageArea::leaveEvent(QEvent *event)
{
    mouseInside = false;
    emit mouseMoved(false, rgbDouble_t(), rgbDouble_t());
    QWidget::leaveEvent(event);
}

void mainImageArea::moveOnTimer()
{
    int ix = 0, iy = 0;
    if (viewToImage(hover, ix, iy) && isEnabled()) {
        int src = 2;
        if (state.toneMappedView)
            src = 1;
        else if (picture.bytesPerSample == 4)
            src = 3;
        emit mouseMoved(true, sample(hover, src), rgbDouble_t());
    } else {
        emit mouseMoved(false, rgbDouble_t(), rgbDouble_t());
    }
}

void mainImageArea::updateCursor(QMouseEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (mouseInside || strokeActive) {
        if (!state.cropMode || panning) {
            if (sampleModeValue != 0)
                setCursor(eyedropperCursor);
            else if (panning)
                setCursor(Qt::OpenHandCursor);
            else if (!paintingActive())
                setCursor(Qt::ArrowCursor);
            else
                applyToolCursor(ctrl);
            return;
        }
        const Qt::KeyboardModifiers mods = event->modifiers();
        if (rotating || (mods & Qt::ShiftModifier)) {
            setCursor(rotateCursor);
            return;
        }
        if (distortionDragging || perspectiveDragging || (mods & (Qt::ControlModifier | Qt::AltModifier))) {
            setCursor(crossCursor);
            return;
        }
        const double ox = originX(), oy = originY();
        int handle = cropHandleAt(int(event->localPos().x() * dpr()), int(event->localPos().y() * dpr()),
                                  int(cropArea.left * s + ox), int(cropArea.top * s + oy),
                                  int(cropArea.right * s + ox), int(cropArea.bottom * s + oy), state.aspect == 0.0,
                                  6.0 * dpr());
        const bool creating = cropDragging && cropDrag.kind == CROP_DRAG_CREATE;
        if (cropDragging && cropDrag.kind == CROP_DRAG_HANDLE)
            handle = cropDrag.handle;
        if (handle != 0 && !creating) {
            if (handle == 1 || handle == 8)
                setCursor(Qt::SizeFDiagCursor);
            else if (handle == 2 || handle == 7)
                setCursor(Qt::SizeVerCursor);
            else if (handle == 3 || handle == 6)
                setCursor(Qt::SizeBDiagCursor);
            else
                setCursor(Qt::SizeHorCursor);
            return;
        }
        const bool inRect = mouseX >= cropArea.left && mouseX < cropArea.right && mouseY >= cropArea.top
                            && mouseY < cropArea.bottom;
        setCursor(inRect && !creating ? cropMoveCursor : cropCursor);
        return;
    }
    if (paintingActive() && masks.mode == maskPainter::MODE_GRADIENT)
        applyToolCursor(ctrl);
    else
        setCursor(Qt::ArrowCursor);
}

void mainImageArea::applyToolCursor(bool ctrl)
{
    switch (masks.mode) {
    case maskPainter::MODE_FILL:
        setCursor(masks.fillCursor);
        break;
    case maskPainter::MODE_GRADIENT:
        setCursor(overGradientPoint(hover) ? QCursor(Qt::OpenHandCursor) : masks.gradientCursor);
        break;
    default:
        setCursor(masks.mode == maskPainter::MODE_ERASER || ctrl ? masks.eraserCursor : masks.brushCursor);
        break;
    }
}

void mainImageArea::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *data = event->mimeData();
    if (!data || !data->hasUrls())
        return;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return;
    for (const QUrl &url : urls) {
        if (!droppableUrl(url))
            return;
    }
    event->acceptProposedAction();
}

void mainImageArea::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void mainImageArea::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void mainImageArea::dropEvent(QDropEvent *event)
{
    QStringList list;
    const QMimeData *data = event->mimeData();
    if (data) {
        int index = 0;
        for (const QUrl &url : data->urls()) {
            if (!droppableUrl(url))
                continue;
            const QString path = url.toLocalFile();
            list << path;
            debugLog("Drag&drop: path_%d=%s\n", ++index, qUtf8Printable(path));
        }
    }
    if (!list.isEmpty())
        emit imagesDropped(list);
    event->acceptProposedAction();
}
