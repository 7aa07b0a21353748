#ifndef SELECTIVECURVETOOL_H
#define SELECTIVECURVETOOL_H

// The selective-curve editor: raises or lowers saturation along one axis,
// hue (kind 0, a closed axis whose ends meet) or brightness (kind 1, open
// ends), with knee points, each a bell whose width (sigma, 0.1..2.0) is set
// with the slider under the canvas. Left click adds a knee, right click
// removes one, drag moves it; "+" and "-" select the next and previous knee,
// the arrow keys nudge the selected one. changed(reason) reports:
//   0 knee added, 1 knee removed, 2 knee moved (release, arrow key released),
//   3 sigma slider released, 4 curve reset.
// The canvas never holds a knee list the curve maths refuses (more than
// CURVE_MAX_KNEES knees, positions or levels outside 0..1).

#include "project/curveMaths.h"
#include "project/rgbDouble.h"

#include <QCursor>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QWidget>
#include <vector>

class QLabel;
class QPushButton;
class myQSlider;

class selectiveCurveToolArea : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MAX_KNEES_BY_MOUSE = CURVE_MAX_KNEES - 1;

    explicit selectiveCurveToolArea(int kind, QWidget *parent = nullptr);
    ~selectiveCurveToolArea() override;

    // Accepts at most CURVE_MAX_KNEES knees with x and y in 0..1 and a finite
    // sigma; otherwise changes nothing and returns false. The modified flag
    // is left alone.
    bool setKneePoints(const QList<selKneePoints_t> &knees);
    const QList<selKneePoints_t> &kneePoints() const { return knees; }

    // Sorts the knees (indices follow) and fills the canvas table.
    void rebuildImages(bool realloc);
    void updateImage();
    // The table of the knees for n entries (values -1..1, 0 = no change);
    // the hue canvas wraps around, the brightness canvas does not. Panels
    // call it with n = 65536 and invert set.
    bool selectiveCurveToTable(double *table, int n, bool invert) const;

    void setSampleValue(bool inImg, rgbDouble_t v);
    const double *sampleValue() const { return sample; }

    int kind() const { return curveKind; }
    double currentSigma() const { return sigma; }
    void setCurrentSigma(double s) { sigma = s; }
    bool isModified() const { return modified; }
    void setModified(bool m) { modified = m; }
    int hoveredIndex() const { return hovered; }
    int draggedIndex() const { return dragged; }
    int selectedIndex() const { return selected; }
    // Selects knee i (-1 for none) without any signal.
    void setSelectedIndex(int i);
    // Gives knee i (if any) the width s.
    void setKneeSigma(int i, double s);
    // Resets hover and drag (the list was replaced from outside).
    void clearPointer() { hovered = dragged = -1; }
    const std::vector<double> &curveTable() const { return table; }
    // Where knee i is drawn, in logical widget pixels.
    QPoint kneePosition(int i) const;
    // Where the sample marker is centred; false when none is drawn.
    bool sampleMarkerPosition(QPointF *at) const;

    // Hue in degrees (0..360) of a colour, 0 for greys.
    static double hueOf(double r, double g, double b);

signals:
    void curveChanged();
    void curveChangedLive();
    void selectedKneePointChanged(int newIdx, selKneePoints_t k);
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
    int kneeAt(const QPoint &pos) const;
    void drawBackground();
    void redraw();

    bool needsSetup = true;
    bool changeAtPress = false;
    bool removedAtPress = false;
    double sample[4] = {-1.0, -1.0, -1.0, -1.0};
    int curveKind = 0;
    QImage image;
    QPixmap pixmap;
    std::vector<double> table;
    double sigma = 1.0;
    int imgW = 0, imgH = 0;
    int areaW = 0, areaH = 0;
    QList<selKneePoints_t> knees;
    int hovered = -1;
    int dragged = -1;
    int selected = -1;
    bool modified = false;
    QCursor crossCursor;
};

class selectiveCurveTool : public QWidget
{
    Q_OBJECT

public:
    explicit selectiveCurveTool(int kind, QWidget *parent = nullptr);

    // Hands the list to the canvas; when accepted the canvas is recomputed
    // and redrawn. In every case hover and drag end and the first knee is
    // selected (its sigma becomes the current one; none and 1.0 for an empty
    // list). The slider does not move. Returns whether the list was accepted.
    bool setKneePoints(const QList<selKneePoints_t> &knees);

    selectiveCurveToolArea *canvas() const { return area; }
    myQSlider *sigmaSlider() const { return slider; }
    QLabel *captionLabel() const { return caption; }
    QPushButton *resetButton() const { return resetBtn; }
    int kind() const { return curveKind; }

signals:
    void curveChanged();
    void curveChangedLive();
    void changed(int reason);

public slots:
    void setSampleValue(bool inImg, rgbDouble_t v);
    void resetCurve(bool silent);
    void resetCurve() { resetCurve(false); }
    void changeCurrentSigma(int v);
    void changeCurrentSigmaOnSlider(int, selKneePoints_t k);
    void sigmaSliderReleased();
    void curveChangedSlot();
    void curveChangedLiveSlot();

private:
    int curveKind = 0;
    QString hueCaption;
    QString brightnessCaption;
    QLabel *caption = nullptr;
    myQSlider *slider = nullptr;
    selectiveCurveToolArea *area = nullptr;
    QPushButton *resetBtn = nullptr;
    bool stepPending = false;
};

#endif // SELECTIVECURVETOOL_H
