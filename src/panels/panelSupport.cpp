#include "panels/panelSupport.h"

#include "app/debugLog.h"
#include "project/curveMaths.h"
#include "project/processingParams.h"
#include "project/processingParamsTable.h"
#include "project/processingProject.h"
#include "project/toneMappingTables.h"
#include "widgets/slider.h"

#include <cmath>

namespace panelSupport {

const processingParamField_t *fieldFor(const QString &key)
{
    const processingParamField_t *f = processingParamField(key);
    if (!f)
        debugLog("panelSupport::fieldFor: no setting %s\n", qPrintable(key));
    return f;
}

sliderSpec_t specFor(const QString &key)
{
    sliderSpec_t spec;
    if (const processingParamField_t *f = fieldFor(key)) {
        spec.minimum = f->minimum;
        spec.maximum = f->maximum;
        spec.defaultValue = f->defaultValue;
        spec.decimals = f->decimals;
        spec.step = std::pow(10.0, -f->decimals);
    }
    return spec;
}

slider *makeSlider(const sliderSpec_t &spec, const QString &label, const QString &property)
{
    return new slider(label, slider::DefaultButton | slider::EditMode, 0, spec.decimals, property,
                      spec.minimum, spec.maximum, spec.defaultValue, spec.step);
}

processingParams_t *currentRecord(processingProject *project)
{
    const int layer = qBound(0, int(project->currentLayer), LAYER_COUNT - 1);
    return &project->layerSettings[layer];
}

void showValue(slider *s, const QString &key, const processingParams_t &params)
{
    const processingParamField_t *f = fieldFor(key);
    if (!f)
        return;
    const QSignalBlocker block(s);
    s->setValue(f->get(params));
}

QString valueText(const QString &label, double value)
{
    return QString("%1: %2").arg(label).arg(value, 0, 'f', 2);
}

QString switchText(const QString &label, const QString &onOff)
{
    return QString("%1: %2").arg(label, onOff);
}

QString groupPrefix(const QString &group)
{
    return "<font size='2'>" + group + "</font>, ";
}

} // namespace panelSupport

namespace panelTables {

namespace {
observer_t &currentObserver()
{
    static observer_t observer;
    return observer;
}

void report(tableKind_t kind, int index, const processingParams_t *record)
{
    if (currentObserver())
        currentObserver()(kind, index, record);
}
} // namespace

void setObserver(observer_t observer)
{
    currentObserver() = std::move(observer);
}

void curveLut(processingParams_t *record, int curve, const QList<QPointF> &points, int type)
{
    if (curve < 0 || curve >= PP_CURVE_COUNT || !record->curveLut[curve]) {
        debugLog("panelTables::curveLut: no table for curve %d\n", curve);
        return;
    }
    curveToLut16(record->curveLut[curve], points, type);
    report(CURVE_LUT, curve, record);
}

void lookupTable(processingProject *project, processingParams_t *record, int channel)
{
    buildLookupTableParallel(project, record, channel);
    report(LOOKUP, channel, record);
}

void maskToneTable(processingProject *project, processingParams_t *record)
{
    project->generateTMtable(record);
    report(MASK_TONE, 0, record);
}

void maskWeightTable(processingProject *project, processingParams_t *record)
{
    project->toneCurveTable(record);
    report(MASK_WEIGHT, 0, record);
}

void colorMatrix(processingParams_t *record)
{
    updateColorMatrix(record);
    report(COLOR_MATRIX, 0, record);
}

void vignetteProfile(processingProject *project, processingParams_t *record)
{
    project->vignetteProfile(record);
    report(VIGNETTE_PROFILE, 0, record);
}

void selectiveTableBuilt(tableKind_t kind, processingParams_t *record)
{
    report(kind, 0, record);
}

} // namespace panelTables
