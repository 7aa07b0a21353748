#ifndef COLORADJUSTGROUP_H
#define COLORADJUSTGROUP_H

// The "Color adjustment" panel: white balance (colour temperature and tint)
// and hue of the current layer. An eyedropper (sample mode 3) lets the user
// pick a point that should become neutral grey; the window then sets the
// temperature and tint from the sample. A swatch shows the colour cast the
// white balance corrects; a reset button returns temperature and tint to
// neutral. With visibility switch and padlock.

#include "panels/toolBox.h"
#include "project/rgbDouble.h"

class QPushButton;
class colorSample;
class processingProject;
class slider;
struct processingParams_t;

// The white-balance multipliers (red, green, blue) of a temperature and tint
// setting (both 0..2, neutral 1).
void whiteBalanceMultipliers(double temperature, double tint, double multipliers[3]);

class colorAdjustGroup : public toolBox
{
    Q_OBJECT

public:
    colorAdjustGroup(processingProject *project, const QString &title);

    void connectSignals(bool connect);
    // Shows a record's values in the controls with their signals blocked (a
    // loaded settings file, another layer); update(true) then writes them back.
    void showRecord(const processingParams_t &params);

    // A white-balance sample (mode 3): sets the temperature and tint that
    // make the sampled colour grey, applies them (paramsChanged), adds the
    // history entry "White balance sample taken" and, when locked, asks for
    // new preset thumbnails (lockEnabled).
    void whiteBalanceSampleTaken(const rgbDouble_t &value);

    colorSample *swatch = nullptr;
    QPushButton *eyedropper = nullptr;
    QPushButton *reset = nullptr;
    slider *temperature = nullptr;
    slider *tint = nullptr;
    slider *hue = nullptr;

    enum group_t { VALUES_GROUP = 1, HUE_GROUP = 2 };

signals:
    void paramsChanged(QObject *s);
    void sampleModeChanged(int mode);
    void newToHistory(QString txt);
    void removeLastFromHistory();

public slots:
    void colorAdjustResetSlot(bool doUpdate);
    void colorAdjustResetSlot() { colorAdjustResetSlot(true); }
    void update(bool init);
    void update() { update(false); }
    void storeHistory(bool def);
    void storeHistory() { storeHistory(false); }

protected:
    void applyDeferredChange(unsigned groups, bool announce, QObject *sender) override;

private slots:
    void sampleModeChangedSlot();

private:
    void updateFrom(QObject *s, bool init);
    void writeRecord(unsigned groups);

    processingProject *project;
};

#endif // COLORADJUSTGROUP_H
