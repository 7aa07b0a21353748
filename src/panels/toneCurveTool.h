#ifndef TONECURVETOOL_H
#define TONECURVETOOL_H

// The tone-curve editor: four curves (master "L", red, green, blue), each on
// its own canvas over the histogram of its channel. Points are added with a
// left click, dragged, removed with a right click and nudged with the arrow
// keys ("+" and "-" pick the keyboard point). The hosting panel turns the
// curves into lookup tables when curvesChanged / curvesChangedLive arrive and
// writes a history entry for changed(channel, reason):
//   0 point added, 1 point removed, 2 point moved (any other release, arrow
//   key released), 3 interpolation mode, 4 one curve reset, 5 all curves
//   reset, 6 preset applied.
// A canvas never holds a curve the curve maths refuses (more than
// CURVE_MAX_POINTS points, coordinates outside 0..1).

#include "project/curveMaths.h"
#include "project/rgbDouble.h"

#include <QCursor>
#include <QImage>
#include <QList>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QWidget>
#include <vector>

class QMenu;
class QPushButton;
class QTabWidget;

class toneCurveToolArea : public QWidget
{
    Q_OBJECT

public:
    // Points a mouse click may create at most (a preset or settings file may
    // hold up to CURVE_MAX_POINTS).
    static constexpr int MAX_POINTS_BY_MOUSE = CURVE_MAX_POINTS - 1;

    explicit toneCurveToolArea(int channel, QWidget *parent = nullptr);
    ~toneCurveToolArea() override;

    // The canvases of all four channels (index = channel); set by the tool once
    // all four exist, used by the master canvas to draw the colour curves.
    void setSiblings(toneCurveToolArea *const canvases[4]);

    // Replaces the curve; refused (false, nothing changed) for more than
    // CURVE_MAX_POINTS points or any coordinate outside 0..1 (or not finite).
    // An accepted list sets the modified flag.
    bool setCurvePoints(const QList<QPointF> &points);
    const QList<QPointF> &curvePoints() const { return points; }

    int channel() const { return chan; }
    int mode() const { return curveMode; }
    void setMode(int m) { curveMode = m == CURVE_LINEAR ? CURVE_LINEAR : CURVE_SPLINE; }
    bool isModified() const { return modified; }
    void setModified(bool m) { modified = m; }

    // The source histogram of this channel (counts, not owned) and its length.
    void setHistogram(const quint32 *counts, int count);
    // Recomputes the display bins from the source histogram.
    void computeHistogram();
    // Black and white points of the levels editor (0..1) shading the histogram.
    void setWBpoints(double b, double w);
    double blackPoint() const { return blackPt; }
    double whitePoint() const { return whitePt; }

    // Stores the sampled value (all -1 when inImg is false) and repaints.
    void setSampleValue(bool inImg, rgbDouble_t v);
    // Red, green, blue and luminance of the last sample; -1 when none.
    const double *sampleValue() const { return sample; }

    // Sorts the points (indices follow their points) and fills the curve
    // table; realloc sizes the table for the current curve area anew.
    void rebuildImages(bool realloc);
    // Redraws the canvas picture.
    void updateImage();
    // Whether the canvas picture exists (set up at least once).
    bool hasImage() const { return !image.isNull(); }

    const std::vector<double> &curveTable() const { return table; }
    int curveAreaWidth() const { return areaW; }
    int curveAreaHeight() const { return areaH; }
    int logicalMargin() const { return logMargin; }
    int hoveredIndex() const { return hovered; }
    int draggedIndex() const { return dragged; }
    int keyboardIndex() const { return keyboardPoint; }
    // Where point i is drawn, in logical widget pixels.
    QPoint pointPosition(int i) const;

    // Margin of a canvas side of width w: 2 * floor(w / 40), plus 1 when w is
    // even, so that the curve area is always odd.
    static int marginFor(int w);

signals:
    void curveChanged();
    void curveChangedLive();
    void changed(int reason);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setup();
    void sortPoints();
    int pointAt(const QPoint &pos) const;
    QPointF curvePositionAt(const QPoint &pos) const;
    void drawHistogram();
    void drawGrid(QPainter &p) const;
    void drawPoints(QPainter &p) const;
    void drawCurves(QPainter &p) const;
    void drawGradientBars();
    QColor channelColor(int value) const;

