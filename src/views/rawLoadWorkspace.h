#ifndef RAWLOADWORKSPACE_H
#define RAWLOADWORKSPACE_H

// The RAW preview view of the "Load RAW image" dialog: rawLoadWorkspace (two
// scroll bars, a background toggle, zoom and scroll state) around
// rawLoadArea, the canvas that renders the visible part of the decoded 8-bit
// preview, pans by dragging, zooms with the wheel and by double click, and in
// eyedropper mode takes the white-balance sample point.
//
// Coordinates: logical widget pixels (events), device pixels (logical x the
// settings' device pixel ratio; buffers and scroll values) and preview image
// pixels (sample point).

#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

class QPushButton;
class QScrollBar;
class pyramid;
class rawLoadWorkspace;
class spinner;
class zoomWidget;

// What the canvas keeps of the preview pyramid (the buffers stay the
// dialog's).
struct rawPreviewDescriptor_t {
    struct level_t {
        bool present = false;
        int32_t width = 0;
        int32_t height = 0;
        const void *data = nullptr;
    };
    level_t levels[16];
    int32_t levelCount = 0;
    int32_t bytesPerSample = 1;
};

// One render stripe.
struct _drawThreadParams_t {
    uint32_t *rows = nullptr; // W x H pixels
    int32_t W = 0, H = 0;
    int32_t rowStart = 0, rowEnd = 0;
    const rawPreviewDescriptor_t *image = nullptr;
    double s = 1.0;
    int32_t cx = 0, cy = 0;
    int32_t offsetX = 0, offsetY = 0;
    uint8_t background[3] = {};
    bool hasImage = false;
    bool bilinear = false;
    int32_t checkerShift = 4;
};

// Renders rows [rowStart, rowEnd) of one stripe.
void rawPreviewDrawRows(const _drawThreadParams_t &p);

class rawLoadArea : public QWidget
{
    Q_OBJECT
    friend class rawLoadWorkspace;

public:
    explicit rawLoadArea(rawLoadWorkspace *owner);

    void renderView(bool interactive = false);

    // White-balance sample point in preview pixels, (-1, -1) when none.
    QPoint samplePoint() const { return QPoint(sampleX, sampleY); }
    int sampleSize() const { return sampleBoxSize; }
    bool eyedropperEnabled() const { return eyedropper; }
    bool hasImage() const { return imagePresent; }
    void setHasImage(bool on) { imagePresent = on; }
    double scale() const { return s; }
    // Whether the sample square is drawn (set after a preview, cleared on a
    // white-balance change).
    void setMarkerVisible(bool on) { markerShown = on; }
    bool markerVisible() const { return markerShown; }
    // Set while a preview decode runs (no new preview may start).
    bool busy = false;
    // Set when the user zoomed (a new preview then keeps the zoom).
    bool userZoomed = false;

    // View position (logical pixels) to image pixels; false outside the image.
    bool viewToImage(QPoint view, int &ix, int &iy) const;
    // Image pixels to the render picture (logical pixels).
    QPoint imageToView(int ix, int iy) const;
    const QImage &picture() const { return renderPicture; }

signals:
    void offsetsChanged(int ox, int oy);
    void wheelChanged(int direction, QPoint pos, int orientation);
    void clicked();
    void sampleTaken();
    void dblClick(int x, int y);

public slots:
    void enableEyedropper(bool en) { eyedropper = en; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    double dpr() const;
    double originX() const;
    double originY() const;
    void makeBuffers();
    void drawSampleSquare();

    bool rebuildNeeded = true;
    double s = 1.0;
    int cx = 0, cy = 0;
    rawPreviewDescriptor_t image;
    uint8_t background[3] = {0x28, 0x30, 0x40};
    bool imagePresent = false;
    int offsetX = 0, offsetY = 0;
    int sampleX = -1, sampleY = -1;
    int sampleBoxSize = 40;
    bool markerShown = false;
    rawLoadWorkspace *workspace = nullptr;
    QImage renderPicture;
    std::vector<uint32_t> rowBuffer;
    QPixmap pixmap;
    QCursor eyedropperCursor;
    bool eyedropper = false;
    bool liveAntiAliasing = false;
    bool dragging = false;
    QPoint pressPoint;
    int pressOffsetX = 0, pressOffsetY = 0;
    int lastImageX = 0, lastImageY = 0;
    bool lastInside = false;
    QSize renderSize;
};

class rawLoadWorkspace : public QWidget
{
    Q_OBJECT

public:
    explicit rawLoadWorkspace(QWidget *parent = nullptr);

    void setZoomWidget(zoomWidget *z) { zoom = z; }
    rawLoadArea *canvas() const { return area; }
    spinner *busyIndicator() const { return spin; }
    QScrollBar *horizontalBar() const { return hBar; }
    QScrollBar *verticalBar() const { return vBar; }

    // Shows a decoded preview (8-bit RGB pyramid).
    void setImage(const pyramid &preview);
    // Shows no image and forgets the sample point.
    void refreshView();
    // Zoom (percent) that fits the image into the view; 100 without image.
    int fitScale() const;
    // Shows / hides the busy indicator centred in the viewport.
    void showSpinner(bool on);

    bool zoomAtPoint = false;
    double positionX = 0.0, positionY = 0.0;

signals:
    void wheelChanged(int direction, QPoint pos, int orientation);
    void clicked();
    void sampleTaken();

public slots:
    void setScale(double s);
    void enableEyedropper(bool en);

private slots:
    void toggleBackgroundColor();
    void scrollChanged(int value);
    void setScrollBars(int ox, int oy);
    void redrawOnTimer();
    void wheelScroll(int dir, QPoint, int orientation);
    void zoomInOut(int x, int y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateScrollRanges();
    void applyBackground(int index);

    QTimer redrawTimer;
    zoomWidget *zoom = nullptr;
    QScrollBar *hBar = nullptr;
    QScrollBar *vBar = nullptr;
    QPushButton *toggleButton = nullptr;
    rawLoadArea *area = nullptr;
    spinner *spin = nullptr;
};

// The eight background colours of the image views.
extern const uint32_t RAW_VIEW_BACKGROUNDS[8];

#endif // RAWLOADWORKSPACE_H
