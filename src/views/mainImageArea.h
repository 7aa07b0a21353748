#ifndef MAINIMAGEAREA_H
#define MAINIMAGEAREA_H

// The canvas of the main image view. It renders the visible part of the
// picture on display at the current zoom (source picture, tone-mapped window
// of the project, or both split for a before/after comparison), composites
// layer masks while they are painted, marks clipped pixels and draws the
// overlays; it is also the input surface for panning, wheel zoom, the split
// handle, the crop rectangle and its drags, colour sampling, mask painting
// and file drops. It never talks to the main window directly: the window
// sets the view state (viewState()) and listens to the signals.
//
// Coordinates: logical widget pixels (events), device pixels (logical x the
// device-pixel ratio of the settings; buffers and scroll offsets), image
// pixels (level 0 of the picture on display) and window pixels (the visible
// part of the image in the project's view-window buffers).

#include "project/rgbDouble.h"
#include "project/tableSizes.h"
#include "views/maskPainter.h"
#include "views/renderView.h"
#include "views/viewMaths.h"

#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <cstdint>
#include <vector>

class QPushButton;
class mainWorkspace;
class processingProject;

// What the main window decides about the view: set the fields, then render.
struct mainViewState_t {
    bool toneMappedView = false;  // show the project's tone-mapped window
    bool showSource = false;      // show the source picture even in tone-mapped view
    int splitMode = 0;            // 0 off; 1 source left, 2 right, 3 top, 4 bottom
    bool cropMode = false;
    bool guidelines = false;
    double aspect = 0.0;          // locked crop ratio width / height, 0 = free
    bool shadowWarning = false;
    bool highlightWarning = false;
    bool showHint = false;        // nothing loaded: the drop hint
    int currentLayer = 0;         // 0 = base
    uint8_t layerVisible[LAYER_COUNT] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};

class mainImageArea : public QWidget
{
    Q_OBJECT
    friend class mainWorkspace;

public:
    mainImageArea(mainWorkspace *workspace, processingProject *project);
    ~mainImageArea() override;

    mainViewState_t &viewState() { return state; }
    maskPainter &painter() { return masks; }

    // The single entry for drawing; returns when the frame is complete (the caller repaints).
    void renderView(bool interactive = false, bool overlayOnly = false, bool resample = false, int refreshLayer = 0);
    // Rebuilds the render image, pixmap and the project's window buffers for the current size.
    void updatePixmap();

    // Coordinate mapping; false outside the picture (and with no image, when
    // the outputs are left unset).
    bool viewToImage(QPointF logical, int &x, int &y) const;
    bool imageToWindow(int x, int y, int &wx, int &wy) const;
    // Device-pixel position of image pixel 0.
    double originX() const;
    double originY() const;

    // Weighted colour sample around a logical point: source 0 float window,
    // 1 tone-mapped window, 2 full-size 16-bit image, 3 full-size float image.
    rgbDouble_t sample(QPointF logical, int source) const;

    const QImage &renderImage() const { return image; }
    const uint32_t *pixelBuffer() const { return pixels.data(); }
    QSize deviceSize() const { return devSize; }
    double zoom() const { return s; }
    QPoint scrollOffset() const { return QPoint(scrollX, scrollY); }
    bool hasImage() const { return imagePresent; }
    cropRect crop() const { return cropArea; }
    void setCrop(const cropRect &r) { cropArea = r; }
    QPointF splitFractions() const { return QPointF(splitFx, splitFy); }
    double gradientMiddlePosition() const { return gradientM; }
    QPoint gradientPoint(int i) const { return gradientPts[std::max(0, std::min(3, i - 1))]; }
    QPushButton *applyGradientButton() const { return applyButton; }
    bool pixmapOutdated() const { return pixmapIsOutdated; }
    bool windowBuffersValid() const { return buffersOk; }
    int sampleMode() const { return sampleModeValue; }

    // Upper bound of the window buffers' bytes (tests use it to stand in for
    // a failed allocation); INT64_MAX by default.
    static void setWindowBufferLimit(int64_t bytes);

