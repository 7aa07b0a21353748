#ifndef PROCESSINGPARAMSTABLE_H
#define PROCESSINGPARAMSTABLE_H

// The one table of the scalar settings of processingParams_t: for each value
// its settings-file key (element "/" attribute), the label its panel shows,
// its range, its panel default, the decimals it is written and shown with,
// and how to read and write it in a record. The panels, the settings-file
// reader and writer and the presets all take these facts from here.
//
// Flags (on/off values) have range 0..1, 0 decimals, and read as 0 or 1.
// The curves and the two selective knee-point lists are not scalar values and
// are not in the table.

#include "project/processingParams.h"

#include <QString>
#include <vector>

// The panel that shows a value; the padlock of a panel protects its values
// when a settings file is applied.
enum class processingPanel_e
{
    toneMapping,     // "Tone mapping": compression, gamma, local contrast, mask, sharpness
    levels,          // "Histogram, black & white point"
    colorSaturation, // "Color saturation"
    colorAdjustment, // "Color adjustment": temperature, tint, hue
    vignette         // "Vignette"
};

struct processingParamField_t
{
    const char *element;     // settings-file element, e.g. "GlobalOp"
    const char *attribute;   // settings-file attribute, e.g. "Compression"
    const char *label;       // panel label without the ":" ("" when the panel shows none)
    double minimum;
    double maximum;
    double defaultValue;     // the value the panel's default button sets
    int decimals;            // decimals written and shown (0 for flags)
    processingPanel_e panel;
    double processingParams_t::*doubleMember; // exactly one of the two is set
    bool processingParams_t::*flagMember;

    // "Element/Attribute".
    QString key() const;
    bool isFlag() const { return flagMember != nullptr; }
    // The value in a record (flags as 0 or 1).
    double get(const processingParams_t &params) const;
    // Stores a value in a record (flags: any non-zero value is on).
    void set(processingParams_t &params, double value) const;
    // Whether a value lies inside the field's range.
    bool inRange(double value) const { return value >= minimum && value <= maximum; }
};

// Every field, in the order a settings file stores them.
const std::vector<processingParamField_t> &processingParamFields();

// The field with the key "Element/Attribute" (case-sensitive), or nullptr.
const processingParamField_t *processingParamField(const QString &key);

#endif // PROCESSINGPARAMSTABLE_H
