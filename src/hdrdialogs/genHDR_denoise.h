#ifndef GENHDR_DENOISE_H
#define GENHDR_DENOISE_H

// The checkable "Noise filtering" group (strength and softness of the wavelet
// noise filter). Each kind keeps its own stored settings: 0 HDR generation,
// 1 HDR loading, 2 LDR enhancement.

#include <QGroupBox>

class slider;

// What the noise-filter group hands to the filter.
struct denoiseSettings_t {
    bool enabled = false;
    int strength = 2;
    int softness = 2;
};

class genHDR_denoise : public QGroupBox
{
    Q_OBJECT

public:
    genHDR_denoise(int kind, QWidget *parent = nullptr);

    int kind() const { return panelKind; }
    slider *strengthSlider() const { return strength; }
    slider *softnessSlider() const { return softness; }

    // The group's state; also written back into this kind's settings fields
    // when a settings record exists.
    denoiseSettings_t getSettings();
    // Sets the group's state (program code; no signals).
    void setSettings(const denoiseSettings_t &s);

signals:
    void changed();

private:
    int panelKind = 0;
    slider *strength = nullptr;
    slider *softness = nullptr;
};

#endif // GENHDR_DENOISE_H
