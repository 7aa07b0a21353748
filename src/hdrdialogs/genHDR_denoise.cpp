#include "hdrdialogs/genHDR_denoise.h"

#include "app/programOptionsSettings.h"
#include "widgets/slider.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace {

// The settings fields of each kind, or null without a settings record.
struct denoiseFields {
    bool *enabled = nullptr;
    int *strength = nullptr;
    int *softness = nullptr;
};

denoiseFields fieldsOf(int kind)
{
    denoiseFields f;
    if (!optionsInstance)
        return f;
    switch (kind) {
    case 0:
        f = {&optionsInstance->generateHDR.noiseFilter, &optionsInstance->generateHDR.noiseFilterStrength,
             &optionsInstance->generateHDR.noiseFilterSoftness};
        break;
    case 1:
        f = {&optionsInstance->loadHDR.noiseFilter, &optionsInstance->loadHDR.noiseFilterStrength,
             &optionsInstance->loadHDR.noiseFilterSoftness};
        break;
    default:
        f = {&optionsInstance->enhanceLDR.noiseFilter, &optionsInstance->enhanceLDR.noiseFilterStrength,
             &optionsInstance->enhanceLDR.noiseFilterSoftness};
        break;
    }
    return f;
}

} // namespace

genHDR_denoise::genHDR_denoise(int kind, QWidget *parent) : QGroupBox(tr("Noise filtering"), parent), panelKind(kind)
{
    setCheckable(true);
    setSizePolicy(QSizePolicy::Expanding, sizePolicy().verticalPolicy());
    strength = new slider(QString(), 0, 0, 0, QString(), 1, 10, 2, 1);
    softness = new slider(QString(), 0, 0, 0, QString(), 1, 10, 2, 1);
    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Strength") + ":"), 0, 0);
    grid->addWidget(strength, 0, 1);
    grid->addWidget(new QLabel(tr("Softness") + ":"), 1, 0);
    grid->addWidget(softness, 1, 1);

    // Defaults when there is no settings record: on, 2, 2.
    denoiseSettings_t s;
    s.enabled = true;
    const denoiseFields f = fieldsOf(kind);
    if (f.enabled) {
        s.enabled = *f.enabled;
        s.strength = *f.strength;
        s.softness = *f.softness;
    }
    setSettings(s);

    connect(this, &QGroupBox::clicked, this, &genHDR_denoise::changed);
    connect(strength, &slider::valueChanged, this, &genHDR_denoise::changed);
    connect(softness, &slider::valueChanged, this, &genHDR_denoise::changed);
}

denoiseSettings_t genHDR_denoise::getSettings()
{
    denoiseSettings_t s;
    s.enabled = isChecked();
    s.strength = int(strength->value());
    s.softness = int(softness->value());
    const denoiseFields f = fieldsOf(panelKind);
    if (f.enabled) {
        *f.enabled = s.enabled;
        *f.strength = s.strength;
        *f.softness = s.softness;
    }
    return s;
}

void genHDR_denoise::setSettings(const denoiseSettings_t &s)
{
    const QSignalBlocker blockGroup(this);
    const QSignalBlocker blockStrength(strength);
    const QSignalBlocker blockSoftness(softness);
    setChecked(s.enabled);
    strength->setValue(s.strength);
    softness->setValue(s.softness);
}
