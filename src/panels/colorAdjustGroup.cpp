#include "panels/colorAdjustGroup.h"

#include "app/utils.h"
#include "panels/panelSupport.h"
#include "project/colorMaths.h"
#include "project/processingParamsTable.h"
#include "project/processingProject.h"
#include "widgets/colorSample.h"
#include "widgets/myQPushButton.h"
#include "widgets/slider.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QVariant>

#include <algorithm>

void whiteBalanceMultipliers(double temperatureSetting, double tintSetting, double multipliers[3])
{
    rgbDouble_t c;
    colorTemperatureToRgb(c, colorTemperatureSettingToKelvin(temperatureSetting));
    const double g = c.g * (tintSetting + 0.4) / 1.4;
    multipliers[0] = c.b / c.r;
    multipliers[1] = c.b / g;
    multipliers[2] = 1.0;
}

colorAdjustGroup::colorAdjustGroup(processingProject *project, const QString &title)
    : toolBox(title, true, true), project(project)
{
    const double s = uiScale();
    const int h = QSpinBox().sizeHint().height();
    const int bw = int(20 * s + 0.5);

    auto *layout = new QVBoxLayout(body());
    auto *row = new QHBoxLayout;
    row->setSpacing(int(3 * s));
    eyedropper = new QPushButton;
    eyedropper->setIcon(makeColoredIcon(":/resources/eyedropper.png"));
    eyedropper->setCheckable(true);
    eyedropper->setFixedSize(bw, h);
    swatch = new colorSample(false, false);
    swatch->setProperty("myFrame", true);
    swatch->setFixedSize(int(bw * 1.6), h);
    reset = new QPushButton;
    reset->setIcon(makeColoredIcon(":/resources/default_m.png"));
    reset->setFixedSize(int(17 * s + 0.5), h);
    row->addWidget(new QLabel(tr("White balance (sample)") + ":"));
    row->addStretch();
    row->addWidget(eyedropper);
    row->addWidget(swatch);
    row->addWidget(reset);
    layout->addLayout(row);

    padlock()->setToolTip("<html>" + tr("When locked, the white balance settings are not loaded from presets.")
                          + "</html>");
    eyedropper->setToolTip("<html>"
                           + tr("Use it to take a sample from the image. The point that should become neutral "
                                "(gray) should be selected. The temperature and tint settings will be "
                                "automatically adjusted.")
                           + "</html>");

    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    struct row_t {
        slider **member;
        const char *key;
        const char *property;
    } rows[] = {{&temperature, "ColorAdjust/Temperature", "Temperature"},
                {&tint, "ColorAdjust/Tint", "Tint"},
                {&hue, "ColorAdjust/Hue", "Hue"}};
    for (int r = 0; r < 3; ++r) {
        const QString key = QString::fromLatin1(rows[r].key);
        *rows[r].member = panelSupport::makeSlider(panelSupport::specFor(key), QString(), rows[r].property);
        const processingParamField_t *f = panelSupport::fieldFor(key);
        grid->addWidget(new QLabel(tr(f ? f->label : "") + ":"), r, 0);
        grid->addWidget(*rows[r].member, r, 1);
    }
    swatch->setColor(false, Qt::white, Qt::black);
    connectSignals(true);
}

void colorAdjustGroup::connectSignals(bool connect)
{
    const QList<slider *> sliders = {temperature, tint, hue};
    if (!connect) {
        reset->disconnect();
        eyedropper->disconnect();
        for (slider *s : sliders)
            s->disconnect();
        return;
    }
    for (slider *s : sliders)
        QObject::connect(s, &slider::valueChanged, this, &toolBox::conditionalLockEnabled);
    QObject::connect(reset, &QPushButton::clicked, this, qOverload<>(&colorAdjustGroup::colorAdjustResetSlot));
    QObject::connect(eyedropper, &QPushButton::clicked, this, &colorAdjustGroup::sampleModeChangedSlot);
    for (slider *s : sliders)
        QObject::connect(s, &slider::valueChanged, this, qOverload<>(&colorAdjustGroup::update));
    QObject::connect(reset, &QPushButton::clicked, this, qOverload<>(&colorAdjustGroup::storeHistory));
    for (slider *s : sliders)
        QObject::connect(s, &slider::valueChanged, this, qOverload<bool>(&colorAdjustGroup::storeHistory));
    if (liveToneMapping())
        for (slider *s : sliders)
            QObject::connect(s, &slider::valueChangedLive, this, qOverload<>(&colorAdjustGroup::update));
}

