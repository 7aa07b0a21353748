#ifndef PANELSUPPORT_H
#define PANELSUPPORT_H

// What the tool panels share: sliders built from a description of range,
// default and decimals; the history text forms; and the one way the panels
// rebuild a layer's derived tables (panelTables), which tests can observe.

#include <QList>
#include <QPointF>
#include <QString>
#include <functional>

class processingProject;
class slider;
struct processingParamField_t;
struct processingParams_t;

// Range, default, step and decimals of a panel slider.
struct sliderSpec_t
{
    double minimum = 0.0;
    double maximum = 1.0;
    double defaultValue = 0.0;
    double step = 0.01;
    int decimals = 2;
};

namespace panelSupport {

// The description of a layer setting, from the one parameter table of the
// layer record (key "Element/Attribute"); the step is one unit of the last
// decimal. A key that is not in the table is a programming error: it gives a
// 0..1 slider and a log line.
sliderSpec_t specFor(const QString &key);
// The table field of a key, or nullptr (logged).
const processingParamField_t *fieldFor(const QString &key);

// A panel slider: flags 6 (value field and default button), no fixed label
// width, no object name. property: the dynamic property on the slider bar
// (colour ramps), empty for none.
slider *makeSlider(const sliderSpec_t &spec, const QString &label = QString(),
                   const QString &property = QString());

// The record of the project's current layer (the layer index limited to the
// layers the project has).
processingParams_t *currentRecord(processingProject *project);

// Shows the record's value of a setting in a slider, signals blocked.
void showValue(slider *s, const QString &key, const processingParams_t &params);

// "%1: %2" with the label and the value in fixed notation with two decimals.
QString valueText(const QString &label, double value);
// "%1: %2" with the label and "on" or "off" (translated by the caller's context).
QString switchText(const QString &label, const QString &onOff);
// The prefix of a control inside a named group: "<font size='2'>" + group + "</font>, ".
QString groupPrefix(const QString &group);

} // namespace panelSupport

// Every table rebuild a panel makes goes through here, so that tests can see
// exactly which tables a change rebuilt.
namespace panelTables {

enum tableKind_t {
    CURVE_LUT,            // index = curve 0..3
    LOOKUP,               // index = channel 0..2 (buildLookupTableParallel)
    MASK_TONE,            // generateTMtable
    MASK_WEIGHT,          // toneCurveTable
    COLOR_MATRIX,         // updateColorMatrix
    VIGNETTE_PROFILE,     // vignetteProfile
    HUE_SELECTIVE,        // the hue-selective saturation table
    BRIGHTNESS_SELECTIVE, // the brightness-selective saturation table
};

// Called after every rebuild with the kind, the index and the record.
using observer_t = std::function<void(tableKind_t kind, int index, const processingParams_t *record)>;
// Installs (or, with an empty function, removes) the observer.
void setObserver(observer_t observer);

void curveLut(processingParams_t *record, int curve, const QList<QPointF> &points, int type);
void lookupTable(processingProject *project, processingParams_t *record, int channel);
void maskToneTable(processingProject *project, processingParams_t *record);
void maskWeightTable(processingProject *project, processingParams_t *record);
void colorMatrix(processingParams_t *record);
void vignetteProfile(processingProject *project, processingParams_t *record);
// Reports a selective table the caller has just filled.
void selectiveTableBuilt(tableKind_t kind, processingParams_t *record);

} // namespace panelTables

#endif // PANELSUPPORT_H
