#ifndef HISTOGRAMTOOL_H
#define HISTOGRAMTOOL_H

// The levels editor: the current layer's histogram with a black-point and a
// white-point marker to drag, two clip percentages (the share of the darkest
// and brightest pixels to clip), two eyedroppers (sample modes 1 and 2) and a
// padlock that switches automatic clipping on and off. The hosting panel
// converts between points and percentages through the cumulative histogram.
//
// Clip-point invariant, kept by every change of the points:
//   1e-5 <= white <= 1, 0 <= black <= 0.99999, black <= white, and when
//   white - black is below 1e-5, black = white - 1e-5.

#include "project/rgbDouble.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <vector>

class QDoubleSpinBox;
class QPushButton;

class histogramToolArea : public QWidget
{
    Q_OBJECT

public:
    static constexpr double MIN_GAP = 1e-5;

    explicit histogramToolArea(QWidget *parent = nullptr);
    ~histogramToolArea() override;

    // The layer's four histograms (0 master, 1 red, 2 green, 3 blue; length
    // entries each, not owned). Call computeDisplayArrays() and updateImage()
    // afterwards when the picture exists.
    void setHistograms(const quint32 *const counts[4], int length);
    // Resamples the histograms onto the bins, normalises the four channels
    // together (tallest bin 1.0) and builds the cumulative array.
    void computeDisplayArrays();
    void updateImage();
    bool hasImage() const { return !image.isNull(); }

    void setSampleValue(bool inImg, rgbDouble_t v);
    const double *sampleValue() const { return sample; }

    double blackPoint() const { return blackPt; }
    double whitePoint() const { return whitePt; }
    // Sets the black point; the white point is pushed up to it when needed.
    void setBlackPoint(double b);
    // Sets the white point; the black point is pulled down to it when needed.
    void setWhitePoint(double w);

    void setLocked(bool l) { locked = l; }
    bool isLocked() const { return locked; }
    bool logScale() const { return logarithmic == 1; }
    bool colorMode() const { return colorDisplay == 1; }
    int hoveredMarker() const { return hovered; }
    int draggedMarker() const { return dragged; }

    // Geometry in logical pixels: the histogram's height, the gradient bar's
    // and the marker strip's; the strip starts at markerStripTop().
    int histogramHeight() const { return hL; }
    int barHeight() const { return bL; }
    int markerHeight() const { return mL; }
    int markerStripTop() const { return hL + bL + 1; }

    const std::vector<double> &displayArray(int channel) const { return display[channel & 3]; }
    const std::vector<double> &cumulative() const { return cumulativeArray; }

signals:
    void pointsMoved();
    void pointsMovedLive();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setup();
    void enforceInvariant();
    void drawBar();
    void drawHistogram();
    void drawMarkers(QPainter &p) const;
    void drawCumulative(QPainter &p) const;

    double sample[4] = {-1.0, -1.0, -1.0, -1.0};
    bool needsSetup = true;
    double scale = 1.0;
    const quint32 *sources[4] = {};
    int sourceLength = 0;
    std::vector<double> display[4];
    std::vector<double> cumulativeArray;
    int logarithmic = 1;
    int colorDisplay = 1;
    QImage image;
    QPixmap pixmap;
    int binCount = 0;
    int imgH = 0;
    int logW = 0, logH = 0;
    int histDev = 0, barDev = 0, markerDev = 0;
    int hL = 0, bL = 0, mL = 0;
    int hovered = -1;
    int dragged = -1;
    double whitePt = 1.0;
    double blackPt = 0.0;
    bool locked = true;
};

class histogramTool : public QWidget
{
    Q_OBJECT

public:
    explicit histogramTool(QWidget *parent = nullptr);

    // Sets the black point, then the white point, keeping the invariant
    // (black first: the white point is pushed up to it; then white: the
    // black point is pulled down to it); emits pointsChanged() when emitFlag.
    void setClipPoints(bool emitFlag, double b, double w);
    // Tool tips of the spin boxes naming the clip targets (percentages).
    void clipTooltip(double b, double w);
    // Unchecks both eyedroppers without any signal (another sample mode was
    // chosen elsewhere).
    void uncheckSampleButtons();

    histogramToolArea *canvas() const { return area; }
    bool isLocked() const { return locked; }
    double blackPoint() const { return area->blackPoint(); }
    double whitePoint() const { return area->whitePoint(); }
    QDoubleSpinBox *blackClipSpinBox() const { return blackSpin; }
    QDoubleSpinBox *whiteClipSpinBox() const { return whiteSpin; }
    QPushButton *padlockButton() const { return padlock; }
    QPushButton *blackEyedropper() const { return blackPicker; }
    QPushButton *whiteEyedropper() const { return whitePicker; }
    QPushButton *noClipButton() const { return noClipBtn; }
    QPushButton *defaultButton() const { return defaultBtn; }

signals:
    void sampleModeChanged(int mode);
    void pointsChanged();
    void pointsMoved();
    void pointsMovedLive();
    void lockChanged(bool set);
    void lockChangedHistory(bool set);
    void clipPercentageChanged(double b, double w);

public slots:
    void setSampleValue(bool inImg, rgbDouble_t v);
    void lockClicked(bool dontToggle, bool silent);
    void lockClicked(bool dontToggle) { lockClicked(dontToggle, false); }
    void lockClicked() { lockClicked(false, false); }
    void clipPercentageChangeSlot();
    void setNoClipSlot();
    void setDefautSlot();
    void sampleModeChangedSlot();

private:
    histogramToolArea *area = nullptr;
    QPushButton *padlock = nullptr;
    QDoubleSpinBox *blackSpin = nullptr;
    QDoubleSpinBox *whiteSpin = nullptr;
    QPushButton *blackPicker = nullptr;
    QPushButton *whitePicker = nullptr;
    QPushButton *noClipBtn = nullptr;
    QPushButton *defaultBtn = nullptr;
    bool locked = true;
};

#endif // HISTOGRAMTOOL_H
