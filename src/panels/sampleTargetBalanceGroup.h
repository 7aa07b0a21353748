#ifndef SAMPLETARGETBALANCEGROUP_H
#define SAMPLETARGETBALANCEGROUP_H

// The "Sample/target balance" filter panel: corrects colour casts by example.
// For each tone range (Shadows, Midtones, Highlights) the user samples a
// colour from the image with an eyedropper (sample modes 4, 5, 6) and chooses
// the colour it should become; Apply shifts the whole result range by range
// by target / sample, blended by the opacity. A black swatch switches its
// part of the correction off. The colours live only in the swatches.

#include "panels/filterGroup.h"
#include "project/rgbDouble.h"

class QPushButton;
class colorSample;

class sampleTargetBalanceGroup : public filterGroup
{
    Q_OBJECT

public:
    enum range_t { SHADOWS = 0, MIDTONES = 1, HIGHLIGHTS = 2, RANGE_COUNT = 3 };

    explicit sampleTargetBalanceGroup(const QString &title);

    // Opacity and the stored working colours of the six swatches.
    postProcessParams_t parameters() const override;

    // A sample taken in mode 4, 5 or 6: the colour goes into the sample and
    // the target swatch of its row (so the row starts neutral). Other modes
    // are ignored.
    void takeSample(int mode, const rgbDouble_t &value);
    // Unchecks the three eyedroppers without any signal.
    void uncheckEyedroppers();

    slider *opacity = nullptr;
    QPushButton *eyedropper[RANGE_COUNT] = {};
    colorSample *sample[RANGE_COUNT] = {};
    colorSample *target[RANGE_COUNT] = {};
    QPushButton *resetButton[RANGE_COUNT] = {};

signals:
    void sampleModeChanged(int mode);

private slots:
    void userTarget();
    void resetTarget();
    void sampleModeChangedSlot();
    void setDefault();
};

#endif // SAMPLETARGETBALANCEGROUP_H