void colorAdjustGroup::whiteBalanceSampleTaken(const rgbDouble_t &value)
{
    double t = 1.0, ti = 1.0;
    estimateTemperatureTint(value, t, ti);
    {
        const QSignalBlocker blockTemperature(temperature);
        const QSignalBlocker blockTint(tint);
        temperature->setValue(t);
        tint->setValue(ti);
    }
    updateFrom(nullptr, false);
    emit newToHistory(tr("White balance sample taken"));
    if (isLocked())
        emit lockEnabled(this);
}

void colorAdjustGroup::showRecord(const processingParams_t &params)
{
    panelSupport::showValue(temperature, "ColorAdjust/Temperature", params);
    panelSupport::showValue(tint, "ColorAdjust/Tint", params);
    panelSupport::showValue(hue, "ColorAdjust/Hue", params);
}

void colorAdjustGroup::sampleModeChangedSlot()
{
    emit sampleModeChanged(eyedropper->isChecked() ? 3 : 0);
}

void colorAdjustGroup::update(bool init)
{
    updateFrom(sender(), init);
}

void colorAdjustGroup::updateFrom(QObject *s, bool init)
{
    const unsigned groups = unsigned(VALUES_GROUP) | ((init || s == hue) ? unsigned(HUE_GROUP) : 0u);
    if (deferWhileToneMapping(groups, init, s))
        return;
    writeRecord(groups);
    if (!init)
        emit paramsChanged(s);
}

void colorAdjustGroup::applyDeferredChange(unsigned groups, bool announce, QObject *s)
{
    writeRecord(groups);
    if (announce)
        emit paramsChanged(s);
}

void colorAdjustGroup::writeRecord(unsigned groups)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    p->temperature = temperature->value();
    p->tint = tint->value();
    p->hue = hue->value();
    if (groups & HUE_GROUP)
        panelTables::colorMatrix(p);
    whiteBalanceMultipliers(p->temperature, p->tint, p->rgbMultipliers);

    // The swatch shows the cast the multipliers correct.
    const double x = 1.0 / p->rgbMultipliers[0], y = 1.0 / p->rgbMultipliers[1], z = 1.0 / p->rgbMultipliers[2];
    const double m = std::max({x, y, z, 0.01});
    const QColor cast = QColor::fromRgbF(std::min(x / m, 1.0), std::min(y / m, 1.0), std::min(z / m, 1.0));
    swatch->setColor(false, project->transformColor(cast), Qt::black);

    if (!effectEnabled())
        setEffectEnabledSilently(true);
}

void colorAdjustGroup::colorAdjustResetSlot(bool doUpdate)
{
    {
        const QSignalBlocker blockTemperature(temperature);
        const QSignalBlocker blockTint(tint);
        temperature->setValue(1.0);
        tint->setValue(1.0);
    }
    updateFrom(sender(), !doUpdate);
    if (doUpdate && isLocked())
        emit lockEnabled(this);
}

void colorAdjustGroup::storeHistory(bool def)
{
    if (def)
        emit removeLastFromHistory();
    QObject *s = sender();
    QString text;
    if (s == temperature || s == tint || s == hue) {
        const char *key = s == temperature ? "ColorAdjust/Temperature" : s == tint ? "ColorAdjust/Tint" : "ColorAdjust/Hue";
        const processingParamField_t *f = panelSupport::fieldFor(QString::fromLatin1(key));
        text = panelSupport::valueText(tr(f ? f->label : ""), static_cast<slider *>(s)->value());
    } else if (s == reset) {
        text = QString("%1").arg(tr("Reset color adjustment"));
    }
    emit newToHistory(text);
}
