#include "project/processingParams.h"

#include "platform/systemMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

void processingParams_t::destroy()
{
    brightnessSelectivePoints.clear();
    hueSelectivePoints.clear();
    for (curveEntry_t &curve : curves)
        curve.points.clear();
}

void copyProcessingParams(processingParams_t *destination, const processingParams_t *source)
{
    if (!destination || !source || destination == source)
        return;
    // Table pointers and values are copied as they are; the point lists are
    // value lists that share their data until either side changes them.
    *destination = *source;
}

void copyProcessingSettings(processingParams_t *destination, const processingParams_t *source)
{
    if (!destination || !source || destination == source)
        return;
    const processingParams_t own = *destination;
    *destination = *source;
    std::memcpy(destination->curveLut, own.curveLut, sizeof own.curveLut);
    std::memcpy(destination->histograms, own.histograms, sizeof own.histograms);
    std::memcpy(destination->cumulative, own.cumulative, sizeof own.cumulative);
    std::memcpy(destination->channelLut, own.channelLut, sizeof own.channelLut);
    destination->vignetteProfile = own.vignetteProfile;
    destination->vignetteProfileCount = own.vignetteProfileCount;
    destination->maskToneTable = own.maskToneTable;
    destination->maskWeightTable = own.maskWeightTable;
    std::memcpy(destination->rgbMultipliers, own.rgbMultipliers, sizeof own.rgbMultipliers);
    destination->hueSelectiveTable = own.hueSelectiveTable;
    destination->brightnessSelectiveTable = own.brightnessSelectiveTable;
    std::memcpy(destination->colorMatrix, own.colorMatrix, sizeof own.colorMatrix);
    destination->layerIndex = own.layerIndex;
    destination->precalculated = false;
}

namespace {

// calloc: zero-filled without writing (and so committing) the pages.
template <typename Table>
bool allocateZeroed(Table &table, size_t count)
{
    using T = typename Table::element_type;
    static_assert(std::is_trivial<T>::value, "tables hold plain numbers");
    table.reset(static_cast<T *>(std::calloc(count, sizeof(T))));
    // The 2048 x 2048 mask-tone table is read at random by the tone mapping:
    // huge pages keep its address translations few.
    adviseHugePages(table.get(), count * sizeof(T));
    return bool(table);
}

} // namespace

bool processingTables_t::allocate()
{
    freeAll();
    bool ok = true;
    for (auto &table : curveLut)
        ok = ok && allocateZeroed(table, SAMPLE_TABLE_SIZE);
    for (auto &table : histograms)
        ok = ok && allocateZeroed(table, PP_HISTOGRAM_SIZE);
    for (auto &table : cumulative)
        ok = ok && allocateZeroed(table, PP_HISTOGRAM_SIZE);
    for (auto &table : channelLut)
        ok = ok && allocateZeroed(table, SAMPLE_TABLE_SIZE);
    ok = ok && allocateZeroed(maskWeight, PP_MASK_TABLE_SIZE);
    ok = ok && allocateZeroed(hueSelective, SAMPLE_TABLE_SIZE);
    ok = ok && allocateZeroed(brightnessSelective, SAMPLE_TABLE_SIZE);
    ok = ok && allocateZeroed(maskTone, size_t(PP_MASK_TABLE_SIZE) * PP_MASK_TABLE_SIZE);
    if (!ok)
        freeAll();
    return ok;
}

bool processingTables_t::allocateVignetteProfile(int count)
{
    freeVignetteProfile();
    if (count <= 0)
        return false;
    if (!allocateZeroed(vignette, size_t(count)))
        return false;
    vignetteCount = count;
    return true;
}

void processingTables_t::freeVignetteProfile()
{
    vignette.reset();
    vignetteCount = 0;
}

void processingTables_t::freeAll()
{
    for (auto &table : curveLut)
        table.reset();
    for (auto &table : histograms)
        table.reset();
    for (auto &table : cumulative)
        table.reset();
    for (auto &table : channelLut)
        table.reset();
    maskTone.reset();
    maskWeight.reset();
    hueSelective.reset();
    brightnessSelective.reset();
    freeVignetteProfile();
}

void processingTables_t::attach(processingParams_t *params) const
{
    for (int i = 0; i < PP_CURVE_COUNT; ++i)
        params->curveLut[i] = curveLut[i].get();
    for (int i = 0; i < 4; ++i) {
        params->histograms[i] = histograms[i].get();
        params->cumulative[i] = cumulative[i].get();
    }
    for (int i = 0; i < 3; ++i)
        params->channelLut[i] = channelLut[i].get();
    params->maskToneTable = maskTone.get();
    params->maskWeightTable = maskWeight.get();
    params->hueSelectiveTable = hueSelective.get();
    params->brightnessSelectiveTable = brightnessSelective.get();
    params->vignetteProfile = vignette.get();
    params->vignetteProfileCount = vignetteCount;
}
