#ifndef COLORSAMPLE_H
#define COLORSAMPLE_H

// The small framed colour field that shows a colour value wherever the
// program has one (sample and target colours, the colour picker's preview,
// the white-balance sample, photo rows). It keeps each colour twice: the
// working-space value the program computes with, and the colour actually
// painted, obtained through the monitor's display transform. A swatch may be
// clickable (clicked() on every mouse release) and may show a second colour
// beside the first (dual).
//
// The two Little CMS transforms (working space to monitor and back, 8-bit
// RGB) belong to the project; the swatch never frees them. A null display
// transform means no colour management, in both directions.

#include <QColor>
#include <QFrame>
#include <lcms2.h>

class QLabel;

class colorSample : public QFrame
{
    Q_OBJECT

public:
    colorSample(bool clickable, bool dual);

    // Sets both colours and repaints. fromDisplay: the colours were chosen on
    // screen and are first taken back into the working space.
    void setColor(bool fromDisplay, QColor primary, QColor secondary);

    // The colour through the display transform or its inverse (8 bits per
    // channel; alpha kept); unchanged without colour management.
    QColor colorTransformToDisplay(QColor color) const;
    QColor colorTransformFromDisplay(QColor color) const;

    // Hands the swatch the project's transforms (both or neither); call
    // setColor again with the stored colours to repaint for the new monitor.
    void setDisplayTransforms(cmsHTRANSFORM toDisplay, cmsHTRANSFORM fromDisplay);
    cmsHTRANSFORM displayTransform() const { return toDisplayTransform; }
    cmsHTRANSFORM inverseDisplayTransform() const { return fromDisplayTransform; }

    // Working-space colours (the swatch's value) and the painted ones.
    QColor primaryColor() const { return primary; }
    QColor secondaryColor() const { return secondary; }
    QColor primaryDisplayColor() const { return primaryDisplay; }
    QColor secondaryDisplayColor() const { return secondaryDisplay; }
    bool isClickable() const { return clickable; }
    bool isDual() const { return dual; }

    // The style sheet a field gets for a painted colour.
    static QString fieldStyleSheet(const QColor &displayColor);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QColor transform(cmsHTRANSFORM t, const QColor &color) const;

    QLabel *primaryField = nullptr;
    QLabel *secondaryField = nullptr;
    bool clickable = false;
    bool dual = false;
    QColor primary{Qt::black};
    QColor secondary{Qt::black};
    QColor primaryDisplay{Qt::black};
    QColor secondaryDisplay{Qt::black};
    cmsHTRANSFORM toDisplayTransform = nullptr;
    cmsHTRANSFORM fromDisplayTransform = nullptr;
};

#endif // COLORSAMPLE_H
