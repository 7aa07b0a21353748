#ifndef MAINWORKSPACE_H
#define MAINWORKSPACE_H

// The central view of the main window: the image canvas (mainImageArea)
// with its two scroll bars and the background toggle. It owns the zoom and
// scroll state as the rest of the program sees it, turns zoom, navigator,
// crop-tool and scroll-bar changes into renders of the canvas, decides when
// a cheap interactive frame is enough and when the tone mapping of the
// visible window must run again (the redraw timer), and relays the canvas's
// signals. GUI thread only.
//
// The main window reaches it through the public slots and operations and
// through canvas()->viewState(); nothing here knows the main window.

#include "views/mainImageArea.h"
#include "views/viewMaths.h"

#include <QRect>
#include <QString>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

class QPushButton;
class QScrollBar;
class processingProject;
class spinner;
class zoomWidget;

constexpr int VIEW_REDRAW_DELAY_MS = 450;

class mainWorkspace : public QWidget
{
    Q_OBJECT
    friend class mainImageArea;

public:
    mainWorkspace(processingProject *project, QWidget *parent = nullptr);

    mainImageArea *canvas() const { return area; }
    void setZoomWidget(zoomWidget *z) { zoom = z; }
    QScrollBar *horizontalBar() const { return hBar; }
    QScrollBar *verticalBar() const { return vBar; }
    QPushButton *backgroundButton() const { return toggleButton; }
    spinner *busyIndicator() const { return spin; }
    QTimer &redrawTimer() { return timer; }
    QPointF scrollPosition() const { return QPointF(positionX, positionY); }
    const QString &imageName() const { return name; }

    // The picture to show (the pyramid stays the caller's) and its name.
    void setImage(const pyramid &picture, const QString &imageName);
    void clearImage();
    void updateScrollRanges();
    // The visible part of the image in image pixels.
    QRect imageRect() const;
    // Zoom in percent that fits an image of that size.
    double fitScale(int width, int height) const;
    void setPaintMode(bool paint, bool allowed);
    void setSampleMode(int mode);
    void showSpinner();

    // The tone-mapped view flag (the main window sets it together with the canvas's).
    bool toneMappedView = false;
    // Set by the canvas before a zoom that must keep a point under the mouse.
    bool zoomAtPoint = false;

signals:
    void clickedEmpty();
    void wheelChanged(int direction, QPoint pos, int orientation);
    void imagesDropped(QStringList list);
    void cropApplied(cropRect rect);
    void cropAbandoned();
    void cropAreaChanged(cropRect rect);
    void sampleAbandoned();
    void mouseMoved(bool inImg, rgbDouble_t v, rgbDouble_t vHdr);
    void sampleTaken(int mode, int src, rgbDouble_t sampleValue);
    void cropAngleChanged(double angle);
    void distortionValueChanged(double value);
    void perspectiveValueChanged(double valueX, double valueY);
    void maskPaintingFinished();
    void viewportChanged(QRect viewRect);
    void wheelMoved(QRect viewRect, QWheelEvent e);

public slots:
    void applyCropping();
    void setScale(double s);
    void redraw(bool getViewPort = false);
    void setCropSize(int width, int height, bool redraw = true);
    void setGuidelines(bool checked, bool redraw = true);
    void setParams(double cropAngle, double distortion, double perspectiveX, double perspectiveY,
                   bool redraw = true);
    void wheelScroll(int dir, QPoint pos, int orientation);
    void showLayerMasks(bool disable);
    void setViewport(QRect viewRect, bool refresh = true);
    void moveWheel(QRect viewRect, QWheelEvent e);
    void currentLayerChangedSlot(int previous);

private slots:
    void toggleBackgroundColor();
    void scrollChanged(int value);
    void setScrollBars(int ox, int oy, bool refresh = true);
    void redrawOnTimer(bool forceDisableResample = false);
    void cropAngleChangedSlot(double angle);
    void distortionValueChangedSlot(double value);
    void perspectiveValueChangedSlot(double valueX, double valueY);
    void zoomInOut(int x, int y);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEvent *event) override;

private:
    void interactiveRedraw(bool resample);
    void applyScrollValues(bool storePositions);
    void applyBackground();
    void setLayerPreviewReady();

    QString name;
    processingProject *project = nullptr;
    QTimer timer;
    zoomWidget *zoom = nullptr;
    QScrollBar *hBar = nullptr;
    QScrollBar *vBar = nullptr;
    double positionX = 0.0, positionY = 0.0;
    QPushButton *toggleButton = nullptr;
    mainImageArea *area = nullptr;
    spinner *spin = nullptr;
    bool inScrollRangeUpdate = false;
};

#endif // MAINWORKSPACE_H
