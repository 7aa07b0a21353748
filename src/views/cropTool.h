#ifndef CROPTOOL_H
#define CROPTOOL_H

// The bar of controls shown in crop mode: aspect-ratio presets, width,
// height and angle boxes, the distortion and two perspective sliders, Reset,
// Apply, Cancel and the guidelines toggle. It keeps no crop state beyond its
// controls: every change goes to the main workspace as a signal, and the
// rectangle the user drags on the image comes back through setCropArea.
// GUI thread only.

#include "views/viewMaths.h"

#include <QWidget>

class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;
class mainWorkspace;
class processingProject;
class slider;

// The width and height boxes' values after a change: with a ratio r > 0 the
// other side follows the one that changed, clamped to the boxes' maximum
// (the image size in crop mode). fromHeight: the height box sent the change.
QSize cropSizeForAspect(int width, int height, double r, bool fromHeight, int maxWidth, int maxHeight);

class cropTool : public QWidget
{
    Q_OBJECT

public:
    // workspace: whose image area takes the locked aspect ratio (may be null).
    cropTool(processingProject *project, mainWorkspace *workspace = nullptr, QWidget *parent = nullptr);

    // Width / height of the chosen preset; 0 = free.
    double getAspectRatio() const;
    // What the window does on entering crop mode: ranges up to the image
    // size, angle and sliders 0, the boxes at the image size (no signals),
    // and the preset whose label is aspectLabel ("Custom" when none matches).
    void startCropping(const QString &aspectLabel = QString());

    QSpinBox *widthBox() const { return widthSpin; }
    QSpinBox *heightBox() const { return heightSpin; }
    QDoubleSpinBox *angleBox() const { return angleSpin; }
    QComboBox *aspectCombo() const { return aspect; }
    slider *distortionSlider() const { return distortion; }
    slider *perspectiveXSlider() const { return perspectiveX; }
    slider *perspectiveYSlider() const { return perspectiveY; }
    QPushButton *guidelinesButton() const { return guidelines; }
    QPushButton *resetButton() const { return reset; }
    QPushButton *applyButton() const { return apply; }
    QPushButton *cancelButton() const { return cancel; }

signals:
    void sizeChanged(int width, int height);
    void paramsChanged(double angle, double dis, double persX, double persY);
    void guidelinesToggled(bool checked);
    void applyCropping();
    void cancelCropping();

public slots:
    void setCropArea(cropRect rect);

private slots:
    void sizeChangedSlot();
    void paramsChangedSlot();
    void aspectRatioChanged(int idx);
    void resetCropping();

private:
    void setAreaAspect(double ratio);

    QPushButton *guidelines = nullptr;
    QSpinBox *widthSpin = nullptr;
    QSpinBox *heightSpin = nullptr;
    QDoubleSpinBox *angleSpin = nullptr;
    QComboBox *aspect = nullptr;
    slider *distortion = nullptr;
    slider *perspectiveX = nullptr;
    slider *perspectiveY = nullptr;
    QPushButton *reset = nullptr, *apply = nullptr, *cancel = nullptr;
    processingProject *project = nullptr;
    mainWorkspace *workspace = nullptr;
};

#endif // CROPTOOL_H