    toneCurveToolArea *siblings[4] = {};
    double sample[4] = {-1.0, -1.0, -1.0, -1.0};
    bool needsSetup = true;
    bool pointAdded = false;
    bool pointRemoved = false;
    int chan = 0;
    int curveMode = CURVE_SPLINE;
    QImage image;
    QPixmap pixmap;
    std::vector<int> bins;
    const quint32 *sourceHistogram = nullptr;
    int sourceCount = 0;
    std::vector<double> table;
    int imgW = 0, imgH = 0;
    int devMargin = 0;
    int binCount = 0;
    int histHeight = 0;
    int logW = 0, logH = 0;
    int logMargin = 0;
    int areaW = 0, areaH = 0;
    QPen gridPen;
    QList<QPointF> points;
    int hovered = -1;
    int dragged = -1;
    double whitePt = 1.0;
    double blackPt = 0.0;
    bool modified = false;
    QCursor crossCursor;
    int keyboardPoint = 0;
};

class toneCurveTool : public QWidget
{
    Q_OBJECT

public:
    static constexpr int PRESET_COUNT = 12;

    explicit toneCurveTool(QWidget *parent = nullptr);

    // Hands the points to canvas i; when accepted the canvas is recomputed and
    // redrawn. The mode is not touched. False for a refused list or a bad index.
    bool setCurve(int i, const QList<QPointF> &points);

    toneCurveToolArea *canvas(int i) const { return (i >= 0 && i < 4) ? canvases[i] : nullptr; }
    // Channel of the current tab (0 master, 1 red, 2 green, 3 blue).
    int currentChannel() const;
    QTabWidget *tabWidget() const { return tabs; }
    QPushButton *splineButton() const { return splineBtn; }
    QPushButton *linearButton() const { return linearBtn; }
    QPushButton *presetButton() const { return presetBtn; }
    QPushButton *resetButton() const { return resetBtn; }
    QPushButton *resetAllButton() const { return resetAllBtn; }
    QMenu *presetMenu() const { return menu; }

    // The points of preset i (0..11: whole range, shadows, highlights, each
    // Contrast ++, +, -, --); empty for another index.
    static QList<QPointF> presetPoints(int i);

    // Hands every canvas the histogram of its channel (counts[0] master,
    // 1 red, 2 green, 3 blue; count entries each, not owned); canvases whose
    // picture exists recompute their bins and the current tab is redrawn.
    void setHistograms(const quint32 *const counts[4], int count);

signals:
    void curvesChanged(int channel);
    void curvesChangedLive(int channel);
    void changed(int channel, int reason);

public slots:
    void setSampleValue(bool inImg, rgbDouble_t v);
    void resetCurve(int i, bool silent);
    void resetCurve(int i) { resetCurve(i, false); }
    void resetCurrentCurve() { resetCurve(currentChannel(), false); }
    void resetAllCurves(bool silent);
    void resetAllCurves() { resetAllCurves(false); }
    void setWBpoints(double b, double w);
    void tabSwitched(int i);
    void modeToggle();
    void showPresetMenu();
    void presetActTriggered(int i);
    void curveChangedSlot();
    void curveChangedLiveSlot();
    void changedSlot(int reason);

private:
    void showMode(int mode);
    void resetCanvas(int i, bool redraw);

    QTabWidget *tabs = nullptr;
    toneCurveToolArea *canvases[4] = {};
    QPushButton *presetBtn = nullptr;
    QPushButton *splineBtn = nullptr;
    QPushButton *linearBtn = nullptr;
    QPushButton *resetBtn = nullptr;
    QPushButton *resetAllBtn = nullptr;
    QMenu *menu = nullptr;
};

#endif // TONECURVETOOL_H
