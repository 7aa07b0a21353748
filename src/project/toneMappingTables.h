#ifndef TONEMAPPINGTABLES_H
#define TONEMAPPINGTABLES_H

// The per-layer tables derived from a processingParams_t: output curves, the
// mask-operation tables, the colour matrix and the vignette profile. Each
// builder writes only into tables the record already points at; a missing
// table is logged and left alone (the builder returns false).

#include "project/processingParams.h"

#include <QtGlobal>

struct _generateLUT_threadParams_t
{
    int channel = 0;                 // -1 = plain power, 0..2 = red, green, blue
    double *output = nullptr;        // SAMPLE_TABLE_SIZE entries
    double exponent = 1.0;           // 1 / gamma
    int entries = SAMPLE_TABLE_SIZE;
    int start = 0, end = 0;          // entry range [start, end)
    const quint16 *curves[PP_CURVE_COUNT] = {}; // master, red, green, blue
};

struct _generateTMtable_threadParams_t
{
    float *output = nullptr;         // 2048 x 2048
    const double *logC = nullptr;    // ln(c_j), private to the task
    const double *log1mC = nullptr;  // ln(1 - c_j), private to the task
    double strength = 0.0;
    int firstRow = 0, lastRow = 0;   // [firstRow, lastRow)
    int size = PP_MASK_TABLE_SIZE;
};

void generateLUTThread(const _generateLUT_threadParams_t &p);
void generateTMtableThread(const _generateTMtable_threadParams_t &p);

// Fills channelLut[channel] (0..2) from the master curve, that channel's curve
// and the gamma, in `threads` tasks. A missing curve table counts as identity.
bool buildLookupTable(processingParams_t *params, int channel, int threads);

class processingProject;
// The same with the project's task count (defined with the project's tone mapping).
void buildLookupTableParallel(processingProject *project, processingParams_t *settings, int channel);

// Fills maskToneTable from maskHighlights and maskShadows.
bool buildMaskToneTable(processingParams_t *params, int threads);

// Fills maskWeightTable (the mask operation's strength by luminance).
bool buildMaskWeightTable(processingParams_t *params);

// Rebuilds colorMatrix: identity, then saturation, then hue rotation.
void updateColorMatrix(processingParams_t *params);

// Entries of the vignette profile for an image of the given size (64-bit
// arithmetic, so very large panoramas do not overflow).
int vignetteProfileCountFor(int width, int height);

// Fills vignetteProfile (its vignetteProfileCount entries) from the settings.
bool buildVignetteProfile(processingParams_t *params);

#endif // TONEMAPPINGTABLES_H
