#ifndef COLORPICKER_H
#define COLORPICKER_H

// The modal "Select color" dialog: a saturation/value square and a hue strip
// (joined in hsvEditor), red, green and blue sliders 0..255 that stay in step
// with them both ways, and a two-part swatch showing the colour being edited
// beside the colour the dialog started with. After exec() returned Accepted
// the caller reads getColor(); on Cancel it keeps its colour.

#include "widgets/styledDialog.h"

#include <QColor>
#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QWidget>

class colorSample;
class QPushButton;
class slider;

// The saturation (left to right) and value (bottom to top) square of one hue.
class svEditor : public QWidget
{
    Q_OBJECT

public:
    static constexpr int SIDE = 256;

    explicit svEditor(QWidget *parent = nullptr);

    double hue() const { return h; }
    double saturation() const { return s; }
    double value() const { return v; }
    bool isHovered() const { return hover; }
    // Where the marker is centred, in widget pixels.
    QPointF markerPosition() const;

signals:
    void changed();

public slots:
    void setHue(double _hue);
    void setSaturationAndValue(double _saturation, double _value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void takePosition(const QPoint &pos);
    void rebuild();

    double h = -1.0;
    double s = 0.0;
    double v = 0.0;
    QImage picture;
    QPixmap picturePixmap;
    double pictureHue = -2.0; // hue the picture was built for
    bool stale = true;
    bool hover = false;
    bool dragging = false;
    QCursor cursor;
};

// The vertical hue strip, red at the top.
class hEditor : public QWidget
{
    Q_OBJECT

public:
    static constexpr int STRIP_WIDTH = 23;
    static constexpr int STRIP_HEIGHT = 256;

    explicit hEditor(QWidget *parent = nullptr);

    double hue() const { return h; }
    bool isHovered() const { return hover; }
    double markerY() const { return h < 0.0 ? 0.0 : 255.0 * h; }

signals:
    void changed();

public slots:
    void setHue(double _hue);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void takePosition(const QPoint &pos);
    void rebuild();

    QImage picture;
    QPixmap picturePixmap;
    double h = -1.0;
    bool stale = true;
    bool hover = false;
    bool dragging = false;
    QCursor cursor;
};

class hsvEditor : public QWidget
{
    Q_OBJECT

public:
    explicit hsvEditor(QWidget *parent = nullptr);

    // Sets the square and the strip from the colour; emits nothing.
    void setColor(QColor color);
    svEditor *square() const { return sv; }
    hEditor *strip() const { return hueStrip; }

signals:
    void changed();

private slots:
    void colorChanged();

private:
    svEditor *sv = nullptr;
    hEditor *hueStrip = nullptr;
};

class colorPicker : public styledDialog
{
    Q_OBJECT

public:
    colorPicker(QWidget *parent, QColor color);

    // The chosen colour: hue, saturation and value of the square.
    QColor getColor() const;

    hsvEditor *editor() const { return hsv; }
    slider *channelSlider(int i) const { return (i >= 0 && i < 3) ? channels[i] : nullptr; }
    colorSample *preview() const { return swatch; }
    QColor initialColor() const { return initial; }
    QPushButton *okButton() const { return okBtn; }
    QPushButton *cancelButton() const { return cancelBtn; }

signals:
    void changed(QColor color);

private slots:
    void colorChanged();
    void sliderChanged();

private:
    hsvEditor *hsv = nullptr;
    slider *channels[3] = {};
    QColor initial;
    colorSample *swatch = nullptr;
    QPushButton *okBtn = nullptr;
    QPushButton *cancelBtn = nullptr;
};

#endif // COLORPICKER_H
