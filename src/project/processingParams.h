#ifndef PROCESSINGPARAMS_H
#define PROCESSINGPARAMS_H

// The tone-mapping and colour settings of one layer (processingParams_t),
// together with the tables the engine derives from them.
//
// The record has three parts:
//  - the derived part: table pointers and a few values computed from the
//    settings. The tables belong to the project's layer (or to a
//    processingTables_t); a copy of the record points at the same tables.
//  - the user-facing settings (what a settings file stores).
//  - four curves and two knee-point lists, held as implicitly shared value
//    lists: a copy shares them until either side changes them.
// Copying the record (copyProcessingParams, or plain assignment) therefore
// copies the derived part shallowly and the settings and lists by value.

#include "project/curveMaths.h"
#include "project/tableSizes.h"

#include <QList>
#include <QPointF>
#include <QtGlobal>
#include <cstddef>
#include <cstdlib>
#include <memory>

// Table sizes of the derived part.
constexpr int PP_CURVE_COUNT = 4;            // master, red, green, blue
constexpr int PP_HISTOGRAM_SIZE = 4096;      // histogram and cumulative entries
constexpr int PP_MASK_TABLE_SIZE = 2048;     // maskWeightTable entries, maskToneTable side
constexpr int PP_NO_PRESET = -100;           // layerTag of records the project holds

// One tone curve: interpolation type (0 cubic spline, 1 piecewise linear), its
// control points (at most 32, x and y 0..1) and a flag carried with it.
struct curveEntry_t
{
    int type = 0;
    QList<QPointF> points;
    bool flag = false;
};

struct processingParams_t
{
    // ---- derived part (owned by the project's layer, copied shallowly) ----
    bool precalculated = false;                  // the tables below match the settings
    quint16 *curveLut[PP_CURVE_COUNT] = {};      // master, red, green, blue: SAMPLE_TABLE_SIZE entries
    quint32 *histograms[4] = {};                 // luminance, red, green, blue: 4096 counts
    double *cumulative[4] = {};                  // mean, red, green, blue: 4096 percentages
    double *channelLut[3] = {};                  // red, green, blue output curves: SAMPLE_TABLE_SIZE
    double *vignetteProfile = nullptr;           // radial gain by distance
    int vignetteProfileCount = 0;                // entries in vignetteProfile
    float *maskToneTable = nullptr;              // 2048 x 2048: row = mask level
    double *maskWeightTable = nullptr;           // 2048: mask strength by luminance
    double rgbMultipliers[3] = {1.0, 1.0, 1.0};  // white balance from temperature and tint
    double *hueSelectiveTable = nullptr;         // SAMPLE_TABLE_SIZE: saturation change by hue
    double *brightnessSelectiveTable = nullptr;  // SAMPLE_TABLE_SIZE: saturation change by brightness
    float colorMatrix[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    // ---- user-facing settings ----
    int layerIndex = 0;            // 0 = base layer, 1..9 = upper layers
    int layerTag = PP_NO_PRESET;   // applied preset id, -100 = none
    double opacity = 1.0;          // factor on the layer's mask in the merge
    double sharpness = 0.0;        // Other/Sharpness

    curveEntry_t curves[PP_CURVE_COUNT]; // master, red, green, blue

    double gamma = 1.0;            // GlobalOp/Gamma
    double compression = 1.0;      // GlobalOp/Compression

    bool lcEnabled = false;        // LocalContrastOp/Enabled
    double lcStrength = 0.0;
    double lcHighlights = 0.0;
    double lcShadows = 0.0;
    double lcBlackness = 0.0;
    double lcMicro = 0.0;
    double lcRange = 0.5;
    double lcReserved = 0.0;       // kept with the record, never read by the engine

    bool maskEnabled = false;      // MaskOp/Enabled
    double maskHighlights = 0.0;
    double maskShadows = 0.0;

    bool autoClipping = false;     // HistogramClip/AutoClipping
    double blackPoint = 0.0;       // percentage of pixels to clip at black
    double whitePoint = 0.0;       // percentage of pixels to clip at white
    double clippedBelow = 0.0;     // result of the last preview
    double clippedAbove = 0.0;
    double blackPointValue = 0.0;  // black level 0..1
    double whitePointValue = 1.0;  // white level 0..1

    double saturation = 1.0;       // Saturation/Saturation
    double temperature = 1.0;      // ColorAdjust/Temperature (1 = 6500 K)
    double tint = 1.0;             // ColorAdjust/Tint
    double hue = 1.0;              // ColorAdjust/Hue: rotation (hue - 1) x 180 degrees

    QList<selKneePoints_t> brightnessSelectivePoints;
    QList<selKneePoints_t> hueSelectivePoints;

    bool brightnessSelectiveSet = false; // brightnessSelectiveTable has been filled
    bool hueSelectiveSet = false;        // hueSelectiveTable has been filled
    bool saturationActive = false;       // saturation matrix and selective tables take part
    bool colorAdjustActive = false;      // temperature, tint and hue take part

    double vignetteRoundness = 0.0; // Vignette/Roundness (negative: superellipse)
    double vignetteAmount = 0.0;
    double vignetteSmoothness = 0.0;
    double vignetteSize = 0.0;
    bool vignetteEnabled = false;
    double vignetteCenterX = 0.5;
    double vignetteCenterY = 0.5;

    // Releases the two knee-point lists, then the four curves' point lists.
    void destroy();
};

// Deep copy of the settings and lists, shallow copy of the derived part (the
// destination then uses the source's tables). Copying a record into itself
// leaves it unchanged.
void copyProcessingParams(processingParams_t *destination, const processingParams_t *source);
// Copies only the user-facing settings and lists into a record that keeps its
// own derived part (its tables) and its own layerIndex; the destination's
// tables no longer match, so precalculated becomes false.
void copyProcessingSettings(processingParams_t *destination, const processingParams_t *source);

// Owns one full set of the derived tables of a layer (about 19 MB, 16 MB of it
// the mask tone table) and attaches them to a record. The vignette profile is
// sized from the image, so it is allocated separately.
class processingTables_t
{
public:
    // Allocates every table zero-filled; false when memory runs out (nothing
    // stays allocated then).
    bool allocate();
    // Allocates (zero-filled) a vignette profile of count entries; false on failure.
    bool allocateVignetteProfile(int count);
    void freeVignetteProfile();
    void freeAll();
    bool isAllocated() const { return bool(maskTone); }
    // Points the record's derived tables at this set.
    void attach(processingParams_t *params) const;

private:
    // The tables come from calloc: large ones are fresh zero pages that the
    // system provides only when they are first written, so a project's ten
    // layers cost memory only for the tables in use.
    struct freeTable_t
    {
        void operator()(void *table) const { std::free(table); }
    };
    template <typename T>
    using table_t = std::unique_ptr<T[], freeTable_t>;

    table_t<quint16> curveLut[PP_CURVE_COUNT];
    table_t<quint32> histograms[4];
    table_t<double> cumulative[4];
    table_t<double> channelLut[3];
    table_t<float> maskTone;
    table_t<double> maskWeight;
    table_t<double> hueSelective;
    table_t<double> brightnessSelective;
    table_t<double> vignette;
    int vignetteCount = 0;
};

#endif // PROCESSINGPARAMS_H
