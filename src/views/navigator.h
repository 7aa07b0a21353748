#ifndef NAVIGATOR_H
#define NAVIGATOR_H

// The small overview of the whole tone-mapped picture in the "Navigator" tab,
// scaled to the widget's width, with a rectangle marking the part the main
// view shows. Dragging the rectangle moves the view, a click elsewhere
// centres the view there, and the wheel zooms around the pointed place.
// GUI thread only.

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QRectF>
#include <QWheelEvent>
#include <QWidget>
#include <cstdint>
#include <memory>

class navigator : public QWidget
{
    Q_OBJECT

public:
    navigator();
    ~navigator() override;

    // 8-bit RGB rows (3 bytes a pixel, top row first) of a w x h overview of
    // a picture referenceWidth image pixels wide; null pixels clear it.
    void setImage(const uint8_t *pixels, int w, int h, int referenceWidth);

    // Image pixels per widget pixel: the drawn width over the reference width.
    double scale() const;
    QRectF outerOutline() const { return outer; }
    QRectF innerOutline() const { return inner; }
    QRect viewRect() const { return rect; }
    bool hasPicture() const { return picture && pixmap; }
    const QImage *overview() const { return picture.get(); }
    bool isDragging() const { return dragging; }

    // The widget is as high as the overview drawn at a given width (nothing
    // without a picture), so that a layout with a stretch below it still
    // gives it room.
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

signals:
    void viewportSet(QRect viewRect);
    void wheelMoved(QRect viewRect, QWheelEvent event);

public slots:
    void setRect(QRect viewRect);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    int drawnWidth() const;
    void centreOn(int x, int y);

    std::unique_ptr<QImage> picture;
    std::unique_ptr<QPixmap> pixmap;
    QRectF outer, inner;
    int referenceWidth = 0;
    bool dragging = false;
    int offsetX = 0, offsetY = 0;
    QRect rect;
};

#endif // NAVIGATOR_H
