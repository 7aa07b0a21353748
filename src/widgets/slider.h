#ifndef SLIDER_H
#define SLIDER_H

// The labelled slider of every numeric setting: an optional name label, a
// horizontal myQSlider, the value as a label (or, in edit mode, a clickable
// label that turns into a spin box) and an optional default button.
//
// The integer slider works in units of 1/m of the value (m = 10^decimals).
// Positions and values are converted by rounding to the nearest step in both
// directions, so negative values are reached exactly (-2.00 stays -2.00).
//
// Two change channels: valueChangedLive() for every position while dragging
// (cheap previews) and valueChanged(bool) when the user lets go, types a value
// or restores the default (history and full processing).

#include <QSlider>
#include <QTimer>
#include <QWidget>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class clickableLabel;

// Value <-> integer position conversion of the slider.
namespace sliderMapping {
// m = 10^decimals.
int multiplierFor(int decimals);
// Position of value v: round(m * v), limited to the int range.
int positionOf(double v, int m);
// Value of position p: the nearest multiple of step to p / m (halves away
// from zero); p / m when step is not positive.
double valueOf(int p, int m, double step);
} // namespace sliderMapping

class myQSlider : public QSlider
{
    Q_OBJECT

public:
    myQSlider();

    // Outer width of the handle the style sheet draws: 2 + trunc(19 * s).
    int handleLength() const { return handleLen; }

signals:
    void defaultRequest();
    void defaultRequestDblClick();
    void sliderMoved();

private slots:
    void startTimer();
    void stopTimer();
    void timerTimeout();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer moveTimer;
    double scale = 1.0;
    int handleLen = 21;
};

class slider : public QWidget
{
    Q_OBJECT

public:
    enum flag_t { DefaultButton = 2, EditMode = 4, NoValueLabel = 8 };

    // labelWidth: fixed width of the name label (0 or less: free);
    // property: dynamic property set to true on the slider ("Hue", "Tint",
    // "Temperature" paint a colour ramp), empty for none.
    slider(const QString &name, int flags, int labelWidth, int decimals, const QString &property, double minimum,
           double maximum, double defaultValue, double step);
    // The same with a parent instead of a label width (free label width).
    slider(const QString &name, int flags, QWidget *parent, int decimals, const QString &property, double minimum,
           double maximum, double defaultValue, double step);
    ~slider() override;

    // The current value (the spin box's value).
    double value() const;
    double defaultValue() const { return defValue; }
    // Replaces the stored default (the shown value is left alone).
    void setDefaultValue(double d) { defValue = d; }
    int decimals() const { return decimalCount; }
    myQSlider *sliderWidget() const { return qslider; }
    QDoubleSpinBox *spinBox() const { return spin; }
    // The value as shown: "%L1" in fixed notation with the slider's decimals.
    QString valueText(double v) const;

    // Sets the value from program code: both controls with their signals
    // blocked, then valueChanged(false) (never valueChangedLive()).
    void setValue(double d);

signals:
    void valueChanged(bool def = false);
    void valueChangedLive();

public slots:
    // Returns to the stored default; def is passed on in valueChanged.
    void setDefault(bool remLastFromHistory = false);

private slots:
    void updateSpinBoxValue(int v);
    void updateSliderPosition(double d);
    void setDefaultDblClick();
    void enterEditMode();
    void exitEditMode();
    void exitEditModeWithEmit();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showValueText(double v);
    void leaveEditMode();

    int m = 1;
    int decimalCount = 0;
    double step = 1.0;
    int flags = 0;
    double defValue = 0.0;
    double startValue = 0.0;
    QLabel *nameLabel = nullptr;
    myQSlider *qslider = nullptr;
    QDoubleSpinBox *spin = nullptr;
    clickableLabel *clickLabel = nullptr;
    QLabel *valueLabel = nullptr;
    QPushButton *defaultButton = nullptr;
};

#endif // SLIDER_H
