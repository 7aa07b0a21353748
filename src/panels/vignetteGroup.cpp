#include "panels/vignetteGroup.h"

#include "panels/panelSupport.h"
#include "project/processingParamsTable.h"
#include "project/processingProject.h"
#include "widgets/myQPushButton.h"
#include "widgets/slider.h"

#include <QGridLayout>
#include <QLabel>
#include <QVariant>
#include <QVBoxLayout>

namespace {
// Rows top to bottom: setting key and the slider bar's style property.
struct row_t {
    const char *key;
    const char *property;
};
const row_t rows[] = {{"Vignette/Amount", "Amount"},
                      {"Vignette/Smoothness", "Smoothness"},
                      {"Vignette/Size", "Size"},
                      {"Vignette/Roundness", "Roundness"}};
} // namespace

vignetteGroup::vignetteGroup(processingProject *project, const QString &title)
    : toolBox(title, true, true), project(project)
{
    auto *layout = new QVBoxLayout(body());
    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    slider **members[] = {&amount, &smoothness, &size, &roundness};
    for (int r = 0; r < 4; ++r) {
        const QString key = QString::fromLatin1(rows[r].key);
        slider *s = panelSupport::makeSlider(panelSupport::specFor(key));
        s->sliderWidget()->setProperty(rows[r].property, QVariant(true));
        *members[r] = s;
        const processingParamField_t *f = panelSupport::fieldFor(key);
        grid->addWidget(new QLabel(tr(f ? f->label : "") + ":"), r, 0);
        grid->addWidget(s, r, 1);
    }
    padlock()->setToolTip("<html>" + tr("When locked, the vignette settings are not loaded from presets.")
                          + "</html>");
    roundness->sliderWidget()->setToolTip(
        "<html>"
        + tr("Shape of the vignette. Value 1.00 means circular, 0.00 is elliptical with aspect ratio of the image.")
        + "</html>");
    connectSignals(true);
}

void vignetteGroup::connectSignals(bool connect)
{
    const bool live = liveToneMapping();
    for (slider *s : {amount, smoothness, size, roundness}) {
        if (!connect) {
            s->disconnect();
            continue;
        }
        QObject::connect(s, &slider::valueChanged, this, &toolBox::conditionalLockEnabled);
        QObject::connect(s, &slider::valueChanged, this, qOverload<>(&vignetteGroup::update));
        QObject::connect(s, &slider::valueChanged, this, qOverload<bool>(&vignetteGroup::storeHistory));
        if (live)
            QObject::connect(s, &slider::valueChangedLive, this, qOverload<>(&vignetteGroup::update));
    }
}

void vignetteGroup::showRecord(const processingParams_t &params)
{
    slider *const members[] = {amount, smoothness, size, roundness};
    for (int r = 0; r < 4; ++r)
        panelSupport::showValue(members[r], QString::fromLatin1(rows[r].key), params);
}

void vignetteGroup::update(bool init)
{
    QObject *s = sender();
    if (deferWhileToneMapping(1, init, s))
        return;
    writeRecords();
    if (!init)
        emit paramsChanged(s);
}

void vignetteGroup::applyDeferredChange(unsigned, bool announce, QObject *s)
{
    writeRecords();
    if (announce)
        emit paramsChanged(s);
}

void vignetteGroup::writeRecords()
{
    for (int layer = 0; layer < LAYER_COUNT; ++layer) {
        if (!project->layerEnabled[layer])
            continue;
        processingParams_t *p = &project->layerSettings[layer];
        p->vignetteAmount = amount->value();
        p->vignetteSmoothness = smoothness->value();
        p->vignetteSize = size->value();
        p->vignetteRoundness = roundness->value();
        panelTables::vignetteProfile(project, p);
    }
    // Any edit switches the effect on again.
    if (!effectEnabled())
        setEffectEnabledSilently(true);
}

void vignetteGroup::storeHistory(bool def)
{
    if (def)
        emit removeLastFromHistory();
    QObject *s = sender();
    QString text;
    const struct {
        slider *control;
        const char *key;
    } names[] = {{amount, "Vignette/Amount"},
                 {smoothness, "Vignette/Smoothness"},
                 {size, "Vignette/Size"},
                 {roundness, "Vignette/Roundness"}};
    for (const auto &n : names) {
        if (n.control != s)
            continue;
        const processingParamField_t *f = panelSupport::fieldFor(QString::fromLatin1(n.key));
        text = panelSupport::valueText(panelSupport::groupPrefix(tr("Vignette")) + tr(f ? f->label : ""),
                                       n.control->value());
    }
    emit newToHistory(text);
}
