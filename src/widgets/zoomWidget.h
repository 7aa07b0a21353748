#ifndef ZOOMWIDGET_H
#define ZOOMWIDGET_H

// The zoom control under every image view: a slider over 125 fixed zoom
// percentages (1..50 by 1, 52..100 by 2, 104..200 by 4, 208..400 by 8), the
// chosen percentage, and buttons for 100 % and for fitting the image to the
// window. The view receives the scale through zoomChanged(double) (1.0 =
// 100 %) and passes wheel steps to incDecZoom.

#include <QVector>
#include <QWidget>

class QLabel;
class QPoint;
class QPushButton;
class QTimer;
class myQSlider;

class zoomWidget : public QWidget
{
    Q_OBJECT

public:
    // delayedLabel: the percentage label follows 300 ms after the last step.
    zoomWidget(const QString &caption, bool delayedLabel);

    static const QVector<int> &zoomSteps();

    // The step that shows an image fitted at `fit` percent: the largest step
    // not above it, so the fitted image never overflows its view. Below the
    // first step the first step; above the last step (every step fits) or
    // for a scale that is not positive, `current`.
    static int fitStepIndex(const QVector<int> &steps, double fit, int current);

    // Stores the fit-to-window scale in percent and sets the fit index from
    // it (fitStepIndex).
    void setScaleValue(double percent);
    double scaleValue() const { return scale; }
    int fitIndex() const { return fitIdx; }
    void setFitIndex(int index);
    int index100() const { return idx100; }
    // The lowest step index the slider offers (4 = 5 % by default).
    void setMinimumStep(int index);
    myQSlider *zoomSlider() const { return zslider; }
    QLabel *valueLabel() const { return label; }

signals:
    void zoomChanged(double scale);

public slots:
    void incDecZoom(int dir, QPoint point, int orientation);
    void incZoom();
    void decZoom();
    void set100();
    void setFit();
    bool isFit();
    void updateZoom(int v);
    void updateValue();

private:
    QVector<int> steps;
    int fitIdx = 74;
    double scale = 100.0;
    int idx100 = 74;
    myQSlider *zslider = nullptr;
    QLabel *label = nullptr;
    QPushButton *button100 = nullptr;
    QPushButton *buttonFit = nullptr;
    int lastIndex = 74;
    QTimer *labelTimer = nullptr;
};

#endif // ZOOMWIDGET_H