    // Shows the "Apply gradient" button exactly when a gradient can be applied.
    void updateOverlayVisibility(bool allow = true);
    // Re-applies the painting controls (see the layers tool).
    void refreshMasks(bool full);
    // Copies the current layer's view mask into the backup.
    void saveViewMaskToBackup();
    // The gradient preview in the current layer's view mask.
    void refreshGradientPreview();

signals:
    void clickedEmpty();
    void offsetsChanged(int ox, int oy);
    void wheelChanged(int direction, QPoint pos, int orientation);
    void imagesDropped(QStringList list);
    void cropApplied(cropRect rect);
    void cropAreaChanged(cropRect rect);
    void cropAbandoned();
    void sampleAbandoned();
    void mouseMoved(bool inImg, rgbDouble_t v, rgbDouble_t vHdr);
    void sampleTaken(int mode, int src, rgbDouble_t sampleValue);
    void cropAngleChanged(double angle);
    void distortionValueChanged(double value);
    void perspectiveValueChanged(double valueX, double valueY);
    void dblClick(int x, int y);
    void requestTimerStart();
    void maskPaintingFinished();

public slots:
    void moveWheel(QRect viewRect, QWheelEvent e);
    void finishGradient(bool apply, int layerId);
    void finishGradient(bool apply) { finishGradient(apply, -1); }
    void finishGradient() { finishGradient(true, -1); }

private slots:
    void moveOnTimer();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    double dpr() const;
    int imageWidth() const { return picture.levelCount > 0 ? picture.levels[0].width : 0; }
    int imageHeight() const { return picture.levelCount > 0 ? picture.levels[0].height : 0; }
    bool paintingActive() const;
    void drawOverlays();
    void drawCross(class QPainter &p, QPointF c) const;
    QPointF imageToLogical(double x, double y) const;
    void updateCursor(QMouseEvent *event);
    void applyToolCursor(bool ctrl);
    bool overGradientPoint(QPointF logical) const;
    int gradientHit(QPointF logical) const;
    // Mask painting parts of the mouse handlers; true when the event was used.
    void paintPress(QMouseEvent *event);
    void paintMove(QMouseEvent *event);
    void paintRelease(QMouseEvent *event);
    void strokeTo(QMouseEvent *event);
    void dropGradientPreview();
    void currentLayerMaskChanged(int layer);
    uint8_t *currentViewMask() const;

    // view state (shared with the workspace)
    mainViewState_t state;
    bool adjusting = false;        // dense guidelines until the next timer pass
    bool hideMaskOverlay = false;
    double s = 1.0;
    bool pixmapIsOutdated = true;
    double splitFx = 0.5, splitFy = 0.5;
    int cx = 0, cy = 0;
    scrollLimits_t limits;
    pyramidView_t picture;
    uint8_t checkerA = 0x10, checkerB = 0x15, flatTone = 0x20;
    bool imagePresent = false;
    int scrollX = 0, scrollY = 0;
    bool antiAliasing = false;
    cropRect cropArea;
    bool maskPaintingOn = false, paintingAllowed = false;
    double cropAngle = 0, distortion = 0, perspectiveX = 0, perspectiveY = 0;
    int sampleModeValue = 0;
    int splitDrag = 0;
    maskPainter masks;
    QPushButton *applyButton = nullptr;
    processingProject *project = nullptr;
    mainWorkspace *workspace = nullptr;
    double uiScale = 1.0;
    QPointF hover;
    QPoint zoomPoint;              // image point kept under the mouse by a zoom
    QTimer moveTimer;

    // frame
    QImage image;
    QPixmap pixmap;
    std::vector<uint32_t> pixels;
    QSize devSize, logicalSize;
    bool buffersOk = false;
    QCursor crossCursor, eyedropperCursor, cropCursor, cropMoveCursor, rotateCursor;

    // drags
    bool rotating = false, perspectiveDragging = false, distortionDragging = false;
    bool strokeActive = false, firstStampPending = false, fillPending = false;
    int gradientDrag = 0;
    QPoint gradientPts[4];         // image pixels: 1 anchor, 2 end, 3 middle handle, 4 reference point
    double gradientM = -1.0;
    QPoint strokeStart, lastImagePoint, lastWindowPoint;
    double reference[3] = {0, 0, 0};
    int dragStartX = 0, dragStartY = 0;
    double startAngle = 0, startDistortion = 0, startPerspectiveX = 0, startPerspectiveY = 0;
    bool panning = false;
    int pressX = 0, pressY = 0, pressScrollX = 0, pressScrollY = 0;
    cropDrag_t cropDrag;
    bool cropDragging = false;
    int mouseX = 0, mouseY = 0;
    bool mouseInside = false;
    bool brushCursorOutdated = false;
};

#endif // MAINIMAGEAREA_H
