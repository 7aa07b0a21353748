#include "panels/colorSaturationGroup.h"

#include "panels/panelSupport.h"
#include "panels/selectiveCurveTool.h"
#include "project/processingParamsTable.h"
#include "project/processingProject.h"
#include "widgets/myQPushButton.h"
#include "widgets/slider.h"

#include <QVBoxLayout>

colorSaturationGroup::colorSaturationGroup(processingProject *project, const QString &title)
    : toolBox(title, true, true), project(project)
{
    auto *layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    const QString key = "Saturation/Saturation";
    const processingParamField_t *f = panelSupport::fieldFor(key);
    saturation = panelSupport::makeSlider(panelSupport::specFor(key), tr(f ? f->label : "") + ":");
    hueSelective = new selectiveCurveTool(0);
    brightnessSelective = new selectiveCurveTool(1);
    layout->addWidget(saturation);
    layout->addWidget(hueSelective);
    layout->addWidget(brightnessSelective);
    padlock()->setToolTip("<html>" + tr("When locked, the color saturation settings are not loaded from presets.")
                          + "</html>");
    connectSignals(true);
}

void colorSaturationGroup::connectSignals(bool connect)
{
    if (!connect) {
        saturation->disconnect();
        // Only the panel's own connections: the window's stay.
        hueSelective->disconnect(this);
        brightnessSelective->disconnect(this);
        return;
    }
    QObject::connect(saturation, &slider::valueChanged, this, &toolBox::conditionalLockEnabled);
    for (selectiveCurveTool *e : {hueSelective, brightnessSelective}) {
        QObject::connect(e, &selectiveCurveTool::curveChanged, this, &toolBox::conditionalLockEnabled);
        QObject::connect(e, &selectiveCurveTool::changed, this, &colorSaturationGroup::conditionalLockEnabledMaybe);
    }
    QObject::connect(saturation, &slider::valueChanged, this, qOverload<>(&colorSaturationGroup::update));
    for (selectiveCurveTool *e : {hueSelective, brightnessSelective})
        QObject::connect(e, &selectiveCurveTool::curveChanged, this, qOverload<>(&colorSaturationGroup::update));
    QObject::connect(saturation, &slider::valueChanged, this, qOverload<bool>(&colorSaturationGroup::storeHistory2));
    for (selectiveCurveTool *e : {hueSelective, brightnessSelective})
        QObject::connect(e, &selectiveCurveTool::changed, this, qOverload<int>(&colorSaturationGroup::storeHistory1));
    if (liveToneMapping()) {
        QObject::connect(saturation, &slider::valueChangedLive, this, qOverload<>(&colorSaturationGroup::update));
        for (selectiveCurveTool *e : {hueSelective, brightnessSelective})
            QObject::connect(e, &selectiveCurveTool::curveChangedLive, this,
                             qOverload<>(&colorSaturationGroup::update));
    }
}

void colorSaturationGroup::showRecord(const processingParams_t &params)
{
    panelSupport::showValue(saturation, "Saturation/Saturation", params);
    const QSignalBlocker blockHue(hueSelective), blockBrightness(brightnessSelective);
    hueSelective->setKneePoints(params.hueSelectivePoints);
    brightnessSelective->setKneePoints(params.brightnessSelectivePoints);
}

void colorSaturationGroup::conditionalLockEnabledMaybe(int reason)
{
    // A deleted knee comes without curveChanged().
    if (reason == 1)
        conditionalLockEnabled();
}

void colorSaturationGroup::update(bool init)
{
    QObject *s = sender();
    unsigned groups = 0;
    if (init || s == saturation)
        groups |= SATURATION_GROUP;
    if (init || s == hueSelective)
        groups |= HUE_GROUP;
    if (init || s == brightnessSelective)
        groups |= BRIGHTNESS_GROUP;
    if (deferWhileToneMapping(groups, init, s))
        return;
    writeRecord(groups);
    if (!init)
        emit paramsChanged(s);
}

void colorSaturationGroup::applyDeferredChange(unsigned groups, bool announce, QObject *s)
{
    writeRecord(groups);
    if (announce)
        emit paramsChanged(s);
}

void colorSaturationGroup::writeRecord(unsigned groups)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    if (groups & SATURATION_GROUP)
        p->saturation = saturation->value();
    if ((groups & HUE_GROUP) && p->hueSelectiveTable) {
        p->hueSelectiveSet = true;
        hueSelective->canvas()->selectiveCurveToTable(p->hueSelectiveTable, SAMPLE_TABLE_SIZE, true);
        panelTables::selectiveTableBuilt(panelTables::HUE_SELECTIVE, p);
    }
    if ((groups & BRIGHTNESS_GROUP) && p->brightnessSelectiveTable) {
        p->brightnessSelectiveSet = true;
        brightnessSelective->canvas()->selectiveCurveToTable(p->brightnessSelectiveTable, SAMPLE_TABLE_SIZE,
                                                             true);
        panelTables::selectiveTableBuilt(panelTables::BRIGHTNESS_SELECTIVE, p);
    }
    if (groups & SATURATION_GROUP)
        panelTables::colorMatrix(p);
    // Any edit switches the effect on again.
    if (!effectEnabled())
        setEffectEnabledSilently(true);
}

void colorSaturationGroup::storeHistory1(int reason)
{
    storeHistoryFor(sender(), false, reason);
}

void colorSaturationGroup::storeHistory2(bool def)
{
    storeHistoryFor(sender(), def, -1);
}

void colorSaturationGroup::storeHistoryFor(QObject *s, bool def, int reason)
{
    if (def)
        emit removeLastFromHistory();
    QString text;
    if (s == saturation) {
        const processingParamField_t *f = panelSupport::fieldFor("Saturation/Saturation");
        text = panelSupport::valueText(tr(f ? f->label : ""), saturation->value());
    } else if (s == hueSelective || s == brightnessSelective) {
        text = QString("%1").arg("<font size='2'>"
                                 + (s == hueSelective ? tr("Hue selective saturation")
                                                      : tr("Brightness selective saturation")));
        static const char *const words[] = {QT_TR_NOOP("added"), QT_TR_NOOP("deleted"), QT_TR_NOOP("moved"),
                                            QT_TR_NOOP("sigma"), QT_TR_NOOP("reset")};
        if (reason >= 0 && reason <= 4)
            text += ",</font> " + tr(words[reason]);
    }
    emit newToHistory(text);
}
