#include "project/processingParamsTable.h"

namespace
{
using pp = processingParams_t;

processingParamField_t value(const char *element, const char *attribute, const char *label, double minimum,
                             double maximum, double defaultValue, int decimals, processingPanel_e panel,
                             double pp::*member)
{
    return {element, attribute, label, minimum, maximum, defaultValue, decimals, panel, member, nullptr};
}

processingParamField_t flag(const char *element, const char *attribute, const char *label, processingPanel_e panel,
                            bool pp::*member)
{
    return {element, attribute, label, 0.0, 1.0, 0.0, 0, panel, nullptr, member};
}

std::vector<processingParamField_t> buildTable()
{
    using P = processingPanel_e;
    return {
        value("GlobalOp", "Compression", "Compression", 0.1, 4.0, 1.4, 2, P::toneMapping, &pp::compression),
        value("GlobalOp", "Gamma", "Gamma", 0.1, 4.0, 0.9, 2, P::toneMapping, &pp::gamma),
        flag("LocalContrastOp", "Enabled", "Local contrast", P::toneMapping, &pp::lcEnabled),
        value("LocalContrastOp", "Strength", "Strength", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::lcStrength),
        value("LocalContrastOp", "Highlights", "Highlights", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::lcHighlights),
        value("LocalContrastOp", "Shadows", "Shadows", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::lcShadows),
        value("LocalContrastOp", "Blackness", "Blackness", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::lcBlackness),
        value("LocalContrastOp", "Range", "Range", 0.0, 1.0, 0.5, 2, P::toneMapping, &pp::lcRange),
        value("LocalContrastOp", "Micro", "Micro", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::lcMicro),
        flag("MaskOp", "Enabled", "Mask", P::toneMapping, &pp::maskEnabled),
        value("MaskOp", "Highlights", "Highlights", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::maskHighlights),
        value("MaskOp", "Shadows", "Shadows", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::maskShadows),
        // The levels editor's clip spin boxes (percentages) and its two markers.
        flag("HistogramClip", "AutoClipping", "", P::levels, &pp::autoClipping),
        value("HistogramClip", "WhitePoint", "", 0.0, 99.9999, 0.0, 4, P::levels, &pp::whitePoint),
        value("HistogramClip", "BlackPoint", "", 0.0, 99.9999, 0.0, 4, P::levels, &pp::blackPoint),
        value("HistogramClip", "WhitePointValue", "", 0.0, 1.0, 1.0, 4, P::levels, &pp::whitePointValue),
        value("HistogramClip", "BlackPointValue", "", 0.0, 1.0, 0.0, 4, P::levels, &pp::blackPointValue),
        value("Other", "Sharpness", "Sharpness", 0.0, 1.0, 0.3, 2, P::toneMapping, &pp::sharpness),
        value("ColorAdjust", "Temperature", "Temperature", 0.0, 2.0, 1.0, 2, P::colorAdjustment, &pp::temperature),
        value("ColorAdjust", "Tint", "Tint", 0.0, 2.0, 1.0, 2, P::colorAdjustment, &pp::tint),
        value("ColorAdjust", "Hue", "Hue", 0.0, 2.0, 1.0, 2, P::colorAdjustment, &pp::hue),
        value("Vignette", "Amount", "Amount", -1.0, 1.0, 0.0, 2, P::vignette, &pp::vignetteAmount),
        value("Vignette", "Smoothness", "Smoothness", 0.0, 2.0, 1.0, 2, P::vignette, &pp::vignetteSmoothness),
        value("Vignette", "Size", "Size", 0.0, 2.0, 1.0, 2, P::vignette, &pp::vignetteSize),
        value("Vignette", "Roundness", "Roundness", -1.0, 1.0, 0.0, 2, P::vignette, &pp::vignetteRoundness),
        // The centre is not shown in the panel; it covers the image.
        value("Vignette", "CenterX", "", 0.0, 1.0, 0.5, 6, P::vignette, &pp::vignetteCenterX),
        value("Vignette", "CenterY", "", 0.0, 1.0, 0.5, 6, P::vignette, &pp::vignetteCenterY),
        value("Saturation", "Saturation", "Saturation", 0.0, 2.0, 1.0, 2, P::colorSaturation, &pp::saturation),
    };
}
} // namespace

QString processingParamField_t::key() const
{
    return QString::fromLatin1(element) + QLatin1Char('/') + QString::fromLatin1(attribute);
}

double processingParamField_t::get(const processingParams_t &params) const
{
    if (flagMember)
        return (params.*flagMember) ? 1.0 : 0.0;
    return params.*doubleMember;
}

void processingParamField_t::set(processingParams_t &params, double value) const
{
    if (flagMember)
        params.*flagMember = (value != 0.0);
    else
        params.*doubleMember = value;
}

const std::vector<processingParamField_t> &processingParamFields()
{
    static const std::vector<processingParamField_t> table = buildTable();
    return table;
}

const processingParamField_t *processingParamField(const QString &key)
{
    for (const processingParamField_t &f : processingParamFields())
        if (f.key() == key)
            return &f;
    return nullptr;
}
